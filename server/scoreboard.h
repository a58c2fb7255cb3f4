// The list as the server keeps it: posts are queued and committed together by one thread (one
// disk flush for all the posts that arrived meanwhile), and the high-score page is kept rendered
// in memory, rebuilt only when a post changes the best 100 or another server on the same
// database reports a change. A page view costs no query.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/scoredb.h"

namespace pipshiftserver {

class ScoreBoard {
 public:
  struct Settings {
    // How often the store is asked whether another server changed the list: the longest a page
    // may lag behind a post made through another server.
    std::chrono::milliseconds watchInterval{200};
    // The most posts committed in one transaction.
    std::size_t maxBatch = 256;
  };
  using Done = std::function<void(bool stored)>;

  // Reads the best list and renders the page; throws DbError when the store cannot be read.
  explicit ScoreBoard(std::unique_ptr<ScoreStore> store);
  ScoreBoard(std::unique_ptr<ScoreStore> store, Settings settings);
  ~ScoreBoard();
  ScoreBoard(const ScoreBoard&) = delete;
  ScoreBoard& operator=(const ScoreBoard&) = delete;

  std::shared_ptr<const std::string> page() const;

  // Queues a checked entry. `done` runs on the board's thread once the entry is committed (true)
  // or could not be (false); when it says true, page() already shows the entry if it ranks.
  void post(ScoreEntry entry, Done done);

  // Commits what is queued and ends the thread. Later posts are refused at once.
  void stop();

 private:
  struct Pending {
    ScoreEntry entry;
    Done done;
  };
  void work();
  bool ranks(const ScoreEntry& entry) const;
  void refresh();

  std::unique_ptr<ScoreStore> store_;
  Settings settings_;

  mutable std::mutex pageMutex_;
  std::shared_ptr<const std::string> page_;

  std::mutex queueMutex_;
  std::condition_variable queued_;
  std::deque<Pending> queue_;
  bool stopping_ = false;

  // Owned by the board's thread after construction.
  std::vector<ScoreEntry> best_;
  bool stale_ = false;

  std::thread thread_;
};

}  // namespace pipshiftserver
