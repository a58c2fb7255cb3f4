// The coach in the window: Best Move followed to the end wins in the solver's count, the line
// after a game names the placement after which the solver finds no win, Show Winnable shows the
// solver's count for the board as it stands, and none of it holds up the game or shows an answer
// for a board the game has left.

#include <QAccessible>
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTextLayout>
#include <QTimer>

#include <condition_variable>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "game/coach.h"
#include "game/deal.h"
#include "game/solver.h"
#include "shell/boardparts.h"
#include "shell/boardscale.h"
#include "shell/dealsolver.h"
#include "shellsupport.h"

namespace {

// Long enough for any search of these boards on a loaded machine; they take milliseconds.
constexpr int kAnswerWait = 60000;

// A search held until the test opens the gate, for one board only; every other board, and the
// held one once let go, is solved as the solver would. The held search answers even when told to
// stop, as a search that missed its flag would: what the window does with that answer is tested.
struct Gate {
  std::mutex mutex;
  std::condition_variable changed;
  bool open = false;
  int held = 0;
  game::Board holdfor{};

  DealSolver::SolveFunction function() {
    return [this](const game::Board& board, const game::SolverOptions& options) {
      if (board == holdfor) {
        std::unique_lock<std::mutex> lock(mutex);
        ++held;
        changed.notify_all();
        changed.wait(lock, [this] { return open; });
      }
      game::SolverOptions unstoppable = options;
      unstoppable.cancel = nullptr;
      return game::solve(board, unstoppable);
    };
  }
  void release() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      open = true;
    }
    changed.notify_all();
  }
  int heldcount() {
    std::lock_guard<std::mutex> lock(mutex);
    return held;
  }
};

class Coach : public ShellTest {
 protected:
  void SetUp() override {
    w = makewindow();
    clickat(part(w.get(), "button_namecancel"));
    // The game clock is no part of these tests: a slow machine must not lose a game on time.
    part<QTimer>(w.get(), "turntimer")->stop();
  }
  void TearDown() override {
    gate.release();
    w.reset();
  }

  QAction* action(const char* name) { return part<QAction>(w.get(), QString::fromLatin1(name)); }
  QLabel* coachline() { return part<QLabel>(w.get(), "label_coach"); }
  // As it reads: the spaces the line keeps from breaking are spaces still.
  QString said() {
    return coachline()->isVisible() ? coachline()->text().replace(QChar(0x00a0), ' ') : QString();
  }
  QString dealtext() { return part<QLabel>(w.get(), "deallabel")->text(); }
  TShape* slotwidget(int slot) {
    return part<TShape>(w.get(), QStringLiteral("shape_%1").arg(slot));
  }
  std::vector<int> hinted() {
    std::vector<int> marked;
    for (int slot = 1; slot <= game::kSlotCount; ++slot) {
      if (slotwidget(slot)->hinted()) marked.push_back(slot);
    }
    return marked;
  }
  void place(const game::Placement& placement) {
    if (w->game().selectedbone() != placement.bone)
      clickat(part(w.get(), QStringLiteral("bone_%1").arg(placement.bone)));
    clickat(slotwidget(placement.slot));
  }
  void press(Qt::Key key) {
    QTest::keyClick(w->windowHandle(), key);
    QCoreApplication::processEvents();
  }
  void settle() {
    ASSERT_TRUE(QTest::qWaitFor([this] { return w->dealsolver()->running() == 0; }, kAnswerWait));
    for (int k = 0; k < 5; ++k) QCoreApplication::processEvents();
  }
  static int fewest(const game::Board& board, int clicks) {
    game::SolverOptions options;
    options.clicksleft = clicks;
    const game::Solution solution = game::solve(board, options);
    return solution.solved ? static_cast<int>(solution.placements.size()) : -1;
  }
  static QString text(const game::Placement& placement) {
    return QString::fromStdString(game::placementtext(placement));
  }

  Gate gate;
  std::unique_ptr<Tmain> w;
};

// ---- Best Move --------------------------------------------------------------------------

