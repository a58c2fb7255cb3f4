// The game played from the keyboard alone: the board's cursor and its moves over the staircase,
// Space and Enter as clicks, the overlay panels' Enter and Esc, the menus' letters, and Esc on
// the other windows. Keys go in through the window system's window, as a player's keys do, so
// they reach whichever widget has the focus.

#include <QAbstractButton>
#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTextEdit>

#include "game/board.h"
#include "online/highscoreform.h"
#include "shell/boardcursor.h"
#include "shell/boardparts.h"
#include "shell/programwindows.h"
#include "shell/updateoffer.h"
#include "shellsupport.h"
#include "stats/tallylistform.h"
#include "tests/support/signedrelease.h"
#include "windows/aboutform.h"
#include "windows/helpform.h"
#include "windowssupport.h"

namespace {

// Every row moved one slot right of its place: the doubles stand in column 1, so each goes home
// first, then every other bone one slot left, 28 placements in all.
game::Board shiftedright() {
  const game::Board solved = game::solvedboard();
  game::Board board{};
  for (int row = 0; row < game::kRowCount; ++row) {
    for (int column = 0; column + 1 < game::rowlength(row); ++column) {
      board[column + 1][row] = solved[column][row];
    }
  }
  return board;
}

}  // namespace

class Keyboard : public ShellTest {
 protected:
  void SetUp() override {
    w = makewindow();
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    cursor = part<BoardCursor>(w.get(), "boardcursor");
    ASSERT_NE(cursor, nullptr);
  }

  void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(w->windowHandle(), key, modifiers);
    QCoreApplication::processEvents();
  }

  void type(const char* text) {
    for (const char* c = text; *c; ++c) QTest::keyClick(w->windowHandle(), *c);
    QCoreApplication::processEvents();
  }

  // The arrow keys that take the cursor to a slot: up or down to its row first (a shorter row
  // takes the cursor to its end), then across.
  void goto_(int slot) {
    const game::Point to = game::getcoords(slot);
    while (cursor->row() != to.y) press(cursor->row() < to.y ? Qt::Key_Down : Qt::Key_Up);
    while (cursor->column() != to.x) press(cursor->column() < to.x ? Qt::Key_Right : Qt::Key_Left);
    ASSERT_EQ(cursor->slot(), slot);
  }

  // Moves a bone by keys: to its slot, Space; to the target, Enter.
  void move(int bone, int toslot) {
    goto_(game::slotof(w->game().board(), bone));
    press(Qt::Key_Space);
    ASSERT_EQ(w->game().selectedbone(), bone);
    goto_(toslot);
    press(Qt::Key_Return);
    ASSERT_EQ(game::boneat(w->game().board(), toslot), bone) << "bone " << bone;
  }

  // Starts a game by Ctrl+S, as File > Start Game.
  void startgame() {
    press(Qt::Key_S, Qt::ControlModifier);
    ASSERT_TRUE(w->game().gamerunning());
  }

  void setboard(const game::Board& board) {
    w->game().setboard(board);
    w->showboard();
  }

  bool shown(const char* name) { return part(w.get(), QString::fromLatin1(name))->isVisible(); }
  QString text(const char* name) {
    return part<QLabel>(w.get(), QString::fromLatin1(name))->text();
  }

  std::unique_ptr<Tmain> w;
  BoardCursor* cursor = nullptr;
};

using KeyboardPlay = Keyboard;

TEST_F(KeyboardPlay, AWholeGameIsWonByKeysAlone) {
  // The name panel is open at start with its box taking the keys; Enter is Done.
  auto* aname = part<QLineEdit>(w.get(), "edit_aname");
  EXPECT_EQ(w->focusWidget(), aname);
  press(Qt::Key_A, Qt::ControlModifier);
  type("Ada");
  press(Qt::Key_Return);
  EXPECT_FALSE(shown("panel_name"));
  EXPECT_EQ(part<QLineEdit>(w.get(), "edit_name")->text(), "Ada");

  startgame();
  setboard(shiftedright());
  sounds.cues.clear();
  for (int row = 0; row < game::kRowCount; ++row) {
    move(game::doubleofrow(row), game::getspot(0, row));
  }
  for (int row = 0; row < game::kRowCount; ++row) {
    for (int column = 1; column + 1 < game::rowlength(row); ++column) {
      const int bone = game::doubleofrow(row) + column;
      ASSERT_TRUE(w->game().gamerunning()) << "before bone " << bone;
      move(bone, game::getspot(column, row));
    }
  }

  EXPECT_FALSE(w->game().gamerunning());
  EXPECT_TRUE(game::checkforcomplete(w->game().board()));
  EXPECT_TRUE(shown("panel_cleared"));
  EXPECT_EQ(text("label_score"), "Clicks: 72");
  EXPECT_EQ(tally.calls.mid(1),
            QStringList({"add 2", QStringLiteral("score %1 Ada").arg(w->game().score())}));
  EXPECT_EQ(sounds.cues.count("click"), 28);
  EXPECT_EQ(sounds.cues.count("place"), 28);
  EXPECT_EQ(sounds.cues.last(), "gameover");
  EXPECT_FALSE(shown("panel_invalid")) << "not one key went astray";
}

