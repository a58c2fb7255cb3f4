#include "shell/dealsolver.h"

#include <QMetaObject>

#include "game/deal.h"

DealSolver::DealSolver(QObject* parent) : QObject(parent) {}

DealSolver::~DealSolver() {
  for (auto& job : jobs_) job->cancel = true;
  for (auto& job : jobs_) job->thread.join();
}

std::uint64_t DealSolver::begin(Kind kind) {
  for (auto& job : jobs_) {
    if (job->kind == kind) job->cancel = true;
  }
  reap();
  return ++latest_[kind];
}

void DealSolver::start(Kind kind,
                       std::function<std::function<void()>(const std::atomic<bool>&)> work) {
  auto job = std::make_unique<Job>();
  job->kind = kind;
  Job* mine = job.get();
  job->thread = std::thread([this, mine, work = std::move(work)] {
    try {
      if (std::function<void()> deliver = work(mine->cancel); deliver && !mine->cancel) {
        // Runs on the user-interface thread, and not at all once this object is gone.
        QMetaObject::invokeMethod(this, std::move(deliver), Qt::QueuedConnection);
      }
    } catch (const std::exception&) {
      // Out of memory: the request simply gets no answer.
    }
    mine->done = true;
  });
  jobs_.push_back(std::move(job));
}

void DealSolver::solve(int number) {
  const std::uint64_t request = begin(dealjob);
  const SolveFunction function = solvefunction_;
  start(dealjob, [this, number, request, function](const std::atomic<bool>& cancel) {
    game::SolverOptions options;
    options.cancel = &cancel;
    const game::Board first = game::dealboard(number);
    const game::Solution solution =
        function ? function(first, options) : game::solve(first, options);
    std::function<void()> deliver;
    if (!solution.cancelled) {
      deliver = [this, number, request, solution] {
        if (current(dealjob, request)) emit solved(number, solution);
      };
    }
    return deliver;
  });
}

void DealSolver::solveboard(const game::Board& position, int clicksleft) {
  const std::uint64_t request = begin(boardjob);
  const SolveFunction function = solvefunction_;
  start(boardjob, [this, position, clicksleft, request, function](const std::atomic<bool>& cancel) {
    game::SolverOptions options;
    options.cancel = &cancel;
    options.clicksleft = clicksleft;
    const game::Solution solution =
        function ? function(position, options) : game::solve(position, options);
    std::function<void()> deliver;
    if (!solution.cancelled) {
      deliver = [this, position, clicksleft, request, solution] {
        if (current(boardjob, request)) emit boardsolved(position, clicksleft, solution);
      };
    }
    return deliver;
  });
}

void DealSolver::analyse(const game::Game& game) {
  const std::uint64_t request = begin(analysisjob);
  // The game goes on changing on this thread; the worker gets its own copy of the record.
  const game::GamePath path = game::gamepath(game);
  start(analysisjob, [=, this](const std::atomic<bool>& cancel) {
    game::SolverOptions options;
    options.cancel = &cancel;
    const game::GameAnalysis found = game::analysegame(path, options);
    std::function<void()> deliver;
    if (found.complete) {
      deliver = [this, request, found] {
        if (current(analysisjob, request)) emit analysed(found);
      };
    }
    return deliver;
  });
}

void DealSolver::abandon() {
  for (std::uint64_t& latest : latest_) ++latest;
  for (auto& job : jobs_) job->cancel = true;
  reap();
}

void DealSolver::dropboards() {
  begin(boardjob);
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
