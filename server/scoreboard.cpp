#include "server/scoreboard.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <utility>

#include "game/deal.h"
#include "game/record.h"
#include "game/solver.h"

namespace pipshiftserver {

namespace {

std::vector<std::unique_ptr<ScoreStore>> single(std::unique_ptr<ScoreStore> store) {
  std::vector<std::unique_ptr<ScoreStore>> stores;
  stores.push_back(std::move(store));
  return stores;
}

// Answers of this many days are kept: yesterday's page may still be asked for at midnight.
constexpr std::size_t kSolvedDaysKept = 4;

}  // namespace

std::string utcday(std::chrono::system_clock::time_point when) {
  const std::chrono::year_month_day date{std::chrono::floor<std::chrono::days>(when)};
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
  return text;
}

ScoreBoard::ScoreBoard(std::unique_ptr<ScoreStore> store, Settings settings)
    : ScoreBoard(single(std::move(store)), settings) {}

ScoreBoard::ScoreBoard(std::vector<std::unique_ptr<ScoreStore>> stores, Settings settings)
    : stores_(std::move(stores)), settings_(settings) {
  if (stores_.empty()) throw DbError("no score store");
  stores_[0]->changedelsewhere();  // start counting from now
  best_ = stores_[0]->best(kListLength);
  verified_ = stores_[0]->bestverified(kListLength);
  page_ = std::make_shared<const std::string>(renderscorepage(best_));
  verifiedpage_ = std::make_shared<const std::string>(renderverifiedpage(verified_));
  solver_ = std::thread([this] { solvedaily(); });
  try {
    followday(*stores_[0]);
  } catch (...) {
    stop();
    throw;
  }
  for (std::size_t i = 0; i < stores_.size(); ++i) threads_.emplace_back([this, i] { work(i); });
}

ScoreBoard::~ScoreBoard() {
  stop();
}

std::shared_ptr<const std::string> ScoreBoard::page() const {
  std::lock_guard lock(pagemutex_);
  return page_;
}

std::shared_ptr<const std::string> ScoreBoard::verifiedpage() const {
  std::lock_guard lock(pagemutex_);
  return verifiedpage_;
}

std::shared_ptr<const std::string> ScoreBoard::dailypage() const {
  std::lock_guard lock(pagemutex_);
  return dailypage_;
}

std::string ScoreBoard::today() const {
  return utcday(settings_.now());
}

void ScoreBoard::post(ScoreEntry entry, Done done) {
  postnumbered(std::move(entry),
               [done = std::move(done)](bool stored, std::int64_t) { done(stored); });
}

void ScoreBoard::postnumbered(ScoreEntry entry, Numbered done) {
  {
    std::lock_guard lock(queuemutex_);
    if (!stopping_) {
      queue_.push_back(Pending{std::move(entry), std::move(done), std::nullopt});
      queued_.notify_one();
      return;
    }
  }
  done(false, 0);
}

void ScoreBoard::markverified(Verification mark, Done done) {
  {
    std::lock_guard lock(queuemutex_);
    if (!stopping_) {
      queue_.push_back(Pending{
          ScoreEntry{}, [done = std::move(done)](bool stored, std::int64_t) { done(stored); },
          std::move(mark)});
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
  {
    std::lock_guard lock(solvemutex_);
    cancelsolve_ = true;
    solvewanted_.notify_all();
  }
  if (solver_.joinable()) solver_.join();
}

void ScoreBoard::publishverified() {
  auto page = std::make_shared<const std::string>(renderverifiedpage(verified_));
  std::lock_guard lock(pagemutex_);
  verifiedpage_ = std::move(page);
}

void ScoreBoard::publishdaily() {
  auto page =
      std::make_shared<const std::string>(renderdailypage(dailydeal_, day_, dailybest_, daily_));
  std::lock_guard lock(pagemutex_);
  dailypage_ = std::move(page);
}

void ScoreBoard::followday(ScoreStore& store) {
  const auto now = settings_.now();
  const std::string day = utcday(now);
  if (day == day_) return;
  const int deal = game::dailydeal(now);
  daily_ = store.bestofday(deal, day, kListLength);
  day_ = day;
  dailydeal_ = deal;
  {
    std::lock_guard lock(solvemutex_);
    const auto known = solved_.find(day);
    dailybest_ = known != solved_.end() ? known->second : DailyBest{};
    if (!dailybest_.known) {
      solveday_ = day;
      solvewanted_.notify_all();
    }
  }
  publishdaily();
}

void ScoreBoard::solvedaily() {
  std::unique_lock lock(solvemutex_);
  for (;;) {
    solvewanted_.wait(lock, [this] { return cancelsolve_ || !solveday_.empty(); });
    if (cancelsolve_) return;
    const std::string day = std::exchange(solveday_, std::string());
    // The deal of the day named, whatever the clock says by now.
    int year = 0;
    unsigned month = 0, date = 0;
    std::sscanf(day.c_str(), "%d-%u-%u", &year, &month, &date);
    const std::chrono::sys_days when{std::chrono::year{year} / std::chrono::month{month} /
                                     std::chrono::day{date}};
    lock.unlock();
    DailyBest best;
    try {
      game::SolverOptions options;
      options.cancel = &cancelsolve_;
      const game::Solution solution = game::solve(game::dealboard(game::dailydeal(when)), options);
      best.known = solution.proven;
      if (solution.solved) best.fewest = static_cast<int>(solution.placements.size());
    } catch (const std::exception& e) {
      failures_.failed(std::string("solving the deal of the day: ") + e.what());
    }
    lock.lock();
    if (cancelsolve_) return;
    if (!best.known) continue;
    solved_[day] = best;
    while (solved_.size() > kSolvedDaysKept) solved_.erase(solved_.begin());
    lock.unlock();
    {
      std::lock_guard list(listmutex_);
      if (day == day_) {
        dailybest_ = best;
        publishdaily();
      }
    }
    lock.lock();
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
    std::vector<ScoreEntry> verified = store.bestverified(kListLength);
    std::vector<ScoreEntry> daily = store.bestofday(dailydeal_, day_, kListLength);
    failures_.succeeded();
    stale_ = false;
    if (best != best_) {
      best_ = std::move(best);
      publish();
    }
    if (verified != verified_) {
      verified_ = std::move(verified);
      publishverified();
    }
    if (daily != daily_) {
      daily_ = std::move(daily);
      publishdaily();
    }
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
    bool marked = true;
    std::vector<std::int64_t> ids;
    std::vector<ScoreEntry> entries;
    std::vector<Verification> marks;
    {
      bool ranking = false;
      {
        std::lock_guard list(listmutex_);
        for (Pending& p : batch) {
          if (p.mark) {
            marks.push_back(*p.mark);
          } else {
            ranking = ranking || ranks(p.entry);
            entries.push_back(p.entry);
          }
        }
      }
      if (!entries.empty()) {
        try {
          ids = store.add(entries, ranking);
          failures_.succeeded();
          if (ranking && marks.empty()) {
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
      if (!marks.empty()) {
        try {
          store.markverified(marks);
          failures_.succeeded();
        } catch (const DbError& e) {
          marked = false;
          failures_.failed(e.what());
        }
        // A mark shows on every page, so they are all read back, the new posts' rows with them.
        std::lock_guard list(listmutex_);
        refresh(store);
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
      try {
        followday(store);
      } catch (const DbError& e) {
        failures_.failed(e.what());
      }
      if (changed || stale_) refresh(store);
    }
    // Answer only now, so the poster's next look at the list shows the score.
    std::size_t next = 0;
    for (Pending& p : batch) {
      if (p.mark) {
        p.done(marked, p.mark->id);
      } else {
        p.done(stored, stored ? ids[next++] : 0);
      }
    }
    lock.lock();
  }
}

}  // namespace pipshiftserver
