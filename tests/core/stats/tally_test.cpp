// The tally record's rules without a window: the counters, the top ten with its placeholders and
// marks, the reset, and the record kept in its file.

#include "stats/tally.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "stats/tallyfile.h"
#include "stats/tallylock.h"
#include "tests/support/scratchdir.h"

namespace fs = std::filesystem;

namespace {

using Look = Tally::Look;

std::vector<std::string> counters(const Tally& t) {
  return {t.cell(1, 0), t.cell(2, 0), t.cell(3, 0)};
}

// A rank as the window draws it: placeholder or not, ranking value, date, name, score, look.
struct Rank {
  bool placeholder;
  int value;
  std::string date, name, score;
  Look look;
  bool operator==(const Rank&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Rank& r) {
  return out << (r.placeholder ? "placeholder " : "") << r.value << " '" << r.date << "' '"
             << r.name << "' '" << r.score << "' look " << static_cast<int>(r.look);
}

Rank rank(const Tally& t, int i) {
  if (t.placeholder(i)) return {true, t.rankvalue(i), "", "", "", t.look(i)};
  return {false, t.rankvalue(i), t.cell(0, i), t.cell(2, i), t.scorecaption(i), t.look(i)};
}

Rank placeholder(Look look) {
  return {true, 0, "", "", "", look};
}
Rank entry(const std::string& name, int score, Look look, const std::string& date = "3/9/24") {
  return {false, score, date, name, std::to_string(score), look};
}
Rank blank(Look look) {
  return {false, -1000, "", "", "", look};
}

// "N1" to "N10".
std::string numbered(int i) {
  std::string name = "N";
  return name.append(std::to_string(i));
}

void play(Tally& t, int score, const std::string& name) {
  t.addtomineincrease(1);
  t.addtomineincrease(2);
  t.checkscore(score, name, "3/9/24");
}

// --- Counters ---

TEST(TallyCounters, WinPercentageIsRecomputedOnlyWhenAGameStartsAndTruncates) {
  Tally t;
  EXPECT_EQ(counters(t), (std::vector<std::string>{"0", "0", "0"}));
  t.addtomineincrease(1);
  t.addtomineincrease(2);
  EXPECT_EQ(counters(t), (std::vector<std::string>{"1", "1", "0"}));
  t.addtomineincrease(1);
  EXPECT_EQ(counters(t), (std::vector<std::string>{"2", "1", "50"}));
  t.addtomineincrease(2);
  t.addtomineincrease(1);
  EXPECT_EQ(counters(t), (std::vector<std::string>{"3", "2", "66"}));
  // The spare counters count too, and nothing outside the table's nine columns does.
  t.addtomineincrease(4);
  t.addtomineincrease(9);
  t.addtomineincrease(-1);
  EXPECT_EQ(t.cell(4, 0), "1");
  EXPECT_EQ(t.table().columns(), 9);
  EXPECT_EQ(counters(t), (std::vector<std::string>{"3", "2", "66"}));
}

TEST(TallyCounters, DamagedOrHugeCountersNeitherStopTheCountNorOverflow) {
  Tally t;
  t.table().setCell(1, 0, "x7");
  EXPECT_EQ(t.addit(1, 0), 1);
  EXPECT_EQ(t.addit(1, 0), 2);
  t.table().setCell(1, 0, " +41 ");  // read as the table's numbers always were
  EXPECT_EQ(t.addit(1, 0), 42);

  t.table().setCell(2, 0, "lots");
  t.addtomineincrease(1);
  EXPECT_EQ(t.cell(3, 0), "0");

  t.table().setCell(1, 0, "2147483646");
  t.table().setCell(2, 0, "2000000000");
  t.addtomineincrease(1);
  EXPECT_EQ(t.cell(1, 0), "2147483647");
  EXPECT_EQ(t.cell(3, 0), "93");  // the product passes 32 bits long before the counters do
  t.addtomineincrease(1);
  EXPECT_EQ(t.cell(1, 0), "2147483647");

  t.addtomineset(3, "77");
  EXPECT_EQ(t.cell(3, 0), "77");
}

// --- The top ten ---

TEST(TallyRanking, PlaceholdersRankAtZeroSlideDownBelowRealScoresAndNeverEnterTheTable) {
  Tally t;
  for (int i = 1; i <= 10; ++i) {
    EXPECT_EQ(rank(t, i), placeholder(Look::designed)) << i;
    EXPECT_EQ(t.cell(1, i), "-1000") << i;
  }

  EXPECT_EQ(t.checkscore(150, "Ann", "3/9/24"), 1);
  EXPECT_EQ(rank(t, 1), entry("Ann", 150, Look::marked));
  for (int i = 2; i <= 10; ++i) EXPECT_EQ(rank(t, i), placeholder(Look::plain)) << i;

  // A score of 0 ties the placeholders and goes above them.
  EXPECT_EQ(t.checkscore(0, "Zero", "3/9/24"), 2);
  EXPECT_EQ(rank(t, 2), entry("Zero", 0, Look::marked));
  EXPECT_EQ(rank(t, 3), placeholder(Look::plain));
  for (int r = 3; r <= 11; ++r) EXPECT_EQ(t.cell(2, r), "") << r;
  for (int r = 3; r <= 10; ++r) EXPECT_EQ(t.cell(1, r), "-1000") << r;

  // A score at the top moves the real entries down over the first placeholder.
  EXPECT_EQ(t.checkscore(500, "High", "3/9/24"), 1);
  EXPECT_EQ(rank(t, 2), entry("Ann", 150, Look::plain));
  EXPECT_EQ(rank(t, 3), entry("Zero", 0, Look::plain));
  for (int i = 4; i <= 10; ++i) EXPECT_EQ(rank(t, i), placeholder(Look::plain)) << i;
  EXPECT_EQ(t.cell(1, 4), "-1000");

  // Below every placeholder: nothing enters, and nothing stays marked.
  EXPECT_EQ(t.checkscore(-1, "Below", "3/9/24"), 0);
  EXPECT_EQ(rank(t, 1), entry("High", 500, Look::plain));
}

TEST(TallyRanking, ATieEntersAboveTheOlderEntryAndTheRestMoveDownRowAndAll) {
  Tally t;
  t.loadtally();
  t.checkscore(100, "Old", "1/1/24");
  t.checkscore(50, "Low", "1/2/24");
  EXPECT_EQ(t.checkscore(100, "New", "3/9/24"), 1);
  EXPECT_EQ(rank(t, 1), entry("New", 100, Look::marked));
  EXPECT_EQ(rank(t, 2), entry("Old", 100, Look::plain, "1/1/24"));
  EXPECT_EQ(rank(t, 3), entry("Low", 50, Look::plain, "1/2/24"));
  EXPECT_EQ(rank(t, 4), blank(Look::plain));
}

TEST(TallyRanking, WithTenEntriesALowerScoreChangesOnlyTheLooksAndATieWithRankTenReplacesIt) {
  Tally t;
  for (int i = 1; i <= 10; ++i) t.checkscore(1100 - 100 * i, numbered(i), "3/9/24");
  EXPECT_EQ(rank(t, 10), entry("N10", 100, Look::marked));
  const TextTable before = t.table();

  EXPECT_EQ(t.checkscore(99, "Nope", "3/9/24"), 0);
  EXPECT_EQ(t.table(), before);
  for (int i = 1; i <= 10; ++i)
    EXPECT_EQ(rank(t, i), entry(numbered(i), 1100 - 100 * i, Look::plain)) << i;

  EXPECT_EQ(t.checkscore(100, "Tie", "3/9/24"), 10);
  EXPECT_EQ(rank(t, 9), entry("N9", 200, Look::plain));
  EXPECT_EQ(rank(t, 10), entry("Tie", 100, Look::marked));

  // A score at the top pushes the former rank 10 out.
  EXPECT_EQ(t.checkscore(5000, "Top", "3/9/24"), 1);
  EXPECT_EQ(rank(t, 2), entry("N1", 1000, Look::plain));
  EXPECT_EQ(rank(t, 10), entry("N9", 200, Look::plain));
  EXPECT_EQ(t.cell(2, 11), "");  // the spare row is no eleventh rank
}

TEST(TallyRanking, ScoresFromTheFileRankByTheirValueAndShowAsStored) {
  Tally t;
  TextTable& table = t.table();
  table.setCell(1, 1, "100");
  table.setCell(1, 2, "-2000");
  table.setCell(2, 2, "Ghost");
  table.setCell(1, 3, " 50");
  table.setCell(1, 4, "abc");
  table.setCell(1, 5, "");
  t.loadtally();
  for (int i = 1; i <= 10; ++i) EXPECT_FALSE(t.placeholder(i)) << i;
  EXPECT_EQ(rank(t, 1).score, "100");
  EXPECT_EQ(rank(t, 2), (Rank{false, -2000, "", "Ghost", "", Look::designed}));
  EXPECT_EQ(rank(t, 3).score, " 50");
  EXPECT_EQ(t.rankvalue(3), 50);
  EXPECT_EQ(t.rankvalue(4), -1000);
  EXPECT_EQ(t.cell(1, 4), "abc");  // kept as it was, only not ranked
  EXPECT_EQ(t.cell(1, 5), "-1000");

  // -2000 still ranks by its value: 60 goes above it, below 100.
  EXPECT_EQ(t.checkscore(60, "New", "3/9/24"), 2);
  EXPECT_EQ(rank(t, 3).name, "Ghost");
  EXPECT_EQ(t.rankvalue(3), -2000);
  EXPECT_EQ(rank(t, 4).score, " 50");
}

TEST(TallyRanking, ANameWithALineBreakCannotSpoilTheTable) {
  Tally t;
  t.checkscore(10, "A\nB\rC", "3/9/24");
  EXPECT_EQ(t.cell(2, 1), "A B C");
}

TEST(TallyReset, ClearsCountersAndTopTenTogetherAndTheNextGameFillsRankOne) {
  Tally t;
  play(t, 150, "Ann");
  play(t, 90, "Bo");
  t.table().resize(10, 13);  // a table from a later program, wider and longer
  t.table().setCell(9, 0, "spare");
  t.reset();
  EXPECT_EQ(t.table().columns(), 10);
  EXPECT_EQ(t.table().rows(), 12);
  EXPECT_EQ(t.cell(0, 0), "0");
  for (int c = 1; c <= 9; ++c) EXPECT_EQ(t.cell(c, 0), "0") << c;
  for (int r = 1; r <= 11; ++r) {
    EXPECT_EQ(t.cell(0, r), "") << r;
    EXPECT_EQ(t.cell(1, r), "-1000") << r;
    EXPECT_EQ(t.cell(2, r), "") << r;
  }
  for (int i = 1; i <= 10; ++i) EXPECT_EQ(rank(t, i), blank(Look::plain)) << i;

  play(t, 40, "Cy");
  EXPECT_EQ(rank(t, 1), entry("Cy", 40, Look::marked));
  EXPECT_EQ(rank(t, 2), blank(Look::plain));
  EXPECT_EQ(counters(t), (std::vector<std::string>{"1", "1", "0"}));
}

// --- The record in its file, one copy alone ---

class TallyInItsFile : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(scratch.path().empty()); }
  std::string file(const std::string& name = "pipshifttally.tld") const {
    return (scratch.path() / name).string();
  }
  std::string bytes(const std::string& path) const {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void write(const std::string& path, const std::string& text) const {
    std::ofstream(path, std::ios::binary) << text;
  }
  std::vector<std::string> entries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(scratch.path()))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  TextTable ondisk() const {
    TextTable t;
    EXPECT_EQ(loadtallyfile(file(), t), TallyLoad::Loaded);
    return t;
  }
  ScratchDir scratch;
};

