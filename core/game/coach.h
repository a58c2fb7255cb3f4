#pragma once

// The coach: what the exact solver can tell a player about a game once it has ended. Why it was
// lost, put in a few words, and where: the first placement after which no win was left within
// the clicks, or for a won game how many placements over the deal's best it took.

#include <string>
#include <vector>

#include "game/board.h"
#include "game/game.h"
#include "game/solver.h"

namespace game {

// One line for the lost panel, under "SORRY, YOU LOST!": "Out of time.", "No click was left for
// that move.", "No move found: row 2, columns 1 and 2 are empty." (rows and columns counted
// from 1, as the player reads the board). Empty for a reason whose cause is none.
std::string lossreasontext(const LossReason& reason);

// "6/5": a bone as the board shows it, high pip first.
std::string bonename(int bone);
// "4/2 to row 2, column 3": a placement as the player would make it.
std::string placementtext(const Placement& placement);
// "1st", "2nd", "3rd", "4th", ... "11th", "12th", "13th", "21st" ...
std::string ordinal(int n);

struct GameAnalysis {
  // Every board it needed was solved; false when a solve was stopped.
  bool complete = false;
  // fewest[k]: the fewest placements that sort the board after the first k placements played,
  // with the clicks then left, or -1 when none does. Filled from k = 0 until the first -1 (or,
  // for a won game, k = 0 only); later boards cannot be won either.
  std::vector<int> fewest;
  // The number of placements after which no win was left: 0 when the first board had none,
  // -1 when a win was still there when the game ended (a won game, or time ran out with one).
  int lostafter = -1;
  // That placement, for lostafter 1 onwards.
  Placement lostmove;
  // A won game: every placement made, those taken back included, the undos, and how many
  // clicks over the first board's fewest placements they spent. An undo spends a click as a
  // placement does, so each one taken back costs two: its own click and the undo's.
  int placementsplayed = 0;
  int undos = 0;
  int over = 0;
};

// What the coach replays: the first board, the placements that stand, in order, and the clicks
// each board of that path really had.
struct GamePath {
  Board firstboard{};
  std::vector<Placement> played;
  // clicksbefore[k]: the clicks left on the board played[k] was made on, when the game last
  // moved on from it.
  std::vector<int> clicksbefore;
  // The clicks left on the last board, after the last placement or undo.
  int lastclicks = kClicksPerGame;
  // The placements taken back on the way.
  int undos = 0;
  Ending ending = Ending::none;
  Loss loss = Loss::none;
};

// The path of a game, copied so that a worker can replay it while the game goes on.
GamePath gamepath(const Game& game);

// Replays a game along its path, solving each board it passed through with the clicks it then
// had left. A board the game ended on by leaving no move, or by a placement past the last click,
// has no win left whatever the solver would make of it. A placement that follows the line the
// solver gave for the board before needs no solve: the board after it is one shorter, and is
// won within its clicks when that shorter line fits in them. options.clicksleft is ignored; the
// rest (cancel flag, table size, time limit) is used for each solve.
GameAnalysis analysegame(const GamePath& path, const SolverOptions& options = {});
// The same for a game without undos, whose board after k placements had firstclicks - k
// clicks left.
GameAnalysis analysegame(const Board& firstboard, const std::vector<Placement>& played,
                         int firstclicks, Ending ending, Loss loss,
                         const SolverOptions& options = {});
// The same for a game that has ended.
GameAnalysis analysegame(const Game& game, const SolverOptions& options = {});

// The line for the end of the game: "No win was left after your 7th move (4/2 to row 2,
// column 3).", "No win was left from the first board.", "A win was still left when the game
// ended.", "Sorted in the fewest placements, 29." or "Sorted in 33 placements, 4 over the
// best, 29.", or when placements were taken back "Sorted in 31 placements and 2 undos, 4 over
// the best, 29." (every placement made and every undo: the clicks they spent, less the best).
// Empty for an analysis that is not complete.
std::string analysistext(const GameAnalysis& analysis, Ending ending);

}  // namespace game
