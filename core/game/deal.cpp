#include "game/deal.h"

#include <array>
#include <cctype>

namespace game {

std::uint64_t DealRandom::next() {
  state_ += 0x9E3779B97F4A7C15ull;
  std::uint64_t z = state_;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

std::vector<Placement> shuffledeal(Board& board, DealRandom& random) {
  std::array<bool, kBoneCount + 1> used{};
  board = Board{};
  std::vector<Placement> deal;
  deal.reserve(kBoneCount);
  for (int column = 1; column < kColumnCount; ++column) {
    for (int row = 0; row < columnlength(column); ++row) {
      int bone = random.drawbone();
      while (used[bone]) bone = random.drawbone();
      used[bone] = true;
      board[column][row] = bone;
      deal.push_back({getspot(column, row), bone});
    }
  }
  return deal;
}

Board dealboard(int number, std::vector<Placement>* placements) {
  DealRandom random(static_cast<std::uint64_t>(number));
  Board board{};
  std::vector<Placement> deal = shuffledeal(board, random);
  if (placements) *placements = std::move(deal);
  return board;
}

std::optional<int> parsedealnumber(std::string_view text) {
  auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  if (text.empty()) return std::nullopt;
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    // Stop before the value can overflow: anything this large is out of range already.
    if (value > kLastDeal) return std::nullopt;
  }
  if (value < kFirstDeal) return std::nullopt;
  return static_cast<int>(value);
}

}  // namespace game
