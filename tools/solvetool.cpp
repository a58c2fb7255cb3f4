// pipshift-solve: the fewest placements that sort a deal or a board, for players who want to know
// what was possible and for the table of winnable deals in the README.
//
//   pipshift-solve --deal N [--clicks C] [--time-limit MS]
//   pipshift-solve --board b1,...,b35 [--clicks C] [--time-limit MS]
//   pipshift-solve --stats N [--clicks C] [--time-limit MS]
//
// The first two print one JSON line. Exit status: 0 when the board can be sorted within the
// clicks (100 unless given), 1 when it cannot, 2 for bad input (with a message on standard
// error), 3 when memory ran out, 4 when the time limit stopped a search before it was settled
// ("proven": false).

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "game/deal.h"
#include "game/game.h"
#include "game/solver.h"

namespace {

constexpr int kSorted = 0;
constexpr int kNotSorted = 1;
constexpr int kBadInput = 2;
constexpr int kOutOfMemory = 3;
constexpr int kOutOfTime = 4;

const char* const kUsage =
    "usage: pipshift-solve --deal N | --board b1,...,b35 | --stats N  [--clicks C]"
    " [--time-limit MS]\n"
    "  --deal N     solve deal N (1 to 2147483647)\n"
    "  --board ...  solve a board: the bone numbers (1 to 28, 0 for empty) of slots 1 to 35\n"
    "  --stats N    solve deals 1 to N and print how many can be sorted and in how few\n"
    "  --clicks C   clicks left, 0 to 100 (default 100)\n"
    "  --time-limit MS  stop each search after MS milliseconds, 1 to 86400000; a search\n"
    "               stopped so says \"proven\": false, and the exit status is 4\n"
    "exit status: 0 sorted, 1 not within the clicks, 2 bad input, 3 out of memory,\n"
    "             4 stopped by the time limit\n";

struct BadInput : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A whole decimal number in [low, high], blanks around it allowed, nothing else.
int parsenumber(std::string_view text, int low, int high, const char* what) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  if (text.empty() || text.size() > 10) throw BadInput(std::string(what) + " must be a number");
  long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') throw BadInput(std::string(what) + " must be a number");
    value = value * 10 + (c - '0');
  }
  if (value < low || value > high) {
    throw BadInput(std::string(what) + " must lie in " + std::to_string(low) + " to " +
                   std::to_string(high));
  }
  return static_cast<int>(value);
}

