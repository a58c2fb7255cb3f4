#include "server/scoreboard.h"

#include <algorithm>
#include <iostream>

namespace pipshiftserver {

namespace {

std::vector<std::unique_ptr<ScoreStore>> single(std::unique_ptr<ScoreStore> store) {
  std::vector<std::unique_ptr<ScoreStore>> stores;
  stores.push_back(std::move(store));
  return stores;
}

}  // namespace

ScoreBoard::ScoreBoard(std::unique_ptr<ScoreStore> store, Settings settings)
    : ScoreBoard(single(std::move(store)), settings) {}

ScoreBoard::ScoreBoard(std::vector<std::unique_ptr<ScoreStore>> stores, Settings settings)
    : stores_(std::move(stores)), settings_(settings) {
  if (stores_.empty()) throw DbError("no score store");
  stores_[0]->changedelsewhere();  // start counting from now
  best_ = stores_[0]->best(kListLength);
  page_ = std::make_shared<const std::string>(renderscorepage(best_));
  for (std::size_t i = 0; i < stores_.size(); ++i) threads_.emplace_back([this, i] { work(i); });
}

ScoreBoard::~ScoreBoard() {
  stop();
}

std::shared_ptr<const std::string> ScoreBoard::page() const {
  std::lock_guard lock(pagemutex_);
  return page_;
}

void ScoreBoard::post(ScoreEntry entry, Done done) {
  {
    std::lock_guard lock(queuemutex_);
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
    std::lock_guard lock(queuemutex_);
    stopping_ = true;
    queued_.notify_all();
  }
  for (std::thread& t : threads_) {
    if (t.joinable()) t.join();
  }
}

bool ScoreBoard::ranks(const ScoreEntry& entry) const {
  // Among equal scores the earlier post ranks higher, so a tie with the last place does not.
  return best_.size() < kListLength || entry.score > best_.back().score;
}

void ScoreBoard::merge(const std::vector<ScoreEntry>& added) {
  // New rows rank after the stored ones of equal score, in the order they were added, as the
  // store ranks them: with one writer, rows are numbered in the order they are committed.
  for (const ScoreEntry& entry : added) {
    if (!ranks(entry)) continue;
    const auto at =
        std::upper_bound(best_.begin(), best_.end(), entry.score,
                         [](int score, const ScoreEntry& e) { return score > e.score; });
    best_.insert(at, entry);
    if (best_.size() > kListLength) best_.pop_back();
  }
  publish();
}

void ScoreBoard::publish() {
  auto page = std::make_shared<const std::string>(renderscorepage(best_));
  std::lock_guard lock(pagemutex_);
  page_ = std::move(page);
}

void ScoreBoard::refresh(ScoreStore& store) {
  try {
    std::vector<ScoreEntry> best = store.best(kListLength);
    failures_.succeeded();
    stale_ = false;
    if (best == best_) return;
    best_ = std::move(best);
    publish();
  } catch (const DbError& e) {
    // The old page stays up; the next round tries again.
    stale_ = true;
    failures_.failed(e.what());
  }
}

void ScoreBoard::work(std::size_t writer) {
  ScoreStore& store = *stores_[writer];
  const bool watcher = writer == 0;
  // Several writers commit side by side, so their rows are not numbered in the order they are
  // answered: a ranking group is then read back rather than merged in.
  const bool readBack = stores_.size() > 1;
  auto nextWatch = std::chrono::steady_clock::now() + settings_.watchinterval;
  std::unique_lock lock(queuemutex_);
  for (;;) {
    if (watcher) {
      queued_.wait_until(lock, nextWatch, [this] { return stopping_ || !queue_.empty(); });
    } else {
      queued_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    }
    if (queue_.empty() && stopping_) break;
    std::vector<Pending> batch;
    while (!queue_.empty() && batch.size() < settings_.maxbatch) {
      batch.push_back(std::move(queue_.front()));
      queue_.pop_front();
    }
    lock.unlock();

    bool stored = true;
    if (!batch.empty()) {
      std::vector<ScoreEntry> entries;
      entries.reserve(batch.size());
      bool ranking = false;
      {
        std::lock_guard list(listmutex_);
        for (Pending& p : batch) {
          ranking = ranking || ranks(p.entry);
          entries.push_back(p.entry);
        }
      }
      try {
        store.add(entries, ranking);
        failures_.succeeded();
        if (ranking) {
          std::lock_guard list(listmutex_);
          if (readBack) {
            refresh(store);
          } else {
            merge(entries);
          }
        }
      } catch (const DbError& e) {
        stored = false;
        failures_.failed(e.what());
      }
    }
    if (watcher) {
      const auto now = std::chrono::steady_clock::now();
      bool changed = false;
      if (now >= nextWatch) {
        try {
          changed = store.changedelsewhere();
          failures_.succeeded();
        } catch (const DbError& e) {
          failures_.failed(e.what());
        }
        nextWatch = now + settings_.watchinterval;
      }
      std::lock_guard list(listmutex_);
      if (changed || stale_) refresh(store);
    }
    // Answer only now, so the poster's next look at the list shows the score.
    for (Pending& p : batch) p.done(stored);
    lock.lock();
  }
}

}  // namespace pipshiftserver
