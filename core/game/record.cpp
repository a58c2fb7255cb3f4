#include "game/record.h"

#include "game/deal.h"
#include "game/limits.h"

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
  bool undos = false;
  for (const RecordedPlacement& p : record.placements) undos = undos || p.isundo();
  const int version = undos ? kUndoRecordVersion : kRecordVersion;
  std::string text = std::to_string(version) + "/" + std::to_string(record.deal) + "/" +
                     endingletter(record.ending) + "/";
  for (std::size_t i = 0; i < record.placements.size(); ++i) {
    const RecordedPlacement& p = record.placements[i];
    if (i) text += ',';
    if (p.isundo()) {
      text += "u." + std::to_string(p.second);
    } else {
      text +=
          std::to_string(p.bone) + "." + std::to_string(p.slot) + "." + std::to_string(p.second);
    }
  }
  return text;
}

std::optional<GameRecord> decoderecord(std::string_view text) {
  if (text.size() > kMaxRecordText) return std::nullopt;
  const auto version = readnumber(text, kUndoRecordVersion);
  if (!version || *version < kRecordVersion || !take(text, '/')) return std::nullopt;
  const bool undoversion = *version == kUndoRecordVersion;
  bool undos = false;
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
    if (undoversion && take(text, 'u')) {
      const auto second = take(text, '.') ? readnumber(text, kSecondsPerGame) : std::nullopt;
      if (!second) return std::nullopt;
      record.placements.push_back(undoentry(static_cast<int>(*second)));
      undos = true;
      continue;
    }
    const auto bone = readnumber(text, kBoneCount);
    if (!bone || *bone < 1 || !take(text, '.')) return std::nullopt;
    const auto slot = readnumber(text, kSlotCount);
    if (!slot || *slot < 1 || !take(text, '.')) return std::nullopt;
    const auto second = readnumber(text, kSecondsPerGame);
    if (!second) return std::nullopt;
    record.placements.push_back(
        {static_cast<int>(*bone), static_cast<int>(*slot), static_cast<int>(*second)});
  }
  // Version 1 says the same without undos.
  if (undoversion && !undos) return std::nullopt;
  return record;
}

int dailydeal(std::chrono::sys_days day) {
  DealRandom random(static_cast<std::uint64_t>(day.time_since_epoch().count()));
  return random.drawdeal();
}

int dailydeal(std::chrono::system_clock::time_point when) {
  return dailydeal(std::chrono::floor<std::chrono::days>(when));
}

}  // namespace game