TEST_F(Coach, BestMoveFollowedToTheEndWinsInTheSolversNumberOfPlacements) {
  constexpr int deal = 2;
  const int best = fewest(game::dealboard(deal), game::kClicksPerGame);
  ASSERT_GT(best, 0);
  w->startdeal(deal);
  EXPECT_TRUE(action("bestmove")->isEnabled());
  int played = 0;
  while (w->game().gamerunning() && played <= best) {
    action("bestmove")->trigger();
    ASSERT_TRUE(QTest::qWaitFor([this] { return said().startsWith("Best move: "); }, kAnswerWait))
        << "after " << played << " placements";
    // The bone is picked up, drawn as the selected one, and its one target marked as a hint is.
    const int bone = w->game().selectedbone();
    ASSERT_NE(bone, 0);
    EXPECT_TRUE(part(w.get(), "shape_highlite")->isVisible());
    const std::vector<int> marked = hinted();
    ASSERT_EQ(marked.size(), 1u);
    const game::Placement move{marked[0], bone};
    EXPECT_EQ(said(), "Best move: " + text(move) + ".");
    EXPECT_EQ(QAccessible::queryAccessibleInterface(coachline())->text(QAccessible::Name),
              coachline()->text());
    const int clicks = w->game().clicksleft();
    place(move);
    ++played;
    if (w->game().gamerunning()) {
      ASSERT_EQ(w->game().clicksleft(), clicks - 1) << "the hint cost no click of its own";
      EXPECT_EQ(fewest(w->game().board(), w->game().clicksleft()), best - played)
          << "each hint keeps to a shortest line";
    }
  }
  EXPECT_EQ(w->game().ending(), game::Ending::won);
  EXPECT_EQ(played, best);
  EXPECT_FALSE(action("bestmove")->isEnabled()) << "only while a game runs";
  ASSERT_TRUE(QTest::qWaitFor([this] { return !said().isEmpty(); }, kAnswerWait));
  EXPECT_EQ(said(), QStringLiteral("Sorted in the fewest placements, %1.").arg(best));
}

// The line wraps in its narrow place beside the board; wherever it breaks, at every size the
// board is drawn, "row" and "column" stay on the line of their numbers.
TEST_F(Coach, TheLineNeverBreaksARowOrColumnFromItsNumber) {
  w->startdeal(1);
  action("bestmove")->trigger();
  ASSERT_TRUE(QTest::qWaitFor([this] { return said().startsWith("Best move: "); }, kAnswerWait));
  const QRegularExpression torn(QStringLiteral("\\b(row|column)$"));
  for (qreal scale : {1.0, 1.25, 1.5, 2.0, 3.0}) {
    SCOPED_TRACE(scale);
    w->boardscale()->setscale(scale);
    QLabel* line = coachline();
    QTextLayout layout(line->text(), line->font());
    QTextOption option;
    option.setWrapMode(QTextOption::WordWrap);
    layout.setTextOption(option);
    QStringList lines;
    layout.beginLayout();
    for (QTextLine each = layout.createLine(); each.isValid(); each = layout.createLine()) {
      each.setLineWidth(line->contentsRect().width());
      lines << line->text().mid(each.textStart(), each.textLength()).trimmed();
    }
    layout.endLayout();
    ASSERT_GT(lines.size(), 1) << "the line is meant to wrap here";
    for (const QString& shown : lines) {
      EXPECT_FALSE(shown.contains(torn))
          << shown.toStdString() << " | " << lines.join(" | ").toStdString();
    }
  }
}

TEST_F(Coach, BestMoveOnABoardWithNoWinSaysSoAndMarksNothing) {
  w->startdeal(1);
  // Two placements from sorted, and one click to make them with.
  w->game().setboard(twomovesfromsorted());
  w->game().setclicksleft(1);
  w->showboard();
  action("bestmove")->trigger();
  ASSERT_TRUE(QTest::qWaitFor([this] { return !said().isEmpty(); }, kAnswerWait));
  EXPECT_EQ(said(), "No win is left from here.");
  EXPECT_EQ(QAccessible::queryAccessibleInterface(coachline())->role(), QAccessible::Notification);
  EXPECT_EQ(w->game().selectedbone(), 0);
  EXPECT_TRUE(hinted().empty());
  EXPECT_EQ(w->game().clicksleft(), 1);
  EXPECT_TRUE(w->game().gamerunning());

  // With the two clicks it needs, the same board has its first placement shown.
  w->game().setclicksleft(2);
  w->showboard();
  EXPECT_TRUE(said().isEmpty()) << "what was said of the board before goes with it";
  action("bestmove")->trigger();
  ASSERT_TRUE(QTest::qWaitFor([this] { return said().startsWith("Best move"); }, kAnswerWait));
  EXPECT_EQ(said(), "Best move: " + text({game::homeslot(28), 28}) + ".");
}

TEST_F(Coach, HAsksForTheBestMoveFromTheBoardAndTypesAnHInTheNameBox) {
  w->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
  w->startdeal(3);
  w->ChangeName1Click();
  auto* name = part<QLineEdit>(w.get(), "edit_aname");
  ASSERT_TRUE(name->hasFocus());
  press(Qt::Key_H);
  EXPECT_EQ(name->text(), "h");
  EXPECT_EQ(w->dealsolver()->running(), 0) << "no search was asked for";
  clickat(part(w.get(), "button_namecancel"));
  press(Qt::Key_H);
  ASSERT_TRUE(QTest::qWaitFor([this] { return said().startsWith("Best move"); }, kAnswerWait));
  EXPECT_NE(w->game().selectedbone(), 0);
}

