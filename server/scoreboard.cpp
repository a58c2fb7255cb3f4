#include "server/scoreboard.h"

#include <iostream>

namespace pipshiftserver {

ScoreBoard::ScoreBoard(std::unique_ptr<ScoreStore> store)
    : ScoreBoard(std::move(store), Settings()) {}

ScoreBoard::ScoreBoard(std::unique_ptr<ScoreStore> store, Settings settings)
    : store_(std::move(store)), settings_(settings) {
  store_->changedElsewhere();  // start counting from now
  best_ = store_->best(kListLength);
  page_ = std::make_shared<const std::string>(renderScorePage(best_));
  thread_ = std::thread([this] { work(); });
}

ScoreBoard::~ScoreBoard() {
  stop();
}

std::shared_ptr<const std::string> ScoreBoard::page() const {
  std::lock_guard lock(pageMutex_);
  return page_;
}

void ScoreBoard::post(ScoreEntry entry, Done done) {
  {
    std::lock_guard lock(queueMutex_);
    if (!stopping_) {
      queue_.push_back(Pending{std::move(entry), std::move(done)});
      queued_.notify_one();
      return;
    }
  }
  done(false);
}

void ScoreBoard::stop() {
  {
    std::lock_guard lock(queueMutex_);
    stopping_ = true;
    queued_.notify_one();
  }
  if (thread_.joinable()) thread_.join();
}

bool ScoreBoard::ranks(const ScoreEntry& entry) const {
  // Among equal scores the earlier post ranks higher, so a tie with the last place does not.
  return best_.size() < kListLength || entry.score > best_.back().score;
}

void ScoreBoard::refresh() {
  try {
    std::vector<ScoreEntry> best = store_->best(kListLength);
    stale_ = false;
    if (best == best_) return;
    best_ = std::move(best);
    auto page = std::make_shared<const std::string>(renderScorePage(best_));
    std::lock_guard lock(pageMutex_);
    page_ = std::move(page);
  } catch (const DbError& e) {
    // The old page stays up; the next round tries again.
    stale_ = true;
    std::cerr << "pipshift-server: " << e.what() << std::endl;
  }
}

void ScoreBoard::work() {
  auto nextWatch = std::chrono::steady_clock::now() + settings_.watchInterval;
  std::unique_lock lock(queueMutex_);
  for (;;) {
    queued_.wait_until(lock, nextWatch, [this] { return stopping_ || !queue_.empty(); });
    if (queue_.empty() && stopping_) break;
    std::vector<Pending> batch;
    while (!queue_.empty() && batch.size() < settings_.maxBatch) {
      batch.push_back(std::move(queue_.front()));
      queue_.pop_front();
    }
    lock.unlock();

    bool stored = true;
    bool changed = stale_;
    if (!batch.empty()) {
      std::vector<ScoreEntry> entries;
      entries.reserve(batch.size());
      bool ranking = false;
      for (Pending& p : batch) {
        ranking = ranking || ranks(p.entry);
        entries.push_back(p.entry);
      }
      try {
        store_->add(entries, ranking);
        changed = changed || ranking;
      } catch (const DbError& e) {
        stored = false;
        std::cerr << "pipshift-server: " << e.what() << std::endl;
      }
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= nextWatch) {
      try {
        changed = store_->changedElsewhere() || changed;
      } catch (const DbError& e) {
        std::cerr << "pipshift-server: " << e.what() << std::endl;
      }
      nextWatch = now + settings_.watchInterval;
    }
    if (changed) refresh();
    // Answer only now, so the poster's next look at the list shows the score.
    for (Pending& p : batch) p.done(stored);
    lock.lock();
  }
}

}  // namespace pipshiftserver
