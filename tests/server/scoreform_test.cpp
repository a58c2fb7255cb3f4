#include "server/scoreform.h"

#include <gtest/gtest.h>

#include <fstream>

#include "server/scoredb.h"
#include "tests/support/scratchdir.h"

using namespace pipshiftserver;

namespace {

Checked checkquery(const std::string& query) {
  const auto fields = parseform(query);
  if (!fields) return Checked{std::nullopt, "malformed"};
  return checkentry(*fields);
}

TEST(ScoreForm, DecodesEscapesAndPlusSigns) {
  const auto fields = parseform("name=Ann+Lee%26Co&date=12%2F7%2F26&score=512&&empty=");
  ASSERT_TRUE(fields);
  EXPECT_EQ(fields->find("name")->second, "Ann Lee&Co");
  EXPECT_EQ(fields->find("date")->second, "12/7/26");
  EXPECT_EQ(fields->find("empty")->second, "");
  EXPECT_FALSE(parseform("name=%4"));
  EXPECT_FALSE(parseform("name=%zz&date=1&score=1"));
  EXPECT_FALSE(parseform("name=abc%"));
}

TEST(ScoreForm, AcceptsWhatTheProgramPosts) {
  for (const std::string& q : std::vector<std::string>{
           std::string("name=Guest&date=12/7/26&score=512"),
           std::string("name=Ann%20Lee&date=12.7.26&score=0"),
           std::string("name=x%26score%3D80&date=1/1/26&score=800"),
           // ten characters, twenty bytes
           std::string(
               "name=%C3%85%C3%84%C3%96%C3%A5%C3%A4%C3%B6%C3%89%C3%A9%C3%88%C3%A8&date=1&score=1"),
           std::string("name=a&date=2026-12-07+23:59&score=007")}) {
    const Checked c = checkquery(q);
    ASSERT_TRUE(c.entry) << q << ": " << c.error;
  }
  const Checked forged = checkquery("name=x%26score%3D80&date=1/1/26&score=3");
  ASSERT_TRUE(forged.entry);
  EXPECT_EQ(forged.entry->name, "x&score=80");
  EXPECT_EQ(forged.entry->score, 3);
  EXPECT_EQ(checkquery("name=a&date=1&score=007").entry->score, 7);
}

TEST(ScoreForm, RefusesBadEntriesWithAReason) {
  const std::string ok = "&date=1/1/26&score=5";
  for (const std::string& q : std::vector<std::string>{
           "name=ElevenChars" + ok,        // eleven characters
           "name=" + ok,                   // empty
           "name=a%09b" + ok,              // tab
           "name=a%0Ab" + ok,              // line feed
           "name=a%7Fb" + ok,              // delete
           "name=a%C2%85b" + ok,           // a control character beyond ASCII
           "name=a%FFb" + ok,              // not UTF-8
           "name=%C0%81" + ok,             // overlong
           "date=1/1/26&score=5",          // no name
           std::string("name=a&score=5"),  // no date
           std::string("name=a&date=1"),   // no score
           "name=a&date=12345678901234567&score=5",
           "name=a&date=1%0D2&score=5",
           "name=a&date=&score=5",
           "name=a&date=1&score=801",
           "name=a&date=1&score=-1",
           "name=a&date=1&score=%2B5",
           "name=a&date=1&score=1.5",
           "name=a&date=1&score=12a",
           "name=a&date=1&score=",
           "name=a&date=1&score=+5",
           "name=a&date=1&score=1e3",
           "name=a&date=1&score=99999999999",
           "name=x&score=800&date=1&score=3",  // a forged second score
           "name=a&name=b&date=1&score=3",
       }) {
    const Checked c = checkquery(q);
    EXPECT_FALSE(c.entry) << q;
    EXPECT_FALSE(c.error.empty()) << q;
  }
  EXPECT_NE(checkquery("name=ElevenChars&date=1&score=5").error.find("10 characters"),
            std::string::npos);
  EXPECT_NE(checkquery("name=a&date=1&score=900").error.find("0 to 800"), std::string::npos);
  EXPECT_NE(checkquery("name=a&date=1").error.find("\"score\" is missing"), std::string::npos);
}

// Invisible characters that change how a name reads would let one entry pass for another.
TEST(ScoreForm, RefusesNamesWithFormatCharacters) {
  const std::string ok = "&date=1/1/26&score=5";
  for (const char* name : {"%E2%80%AElanigiro",   // U+202E right-to-left override
                           "Ann%E2%80%8B",        // U+200B zero width space
                           "A%E2%80%8Dnn",        // U+200D zero width joiner
                           "%EF%BB%BFAnn",        // U+FEFF byte order mark
                           "Ann%C2%AD",           // U+00AD soft hyphen
                           "A%E2%81%A6nn",        // U+2066 left-to-right isolate
                           "Ann%F3%A0%80%81"}) {  // U+E0001 language tag
    const Checked c = checkquery(std::string("name=") + name + ok);
    EXPECT_FALSE(c.entry) << name;
    EXPECT_EQ(c.error, "The name contains invisible formatting characters.") << name;
  }
  EXPECT_FALSE(checkquery("name=Ann&date=1%E2%80%AE2&score=5").entry);
  // Letters, marks and symbols beside them stay welcome.
  for (const char* name : {"Zo%C3%AB", "%E6%9D%8E", "%D8%B9%D9%84%D9%8A", "A%E2%80%90B"}) {
    EXPECT_TRUE(checkquery(std::string("name=") + name + ok).entry) << name;
  }
}

TEST(ScorePage, EscapesNamesAndDatesAndLinksTheMaker) {
  const std::string page =
      renderscorepage({{"<b>&'\"", "<i>12/7/26", 800}, {"Plain", "1.2.26", 10}});
  EXPECT_NE(page.find("&lt;b&gt;&amp;&#39;&quot;"), std::string::npos);
  EXPECT_NE(page.find("&lt;i&gt;12/7/26"), std::string::npos);
  EXPECT_EQ(page.find("<b>&'"), std::string::npos);
  EXPECT_EQ(page.find("<i>12"), std::string::npos);
  EXPECT_NE(page.find("<a href=\"http://www.quorvel.example/\">"), std::string::npos);
  EXPECT_NE(page.find("<table"), std::string::npos);
  EXPECT_NE(page.find("bgcolor=\"#4024AE\""), std::string::npos);
  // Ranks follow the given order.
  const auto first = page.find(">1</font>");
  const auto second = page.find(">2</font>");
  ASSERT_NE(first, std::string::npos);
  ASSERT_NE(second, std::string::npos);
  EXPECT_LT(page.find("&lt;b&gt;"), page.find("Plain"));
  EXPECT_LT(first, second);
}

TEST(ScorePage, ShowsAtMostAHundredRows) {
  std::vector<ScoreEntry> many(130, ScoreEntry{"n", "d", 1});
  const std::string page = renderscorepage(many);
  std::size_t rows = 0;
  for (auto at = page.find("<tr bgcolor=\"#"); at != std::string::npos;
       at = page.find("<tr bgcolor=\"#", at + 1)) {
    ++rows;
  }
  EXPECT_EQ(rows, 101u);  // the heading and a hundred scores
  EXPECT_NE(page.find(">100</font>"), std::string::npos);
  EXPECT_EQ(page.find(">101</font>"), std::string::npos);
  EXPECT_NE(renderscorepage({}).find("No scores yet"), std::string::npos);
}

TEST(ScoreDatabase, RanksByScoreThenByArrivalAndKeepsEverything) {
  ScratchDir dir;
  const std::string file = (dir.path() / "scores.db").string();
  {
    ScoreDb db(file);
    db.add({"first", "1", 500});
    db.add({"low", "1", 3});
    db.add({"second", "1", 500});
    db.add({"top", "1", 800});
    db.add({"zero", "1", 0});
    db.add({std::string("nul\0in", 6), "1", 1});
  }
  ScoreDb reopened(file);
  EXPECT_EQ(reopened.count(), 6u);
  const auto best = reopened.best(4);
  ASSERT_EQ(best.size(), 4u);
  EXPECT_EQ(best[0].name, "top");
  EXPECT_EQ(best[1].name, "first");
  EXPECT_EQ(best[2].name, "second");
  EXPECT_EQ(best[3].name, "low");
  EXPECT_EQ(reopened.best(10).back().name, "zero");
  EXPECT_EQ(reopened.best(10)[4].name, std::string("nul\0in", 6));
}

TEST(ScoreDatabase, AnUnusableFileIsAClearError) {
  ScratchDir dir;
  EXPECT_THROW(ScoreDb((dir.path() / "missing" / "scores.db").string()), DbError);
  const auto junk = dir.path() / "junk.db";
  std::ofstream(junk) << std::string(4096, 'j');
  EXPECT_THROW(ScoreDb(junk.string()), DbError);
}

TEST(StaticFiles, ServesOnlyRegularFilesInsideTheRoot) {
  ScratchDir dir;
  namespace fs = std::filesystem;
  const fs::path root = dir.path() / "root";
  fs::create_directories(root / "pipshift");
  std::ofstream(root / "pipshift" / "pipshiftversion.txt") << "1.0.0";
  std::ofstream(dir.path() / "secret.txt") << "secret";
  fs::create_symlink(dir.path() / "secret.txt", root / "pipshift" / "link.txt");
  fs::create_directory_symlink(dir.path(), root / "up");

  const auto version = resolvestatic(root, "/pipshift/pipshiftversion.txt");
  ASSERT_TRUE(version);
  EXPECT_EQ(version->filename(), "pipshiftversion.txt");
  EXPECT_TRUE(resolvestatic(root, "//pipshift/./pipshiftversion.txt"));

  for (const char* path : {"/../secret.txt", "/pipshift/../../secret.txt", "/pipshift/..",
                           "/pipshift/link.txt", "/up/secret.txt", "/pipshift", "/", "",
                           "/pipshift/missing.txt", "/pipshift/..\\..\\secret.txt"}) {
    EXPECT_FALSE(resolvestatic(root, path)) << path;
  }
  EXPECT_FALSE(resolvestatic(root, std::string_view("/pipshift/pipshiftversion.txt\0.exe", 34)));
  EXPECT_FALSE(resolvestatic(dir.path() / "nowhere", "/pipshift/pipshiftversion.txt"));

  // Dot-files and dot-folders stay the publisher's, also behind a link inside the folder.
  std::ofstream(root / ".hidden") << "hidden";
  fs::create_directories(root / ".git");
  std::ofstream(root / ".git" / "config") << "config";
  std::ofstream(root / "pipshift" / ".pshsetup.exe.swp") << "swap";
  fs::create_symlink(root / ".hidden", root / "pipshift" / "shown.txt");
  for (const char* path : {"/.hidden", "/.git/config", "/pipshift/.pshsetup.exe.swp",
                           "/pipshift/shown.txt", "/./.hidden", "/pipshift/../.hidden"}) {
    EXPECT_FALSE(resolvestatic(root, path)) << path;
  }
  EXPECT_TRUE(resolvestatic(root, "/./pipshift/pipshiftversion.txt"));
  EXPECT_EQ(contenttypefor("a/pipshiftversion.TXT"), "text/plain");
  EXPECT_EQ(contenttypefor("a/pshsetup.exe"), "application/octet-stream");
}

}  // namespace
