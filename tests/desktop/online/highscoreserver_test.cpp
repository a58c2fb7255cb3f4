// The high-score window against the reference score server, as a player meets it: a post with an
// awkward name, then the list page the server makes, shown in the window.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>

#include "htmlview/htmlview.h"
#include "online/highscoreform.h"
#include "online/httpget.h"
#include "online/scorepost.h"
#include "tests/server/serverprocess.h"

TEST(HighScoreServerTest, PostedScoreShowsInTheWindowsList) {
  ScratchDir dir;
  std::filesystem::create_directories(dir.path() / "root");
  servertest::ServerProcess server;
  const int port = server.start({"--port", "0", "--db", (dir.path() / "s.db").string(), "--root",
                                 (dir.path() / "root").string()});
  ASSERT_GT(port, 0) << server.firstline();

  Thighscore window(QStringLiteral("http://127.0.0.1:%1/").arg(port));
  QSignalSpy accepted(&window, &Thighscore::postaccepted);
  auto* view = window.findChild<THTMLView*>("displayhtml");
  ASSERT_NE(view, nullptr);

  window.postscore("J &score=8", postdatetext(QDate(2026, 12, 7), QLocale("de_DE")), "316");
  ASSERT_TRUE(QTest::qWaitFor([&] { return view->toPlainText().contains("J &score=8"); }, 20000))
      << accepted.count() << view->toPlainText().toStdString();
  EXPECT_EQ(accepted.count(), 1);
  EXPECT_TRUE(window.isVisible());
  const QString shown = view->toPlainText();
  const qsizetype row = shown.indexOf("J &score=8");
  EXPECT_NE(shown.indexOf("12.7.26", row), -1);
  EXPECT_NE(shown.indexOf("316", row), -1);
  EXPECT_EQ(shown.indexOf("800"), -1) << "the name forged a score";
  auto* getit = window.findChild<THTTPGet*>("getit");
  EXPECT_TRUE(QTest::qWaitFor([&] { return !getit->busy(); }, 20000));
}