TEST_F(TallyInItsFile, WithoutAFileThePlaceholdersStayAndTheFirstSaveWritesOnlyRealEntries) {
  Tally t(file());
  EXPECT_EQ(t.open(), Tally::Opened::missing);
  EXPECT_TRUE(t.placeholder(1));
  play(t, 150, "Ann");
  EXPECT_TRUE(t.pending());
  EXPECT_EQ(t.sync(0), Tally::Synced::saved);
  EXPECT_FALSE(t.pending());
  EXPECT_EQ(entries(), (std::vector<std::string>{"pipshifttally.tld"}));
  EXPECT_EQ(ondisk(), t.table());

  Tally again(file());
  EXPECT_EQ(again.open(), Tally::Opened::loaded);
  EXPECT_EQ(rank(again, 1), entry("Ann", 150, Look::designed));
  EXPECT_EQ(rank(again, 2), blank(Look::designed));
  EXPECT_EQ(counters(again), (std::vector<std::string>{"1", "1", "0"}));
}

TEST_F(TallyInItsFile, ASmallOrSparseTableFromTheFileIsMadeWholeOnLoading) {
  TextTable small(3, 2);
  small.setCell(1, 0, "5");
  small.setCell(1, 1, "");
  ASSERT_TRUE(savetallyfile(file(), small));
  Tally t(file());
  ASSERT_EQ(t.open(), Tally::Opened::loaded);
  EXPECT_EQ(t.table().columns(), 9);
  EXPECT_EQ(t.table().rows(), 12);
  EXPECT_EQ(t.cell(1, 0), "5");
  for (int r = 1; r <= 10; ++r) EXPECT_EQ(t.cell(1, r), "-1000") << r;
  t.addtomineincrease(1);
  EXPECT_EQ(t.cell(1, 0), "6");
}

