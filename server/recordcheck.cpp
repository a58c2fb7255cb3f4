#include "server/recordcheck.h"

namespace pipshiftserver {

namespace {

RecordClaim refused(int status, std::string error) {
  RecordClaim claim;
  claim.status = status;
  claim.error = std::move(error);
  return claim;
}

}  // namespace

RecordClaim checkrecordpost(std::string_view body) {
  if (body.size() > kMaxRecordBody) {
    return refused(413, "The record is longer than " + std::to_string(kMaxRecordBody) + " bytes.");
  }
  const auto fields = parseform(body);
  if (!fields) return refused(400, "The record holds a malformed %-escape.");
  for (const auto& [key, value] : *fields) {
    if (key != "name" && key != "date" && key != "score" && key != "record") {
      return refused(400, "The field \"" + key + "\" does not belong in a record.");
    }
  }
  Checked checked = checkentry(*fields);
  if (!checked.entry) return refused(400, checked.error);
  if (fields->count("record") != 1) return refused(400, "A record post holds one record.");
  const auto record = game::decoderecord(fields->find("record")->second);
  if (!record) return refused(400, "The record is not in a form this server reads.");

  const game::Replay replay = game::replayrecord(*record);
  if (!replay.won) return refused(422, replay.error);
  if (replay.score != checked.entry->score) {
    return refused(422, "The game of the record scores " + std::to_string(replay.score) + ", not " +
                            std::to_string(checked.entry->score) + ".");
  }
  RecordClaim claim;
  claim.entry = std::move(*checked.entry);
  claim.record = *record;
  return claim;
}

RecentPosts::RecentPosts(Now now, std::size_t maxkept) : now_(std::move(now)), maxkept_(maxkept) {}

std::string RecentPosts::key(const std::string& address, const ScoreEntry& entry) {
  // The fields cannot hold a NUL (names and dates with control characters are refused).
  std::string k = address;
  k += '\0';
  k += entry.name;
  k += '\0';
  k += entry.date;
  k += '\0';
  k += std::to_string(entry.score);
  return k;
}

void RecentPosts::forgetold(Clock::time_point now) {
  while (!order_.empty() && (order_.front().first + kWindow < now || kept_ > maxkept_)) {
    const auto [when, k] = order_.front();
    order_.pop_front();
    const auto found = posts_.find(k);
    if (found == posts_.end()) continue;
    std::deque<Post>& list = found->second;
    // Claims take the latest, so a post still kept is the oldest of its key.
    if (!list.empty() && list.front().when <= when) {
      list.pop_front();
      --kept_;
    }
    if (list.empty()) posts_.erase(found);
  }
}

void RecentPosts::note(const std::string& address, const ScoreEntry& entry, std::int64_t id) {
  std::lock_guard lock(mutex_);
  const Clock::time_point now = now_();
  std::string k = key(address, entry);
  posts_[k].push_back(Post{now, id});
  order_.emplace_back(now, std::move(k));
  ++kept_;
  forgetold(now);
}

std::optional<std::int64_t> RecentPosts::claim(const std::string& address,
                                               const ScoreEntry& entry) {
  std::lock_guard lock(mutex_);
  const Clock::time_point now = now_();
  forgetold(now);
  const auto found = posts_.find(key(address, entry));
  if (found == posts_.end() || found->second.empty()) return std::nullopt;
  const std::int64_t id = found->second.back().id;
  found->second.pop_back();
  --kept_;
  if (found->second.empty()) posts_.erase(found);
  return id;
}

void RecentPosts::giveback(const std::string& address, const ScoreEntry& entry, std::int64_t id) {
  note(address, entry, id);
}

std::size_t RecentPosts::kept() const {
  std::lock_guard lock(mutex_);
  return kept_;
}

}  // namespace pipshiftserver
