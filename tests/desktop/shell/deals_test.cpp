// Numbered deals in the window: Choose Deal and Restart Deal deal the pinned boards, the dialog's
// refusals, the deal's best once a game is over, Show Solution, and the worker that finds it.

#include <QAction>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QWindow>

#include <array>

#include "game/deal.h"
#include "game/solver.h"
#include "shell/boardcursor.h"
#include "shell/boardparts.h"
#include "shell/dealdialog.h"
#include "shell/dealsolver.h"
#include "shell/solutionreplay.h"
#include "shellsupport.h"

namespace {

// The same boards the game's own tests pin, bones of slots 1 to 35.
const Slots kDealOne = {0, 0, 0,  0,  0,  0,  0,  10, 8,  23, 6,  17, 22, 18, 9,  19, 2, 3,
                        1, 7, 25, 12, 28, 15, 21, 26, 20, 11, 14, 5,  16, 24, 27, 4,  13};
const Slots kDealTwo = {0, 0, 0,  0, 0,  0, 0,  19, 15, 8,  9,  18, 24, 20, 22, 16, 27, 28,
                        6, 7, 25, 3, 10, 2, 14, 5,  23, 13, 26, 11, 21, 17, 12, 4,  1};

// Deal 777 takes seconds to settle, so its search is still running when a test acts.
constexpr int kSlowDeal = 777;

class Deals : public ShellTest {
 protected:
  void SetUp() override {
    w = makewindow();
    clickat(part(w.get(), "button_namecancel"));
    sounds.cues.clear();
  }

  // Keys reach the menu shortcuts of the active window only; a closed dialog can leave the
  // offscreen platform thinking it is still the one.
  void presskey(Qt::Key key) {
    w->windowHandle()->requestActivate();
    ASSERT_TRUE(
        QTest::qWaitFor([this] { return QGuiApplication::focusWindow() == w->windowHandle(); }));
    QTest::keyClick(w.get(), key, Qt::ControlModifier);
  }

  QAction* action(const char* name) { return part<QAction>(w.get(), QString::fromLatin1(name)); }
  QString dealtext() { return part<QLabel>(w.get(), "deallabel")->text(); }
  DealDialog* dialog() { return w->findChild<DealDialog*>(QStringLiteral("dealdialog")); }

  // Types into Choose Deal's box and presses OK.
  void choose(const QString& typed) {
    action("choosedeal")->trigger();
    ASSERT_NE(dialog(), nullptr);
    ASSERT_TRUE(dialog()->isVisible());
    auto* edit = part<QLineEdit>(dialog(), "dealnumber");
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, typed);
    QTest::mouseClick(part<QPushButton>(dialog(), "dealok"), Qt::LeftButton);
  }

  Slots shown() { return shownslots(w.get()); }

  // Ends the game lost with one more placement than the clicks allow: 6/6 home.
  void loseat() {
    w->game().setclicksleft(0);
    clickat(part(w.get(), "bone_1"));
    clickat(part(w.get(), "shape_1"));
    ASSERT_FALSE(w->game().gamerunning());
    ASSERT_TRUE(part(w.get(), "panel_lost")->isVisible());
  }

  std::unique_ptr<Tmain> w;
};

TEST_F(Deals, ChooseDealDealsThePinnedBoardAndCountsAGame) {
  choose(QStringLiteral("1"));
  EXPECT_FALSE(dialog()->isVisible());
  EXPECT_TRUE(w->game().gamerunning());
  EXPECT_EQ(w->game().dealnumber(), 1);
  EXPECT_EQ(slotsof(w->game().board()), kDealOne);
  EXPECT_EQ(shown(), kDealOne);
  EXPECT_EQ(tally.calls, QStringList({"add 1"}));
  EXPECT_EQ(w->game().clicksleft(), 100);
  EXPECT_EQ(part<QLabel>(w.get(), "label_score")->text(), "Clicks: 100");
  EXPECT_EQ(dealtext(), "Deal 1");
  EXPECT_TRUE(sounds.cues.contains("startgame"));
}

TEST_F(Deals, RestartDealDealsTheSameBoardAgain) {
  choose(QStringLiteral("2"));
  ASSERT_EQ(shown(), kDealTwo);
  // 5/5 home: the board is no longer the deal's.
  clickat(part(w.get(), "bone_8"));
  clickat(part(w.get(), "shape_2"));
  ASSERT_EQ(w->game().clicksleft(), 99);
  ASSERT_NE(shown(), kDealTwo);

  presskey(Qt::Key_R);
  EXPECT_EQ(w->game().dealnumber(), 2);
  EXPECT_EQ(shown(), kDealTwo);
  EXPECT_EQ(w->game().clicksleft(), 100);
  EXPECT_EQ(tally.calls, QStringList({"add 1", "add 1"}));
  EXPECT_EQ(dealtext(), "Deal 2");

  // And after a lost game.
  loseat();
  action("restartdeal")->trigger();
  EXPECT_TRUE(w->game().gamerunning());
  EXPECT_FALSE(part(w.get(), "panel_lost")->isVisible());
  EXPECT_EQ(shown(), kDealTwo);
}