TEST_F(TallyInItsFile, ADamagedFileIsReportedKeptAsBadAndReplacedByTheNextSave) {
  const std::string damaged = "this was never a tally file";
  write(file(), damaged);
  Tally t(file());
  std::string error;
  EXPECT_EQ(t.open(&error), Tally::Opened::damaged);
  EXPECT_NE(error.find(file()), std::string::npos) << error;
  EXPECT_EQ(bytes(file() + ".bad"), damaged);
  for (int i = 1; i <= 10; ++i) EXPECT_EQ(rank(t, i), placeholder(Look::designed)) << i;

  play(t, 150, "Ann");
  EXPECT_EQ(t.sync(0), Tally::Synced::saved);
  EXPECT_EQ(ondisk(), t.table());
  EXPECT_EQ(bytes(file() + ".bad"), damaged);
}

TEST_F(TallyInItsFile, ADamagedFileThatCannotBeKeptIsNeverOverwrittenAndTheChangesWait) {
  const std::string damaged = "damaged, and no room for a copy";
  write(file(), damaged);
  fs::create_directories(scratch.path() / "pipshifttally.tld.bad" / "occupied");
  Tally t(file());
  EXPECT_EQ(t.open(), Tally::Opened::damaged);
  play(t, 150, "Ann");
  std::string error;
  EXPECT_EQ(t.sync(0, &error), Tally::Synced::failed);
  EXPECT_NE(error.find(".bad"), std::string::npos) << error;
  EXPECT_EQ(bytes(file()), damaged);
  EXPECT_TRUE(t.pending());

  // Once there is room for the copy, the game played meanwhile is written.
  fs::remove_all(scratch.path() / "pipshifttally.tld.bad");
  EXPECT_EQ(t.sync(0), Tally::Synced::saved);
  EXPECT_EQ(bytes(file() + ".bad"), damaged);
  EXPECT_EQ(ondisk().cell(2, 1), "Ann");
}

