// pipshift-solve, run as a player runs it: its JSON line, its table, its exit status.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "game/deal.h"
#include "game/game.h"
#include "tests/support/scratchdir.h"

namespace game {
namespace {

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

// What the tool said about one board.
struct Answer {
  std::string deal;
  std::vector<int> board;
  bool solved = false;
  bool proven = false;
  std::vector<Placement> placements;
};

class SolveTool : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::exists(PIPSHIFT_SOLVE_TOOL)) << PIPSHIFT_SOLVE_TOOL;
    ASSERT_FALSE(scratch_.path().empty());
  }

  Result run(const std::string& args) const {
    const std::string errfile = (scratch_.path() / "stderr").string();
    const std::string command =
        std::string("'") + PIPSHIFT_SOLVE_TOOL + "' " + args + " 2>'" + errfile + "'";
    Result result;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return result;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
      result.out.append(buffer, n);
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream err(errfile);
    result.err.assign(std::istreambuf_iterator<char>(err), {});
    return result;
  }

  static std::vector<int> numbers(const std::string& text) {
    std::vector<int> found;
    static const std::regex number("\\d+");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), number);
         it != std::sregex_iterator(); ++it) {
      found.push_back(std::stoi(it->str()));
    }
    return found;
  }

  // Reads the one JSON line, insisting on its exact shape.
  static Answer answer(const std::string& out) {
    static const std::regex line(
        "\\{\"deal\":(null|\\d+),\"board\":\\[([0-9,]*)\\],\"solved\":(true|false),"
        "\"proven\":(true|false),\"placements\":\\[((?:\\[\\d+,\\d+\\],?)*)\\]\\}\n");
    std::smatch m;
    Answer a;
    if (!std::regex_match(out, m, line)) {
      ADD_FAILURE() << "not the JSON line: " << out;
      return a;
    }
    a.deal = m[1];
    a.board = numbers(m[2]);
    a.solved = m[3] == "true";
    a.proven = m[4] == "true";
    const std::vector<int> pairs = numbers(m[5]);
    for (std::size_t i = 0; i + 1 < pairs.size(); i += 2)
      a.placements.push_back({pairs[i + 1], pairs[i]});
    return a;
  }

  static std::string boardtext(const Board& board) {
    std::string text;
    for (int slot = 1; slot <= kSlotCount; ++slot) {
      if (slot > 1) text += ',';
      text += std::to_string(boneat(board, slot));
    }
    return text;
  }

  ScratchDir scratch_;
};

TEST_F(SolveTool, DealOnePrintsALineThatWinsWhenPlayed) {
  const Result r = run("--deal 1");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.err.empty()) << r.err;
  const Answer a = answer(r.out);
  EXPECT_EQ(a.deal, "1");
  const Board deal = dealboard(1);
  ASSERT_EQ(a.board.size(), 35u);
  for (int slot = 1; slot <= kSlotCount; ++slot) EXPECT_EQ(a.board[slot - 1], boneat(deal, slot));
  EXPECT_TRUE(a.solved);
  EXPECT_TRUE(a.proven);
  EXPECT_EQ(a.placements.size(), 29u);

  Game game;
  game.start(1);
  Ending ending = Ending::none;
  for (const Placement& p : a.placements) {
    ASSERT_EQ(ending, Ending::none) << "the game ended before the line did";
    game.clickbone(p.bone, false);
    const Outcome outcome = game.clickslot(p.slot);
    ASSERT_EQ(outcome.movedbone, p.bone) << outcome.refusal;
    ending = outcome.ending;
  }
  EXPECT_EQ(ending, Ending::won);
}

TEST_F(SolveTool, ABoardIsSolvedWithoutADealNumber) {
  // Two placements from sorted: 6/0 one slot too far right, 0/0 beside its home.
  Board board = solvedboard();
  board[6][0] = 0;
  board[7][0] = 7;
  board[0][6] = 0;
  board[1][6] = 28;
  const Result r = run("--board " + boardtext(board));
  EXPECT_EQ(r.status, 0) << r.err;
  const Answer a = answer(r.out);
  EXPECT_EQ(a.deal, "null");
  EXPECT_TRUE(a.solved);
  EXPECT_TRUE(a.proven);
  ASSERT_EQ(a.placements.size(), 2u);

  // Blanks after the commas, as a person may type them.
  std::string spaced = boardtext(board);
  for (std::size_t at = spaced.find(','); at != std::string::npos; at = spaced.find(',', at + 2))
    spaced.insert(at + 1, " ");
  EXPECT_EQ(answer(run("--board '" + spaced + "'").out).placements.size(), 2u);

  const Result sorted = run("--board " + boardtext(solvedboard()));
  EXPECT_EQ(sorted.status, 0);
  EXPECT_TRUE(answer(sorted.out).placements.empty());
}

TEST_F(SolveTool, TooFewClicksExitOneWithTheProof) {
  // Deal 10 needs 30 placements.
  const Result r = run("--deal 10 --clicks 29");
  EXPECT_EQ(r.status, 1) << r.err;
  const Answer a = answer(r.out);
  EXPECT_FALSE(a.solved);
  EXPECT_TRUE(a.proven);
  EXPECT_TRUE(a.placements.empty());
  EXPECT_EQ(run("--deal 10 --clicks 30").status, 0);
}

