// The board view alone, with no main window, menus, timers or update check around it: it draws
// the boards it is handed and reports what the player does to them. Clicks and keys go in
// through the window system's window, as a player's do, and land on whatever lies on top.

#include <gtest/gtest.h>
#include <QAccessible>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <memory>

#include "game/board.h"
#include "game/deal.h"
#include "game/game.h"
#include "shell/boardaccess.h"
#include "shell/boardcursor.h"
#include "shell/boardparts.h"
#include "shell/boardscale.h"
#include "shell/boardview.h"
#include "shell/dealsolver.h"
#include "shell/solutionreplay.h"

namespace {

// The sorted board with 0/0 one slot right of home and 6/0 at the end of the top row.
game::Board twooff() {
  game::Board board = game::solvedboard();
  board[0][6] = 0;
  board[1][6] = 28;
  board[6][0] = 0;
  board[7][0] = 7;
  return board;
}

class BoardViewTest : public testing::Test {
 protected:
  void SetUp() override {
    view = std::make_unique<BoardView>();
    view->resize(BoardView::designwidth, BoardView::designheight);
    view->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
  }

  TBone* bone(int number) { return view->bonewidget(number); }
  TShape* slot(int number) { return view->slotwidget(number); }
  QWidget* part(const char* name) { return view->findChild<QWidget*>(QString::fromLatin1(name)); }

  // A left click in the middle of a part, or at a point of it, delivered to whatever is on top.
  void clickat(QWidget* target, QPoint at = {}) {
    if (at.isNull()) at = target->rect().center();
    QTest::mouseClick(view->windowHandle(), Qt::LeftButton, Qt::NoModifier,
                      target->mapTo(view.get(), at));
    QCoreApplication::processEvents();
  }

  void press(Qt::Key key) {
    QTest::keyClick(view->windowHandle(), key);
    QCoreApplication::processEvents();
  }

  // The slot each dealt bone's picture covers, 0 for a cleared one.
  int shownat(int number) {
    if (bone(number)->tag() == 0) return 0;
    for (int s = 1; s <= game::kSlotCount; ++s) {
      if (slot(s)->geometry() == bone(number)->geometry()) return s;
    }
    return -1;
  }