// --- Two copies of the program on one tally file ---

// Each record opens the file on its own, as a second copy of the program would, and each takes
// the lock through a descriptor of its own, so two records in one process exclude each other.
class TwoCopies : public TallyInItsFile {
 protected:
  void SetUp() override {
    TallyInItsFile::SetUp();
    first.pause = second.pause = [] {};
  }
  void openboth() {
    ASSERT_NE(first.open(), Tally::Opened::damaged);
    ASSERT_NE(second.open(), Tally::Opened::damaged);
  }
  Tally first{file()};
  Tally second{file()};
};

TEST_F(TwoCopies, EachCountsTheGamesOfTheOtherAndThePercentageCountsThemAll) {
  openboth();
  first.addtomineincrease(1);
  first.addtomineincrease(2);
  ASSERT_EQ(first.sync(0), Tally::Synced::saved);
  EXPECT_EQ(ondisk().cell(1, 0), "1");

  // The second copy never saw that game; its start counts on top of it.
  second.addtomineincrease(1);
  EXPECT_EQ(counters(second), (std::vector<std::string>{"1", "0", "0"}));
  ASSERT_EQ(second.sync(0), Tally::Synced::saved);
  EXPECT_EQ(counters(second), (std::vector<std::string>{"2", "1", "50"}));
  EXPECT_EQ(ondisk(), second.table());

  // Back in the first copy: a game started there lands on both.
  first.addtomineincrease(1);
  ASSERT_EQ(first.sync(0), Tally::Synced::saved);
  EXPECT_EQ(counters(first), (std::vector<std::string>{"3", "1", "33"}));

  // An exit with nothing new writes what the file holds, not an old picture of it.
  ASSERT_EQ(second.sync(0), Tally::Synced::saved);
  EXPECT_EQ(counters(second), (std::vector<std::string>{"3", "1", "33"}));
  EXPECT_EQ(entries(), (std::vector<std::string>{"pipshifttally.tld"}));
}

