#include "server/ratelimit.h"

#include <algorithm>

#include "server/httpserver.h"

namespace pipshiftserver {

namespace {
constexpr auto kWindow = std::chrono::seconds(60);
}

PostLimiter::PostLimiter(unsigned perMinute, Now now, std::size_t maxtracked)
    : perminute_(perMinute),
      now_(std::move(now)),
      maxtracked_(std::max<std::size_t>(1, maxtracked)) {}

// Posts are counted against the same address as connections are.
std::string PostLimiter::key(const std::string& address) {
  return http::addresskey(address);
}

bool PostLimiter::Record::quietsince(Clock::time_point since) const {
  return first == times.size() || times.back() <= since;
}

void PostLimiter::Record::forgetbefore(Clock::time_point since) {
  while (first < times.size() && times[first] <= since) ++first;
  // Moved down only once half is spent, so a post costs a constant time however long the list.
  if (first > 0 && first * 2 >= times.size()) {
    times.erase(times.begin(), times.begin() + static_cast<std::ptrdiff_t>(first));
    first = 0;
  }
}

bool PostLimiter::admit(const std::string& address, int* retryAfter) {
  if (perminute_ == 0) return true;
  const Clock::time_point now = now_();
  const Clock::time_point windowStart = now - kWindow;
  std::lock_guard lock(mutex_);
  // The back has been quiet longest: once it has had a quiet minute it is forgotten.
  while (!order_.empty() && order_.back().quietsince(windowStart)) {
    index_.erase(order_.back().key);
    order_.pop_back();
  }

  const std::string k = key(address);
  auto found = index_.find(k);
  if (found == index_.end()) {
    if (index_.size() >= maxtracked_) {
      index_.erase(order_.back().key);
      order_.pop_back();
    }
    order_.emplace_front(Record{k, {}, 0});
    found = index_.emplace(order_.front().key, order_.begin()).first;
  } else {
    order_.splice(order_.begin(), order_, found->second);
  }
  Record& record = *found->second;
  record.forgetbefore(windowStart);
  if (record.times.size() - record.first >= perminute_) {
    if (retryAfter) {
      const auto wait = record.times[record.first] + kWindow - now;
      *retryAfter = static_cast<int>(std::chrono::ceil<std::chrono::seconds>(wait).count());
    }
    return false;
  }
  record.times.push_back(now);
  return true;
}

std::size_t PostLimiter::tracked() const {
  std::lock_guard lock(mutex_);
  return index_.size();
}

}  // namespace pipshiftserver
