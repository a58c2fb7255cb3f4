#include "shell/dealsolver.h"

#include <QMetaObject>

#include "game/deal.h"

DealSolver::DealSolver(QObject* parent) : QObject(parent) {}

DealSolver::~DealSolver() {
  for (auto& job : jobs_) job->cancel = true;
  for (auto& job : jobs_) job->thread.join();
}

void DealSolver::solve(int deal) {
  abandon();
  const std::uint64_t request = ++request_;
  auto job = std::make_unique<Job>();
  Job* mine = job.get();
  job->thread = std::thread([this, mine, deal, request] {
    game::SolverOptions options;
    options.cancel = &mine->cancel;
    try {
      const game::Solution solution = game::solve(game::dealboard(deal), options);
      if (!solution.cancelled) {
        // Runs on the user-interface thread, and not at all once this object is gone.
        QMetaObject::invokeMethod(
            this,
            [this, deal, request, solution] {
              if (request == request_) emit solved(deal, solution);
            },
            Qt::QueuedConnection);
      }
    } catch (const std::exception&) {
      // Out of memory: the deal simply gets no answer.
    }
    mine->done = true;
  });
  jobs_.push_back(std::move(job));
}

void DealSolver::abandon() {
  ++request_;
  for (auto& job : jobs_) job->cancel = true;
  reap();
}

int DealSolver::running() const {
  int count = 0;
  for (const auto& job : jobs_) count += !job->done;
  return count;
}

void DealSolver::reap() {
  std::erase_if(jobs_, [](const std::unique_ptr<Job>& job) {
    if (!job->done) return false;
    job->thread.join();
    return true;
  });
}
