// The solver against the game itself: its lines are played through game::Game, its copy of the
// rules is held against the game's on many boards, and its lengths against a plain search that
// knows nothing but the game's rules.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <stdexcept>
#include <vector>

#include "game/deal.h"
#include "game/game.h"
#include "game/solver.h"
#include "gamehelpers.h"

namespace game {
namespace {

int away(const Board& board) {
  const Board sorted = solvedboard();
  int count = 0;
  for (int slot = 1; slot <= kSlotCount; ++slot) {
    const int bone = boneat(board, slot);
    count += bone != 0 && bone != boneat(sorted, slot);
  }
  return count;
}

// A game under way on the board, with the clicks given.
Game gameon(const Board& board, int clicks = kClicksPerGame) {
  Game game;
  game.start(1);
  game.setboard(board);
  game.setclicksleft(clicks);
  return game;
}

// Plays the placements; returns how the game ended after the last one, or lost at the first
// placement that was refused or ended the game early.
Ending play(Game& game, const std::vector<Placement>& placements) {
  for (std::size_t i = 0; i < placements.size(); ++i) {
    game.clickbone(placements[i].bone, false);
    const Outcome outcome = game.clickslot(placements[i].slot);
    if (outcome.movedbone != placements[i].bone) {
      ADD_FAILURE() << "placement " << i + 1 << " (bone " << placements[i].bone << " to slot "
                    << placements[i].slot << ") refused: " << outcome.refusal;
      return Ending::lost;
    }
    if (outcome.ending != Ending::none) {
      if (i + 1 != placements.size()) ADD_FAILURE() << "the game ended at placement " << i + 1;
      return outcome.ending;
    }
  }
  return Ending::none;
}

// Boards as play reaches them: column 0 holds only doubles at home, the rest lies anywhere.
Board randomboard(std::mt19937& random) {
  Board board{};
  std::vector<int> rest;
  for (int bone = 1; bone <= kBoneCount; ++bone) {
    if (isdouble(bone) && random() % 2 == 0) {
      board[0][6 - gettopnum(bone)] = bone;
    } else {
      rest.push_back(bone);
    }
  }
  std::vector<int> cells;
  for (int slot = 8; slot <= kSlotCount; ++slot) cells.push_back(slot);
  std::shuffle(cells.begin(), cells.end(), random);
  for (std::size_t i = 0; i < rest.size(); ++i) testing::put(board, cells[i], rest[i]);
  return board;
}

// Walks back from the sorted board: each step moves a bone so that moving it back is a placement
// the game accepts and goes on from. The board is then at most `steps` placements from sorted.
Board walkback(std::mt19937& random, int steps) {
  Board board = solvedboard();
  for (int step = 0; step < steps; ++step) {
    std::vector<Placement> back;
    for (int bone = 1; bone <= kBoneCount; ++bone) {
      const int from = slotof(board, bone);
      for (int slot = 1; slot <= kSlotCount; ++slot) {
        if (boneat(board, slot) != 0) continue;
        Board before = board;
        clearbone(before, bone);
        testing::put(before, slot, bone);
        if (checkforcomplete(before)) continue;
        Game game = gameon(before);
        game.clickbone(bone, false);
        const Outcome outcome = game.clickslot(from);
        if (outcome.movedbone == bone && outcome.ending != Ending::lost)
          back.push_back({slot, bone});
      }
    }
    if (back.empty()) break;
    const Placement pick = back[random() % back.size()];
    clearbone(board, pick.bone);
    testing::put(board, pick.slot, pick.bone);
  }
  return board;
}

// The fewest placements by plain iterative deepening through game::Game, bounded only by the
// bones away from home (each must move at least once); -1 when more than `most` are needed.
bool within(const Game& game, int depth) {
  const Board& board = game.board();
  if (away(board) > depth) return false;
  for (int bone = 1; bone <= kBoneCount; ++bone) {
    for (int slot = 1; slot <= kSlotCount; ++slot) {
      if (boneat(board, slot) != 0) continue;
      Game next = game;
      next.clickbone(bone, false);
      const Outcome outcome = next.clickslot(slot);
      if (outcome.movedbone != bone) continue;
      if (outcome.ending == Ending::won) return true;
      if (outcome.ending == Ending::none && within(next, depth - 1)) return true;
    }
  }
  return false;
}

int plainsearch(const Board& board, int most) {
  for (int depth = away(board); depth <= most; ++depth) {
    if (within(gameon(board), depth)) return depth;
  }
  return -1;
}

TEST(SolverRules, TheSearchTriesExactlyThePlacementsTheGameAccepts) {
  std::mt19937 random(17);
  for (int round = 0; round < 60; ++round) {
    const Board board = round % 3 == 0 ? walkback(random, 3) : randomboard(random);
    const std::vector<SearchStep> steps = searchsteps(board);
    for (int bone = 1; bone <= kBoneCount; ++bone) {
      for (int slot = 1; slot <= kSlotCount; ++slot) {
        if (boneat(board, slot) != 0) continue;
        Game game = gameon(board, 50);
        game.clickbone(bone, false);
        const Outcome outcome = game.clickslot(slot);
        const auto step = std::find_if(steps.begin(), steps.end(), [&](const SearchStep& s) {
          return s.placement.bone == bone && s.placement.slot == slot;
        });
        const bool accepted = outcome.movedbone == bone;
        ASSERT_EQ(step != steps.end(), accepted) << "round " << round << ", bone " << bone
                                                 << " to slot " << slot << ": " << outcome.refusal;
        if (!accepted) continue;
        EXPECT_EQ(step->sorts, outcome.ending == Ending::won) << "round " << round;
        EXPECT_EQ(step->loses, outcome.ending == Ending::lost) << "round " << round;
      }
    }
  }
}

// Boards on which one placement easily leaves the hint scan nothing: the empty slots come in
// pairs side by side, most rows are full from column 1 on, and the rest lies anywhere.
Board gappedboard(std::mt19937& random) {
  std::vector<int> empty;
  while (empty.size() < 6) {
    const int row = static_cast<int>(random() % kRowCount);
    const int column = static_cast<int>(random() % (rowlength(row) - 1));
    const int a = getspot(column, row);
    const int b = getspot(column + 1, row);
    if (std::find(empty.begin(), empty.end(), a) != empty.end() ||
        std::find(empty.begin(), empty.end(), b) != empty.end())
      continue;
    empty.push_back(a);
    empty.push_back(b);
  }
  while (empty.size() < kSlotCount - kBoneCount) {
    const int slot = 1 + static_cast<int>(random() % kSlotCount);
    if (std::find(empty.begin(), empty.end(), slot) == empty.end()) empty.push_back(slot);
  }
  std::vector<int> bones;
  for (int bone = 1; bone <= kBoneCount; ++bone) bones.push_back(bone);
  std::shuffle(bones.begin(), bones.end(), random);
  Board board{};
  std::size_t next = 0;
  for (int slot = 1; slot <= kSlotCount; ++slot) {
    if (std::find(empty.begin(), empty.end(), slot) == empty.end())
      testing::put(board, slot, bones[next++]);
  }
  return board;
}

std::size_t indexof(const std::vector<SearchStep>& steps, const Placement& placement) {
  for (std::size_t i = 0; i < steps.size(); ++i) {
    if (steps[i].placement.bone == placement.bone && steps[i].placement.slot == placement.slot)
      return i;
  }
  return steps.size();
}

TEST(SolverRules, APlacementSkippedAfterAnotherCouldHaveComeFirst) {
  std::mt19937 random(23);
  int skipped = 0;
  for (int round = 0; round < 120; ++round) {
    const Board board = round % 2 == 0 ? gappedboard(random) : randomboard(random);
    const std::vector<SearchStep> first = searchsteps(board);
    for (const SearchStep& last : first) {
      if (last.sorts || last.loses) continue;
      Board between = board;
      clearbone(between, last.placement.bone);
      testing::put(between, last.placement.slot, last.placement.bone);
      for (const SearchStep& next : searchsteps(between)) {
        if (next.sorts || next.loses || next.placement.bone == last.placement.bone) continue;
        if (!searchskips(board, last.placement, next.placement)) continue;
        ++skipped;
        // The board before tries it first, and the game takes the pair the other way round to
        // the same board without ending.
        EXPECT_LT(indexof(first, next.placement), indexof(first, last.placement));
        Game game = gameon(board, 50);
        game.clickbone(next.placement.bone, false);
        const Outcome one = game.clickslot(next.placement.slot);
        ASSERT_EQ(one.movedbone, next.placement.bone) << "round " << round;
        EXPECT_EQ(one.ending, Ending::none) << "round " << round;
        game.clickbone(last.placement.bone, false);
        const Outcome two = game.clickslot(last.placement.slot);
        ASSERT_EQ(two.movedbone, last.placement.bone) << "round " << round;
        EXPECT_EQ(two.ending, Ending::none) << "round " << round;
        Board both = between;
        clearbone(both, next.placement.bone);
        testing::put(both, next.placement.slot, next.placement.bone);
        EXPECT_EQ(game.board(), both) << "round " << round;
      }
    }
  }
  EXPECT_GT(skipped, 1000);
}

TEST(SolverRules, OnePlacementLowersTheBonesToMoveTwiceByOneAtMost) {
  // The search bounds each board a placement leads to by this before it makes the placement.
  std::mt19937 random(29);
  for (int round = 0; round < 200; ++round) {
    const Board board = round % 2 == 0 ? gappedboard(random) : randomboard(random);
    const int twice = solverestimate(board) - away(board);
    for (const SearchStep& step : searchsteps(board)) {
      Board after = board;
      clearbone(after, step.placement.bone);
      testing::put(after, step.placement.slot, step.placement.bone);
      EXPECT_GE(solverestimate(after) - away(after), twice - 1) << "round " << round;
    }
  }
}

TEST(SolverRules, BoardsWithoutEachBoneOnceAreRefused) {
  Board twice = solvedboard();
  twice[7][0] = 1;
  Board missing = solvedboard();
  missing[3][3] = 0;
  Board outside = solvedboard();
  outside[7][1] = outside[6][0];
  outside[6][0] = 0;
  Board strange = solvedboard();
  strange[7][0] = 29;
  for (const Board& bad : {twice, missing, outside, strange}) {
    EXPECT_FALSE(wellformed(bad));
    EXPECT_THROW(solve(bad), std::invalid_argument);
    EXPECT_THROW(searchsteps(bad), std::invalid_argument);
  }
  EXPECT_TRUE(wellformed(dealboard(5)));
}

TEST(Solver, DealSolutionsWinWhenPlayed) {
  // Deals 12 and 14 also meet boards whose waiting bones leave rings the estimate's reductions
  // cannot settle.
  for (int number : {1, 2, 3, 4, 5, 6, 7, 10, 12, 13, 14, 15}) {
    const Solution solution = solve(dealboard(number));
    ASSERT_TRUE(solution.solved) << "deal " << number;
    EXPECT_TRUE(solution.proven);
    EXPECT_FALSE(solution.cancelled);
    EXPECT_GE(static_cast<int>(solution.placements.size()), solverestimate(dealboard(number)));
    Game game;
    game.start(number);
    EXPECT_EQ(play(game, solution.placements), Ending::won) << "deal " << number;
  }
}

TEST(Solver, DealLengthsMatchASearchWithTheSimplestBound) {
  // These lengths were also found by an earlier search whose only estimate was the bones away
  // from home plus one for each closed ring of bones standing on each other's homes.
  const std::vector<std::pair<int, std::size_t>> known = {{1, 29}, {3, 28}, {6, 31}, {10, 30}};
  for (const auto& [number, length] : known) {
    EXPECT_EQ(solve(dealboard(number)).placements.size(), length) << "deal " << number;
  }
}

TEST(Solver, BoardsNearSortedMatchAPlainSearchThroughTheGame) {
  std::mt19937 random(5);
  for (int round = 0; round < 40; ++round) {
    const int steps = 1 + round % 5;
    const Board board = walkback(random, steps);
    if (checkforcomplete(board)) continue;
    const Solution solution = solve(board);
    ASSERT_TRUE(solution.solved) << "round " << round;
    EXPECT_EQ(static_cast<int>(solution.placements.size()), plainsearch(board, steps))
        << "round " << round;
    Game game = gameon(board);
    EXPECT_EQ(play(game, solution.placements), Ending::won) << "round " << round;
  }
}

TEST(Solver, BoardsWalkedBackAreSolvedInAtMostTheWalk) {
  std::mt19937 random(11);
  for (int round = 0; round < 30; ++round) {
    const int steps = 6 + round % 10;
    const Board board = walkback(random, steps);
    const Solution solution = solve(board);
    ASSERT_TRUE(solution.solved) << "round " << round;
    EXPECT_LE(static_cast<int>(solution.placements.size()), steps);
    EXPECT_LE(solverestimate(board), static_cast<int>(solution.placements.size()));
    if (checkforcomplete(board)) continue;
    Game game = gameon(board);
    EXPECT_EQ(play(game, solution.placements), Ending::won) << "round " << round;
  }
}

TEST(Solver, ASortedBoardNeedsNothing) {
  const Solution solution = solve(solvedboard());
  EXPECT_TRUE(solution.solved);
  EXPECT_TRUE(solution.proven);
  EXPECT_TRUE(solution.placements.empty());
}

TEST(Solver, TheClicksLeftBoundTheLine) {
  // Deal 10 needs 30 placements, one more than its estimate, so proving that 29 cannot do means
  // searching every line the estimate lets through.
  SolverOptions options;
  options.clicksleft = 29;
  const Solution short_of_one = solve(dealboard(10), options);
  EXPECT_FALSE(short_of_one.solved);
  EXPECT_TRUE(short_of_one.proven);
  EXPECT_TRUE(short_of_one.placements.empty());
  EXPECT_GT(short_of_one.nodes, 100u);

  options.clicksleft = 30;
  const Solution enough = solve(dealboard(10), options);
  ASSERT_TRUE(enough.solved);
  EXPECT_EQ(enough.placements.size(), 30u);
  // The last click may sort the board; one placement more would be the 101st of a game.
  Game game;
  game.start(10);
  game.setclicksleft(30);
  EXPECT_EQ(play(game, enough.placements), Ending::won);

  options.clicksleft = 5;
  const Solution hopeless = solve(dealboard(10), options);
  EXPECT_FALSE(hopeless.solved);
  EXPECT_TRUE(hopeless.proven);
}

// Eight placements would sort this board, but the first of them leaves the hint scan nothing
// (row 1 empty, every other row full from column 1 on), which loses the game there. Any line
// avoiding that takes nine.
const std::array<int, kSlotCount> kStrandingBoard = {1,  0,  14, 19, 23, 26, 28, 2,  10, 15, 20, 24,
                                                     27, 13, 3,  0,  16, 21, 25, 18, 4,  0,  17, 22,
                                                     9,  5,  0,  8,  12, 6,  0,  0,  7,  0,  11};

Board strandingboard() {
  Board board{};
  for (int slot = 1; slot <= kSlotCount; ++slot)
    testing::put(board, slot, kStrandingBoard[slot - 1]);
  return board;
}

TEST(Solver, ALineThroughABoardWithNoMoveIsNoSolution) {
  const Board board = strandingboard();
  const std::vector<Placement> stranded = {{32, 10}, {2, 8},   {9, 9},   {16, 10},
                                           {22, 11}, {27, 12}, {28, 18}, {31, 13}};
  {
    // Played through, the eight would end sorted; the game ends it lost at the first.
    Game game = gameon(board);
    game.clickbone(10, false);
    const Outcome first = game.clickslot(32);
    EXPECT_EQ(first.movedbone, 10);
    EXPECT_EQ(first.ending, Ending::lost);
    Board after = board;
    for (const Placement& p : stranded) {
      clearbone(after, p.bone);
      testing::put(after, p.slot, p.bone);
    }
    EXPECT_TRUE(checkforcomplete(after));
  }
  const Solution solution = solve(board);
  ASSERT_TRUE(solution.solved);
  EXPECT_EQ(solution.placements.size(), 9u);
  Game game = gameon(board);
  EXPECT_EQ(play(game, solution.placements), Ending::won);

  SolverOptions eight;
  eight.clicksleft = 8;
  const Solution none = solve(board, eight);
  EXPECT_FALSE(none.solved);
  EXPECT_TRUE(none.proven);
}

TEST(Solver, ASmallTableStillFindsTheFewest) {
  SolverOptions tiny;
  tiny.tablebytes = 256 << 10;
  EXPECT_EQ(solve(dealboard(6), tiny).placements.size(), solve(dealboard(6)).placements.size());
}

TEST(Solver, StopsWhenAsked) {
  std::atomic<bool> cancel{true};
  SolverOptions options;
  options.cancel = &cancel;
  // Deal 128 takes millions of boards to settle; asked at once, it stops within the first poll.
  const Solution solution = solve(dealboard(128), options);
  EXPECT_TRUE(solution.cancelled);
  EXPECT_FALSE(solution.solved);
  EXPECT_FALSE(solution.proven);
  EXPECT_TRUE(solution.placements.empty());
  EXPECT_LE(solution.nodes, 4096u);
}

}  // namespace
}  // namespace game
