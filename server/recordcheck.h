// The check of a game record posted after its score: the record is replayed under the game's own
// rules, and must follow a stored post of the same name, date and score from the same address.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "game/record.h"
#include "game/replay.h"
#include "server/scoreform.h"

namespace pipshiftserver {

// A record body is the score's three fields and the record: a few dozen bytes and at most 101
// placements of ten characters each.
inline constexpr std::size_t kMaxRecordBody = 2048;

// What a posted record is, or why it is refused: 400 (not a record post), 413 (too large),
// 422 (a record that does not hold up under the rules or does not give the score).
struct RecordClaim {
  int status = 0;  // 0: the record holds up
  std::string error;
  ScoreEntry entry;
  game::GameRecord record;
};
RecordClaim checkrecordpost(std::string_view body);

// The score posts of the last few minutes, so a record can be matched with the post it follows.
// Each post is taken by one record at most. Bounded: beyond `maxkept` posts the oldest go.
class RecentPosts {
 public:
  using Clock = std::chrono::steady_clock;
  using Now = std::function<Clock::time_point()>;

  // How long after its post a record is taken. The game sends it as soon as the post is
  // answered; a post answered late is still answered within a minute.
  static constexpr std::chrono::minutes kWindow{5};
  static constexpr std::size_t kMaxKept = 100000;

  explicit RecentPosts(Now now = Clock::now, std::size_t maxkept = kMaxKept);

  void note(const std::string& address, const ScoreEntry& entry, std::int64_t id);
  // The row of the latest post from the address with the entry's name, date and score made
  // within the window, taken so that no other record can use it; nothing when there is none.
  std::optional<std::int64_t> claim(const std::string& address, const ScoreEntry& entry);
  // Puts a claimed post back, when its mark could not be stored.
  void giveback(const std::string& address, const ScoreEntry& entry, std::int64_t id);

  std::size_t kept() const;

 private:
  struct Post {
    Clock::time_point when;
    std::int64_t id = 0;
  };
  static std::string key(const std::string& address, const ScoreEntry& entry);
  void forgetold(Clock::time_point now);

  Now now_;
  std::size_t maxkept_;
  mutable std::mutex mutex_;
  // Each key's posts, oldest first.
  std::unordered_map<std::string, std::deque<Post>> posts_;
  // Every post noted, oldest first, by key; one whose key has no post that old was claimed.
  std::deque<std::pair<Clock::time_point, std::string>> order_;
  std::size_t kept_ = 0;
};

}  // namespace pipshiftserver
