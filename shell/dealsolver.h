#pragma once

#include <QObject>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "game/solver.h"

// Finds a deal's fewest placements on a worker thread, so that no click waits for it, and hands
// the answer to the user-interface thread. A new request, or abandon(), drops the one before: its
// thread is told to stop and its answer never arrives. Destroying the solver stops and joins
// every thread it started, so a window may close while a search runs.
class DealSolver : public QObject {
  Q_OBJECT

 public:
  explicit DealSolver(QObject* parent = nullptr);
  ~DealSolver() override;

  // Solves the deal's starting board with a full game's clicks.
  void solve(int deal);
  void abandon();
  // Threads still running, the abandoned ones included.
  int running() const;

 signals:
  // On the user-interface thread, for the deal last asked for only.
  void solved(int deal, const game::Solution& solution);

 private:
  struct Job {
    std::atomic<bool> cancel{false};
    std::atomic<bool> done{false};
    std::thread thread;
  };
  // Joins the threads that have finished.
  void reap();

  std::vector<std::unique_ptr<Job>> jobs_;
  // Counts requests; an answer is delivered only while its request is the last one.
  std::uint64_t request_ = 0;
};
