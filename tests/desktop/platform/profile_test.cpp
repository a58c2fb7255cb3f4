// The settings file reader and writer: what it reads, what a write changes, and above all what a
// write leaves alone.
#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include "platform/profile.h"

namespace {

class ProfileTest : public testing::Test {
 protected:
  QString path(const QString& name = "pipshift.ini") const { return dir.filePath(name); }

  void put(const QByteArray& bytes, const QString& name = "pipshift.ini") {
    QFile file(path(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
  }

  QByteArray get(const QString& name = "pipshift.ini") const {
    QFile file(path(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }

  QTemporaryDir dir;
};

TEST_F(ProfileTest, ReadsTrimmedValuesMatchingNamesWithoutRegardToCase) {
  put("[PipShift]\r\n  TOP =  12  \r\nName=\r\nSounds=\tno\t\r\n[other]\r\nWidth=9\r\n");
  const Profile profile(path());
  EXPECT_EQ(profile.readstring("pipshift", "top", "3"), "12");
  EXPECT_EQ(profile.readstring("PIPSHIFT", "Sounds", "yes"), "no");
  EXPECT_EQ(profile.readinteger("pipshift", "Top", 3), 12);
  // Present but empty is the empty string, not the default.
  EXPECT_EQ(profile.readstring("pipshift", "Name", "Guest"), "");
  EXPECT_EQ(profile.readstring("pipshift", "Hints", "yes"), "yes");
  // A key of another section is not this section's.
  EXPECT_EQ(profile.readinteger("pipshift", "Width", 604), 604);
  EXPECT_EQ(profile.readinteger("other", "width", 604), 9);
  EXPECT_EQ(profile.readstring("missing", "Top", "d"), "d");
}

TEST_F(ProfileTest, MissingFileGivesDefaults) {
  const Profile profile(path("none.ini"));
  EXPECT_EQ(profile.readstring("pipshift", "Name", "Guest"), "Guest");
  EXPECT_EQ(profile.readinteger("pipshift", "Top", 3), 3);
  EXPECT_FALSE(QFile::exists(path("none.ini")));
}

TEST_F(ProfileTest, ReplacesAValueInPlaceAndKeepsEveryOtherByte) {
  const QByteArray before =
      "; settings of the game\r\n"
      "[other]\r\n"
      "Top=1\r\n"
      "\r\n"
      "[pipshift]\r\n"
      "Top = 5   \r\n"
      "# a note\r\n"
      "Left=7\r\n"
      "\r\n"
      "[last]\r\n"
      "x=y";
  put(before);
  Profile profile(path());
  ASSERT_TRUE(profile.writestring("pipshift", "TOP", "40")) << profile.errorstring().toStdString();
  QByteArray expected = before;
  expected.replace("Top = 5   \r\n", "Top = 40\r\n");
  EXPECT_EQ(get(), expected);
  EXPECT_EQ(profile.readinteger("pipshift", "Top", 3), 40);
  EXPECT_EQ(profile.readinteger("other", "Top", 3), 1);
}

TEST_F(ProfileTest, AppendsAMissingKeyAtTheEndOfItsSection) {
  put("[pipshift]\nTop=5\n; kept\nLeft=7\n\n\n[other]\nWidth=1\n; about the next\n[next]\n");
  Profile profile(path());
  ASSERT_TRUE(profile.writestring("pipshift", "Name", "Ann"));
  EXPECT_EQ(get(),
            "[pipshift]\nTop=5\n; kept\nLeft=7\nName=Ann\n\n\n[other]\nWidth=1\n; about the "
            "next\n[next]\n");
  ASSERT_TRUE(profile.writestring("other", "Height", "2"));
  EXPECT_EQ(get(),
            "[pipshift]\nTop=5\n; kept\nLeft=7\nName=Ann\n\n\n[other]\nWidth=1\nHeight=2\n; "
            "about the next\n[next]\n");
  EXPECT_EQ(profile.readstring("pipshift", "name", ""), "Ann");
}

TEST_F(ProfileTest, NewLinesFollowTheFilesLineEndings) {
  put("[pipshift]\r\nTop=5");  // CRLF file whose last line has no ending
  Profile profile(path());
  ASSERT_TRUE(profile.writestring("pipshift", "Left", "3"));
  EXPECT_EQ(get(), "[pipshift]\r\nTop=5\r\nLeft=3\r\n");
  ASSERT_TRUE(profile.writestring("second", "Key", "v"));
  EXPECT_EQ(get(), "[pipshift]\r\nTop=5\r\nLeft=3\r\n\r\n[second]\r\nKey=v\r\n");
}

TEST_F(ProfileTest, ALastLineCutAfterItsCarriageReturnKeepsItsValueAndTheNewKey) {
  // A CR LF file cut between the two bytes of its last line ending.
  put("[pipshift]\r\nTop=5\r");
  Profile profile(path());
  ASSERT_TRUE(profile.writestring("pipshift", "Left", "3"));
  EXPECT_EQ(profile.readstring("pipshift", "Left", "missing"), "3");
  EXPECT_EQ(profile.readinteger("pipshift", "Top", 0), 5);
  EXPECT_EQ(get(), "[pipshift]\r\nTop=5\r\r\nLeft=3\r\n");

  put("[pipshift]\r");  // the same with only the section's header left
  Profile header(path());
  ASSERT_TRUE(header.writestring("pipshift", "Name", "Ann"));
  EXPECT_EQ(header.readstring("pipshift", "Name", "missing"), "Ann");
}

TEST_F(ProfileTest, CreatesMissingSectionAndFile) {
  Profile profile(path("fresh.ini"));
  ASSERT_TRUE(profile.writestring("pipshift", "Top", "3"));
  ASSERT_TRUE(profile.writestring("pipshift", "Name", "Guest"));
  EXPECT_EQ(get("fresh.ini"), "[pipshift]\nTop=3\nName=Guest\n");

  put("[a]\nb=c", "other.ini");
  Profile other(path("other.ini"));
  ASSERT_TRUE(other.writestring("pipshift", "Top", "3"));
  EXPECT_EQ(get("other.ini"), "[a]\nb=c\n\n[pipshift]\nTop=3\n");
}

TEST_F(ProfileTest, EmptySectionGetsItsFirstKeyRightUnderTheHeader) {
  put("[pipshift]\n\n[next]\nx=1\n");
  Profile profile(path());
  ASSERT_TRUE(profile.writestring("pipshift", "Top", "1"));
  EXPECT_EQ(get(), "[pipshift]\nTop=1\n\n[next]\nx=1\n");
}

TEST_F(ProfileTest, RepeatedSectionOrKeyUsesTheFirst) {
  put("[pipshift]\nTop=1\nTop=2\n[PIPSHIFT]\nTop=3\nLeft=9\n");
  Profile profile(path());
  EXPECT_EQ(profile.readinteger("pipshift", "Top", 0), 1);
  // The repeat is not a continuation of the section.
  EXPECT_EQ(profile.readinteger("pipshift", "Left", 0), 0);
  ASSERT_TRUE(profile.writestring("pipshift", "Top", "5"));
  ASSERT_TRUE(profile.writestring("pipshift", "Left", "6"));
  EXPECT_EQ(get(), "[pipshift]\nTop=5\nTop=2\nLeft=6\n[PIPSHIFT]\nTop=3\nLeft=9\n");
  EXPECT_EQ(profile.readinteger("pipshift", "Left", 0), 6);
}

TEST_F(ProfileTest, KeysBeforeAnySectionAndLinesWithoutEqualsAreNotKeys) {
  put("Top=99\nno equals here\n[pipshift]\njust words\nLeft=4\n=nameless\n");
  Profile profile(path());
  EXPECT_EQ(profile.readinteger("pipshift", "Top", 3), 3);
  EXPECT_EQ(profile.readinteger("pipshift", "Left", 3), 4);
  EXPECT_EQ(profile.readstring("pipshift", "just words", "d"), "d");
  ASSERT_TRUE(profile.writestring("pipshift", "Top", "8"));
  EXPECT_EQ(get(), "Top=99\nno equals here\n[pipshift]\njust words\nLeft=4\nTop=8\n=nameless\n");
}

TEST_F(ProfileTest, SeesChangesMadeByOthersBetweenReads) {
  put("[pipshift]\nTop=1\n");
  Profile profile(path());
  EXPECT_EQ(profile.readinteger("pipshift", "Top", 0), 1);
  put("[pipshift]\nTop=222\n");
  EXPECT_EQ(profile.readinteger("pipshift", "Top", 0), 222);
  Profile writer(path());
  ASSERT_TRUE(writer.writestring("pipshift", "Top", "3"));
  EXPECT_EQ(profile.readinteger("pipshift", "Top", 0), 3);
}

TEST(ProfileIntegers, AcceptsDecimalAndHexadecimalForms) {
  EXPECT_EQ(Profile::parseinteger("604"), 604);
  EXPECT_EQ(Profile::parseinteger("-12"), -12);
  EXPECT_EQ(Profile::parseinteger("+7"), 7);
  EXPECT_EQ(Profile::parseinteger("  42 "), 42);
  EXPECT_EQ(Profile::parseinteger("0x1F"), 31);
  EXPECT_EQ(Profile::parseinteger("0XfF"), 255);
  EXPECT_EQ(Profile::parseinteger("$10"), 16);
  EXPECT_EQ(Profile::parseinteger("-$10"), -16);
  EXPECT_EQ(Profile::parseinteger("2147483647"), 2147483647);
  EXPECT_EQ(Profile::parseinteger("-2147483648"), INT32_MIN);
  EXPECT_EQ(Profile::parseinteger("$FFFFFFFF"), -1);
  EXPECT_EQ(Profile::parseinteger("0x7FFFFFFF"), 2147483647);
  EXPECT_EQ(Profile::parseinteger("007"), 7);
}

TEST(ProfileIntegers, RejectsEverythingElse) {
  for (const char* bad : {"",
                          " ",
                          "abc",
                          "12abc",
                          "1 2",
                          "0x",
                          "$",
                          "-",
                          "+",
                          "--1",
                          "1.5",
                          "2147483648",
                          "-2147483649",
                          "0x100000000",
                          "$1FFFFFFFF",
                          "1e3",
                          "0x-1",
                          "- 1",
                          "99999999999999999999999999",
                          "٣"}) {
    EXPECT_EQ(Profile::parseinteger(QString::fromUtf8(bad)), std::nullopt) << bad;
  }
}

TEST_F(ProfileTest, BadIntegersGiveTheirDefaultAndOthersStillRead) {
  put("[pipshift]\nWidth=wide\nHeight=0x\nTop=$1C\nLeft=99999999999\n");
  const Profile profile(path());
  EXPECT_EQ(profile.readinteger("pipshift", "Width", 604), 604);
  EXPECT_EQ(profile.readinteger("pipshift", "Height", 374), 374);
  EXPECT_EQ(profile.readinteger("pipshift", "Top", 3), 28);
  EXPECT_EQ(profile.readinteger("pipshift", "Left", 3), 3);
}

TEST_F(ProfileTest, RefusesWhatCannotBeStoredOnOneLine) {
  put("[pipshift]\nName=Ann\n");
  Profile profile(path());
  EXPECT_FALSE(profile.writestring("pipshift", "Name", "Ann\n[evil]\nTop=1"));
  EXPECT_FALSE(profile.errorstring().isEmpty());
  EXPECT_FALSE(profile.writestring("pipshift", "Na=me", "x"));
  EXPECT_FALSE(profile.writestring("pipshift", "", "x"));
  EXPECT_FALSE(profile.writestring("pip]shift", "Name", "x"));
  EXPECT_FALSE(profile.writestring("pipshift", "[Name", "x"));
  EXPECT_FALSE(profile.writestring("pipshift", "Name", QString("a") + QChar(0) + "b"));
  EXPECT_EQ(get(), "[pipshift]\nName=Ann\n");
}

TEST_F(ProfileTest, FailedWritesSayFalseAndCreateNothing) {
  put("not a folder", "plain");
  Profile under(path("plain") + "/pipshift.ini");
  EXPECT_FALSE(under.writestring("pipshift", "Top", "1"));
  EXPECT_FALSE(under.errorstring().isEmpty());
  EXPECT_EQ(get("plain"), "not a folder");

  // A folder standing where the file should be is neither read nor replaced.
  ASSERT_TRUE(QDir(dir.path()).mkdir("folder.ini"));
  Profile folder(path("folder.ini"));
  EXPECT_EQ(folder.readstring("pipshift", "Top", "d"), "d");
  EXPECT_FALSE(folder.writestring("pipshift", "Top", "1"));
  EXPECT_TRUE(QFileInfo(path("folder.ini")).isDir());
}

TEST_F(ProfileTest, WritingThroughALinkKeepsTheLink) {
  put("[pipshift]\nTop=1\n", "real.ini");
  ASSERT_TRUE(QFile::link(path("real.ini"), path("linked.ini")));
  Profile profile(path("linked.ini"));
  ASSERT_TRUE(profile.writestring("pipshift", "Top", "2"));
  EXPECT_TRUE(QFileInfo(path("linked.ini")).isSymLink());
  EXPECT_EQ(get("real.ini"), "[pipshift]\nTop=2\n");
}

TEST_F(ProfileTest, LongValuesRoundTrip) {
  const QString longvalue(5000, QChar('v'));
  put("[pipshift]\nName=" + longvalue.toUtf8() + "\nTop=4\n");
  Profile profile(path());
  EXPECT_EQ(profile.readstring("pipshift", "Name", ""), longvalue);
  EXPECT_EQ(profile.readinteger("pipshift", "Top", 3), 4);
  const QString other(5000, QChar('w'));
  ASSERT_TRUE(profile.writestring("pipshift", "Name", other));
  EXPECT_EQ(get(), "[pipshift]\nName=" + other.toUtf8() + "\nTop=4\n");
}

TEST_F(ProfileTest, NamesAndValuesBeyondAsciiRoundTrip) {
  Profile profile(path());
  ASSERT_TRUE(profile.writestring("pipshift", "Name", QString::fromUtf8("Zoë Ångström")));
  EXPECT_EQ(profile.readstring("PIPSHIFT", "NAME", ""), QString::fromUtf8("Zoë Ångström"));
}

TEST_F(ProfileTest, ByteOrderMarkDoesNotHideTheFirstSection) {
  put("\xEF\xBB\xBF[pipshift]\r\nTop=9\r\n");
  Profile profile(path());
  EXPECT_EQ(profile.readinteger("pipshift", "Top", 3), 9);
  ASSERT_TRUE(profile.writestring("pipshift", "Left", "4"));
  EXPECT_EQ(get(), "\xEF\xBB\xBF[pipshift]\r\nTop=9\r\nLeft=4\r\n");
}

TEST_F(ProfileTest, SingleByteTextFromOlderFilesIsReadAsLatin1) {
  put("[pipshift]\nName=Zo\xEB\n");
  const Profile profile(path());
  EXPECT_EQ(profile.readstring("pipshift", "Name", ""), QString::fromUtf8("Zoë"));
}

TEST_F(ProfileTest, BinaryGarbageIsReadAsFarAsItGoesAndKeptByWrites) {
  QRandomGenerator random(20240601);
  QByteArray garbage(64 * 1024, Qt::Uninitialized);
  for (char& c : garbage) c = char(random.bounded(256));
  // Somewhere in the noise, a usable entry.
  const QByteArray file = garbage + "\n[pipshift]\nTop=17\n" + garbage;
  put(file);
  Profile profile(path());
  EXPECT_EQ(profile.readinteger("pipshift", "Top", 3), 17);
  EXPECT_EQ(profile.readinteger("pipshift", "Left", 3), 3);
  ASSERT_TRUE(profile.writestring("pipshift", "Top", "18"));
  QByteArray expected = file;
  expected.replace(garbage.size() + 12, 7, "Top=18\n");
  EXPECT_TRUE(get() == expected);
  EXPECT_EQ(profile.readinteger("pipshift", "Top", 3), 18);
}

TEST_F(ProfileTest, HugeFileIsReadAndRewrittenWhole) {
  QByteArray big;
  big.reserve(21 * 1024 * 1024);
  big += "[filler]\n";
  const QByteArray line = "entry=" + QByteArray(90, 'x') + "\n";
  while (big.size() < 20 * 1024 * 1024) big += line;
  big += "[pipshift]\nWidth=700\n";
  put(big);
  Profile profile(path());
  EXPECT_EQ(profile.readinteger("pipshift", "Width", 604), 700);
  ASSERT_TRUE(profile.writestring("pipshift", "Width", "800"));
  QByteArray expected = big;
  expected.replace(expected.size() - 4, 3, "800");
  EXPECT_TRUE(get() == expected);
}

}  // namespace