// ---- Where the game was lost ----------------------------------------------------------

TEST_F(Coach, TheLineAfterALostGameNamesThePlacementAfterWhichNoWinWasLeft) {
  constexpr int deal = 4;
  w->startdeal(deal);
  // A player who places at random among the placements the game accepts, shunning those that
  // end the game at once while there are others, until the game ends.
  std::mt19937 random(7);
  std::vector<game::Board> boards{w->game().board()};
  std::vector<game::Placement> played;
  while (w->game().gamerunning()) {
    std::vector<game::Placement> safe;
    std::vector<game::Placement> any;
    for (const game::SearchStep& step : game::searchsteps(w->game().board())) {
      any.push_back(step.placement);
      if (!step.loses && !step.sorts) safe.push_back(step.placement);
    }
    ASSERT_FALSE(any.empty());
    const std::vector<game::Placement>& from = safe.empty() ? any : safe;
    const game::Placement move = from[random() % from.size()];
    place(move);
    played.push_back(move);
    boards.push_back(w->game().board());
    if (w->game().gamerunning()) {
      ASSERT_TRUE(said().isEmpty()) << "nothing is said while the game runs";
    }
  }
  ASSERT_EQ(w->game().ending(), game::Ending::lost);
  ASSERT_NE(w->game().loss().cause, game::Loss::time);
  // The first board the solver finds no win from, with the clicks then left; the board the game
  // ended on has none, whatever a search from it would find (a double could still go home).
  int lostafter = static_cast<int>(played.size());
  for (int k = 0; k < lostafter; ++k) {
    if (fewest(boards[k], game::kClicksPerGame - k) < 0) lostafter = k;
  }
  ASSERT_GT(lostafter, 0) << "a deal the solver wins from its first board";
  ASSERT_TRUE(QTest::qWaitFor([this] { return !said().isEmpty(); }, kAnswerWait));
  EXPECT_EQ(said(), QStringLiteral("No win was left after your %1 move (%2).")
                        .arg(QString::fromStdString(game::ordinal(lostafter)))
                        .arg(text(played[lostafter - 1])));
  EXPECT_EQ(QAccessible::queryAccessibleInterface(coachline())->text(QAccessible::Name),
            coachline()->text());
  // Drawn where the lost panel leaves it in sight.
  const QRect line = coachline()->geometry();
  EXPECT_FALSE(line.intersects(part(w.get(), "panel_lost")->geometry()));

  // A new game takes it away.
  clickat(part(w.get(), "button_start2"));
  EXPECT_TRUE(said().isEmpty());
}

TEST_F(Coach, ANewGameDropsTheAnalysisOfTheGameBefore) {
  QSignalSpy analyses(w->dealsolver(), &DealSolver::analysed);
  w->startdeal(1);
  w->game().setclicksleft(0);
  // Through the window's own handlers, with no turn of the event loop between the end of the game
  // and the next: what the analysis has found by then is waiting to be delivered.
  w->bone_1MouseUp(part<TBone>(w.get(), "bone_1"));
  w->shape_1MouseUp(slotwidget(game::homeslot(1)));
  ASSERT_FALSE(w->game().gamerunning());
  // The searches end on their threads; their answers wait in the queue for the event loop.
  while (w->dealsolver()->running() > 0) std::this_thread::yield();
  w->startdeal(1);
  settle();
  EXPECT_EQ(analyses.count(), 0);
  EXPECT_TRUE(said().isEmpty());
}

// ---- Show Winnable ----------------------------------------------------------------------