using KeyboardCursor = Keyboard;

TEST_F(KeyboardCursor, MovesOverTheStaircaseAndStopsAtItsEdges) {
  press(Qt::Key_Escape);  // the name panel's Cancel
  ASSERT_FALSE(shown("panel_name"));
  EXPECT_EQ(cursor->slot(), 1);
  EXPECT_FALSE(cursor->isVisible()) << "hidden until a key moves it";

  press(Qt::Key_Left);
  press(Qt::Key_Up);
  EXPECT_EQ(cursor->slot(), 1) << "row 1, column 1 is a corner";
  EXPECT_TRUE(cursor->isVisible());
  for (int i = 0; i < 10; ++i) press(Qt::Key_Right);
  EXPECT_EQ(cursor->slot(), 35) << "the end of the top row";
  press(Qt::Key_Down);
  EXPECT_EQ(cursor->slot(), 34) << "down from a row's last slot: the next row's last";
  press(Qt::Key_Left);
  EXPECT_EQ(cursor->slot(), 31);
  press(Qt::Key_Up);
  EXPECT_EQ(cursor->slot(), 30) << "up keeps the column";
  for (int i = 0; i < 10; ++i) press(Qt::Key_Down);
  EXPECT_EQ(cursor->slot(), 14) << "down to the bottom row, which ends in column 2";
  press(Qt::Key_Left);
  EXPECT_EQ(cursor->slot(), 7);

  // A frame just outside the highlight's rim, and the slot under it holds the focus.
  auto* slot7 = part<TShape>(w.get(), "shape_7");
  EXPECT_EQ(cursor->geometry(), slot7->geometry().adjusted(-4, -4, 4, 4));
  EXPECT_EQ(w->focusWidget(), slot7);

  // A mouse click hides it; the keys show it again where it was.
  clickat(part(w.get(), "shape_20"));
  EXPECT_FALSE(cursor->isVisible());
  press(Qt::Key_Right);
  EXPECT_TRUE(cursor->isVisible());
  EXPECT_EQ(cursor->slot(), 14);

  // Every new game starts it at the top of the double column.
  startgame();
  EXPECT_EQ(cursor->slot(), 1);
  EXPECT_EQ(w->focusWidget(), part<TShape>(w.get(), "shape_1"));
}

// Every way of starting a game follows one rule: begun from the keyboard, the frame shows on
// row 1, column 1; begun by a click, it is hidden until the next key, as after any click.
TEST_F(KeyboardCursor, ShowsAtANewGameStartedByKeysAndNotByAClick) {
  press(Qt::Key_Escape);
  ASSERT_FALSE(cursor->isVisible());
  startgame();
  EXPECT_TRUE(cursor->isVisible()) << "after Ctrl+S";
  EXPECT_EQ(cursor->slot(), 1);
  press(Qt::Key_Right);
  press(Qt::Key_R, Qt::ControlModifier);
  EXPECT_TRUE(cursor->isVisible()) << "after Ctrl+R, as after Ctrl+S";
  EXPECT_EQ(cursor->slot(), 1);

  press(Qt::Key_Right);
  clickat(part(w.get(), "button_start"));
  ASSERT_EQ(cursor->slot(), 1) << "a new game";
  EXPECT_FALSE(cursor->isVisible()) << "after a click on Start Game";
  press(Qt::Key_R, Qt::ControlModifier);
  EXPECT_TRUE(cursor->isVisible()) << "the key shows it again";
  clickat(part(w.get(), "shape_20"));
  ASSERT_FALSE(cursor->isVisible());
  press(Qt::Key_S, Qt::ControlModifier);
  EXPECT_TRUE(cursor->isVisible()) << "after Ctrl+S, as after Ctrl+R";
  EXPECT_EQ(cursor->slot(), 1);
}