TEST_F(Deals, CtrlDOpensTheDialogWithTheDealBeingPlayed) {
  choose(QStringLiteral("1000"));
  presskey(Qt::Key_D);
  ASSERT_NE(dialog(), nullptr);
  EXPECT_TRUE(dialog()->isVisible());
  EXPECT_EQ(part<QLineEdit>(dialog(), "dealnumber")->text(), "1000");
  QTest::mouseClick(part<QPushButton>(dialog(), "dealcancel"), Qt::LeftButton);
  EXPECT_FALSE(dialog()->isVisible());
  EXPECT_EQ(tally.calls, QStringList({"add 1"}));
}

TEST_F(Deals, TheDialogRefusesAnythingButADealNumber) {
  for (const QString& typed :
       {QString(), QStringLiteral("0"), QStringLiteral("-5"), QStringLiteral("2147483648"),
        QStringLiteral("12.5"), QStringLiteral("1e3"), QStringLiteral("seven"),
        QStringLiteral("<b>9</b>")}) {
    choose(typed);
    EXPECT_TRUE(dialog()->isVisible()) << typed.toStdString();
    auto* error = part<QLabel>(dialog(), "dealerror");
    EXPECT_TRUE(error->isVisible()) << typed.toStdString();
    EXPECT_TRUE(error->text().contains("whole number from 1 to 2147483647"))
        << error->text().toStdString();
    if (!typed.isEmpty()) {
      EXPECT_TRUE(error->text().contains(typed)) << typed.toStdString();
    }
    EXPECT_EQ(error->textFormat(), Qt::PlainText);
    EXPECT_FALSE(w->game().gamerunning());
    EXPECT_TRUE(tally.calls.isEmpty());
  }
  // Still open, it takes a good number.
  auto* edit = part<QLineEdit>(dialog(), "dealnumber");
  edit->clear();
  QTest::keyClicks(edit, "2147483647");
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_FALSE(dialog()->isVisible());
  EXPECT_EQ(w->game().dealnumber(), 2147483647);
  EXPECT_EQ(slotsof(w->game().board()), slotsof(game::dealboard(2147483647)));
}

TEST_F(Deals, StartGameDealsARandomNumberAndShowsIt) {
  clickat(part(w.get(), "button_start"));
  const int first = w->game().dealnumber();
  EXPECT_GE(first, 1);
  EXPECT_EQ(dealtext(), QStringLiteral("Deal %1").arg(first));
  EXPECT_EQ(slotsof(w->game().board()), slotsof(game::dealboard(first)));
  clickat(part(w.get(), "button_start"));
  EXPECT_NE(w->game().dealnumber(), first);
}

TEST_F(Deals, WindowsStartedOneAfterTheOtherDrawDifferentDeals) {
  // As the program makes it, seeded by the clock.
  auto unseeded = [this] {
    TmainSetup setup;
    setup.settingspath = inipath();
    setup.defaultserver = defaultserver;
    setup.message = [](const QString&) {};
    setup.endprogram = [] {};
    auto window = std::make_unique<Tmain>(setup);
    window->button_startClick();
    return window;
  };
  const auto one = unseeded();
  const auto two = unseeded();
  EXPECT_NE(one->game().dealnumber(), two->game().dealnumber());
}

TEST_F(Deals, AfterAGameTheBestIsShownAndShowSolutionPlaysItBack) {
  choose(QStringLiteral("1"));
  EXPECT_FALSE(action("showsolution")->isEnabled());
  loseat();
  ASSERT_TRUE(QTest::qWaitFor([this] { return dealtext().contains("Best"); }, 20000));
  EXPECT_EQ(dealtext(), QStringLiteral("Deal 1  \u00b7  Best for this deal: 29 clicks"));
  ASSERT_TRUE(action("showsolution")->isEnabled());

  const QStringList talliedbefore = tally.calls;
  const QString scorebefore = part<QLabel>(w.get(), "label_score")->text();
  const game::Board boardbefore = w->game().board();
  action("showsolution")->trigger();
  auto* timer = part<QTimer>(w.get(), "solutiontimer");
  EXPECT_TRUE(timer->isActive());
  EXPECT_EQ(timer->interval(), 500);
  EXPECT_FALSE(part(w.get(), "panel_lost")->isVisible());
  EXPECT_EQ(shown(), kDealOne);

  int placements = 0;
  while (timer->isActive() && placements < 100) {
    w->solutionreplay()->step();
    ++placements;
  }
  EXPECT_EQ(placements, 29);
  EXPECT_FALSE(timer->isActive());
  EXPECT_EQ(shown(), slotsof(game::solvedboard()));
  EXPECT_TRUE(part(w.get(), "panel_lost")->isVisible())
      << "the panel the replay covered comes back once it has played";

  // Nothing of the game moved: its board, its clicks, the tally.
  EXPECT_EQ(tally.calls, talliedbefore);
  EXPECT_EQ(part<QLabel>(w.get(), "label_score")->text(), scorebefore);
  EXPECT_EQ(w->game().board(), boardbefore);
  EXPECT_FALSE(w->game().gamerunning());
}

