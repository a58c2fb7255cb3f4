// The list as the server keeps it: posts are queued and committed in groups (one disk flush for
// all the posts that arrived meanwhile), and the high-score page is kept rendered in memory,
// rebuilt only when a post changes the best 100 or another server on the same database reports
// a change. A page view costs no query.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/failurelog.h"
#include "server/scoredb.h"

namespace pipshiftserver {

struct BoardSettings {
  // How often the store is asked whether another server changed the list: the longest a page
  // may lag behind a post made through another server.
  std::chrono::milliseconds watchinterval{200};
  // The most posts committed in one transaction.
  std::size_t maxbatch = 256;
};

class ScoreBoard {
 public:
  using Settings = BoardSettings;
  using Done = std::function<void(bool stored)>;

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

  // Queues a checked entry. `done` runs on a board thread once the entry is committed (true) or
  // could not be (false); when it says true, page() already shows the entry if it ranks.
  void post(ScoreEntry entry, Done done);

  // Commits what is queued and ends the threads. Later posts are refused at once.
  void stop();

 private:
  struct Pending {
    ScoreEntry entry;
    Done done;
  };
  void work(std::size_t writer);
  bool ranks(const ScoreEntry& entry) const;
  void merge(const std::vector<ScoreEntry>& added);
  void publish();
  void refresh(ScoreStore& store);

  std::vector<std::unique_ptr<ScoreStore>> stores_;
  Settings settings_;

  mutable std::mutex pagemutex_;
  std::shared_ptr<const std::string> page_;

  std::mutex queuemutex_;
  std::condition_variable queued_;
  std::deque<Pending> queue_;
  bool stopping_ = false;

  // The best list as last known; guarded by listmutex_.
  std::mutex listmutex_;
  std::vector<ScoreEntry> best_;
  bool stale_ = false;

  FailureLog failures_{std::cerr};
  std::vector<std::thread> threads_;
};

}  // namespace pipshiftserver