TEST_F(KeyboardCursor, DrawsAFrameOfItsOwnColourAroundItsSlot) {
  press(Qt::Key_Escape);
  press(Qt::Key_Right);
  const QImage shown = w->grab().toImage();
  const QRect frame =
      cursor->geometry().translated(cursor->parentWidget()->mapTo(w.get(), QPoint()));
  EXPECT_EQ(QColor(shown.pixel(frame.topLeft())), BoardCursor::color);
  EXPECT_EQ(QColor(shown.pixel(frame.bottomRight() - QPoint(1, 1))), BoardCursor::color);
  EXPECT_NE(BoardCursor::color, QColor(0xBB, 0, 0)) << "not the highlight's red";
  EXPECT_NE(BoardCursor::color, QColor(0x80, 0, 0)) << "not the hints' maroon";
  // Inside the frame the slot shows as before.
  EXPECT_NE(QColor(shown.pixel(frame.topLeft() + QPoint(4, 4))), BoardCursor::color);
}

TEST_F(KeyboardCursor, SpaceAndEnterClickWithEveryCueAndRefusal) {
  press(Qt::Key_Escape);
  startgame();
  // Sorted but for 0/0, which stands in row 7, column 2 instead of its home.
  game::Board board = game::solvedboard();
  board[0][6] = 0;
  board[1][6] = 28;
  setboard(board);
  sounds.cues.clear();

  // No bone selected: the empty slot refuses, as a click there does.
  goto_(7);
  press(Qt::Key_Space);
  EXPECT_TRUE(shown("panel_invalid"));
  EXPECT_EQ(text("label_invalid"), "Bone cannot go there");
  EXPECT_EQ(sounds.cues, QStringList({"invalid"}));
  // Enter answers the refusal's OK rather than acting on the board under it.
  press(Qt::Key_Return);
  EXPECT_FALSE(shown("panel_invalid"));
  EXPECT_EQ(sounds.cues.size(), 1);

  // Space on a bone selects it, and again lets it go.
  goto_(8);
  press(Qt::Key_Space);
  EXPECT_EQ(w->game().selectedbone(), 2);
  EXPECT_TRUE(shown("shape_highlite"));
  press(Qt::Key_Space);
  EXPECT_EQ(w->game().selectedbone(), 0);
  EXPECT_FALSE(shown("shape_highlite"));
  EXPECT_EQ(sounds.cues.mid(1), QStringList({"click", "unclick"}));

  // Enter on another bone's slot moves the selection to that bone, as a click on it does.
  goto_(14);
  press(Qt::Key_Enter);
  ASSERT_EQ(w->game().selectedbone(), 28);
  goto_(1);
  press(Qt::Key_Enter);
  EXPECT_EQ(w->game().selectedbone(), 1);
  goto_(14);
  press(Qt::Key_Space);
  ASSERT_EQ(w->game().selectedbone(), 28);

  // 0/0 cannot follow 6/1: refused, the selection kept; Esc answers the refusal too.
  goto_(35);
  press(Qt::Key_Space);
  EXPECT_TRUE(shown("panel_invalid"));
  EXPECT_EQ(w->game().selectedbone(), 28);
  EXPECT_EQ(w->game().clicksleft(), 100);
  press(Qt::Key_Escape);
  EXPECT_FALSE(shown("panel_invalid"));

  goto_(7);
  press(Qt::Key_Space);
  EXPECT_FALSE(w->game().gamerunning());
  EXPECT_TRUE(shown("panel_cleared"));
  EXPECT_EQ(sounds.cues.mid(3),
            QStringList({"click", "click", "click", "invalid", "place", "gameover"}));
}

using KeyboardPanels = Keyboard;

TEST_F(KeyboardPanels, NamePanelTakesTheKeysAndAnswersEnterAndEsc) {
  auto* aname = part<QLineEdit>(w.get(), "edit_aname");
  auto* name = part<QLineEdit>(w.get(), "edit_name");
  EXPECT_EQ(w->focusWidget(), aname);
  // Arrows and Space belong to the box while it has the focus.
  press(Qt::Key_End);
  press(Qt::Key_Space);
  press(Qt::Key_Left);
  EXPECT_EQ(aname->text(), "Guest ");
  EXPECT_FALSE(cursor->isVisible());
  press(Qt::Key_Escape);
  EXPECT_FALSE(shown("panel_name"));
  EXPECT_EQ(name->text(), "Guest") << "Esc is Cancel";
  EXPECT_NE(w->focusWidget(), aname) << "the keyboard is back on the board";

  part<QAction>(w.get(), "ChangeName1")->trigger();
  EXPECT_TRUE(shown("panel_name"));
  EXPECT_EQ(w->focusWidget(), aname);
  press(Qt::Key_A, Qt::ControlModifier);
  type("Zed");
  press(Qt::Key_Enter);
  EXPECT_FALSE(shown("panel_name"));
  EXPECT_EQ(name->text(), "Zed") << "Enter is Done";
  EXPECT_EQ(w->focusWidget(), part<TShape>(w.get(), "shape_1"));
}

