#include "shell/solutionreplay.h"

#include <QTimer>

#include "game/deal.h"
#include "shell/boardview.h"
#include "shell/dealsolver.h"

SolutionReplay::SolutionReplay(BoardView* view, QObject* parent)
    : QObject(parent), view_(view), solver_(new DealSolver(this)), timer_(new QTimer(this)) {
  timer_->setObjectName(QStringLiteral("solutiontimer"));
  timer_->setInterval(interval);
  connect(timer_, &QTimer::timeout, this, &SolutionReplay::step);
  connect(solver_, &DealSolver::solved, this, &SolutionReplay::solved);
}

void SolutionReplay::find(int deal) {
  // A deal played again is already known.
  if (best_ && deal_ == deal) {
    emit found(deal);
    return;
  }
  solver_->solve(deal);
}

void SolutionReplay::solved(int deal, const game::Solution& solution) {
  deal_ = deal;
  best_ = solution;
  emit found(deal);
}

const game::Solution* SolutionReplay::best(int deal) const {
  return best_ && deal_ == deal ? &*best_ : nullptr;
}

void SolutionReplay::reset() {
  timer_->stop();
  covered_ = nullptr;
  solver_->abandon();
}

void SolutionReplay::play(QWidget* covered) {
  if (!best_) return;
  covered_ = covered;
  board_ = game::dealboard(deal_);
  step_ = 0;
  view_->showboard(board_, 0);
  timer_->start();
}

bool SolutionReplay::playing() const {
  return timer_->isActive();
}

void SolutionReplay::step() {
  if (!best_ || step_ >= best_->placements.size()) {
    finish();
    return;
  }
  const game::Placement placement = best_->placements[step_++];
  game::clearbone(board_, placement.bone);
  const game::Point target = game::getcoords(placement.slot);
  board_[target.x][target.y] = placement.bone;
  view_->showboard(board_, 0);
  if (step_ == best_->placements.size()) finish();
}

void SolutionReplay::finish() {
  timer_->stop();
  emit finished(covered_);
}
