#include <gtest/gtest.h>

#include <algorithm>

#include "game/game.h"
#include "gamehelpers.h"

namespace game {
namespace {

using testing::bone;
using testing::put;

std::vector<Cue> cues(std::initializer_list<Cue> list) {
  return list;
}

bool contains(const std::vector<int>& v, int x) {
  return std::find(v.begin(), v.end(), x) != v.end();
}

// A game already under way on a board the test lays out.
class Rules : public ::testing::Test {
 protected:
  void play(const Board& board) {
    game.start(1);
    game.setboard(board);
  }
  Game game;
};

// Row 0 reading 6/6, 3/2, 5/3, empty, 4/2, the rest of the set further down.
Board rowzeroexample() {
  Board board{};
  put(board, 1, bone(6, 6));
  put(board, 8, bone(3, 2));
  put(board, 15, bone(5, 3));
  put(board, 26, bone(4, 2));
  put(board, 9, bone(5, 1));
  put(board, 10, bone(0, 0));
  put(board, 11, bone(6, 1));
  put(board, 12, bone(2, 0));
  return board;
}

TEST_F(Rules, TheNumberBoneIsTheHighPipOfTheLeftNeighbour) {
  play(rowzeroexample());
  EXPECT_EQ(game.clickbone(bone(4, 2), false).cues, cues({Cue::click}));
  Outcome refused = game.clickslot(21);
  EXPECT_EQ(refused.refusal, "Bone cannot go there");
  EXPECT_EQ(refused.cues, cues({Cue::invalid}));

  game.clickbone(bone(5, 1), false);
  Outcome placed = game.clickslot(21);
  EXPECT_TRUE(placed.refusal.empty());
  EXPECT_EQ(placed.movedbone, bone(5, 1));
  EXPECT_EQ(placed.toslot, 21);
  EXPECT_EQ(boneat(game.board(), 21), bone(5, 1));
  EXPECT_EQ(boneat(game.board(), 9), 0);
  EXPECT_EQ(game.selectedbone(), 0);
  EXPECT_EQ(game.clicksleft(), 99);
  EXPECT_EQ(game.scorecaption(), "Clicks: 99");
}

TEST_F(Rules, EitherPipOfTheMovingBoneMayMatch) {
  Board board{};
  put(board, 1, bone(6, 6));
  put(board, 8, bone(6, 1));  // number 6
  put(board, 3, bone(4, 4));
  put(board, 10, bone(0, 0));  // number 0
  put(board, 20, bone(6, 0));
  put(board, 13, bone(5, 0));
  put(board, 14, bone(6, 3));
  put(board, 6, bone(1, 1));
  play(board);
  // 6/0 carries the six on its high pip and the blank on its low pip: both targets accept it.
  game.clickbone(bone(6, 0), false);
  EXPECT_TRUE(game.clickslot(15).refusal.empty());
  // A blank number bone refuses a bone without a blank, whatever else it carries.
  game.clickbone(bone(6, 3), false);
  EXPECT_EQ(game.clickslot(17).refusal, "Bone cannot go there");
  game.clickbone(bone(6, 0), false);
  EXPECT_TRUE(game.clickslot(17).refusal.empty());
}

TEST_F(Rules, EveryRefusalKeepsTheSelectionAndCostsNothing) {
  play(rowzeroexample());
  EXPECT_EQ(game.clickslot(21).refusal, "Bone cannot go there");  // nothing selected
  game.clickbone(bone(0, 0), false);
  EXPECT_EQ(game.clickslot(15).refusal, "Bone already there");
  EXPECT_EQ(game.clickslot(3).refusal, "Bone cannot go there");   // 0/0 belongs in slot 7
  EXPECT_EQ(game.clickslot(30).refusal, "Bone cannot go there");  // left neighbour empty
  game.clickbone(bone(5, 3), false);
  EXPECT_EQ(game.clickslot(21).refusal, "Bone cannot go there");  // just right of itself
  EXPECT_EQ(game.selectedbone(), bone(5, 3));
  EXPECT_EQ(game.clicksleft(), 100);
  EXPECT_EQ(game.scorecaption(), "Clicks: 100");
  EXPECT_TRUE(game.gamerunning());
}

TEST_F(Rules, TheLowPipOfTheNumberBonePlaysNoPart) {
  // Row 0 reads 6/6, 3/2, 5/3, empty: the number of slot 21 is 5, never 3. 3/1 and 3/2 match
  // the low pip only.
  Board board = rowzeroexample();
  put(board, 13, bone(3, 1));
  play(board);
  for (int mover : {bone(3, 1), bone(3, 2)}) {
    std::vector<int> hints;
    checkforhint(game.board(), mover, &hints);
    EXPECT_FALSE(contains(hints, 21)) << mover;
  }
  game.clickbone(bone(3, 1), false);
  EXPECT_EQ(game.clickslot(21).refusal, "Bone cannot go there");
  EXPECT_EQ(boneat(game.board(), 21), 0);
}

TEST_F(Rules, OnlyTheRowsDoubleGoesIntoTheDoubleColumn) {
  Board board{};
  put(board, 8, bone(5, 5));
  put(board, 9, bone(6, 6));
  put(board, 10, bone(5, 4));
  play(board);
  game.clickbone(bone(5, 5), false);
  EXPECT_EQ(game.clickslot(1).refusal, "Bone cannot go there");
  EXPECT_TRUE(game.clickslot(2).refusal.empty());
  game.clickbone(bone(5, 4), false);
  EXPECT_EQ(game.clickslot(1).refusal, "Bone cannot go there");
}

TEST_F(Rules, SelectingAndUnselecting) {
  play(rowzeroexample());
  EXPECT_EQ(game.clickbone(bone(3, 2), false).cues, cues({Cue::click}));
  EXPECT_EQ(game.selectedbone(), bone(3, 2));
  EXPECT_EQ(game.clickbone(bone(5, 3), false).cues, cues({Cue::click}));
  EXPECT_EQ(game.selectedbone(), bone(5, 3));
  const Outcome again = game.clickbone(bone(5, 3), true);
  EXPECT_EQ(again.cues, cues({Cue::unclick}));
  EXPECT_TRUE(again.hints.empty());
  EXPECT_EQ(game.selectedbone(), 0);
}

TEST_F(Rules, NothingHappensWhileNoGameRuns) {
  EXPECT_FALSE(game.clickbone(5, true).acted);
  EXPECT_FALSE(game.clickslot(1).acted);
  EXPECT_FALSE(game.tick().acted);
  EXPECT_EQ(game.selectedbone(), 0);
  EXPECT_EQ(game.scorecaption(), "Score:100");
}

TEST_F(Rules, HintsMarkTheTargetsTheScanReaches) {
  play(rowzeroexample());
  const Outcome outcome = game.clickbone(bone(5, 1), true);
  EXPECT_EQ(outcome.hints, std::vector<int>{21});
  EXPECT_TRUE(game.clickbone(bone(5, 1), false).hints.empty());  // unselect
  EXPECT_TRUE(game.clickbone(bone(5, 1), false).hints.empty());  // hints off
}

TEST_F(Rules, HintsForADoubleIncludeItsHomeEvenWhenItStandsThere) {
  Board board{};
  put(board, 2, bone(5, 5));
  put(board, 9, bone(5, 2));
  put(board, 20, bone(3, 3));
  play(board);
  Outcome outcome = game.clickbone(bone(5, 5), true);
  EXPECT_TRUE(contains(outcome.hints, 2));
  EXPECT_TRUE(contains(outcome.hints, 16));  // after 5/2 in row 1
  // The home slot is painted but does not count as a move.
  Board lonely{};
  put(lonely, 20, bone(3, 3));
  EXPECT_FALSE(checkforhint(lonely, bone(3, 3)));
  std::vector<int> hints;
  EXPECT_FALSE(checkforhint(lonely, bone(3, 3), &hints));
  EXPECT_EQ(hints, std::vector<int>{4});
}

TEST_F(Rules, TheScanStopsARowAtAnEmptyLeftNeighbour) {
  // Row 1 reading 5/5, empty, empty, 5/3, empty.
  Board board{};
  put(board, 2, bone(5, 5));
  put(board, 22, bone(5, 3));
  put(board, 30, bone(5, 1));
  play(board);
  std::vector<int> hints;
  EXPECT_TRUE(checkforhint(game.board(), bone(5, 1), &hints));
  EXPECT_EQ(hints, std::vector<int>{9});
  // The placement rule still accepts the slot after 5/3 that the scan never looked at.
  game.clickbone(bone(5, 1), false);
  EXPECT_TRUE(game.clickslot(27).refusal.empty());
}

TEST_F(Rules, TheScanStopsARowAtTheBoneItself) {
  Board board{};
  put(board, 1, bone(6, 6));
  put(board, 8, bone(6, 2));
  put(board, 21, bone(2, 1));
  put(board, 9, bone(1, 1));
  std::vector<int> hints;
  // 6/2 sits left of slot 15, so row 0 stops there; slot 26 after 2/1 is never examined.
  EXPECT_FALSE(checkforhint(board, bone(6, 2), &hints));
  EXPECT_TRUE(hints.empty());
}

TEST_F(Rules, AMoveThatLeavesNoTargetLosesAtOnce) {
  // Column 0 holds only 6/6; the only gap outside it is slot 15, after 6/5.
  Board board{};
  put(board, 1, bone(6, 6));
  int next = 2;
  for (int slot = 8; slot <= kSlotCount; ++slot) {
    if (slot != 15) put(board, slot, next++);
  }
  play(board);
  game.clickbone(bone(6, 6), false);
  const Outcome outcome = game.clickslot(15);
  EXPECT_EQ(outcome.ending, Ending::lost);
  EXPECT_EQ(outcome.cues, cues({Cue::place, Cue::timeup}));
  EXPECT_FALSE(game.gamerunning());
  EXPECT_EQ(game.scorecaption(), "Clicks: 99");
}

TEST_F(Rules, AMoveIntoTheDoubleColumnNeverEndsTheGame) {
  // A fresh deal with 5/5 at the top of column 1: moving it home leaves its old slot without a
  // left neighbour, and no target anywhere.
  Board board{};
  int next = 1;
  for (int slot = 8; slot <= kSlotCount; ++slot) {
    if (next == bone(5, 5)) ++next;
    put(board, slot, slot == 8 ? bone(5, 5) : next++);
  }
  play(board);
  game.clickbone(bone(5, 5), false);
  const Outcome outcome = game.clickslot(2);
  EXPECT_EQ(outcome.ending, Ending::none);
  EXPECT_FALSE(checkformoves(game.board()));
  EXPECT_TRUE(game.gamerunning());
}

// The sorted board with 6/0 moved to the end of row 0, so one placement sorts it.
Board oneawayfromsolved() {
  Board board = solvedboard();
  put(board, 33, 0);
  put(board, 35, bone(6, 0));
  return board;
}

TEST_F(Rules, SortingTheBoardWinsWithBothBonuses) {
  play(oneawayfromsolved());
  game.setclicksleft(61);
  game.settimeleft(125);
  game.clickbone(bone(6, 0), false);
  const Outcome outcome = game.clickslot(33);
  EXPECT_EQ(outcome.ending, Ending::won);
  EXPECT_EQ(outcome.cues, cues({Cue::place, Cue::gameover}));
  EXPECT_EQ(game.clickbonus(), 120);
  EXPECT_EQ(game.timebonus(), 250);
  EXPECT_EQ(game.score(), 370);
  EXPECT_EQ(game.clicksleft(), 370);  // the click count now carries the score
  EXPECT_EQ(game.scorecaption(), "Clicks: 60");
  EXPECT_FALSE(game.gamerunning());
  EXPECT_FALSE(game.clickbone(bone(6, 1), false).acted);
}

TEST_F(Rules, TheHundredthPlacementCanStillWin) {
  play(oneawayfromsolved());
  game.setclicksleft(1);
  game.settimeleft(10);
  game.clickbone(bone(6, 0), false);
  const Outcome outcome = game.clickslot(33);
  EXPECT_EQ(outcome.ending, Ending::won);
  EXPECT_EQ(game.clickbonus(), 0);
  EXPECT_EQ(game.score(), 20);
}

TEST_F(Rules, TheHundredAndFirstPlacementLosesEvenWhenItSorts) {
  play(oneawayfromsolved());
  game.setclicksleft(0);
  game.clickbone(bone(6, 0), false);
  const Outcome outcome = game.clickslot(33);
  EXPECT_EQ(outcome.ending, Ending::lost);
  EXPECT_EQ(outcome.cues, cues({Cue::timeup, Cue::place}));
  EXPECT_EQ(game.scorecaption(), "Score: 0");
  EXPECT_FALSE(game.gamerunning());
  EXPECT_TRUE(checkforcomplete(game.board()));
}

// Sorted but for 6/0 at the end of row 0 and 0/0 right of its home slot.
Board twoawayfromsolved() {
  Board board = oneawayfromsolved();
  put(board, 7, 0);
  put(board, 14, bone(0, 0));
  return board;
}

TEST_F(Rules, BonesInTheirSortedPlacesStillCountAsMoves) {
  play(twoawayfromsolved());
  game.clickbone(bone(6, 0), false);
  const Outcome outcome = game.clickslot(33);
  // Only bones already in their sorted places have targets now (the ends of rows 0 to 5); 0/0,
  // the one bone out of place, has none, and the double column does not count.
  EXPECT_FALSE(checkforhint(game.board(), bone(0, 0)));
  EXPECT_EQ(outcome.ending, Ending::none);
  EXPECT_TRUE(game.gamerunning());
}

TEST_F(Rules, SortingTheBoardInTheDoubleColumnWinsToo) {
  play(twoawayfromsolved());
  game.clickbone(bone(6, 0), false);
  ASSERT_EQ(game.clickslot(33).ending, Ending::none);
  game.clickbone(bone(0, 0), false);
  const Outcome outcome = game.clickslot(7);
  EXPECT_EQ(outcome.ending, Ending::won);
  EXPECT_EQ(outcome.cues, cues({Cue::place, Cue::gameover}));
  EXPECT_FALSE(game.gamerunning());
  EXPECT_EQ(game.clickbonus(), 196);
}

TEST_F(Rules, ANewGameReplacesARunningOne) {
  play(rowzeroexample());
  game.clickbone(bone(5, 1), false);
  game.clickslot(21);
  game.settimeleft(30);
  game.start(3);
  EXPECT_EQ(game.clicksleft(), 100);
  EXPECT_EQ(game.timeleft(), 300);
  EXPECT_EQ(game.bartag(), 150);
  EXPECT_EQ(game.selectedbone(), 0);
  EXPECT_EQ(game.scorecaption(), "Clicks: 100");
  EXPECT_TRUE(game.gamerunning());
}

}  // namespace
}  // namespace game
