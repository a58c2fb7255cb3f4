#pragma once

#include <QColor>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <array>
#include <vector>

#include "game/board.h"

class QAbstractButton;
class QWindow;
class TShape;

// The keyboard's place on the board: a frame around one slot that the arrow keys move across and
// down the staircase. Rows and columns count from 0 here, as the board does; the player reads
// them from 1.
//
// The frame lies just outside the selection highlight's rim, so the two show together, and is
// drawn in a colour of its own, neither the highlight's red nor the hints' maroon. While the
// board has the keyboard, the slot under the frame holds the focus, so a screen reader follows
// the frame from slot to slot.
class BoardCursor : public QWidget {
  Q_OBJECT

 public:
  static const QColor color;
  // Pixels between the slot and the frame, and the frame's width, at the board's own size.
  static constexpr int margin = 4;
  static constexpr int thickness = 2;

  using Slots = std::array<TShape*, game::kSlotCount + 1>;

  // slotwidgets: the 35 slot components (index 0 unused); the frame is made a child of their
  // parent.
  explicit BoardCursor(const Slots& slotwidgets);

  int row() const { return row_; }
  int column() const { return column_; }
  int slot() const { return game::getspot(column_, row_); }

  // Back to row 0, column 0: the top of the double column.
  void home();
  // Straight to a slot.
  void moveto(int slot);
  // One slot for an arrow key: across the row, or up or down a column. It stops at the edges; a
  // row shorter than the column asked for takes the cursor to its last slot. False for any
  // other key.
  bool step(int key);

  // Shown once a key has moved it; a click of the mouse hides it again.
  void setshown(bool shown);
  bool shown() const { return shown_; }

  // Puts the frame around its slot again (after the board has changed size).
  void place();
  // Gives the slot under the frame the keyboard focus.
  void focusslot();
  TShape* slotwidget() const { return slots_[slot()]; }
  const Slots& allslots() const { return slots_; }

 signals:
  void moved(int slot);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Slots slots_;
  int row_ = 0;
  int column_ = 0;
  bool shown_ = false;
};

// What the keys do in the main window, beside the menus' own shortcuts: the arrows move the
// board's cursor, Space and Enter act on its slot as a click would, and Enter and Esc answer the
// overlay panel on top. Tab reaches the buttons, which Space or Enter press. A mouse click
// anywhere in the window hides the cursor.
//
// Keys typed into a text box stay there: the board only sees the keys the box leaves alone, and
// moves or acts only while no text box has the focus.
class BoardKeys : public QObject {
  Q_OBJECT

 public:
  BoardKeys(QWidget* window, BoardCursor* cursor);

  // A panel that answers Enter and Esc while it is the topmost one shown: each key presses its
  // button, as a click would, while that button is shown and enabled. No button makes the key do
  // nothing while the panel is on top. focus: the box that takes the keyboard while the panel is
  // open; when the panel closes, the keyboard goes back to the board. A panel inside another
  // answers the keys while it is shown, and what it covers of the other can be neither reached
  // by Tab nor pressed by Space or Enter.
  void addpanel(QWidget* panel, QAbstractButton* enter, QAbstractButton* escape,
                QWidget* focus = nullptr);

  // A new game: the cursor goes back to the top of the double column, its frame shown if the
  // game was started from the keyboard (Ctrl+S, Ctrl+R, a deal's number and Enter...) and hidden
  // if by the mouse, as a click on the board would hide it. The last key or mouse press given to
  // any of the program's windows decides, whichever command the game came from.
  void newgame();

  // The shown panel that answers the keys now, if any.
  QWidget* toppanel() const;

  // Tab and Shift+Tab while a panel is on top: the keyboard goes round that panel's boxes and
  // buttons only, never to the window's buttons hidden under it. False while no panel is shown,
  // for the window to move the focus as usual.
  bool tab(bool next);

  BoardCursor* cursor() const { return cursor_; }

 signals:
  // Space or Enter on the board: act on this slot as a click on it, or on the bone on it, would.
  void activated(int slot);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Panel {
    QPointer<QWidget> widget;
    QPointer<QAbstractButton> enter;
    QPointer<QAbstractButton> escape;
    QPointer<QWidget> focus;
  };

  bool keypress(int key, Qt::KeyboardModifiers modifiers);
  bool nested(const QWidget* widget) const;
  const Panel* answering(const QWidget* top) const;
  bool covered(const QWidget* widget) const;
  bool boardhaskeyboard() const;
  void watchwindow();
  const Panel* panelfor(const QObject* widget) const;

  QWidget* window_;
  BoardCursor* cursor_;
  QPointer<QWindow> handle_;
  std::vector<Panel> panels_;
  bool bykeys_ = false;  // the last press was a key's, not a mouse button's
};
