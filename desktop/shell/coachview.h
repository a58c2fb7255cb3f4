#pragma once

#include <QObject>
#include <QString>

#include <optional>

#include "game/board.h"
#include "game/coach.h"
#include "game/game.h"
#include "game/solver.h"

class QAction;
class QLabel;
class QMenu;
class BoardView;
class DealSolver;

// What the exact solver tells the player in the window, never in the way of the game:
//
// - Best Move (View menu, H): the first placement of a shortest winning line from the board as
//   it stands, with the clicks left. Its bone is picked up, which costs nothing, its target slot
//   marked as the hints mark a slot, and both said on the coach line; or "No win is left from
//   here." It changes no rule: the player still makes the placement, or another.
// - Show Winnable (View menu, a mark): beside the deal number, the fewest placements that still
//   win from the board as it stands, or that none does.
// - Once a game has ended, where it was lost, or how far over the best a won game went, on the
//   coach line.
//
// Every answer comes from the solver's worker threads. It is used only while it is about the
// board on show: an answer for a board the game has moved on from is dropped, so the window
// never waits for a search and never shows a stale one.
//
// The coach line stands on the board at its right, between the top rows and the score, where
// neither the board's slots nor an overlay panel ever cover it. To a screen reader it is a
// notice: each new text is spoken when it appears.
class CoachView : public QObject {
  Q_OBJECT

 public:
  // menu: where the two commands go. The game is the window's, read each time it is needed.
  CoachView(BoardView* view, DealSolver* solver, const game::Game& game, QMenu* menu,
            QObject* parent = nullptr);

  // A new game, or a placement: what was said of the board before goes, the answers still to
  // come for it are dropped, and what Show Winnable asks is asked again.
  void boardchanged();
  // The game is over: Best Move has nothing more to say, and the game's analysis is asked for.
  void gameended();

  // The command: answered at once when the board's answer is known, else once it comes.
  void bestmove();

  bool winnableon() const;
  void setwinnableon(bool on);
  // "Best from here: 23" or "No win left" while Show Winnable is on and the game's board has
  // been solved; empty otherwise.
  QString winnabletext() const { return winnable_; }

  QLabel* line() const { return line_; }

 signals:
  // Best Move wants this bone picked up: the window selects it in the game and draws it so.
  void pickup(int bone);
  // winnabletext() has changed.
  void winnablechanged();

 private:
  // A board and the clicks left on it: what a board answer belongs to.
  struct Position {
    game::Board board{};
    int clicks = 0;
    bool operator==(const Position&) const = default;
  };
  Position now() const;
  bool playing() const;
  // Asks for the board as it stands, unless that is already being solved.
  void ask();
  void boardsolved(const game::Board& board, int clicksleft, const game::Solution& solution);
  void analysed(const game::GameAnalysis& analysis);
  void showbest(const game::Solution& solution);
  void setwinnable(const QString& text);
  // Shows a text on the coach line and has a reader speak it; empty hides the line.
  void say(const QString& text);

  BoardView* view_;
  DealSolver* solver_;
  const game::Game& game_;
  QLabel* line_ = nullptr;
  QAction* bestmove_ = nullptr;
  QAction* showwinnable_ = nullptr;

  // The board asked about and not yet answered; the last answer, for the board on show only.
  std::optional<Position> asked_;
  std::optional<Position> answered_;
  game::Solution answer_;
  // Best Move was given and waits for the answer.
  bool bestwanted_ = false;
  // The analysis asked for belongs to the game on show.
  bool analysing_ = false;
  QString winnable_;
};
