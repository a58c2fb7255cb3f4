// How many score posts one address may make: at most N in any 60 seconds. Addresses that have
// not posted for a minute are forgotten, so the table stays as small as the traffic.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>

namespace pipshiftserver {

class PostLimiter {
 public:
  using Clock = std::chrono::steady_clock;
  using Now = std::function<Clock::time_point()>;

  // perMinute 0 means no limit.
  explicit PostLimiter(unsigned perMinute, Now now = Clock::now);

  // Counts a post from `address`; false when the address has had its share of the last
  // minute. retryAfter then tells the whole seconds until it may post again.
  bool admit(const std::string& address, int* retryAfter = nullptr);

  std::size_t tracked() const;

 private:
  // An IPv6 client usually owns a whole /64; counting each of its addresses apart would let it
  // post without end.
  static std::string key(const std::string& address);
  void prune(Clock::time_point now);

  unsigned perMinute_;
  Now now_;
  mutable std::mutex mutex_;
  std::unordered_map<std::string, std::deque<Clock::time_point>> recent_;
  std::size_t pruneAt_ = 1024;
};

}  // namespace pipshiftserver
