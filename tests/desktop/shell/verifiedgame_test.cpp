// A won game through the real main window, posted to the real score server: its record follows
// the post and the score arrives on the verified list. And File > Deal of the Day.
#include <httplib.h>

#include <QAction>
#include <QDate>
#include <QLineEdit>
#include <QLocale>
#include <QUrl>

#include <chrono>

#include "game/record.h"
#include "game/solver.h"
#include "online/httpget.h"
#include "online/recordpost.h"
#include "online/scorepost.h"
#include "tests/server/serverprocess.h"
#include "windowssupport.h"

namespace {

class VerifiedGame : public WithProgramWindows {
 protected:
  std::string page(int port, const char* which) {
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(std::chrono::seconds(10));
    const auto res = client.Get((std::string("/counter/") + which).c_str());
    return res ? res->body : std::string();
  }

  // Plays the deal's shortest line with clicks on the bones and slots, the clock ticking between.
  void playwon(int deal) {
    w->startdeal(deal);
    for (const game::Placement& p : game::solve(game::dealboard(deal)).placements) {
      w->turntimerTimer();
      clickat(part(w.get(), QStringLiteral("bone_%1").arg(p.bone)));
      clickat(part(w.get(), QStringLiteral("shape_%1").arg(p.slot)));
    }
  }
};

TEST_F(VerifiedGame, AWonGameArrivesOnTheVerifiedList) {
  ScratchDir scratch;
  std::filesystem::create_directories(scratch.path() / "root");
  servertest::ServerProcess server;
  const int port = server.start({"--port", "0", "--db", (scratch.path() / "s.db").string(),
                                 "--root", (scratch.path() / "root").string()});
  ASSERT_GT(port, 0) << server.firstline();
  makeall(QStringLiteral("[pipshift]\nScoreServer=http://127.0.0.1:%1/\n").arg(port).toLatin1());
  clickat(part(w.get(), "button_namecancel"));

  playwon(31);
  ASSERT_FALSE(w->game().gamerunning());
  ASSERT_EQ(w->game().record().ending, game::Ending::won);
  const int score = w->game().score();
  part<QLineEdit>(w.get(), "edit_name")->setText(QStringLiteral("Played"));
  clickat(part(w.get(), "button_sendscore"));

  std::string verified;
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        verified = page(port, "pipshiftverified.shtml");
        return verified.find("Played") != std::string::npos;
      },
      20000))
      << verified;
  EXPECT_NE(verified.find("<b>" + std::to_string(score) + "</b>"), std::string::npos);
  EXPECT_NE(page(port, "pipshift.shtml").find("#008000"), std::string::npos);
  // Sent once: the post's answer ended the wait and nothing is left to send.
  auto* sender = w->findChild<RecordPost*>();
  ASSERT_NE(sender, nullptr);
  EXPECT_FALSE(sender->holding());
  EXPECT_TRUE(QTest::qWaitFor([&] { return !sender->fetch()->busy(); }, 20000));
}

TEST_F(VerifiedGame, ARecordIsSentOnlyForAnAcceptedPost) {
  makeall("[pipshift]\nScoreServer=http://127.0.0.1:9/\n");
  clickat(part(w.get(), "button_namecancel"));
  playwon(31);
  auto* sender = w->findChild<RecordPost*>();
  ASSERT_NE(sender, nullptr);
  clickat(part(w.get(), "button_sendscore"));
  // Nothing listens there: the post is never accepted, and the record waits with it, unsent.
  EXPECT_TRUE(sender->holding());
  EXPECT_FALSE(sender->fetch()->busy());
  w->postaccepted();
  EXPECT_FALSE(sender->holding());
  EXPECT_EQ(sender->fetch()->URL(), QStringLiteral("http://127.0.0.1:9/cgi-bin/pipshiftgame.cgi"));
  EXPECT_EQ(sender->fetch()->PostQuery().toStdString(),
            "name=Guest&date=" +
                QUrl::toPercentEncoding(postdatetext(QDate::currentDate(), QLocale::system()), "/")
                    .toStdString() +
                "&score=" + std::to_string(w->game().score()) +
                "&record=" + game::encoderecord(w->game().record()));
}

class DealOfTheDay : public ShellTest {};

TEST_F(DealOfTheDay, DealsTheDaysNumberAsAGame) {
  auto w = makewindow();
  clickat(part(w.get(), "button_namecancel"));
  tally.calls.clear();
  QAction* item = part<QAction>(w.get(), "dealoftheday");
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->text(), QStringLiteral("&Deal of the Day"));
  item->trigger();
  EXPECT_EQ(w->game().dealnumber(), game::dailydeal(std::chrono::system_clock::now()));
  EXPECT_TRUE(w->game().gamerunning());
  EXPECT_EQ(tally.calls, QStringList{QStringLiteral("add 1")});
  EXPECT_EQ(w->game().record().deal, w->game().dealnumber());
}

}  // namespace
