// The solver's answers held against a table an earlier, slower build of it gave (see the head of
// solveranswers.txt): boards from real games, hard ones among them, with and without a win. A
// search made faster by pruning must still find exactly the same fewest placements, and each
// line it gives must win when played.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "game/game.h"
#include "game/solver.h"
#include "gamehelpers.h"

namespace game {
namespace {

struct Pinned {
  int deal = 0;
  int step = 0;
  int clicks = 0;
  int fewest = 0;
  Board board{};
};

std::vector<Pinned> pinned() {
  std::ifstream in(PIPSHIFT_SOLVER_ANSWERS);
  std::vector<Pinned> rows;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    Pinned row;
    fields >> row.deal >> row.step >> row.clicks >> row.fewest;
    for (int slot = 1; slot <= kSlotCount; ++slot) {
      int bone = -1;
      fields >> bone;
      testing::put(row.board, slot, bone);
    }
    EXPECT_TRUE(fields && wellformed(row.board)) << line;
    rows.push_back(row);
  }
  return rows;
}

std::string where(const Pinned& row) {
  return "deal " + std::to_string(row.deal) + " after " + std::to_string(row.step) +
         " placements, " + std::to_string(row.clicks) + " clicks left";
}

// Plays the line through the game; true when its last placement wins and none ends it before.
bool wins(const Pinned& row, const std::vector<Placement>& line) {
  Game game;
  game.start(1);
  game.setboard(row.board);
  game.setclicksleft(row.clicks);
  for (std::size_t i = 0; i < line.size(); ++i) {
    game.clickbone(line[i].bone, false);
    const Outcome outcome = game.clickslot(line[i].slot);
    if (outcome.movedbone != line[i].bone) return false;
    if (outcome.ending != Ending::none)
      return outcome.ending == Ending::won && i + 1 == line.size();
  }
  return false;
}

TEST(SolverAnswers, TheTableIsThere) {
  const std::vector<Pinned> rows = pinned();
  EXPECT_GE(rows.size(), 250u);
  int nowin = 0;
  for (const Pinned& row : rows) nowin += row.fewest < 0;
  EXPECT_GE(nowin, 30);
}

TEST(SolverAnswers, BoardsWithAWinNeedTheFewestPlacementsTheTableGives) {
  for (const Pinned& row : pinned()) {
    if (row.fewest < 0) continue;
    SolverOptions options;
    options.clicksleft = row.clicks;
    const Solution solution = solve(row.board, options);
    ASSERT_TRUE(solution.solved) << where(row);
    EXPECT_TRUE(solution.proven) << where(row);
    EXPECT_EQ(static_cast<int>(solution.placements.size()), row.fewest) << where(row);
    EXPECT_TRUE(wins(row, solution.placements)) << where(row);
  }
}

TEST(SolverAnswers, BoardsWithoutAWinStayWithout) {
  for (const Pinned& row : pinned()) {
    if (row.fewest >= 0) continue;
    SolverOptions options;
    options.clicksleft = row.clicks;
    const Solution solution = solve(row.board, options);
    EXPECT_FALSE(solution.solved) << where(row);
    EXPECT_TRUE(solution.proven) << where(row);
  }
}

}  // namespace
}  // namespace game
