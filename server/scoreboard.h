// The list as the server keeps it: posts are queued and committed in groups (one disk flush for
// all the posts that arrived meanwhile), and the high-score page is kept rendered in memory,
// rebuilt only when a post changes the best 100 or another server on the same database reports
// a change. A page view costs no query. So are the pages of verified scores and of the deal of
// the day, rebuilt when an entry is marked verified or the day (in UTC) changes; the solver
// works out the day's best line once a day, on a thread of its own, never for a page view.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "server/failurelog.h"
#include "server/scorestore.h"
#include "server/verifiedpages.h"

namespace pipshiftserver {

struct BoardSettings {
  // How often the store is asked whether another server changed the list: the longest a page
  // may lag behind a post made through another server.
  std::chrono::milliseconds watchinterval{200};
  // The most posts committed in one transaction.
  std::size_t maxbatch = 256;
  // The time, which says which day (UTC) it is and so the deal of the day.
  std::function<std::chrono::system_clock::time_point()> now = std::chrono::system_clock::now;
};

// The day of a moment in UTC, as "YYYY-MM-DD".
std::string utcday(std::chrono::system_clock::time_point when);

class ScoreBoard {
 public:
  using Settings = BoardSettings;
  using Done = std::function<void(bool stored)>;
  // The same, with the stored row's id.
  using Numbered = std::function<void(bool stored, std::int64_t id)>;

  // One writing thread per store given, each committing groups of its own: a database server
  // flushes concurrent commits together, so several writers keep its disk busy. The first store
  // also watches for changes made elsewhere. Reads the best list and renders the page; throws
  // DbError when the store cannot be read.
  explicit ScoreBoard(std::vector<std::unique_ptr<ScoreStore>> stores, Settings settings = {});
  explicit ScoreBoard(std::unique_ptr<ScoreStore> store, Settings settings = {});
  ~ScoreBoard();
  ScoreBoard(const ScoreBoard&) = delete;
  ScoreBoard& operator=(const ScoreBoard&) = delete;

  std::shared_ptr<const std::string> page() const;
  std::shared_ptr<const std::string> verifiedpage() const;
  std::shared_ptr<const std::string> dailypage() const;

  // Queues a checked entry. `done` runs on a board thread once the entry is committed (true) or
  // could not be (false); when it says true, page() already shows the entry if it ranks.
  void post(ScoreEntry entry, Done done);
  void postnumbered(ScoreEntry entry, Numbered done);
  // Queues the verified mark of a stored entry; `done` runs once it is committed (true) or could
  // not be, and then every page already shows it.
  void markverified(Verification mark, Done done);

  // Today's day (UTC, "YYYY-MM-DD") and its deal, by the board's clock.
  std::string today() const;

  // Commits what is queued and ends the threads. Later posts are refused at once.
  void stop();

 private:
  struct Pending {
    ScoreEntry entry;
    Numbered done;
    std::optional<Verification> mark;
  };
  void work(std::size_t writer);
  bool ranks(const ScoreEntry& entry) const;
  void merge(const std::vector<ScoreEntry>& added);
  void publish();
  void publishverified();
  void publishdaily();
  // Reloads every list from the store; with listmutex_ held.
  void refresh(ScoreStore& store);
  // Moves on to a new day when the clock has: its deal, its list, its best line asked for.
  void followday(ScoreStore& store);
  void solvedaily();

  std::vector<std::unique_ptr<ScoreStore>> stores_;
  Settings settings_;

  mutable std::mutex pagemutex_;
  std::shared_ptr<const std::string> page_;
  std::shared_ptr<const std::string> verifiedpage_;
  std::shared_ptr<const std::string> dailypage_;

  std::mutex queuemutex_;
  std::condition_variable queued_;
  std::deque<Pending> queue_;
  bool stopping_ = false;

  // The best list as last known; guarded by listmutex_.
  std::mutex listmutex_;
  std::vector<ScoreEntry> best_;
  std::vector<ScoreEntry> verified_;
  std::vector<ScoreEntry> daily_;
  std::string day_;
  int dailydeal_ = 0;
  DailyBest dailybest_;
  bool stale_ = false;

  // The solver's thread: the day whose best line is wanted, and the answers of recent days.
  std::mutex solvemutex_;
  std::condition_variable solvewanted_;
  std::string solveday_;
  std::map<std::string, DailyBest> solved_;
  std::atomic<bool> cancelsolve_{false};
  std::thread solver_;

  FailureLog failures_{std::cerr};
  std::vector<std::thread> threads_;
};

}  // namespace pipshiftserver
