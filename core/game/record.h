#pragma once

// The record of one game: its deal, every placement with the clock's second it was made at, and
// how it ended. It lets another machine (the score server) deal the same board and play the same
// game again under the same rules, to tell a played game from a typed number. It lives in memory
// for the game just played and is never written to the tally.
//
// The text form, all ASCII, is version 1 for a game in which no placement was taken back:
//
//   1/<deal>/<ending>/<bone>.<slot>.<second>,<bone>.<slot>.<second>,...
//
// <deal> is the deal number (1 to 2147483647); <ending> is "w" (won), "l" (lost) or "n" (not
// over); each placement names the bone (1 to 28), the slot it went to (1 to 35) and the whole
// seconds the clock had run when it was made (0 to 300). A game in which a placement was taken
// back is version 2, the same but for its first number and for its undos among the placements,
// in the order they were made:
//
//   2/<deal>/<ending>/<bone>.<slot>.<second>,u.<second>,...
//
// each "u.<second>" taking back the last placement not yet taken back, at that second. A
// version 2 text holds at least one undo, a version 1 text none. Numbers are decimal without
// leading zeros, so a record has exactly one text. A game without placements ends in "/". Every
// entry, placement or undo, costs a click, so there are at most 101 (a game's clicks and the
// placement that loses), and a text is never longer than kMaxRecordText bytes. Any other text is
// refused whole.

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace game {

// How a game ended; none while it runs.
enum class Ending { none, won, lost };

// The version of a record without undos, and of one with them.
constexpr int kRecordVersion = 1;
constexpr int kUndoRecordVersion = 2;
// A game's 100 clicks and the placement after them, which loses: entries, undos included.
constexpr std::size_t kMaxRecordPlacements = 101;
// "1/2147483647/w/" and 101 times "28.35.300", with 100 commas between; an undo is shorter.
constexpr std::size_t kMaxRecordText = 15 + kMaxRecordPlacements * 10 - 1;

// A placement, or with bone and slot 0 an undo of the last placement not yet taken back.
struct RecordedPlacement {
  int bone = 0;
  int slot = 0;
  int second = 0;  // seconds the clock had run, 0 at the start of the game
  bool isundo() const { return bone == 0; }
  bool operator==(const RecordedPlacement&) const = default;
};

inline RecordedPlacement undoentry(int second) {
  return {0, 0, second};
}

struct GameRecord {
  int deal = 0;
  std::vector<RecordedPlacement> placements;
  Ending ending = Ending::none;
  bool operator==(const GameRecord&) const = default;
};

std::string encoderecord(const GameRecord& record);
// The record a text holds, or nothing for any text that is not one (wrong version, numbers out
// of range or not canonical, too many entries, an undo in version 1 or none in version 2,
// anything left over).
std::optional<GameRecord> decoderecord(std::string_view text);

// The deal of the day: the first deal number the deal generator draws when its state starts at
// the count of days from 1970-01-01 to the given day. The same on every machine for one day in
// UTC, whatever the local time zone.
int dailydeal(std::chrono::sys_days day);
int dailydeal(std::chrono::system_clock::time_point when);

}  // namespace game
