#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <cstddef>
#include <optional>

#include "game/board.h"
#include "game/solver.h"

class QTimer;
class BoardView;
class DealSolver;

// Show Solution: a deal's fewest placements, found on a worker thread once a game of it is over,
// and played back on the board view from the deal's first board, one placement at a time. It
// plays on the pictures only: the game, its clicks and score, the tally and the top ten stay as
// the game left them. The board it plays is just another board handed to the view, which keeps
// it on show, through a change of scale too, until the next game hands its own.
class SolutionReplay : public QObject {
  Q_OBJECT

 public:
  // Milliseconds between the placements played back.
  static constexpr int interval = 500;

  explicit SolutionReplay(BoardView* view, QObject* parent = nullptr);

  // The deal's best line: found() at once where it is known already, else once the worker has
  // found it.
  void find(int deal);
  // The best line of that deal once found; none before.
  const game::Solution* best(int deal) const;
  // A new game: the replay stops, forgets what it covered, and a search still running is
  // dropped.
  void reset();

  // Hands the view the first board of the deal last found and starts playing its line.
  // covered: what the owner took off the board for it, handed back by finished() (none: null).
  void play(QWidget* covered);
  // The next placement (each tick of the replay's timer).
  void step();
  bool playing() const;

  DealSolver* solver() const { return solver_; }

 signals:
  void found(int deal);
  // The last placement is on show.
  void finished(QWidget* covered);

 private:
  void solved(int deal, const game::Solution& solution);
  void finish();

  BoardView* view_;
  DealSolver* solver_;
  QTimer* timer_;
  int deal_ = 0;
  std::optional<game::Solution> best_;
  game::Board board_{};
  std::size_t step_ = 0;
  QPointer<QWidget> covered_;
};
