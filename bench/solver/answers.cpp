// Prints the solver's answer for many boards, one line each, so that the answers of two builds
// of the solver can be compared line by line (a faster search must give the same ones):
//
//   build/bench/solver/solver_answers positions first last [seed]   every board of the random
//                                                                  player's games, as the
//                                                                  positions benchmark solves
//   build/bench/solver/solver_answers deals first last               the deals as dealt
//
// Each line reads: deal, placements made, clicks left, the fewest placements that sort the
// board (-1 for none within the clicks), boards visited, then the 35 slots' bones.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "game/deal.h"
#include "game/solver.h"
#include "randomgames.h"

namespace {

void print(const solverbench::Position& p) {
  game::SolverOptions options;
  options.clicksleft = p.clicksleft;
  const game::Solution solution = game::solve(p.board, options);
  const int fewest = solution.solved ? static_cast<int>(solution.placements.size()) : -1;
  std::printf("%d %d %d %d %llu", p.deal, p.step, p.clicksleft, fewest,
              static_cast<unsigned long long>(solution.nodes));
  for (int slot = 1; slot <= game::kSlotCount; ++slot)
    std::printf(" %d", game::boneat(p.board, slot));
  std::printf("\n");
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || (std::strcmp(argv[1], "positions") != 0 && std::strcmp(argv[1], "deals") != 0)) {
    std::fprintf(stderr, "usage: solver_answers positions|deals first last [seed]\n");
    return 2;
  }
  const int first = std::atoi(argv[2]);
  const int last = std::atoi(argv[3]);
  if (first < game::kFirstDeal || last < first) {
    std::fprintf(stderr, "usage: solver_answers positions|deals first last [seed]\n");
    return 2;
  }
  if (std::strcmp(argv[1], "deals") == 0) {
    for (int deal = first; deal <= last; ++deal)
      print({game::dealboard(deal), game::kClicksPerGame, deal, 0});
    return 0;
  }
  std::mt19937 random(argc > 4 ? static_cast<unsigned>(std::atoi(argv[4])) : 1);
  for (int deal = first; deal <= last; ++deal) {
    std::vector<solverbench::Position> positions;
    solverbench::playrandomly(deal, random, positions);
    for (const solverbench::Position& p : positions) print(p);
  }
  return 0;
}
