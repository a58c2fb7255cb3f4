#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <array>
#include <vector>

#include "game/board.h"

class QLabel;
class QWidget;
class TShape;

// The board as a screen reader meets it, through Qt's accessibility (which reaches Orca and the
// other readers over AT-SPI).
//
// Each slot is one accessible object, named for what lies on it as the player sees it: "Row 1,
// column 2: 6/5" or "Row 7, column 1: empty", rows and columns counted from 1. A slot that holds
// the selected bone is selected; a slot the hints mark is checked, and says why in its
// description. The bone pictures, the highlight, the cursor's frame and the decorative pictures
// are left out: the slots say all they show.
//
// The panels that report what happened (a refused move, a lost or a cleared board) are
// notifications: a reader speaks one when it is shown, and again when the same refusal comes
// twice while its panel is still up. Picking a bone up and letting it go are told the same way,
// by a notice of the board's own that shows nothing: "6/6 picked up", "6/6 let go".
class BoardAccess : public QObject {
  Q_OBJECT

 public:
  using Slots = std::array<TShape*, game::kSlotCount + 1>;

  explicit BoardAccess(const Slots& slotwidgets, QObject* parent = nullptr);

  // What a slot is called: "Row r, column c: H/L" or "Row r, column c: empty".
  static QString slotname(int slot, int bone);

  // Names the slots after the board on show and marks the selected bone's slot (selectedbone 0
  // for none); tells a reader of every slot whose name or state changed.
  void update(const game::Board& board, int selectedbone);

  // A panel that reports what happened: a notification named by its first line (title), with its
  // second line (detail) as description.
  void addnotice(QWidget* panel, QLabel* title, QLabel* detail = nullptr);
  // Speaks a notice again that is already up (the same refusal twice): shown once, it would be
  // spoken once.
  void announce(QWidget* panel);

  // Says a line through the board's own notice, as picking a bone up is said: for what has no
  // panel of its own (the clock's warning, a read-out of the game).
  void say(const QString& text);
  // The last thing the board's own notice said.
  QString spoken() const;

  // The clock's caption: read as it stands whenever a reader asks, but never told to a reader as
  // it changes, each second; only its warning is said (see say()).
  static void quiet(QLabel* clock);

  // Leaves a widget out of what a reader is told: it only repeats what others say.
  static void hide(QWidget* widget);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  Slots slots_;
  std::array<int, game::kSlotCount + 1> selected_{};
  QPointer<QWidget> justshown_;
  QLabel* spoken_ = nullptr;
  // The bone picked up, and the slot it was picked up on.
  int pickedbone_ = 0;
  int pickedslot_ = 0;
};
