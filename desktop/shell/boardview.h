#pragma once

#include <QPixmap>
#include <QSize>
#include <QWidget>

#include <array>
#include <vector>

#include "game/board.h"

class QAbstractButton;
class QLabel;
class BoardAccess;
class BoardCursor;
class BoardKeys;
class BoardScale;
class TBone;
class TFlatPanel;
class TShape;

namespace game {
class Game;
}

// The board as the player sees it: the 35 slots and the guide beside them, the 28 bone pictures,
// the selection highlight, the hints, the time bar, the keyboard's cursor and keys, the board's
// scale and what a screen reader is told of it.
//
// It knows no rules. It draws whatever board it is handed, with the bone selected on it, and
// reports what the player does to it: a click on a bone or a slot, or Space or Enter on the
// keyboard's slot, which it reports as a click on that slot or on the bone lying there. The game
// in play is one board handed to it, a solution played back another.
//
// It is made inside the window it belongs to (or as a window of its own, as in a test): the keys
// it answers are that window's, whichever of its widgets has the focus.
//
// Its owner puts what it shows with the board inside it: beside the board in frame() (the
// greeting), over it in area() (the buttons and the overlay panels). Those are laid out, scaled
// and stacked with the board's own parts; the panels given to addpanel() answer Enter and Esc.
class BoardView : public QWidget {
  Q_OBJECT

 public:
  // The client area the layout is drawn for at a scale of 1: the board's frame and a margin.
  static constexpr int designwidth = 598;
  static constexpr int designheight = 330;

  explicit BoardView(QWidget* parent = nullptr);

  // panel_board: the board's invisible frame, holding the board area and what stands beside it.
  TFlatPanel* frame() const { return frame_; }
  // panel_board1: the black-framed board area.
  TFlatPanel* area() const { return area_; }
  // Stacks a part the owner has just added to the area beneath the bones and the time bar, among
  // the board's own pictures (the logo, the Start Game button, the score).
  void putbeneathbones(QWidget* widget);

  // Draws a board: every bone on it at its slot, every other bone cleared, the selected bone
  // (0 for none) framed by the highlight. A bone already on its slot is left as it is drawn, one
  // that has changed slot is moved there.
  void showboard(const game::Board& board, int selectedbone);
  const game::Board& shownboard() const { return board_; }
  int shownselection() const { return selected_; }
  // Clears every picture (the start of a game, before its deal is handed).
  void clearbones();

  // Colours the slots a hint marks; resetslotcolours() takes every mark off.
  void showhints(const std::vector<int>& marked);
  void resetslotcolours();

  // The clock: its caption, its colour and the bar's length, as the game has them now. A reader
  // is not told each second: only the moment the clock turns to its warning, by clockwarning().
  void showclock(const game::Game& game);
  static QString clockwarning();
  // Only the bar's length to be (the Tag of image_timer), drawn at the next showclock().
  void settimetag(int tag);

  // The keyboard: a new game puts the cursor back at the top of the double column; a board that
  // is not the game's hides it until a key moves it.
  void newgame();
  void hidecursor();
  // A panel of the owner's that answers Enter and Esc while it is on top (see BoardKeys).
  void addpanel(QWidget* panel, QAbstractButton* enter, QAbstractButton* escape,
                QWidget* focus = nullptr);
  // Tab while a panel is on top goes round that panel only; false while none is shown.
  bool tab(bool next);

  // A panel of the owner's that reports what happened, for a screen reader (see BoardAccess).
  void addnotice(QWidget* panel, QLabel* title, QLabel* detail = nullptr);
  void announce(QWidget* panel);
  // Says a line to a reader through the board's own notice, for what has no panel to show.
  void announce(const QString& text);

  BoardScale* scale() const { return scale_; }
  // A length of the layout at the board's present scale.
  int px(int length) const;

  TShape* slotwidget(int slot) const { return shape[slot]; }
  TBone* bonewidget(int number) const { return bone[number]; }
  BoardCursor* cursor() const { return cursor_; }

  // Draws one bone's picture on a slot (the bone's Tag set to its number).
  void createbone(int slot, int bone);

 signals:
  void boneclicked(TBone* sender);
  void slotclicked(TShape* sender);
  // The board has been laid out and drawn at a new scale.
  void rescaled();

 private:
  void buildboard();
  void buildaccess();
  // The bone pictures at a density of device pixels to the board's pixels: 1x, or 2x above 1.
  void loadimagelists(qreal density);
  void boardrescaled();
  void showselection();
  void clearbone(int bone);
  // A click on the highlight's rim, or a key on a slot: meant for the bone lying there.
  void highlitereleased();
  void activated(int slot);

  TFlatPanel* frame_ = nullptr;
  TFlatPanel* area_ = nullptr;
  BoardScale* scale_ = nullptr;
  BoardCursor* cursor_ = nullptr;
  BoardKeys* keys_ = nullptr;
  BoardAccess* access_ = nullptr;

  // Components, by their names. Families are indexed by their number (index 0 unused).
  QLabel* Image2 = nullptr;
  std::array<TShape*, game::kSlotCount + 1> shape{};
  std::array<TBone*, game::kBoneCount + 1> bone{};
  TShape* shape_highlite = nullptr;
  QLabel* Image1 = nullptr;
  QLabel* image_timer = nullptr;
  QLabel* label_timer = nullptr;
  // The bone pictures are drawn from these: one blank face and the pip squares 0 to 9.
  QPixmap imagelist_back_h;
  std::array<QPixmap, 10> imagelist_dots_h;

  // What is on show: the board last handed, its selected bone, and the bar's drawn length.
  game::Board board_{};
  int selected_ = 0;
  int barwidth_ = 0;
  // Whether the clock shown is in its warning, so the warning is said once as it begins.
  bool warned_ = false;
};
