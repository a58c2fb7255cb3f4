// The solver's worker: a search held back on purpose while the window goes on taking clicks, an
// answer the board has moved on from never arriving, and each kind of request dropping the one
// before.

#include <QLabel>
#include <QSignalSpy>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <thread>

#include "game/coach.h"
#include "game/deal.h"
#include "game/solver.h"
#include "shell/boardparts.h"
#include "shell/dealsolver.h"
#include "shellsupport.h"

namespace {

// A search that waits, polling its cancel flag, until the test lets it go.
struct Held {
  std::atomic<bool> release{false};
  std::atomic<int> started{0};
  std::atomic<bool> toldtostop{false};

  DealSolver::SolveFunction function() {
    return [this](const game::Board& board, const game::SolverOptions& options) {
      ++started;
      while (!release) {
        if (options.cancel && options.cancel->load()) toldtostop = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      return game::solve(board, options);
    };
  }
};

class SolverWorker : public ShellTest {
 protected:
  void SetUp() override {
    w = makewindow();
    clickat(part(w.get(), "button_namecancel"));
  }
  void TearDown() override {
    held.release = true;
    w.reset();
  }

  QString dealtext() { return part<QLabel>(w.get(), "deallabel")->text(); }

  void clickbone(int number) { clickat(part(w.get(), QStringLiteral("bone_%1").arg(number))); }
  void clickslot(int number) { clickat(part(w.get(), QStringLiteral("shape_%1").arg(number))); }

  Held held;
  std::unique_ptr<Tmain> w;
};

TEST_F(SolverWorker, TheWindowTakesClicksWhileASearchIsHeldAndTheNewBoardDropsIt) {
  w->dealsolver()->setsolvefunction(held.function());
  w->startdeal(1);
  // One placement past the clicks: the game is over and its deal's search starts.
  w->game().setclicksleft(0);
  clickbone(1);
  clickslot(1);
  ASSERT_FALSE(w->game().gamerunning());
  ASSERT_TRUE(QTest::qWaitFor([this] { return held.started == 1; }));
  // Beside it the game's analysis, which has no click to search with and ends at once.
  ASSERT_TRUE(QTest::qWaitFor([this] { return w->dealsolver()->running() == 1; }));

  // The event loop turns on: a zero timer fires at every pass, and the clicks are played.
  int passes = 0;
  QTimer beat;
  QObject::connect(&beat, &QTimer::timeout, [&passes] { ++passes; });
  beat.start(0);
  clickat(part(w.get(), "button_start"));
  ASSERT_TRUE(w->game().gamerunning());
  const game::Board dealt = w->game().board();
  // The first placement of any deal: a double home.
  clickbone(8);
  clickslot(game::homeslot(8));
  EXPECT_EQ(w->game().clicksleft(), 99);
  EXPECT_NE(w->game().board(), dealt);
  clickbone(1);
  EXPECT_EQ(w->game().selectedbone(), 1);
  for (int k = 0; k < 20; ++k) QCoreApplication::processEvents();
  EXPECT_GE(passes, 20);
  EXPECT_EQ(held.started, 1) << "the search is still held";
  EXPECT_TRUE(QTest::qWaitFor([this] { return held.toldtostop.load(); }))
      << "a new board tells the search to stop";

  held.release = true;
  EXPECT_TRUE(QTest::qWaitFor([this] { return w->dealsolver()->running() == 0; }));
  for (int k = 0; k < 5; ++k) QCoreApplication::processEvents();
  EXPECT_FALSE(dealtext().contains("Best")) << "an answer for the old board never arrives";
}

TEST_F(SolverWorker, APlacementDropsASearchForTheBoardBefore) {
  w->dealsolver()->setsolvefunction(held.function());
  QSignalSpy answers(w->dealsolver(), &DealSolver::boardsolved);
  w->startdeal(2);
  w->dealsolver()->solveboard(w->game().board(), w->game().clicksleft());
  ASSERT_TRUE(QTest::qWaitFor([this] { return held.started == 1; }));
  // A refused placement leaves the board as it was, and the search goes on.
  clickbone(8);
  clickslot(1);
  ASSERT_TRUE(part(w.get(), "panel_invalid")->isVisible());
  for (int k = 0; k < 5; ++k) QCoreApplication::processEvents();
  EXPECT_FALSE(held.toldtostop);
  clickat(part(w.get(), "image_ok"));
  clickslot(game::homeslot(8));
  ASSERT_EQ(w->game().clicksleft(), 99);
  EXPECT_TRUE(QTest::qWaitFor([this] { return held.toldtostop.load(); }));
  held.release = true;
  EXPECT_TRUE(QTest::qWaitFor([this] { return w->dealsolver()->running() == 0; }));
  for (int k = 0; k < 5; ++k) QCoreApplication::processEvents();
  EXPECT_EQ(answers.count(), 0);
}

TEST_F(SolverWorker, EachKindOfRequestDropsTheOneBeforeAndAbandonDropsThemAll) {
  DealSolver solver;
  solver.setsolvefunction([this](const game::Board& board, const game::SolverOptions& options) {
    // Only the request with 60 clicks is held.
    if (options.clicksleft == 60) return held.function()(board, options);
    return game::solve(board, options);
  });
  QSignalSpy boards(&solver, &DealSolver::boardsolved);
  QSignalSpy deals(&solver, &DealSolver::solved);
  const game::Board first = game::dealboard(1);
  solver.solveboard(first, 60);
  ASSERT_TRUE(QTest::qWaitFor([this] { return held.started == 1; }));
  // Another kind does not drop it; the same kind does.
  solver.solve(1);
  ASSERT_TRUE(QTest::qWaitFor([&deals] { return deals.count() == 1; }));
  EXPECT_FALSE(held.toldtostop);
  solver.solveboard(first, 28);
  ASSERT_TRUE(QTest::qWaitFor([&boards] { return boards.count() == 1; }));
  EXPECT_TRUE(held.toldtostop);
  held.release = true;
  ASSERT_TRUE(QTest::qWaitFor([&solver] { return solver.running() == 0; }));
  for (int k = 0; k < 5; ++k) QCoreApplication::processEvents();
  ASSERT_EQ(boards.count(), 1) << "the dropped request's answer never came";
  EXPECT_EQ(boards[0][1].toInt(), 28);
  EXPECT_FALSE(boards[0][2].value<game::Solution>().solved) << "deal 1 needs 29";

  // An analysis of an ended game, and one dropped by a board change.
  game::Game game;
  game.start(1);
  game.settimeleft(1);
  game.tick();
  QSignalSpy analyses(&solver, &DealSolver::analysed);
  solver.analyse(game);
  ASSERT_TRUE(QTest::qWaitFor([&analyses] { return analyses.count() == 1; }));
  const auto found = analyses[0][0].value<game::GameAnalysis>();
  EXPECT_TRUE(found.complete);
  EXPECT_EQ(found.fewest, std::vector<int>{29});
  EXPECT_EQ(found.lostafter, -1);

  solver.analyse(game);
  solver.abandon();
  ASSERT_TRUE(QTest::qWaitFor([&solver] { return solver.running() == 0; }));
  for (int k = 0; k < 5; ++k) QCoreApplication::processEvents();
  EXPECT_EQ(analyses.count(), 1) << "abandoned, it never arrives";
}

}  // namespace
