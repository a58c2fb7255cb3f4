#pragma once

// Numbered deals. Every deal is made from a number from 1 to 2147483647, so that a number names
// the same board on every build and every machine, for good. The standard library's engines and
// distributions would not promise that (their results differ between libraries), so the
// generator is written out here.
//
// The generator is SplitMix64: a 64-bit state that starts at the deal number and advances by
// 0x9E3779B97F4A7C15 (mod 2^64) before each draw; the draw is the new state z mixed as
//   z := (z xor (z >> 30)) * 0xBF58476D1CE4E5B9
//   z := (z xor (z >> 27)) * 0x94D049BB133111EB
//   z := z xor (z >> 31)
// all mod 2^64. A draw becomes a bone number as 1 + (z mod 28). shuffledeal fills columns 1 to 7
// in turn, each from its top row down, drawing again while the bone drawn is already dealt.
//
// Changing any of this changes what every number means: the tests pin some deals in full.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "game/board.h"

namespace game {

constexpr int kFirstDeal = 1;
constexpr int kLastDeal = 2147483647;

class DealRandom {
 public:
  explicit DealRandom(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next();
  // A bone number 1 to 28.
  int drawbone() { return 1 + static_cast<int>(next() % kBoneCount); }
  // A deal number 1 to 2147483647.
  int drawdeal() { return kFirstDeal + static_cast<int>(next() % kLastDeal); }

 private:
  std::uint64_t state_;
};

// Clears the board and deals all 28 bones into columns 1 to 7 (column order, top row first),
// drawing a bone number for each cell and drawing again until an unused one comes. Returns the
// placements in dealing order so the caller can draw each bone.
std::vector<Placement> shuffledeal(Board& board, DealRandom& random);

// The board of a numbered deal (columns 1 to 7 full, column 0 empty) and the placements in
// dealing order. The number must lie in 1 to 2147483647.
Board dealboard(int number, std::vector<Placement>* placements = nullptr);

// A deal number typed by a person: a whole decimal number from 1 to 2147483647, blanks around it
// allowed, nothing else. None for anything else.
std::optional<int> parsedealnumber(std::string_view text);

}  // namespace game
