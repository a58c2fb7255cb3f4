// The tally's text table file: its exact layout, round trips, and files that are not tables.

#include "stats/tallygrid.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <locale>
#include <sstream>

#include "tests/support/scratchdir.h"

namespace {

std::string saved(const TextTable& table) {
  std::ostringstream out;
  savegrid(table, out);
  return out.str();
}

TextTable loaded(const std::string& text) {
  std::istringstream in(text);
  TextTable table;
  loadgrid(table, in);
  return table;
}

std::string loaderror(const std::string& text, TextTable& table) {
  std::istringstream in(text);
  try {
    loadgrid(table, in);
  } catch (const EInOutError& e) {
    return e.what();
  }
  return "(no error)";
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t at = 0;
  for (std::size_t end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
    out.push_back(text.substr(at, end - at));
  EXPECT_EQ(at, text.size()) << "text after the last CR LF";
  return out;
}

// The tally as a reset leaves it, with one entry in rank 1.
TextTable tally() {
  TextTable t(9, 12);
  for (int c = 0; c < 9; ++c) t.setCell(c, 0, "0");
  t.setCell(1, 0, "17");
  t.setCell(2, 0, "3");
  t.setCell(3, 0, "17");
  for (int r = 1; r <= 11; ++r) t.setCell(1, r, "-1000");
  t.setCell(0, 1, "Feb 11, 2008");
  t.setCell(1, 1, "412");
  t.setCell(2, 1, "Anna Maria");
  return t;
}

TEST(Savegrid, WritesCountsThenCellsColumnByColumnEachWithCrLf) {
  const std::vector<std::string> l = lines(saved(tally()));
  ASSERT_EQ(l.size(), 110u);
  EXPECT_EQ(l[0], "9");
  EXPECT_EQ(l[1], "12");
  // Cell (c, r) is on line 3 + 12c + r, counting lines from 1.
  auto line = [&](int c, int r) { return l[2 + 12 * c + r]; };
  EXPECT_EQ(line(0, 0), "0");
  EXPECT_EQ(line(0, 1), "Feb 11, 2008");
  EXPECT_EQ(line(0, 2), "");
  EXPECT_EQ(line(1, 0), "17");
  EXPECT_EQ(line(1, 1), "412");
  EXPECT_EQ(line(1, 11), "-1000");
  EXPECT_EQ(line(2, 1), "Anna Maria");
  EXPECT_EQ(line(3, 0), "17");
  EXPECT_EQ(line(8, 0), "0");
  EXPECT_EQ(line(8, 11), "");
}

TEST(Savegrid, EmptyTableIsItsTwoCounts) {
  EXPECT_EQ(saved(TextTable()), "0\r\n0\r\n");
  EXPECT_EQ(saved(TextTable(2, 1)), "2\r\n1\r\n\r\n\r\n");
}

TEST(Savegrid, CountsAreDigitsWhateverTheStreamsLocale) {
  // A locale that groups thousands would write "10,000", which no reader takes as a count.
  struct Grouping : std::numpunct<char> {
    char do_thousands_sep() const override { return ','; }
    std::string do_grouping() const override { return "\3"; }
  };
  std::ostringstream out;
  out.imbue(std::locale(std::locale::classic(), new Grouping));
  savegrid(TextTable(1000, 10), out);
  EXPECT_EQ(out.str().substr(0, 10), "1000\r\n10\r\n");
}

TEST(Savegrid, RefusesCellsWithLineBreaks) {
  TextTable t = tally();
  t.setCell(2, 3, "two\nlines");
  std::ostringstream out;
  EXPECT_THROW(savegrid(t, out), EInOutError);
  t.setCell(2, 3, "cr\r");
  EXPECT_THROW(savegrid(t, out), EInOutError);
}

TEST(Savegrid, AStreamThatFailsPartWayIsAnError) {
  // Room for 300 bytes, as on a disk that fills up: the table is about 400.
  struct Full : std::streambuf {
    int room = 300;
    int overflow(int c) override { return room-- > 0 ? c : traits_type::eof(); }
  } buffer;
  std::ostream out(&buffer);
  EXPECT_THROW(savegrid(tally(), out), EInOutError);
}

TEST(Loadgrid, GivesBackEveryCellExactly) {
  TextTable t = tally();
  t.setCell(2, 2, "  blanks around  ");
  t.setCell(5, 7, "\t tab");
  t.setCell(8, 11, "last");
  const TextTable back = loaded(saved(t));
  EXPECT_EQ(back.columns(), 9);
  EXPECT_EQ(back.rows(), 12);
  EXPECT_EQ(back, t);
}

TEST(Loadgrid, TakesTheSizeFromTheFile) {
  TextTable t(3, 2);
  t.setCell(2, 1, "x");
  TextTable target(9, 12);
  std::istringstream in(saved(t));
  loadgrid(target, in);
  EXPECT_EQ(target, t);
}

TEST(Loadgrid, AcceptsBareLineFeedsAndAMissingFinalLineEnd) {
  const TextTable t = loaded("2\n1\nleft\nright");
  EXPECT_EQ(t.cell(0, 0), "left");
  EXPECT_EQ(t.cell(1, 0), "right");
  // Counts with blanks or a sign, as a text reader takes them; text after the table is ignored.
  EXPECT_EQ(loaded(" +1 \r\n1\r\nonly\r\nextra\r\n").cell(0, 0), "only");
}

TEST(Loadgrid, CountLinesThatAreNotNumbersAreInvalidNumericInput) {
  for (const char* text : {"abc\r\n12\r\n", "9\r\n\r\n", "9x\r\n12\r\n", "9\r\n1 2\r\n",
                           "99999999999\r\n1\r\n", "-\r\n1\r\n"}) {
    TextTable t = tally();
    EXPECT_EQ(loaderror(text, t), "Invalid numeric input") << text;
    EXPECT_EQ(t, tally()) << "the table changed";
  }
}

TEST(Loadgrid, AbsurdSizesAreRefusedBeforeAnythingIsAllocated) {
  for (const char* text : {"100000\r\n100000\r\n", "-9\r\n12\r\n", "9\r\n-1\r\n", "10001\r\n1\r\n",
                           "2147483647\r\n2147483647\r\n"}) {
    TextTable t = tally();
    EXPECT_NE(loaderror(text, t).find("out of range"), std::string::npos) << text;
    EXPECT_EQ(t, tally());
  }
  EXPECT_EQ(loaded(std::string("100\r\n100\r\n") + std::string(10000 * 3, '\n')).rows(), 100);
}

TEST(Loadgrid, ACarriageReturnInsideACellIsDamagedSoTheTallyCanStillBeSaved) {
  // Such a table could be read but never written back: every later save would fail.
  for (const char* text :
       {"1\r\n2\r\nok\r\nmid\rdle\r\n", "1\r\n1\r\ntwo endings\r\r\n", "1\n1\nbare\r\r\n"}) {
    TextTable t = tally();
    const std::string error = loaderror(text, t);
    EXPECT_NE(error.find("damaged"), std::string::npos) << text;
    EXPECT_NE(error.find("carriage return"), std::string::npos) << text;
    EXPECT_EQ(t, tally());
  }
  // Whatever loads, saves: the ordinary line endings still read as before.
  const TextTable t = loaded("1\r\n2\r\nfirst\r\nsecond\n");
  std::ostringstream out;
  EXPECT_NO_THROW(savegrid(t, out));
  EXPECT_EQ(loaded(out.str()), t);
}

TEST(Loadgrid, HugeCountsAreRefusedEvenForATableWithoutCells) {
  // No cell to read, yet every pass over the columns or rows would run for billions of steps.
  for (const char* text : {"1556548912\r\n0\r\n", "0\r\n2147483647\r\n", "10001\r\n0\r\n"}) {
    TextTable t = tally();
    EXPECT_NE(loaderror(text, t).find("out of range"), std::string::npos) << text;
    EXPECT_EQ(t, tally());
  }
  EXPECT_EQ(loaded("10000\r\n0\r\n").columns(), 10000);
}

TEST(Loadgrid, AFileCutShortIsDamagedAndChangesNothing) {
  const std::string whole = saved(tally());
  for (std::size_t cut : {std::size_t{0}, std::size_t{2}, whole.size() / 2, whole.size() - 2}) {
    TextTable t(2, 2);
    t.setCell(1, 1, "kept");
    const std::string message = loaderror(whole.substr(0, cut), t);
    EXPECT_NE(message.find("damaged"), std::string::npos) << "cut at " << cut << ": " << message;
    EXPECT_EQ(t.cell(1, 1), "kept");
  }
}

TEST(Loadgrid, OverlongLinesAreDamaged) {
  TextTable t;
  EXPECT_NE(loaderror("1\r\n1\r\n" + std::string(100000, 'x') + "\r\n", t).find("damaged"),
            std::string::npos);
}

TEST(TableFile, RoundTripsThroughAFileAndReportsFileErrors) {
  const ScratchDir scratch;
  const std::string dir = scratch.path().string();
  const std::string file = dir + "/table.txt";
  savegrid(tally(), file);
  TextTable back;
  loadgrid(back, file);
  EXPECT_EQ(back, tally());
  EXPECT_THROW(savegrid(tally(), dir + "/no/such/table.txt"), EInOutError);
  EXPECT_THROW(loadgrid(back, dir + "/missing.txt"), EInOutError);
}

TEST(TextTable, ResizeKeepsTheCellsBothSizesShare) {
  TextTable t(2, 2);
  t.setCell(0, 0, "a");
  t.setCell(1, 1, "d");
  t.resize(3, 1);
  EXPECT_EQ(t.cell(0, 0), "a");
  EXPECT_EQ(t.cell(2, 0), "");
  EXPECT_THROW(t.cell(1, 1), std::out_of_range);
  t.resize(2, 2);
  EXPECT_EQ(t.cell(1, 1), "");
  EXPECT_THROW(t.cell(-1, 0), std::out_of_range);
}

}  // namespace