TEST_F(TwoCopies, ScoresOfBothMeetInOneTopTenAndThePlaceholdersGiveWay) {
  openboth();
  first.checkscore(300, "First", "3/9/24");
  ASSERT_EQ(first.sync(0), Tally::Synced::saved);

  EXPECT_EQ(second.checkscore(200, "Second", "3/9/24"), 1);
  ASSERT_EQ(second.sync(0), Tally::Synced::saved);
  EXPECT_EQ(rank(second, 1), entry("First", 300, Look::plain));
  EXPECT_EQ(rank(second, 2), entry("Second", 200, Look::marked));
  for (int i = 3; i <= 10; ++i) EXPECT_EQ(rank(second, i), placeholder(Look::plain)) << i;

  // The first copy shows the other's entry where it had a placeholder.
  ASSERT_EQ(first.sync(0), Tally::Synced::saved);
  EXPECT_EQ(rank(first, 1), entry("First", 300, Look::marked));
  EXPECT_EQ(rank(first, 2), entry("Second", 200, Look::plain));
  EXPECT_EQ(rank(first, 3), placeholder(Look::plain));
  for (int r = 3; r <= 10; ++r) EXPECT_EQ(ondisk().cell(1, r), "-1000") << r;
}

TEST_F(TwoCopies, AResetClearsWhatTheOtherWroteAndLaterGamesCountFromThere) {
  openboth();
  play(first, 150, "Ann");
  play(first, 90, "Bo");
  ASSERT_EQ(first.sync(0), Tally::Synced::saved);
  second.reset();
  ASSERT_EQ(second.sync(0), Tally::Synced::saved);
  EXPECT_EQ(ondisk().cell(1, 0), "0");
  EXPECT_EQ(ondisk().cell(1, 1), "-1000");

  play(first, 40, "Cy");
  ASSERT_EQ(first.sync(0), Tally::Synced::saved);
  EXPECT_EQ(counters(first), (std::vector<std::string>{"1", "1", "0"}));
  EXPECT_EQ(rank(first, 1), entry("Cy", 40, Look::marked));
  EXPECT_EQ(rank(first, 2), blank(Look::plain));
}

