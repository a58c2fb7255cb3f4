// Solves the boards of real games, as the coach meets them: a player who picks among the
// placements the game accepts at random plays deals 1 to 1000 (or the range given) to their end,
// and every board the game passed through while it ran is solved with the clicks then left. It
// reports how long the solves took and the most memory the process held. Goals: p99 at most
// 50 ms, max at most 2 s. Then each game is analysed as the coach does once it has ended (where
// the win was lost: the boards solved in turn, those on the solver's own line skipped), and the
// time per game is given the same way.
//
//   build/bench/solver/solver_positions_bench [first last [seed]]
//
// Times are wall-clock, what a player waits, on one thread; run it on an otherwise idle machine.
// The line before the last gives the same figures in processor time. The last line reads
//   games N, positions P (won W, no win V), median X ms, p99 Y ms, max Z ms, peak memory K MiB

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "benchtimes.h"
#include "game/coach.h"
#include "game/deal.h"
#include "game/game.h"
#include "game/solver.h"
#include "randomgames.h"

using solverbench::ms;
using solverbench::peakmib;
using solverbench::rank;
using solverbench::spread;
using solverbench::threadms;

using solverbench::playrandomly;
using solverbench::Position;

int main(int argc, char** argv) {
  const int first = argc > 2 ? std::atoi(argv[1]) : 1;
  const int last = argc > 2 ? std::atoi(argv[2]) : 1000;
  const unsigned seed = argc > 3 ? static_cast<unsigned>(std::atoi(argv[3])) : 1;
  if (first < game::kFirstDeal || last < first) {
    std::fprintf(stderr, "usage: solver_positions_bench [first last [seed]]\n");
    return 2;
  }
  std::mt19937 random(seed);
  std::vector<Position> positions;
  std::vector<game::Game> games;
  for (int deal = first; deal <= last; ++deal)
    games.push_back(playrandomly(deal, random, positions));

  std::vector<double> wall;
  std::vector<double> processor;
  int won = 0;
  int nowin = 0;
  struct Slow {
    double took;
    int deal;
    int step;
    int clicks;
    bool solved;
    std::uint64_t nodes;
  };
  std::vector<Slow> slow;
  wall.reserve(positions.size());
  for (const Position& p : positions) {
    game::SolverOptions options;
    options.clicksleft = p.clicksleft;
    const double cpu0 = threadms();
    const auto t0 = std::chrono::steady_clock::now();
    const game::Solution solution = game::solve(p.board, options);
    const double took =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    processor.push_back(threadms() - cpu0);
    wall.push_back(took);
    (solution.solved ? won : nowin) += 1;
    slow.push_back({took, p.deal, p.step, p.clicksleft, solution.solved, solution.nodes});
  }
  std::sort(slow.begin(), slow.end(), [](const Slow& a, const Slow& b) { return a.took > b.took; });
  std::printf("slowest positions:\n");
  for (std::size_t i = 0; i < std::min<std::size_t>(8, slow.size()); ++i) {
    std::printf("  deal %d after %d placements, %d clicks left: %s, %llu boards, %s ms\n",
                slow[i].deal, slow[i].step, slow[i].clicks, slow[i].solved ? "win" : "no win",
                static_cast<unsigned long long>(slow[i].nodes), ms(slow[i].took).c_str());
  }
  std::printf("processor time: %s\n", spread(processor).c_str());

  std::vector<double> analyses;
  for (const game::Game& game : games) {
    const double cpu0 = threadms();
    game::analysegame(game);
    analyses.push_back(threadms() - cpu0);
  }
  std::printf("analyses, processor time per game: %s\n", spread(analyses).c_str());

  std::printf("games %d, positions %zu (won %d, no win %d), %s, peak memory %ld MiB\n",
              last - first + 1, positions.size(), won, nowin, spread(wall).c_str(), peakmib());
  return 0;
}
