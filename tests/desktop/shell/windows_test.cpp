// The main window with the program's real other windows around it, as the program entry ties
// them together: the menus reach them, a won game reaches the tally, and a sent score ends the
// wait and opens the list, against a score server on the loopback interface.

#include <QAction>
#include <QLineEdit>
#include <QTimer>

#include "online/highscoreform.h"
#include "shell/programwindows.h"
#include "shellsupport.h"
#include "stats/tallylistform.h"
#include "tinyserver.h"
#include "windows/aboutform.h"
#include "windows/helpform.h"
#include "windowssupport.h"

class AllWindows : public WithProgramWindows {
 protected:
  void SetUp() override {
    server.bodies["/cgi-bin/pipshift.cgi"] = "stored";
    server.bodies["/counter/pipshift.shtml"] = "<html><body><p>The list</p></body></html>";
    makeall("[pipshift]\nUpdate=false\nScoreServer=" + server.base().toLatin1() + "\n");
  }

  // Starts a game and sorts the board in two placements.
  void wingame() {
    clickat(part(w.get(), "button_start"));
    w->game().setboard(twomovesfromsorted());
    w->showboard();
    clickat(part(w.get(), "bone_28"));
    clickat(part(w.get(), "shape_7"));
    clickat(part(w.get(), "bone_7"));
    clickat(part(w.get(), "shape_33"));
    ASSERT_TRUE(part(w.get(), "panel_cleared")->isVisible());
  }

  std::string counter(int column) const { return tallywindow->stringgrid_scores().cell(column, 0); }

  TinyServer server;
};

TEST_F(AllWindows, TheMenusOpenTheirWindowsWhichAreMadeOnlyThen) {
  // The version is known without the About window that shows it.
  EXPECT_EQ(windows->versiontext(), "1.0.0");
  EXPECT_FALSE(windows->aboutmade() || windows->helpmade() || windows->highscoremade());

  part<QAction>(w.get(), "TallyList1")->trigger();
  EXPECT_TRUE(tallywindow->isVisible());
  part<QAction>(w.get(), "Help2")->trigger();
  EXPECT_TRUE(windows->help().isVisible());
  EXPECT_FALSE(windows->about().isVisible()) << "made for Help's link, not shown";
  part<QAction>(w.get(), "About1")->trigger();
  EXPECT_TRUE(windows->about().isVisible());
  EXPECT_EQ(windows->about().versiontext(), windows->versiontext());
  // Made once: closed and asked for again, the same window comes back.
  Thelp* const help = &windows->help();
  help->close();
  part<QAction>(w.get(), "Help2")->trigger();
  EXPECT_EQ(&windows->help(), help);
  EXPECT_TRUE(help->isVisible());

  EXPECT_FALSE(windows->highscoremade());
  part<QAction>(w.get(), "ViewHighScoreList1")->trigger();
  EXPECT_TRUE(windows->highscore().isVisible());
  EXPECT_TRUE(QTest::qWaitFor([&] { return server.requested.size() == 1; }, 10000));
  EXPECT_EQ(server.requested, QByteArrayList({"/counter/pipshift.shtml"}));
}

// The server's post limit: nothing stored, said at once, and the score can be sent again.
TEST_F(AllWindows, ARefusedScoreFailsAtOnceAndCanBeSentAgain) {
  server.statuses["/cgi-bin/pipshift.cgi"] = "429 Too Many Requests";
  wingame();
  clickat(part(w.get(), "button_sendscore"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !w->posting(); }, 10000));
  EXPECT_EQ(messages, QStringList({"Posting Failed."}));
  EXPECT_FALSE(part(w.get(), "panel_wait")->isVisible());
  EXPECT_TRUE(part(w.get(), "panel_cleared")->isVisible());
  EXPECT_FALSE(windows->highscore().isVisible()) << "no list for a score not stored";

  server.statuses.clear();
  clickat(part(w.get(), "button_sendscore"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !w->posting(); }, 10000));
  EXPECT_FALSE(part(w.get(), "panel_cleared")->isVisible());
  EXPECT_TRUE(windows->highscore().isVisible());
  EXPECT_EQ(messages.size(), 1);
  EXPECT_EQ(server.requested.count("/cgi-bin/pipshift.cgi"), 2);
}

TEST_F(AllWindows, GamesReachTheTally) {
  wingame();
  EXPECT_EQ(counter(1), "1");
  EXPECT_EQ(counter(2), "1");
  // The cleared board's score enters the top ten, under the name in the name box.
  EXPECT_EQ(tallywindow->stringgrid_scores().cell(1, 1), std::to_string(w->game().score()));
  EXPECT_EQ(QString::fromStdString(tallywindow->stringgrid_scores().cell(2, 1)),
            part<QLineEdit>(w.get(), "edit_name")->text());
  clickat(part(w.get(), "button_start"));
  EXPECT_EQ(counter(1), "2");
  EXPECT_EQ(counter(2), "1");
}

TEST_F(AllWindows, ASentScoreEndsTheWaitAndOpensTheList) {
  wingame();
  part<QLineEdit>(w.get(), "edit_name")->setText("A&B c");
  clickat(part(w.get(), "button_sendscore"));
  EXPECT_TRUE(w->posting());
  EXPECT_TRUE(part(w.get(), "panel_wait")->isVisible());

  ASSERT_TRUE(QTest::qWaitFor([&] { return !w->posting(); }, 10000));
  EXPECT_FALSE(part(w.get(), "panel_cleared")->isVisible());
  EXPECT_TRUE(windows->highscore().isVisible());
  EXPECT_TRUE(messages.isEmpty());
  // After the post come the game's record and the list, in whichever order they arrive.
  ASSERT_TRUE(QTest::qWaitFor([&] { return server.requested.size() == 3; }, 10000));
  EXPECT_TRUE(server.requested.contains("/counter/pipshift.shtml"));
  EXPECT_TRUE(server.requested.contains("/cgi-bin/pipshiftgame.cgi"));
  const QByteArray post = server.requestlines[0];
  EXPECT_TRUE(post.startsWith("/cgi-bin/pipshift.cgi?name=A%26B%20c&date=")) << post.data();
  const int score = w->game().score();
  EXPECT_TRUE(post.endsWith("&score=" + QByteArray::number(score))) << post.data();
}
