#include "server/ratelimit.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>

namespace pipshiftserver {

namespace {
constexpr auto kWindow = std::chrono::seconds(60);
}

PostLimiter::PostLimiter(unsigned perMinute, Now now)
    : perMinute_(perMinute), now_(std::move(now)) {}

std::string PostLimiter::key(const std::string& address) {
  in6_addr a6{};
  if (address.find(':') == std::string::npos || inet_pton(AF_INET6, address.c_str(), &a6) != 1) {
    return address;
  }
  std::memset(&a6.s6_addr[8], 0, 8);
  char text[INET6_ADDRSTRLEN];
  inet_ntop(AF_INET6, &a6, text, sizeof text);
  return std::string(text) + "/64";
}

void PostLimiter::prune(Clock::time_point now) {
  for (auto it = recent_.begin(); it != recent_.end();) {
    if (it->second.empty() || it->second.back() + kWindow <= now) {
      it = recent_.erase(it);
    } else {
      ++it;
    }
  }
  pruneAt_ = std::max<std::size_t>(1024, 2 * recent_.size());
}

bool PostLimiter::admit(const std::string& address, int* retryAfter) {
  if (perMinute_ == 0) return true;
  const Clock::time_point now = now_();
  std::lock_guard lock(mutex_);
  if (recent_.size() >= pruneAt_) prune(now);
  std::deque<Clock::time_point>& times = recent_[key(address)];
  while (!times.empty() && times.front() + kWindow <= now) times.pop_front();
  if (times.size() >= perMinute_) {
    if (retryAfter) {
      const auto wait = times.front() + kWindow - now;
      *retryAfter = static_cast<int>(std::chrono::ceil<std::chrono::seconds>(wait).count());
    }
    return false;
  }
  times.push_back(now);
  return true;
}

std::size_t PostLimiter::tracked() const {
  std::lock_guard lock(mutex_);
  return recent_.size();
}

}  // namespace pipshiftserver