TEST_F(Coach, ShowWinnableShowsTheSolversCountAfterEachPlacementUntilTurnedOff) {
  EXPECT_FALSE(action("showwinnable")->isChecked()) << "off unless asked for";
  constexpr int deal = 6;
  w->startdeal(deal);
  settle();
  EXPECT_EQ(dealtext(), QStringLiteral("Deal %1").arg(deal)) << "nothing while it is off";

  action("showwinnable")->trigger();
  const int first = fewest(game::dealboard(deal), game::kClicksPerGame);
  ASSERT_GT(first, 0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return dealtext().contains("Best from here"); }, kAnswerWait));
  EXPECT_EQ(dealtext(), QStringLiteral("Deal %1  \u00b7  Best from here: %2").arg(deal).arg(first));

  // A placement off every shortest line, where there is one, shows the count go up.
  game::Placement chosen = game::searchsteps(w->game().board()).front().placement;
  for (const game::SearchStep& step : game::searchsteps(w->game().board())) {
    if (step.loses || step.sorts) continue;
    game::Board after = w->game().board();
    game::clearbone(after, step.placement.bone);
    const game::Point at = game::getcoords(step.placement.slot);
    after[at.x][at.y] = step.placement.bone;
    chosen = step.placement;
    if (fewest(after, game::kClicksPerGame - 1) >= first) break;
  }
  place(chosen);
  ASSERT_TRUE(w->game().gamerunning());
  const int now = fewest(w->game().board(), w->game().clicksleft());
  ASSERT_TRUE(QTest::qWaitFor([&] { return dealtext().contains("from here"); }, kAnswerWait));
  EXPECT_EQ(dealtext(), QStringLiteral("Deal %1  \u00b7  Best from here: %2").arg(deal).arg(now));

  action("showwinnable")->trigger();
  EXPECT_EQ(dealtext(), QStringLiteral("Deal %1").arg(deal));
}

TEST_F(Coach, ShowWinnableSaysSoWhenNoWinIsLeft) {
  action("showwinnable")->trigger();
  w->startdeal(1);
  w->game().setboard(twomovesfromsorted());
  w->game().setclicksleft(1);
  w->showboard();
  ASSERT_TRUE(QTest::qWaitFor([&] { return dealtext().contains("No win left"); }, kAnswerWait));
  EXPECT_EQ(dealtext(), QStringLiteral("Deal 1  \u00b7  No win left"));
}

// ---- Never in the way -------------------------------------------------------------------

TEST_F(Coach, AHeldSearchNeitherStopsTheGameNorShowsItsAnswerOnceTheBoardHasMoved) {
  constexpr int deal = 5;
  w->dealsolver()->setsolvefunction(gate.function());
  gate.holdfor = game::dealboard(deal);
  action("showwinnable")->trigger();
  w->startdeal(deal);
  ASSERT_TRUE(QTest::qWaitFor([this] { return gate.heldcount() == 1; }, kAnswerWait));
  action("bestmove")->trigger();
  EXPECT_EQ(gate.heldcount(), 1) << "the board being solved already is not asked again";

  // The game goes on meanwhile: a bone picked up and put down, a refusal, two placements.
  clickat(part(w.get(), "bone_9"));
  EXPECT_EQ(w->game().selectedbone(), 9);
  clickat(part(w.get(), "bone_9"));
  EXPECT_EQ(w->game().selectedbone(), 0);
  place({game::homeslot(8), 8});
  EXPECT_EQ(w->game().clicksleft(), game::kClicksPerGame - 1);
  EXPECT_TRUE(said().isEmpty()) << "the hint asked for the board before is dropped";
  const game::Placement second = game::searchsteps(w->game().board()).front().placement;
  place(second);
  ASSERT_TRUE(w->game().gamerunning());
  EXPECT_EQ(w->game().clicksleft(), game::kClicksPerGame - 2);
  const int now = fewest(w->game().board(), w->game().clicksleft());
  const QString shown =
      now >= 0 ? QStringLiteral("Best from here: %1").arg(now) : QStringLiteral("No win left");
  ASSERT_TRUE(QTest::qWaitFor([&] { return dealtext().endsWith(shown); }, kAnswerWait))
      << "the board as it stands is answered while the old one is still held";

  gate.release();
  settle();
  EXPECT_TRUE(dealtext().endsWith(shown)) << dealtext().toStdString();
  EXPECT_TRUE(said().isEmpty());
  EXPECT_TRUE(hinted().empty());
  EXPECT_EQ(w->game().selectedbone(), 0);
}

// ---- The settings file ----------------------------------------------------------------

TEST_F(Coach, WinnableIsWrittenOnlyOnceItHasBeenOn) {
  w->close();
  EXPECT_FALSE(readini().contains("Winnable")) << "with the mark off the keys stay as they were";

  auto again = makewindow();
  EXPECT_FALSE(part<QAction>(again.get(), "showwinnable")->isChecked());
  part<QAction>(again.get(), "showwinnable")->trigger();
  again->close();
  EXPECT_TRUE(readini().contains("\nWinnable=yes"));

  auto third = makewindow();
  EXPECT_TRUE(part<QAction>(third.get(), "showwinnable")->isChecked());
  part<QAction>(third.get(), "showwinnable")->trigger();
  third->close();
  EXPECT_TRUE(readini().contains("\nWinnable=no")) << "a key the file has is kept up to date";

  auto fourth = makewindow();
  EXPECT_FALSE(part<QAction>(fourth.get(), "showwinnable")->isChecked());
}

}  // namespace
