// The maintainer's tool, run as a maintainer runs it: its output and its exit status.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "stats/tallygrid.h"
#include "tests/core/stats/tallytext.h"
#include "tests/support/scratchdir.h"

namespace fs = std::filesystem;

namespace {

struct Result {
  int status;
  std::string output;  // standard output and standard error together
};

class TallyTool : public ::testing::Test {
 protected:
  void SetUp() override {
    tool_ = PIPSHIFT_TALLY_TOOL;
    ASSERT_TRUE(fs::exists(tool_)) << tool_;
    ASSERT_FALSE(scratch_.path().empty());
  }

  std::string path(const std::string& name) const { return (scratch_.path() / name).string(); }

  Result run(const std::string& args) const {
    const std::string command = "'" + tool_ + "' " + args + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    Result result{-1, ""};
    if (!pipe) return result;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
      result.output.append(buffer, n);
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
  }

  // A tally file as the game writes it: the table's text packed in Fast mode.
  void writetally(const std::string& name, const TextTable& table) const {
    std::stringstream text;
    savegrid(table, text);
    std::ofstream out(path(name), std::ios::binary);
    out << packed(text.str());
  }

  std::string read(const std::string& name) const {
    std::ifstream in(path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::string tool_;
  ScratchDir scratch_;
};

TEST_F(TallyTool, DumpShowsCountersRanksAndCells) {
  TextTable t(9, 12);
  t.setCell(1, 0, "31");
  t.setCell(2, 0, "4");
  t.setCell(3, 0, "12");
  for (int r = 1; r <= 11; ++r) t.setCell(1, r, "-1000");
  t.setCell(0, 1, "Mar 3, 2024");
  t.setCell(1, 1, "388");
  t.setCell(2, 1, "Anna Maria");
  writetally("pipshifttally.tld", t);

  const Result r = run("dump '" + path("pipshifttally.tld") + "'");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("Total games:    31"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("Games cleared:  4"), std::string::npos);
  EXPECT_NE(r.output.find("Win percentage: 12"), std::string::npos);
  EXPECT_NE(r.output.find("  1.    388  Anna Maria  Mar 3, 2024"), std::string::npos);
  EXPECT_NE(r.output.find("  2.  (empty)"), std::string::npos);
  EXPECT_NE(r.output.find(" 10.  (empty)"), std::string::npos);
  EXPECT_NE(r.output.find("2, 1: \"Anna Maria\""), std::string::npos);
  EXPECT_NE(r.output.find("8, 11: \"\""), std::string::npos);
}

TEST_F(TallyTool, CompressAndDecompressAnyFileInEveryMode) {
  std::string data;
  for (int i = 0; i < 5000; ++i) data += "line " + std::to_string(i % 37) + "\n";
  std::ofstream(path("in.txt"), std::ios::binary) << data;
  for (const std::string mode : {"fast", "good", "auto"}) {
    Result r = run("compress '" + path("in.txt") + "' '" + path("c.tld") + "' --mode " + mode);
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(read("c.tld").substr(0, 4), mode == "fast" ? "WRZL" : "!HZL");
    r = run("decompress '" + path("c.tld") + "' '" + path("out.txt") + "'");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(read("out.txt"), data);
  }
  // Without --mode the tool writes what the game writes.
  ASSERT_EQ(run("compress '" + path("in.txt") + "' '" + path("d.tld") + "'").status, 0);
  EXPECT_EQ(read("d.tld").substr(0, 4), "WRZL");
}

TEST_F(TallyTool, FailuresSayWhyAndExitNonZero) {
  Result r = run("dump '" + path("missing.tld") + "'");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("Failed to open input file : " + path("missing.tld")), std::string::npos)
      << r.output;

  std::ofstream(path("plain.txt")) << "not packed";
  r = run("dump '" + path("plain.txt") + "'");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("this file has no valid header !"), std::string::npos) << r.output;

  // A container that holds something other than a table.
  std::ofstream(path("text.txt")) << "nine\r\n12\r\n";
  ASSERT_EQ(run("compress '" + path("text.txt") + "' '" + path("text.tld") + "'").status, 0);
  r = run("dump '" + path("text.tld") + "'");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("Invalid numeric input"), std::string::npos) << r.output;

  r = run("decompress '" + path("plain.txt") + "' '" + path("out.txt") + "'");
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(fs::exists(path("out.txt")));
}

TEST_F(TallyTool, WrongArgumentsShowTheUsage) {
  for (const std::string args :
       {"", "frobnicate x", "dump", "compress onlyone", "compress a b --mode best",
        "compress a b --mode", "decompress a b --mode fast"}) {
    const Result r = run(args);
    EXPECT_EQ(r.status, 2) << args;
    EXPECT_NE(r.output.find("usage: pipshift-tally"), std::string::npos) << args;
  }
  EXPECT_EQ(run("--help").status, 0);
}

}  // namespace
