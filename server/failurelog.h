// What the server says on standard error when its database fails, without filling the log while
// the database stays down: the watcher asks it several times a second.
#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>

namespace pipshiftserver {

class FailureLog {
 public:
  using Clock = std::chrono::steady_clock;

  // A failure is written at once, unless a failure was written less than `quiet` ago: then it is
  // only counted, and the next line written says how many went unsaid. The first success after a
  // written failure says that the database is back. At most two lines every `quiet`, however
  // often the database is asked.
  explicit FailureLog(std::ostream& out, std::chrono::seconds quiet = std::chrono::seconds(30));

  void failed(const std::string& what, Clock::time_point now = Clock::now());
  void succeeded();

 private:
  std::mutex mutex_;
  std::ostream& out_;
  const std::chrono::seconds quiet_;
  bool failing_ = false;
  std::optional<Clock::time_point> written_;
  std::size_t unsaid_ = 0;
};

}  // namespace pipshiftserver