TEST_F(TwoCopies, AChangeWaitsWhileTheOtherHoldsTheLockAndIsWrittenOnceItLetsGo) {
  openboth();
  TallyLock other(first.lockpath());
  ASSERT_EQ(other.acquire(0, [] {}), TallyLock::Result::held);

  int pauses = 0;
  first.pause = [&] { ++pauses; };
  first.addtomineincrease(1);
  std::string error;
  EXPECT_EQ(first.sync(5, &error), Tally::Synced::busy);
  EXPECT_EQ(pauses, 5) << "a bounded number of tries, a pause between each";
  EXPECT_NE(error.find(file()), std::string::npos) << error;
  EXPECT_FALSE(fs::exists(file()));
  EXPECT_TRUE(first.pending());
  EXPECT_EQ(first.cell(1, 0), "1") << "the record still shows the game";

  // The holder lets go during the tries: the change goes in at once.
  first.pause = [&] {
    if (++pauses == 8) other.release();
  };
  EXPECT_EQ(first.sync(10), Tally::Synced::saved);
  EXPECT_EQ(pauses, 8);
  EXPECT_FALSE(first.pending());
  EXPECT_EQ(ondisk().cell(1, 0), "1");
  EXPECT_EQ(entries(), (std::vector<std::string>{"pipshifttally.tld"})) << "no lock file left";
}

TEST_F(TwoCopies, ALockFileLeftByACopyThatDiedIsTakenOver) {
  openboth();
  std::ofstream(first.lockpath()) << "";
  first.addtomineincrease(1);
  EXPECT_EQ(first.sync(0), Tally::Synced::saved);
  EXPECT_EQ(entries(), (std::vector<std::string>{"pipshifttally.tld"}));
}

TEST_F(TwoCopies, ADamagedFileMetByBothIsKeptAsItWasAndBothGamesCount) {
  const std::string damaged = "damaged before either copy started";
  write(file(), damaged);
  EXPECT_EQ(first.open(), Tally::Opened::damaged);
  EXPECT_EQ(second.open(), Tally::Opened::damaged);
  EXPECT_EQ(bytes(file() + ".bad"), damaged);

  first.addtomineincrease(1);
  ASSERT_EQ(first.sync(0), Tally::Synced::saved);
  // The second copy finds a sound file now, not the damaged one: it adds to it and leaves the
  // copy of the damaged file alone.
  second.addtomineincrease(1);
  ASSERT_EQ(second.sync(0), Tally::Synced::saved);
  EXPECT_EQ(ondisk().cell(1, 0), "2");
  EXPECT_EQ(bytes(file() + ".bad"), damaged);
}

// Copies in processes of their own, all counting games at once: not one game may be lost.
TEST_F(TallyInItsFile, ManyCopiesCountingAtOnceLoseNoGame) {
  constexpr int copies = 4;
  constexpr int games = 20;
  std::vector<pid_t> children;
  for (int c = 0; c < copies; ++c) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      Tally t(file());
      // No sleep between tries: the copies crowd the lock file, so that a copy often opens the
      // file just as its holder removes it.
      t.pause = [] { std::this_thread::yield(); };
      if (t.open() == Tally::Opened::damaged) _exit(2);
      for (int g = 0; g < games; ++g) {
        t.addtomineincrease(1);
        if (t.sync(10000000) != Tally::Synced::saved) _exit(3);
      }
      _exit(0);
    }
    children.push_back(child);
  }
  for (const pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  EXPECT_EQ(ondisk().cell(1, 0), std::to_string(copies * games));
  EXPECT_EQ(entries(), (std::vector<std::string>{"pipshifttally.tld"}));
}

}  // namespace
