#pragma once

// The fewest placements that sort a board, under the game's own rules.
//
// What a placement is, exactly as a game plays it: any bone may move into an empty slot; into
// column 0 only the double of that row; into columns 1 to 7 only a bone other than its left
// neighbour that carries the left neighbour's high pip, and never after an empty slot. The board
// is sorted by the placement that completes it. A placement into columns 1 to 7 after which the
// hint scan finds no move at all loses the game, so no line may pass through one (a placement
// into column 0 is never tested that way). The placement after the last click loses even when it
// sorts the board, so a solution may have at most as many placements as there are clicks left.
//
// What makes the answer exact:
//
// - The search is iterative deepening A*: it looks for a line of at most `bound` placements and,
//   failing, raises the bound to the smallest total that went over it, so the first line it
//   finds is a shortest one, and a bound beyond the clicks left proves that none exists in time.
//   That holds as long as no estimate below overstates what a board still needs.
// - The estimate: every bone away from its home slot has to move at least once; add the fewest
//   bones that must move more than once. Suppose each bone moved once, straight home. Then a
//   bone could go home only after the bone standing on its home slot had left; and for a home in
//   column c > 0, only after the bone now on its left had left, when that bone does not fit it
//   (the slot's left neighbour must carry its row's high pip or a pip of the bone) or is the
//   bone itself. Draw these as "waits for" arrows between bones. Round a closed ring of arrows
//   every bone would have to move before the next, which cannot be: some bone of every ring
//   moves at least twice. So the estimate is the bones away from home plus the fewest bones that
//   meet every ring: the graph is first cut down by steps that keep the number exact (a bone on
//   no ring goes; a bone with an arrow to itself is counted; a bone with one arrow in or one
//   arrow out is merged with its neighbour, since every ring through it runs through that
//   neighbour too), and whatever is left, small and rare, is settled by trying each bone of one
//   ring in turn.
// - A board's estimate bounds each board a placement leads to before the placement is made: a
//   placement changes only arrows to or from the bone it moves, so the bones that break every
//   ring after it are at least those needed before, less one when that bone was on a ring.
// - The transposition table remembers, for a board already searched, a lower bound on the
//   length of any line from it, proved by that search: every placement from the board was tried
//   and each led over the bound, or to a board known to need at least so much. A board's
//   distance does not depend on how it was reached, so the bound holds at every later visit;
//   using it in place of the estimate prunes only lines that cannot be short enough. Entries
//   hold the whole board, not just its hash, so no collision can lend one board another's
//   bound. The table has a fixed largest size; an entry that is overwritten is only lost work.
// - A bone just moved is not moved again at once: straight to the second slot was legal
//   whenever both moves were (the slot was empty and had the same left neighbour before) and
//   reaches the same board in one placement fewer, from the board before, where it is searched.
//   Such a board still counts, by its estimate, in the bound proved for the board it follows.
// - Nor is a placement that could as well have come before the last one (the pair the other
//   way round reaches the same board, the game accepting each step and going on) when the board
//   before tried it first: that board searched the pair the other way round and found no line
//   through it within the bound, and the board it reached is one placement from this one's, so
//   no line through this one's is within the bound either, which is all it adds to the bound
//   proved here. A shortest line with such a pair has it the other way round in another line as
//   short, and swapping pairs into the order they are tried in ends, with a line none is
//   skipped in.
// - The order in which placements are tried (home slots first) changes only how soon a solution
//   is met within the last bound, never which bounds are searched.
//
// The board's hint scan is checked after every placement into columns 1 to 7 in the search as
// in the game; the search decides it the short way (a row offers a move exactly when its first
// empty slot from column 1 on has a bone to its left), which the tests hold against the game's
// own scan.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "game/board.h"

namespace game {

struct SolverOptions {
  // The most placements a solution may have: the clicks left in the game.
  int clicksleft = 100;
  // Size of the transposition table. The search's other memory is a few kilobytes.
  std::size_t tablebytes = std::size_t{64} << 20;
  // Polled often: once it reads true, the search stops and reports itself cancelled.
  const std::atomic<bool>* cancel = nullptr;
  // The longest the search may take; zero for no limit. Past it the search stops as if
  // cancelled, and says so in outoftime.
  std::chrono::milliseconds timelimit{0};
};

struct Solution {
  // A line was found; placements holds a shortest one (empty for a board already sorted).
  bool solved = false;
  // The answer is settled: solved with no shorter line possible, or shown to have no line
  // within the clicks left. False only when the search was stopped.
  bool proven = false;
  // Stopped by the cancel flag, or by the time limit (outoftime).
  bool cancelled = false;
  bool outoftime = false;
  std::vector<Placement> placements;
  // Boards visited, for the benchmark.
  std::uint64_t nodes = 0;
};

// Finds the fewest placements that sort the board. The board must hold each bone 1 to 28 once,
// in slot cells only (std::invalid_argument otherwise). Memory: the table's size and a few
// kilobytes; std::bad_alloc when even that cannot be had.
Solution solve(const Board& board, const SolverOptions& options = {});

// The placements the search tries from a board, each with what the game makes of it: it sorts
// the board, or it loses the game by leaving no move to the hint scan. Lets the tests hold the
// search's own copy of the rules against the game's.
struct SearchStep {
  Placement placement;
  bool sorts = false;
  bool loses = false;
};
std::vector<SearchStep> searchsteps(const Board& board);

// Whether the search, having made `last` from the board, skips `next` after it: the board tried
// `next` first, and the pair in the other order reaches the same board, each step accepted by
// the game and going on. Both must be placements the game accepts in turn. For the tests.
bool searchskips(const Board& board, const Placement& last, const Placement& next);

// A lower bound on the placements that sort the board, as the search estimates it.
int solverestimate(const Board& board);

// True when the board holds each bone 1 to 28 exactly once, in slot cells only.
bool wellformed(const Board& board);

}  // namespace game
