#include "game/record.h"

#include "game/deal.h"
#include "game/game.h"

namespace game {

static_assert(kMaxRecordPlacements == kClicksPerGame + 1);

namespace {

char endingletter(Ending ending) {
  switch (ending) {
    case Ending::won:
      return 'w';
    case Ending::lost:
      return 'l';
    case Ending::none:
      break;
  }
  return 'n';
}

// Reads a canonical decimal number (no sign, no leading zero) of at most `largest`, stopping at
// the first character that is not a digit.
std::optional<long long> readnumber(std::string_view& text, long long largest) {
  std::size_t used = 0;
  long long value = 0;
  while (used < text.size() && text[used] >= '0' && text[used] <= '9') {
    value = value * 10 + (text[used] - '0');
    ++used;
    if (value > largest) return std::nullopt;
  }
  if (used == 0 || (used > 1 && text[0] == '0')) return std::nullopt;
  text.remove_prefix(used);
  return value;
}

bool take(std::string_view& text, char c) {
  if (text.empty() || text.front() != c) return false;
  text.remove_prefix(1);
  return true;
}

}  // namespace

std::string encoderecord(const GameRecord& record) {
  std::string text = std::to_string(kRecordVersion) + "/" + std::to_string(record.deal) + "/" +
                     endingletter(record.ending) + "/";
  for (std::size_t i = 0; i < record.placements.size(); ++i) {
    const RecordedPlacement& p = record.placements[i];
    if (i) text += ',';
    text += std::to_string(p.bone) + "." + std::to_string(p.slot) + "." + std::to_string(p.second);
  }
  return text;
}

std::optional<GameRecord> decoderecord(std::string_view text) {
  if (text.size() > kMaxRecordText) return std::nullopt;
  const auto version = readnumber(text, kRecordVersion);
  if (!version || *version != kRecordVersion || !take(text, '/')) return std::nullopt;
  const auto deal = readnumber(text, kLastDeal);
  if (!deal || *deal < kFirstDeal || !take(text, '/')) return std::nullopt;
  GameRecord record;
  record.deal = static_cast<int>(*deal);
  if (take(text, 'w')) {
    record.ending = Ending::won;
  } else if (take(text, 'l')) {
    record.ending = Ending::lost;
  } else if (!take(text, 'n')) {
    return std::nullopt;
  }
  if (!take(text, '/')) return std::nullopt;
  while (!text.empty()) {
    if (!record.placements.empty() && !take(text, ',')) return std::nullopt;
    if (record.placements.size() == kMaxRecordPlacements) return std::nullopt;
    const auto bone = readnumber(text, kBoneCount);
    if (!bone || *bone < 1 || !take(text, '.')) return std::nullopt;
    const auto slot = readnumber(text, kSlotCount);
    if (!slot || *slot < 1 || !take(text, '.')) return std::nullopt;
    const auto second = readnumber(text, kSecondsPerGame);
    if (!second) return std::nullopt;
    record.placements.push_back(
        {static_cast<int>(*bone), static_cast<int>(*slot), static_cast<int>(*second)});
  }
  return record;
}

Replay replayrecord(const GameRecord& record) {
  Replay replay;
  auto refuse = [&replay](std::size_t index, const std::string& why) {
    replay.error = "Placement " + std::to_string(index + 1) + " " + why;
    return replay;
  };
  if (record.deal < kFirstDeal || record.deal > kLastDeal) {
    replay.error = "The deal number is out of range.";
    return replay;
  }
  if (record.ending != Ending::won) {
    replay.error = "The record is not of a won game.";
    return replay;
  }
  if (record.placements.empty() || record.placements.size() > kMaxRecordPlacements) {
    replay.error = "The record holds no placements or too many.";
    return replay;
  }
  Game game;
  game.start(record.deal);
  int second = 0;
  for (std::size_t i = 0; i < record.placements.size(); ++i) {
    const RecordedPlacement& p = record.placements[i];
    if (!game.gamerunning()) return refuse(i, "comes after the game was over.");
    if (p.second < second) return refuse(i, "is timed before the one ahead of it.");
    // The game's own clock, tick by tick, so the time runs out here exactly as it does in play.
    while (second < p.second) {
      game.tick();
      ++second;
      if (!game.gamerunning()) return refuse(i, "comes after the time ran out.");
    }
    if (p.bone < 1 || p.bone > kBoneCount) return refuse(i, "names no bone.");
    game.clickbone(p.bone, false);
    const Outcome placed = game.clickslot(p.slot);
    if (placed.movedbone != p.bone) return refuse(i, "is not allowed there.");
    if (placed.ending == Ending::lost) return refuse(i, "loses the game.");
    if (placed.ending == Ending::won && i + 1 != record.placements.size()) {
      return refuse(i, "wins the game before the record ends.");
    }
  }
  if (game.gamerunning()) {
    replay.error = "The last placement does not sort the board.";
    return replay;
  }
  replay.won = true;
  replay.score = game.score();
  replay.clickbonus = game.clickbonus();
  replay.timebonus = game.timebonus();
  return replay;
}

int dailydeal(std::chrono::sys_days day) {
  DealRandom random(static_cast<std::uint64_t>(day.time_since_epoch().count()));
  return random.drawdeal();
}

int dailydeal(std::chrono::system_clock::time_point when) {
  return dailydeal(std::chrono::floor<std::chrono::days>(when));
}

}  // namespace game
