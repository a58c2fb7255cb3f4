// How many score posts one address may make: at most N in any 60 seconds. Addresses that have
// not posted for a minute are forgotten, so the table stays as small as the traffic, and it never
// holds more than a fixed number of addresses, however many a crowd brings within one minute.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace pipshiftserver {

class PostLimiter {
 public:
  using Clock = std::chrono::steady_clock;
  using Now = std::function<Clock::time_point()>;

  // Far more addresses than post scores in any one minute, and a few tens of megabytes at most.
  static constexpr std::size_t kMaxTracked = 100000;

  // perMinute 0 means no limit. When `maxtracked` addresses are known, the one that has been
  // quiet longest is forgotten to make room: a client that could fill the table with addresses of
  // its own could as well post from each of them.
  explicit PostLimiter(unsigned perMinute, Now now = Clock::now,
                       std::size_t maxtracked = kMaxTracked);

  // Counts a post from `address`; false when the address has had its share of the last
  // minute. retryAfter then tells the whole seconds until it may post again.
  bool admit(const std::string& address, int* retryAfter = nullptr);

  std::size_t tracked() const;

 private:
  // An IPv6 client usually owns a whole /64; counting each of its addresses apart would let it
  // post without end.
  static std::string key(const std::string& address);

  struct Record {
    std::string key;
    // The posts admitted within the last minute, oldest first, from `first` on.
    std::vector<Clock::time_point> times;
    std::size_t first = 0;
    bool quietsince(Clock::time_point since) const;
    void forgetbefore(Clock::time_point since);
  };

  unsigned perminute_;
  Now now_;
  std::size_t maxtracked_;
  mutable std::mutex mutex_;
  // Most recently heard from first, so the quiet ones are at the back.
  std::list<Record> order_;
  std::unordered_map<std::string_view, std::list<Record>::iterator> index_;
};

}  // namespace pipshiftserver
