// Solves deals 1 to 1000 (or the range given) one after another on one thread and reports how
// long each took and the most memory the process held. Goals: median at most 20 ms, p99 at most
// 1 s, every deal decided within 10 s, memory under 256 MiB.
//
//   build/bench/solver/solver_bench [first last]
//
// The times are wall-clock times, what a player waits; run it on an otherwise idle machine. The
// line before the last gives the same figures in processor time, which a busy machine inflates
// less. The last line reads
//   solved N of 1000, proven M, median X ms, p99 Y ms, max Z ms, peak memory K MiB

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "benchtimes.h"
#include "game/deal.h"
#include "game/solver.h"

using solverbench::ms;
using solverbench::peakmib;
using solverbench::rank;
using solverbench::spread;
using solverbench::threadms;

int main(int argc, char** argv) {
  const int first = argc > 2 ? std::atoi(argv[1]) : 1;
  const int last = argc > 2 ? std::atoi(argv[2]) : 1000;
  if (first < game::kFirstDeal || last < first) {
    std::fprintf(stderr, "usage: solver_bench [first last]\n");
    return 2;
  }
  std::vector<double> wall;
  std::vector<double> processor;
  int solved = 0;
  int proven = 0;
  struct Slow {
    double took;
    int deal;
    std::size_t placements;
    std::uint64_t nodes;
  };
  std::vector<Slow> slow;
  for (int number = first; number <= last; ++number) {
    const game::Board board = game::dealboard(number);
    const double cpu0 = threadms();
    const auto t0 = std::chrono::steady_clock::now();
    const game::Solution solution = game::solve(board);
    const double took =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    processor.push_back(threadms() - cpu0);
    wall.push_back(took);
    solved += solution.solved;
    proven += solution.proven;
    slow.push_back({took, number, solution.placements.size(), solution.nodes});
  }
  std::sort(slow.begin(), slow.end(), [](const Slow& a, const Slow& b) { return a.took > b.took; });
  std::printf("slowest deals:\n");
  for (std::size_t i = 0; i < std::min<std::size_t>(5, slow.size()); ++i) {
    std::printf("  deal %d: %zu placements, %llu boards, %s ms\n", slow[i].deal, slow[i].placements,
                static_cast<unsigned long long>(slow[i].nodes), ms(slow[i].took).c_str());
  }
  std::printf("processor time: %s\n", spread(processor).c_str());
  std::printf("solved %d of %zu, proven %d, %s, peak memory %ld MiB\n", solved, wall.size(), proven,
              spread(wall).c_str(), peakmib());
  return 0;
}
