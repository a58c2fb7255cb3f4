// Numbered deals: a number must name the same board on every build, for good.

#include <gtest/gtest.h>

#include <array>
#include <set>
#include <vector>

#include "game/deal.h"

namespace game {
namespace {

using Slots = std::array<int, kSlotCount>;

Slots slotsof(const Board& board) {
  Slots slots{};
  for (int slot = 1; slot <= kSlotCount; ++slot) slots[slot - 1] = boneat(board, slot);
  return slots;
}

TEST(DealNumbers, TheGeneratorIsSplitMix64) {
  // The reference sequence for seed 1234567.
  DealRandom random(1234567);
  EXPECT_EQ(random.next(), 6457827717110365317ull);
  EXPECT_EQ(random.next(), 3203168211198807973ull);
  EXPECT_EQ(random.next(), 9817491932198370423ull);
  EXPECT_EQ(random.next(), 4593380528125082431ull);
  EXPECT_EQ(random.next(), 16408922859458223821ull);
}

TEST(DealNumbers, PinnedDealsKeepTheirBoards) {
  // Bones of slots 1 to 35. Should one of these change, every number players have shared
  // names another board.
  EXPECT_EQ(slotsof(dealboard(1)),
            (Slots{0, 0, 0,  0,  0,  0,  0,  10, 8,  23, 6,  17, 22, 18, 9,  19, 2, 3,
                   1, 7, 25, 12, 28, 15, 21, 26, 20, 11, 14, 5,  16, 24, 27, 4,  13}));
  EXPECT_EQ(slotsof(dealboard(2)),
            (Slots{0, 0, 0,  0, 0,  0, 0,  19, 15, 8,  9,  18, 24, 20, 22, 16, 27, 28,
                   6, 7, 25, 3, 10, 2, 14, 5,  23, 13, 26, 11, 21, 17, 12, 4,  1}));
  EXPECT_EQ(slotsof(dealboard(1000)),
            (Slots{0,  0,  0,  0, 0,  0, 0, 1,  24, 14, 20, 11, 19, 4,  5,  9,  6, 28,
                   21, 13, 15, 2, 17, 7, 3, 10, 23, 8,  22, 27, 18, 16, 26, 25, 12}));
  EXPECT_EQ(slotsof(dealboard(2147483647)),
            (Slots{0, 0,  0,  0,  0,  0, 0,  16, 12, 15, 23, 3,  27, 5,  7, 25, 1, 24,
                   6, 14, 20, 11, 10, 9, 13, 22, 17, 8,  4,  18, 26, 19, 2, 21, 28}));
}

TEST(DealNumbers, TheDealListsItsPlacementsInDealingOrder) {
  std::vector<Placement> placements;
  const Board board = dealboard(1, &placements);
  ASSERT_EQ(placements.size(), 28u);
  for (std::size_t i = 0; i < placements.size(); ++i) {
    EXPECT_EQ(placements[i].slot, static_cast<int>(i) + 8);
    EXPECT_EQ(placements[i].bone, boneat(board, placements[i].slot));
  }
}

TEST(DealNumbers, NeighbouringNumbersNameDifferentBoards) {
  std::set<Slots> seen;
  for (int number = 1; number <= 2000; ++number) seen.insert(slotsof(dealboard(number)));
  EXPECT_EQ(seen.size(), 2000u);
}

TEST(DealNumbers, DrawnNumbersStayInRange) {
  DealRandom random(99);
  std::set<int> seen;
  for (int i = 0; i < 100000; ++i) {
    const int number = random.drawdeal();
    ASSERT_GE(number, kFirstDeal);
    ASSERT_LE(number, kLastDeal);
    seen.insert(number);
  }
  // Spread over the whole range, not stuck on a few values.
  EXPECT_GT(seen.size(), 99990u);
  EXPECT_GT(*seen.rbegin(), kLastDeal / 4 * 3);
  EXPECT_LT(*seen.begin(), kLastDeal / 4);
}

TEST(DealNumbers, ParsingTakesWholeNumbersInRangeOnly) {
  EXPECT_EQ(parsedealnumber("1"), 1);
  EXPECT_EQ(parsedealnumber("2147483647"), 2147483647);
  EXPECT_EQ(parsedealnumber("  42\t"), 42);
  EXPECT_EQ(parsedealnumber("007"), 7);
  for (const char* refused :
       {"", "   ", "0", "00", "-1", "+5", "2147483648", "99999999999999999999", "1.5", "1e3", "12a",
        "a12", "1 2", "0x10", "\xef\xbc\x91"}) {
    EXPECT_EQ(parsedealnumber(refused), std::nullopt) << refused;
  }
}

}  // namespace
}  // namespace game
