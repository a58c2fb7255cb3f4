#pragma once

#include <QObject>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "game/coach.h"
#include "game/game.h"
#include "game/solver.h"

// Runs the solver on worker threads, so that no click waits for it, and hands the answers to the
// user-interface thread. There are three kinds of request: a deal's fewest placements, a board's
// with the clicks left, and the analysis of a game that has ended. A new request drops the one
// before of its kind, and abandon() (the board changed) drops them all: their threads are told
// to stop and their answers never arrive. Nothing here waits for a search, save the destructor,
// which stops and joins every thread it started so that a window may close while a search runs;
// a stopped search ends within its next look at its flag, a few milliseconds.
class DealSolver : public QObject {
  Q_OBJECT

 public:
  // How a board is solved: game::solve, or what a test puts in its place (a search held back
  // on purpose, to show the window going on meanwhile).
  using SolveFunction =
      std::function<game::Solution(const game::Board&, const game::SolverOptions&)>;

  explicit DealSolver(QObject* parent = nullptr);
  ~DealSolver() override;

  // Solves the deal's starting board with a full game's clicks.
  void solve(int deal);
  // Solves a board with the clicks left; the answer comes as boardsolved().
  void solveboard(const game::Board& board, int clicksleft);
  // Finds where an ended game was lost, or how far over the best a won one went.
  void analyse(const game::Game& game);
  // The board changed: every answer still to come is dropped.
  void abandon();
  // The game is over: the boards' answers still to come are dropped, the others still come.
  void dropboards();
  // Threads still running, the abandoned ones included.
  int running() const;

  void setsolvefunction(SolveFunction function) { solvefunction_ = std::move(function); }

 signals:
  // On the user-interface thread, for the last request of each kind only.
  void solved(int deal, const game::Solution& solution);
  void boardsolved(const game::Board& board, int clicksleft, const game::Solution& solution);
  void analysed(const game::GameAnalysis& analysis);

 private:
  enum Kind { dealjob, boardjob, analysisjob, kinds };
  struct Job {
    std::atomic<bool> cancel{false};
    std::atomic<bool> done{false};
    Kind kind = dealjob;
    std::thread thread;
  };
  // Drops the running requests of a kind and returns the new request's number.
  std::uint64_t begin(Kind kind);
  // Starts work on a thread of its own; work gets the job's cancel flag and returns the call
  // that delivers its answer, or none.
  void start(Kind kind, std::function<std::function<void()>(const std::atomic<bool>&)> work);
  // True while the request is the last of its kind.
  bool current(Kind kind, std::uint64_t request) const { return latest_[kind] == request; }
  // Joins the threads that have finished.
  void reap();

  std::vector<std::unique_ptr<Job>> jobs_;
  // Counts requests of each kind; an answer is delivered only while its request is the last.
  std::array<std::uint64_t, kinds> latest_{};
  SolveFunction solvefunction_;
};