TEST_F(SolveTool, BadInputExitsTwoWithAMessage) {
  Board doubled = solvedboard();
  doubled[7][0] = 1;
  const std::string sorted = boardtext(solvedboard());
  for (const std::string& args :
       {std::string(), std::string("--deal"), std::string("--deal 0"),
        std::string("--deal 2147483648"), std::string("--deal 12x"), std::string("--deal -3"),
        std::string("--deal 1 --deal 2"), std::string("--deal 1 --board ") + sorted,
        std::string("--board 1,2,3"), std::string("--board ") + sorted + ",0",
        std::string("--board ") + boardtext(doubled), std::string("--board ,") + sorted,
        std::string("--board 29") + sorted.substr(1), std::string("--deal 1 --clicks 101"),
        std::string("--deal 1 --clicks many"), std::string("--stats 0"),
        std::string("--solve 1")}) {
    const Result r = run(args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_TRUE(r.out.empty()) << args << ": " << r.out;
    EXPECT_NE(r.err.find("pipshift-solve: "), std::string::npos) << args;
  }
}

TEST_F(SolveTool, AStrayWordOrUnknownOptionIsNamedAsSuch) {
  const std::string cases[][2] = {
      {"--deal 1 stray", "unexpected word \"stray\" where an option belongs"},
      {"stray --deal 1", "unexpected word \"stray\" where an option belongs"},
      {"--deal 1 --frob", "unknown option --frob"},
      {"--deal 1 -x", "unknown option -x"},
      {"--deal 1 --clicks", "--clicks wants a value"},
      {"--deal 1 --time-limit", "--time-limit wants a value"},
      {"--deal 1 --time-limit 0", "--time-limit must lie in 1 to 86400000"},
      {"--deal 1 --time-limit 5 --time-limit 6", "--time-limit given twice"},
  };
  for (const auto& [args, message] : cases) {
    const Result r = run(args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_EQ(r.err.rfind("pipshift-solve: " + message + "\n", 0), 0u) << args << ": " << r.err;
    EXPECT_EQ(r.err.find("wants a value") != std::string::npos,
              message.find("wants a value") != std::string::npos)
        << args << ": " << r.err;
  }
}

TEST_F(SolveTool, TheTimeLimitStopsASearchUnprovenWithAStatusOfItsOwn) {
  // Deal 128 takes millions of boards; a millisecond is far too little.
  const Result r = run("--deal 128 --time-limit 1");
  EXPECT_EQ(r.status, 4) << r.err;
  const Answer a = answer(r.out);
  EXPECT_EQ(a.deal, "128");
  EXPECT_FALSE(a.solved);
  EXPECT_FALSE(a.proven);
  EXPECT_TRUE(a.placements.empty());

  // A limit the search keeps within changes nothing.
  const Result within = run("--deal 1 --time-limit 600000");
  EXPECT_EQ(within.status, 0) << within.err;
  EXPECT_TRUE(answer(within.out).proven);
  EXPECT_EQ(answer(within.out).placements.size(), 29u);
  const Result proof = run("--deal 10 --clicks 29 --time-limit 600000");
  EXPECT_EQ(proof.status, 1) << proof.err;
  EXPECT_TRUE(answer(proof.out).proven);

  // Deal 128 among them cannot be settled in a millisecond.
  const Result cut = run("--stats 128 --time-limit 1");
  EXPECT_EQ(cut.status, 4) << cut.err;
  EXPECT_TRUE(
      std::regex_search(cut.out, std::regex(", [1-9]\\d* undecided within the time limit\n")))
      << cut.out;

  const Result stats = run("--stats 2 --clicks 100 --time-limit 600000");
  EXPECT_EQ(stats.status, 0) << stats.err;
  EXPECT_NE(stats.out.find("deals 1 to 2, 100 clicks: 2 sortable, 0 not\n"), std::string::npos)
      << stats.out;
}

TEST_F(SolveTool, HelpListsEveryExitStatus) {
  const Result r = run("--help");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("--time-limit MS"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("0 sorted, 1 not within the clicks, 2 bad input, 3 out of memory"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("4 stopped by the time limit"), std::string::npos) << r.out;
}

TEST_F(SolveTool, StatsCountTheSortableDealsAndTheirSpread) {
  // Deals 1 to 3 need 29, 28 and 28 placements.
  const Result r = run("--stats 3");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("deals 1 to 3, 100 clicks: 3 sortable, 0 not\n"), std::string::npos)
      << r.out;
  EXPECT_TRUE(std::regex_search(r.out, std::regex("\n +28 +2 +66\\.7%\n"))) << r.out;
  EXPECT_TRUE(std::regex_search(r.out, std::regex("\n +29 +1 +33\\.3%\n"))) << r.out;
  EXPECT_NE(r.out.find("fewest 28, median 28, most 29\n"), std::string::npos) << r.out;

  const Result tight = run("--stats 3 --clicks 28");
  EXPECT_NE(tight.out.find("deals 1 to 3, 28 clicks: 2 sortable, 1 not\n"), std::string::npos)
      << tight.out;
}

}  // namespace
}  // namespace game