// The box's text is selected whenever the panel opens: a name typed replaces what stands there.
TEST_F(KeyboardPanels, ANameTypedOnTheNamePanelReplacesTheOneInTheBox) {
  auto* aname = part<QLineEdit>(w.get(), "edit_aname");
  ASSERT_EQ(aname->text(), "Guest");
  QTest::keyClicks(aname, "Kim");
  EXPECT_EQ(aname->text(), "Kim") << "not GuestKim";
  press(Qt::Key_Return);
  EXPECT_EQ(part<QLineEdit>(w.get(), "edit_name")->text(), "Kim");

  part<QAction>(w.get(), "ChangeName1")->trigger();
  ASSERT_EQ(w->focusWidget(), aname);
  QTest::keyClicks(aname, "Ann");
  EXPECT_EQ(aname->text(), "Ann") << "opened again, the box's name is replaced too";
}

// However the name panel goes, its box gives up the focus with it: a hidden box that still has
// the focus is a second object claiming it for a screen reader, and would take the keys unseen.
TEST_F(KeyboardPanels, TheNameBoxGivesUpTheFocusWhenItsPanelCloses) {
  auto* aname = part<QLineEdit>(w.get(), "edit_aname");
  auto* open = part<QAction>(w.get(), "ChangeName1");
  auto nohiddenfocus = [&](const char* how) {
    EXPECT_FALSE(shown("panel_name")) << how;
    EXPECT_FALSE(aname->hasFocus()) << how;
    if (QWidget* focus = QApplication::focusWidget()) {
      EXPECT_FALSE(focus->isHidden()) << how << ": " << focus->objectName().toStdString();
    }
    if (QWidget* focus = w->focusWidget()) {
      EXPECT_TRUE(focus->isVisibleTo(w.get())) << how << ": " << focus->objectName().toStdString();
    }
    // What a screen reader is told: one focused object at most, and never an invisible one.
    int focused = 0;
    std::vector<QAccessibleInterface*> todo{QAccessible::queryAccessibleInterface(w.get())};
    while (!todo.empty()) {
      QAccessibleInterface* iface = todo.back();
      todo.pop_back();
      if (!iface) continue;
      if (iface->state().focused) {
        ++focused;
        EXPECT_FALSE(iface->state().invisible) << how;
      }
      for (int i = 0; i < iface->childCount(); ++i) todo.push_back(iface->child(i));
    }
    EXPECT_LE(focused, 1) << how;
    EXPECT_FALSE(QAccessible::queryAccessibleInterface(aname)->state().focused) << how;
  };
  ASSERT_EQ(w->focusWidget(), aname);
  press(Qt::Key_Return);
  nohiddenfocus("Enter");
  open->trigger();
  press(Qt::Key_Escape);
  nohiddenfocus("Esc");
  open->trigger();
  clickat(part(w.get(), "button_namedone"));
  nohiddenfocus("a click on Done");
  open->trigger();
  press(Qt::Key_S, Qt::ControlModifier);
  nohiddenfocus("Ctrl+S");
  open->trigger();
  clickat(part(w.get(), "button_start"));
  nohiddenfocus("a click on Start Game");
  open->trigger();
  open->trigger();
  part<QAbstractButton>(w.get(), "button_namecancel")->click();
  nohiddenfocus("Cancel pressed by a reader");

  // Closed while the window itself is out of sight (minimised, or not yet shown), when no widget
  // inside it is told that it is hidden.
  open->trigger();
  ASSERT_EQ(w->focusWidget(), aname);
  w->hide();
  w->restartdeal();
  w->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
  nohiddenfocus("closed out of sight");
}