TEST_F(Deals, AfterAWinShowSolutionGivesTheScoreBackToBeEntered) {
  choose(QStringLiteral("1"));
  for (const game::Placement& p : game::solve(game::dealboard(1)).placements) {
    clickat(part(w.get(), QStringLiteral("bone_%1").arg(p.bone)));
    clickat(part(w.get(), QStringLiteral("shape_%1").arg(p.slot)));
  }
  ASSERT_TRUE(part(w.get(), "panel_cleared")->isVisible());
  ASSERT_TRUE(QTest::qWaitFor([this] { return action("showsolution")->isEnabled(); }, 20000));

  part<BoardCursor>(w.get(), "boardcursor")->setshown(true);  // as a key would have left it
  action("showsolution")->trigger();
  EXPECT_FALSE(part(w.get(), "panel_cleared")->isVisible()) << "the replay has the board";
  EXPECT_FALSE(part(w.get(), "boardcursor")->isVisible()) << "and no frame of the game's over it";
  auto* timer = part<QTimer>(w.get(), "solutiontimer");
  for (int k = 0; k < 100 && timer->isActive(); ++k) w->solutionreplay()->step();
  EXPECT_TRUE(part(w.get(), "panel_cleared")->isVisible());
  EXPECT_FALSE(part(w.get(), "panel_lost")->isVisible());
  EXPECT_EQ(w->focusWidget(), part(w.get(), "edit_name")) << "the name box takes the keys again";
  clickat(part(w.get(), "button_sendscore"));
  EXPECT_TRUE(companions.calls.contains(QStringLiteral("post")))
      << companions.calls.join(", ").toStdString();
}

TEST_F(Deals, StartGameStopsThePlaybackAndHidesTheBest) {
  choose(QStringLiteral("1"));
  loseat();
  ASSERT_TRUE(QTest::qWaitFor([this] { return action("showsolution")->isEnabled(); }, 20000));
  action("showsolution")->trigger();
  w->solutionreplay()->step();
  clickat(part(w.get(), "button_start"));
  EXPECT_FALSE(part<QTimer>(w.get(), "solutiontimer")->isActive());
  EXPECT_FALSE(action("showsolution")->isEnabled());
  EXPECT_EQ(shown(), slotsof(w->game().board()));
  EXPECT_FALSE(dealtext().contains("Best"));

  // The same deal again is already known: its best shows as soon as the game is over.
  choose(QStringLiteral("1"));
  EXPECT_EQ(dealtext(), "Deal 1");
  QSignalSpy searched(w->dealsolver(), &DealSolver::solved);
  loseat();
  EXPECT_TRUE(dealtext().contains("Best for this deal: 29 clicks"));
  // Only the analysis of the game just lost runs; the deal is not searched again.
  EXPECT_TRUE(QTest::qWaitFor([this] { return w->dealsolver()->running() == 0; }, 20000));
  QCoreApplication::processEvents();
  EXPECT_EQ(searched.count(), 0);
}

TEST_F(Deals, ANewGameAbandonsARunningSolve) {
  choose(QString::number(kSlowDeal));
  loseat();
  // The deal's best, and beside it the analysis of the game just lost.
  EXPECT_GE(w->dealsolver()->running(), 1);
  clickat(part(w.get(), "button_start"));
  // Told to stop, the worker ends within its next look at the flag.
  EXPECT_TRUE(QTest::qWaitFor([this] { return w->dealsolver()->running() == 0; }, 1000));
  QCoreApplication::processEvents();
  EXPECT_FALSE(dealtext().contains("Best"));
  EXPECT_TRUE(w->game().gamerunning());
}

TEST_F(Deals, TheWindowMayCloseWhileASolveRuns) {
  choose(QString::number(kSlowDeal));
  loseat();
  ASSERT_GE(w->dealsolver()->running(), 1);
  w->close();
  w.reset();
  SUCCEED();
}

}  // namespace
