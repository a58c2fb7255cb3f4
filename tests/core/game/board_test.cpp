#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "game/board.h"
#include "game/deal.h"
#include "gamehelpers.h"

namespace game {
namespace {

using testing::bone;

TEST(BoardGeometry, SlotsRunDownEachColumnAndBack) {
  EXPECT_EQ(getcoords(1), (Point{0, 0}));
  EXPECT_EQ(getcoords(14), (Point{1, 6}));
  EXPECT_EQ(getcoords(20), (Point{2, 5}));
  EXPECT_EQ(getcoords(35), (Point{7, 0}));
  int count = 0;
  for (int column = 0; column < kColumnCount; ++column) {
    for (int row = 0; row < columnlength(column); ++row) {
      const int slot = getspot(column, row);
      EXPECT_EQ(getcoords(slot), (Point{column, row})) << "slot " << slot;
      ++count;
    }
  }
  EXPECT_EQ(count, kSlotCount);
  for (int row = 0; row < kRowCount; ++row) EXPECT_EQ(rowlength(row), 8 - row);
}

TEST(BoardGeometry, SlotsSitAtTheirPixelPositions) {
  const int lefts[] = {8, 80, 151, 221, 292, 362, 432, 503};
  for (int slot = 1; slot <= kSlotCount; ++slot) {
    const Point p = getcoords(slot);
    const Rect r = slotrect(slot);
    EXPECT_EQ(r.left, lefts[p.x]);
    EXPECT_EQ(r.top, 8 + 40 * p.y);
    EXPECT_EQ(r.width, 66);
    EXPECT_EQ(r.height, 34);
  }
}

TEST(DominoSet, PipsOfTheNamedBones) {
  EXPECT_EQ(gettopnum(0), 0);
  EXPECT_EQ(getbotnum(0), 0);
  EXPECT_EQ(gettopnum(29), 0);
  EXPECT_EQ(getbotnum(-3), 0);
  EXPECT_EQ(gettopnum(28), 0);
  EXPECT_EQ(getbotnum(28), 0);
  EXPECT_EQ(gettopnum(27), 1);
  EXPECT_EQ(getbotnum(27), 0);
  EXPECT_EQ(gettopnum(7), 6);
  EXPECT_EQ(getbotnum(7), 0);
  EXPECT_EQ(gettopnum(8), 5);
  EXPECT_EQ(getbotnum(8), 5);
  EXPECT_EQ(gettopnum(13), 5);
  EXPECT_EQ(getbotnum(13), 0);
}

TEST(DominoSet, EveryBoneOnceInDescendingOrder) {
  std::set<std::pair<int, int>> seen;
  std::array<int, 7> pipcount{};
  std::pair<int, int> previous{7, 7};
  for (int b = 1; b <= kBoneCount; ++b) {
    const std::pair<int, int> pips{gettopnum(b), getbotnum(b)};
    EXPECT_GE(pips.first, pips.second) << "bone " << b;
    EXPECT_LT(pips, previous) << "bone " << b;
    previous = pips;
    seen.insert(pips);
    ++pipcount[pips.first];
    ++pipcount[pips.second];
  }
  EXPECT_EQ(seen.size(), 28u);
  for (int pip = 0; pip <= 6; ++pip) EXPECT_EQ(pipcount[pip], 8) << "pip " << pip;
}

TEST(DominoSet, EachPipValueIsOnSevenBones) {
  for (int pip = 0; pip <= 6; ++pip) {
    int bones = 0;
    for (int b = 1; b <= kBoneCount; ++b) bones += gettopnum(b) == pip || getbotnum(b) == pip;
    EXPECT_EQ(bones, 7) << "pip " << pip;
  }
}

TEST(DominoSet, DoublesAndTheirHomes) {
  const int doubles[] = {1, 8, 14, 19, 23, 26, 28};
  for (int row = 0; row < kRowCount; ++row) {
    EXPECT_EQ(doubleofrow(row), doubles[row]);
    EXPECT_TRUE(isdouble(doubles[row]));
    EXPECT_EQ(homeslot(doubles[row]), row + 1);
  }
  EXPECT_FALSE(isdouble(2));
  EXPECT_FALSE(isdouble(0));
  EXPECT_EQ(homeslot(27), 0);
}

TEST(SolvedLayout, LeavesTheLastSlotOfEachRowEmpty) {
  const Board solved = solvedboard();
  std::set<int> empty;
  for (int slot = 1; slot <= kSlotCount; ++slot) {
    if (boneat(solved, slot) == 0) empty.insert(slot);
  }
  EXPECT_EQ(empty, (std::set<int>{35, 34, 32, 29, 25, 20, 14}));
  EXPECT_TRUE(checkforcomplete(solved));
  for (int row = 0; row < kRowCount; ++row) {
    for (int column = 0; column < rowlength(row) - 1; ++column) {
      EXPECT_EQ(gettopnum(solved[column][row]), 6 - row);
    }
  }
}

TEST(SolvedLayout, AnySwapIsNotSolved) {
  Board board = solvedboard();
  std::swap(board[2][0], board[3][0]);
  EXPECT_FALSE(checkforcomplete(board));
  board = solvedboard();
  std::swap(board[0][6], board[1][5]);  // 0/0 moved to the end of row 5
  EXPECT_FALSE(checkforcomplete(board));
}

TEST(ClearBone, EmptiesOnlyTheCellHoldingIt) {
  Board board = solvedboard();
  const Board before = board;
  clearbone(board, 0);
  EXPECT_EQ(board, before);
  clearbone(board, 99);
  EXPECT_EQ(board, before);
  clearbone(board, bone(4, 2));
  EXPECT_EQ(slotof(board, bone(4, 2)), 0);
  int changed = 0;
  for (int slot = 1; slot <= kSlotCount; ++slot)
    changed += boneat(board, slot) != boneat(before, slot);
  EXPECT_EQ(changed, 1);
}

TEST(Deal, FillsColumnsOneToSevenWithEveryBoneOnce) {
  for (unsigned seed = 0; seed < 200; ++seed) {
    DealRandom random(seed);
    Board board = solvedboard();  // a dirty board must be cleared first
    const std::vector<Placement> deal = shuffledeal(board, random);
    ASSERT_EQ(deal.size(), 28u);
    for (int slot = 1; slot <= 7; ++slot) EXPECT_EQ(boneat(board, slot), 0);
    std::set<int> bones;
    for (int slot = 8; slot <= kSlotCount; ++slot) bones.insert(boneat(board, slot));
    EXPECT_EQ(bones.size(), 28u);
    EXPECT_EQ(*bones.begin(), 1);
    EXPECT_EQ(*bones.rbegin(), 28);
    // Dealt column by column from the top, and each placement is what the board holds.
    for (std::size_t i = 0; i < deal.size(); ++i) {
      EXPECT_EQ(deal[i].slot, static_cast<int>(i) + 8);
      EXPECT_EQ(boneat(board, deal[i].slot), deal[i].bone);
    }
  }
}

TEST(Deal, TwoDealsInARowDiffer) {
  DealRandom random(42);
  Board first{};
  Board second{};
  shuffledeal(first, random);
  shuffledeal(second, random);
  EXPECT_NE(first, second);
}

TEST(Deal, EveryBoneReachesEveryCell) {
  // Over many deals each bone should show up in each dealt slot; a biased draw would leave gaps.
  std::array<std::array<int, kSlotCount + 1>, kBoneCount + 1> hits{};
  DealRandom random(7);
  Board board{};
  for (int i = 0; i < 20000; ++i) {
    for (const Placement& p : shuffledeal(board, random)) ++hits[p.bone][p.slot];
  }
  for (int b = 1; b <= kBoneCount; ++b) {
    for (int slot = 8; slot <= kSlotCount; ++slot) {
      EXPECT_GT(hits[b][slot], 400) << "bone " << b << " slot " << slot;
      EXPECT_LT(hits[b][slot], 1050) << "bone " << b << " slot " << slot;
    }
  }
}

}  // namespace
}  // namespace game