TEST_F(KeyboardPanels, TheUpdatePanelsEnterIsCancelNeverOk) {
  press(Qt::Key_Escape);
  w->updateoffer()->offer(TestKey::release("setup", "1.0.1"));
  ASSERT_TRUE(shown("panel_update"));
  press(Qt::Key_Return);
  EXPECT_FALSE(shown("panel_update"));
  EXPECT_TRUE(part<QLabel>(w.get(), "label_update")->text().isEmpty()) << "no update started";
  EXPECT_FALSE(part(w.get(), "button_updateyes")->isHidden());

  w->updateoffer()->offer(TestKey::release("setup", "1.0.1"));
  ASSERT_TRUE(shown("panel_update"));
  press(Qt::Key_Escape);
  EXPECT_FALSE(shown("panel_update"));
}

TEST_F(KeyboardPanels, LostAndClearedPanelsLetEnterDoNothing) {
  press(Qt::Key_Escape);
  startgame();
  sounds.cues.clear();
  for (const char* name : {"panel_lost", "panel_cleared"}) {
    part(w.get(), QString::fromLatin1(name))->show();
    press(Qt::Key_Return);
    press(Qt::Key_Escape);
    EXPECT_TRUE(shown(name)) << name;
    EXPECT_FALSE(shown("panel_invalid")) << "Enter did not reach the board under " << name;
    part(w.get(), QString::fromLatin1(name))->hide();
  }
  EXPECT_TRUE(sounds.cues.isEmpty());
  // With no panel up, Enter is the board's again.
  press(Qt::Key_Return);
  EXPECT_TRUE(shown("panel_invalid"));
}

TEST_F(KeyboardPanels, ThePanelOnTopAnswers) {
  press(Qt::Key_Escape);
  startgame();
  press(Qt::Key_Space);  // refused: the refusal panel is up
  ASSERT_TRUE(shown("panel_invalid"));
  part<QAction>(w.get(), "ChangeName1")->trigger();  // the name panel comes to the front
  press(Qt::Key_Escape);
  EXPECT_FALSE(shown("panel_name"));
  EXPECT_TRUE(shown("panel_invalid")) << "the first Esc went to the name panel on top";
  press(Qt::Key_Escape);
  EXPECT_FALSE(shown("panel_invalid"));
}

TEST_F(KeyboardPanels, TabGoesRoundTheClearedPanelAndItsButtonsAnswerSpaceAndEnter) {
  press(Qt::Key_Escape);
  startgame();
  w->game().setboard(game::solvedboard());
  part(w.get(), "panel_cleared")->show();
  auto* name = part<QLineEdit>(w.get(), "edit_name");
  EXPECT_EQ(w->focusWidget(), name) << "the name box takes the keys when the panel opens";

  QStringList round;
  for (int k = 0; k < 4; ++k) {
    press(Qt::Key_Tab);
    round << w->focusWidget()->objectName();
  }
  EXPECT_EQ(round,
            QStringList({"button_sendscore", "button_highscores", "button_cancel", "edit_name"}))
      << "Tab stays in the panel, never on the buttons under it";
  press(Qt::Key_Backtab);
  EXPECT_EQ(w->focusWidget()->objectName(), "button_cancel");

  press(Qt::Key_Backtab);  // High Scores
  press(Qt::Key_Space);
  EXPECT_TRUE(companions.calls.contains("highscores")) << companions.calls.join(", ").toStdString();
  press(Qt::Key_Tab);  // Cancel
  press(Qt::Key_Return);
  EXPECT_FALSE(shown("panel_cleared")) << "Enter pressed the button that had the keyboard";
  EXPECT_NE(w->focusWidget(), part(w.get(), "button_cancel")) << "the keyboard is on the board";
}