  std::unique_ptr<BoardView> view;
};

TEST_F(BoardViewTest, DrawsTheBoardItIsHanded) {
  const game::Board deal = game::dealboard(1000);
  view->showboard(deal, 0);
  for (int number = 1; number <= game::kBoneCount; ++number) {
    EXPECT_EQ(shownat(number), game::slotof(deal, number)) << "bone " << number;
    EXPECT_FALSE(bone(number)->picture().isNull());
  }
  EXPECT_EQ(view->shownboard(), deal);

  // A board without some bones: theirs are cleared, and a click there reaches the slot.
  game::Board sparse{};
  sparse[1][0] = 5;
  view->showboard(sparse, 0);
  EXPECT_EQ(shownat(5), game::getspot(1, 0));
  for (int number = 1; number <= game::kBoneCount; ++number) {
    if (number == 5) continue;
    EXPECT_EQ(shownat(number), 0) << "bone " << number;
  }
  const int emptied = game::getspot(3, 0);
  QSignalSpy onslots(view.get(), &BoardView::slotclicked);
  QSignalSpy onbones(view.get(), &BoardView::boneclicked);
  clickat(slot(emptied));
  ASSERT_EQ(onslots.count(), 1);
  EXPECT_EQ(onslots.at(0).at(0).value<TShape*>(), slot(emptied));
  EXPECT_EQ(onbones.count(), 0);
}

TEST_F(BoardViewTest, ANewBoardMovesTheBonesThatMovedAndKeepsTheirPictures) {
  const game::Board before = twooff();
  view->showboard(before, 0);
  const qint64 picture = bone(28)->picture().cacheKey();
  const qint64 other = bone(12)->picture().cacheKey();

  game::Board after = before;
  after[1][6] = 0;
  after[0][6] = 28;
  view->showboard(after, 0);
  EXPECT_EQ(shownat(28), game::getspot(0, 6));
  EXPECT_EQ(bone(28)->picture().cacheKey(), picture) << "moved, not drawn again";
  EXPECT_EQ(bone(12)->picture().cacheKey(), other);

  // After clearbones() every bone is drawn anew by the next board.
  view->clearbones();
  EXPECT_EQ(shownat(28), 0);
  view->showboard(after, 0);
  EXPECT_EQ(shownat(28), game::getspot(0, 6));
}

TEST_F(BoardViewTest, ClicksOnBonesSlotsAndTheHighlightAreReported) {
  view->showboard(twooff(), 7);
  QSignalSpy onbones(view.get(), &BoardView::boneclicked);
  QSignalSpy onslots(view.get(), &BoardView::slotclicked);

  clickat(bone(28));
  ASSERT_EQ(onbones.count(), 1);
  EXPECT_EQ(onbones.at(0).at(0).value<TBone*>(), bone(28));

  // The highlight frames the selected bone; its rim is the bone's, not the slot's beneath.
  QWidget* highlite = part("shape_highlite");
  ASSERT_TRUE(highlite->isVisible());
  EXPECT_EQ(highlite->pos(), bone(7)->pos() - QPoint(2, 2));
  clickat(highlite, {1, 1});
  ASSERT_EQ(onbones.count(), 2);
  EXPECT_EQ(onbones.at(1).at(0).value<TBone*>(), bone(7));
  EXPECT_EQ(onslots.count(), 0);

  clickat(slot(game::getspot(0, 6)));
  ASSERT_EQ(onslots.count(), 1);
  EXPECT_EQ(onslots.at(0).at(0).value<TShape*>()->tag(), game::getspot(0, 6));

  // Handed with no bone selected (a board played back), nothing is framed.
  view->showboard(twooff(), 0);
  EXPECT_FALSE(highlite->isVisible());
}

TEST_F(BoardViewTest, KeysActOnTheBoneOrTheSlotUnderTheCursor) {
  view->showboard(twooff(), 0);
  QSignalSpy onbones(view.get(), &BoardView::boneclicked);
  QSignalSpy onslots(view.get(), &BoardView::slotclicked);
  view->newgame();
  BoardCursor* cursor = view->cursor();
  EXPECT_EQ(cursor->slot(), 1);

  // Row 7 (the last), column 2: where 0/0 lies one slot right of home.
  for (int k = 0; k < 6; ++k) press(Qt::Key_Down);
  press(Qt::Key_Right);
  ASSERT_EQ(cursor->slot(), game::getspot(1, 6));
  EXPECT_TRUE(cursor->isVisible());
  press(Qt::Key_Space);
  ASSERT_EQ(onbones.count(), 1);
  EXPECT_EQ(onbones.at(0).at(0).value<TBone*>(), bone(28));

  press(Qt::Key_Left);
  press(Qt::Key_Return);
  ASSERT_EQ(onslots.count(), 1);
  EXPECT_EQ(onslots.at(0).at(0).value<TShape*>(), slot(game::getspot(0, 6)));

  // What the keys act on is the board on show, not one handed before it.
  game::Board moved = twooff();
  moved[1][6] = 0;
  moved[0][6] = 28;
  view->showboard(moved, 0);
  press(Qt::Key_Enter);
  ASSERT_EQ(onbones.count(), 2);
  EXPECT_EQ(onbones.at(1).at(0).value<TBone*>(), bone(28));

  // A board that is not the game's hides the frame until a key moves it.
  press(Qt::Key_Right);
  ASSERT_TRUE(cursor->isVisible());
  view->hidecursor();
  EXPECT_FALSE(cursor->isVisible());
}

TEST_F(BoardViewTest, AReaderIsToldOfTheBoardOnShow) {
  view->showboard(twooff(), 28);
  const int home = game::getspot(0, 6);
  const int right = game::getspot(1, 6);
  EXPECT_EQ(slot(home)->accessibleName(), BoardAccess::slotname(home, 0));
  EXPECT_EQ(slot(right)->accessibleName(), BoardAccess::slotname(right, 28));
  QAccessibleInterface* reader = QAccessible::queryAccessibleInterface(slot(right));
  ASSERT_NE(reader, nullptr);
  EXPECT_TRUE(reader->state().selected);

  game::Board sorted = game::solvedboard();
  view->showboard(sorted, 0);
  EXPECT_EQ(slot(home)->accessibleName(), BoardAccess::slotname(home, 28));
  EXPECT_EQ(slot(right)->accessibleName(),
            BoardAccess::slotname(right, game::boneat(sorted, right)));
  EXPECT_FALSE(QAccessible::queryAccessibleInterface(slot(right))->state().selected);
  EXPECT_EQ(part("panel_board1")->accessibleName(), "Board");
}

TEST_F(BoardViewTest, HintsMarkTheirSlotsUntilReset) {
  view->showhints({3, 35, 0, 36});
  EXPECT_TRUE(slot(3)->hinted());
  EXPECT_TRUE(slot(35)->hinted());
  EXPECT_FALSE(slot(4)->hinted());
  view->resetslotcolours();
  EXPECT_FALSE(slot(3)->hinted());
  EXPECT_FALSE(slot(35)->hinted());
}

TEST_F(BoardViewTest, TheClockShowsTheGameItIsHanded) {
  auto* caption = static_cast<QLabel*>(part("label_timer"));
  QWidget* bar = part("image_timer");
  EXPECT_EQ(caption->text(), "Time: 0:00");
  EXPECT_EQ(bar->width(), game::kTimeBarWidth);

  game::Game game;
  game.start(1);
  game.settimeleft(12);
  // The first tick draws the length the start set; the second a shorter one.
  game.tick();
  game.tick();
  ASSERT_LT(game.barwidth(), game::kTimeBarWidth);
  view->showclock(game);
  EXPECT_EQ(caption->text(), QString::fromStdString(game.timecaption()));
  EXPECT_EQ(caption->palette().color(QPalette::WindowText), QColor(0x80, 0x00, 0x00));
  EXPECT_EQ(bar->width(), game.barwidth());
  EXPECT_EQ(bar->property("Tag").toInt(), game.bartag());

  // The bar's length to be is only the Tag until the clock is shown again.
  view->settimetag(game::kTimeBarWidth);
  EXPECT_EQ(bar->property("Tag").toInt(), game::kTimeBarWidth);
  EXPECT_EQ(bar->width(), game.barwidth());
}

TEST_F(BoardViewTest, ALargerViewDrawsTheSameBoardLarger) {
  view->showboard(twooff(), 7);
  game::Game game;
  game.start(1);
  game.settimeleft(100);
  game.tick();
  view->showclock(game);
  QSignalSpy rescaled(view.get(), &BoardView::rescaled);

  view->resize(2 * BoardView::designwidth, 2 * BoardView::designheight);
  ASSERT_TRUE(QTest::qWaitFor([&] { return view->scale()->scale() == 2.0; }, 5000));
  EXPECT_GE(rescaled.count(), 1);
  EXPECT_EQ(view->shownboard(), twooff());
  for (int number = 1; number <= game::kBoneCount; ++number) {
    EXPECT_EQ(shownat(number), game::slotof(twooff(), number)) << "bone " << number;
  }
  EXPECT_EQ(bone(1)->size(), QSize(2 * game::kSlotWidth, 2 * game::kSlotHeight));
  EXPECT_EQ(bone(1)->picture().devicePixelRatio(), 2.0) << "drawn from the 2x pictures";
  EXPECT_EQ(part("shape_highlite")->pos(), bone(7)->pos() - QPoint(4, 4));
  EXPECT_EQ(part("image_timer")->width(), 2 * game.barwidth());

  // Clicks land where the larger board is drawn.
  QSignalSpy onbones(view.get(), &BoardView::boneclicked);
  clickat(bone(21));
  ASSERT_EQ(onbones.count(), 1);
  EXPECT_EQ(onbones.at(0).at(0).value<TBone*>(), bone(21));
}

// Show Solution is a board of its own handed to the view, placement by placement; the answer is
// handed in as the solver would hand it, so no search runs here.
TEST_F(BoardViewTest, AReplayHandsTheViewEachBoardOfTheLine) {
  constexpr int deal = 1000;
  const game::Board first = game::dealboard(deal);
  // Two placements into the empty double column, whatever their bones: the replay plays what
  // it is given.
  game::Solution line;
  line.solved = true;
  line.placements = {{game::getspot(0, 0), game::boneat(first, game::getspot(1, 0))},
                     {game::getspot(0, 1), game::boneat(first, game::getspot(1, 1))}};

  SolutionReplay replay(view.get());
  QSignalSpy found(&replay, &SolutionReplay::found);
  QSignalSpy finished(&replay, &SolutionReplay::finished);
  EXPECT_EQ(replay.best(deal), nullptr);
  emit replay.solver()->solved(deal, line);
  ASSERT_EQ(found.count(), 1);
  ASSERT_NE(replay.best(deal), nullptr);
  EXPECT_EQ(replay.best(deal + 1), nullptr);
  // A deal it knows is answered at once, without a search.
  replay.find(deal);
  EXPECT_EQ(found.count(), 2);
  EXPECT_EQ(replay.solver()->running(), 0);

  view->showboard(game::solvedboard(), 7);
  QWidget covered;
  replay.play(&covered);
  EXPECT_TRUE(replay.playing());
  EXPECT_EQ(view->shownboard(), first);
  EXPECT_EQ(view->shownselection(), 0) << "the game's selection is not the replay's";

  game::Board expected = first;
  for (const game::Placement& placement : line.placements) {
    game::clearbone(expected, placement.bone);
    const game::Point at = game::getcoords(placement.slot);
    expected[at.x][at.y] = placement.bone;
    replay.step();
    EXPECT_EQ(view->shownboard(), expected);
    EXPECT_EQ(shownat(placement.bone), placement.slot);
  }
  EXPECT_FALSE(replay.playing());
  ASSERT_EQ(finished.count(), 1);
  EXPECT_EQ(finished.at(0).at(0).value<QWidget*>(), &covered);

  // A new game stops a replay and forgets what it covered.
  replay.play(&covered);
  replay.step();
  replay.reset();
  EXPECT_FALSE(replay.playing());
  replay.step();
  ASSERT_EQ(finished.count(), 2);
  EXPECT_EQ(finished.at(1).at(0).value<QWidget*>(), nullptr);
}

}  // namespace