game::Board parseboard(std::string_view text) {
  game::Board board{};
  int slot = 0;
  while (true) {
    const std::size_t comma = text.find(',');
    const std::string_view item = text.substr(0, comma);
    if (++slot > game::kSlotCount) throw BadInput("the board has more than 35 slots");
    const game::Point p = game::getcoords(slot);
    board[p.x][p.y] = parsenumber(item, 0, game::kBoneCount, "a bone number");
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  if (slot != game::kSlotCount) {
    throw BadInput("the board has " + std::to_string(slot) + " slots, not 35");
  }
  if (!game::wellformed(board)) throw BadInput("the board must hold each bone 1 to 28 once");
  return board;
}

std::string json(std::optional<int> deal, const game::Board& board,
                 const game::Solution& solution) {
  std::string out = "{\"deal\":";
  out += deal ? std::to_string(*deal) : "null";
  out += ",\"board\":[";
  for (int slot = 1; slot <= game::kSlotCount; ++slot) {
    if (slot > 1) out += ',';
    out += std::to_string(game::boneat(board, slot));
  }
  out += "],\"solved\":";
  out += solution.solved ? "true" : "false";
  out += ",\"proven\":";
  out += solution.proven ? "true" : "false";
  out += ",\"placements\":[";
  for (std::size_t i = 0; i < solution.placements.size(); ++i) {
    if (i > 0) out += ',';
    out += '[' + std::to_string(solution.placements[i].bone) + ',' +
           std::to_string(solution.placements[i].slot) + ']';
  }
  out += "]}";
  return out;
}

game::SolverOptions solveroptions(int clicks, int timelimit) {
  game::SolverOptions options;
  options.clicksleft = clicks;
  options.timelimit = std::chrono::milliseconds(timelimit);
  return options;
}

int solveone(std::optional<int> deal, const game::Board& board, int clicks, int timelimit) {
  const game::Solution solution = game::solve(board, solveroptions(clicks, timelimit));
  std::printf("%s\n", json(deal, board, solution).c_str());
  if (solution.solved) return kSorted;
  return solution.outoftime ? kOutOfTime : kNotSorted;
}

int stats(int last, int clicks, int timelimit) {
  const game::SolverOptions options = solveroptions(clicks, timelimit);
  std::map<std::size_t, int> spread;
  int sortable = 0;
  int unsortable = 0;
  int undecided = 0;
  for (int number = 1; number <= last; ++number) {
    const game::Solution solution = game::solve(game::dealboard(number), options);
    if (solution.solved) {
      ++sortable;
      ++spread[solution.placements.size()];
    } else if (solution.outoftime) {
      ++undecided;
    } else {
      ++unsortable;
    }
  }
  std::printf("deals 1 to %d, %d clicks: %d sortable, %d not", last, clicks, sortable, unsortable);
  if (undecided > 0) std::printf(", %d undecided within the time limit", undecided);
  std::printf("\n");
  std::printf("fewest placements  deals  share\n");
  for (const auto& [placements, deals] : spread) {
    std::printf("%17zu  %5d  %4.1f%%\n", placements, deals, 100.0 * deals / last);
  }
  if (sortable > 0) {
    // The median of the sortable deals' fewest placements.
    int seen = 0;
    std::size_t median = 0;
    for (const auto& [placements, deals] : spread) {
      seen += deals;
      if (2 * seen >= sortable) {
        median = placements;
        break;
      }
    }
    std::printf("fewest %zu, median %zu, most %zu\n", spread.begin()->first, median,
                spread.rbegin()->first);
  }
  return undecided > 0 ? kOutOfTime : kSorted;
}

int run(int argc, char** argv) {
  std::optional<int> deal;
  std::optional<game::Board> board;
  std::optional<int> statsto;
  int clicks = game::kClicksPerGame;
  int timelimit = 0;
  bool timegiven = false;
  static constexpr std::string_view kOptions[] = {"--deal", "--board", "--stats", "--clicks",
                                                  "--time-limit"};
  for (int i = 1; i < argc; ++i) {
    const std::string_view option = argv[i];
    if (option == "--help" || option == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    // Only then is a missing value the fault: a word where an option belongs, or an option
    // of no known name, is named as what it is.
    if (!option.starts_with("-")) {
      throw BadInput("unexpected word \"" + std::string(option) + "\" where an option belongs");
    }
    if (std::find(std::begin(kOptions), std::end(kOptions), option) == std::end(kOptions)) {
      throw BadInput("unknown option " + std::string(option));
    }
    if (i + 1 >= argc) throw BadInput(std::string(option) + " wants a value");
    const std::string_view value = argv[++i];
    if (option == "--deal") {
      if (deal) throw BadInput("--deal given twice");
      deal = game::parsedealnumber(value);
      if (!deal) throw BadInput("a deal number must be a whole number from 1 to 2147483647");
    } else if (option == "--board") {
      if (board) throw BadInput("--board given twice");
      board = parseboard(value);
    } else if (option == "--stats") {
      if (statsto) throw BadInput("--stats given twice");
      statsto = parsenumber(value, game::kFirstDeal, game::kLastDeal, "--stats");
    } else if (option == "--clicks") {
      clicks = parsenumber(value, 0, game::kClicksPerGame, "--clicks");
    } else {
      if (timegiven) throw BadInput("--time-limit given twice");
      timegiven = true;
      timelimit = parsenumber(value, 1, 86400000, "--time-limit");
    }
  }
  if (int(deal.has_value()) + int(board.has_value()) + int(statsto.has_value()) != 1) {
    throw BadInput("give one of --deal, --board and --stats");
  }
  if (statsto) return stats(*statsto, clicks, timelimit);
  if (deal) return solveone(deal, game::dealboard(*deal), clicks, timelimit);
  return solveone(std::nullopt, *board, clicks, timelimit);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const BadInput& e) {
    std::fprintf(stderr, "pipshift-solve: %s\n%s", e.what(), kUsage);
    return kBadInput;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "pipshift-solve: out of memory\n");
    return kOutOfMemory;
  }
}