// While the score is posted only Cancel and the name box are in view: the buttons under the wait
// can be neither reached nor pressed, and Esc does what Cancel does.
TEST_F(KeyboardPanels, TheWaitLeavesTheKeysOnlyWhatIsInView) {
  press(Qt::Key_Escape);
  startgame();
  part(w.get(), "panel_cleared")->show();
  press(Qt::Key_Tab);
  ASSERT_EQ(w->focusWidget()->objectName(), "button_sendscore");
  press(Qt::Key_Space);
  ASSERT_EQ(companions.calls, QStringList({"post"}));
  ASSERT_TRUE(shown("panel_wait"));
  EXPECT_EQ(w->focusWidget()->objectName(), "button_cancel")
      << "the keyboard stayed on the button the wait covers";
  press(Qt::Key_Space);
  // Space pressed Cancel, the one button in view.
  EXPECT_FALSE(shown("panel_cleared"));
  EXPECT_EQ(companions.calls, QStringList({"post"}));

  part(w.get(), "panel_cleared")->show();
  w->button_sendscoreClick();
  QStringList round;
  for (int k = 0; k < 4; ++k) {
    press(Qt::Key_Tab);
    round << w->focusWidget()->objectName();
  }
  EXPECT_EQ(round, QStringList({"button_cancel", "edit_name", "button_cancel", "edit_name"}));
  press(Qt::Key_Backtab);
  press(Qt::Key_Return);
  EXPECT_FALSE(shown("panel_cleared")) << "Enter pressed Cancel, the button in view";
  EXPECT_EQ(companions.calls, QStringList({"post", "post"}));
  part(w.get(), "panel_cleared")->show();
  press(Qt::Key_Escape);
  EXPECT_FALSE(shown("panel_cleared")) << "Esc during the wait is Cancel";
  EXPECT_FALSE(companions.calls.contains("highscores"));

  // Without the wait, Esc leaves the cleared board alone, as before.
  part(w.get(), "panel_wait")->hide();
  part(w.get(), "panel_cleared")->show();
  press(Qt::Key_Escape);
  EXPECT_TRUE(shown("panel_cleared"));
}

TEST_F(KeyboardPanels, TabbingToTheUpdatePanelsOkLeavesEnterOnCancel) {
  press(Qt::Key_Escape);
  w->updateoffer()->offer(TestKey::release("setup", "1.0.1"));
  ASSERT_TRUE(shown("panel_update"));
  for (int k = 0; k < 3 && w->focusWidget() != part(w.get(), "button_updateyes"); ++k)
    press(Qt::Key_Tab);
  ASSERT_EQ(w->focusWidget(), part(w.get(), "button_updateyes"));
  press(Qt::Key_Return);
  EXPECT_FALSE(shown("panel_update"));
  EXPECT_TRUE(part<QLabel>(w.get(), "label_update")->text().isEmpty()) << "no update started";
}

using KeyboardMenus = Keyboard;

TEST_F(KeyboardMenus, EveryMenuHasALetterAndAltFOpensFile) {
  auto* bar = part<QMenuBar>(w.get(), "MainMenu1");
  QStringList letters;
  for (QAction* a : bar->actions()) letters << QKeySequence::mnemonic(a->text()).toString();
  EXPECT_EQ(letters, QStringList({"Alt+F", "Alt+O", "Alt+V", "Alt+H"}));
  // Within each menu, no two items share a letter.
  for (QAction* a : bar->actions()) {
    QStringList seen;
    for (QAction* item : a->menu()->actions()) {
      if (item->isSeparator()) continue;
      const QString letter = QKeySequence::mnemonic(item->text()).toString();
      EXPECT_FALSE(letter.isEmpty()) << item->text().toStdString();
      EXPECT_FALSE(seen.contains(letter)) << item->text().toStdString();
      seen << letter;
    }
  }

  press(Qt::Key_Escape);
  QMenu* file = bar->actions()[0]->menu();
  press(Qt::Key_F, Qt::AltModifier);
  ASSERT_TRUE(QTest::qWaitFor([&] { return file->isVisible(); }, 5000));
  QTest::keyClick(file, Qt::Key_S);  // Start Game, by its letter
  EXPECT_TRUE(QTest::qWaitFor([&] { return !file->isVisible(); }, 5000));
  EXPECT_TRUE(w->game().gamerunning());
}

// Esc closes each of the other windows as its Done does.
class KeyboardWindows : public WithProgramWindows {
 protected:
  void SetUp() override { makeall("[pipshift]\nUpdate=false\n"); }

  static void esc(QWidget* window) {
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    QTest::keyClick(window->windowHandle(), Qt::Key_Escape);
    QCoreApplication::processEvents();
  }
};

TEST_F(KeyboardWindows, EscClosesHelpAboutTallyAndHighScores) {
  windows->showhelp();
  esc(&windows->help());
  EXPECT_FALSE(windows->help().isVisible());

  windows->showabout();
  esc(&windows->about());
  EXPECT_FALSE(windows->about().isVisible());

  windows->showtally();
  esc(tallywindow.get());
  EXPECT_FALSE(tallywindow->isVisible());

  windows->highscore().showforward();
  esc(&windows->highscore());
  EXPECT_FALSE(windows->highscore().isVisible());

  // A help page with the focus passes Esc on to its window.
  windows->showhelp();
  windows->help().currentpage()->setFocus();
  esc(&windows->help());
  EXPECT_FALSE(windows->help().isVisible());
}
