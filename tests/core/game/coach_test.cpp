// The coach: why a game was lost, as the game reports it, and where, held against the solver on
// every board the game passed through.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <vector>

#include "game/coach.h"
#include "game/deal.h"
#include "game/game.h"
#include "game/solver.h"
#include "gamehelpers.h"

namespace game {
namespace {

Outcome place(Game& game, const Placement& p) {
  game.clickbone(p.bone, false);
  return game.clickslot(p.slot);
}

// The placements the game accepts from where it stands, by asking the game.
std::vector<Placement> accepted(const Game& game) {
  std::vector<Placement> found;
  for (int slot = 1; slot <= kSlotCount; ++slot) {
    if (boneat(game.board(), slot) != 0) continue;
    for (int bone = 1; bone <= kBoneCount; ++bone) {
      Game trial = game;
      if (place(trial, {slot, bone}).movedbone == bone) found.push_back({slot, bone});
    }
  }
  return found;
}

// Plays at random until the game ends or `most` placements are made.
void playrandomly(Game& game, std::mt19937& random, int most = 1000) {
  for (int k = 0; k < most && game.gamerunning(); ++k) {
    const std::vector<Placement> moves = accepted(game);
    ASSERT_FALSE(moves.empty()) << "a running game always has a placement";
    place(game, moves[random() % moves.size()]);
  }
}

// The fewest placements after each prefix of the game, by the solver alone; -1 for none.
std::vector<int> fewestbysolver(const Game& game) {
  std::vector<int> fewest;
  Board board = game.firstboard();
  for (std::size_t k = 0; k <= game.played().size(); ++k) {
    if (k > 0) {
      clearbone(board, game.played()[k - 1].bone);
      testing::put(board, game.played()[k - 1].slot, game.played()[k - 1].bone);
    }
    SolverOptions options;
    options.clicksleft = game.firstclicks() - static_cast<int>(k);
    const Solution s = solve(board, options);
    fewest.push_back(s.solved ? static_cast<int>(s.placements.size()) : -1);
  }
  return fewest;
}

// The board of the window's tests: one placement (6/4 from row 2 to the empty slot of row 1)
// leaves the scan nothing.
Board onemovefromstuck() {
  Board board{};
  board[0][0] = 1;
  board[1][0] = 2;
  board[1][1] = 3;
  int next = 4;
  for (int column = 1; column <= 7; ++column) {
    for (int row = 0; row < columnlength(column); ++row) {
      if (board[column][row] != 0 || (column == 2 && row == 0)) continue;
      board[column][row] = next++;
    }
  }
  return board;
}

Game gameon(const Board& board, int clicks = kClicksPerGame) {
  Game game;
  game.start(1);
  game.setboard(board);
  game.setclicksleft(clicks);
  return game;
}

TEST(LossReason, EachOfTheThreeEndingsSaysWhichItWas) {
  {
    Game game = gameon(onemovefromstuck());
    const Outcome outcome = place(game, {15, 3});
    ASSERT_EQ(outcome.ending, Ending::lost);
    EXPECT_EQ(outcome.loss.cause, Loss::nomoves);
    EXPECT_EQ(outcome.loss.gapslot, getspot(1, 1));
    EXPECT_EQ(game.loss(), outcome.loss);
    EXPECT_EQ(lossreasontext(outcome.loss), "No move found: row 2, columns 1 and 2 are empty.");
  }
  {
    // The placement after the last click, even one that sorts the board.
    Board board = solvedboard();
    board[6][0] = 0;
    board[7][0] = 7;
    Game game = gameon(board, 0);
    const Outcome outcome = place(game, {getspot(6, 0), 7});
    ASSERT_EQ(outcome.ending, Ending::lost);
    EXPECT_EQ(outcome.loss, (LossReason{Loss::clicks, 0}));
    EXPECT_EQ(lossreasontext(outcome.loss), "No click was left for that move.");
  }
  {
    Game game = gameon(dealboard(1));
    game.settimeleft(2);
    EXPECT_EQ(game.tick().loss.cause, Loss::none);
    const Outcome outcome = game.tick();
    ASSERT_EQ(outcome.ending, Ending::lost);
    EXPECT_EQ(outcome.loss, (LossReason{Loss::time, 0}));
    EXPECT_EQ(lossreasontext(outcome.loss), "Out of time.");
    // A new game forgets it.
    game.start(2);
    EXPECT_EQ(game.loss().cause, Loss::none);
    EXPECT_EQ(game.ending(), Ending::none);
  }
}

TEST(LossReason, TheGapIsWhereTheScanStoppedAndNoMoveMeansEveryRowFullOrStopped) {
  // Every double off home and every other slot full: no row has a gap, and no move is left.
  Board board{};
  int next = 0;
  const std::vector<int> others = [] {
    std::vector<int> v;
    for (int b = 1; b <= kBoneCount; ++b) {
      if (!isdouble(b)) v.push_back(b);
    }
    for (int b = 1; b <= kBoneCount; ++b) {
      if (isdouble(b)) v.push_back(b);
    }
    return v;
  }();
  for (int slot = 8; slot <= kSlotCount; ++slot) testing::put(board, slot, others[next++]);
  EXPECT_FALSE(checkformoves(board));
  EXPECT_EQ(scangap(board), 0);
  EXPECT_EQ(lossreasontext({Loss::nomoves, 0}),
            "No move found: only the first column has empty slots.");

  // Random boards: the gap is the first row's first empty slot after an empty one, and a board
  // without moves has, in every row, no empty slot from column 1 on or one at such a gap.
  std::mt19937 random(3);
  int stuck = 0;
  for (int round = 0; round < 4000; ++round) {
    Board b{};
    std::vector<int> cells;
    for (int slot = 1; slot <= kSlotCount; ++slot) cells.push_back(slot);
    std::shuffle(cells.begin(), cells.end(), random);
    for (int bone = 1; bone <= kBoneCount; ++bone) testing::put(b, cells[bone - 1], bone);
    const int gap = scangap(b);
    if (gap != 0) {
      const Point p = getcoords(gap);
      EXPECT_EQ(boneat(b, gap), 0);
      EXPECT_EQ(b[p.x - 1][p.y], 0);
      for (int c = 1; c < p.x; ++c) EXPECT_NE(b[c][p.y], 0) << "the first empty of its row";
    }
    if (checkformoves(b)) continue;
    ++stuck;
    for (int row = 0; row < kRowCount; ++row) {
      int first = 0;
      for (int c = 1; c < rowlength(row) && first == 0; ++c) {
        if (b[c][row] == 0) first = c;
      }
      if (first != 0) {
        EXPECT_EQ(b[first - 1][row], 0) << "row " << row;
      }
    }
  }
  EXPECT_GT(stuck, 0);
}

TEST(LossReason, OrdinalsAndBoneNamesReadAsAPlayerSaysThem) {
  EXPECT_EQ(ordinal(1), "1st");
  EXPECT_EQ(ordinal(2), "2nd");
  EXPECT_EQ(ordinal(3), "3rd");
  EXPECT_EQ(ordinal(4), "4th");
  EXPECT_EQ(ordinal(11), "11th");
  EXPECT_EQ(ordinal(12), "12th");
  EXPECT_EQ(ordinal(13), "13th");
  EXPECT_EQ(ordinal(21), "21st");
  EXPECT_EQ(ordinal(102), "102nd");
  EXPECT_EQ(bonename(testing::bone(4, 2)), "4/2");
  EXPECT_EQ(bonename(28), "0/0");
}

// Lost games, played at random: the placement the coach names is the first after which the
// solver, asked on every board the game passed through, finds no win.
TEST(WhereItWasLost, TheFirstPlacementAfterWhichTheSolverFindsNoWin) {
  std::mt19937 random(7);
  int named = 0;
  for (int deal : {1, 2, 3, 5}) {
    Game game;
    game.start(deal);
    playrandomly(game, random);
    ASSERT_EQ(game.ending(), Ending::lost);
    const GameAnalysis analysis = analysegame(game);
    ASSERT_TRUE(analysis.complete);
    std::vector<int> fewest = fewestbysolver(game);
    // The board a game ended on is over, whatever the solver makes of it.
    if (game.loss().cause != Loss::time) fewest.back() = -1;
    int first = -1;
    for (std::size_t k = 0; k < fewest.size() && first < 0; ++k) {
      if (fewest[k] < 0) first = static_cast<int>(k);
    }
    ASSERT_GE(first, 0);
    EXPECT_EQ(analysis.lostafter, first) << "deal " << deal;
    ASSERT_EQ(analysis.fewest.size(), static_cast<std::size_t>(first + 1));
    for (int k = 0; k <= first; ++k) EXPECT_EQ(analysis.fewest[k], fewest[k]) << "after " << k;
    // Once no win is left, none comes back.
    for (std::size_t k = first; k < fewest.size(); ++k) EXPECT_EQ(fewest[k], -1);
    if (first > 0) {
      const Placement p = game.played()[first - 1];
      EXPECT_EQ(analysis.lostmove.bone, p.bone);
      EXPECT_EQ(analysis.lostmove.slot, p.slot);
      const Point at = getcoords(p.slot);
      EXPECT_EQ(analysistext(analysis, Ending::lost),
                "No win was left after your " + ordinal(first) + " move (" + bonename(p.bone) +
                    " to row " + std::to_string(at.y + 1) + ", column " + std::to_string(at.x + 1) +
                    ").");
      ++named;
    }
  }
  EXPECT_GT(named, 0);
}

TEST(WhereItWasLost, TimeUpWithAWinLeftAndAGameLostAtTheLastClick) {
  // Three placements of deal 1's best line, then the clock runs out: the win was still there.
  const std::vector<Placement> best = solve(dealboard(1)).placements;
  {
    Game game;
    game.start(1);
    for (int k = 0; k < 3; ++k) place(game, best[k]);
    game.settimeleft(1);
    ASSERT_EQ(game.tick().loss.cause, Loss::time);
    const GameAnalysis analysis = analysegame(game);
    EXPECT_TRUE(analysis.complete);
    EXPECT_EQ(analysis.lostafter, -1);
    // Following the line, each board is one placement shorter.
    EXPECT_EQ(analysis.fewest, (std::vector<int>{29, 28, 27, 26}));
    EXPECT_EQ(analysistext(analysis, Ending::lost), "A win was still left when the game ended.");
  }
  {
    // With 29 clicks the line just fits. After its first placement, a detour that no shortest
    // line takes leaves no win in the clicks, although the board can still be sorted.
    Game game = gameon(dealboard(1), 29);
    place(game, best[0]);
    Placement detour{};
    Board after{};
    for (const Placement& m : accepted(game)) {
      Game trial = game;
      place(trial, m);
      SolverOptions tight;
      tight.clicksleft = 27;
      if (!solve(trial.board(), tight).solved) {
        detour = m;
        after = trial.board();
        break;
      }
    }
    ASSERT_NE(detour.bone, 0);
    place(game, detour);
    const GameAnalysis analysis =
        analysegame(game.firstboard(), game.played(), 29, Ending::lost, Loss::time);
    ASSERT_TRUE(analysis.complete);
    EXPECT_EQ(analysis.fewest, (std::vector<int>{29, 28, -1}));
    EXPECT_EQ(analysis.lostafter, 2);
    EXPECT_EQ(analysis.lostmove.bone, detour.bone);
    SolverOptions more;
    more.clicksleft = 100;
    EXPECT_TRUE(solve(after, more).solved) << "with clicks enough, a win is there";
  }
  {
    // The 101st placement loses even when it sorts the board: no win after it.
    Board board = solvedboard();
    board[6][0] = 0;
    board[7][0] = 7;
    Game game = gameon(board, 0);
    place(game, {getspot(6, 0), 7});
    const GameAnalysis analysis = analysegame(game);
    EXPECT_EQ(analysis.fewest, (std::vector<int>{-1}));
    EXPECT_EQ(analysis.lostafter, 0);
    EXPECT_EQ(analysistext(analysis, Ending::lost), "No win was left from the first board.");
  }
}

TEST(WhereItWasLost, AWonGameIsMeasuredAgainstTheBest) {
  const std::vector<Placement> best = solve(dealboard(2)).placements;
  {
    Game game;
    game.start(2);
    for (const Placement& p : best) place(game, p);
    ASSERT_EQ(game.ending(), Ending::won);
    const GameAnalysis analysis = analysegame(game);
    EXPECT_EQ(analysis.over, 0);
    EXPECT_EQ(analysistext(analysis, Ending::won),
              "Sorted in the fewest placements, " + std::to_string(best.size()) + ".");
  }
  {
    // A detour first, then the best line from where it led.
    Game game;
    game.start(2);
    std::mt19937 random(1);
    playrandomly(game, random, 3);
    ASSERT_TRUE(game.gamerunning());
    SolverOptions left;
    left.clicksleft = game.clicksleft();
    const Solution rest = solve(game.board(), left);
    ASSERT_TRUE(rest.solved);
    for (const Placement& p : rest.placements) place(game, p);
    ASSERT_EQ(game.ending(), Ending::won);
    const GameAnalysis analysis = analysegame(game);
    const int played = static_cast<int>(game.played().size());
    EXPECT_EQ(analysis.placementsplayed, played);
    EXPECT_EQ(analysis.over, played - static_cast<int>(best.size()));
    EXPECT_GT(analysis.over, 0);
    EXPECT_EQ(analysistext(analysis, Ending::won),
              "Sorted in " + std::to_string(played) + " placements, " +
                  std::to_string(analysis.over) + " over the best, " + std::to_string(best.size()) +
                  ".");
  }
}

// The fewest placements after each prefix of the game's path, by the solver alone, each board
// with the clicks the game really had on it: the clicks when it last moved on from the board, and
// for the last board the clicks left at the end.
std::vector<int> fewestwithtrueclicks(const Game& game) {
  std::vector<int> fewest;
  Board board = game.firstboard();
  const std::vector<Placement>& played = game.played();
  for (std::size_t k = 0; k <= played.size(); ++k) {
    if (k > 0) {
      clearbone(board, played[k - 1].bone);
      testing::put(board, played[k - 1].slot, played[k - 1].bone);
    }
    SolverOptions options;
    options.clicksleft = k < played.size() ? game.clicksbefore()[k] : game.boardclicks();
    if (options.clicksleft < 0) {
      fewest.push_back(-1);
      continue;
    }
    const Solution s = solve(board, options);
    fewest.push_back(s.solved ? static_cast<int>(s.placements.size()) : -1);
  }
  return fewest;
}

// Tries a placement from where the game stands and takes it back: two clicks spent, the board
// as it was.
void tryandtakeback(Game& game) {
  const std::vector<Placement> moves = accepted(game);
  ASSERT_FALSE(moves.empty());
  for (const Placement& m : moves) {
    Game trial = game;
    place(trial, m);
    if (!trial.gamerunning()) continue;
    place(game, m);
    ASSERT_TRUE(game.undo().undone);
    return;
  }
  FAIL() << "every placement ended the game";
}

TEST(WhereItWasLostWithUndos, EachBoardHasTheClicksTheGameReallyLeftOnIt) {
  Game game;
  game.start(1);
  const int first = game.clicksleft();
  place(game, solve(dealboard(1)).placements[0]);
  tryandtakeback(game);
  tryandtakeback(game);
  // The board after the first placement was left with four clicks fewer than a game without
  // undos would have had there.
  ASSERT_EQ(game.played().size(), 1u);
  EXPECT_EQ(game.clicksbefore(), (std::vector<int>{first}));
  EXPECT_EQ(game.boardclicks(), first - 5);
  EXPECT_EQ(game.undos(), 2);
  const std::vector<Placement> rest = accepted(game);
  place(game, rest[0]);
  EXPECT_EQ(game.clicksbefore(), (std::vector<int>{first, first - 5}));
  EXPECT_EQ(game.boardclicks(), first - 6);
  // Undone, the placement's clicks go with it; the undo's click stays spent.
  game.undo();
  EXPECT_EQ(game.clicksbefore(), (std::vector<int>{first}));
  EXPECT_EQ(game.boardclicks(), first - 7);
  // A new game, or a board set by hand, starts the count again.
  game.start(2);
  EXPECT_TRUE(game.clicksbefore().empty());
  EXPECT_EQ(game.undos(), 0);
}

// Deal 1's best line is 29 placements. With 31 clicks, one placement along it, then two tries
// taken back, its second board has 26 clicks left where a game without undos would have had 30:
// no win is left after the first placement, though a count that ignores the undos sees one.
TEST(WhereItWasLostWithUndos, UndosThatSpendTheLastSpareClicksLoseTheGame) {
  const std::vector<Placement> best = solve(dealboard(1)).placements;
  ASSERT_EQ(best.size(), 29u);
  Game game = gameon(dealboard(1), 31);
  place(game, best[0]);
  tryandtakeback(game);
  tryandtakeback(game);
  for (int k = 1; k < 4; ++k) place(game, best[k]);
  game.settimeleft(1);
  ASSERT_EQ(game.tick().loss.cause, Loss::time);

  const GameAnalysis analysis = analysegame(game);
  ASSERT_TRUE(analysis.complete);
  EXPECT_EQ(analysis.fewest, (std::vector<int>{29, -1}));
  EXPECT_EQ(analysis.lostafter, 1);
  EXPECT_EQ(analysis.lostmove.bone, best[0].bone);
  EXPECT_EQ(analysistext(analysis, Ending::lost),
            "No win was left after your 1st move (" + placementtext(best[0]) + ").");
  const std::vector<int> bysolver = fewestwithtrueclicks(game);
  EXPECT_EQ(bysolver[0], 29);
  EXPECT_EQ(bysolver[1], -1);

  // Counting the clicks as if no placement had been taken back gives a different answer.
  const GameAnalysis naive = analysegame(game.firstboard(), game.played(), game.firstclicks(),
                                         game.ending(), game.loss().cause);
  EXPECT_EQ(naive.lostafter, -1);
}

// A detour the solver has to be asked about, on a board whose clicks the undos cut.
TEST(WhereItWasLostWithUndos, ADetourAfterUndosIsSolvedWithTheClicksLeft) {
  const std::vector<Placement> best = solve(dealboard(1)).placements;
  // Off deal 1's line after its first placement: the detour whose board needs the fewest
  // placements more than the line's 27.
  Game probe = gameon(dealboard(1));
  place(probe, best[0]);
  Placement detour{};
  int need = 0;
  for (const Placement& m : accepted(probe)) {
    Game trial = probe;
    place(trial, m);
    if (!trial.gamerunning()) continue;
    const Solution s = solve(trial.board());
    const int f = static_cast<int>(s.placements.size());
    if (s.solved && f > 27 && (need == 0 || f < need)) {
      detour = m;
      need = f;
    }
  }
  ASSERT_NE(detour.bone, 0);
  // Clicks for that detour's board to have one too few after two tries taken back on the board
  // before, and four to spare had none been.
  Game game = gameon(dealboard(1), need + 5);
  place(game, best[0]);
  tryandtakeback(game);
  tryandtakeback(game);
  ASSERT_EQ(game.boardclicks(), need);
  place(game, detour);
  game.settimeleft(1);
  game.tick();
  const GameAnalysis analysis = analysegame(game);
  ASSERT_TRUE(analysis.complete);
  EXPECT_EQ(analysis.fewest, fewestwithtrueclicks(game));
  EXPECT_EQ(analysis.lostafter, 2);
  EXPECT_EQ(analysis.lostmove.bone, detour.bone);
  EXPECT_EQ(analysis.lostmove.slot, detour.slot);
  const GameAnalysis naive = analysegame(game.firstboard(), game.played(), game.firstclicks(),
                                         game.ending(), game.loss().cause);
  EXPECT_EQ(naive.lostafter, -1);
}

// Random games with random undos: the coach agrees with the solver on every board of the path,
// each with its true clicks.
TEST(WhereItWasLostWithUndos, RandomGamesWithUndosAgreeWithTheSolver) {
  std::mt19937 random(11);
  int withundos = 0;
  for (int deal : {1, 2, 3, 4}) {
    Game game = gameon(dealboard(deal), 40);
    for (int k = 0; k < 200 && game.gamerunning(); ++k) {
      if (game.canundo() && random() % 3 == 0) {
        game.undo();
        continue;
      }
      const std::vector<Placement> moves = accepted(game);
      place(game, moves[random() % moves.size()]);
    }
    if (game.gamerunning()) {
      game.settimeleft(1);
      game.tick();
    }
    ASSERT_EQ(game.ending(), Ending::lost);
    withundos += game.undos() > 0;
    const GameAnalysis analysis = analysegame(game);
    ASSERT_TRUE(analysis.complete);
    std::vector<int> fewest = fewestwithtrueclicks(game);
    if (game.loss().cause != Loss::time) fewest.back() = -1;
    int first = -1;
    for (std::size_t k = 0; k < fewest.size() && first < 0; ++k) {
      if (fewest[k] < 0) first = static_cast<int>(k);
    }
    EXPECT_EQ(analysis.lostafter, first) << "deal " << deal;
    const std::size_t upto = first < 0 ? fewest.size() : static_cast<std::size_t>(first + 1);
    EXPECT_EQ(analysis.fewest, std::vector<int>(fewest.begin(), fewest.begin() + upto));
  }
  EXPECT_GT(withundos, 0);
}

// Every click counts against the best: a placement taken back cost its own click and the
// undo's. Without undos the text is as it always was.
TEST(WhereItWasLostWithUndos, AWonGameCountsTheUndosClicks) {
  const std::vector<Placement> best = solve(dealboard(2)).placements;
  const int n = static_cast<int>(best.size());
  for (int undos : {1, 2}) {
    Game game;
    game.start(2);
    for (int k = 0; k < n; ++k) {
      if (k == 3 && undos >= 1) tryandtakeback(game);
      if (k == 7 && undos >= 2) tryandtakeback(game);
      place(game, best[k]);
    }
    ASSERT_EQ(game.ending(), Ending::won);
    EXPECT_EQ(game.boardclicks(), kClicksPerGame - n - 2 * undos);
    const GameAnalysis analysis = analysegame(game);
    EXPECT_EQ(analysis.undos, undos);
    EXPECT_EQ(analysis.placementsplayed, n + undos);
    EXPECT_EQ(analysis.over, 2 * undos);
    EXPECT_EQ(analysistext(analysis, Ending::won),
              "Sorted in " + std::to_string(n + undos) + " placements and " +
                  std::to_string(undos) + (undos == 1 ? " undo, " : " undos, ") +
                  std::to_string(2 * undos) + " over the best, " + std::to_string(n) + ".");
  }
  GameAnalysis plain;
  plain.complete = true;
  plain.fewest = {29};
  plain.placementsplayed = 33;
  plain.over = 4;
  EXPECT_EQ(analysistext(plain, Ending::won), "Sorted in 33 placements, 4 over the best, 29.");
  plain.placementsplayed = 31;
  plain.undos = 2;
  EXPECT_EQ(analysistext(plain, Ending::won),
            "Sorted in 31 placements and 2 undos, 4 over the best, 29.");
}

TEST(WhereItWasLost, AStoppedSolveLeavesTheAnalysisIncomplete) {
  Game game;
  game.start(1);
  game.settimeleft(1);
  game.tick();
  std::atomic<bool> cancel{true};
  SolverOptions options;
  options.cancel = &cancel;
  const GameAnalysis analysis = analysegame(game, options);
  EXPECT_FALSE(analysis.complete);
  EXPECT_EQ(analysistext(analysis, Ending::lost), "");
}

TEST(SolverTimeLimit, StopsTheSearchUnproven) {
  // Deal 128 takes millions of boards to settle, far more than a millisecond.
  SolverOptions options;
  options.timelimit = std::chrono::milliseconds(1);
  const Solution solution = solve(dealboard(128), options);
  EXPECT_TRUE(solution.cancelled);
  EXPECT_TRUE(solution.outoftime);
  EXPECT_FALSE(solution.proven);
  EXPECT_FALSE(solution.solved);
  // Without a limit the same search is not stopped.
  const Solution quick = solve(dealboard(1));
  EXPECT_FALSE(quick.outoftime);
  EXPECT_TRUE(quick.proven);
}

}  // namespace
}  // namespace game
