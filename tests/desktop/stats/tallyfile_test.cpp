// The tally file on disk: what a save leaves behind when it succeeds and when it fails part-way,
// and what a load makes of good, damaged and hostile files.
#include <gtest/gtest.h>
#include <QFileInfo>
#include <QTemporaryDir>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "stats/tallyfile.h"
#include "tests/desktop/stats/tallysupport.h"

namespace {

class TallyFile : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    path = dir.filePath("pipshifttally.tld");
  }
  QTemporaryDir dir;
  QString path;
};

TEST_F(TallyFile, SaveThenLoadGivesBackEveryCellExactly) {
  const TextTable saved = sampletally();
  ASSERT_TRUE(savetallyfile(path, saved));
  const QByteArray bytes = readbytes(path);
  EXPECT_TRUE(bytes.startsWith("WRZL"));  // the container's fast mode
  const std::string text = unpacked(bytes);
  EXPECT_EQ(text.substr(0, 10), "9\r\n12\r\n0\r\n");
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 110);

  TextTable loaded(2, 2);
  ASSERT_EQ(loadtallyfile(path, loaded), TallyLoad::Loaded);
  EXPECT_EQ(loaded, saved);

  // Saving again over a good file is as harmless as the first time.
  ASSERT_TRUE(savetallyfile(path, saved));
  EXPECT_EQ(readbytes(path), bytes);
  EXPECT_EQ(entries(dir.path()), QStringList({"pipshifttally.tld"}));
}

TEST_F(TallyFile, AMissingFileIsNoErrorAndLeavesTheTableAlone) {
  TextTable t = sampletally();
  QString error;
  EXPECT_EQ(loadtallyfile(path, t, &error), TallyLoad::Missing);
  EXPECT_EQ(t, sampletally());
  EXPECT_TRUE(error.isEmpty());
}

TEST_F(TallyFile, NeitherLoadNorSaveTouchesATempTxtInTheCurrentDirectory) {
  QTemporaryDir elsewhere;
  CurrentDirectory cwd(elsewhere.path());
  writebytes("temp.txt", "keep me");
  ASSERT_TRUE(savetallyfile(path, sampletally()));
  TextTable t;
  ASSERT_EQ(loadtallyfile(path, t), TallyLoad::Loaded);
  EXPECT_EQ(readbytes("temp.txt"), "keep me");
  EXPECT_EQ(entries(elsewhere.path()), QStringList({"temp.txt"}));
}

TEST_F(TallyFile, ASaveCutShortByAFullDiskLeavesTheOldFileAsItWas) {
  ASSERT_TRUE(savetallyfile(path, sampletally()));
  const QByteArray old = readbytes(path);
  TextTable changed = sampletally();
  changed.setCell(2, 1, "Someone Else");

  // A child process whose files may not grow past 16 bytes stands in for a full disk.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{16, 16};
    setrlimit(RLIMIT_FSIZE, &limit);
    QString error;
    const bool saved = savetallyfile(path, changed, &error);
    _exit(saved ? 0 : (error.contains(path) ? 3 : 4));
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3) << "the save must fail and say which file";
  EXPECT_EQ(readbytes(path), old);
  EXPECT_EQ(entries(dir.path()), QStringList({"pipshifttally.tld"}));
}

TEST_F(TallyFile, ATableThatCannotBeWrittenWholeNeverReplacesTheFile) {
  ASSERT_TRUE(savetallyfile(path, sampletally()));
  const QByteArray old = readbytes(path);
  TextTable broken = sampletally();
  broken.setCell(2, 1, "two\nlines");
  QString error;
  EXPECT_FALSE(savetallyfile(path, broken, &error));
  EXPECT_FALSE(error.isEmpty());
  EXPECT_EQ(readbytes(path), old);
  EXPECT_EQ(entries(dir.path()), QStringList({"pipshifttally.tld"}));
}

TEST_F(TallyFile, ASaveThatCannotBeRenamedIntoPlaceFailsAndCleansUp) {
  EXPECT_FALSE(savetallyfile(dir.filePath("no/such/folder/pipshifttally.tld"), sampletally()));
  ASSERT_TRUE(QDir(dir.path()).mkpath("pipshifttally.tld/inside"));  // a folder in the way
  EXPECT_FALSE(savetallyfile(path, sampletally()));
  EXPECT_TRUE(QFileInfo(path).isDir());
  EXPECT_EQ(entries(dir.path()), QStringList({"pipshifttally.tld"}));
}

TEST_F(TallyFile, ASaveKeepsTheFilesAccessAndWritesThroughALink) {
  ASSERT_TRUE(savetallyfile(path, sampletally()));
  ASSERT_EQ(chmod(QFile::encodeName(path).constData(), 0640), 0);
  const QString link = dir.filePath("link.tld");
  ASSERT_TRUE(QFile::link(path, link));

  TextTable changed = sampletally();
  changed.setCell(1, 0, "8");
  ASSERT_TRUE(savetallyfile(link, changed));
  EXPECT_TRUE(QFileInfo(link).isSymLink());
  struct stat st {};
  ASSERT_EQ(stat(QFile::encodeName(path).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  TextTable t;
  ASSERT_EQ(loadtallyfile(path, t), TallyLoad::Loaded);
  EXPECT_EQ(t, changed);
}

TEST_F(TallyFile, DamagedFilesFailWithAMessageNamingThemAndChangeNothing) {
  const TextTable before = sampletally();
  auto failswith = [&](const QByteArray& bytes, const char* words) {
    writebytes(path, bytes);
    TextTable t = before;
    QString error;
    EXPECT_EQ(loadtallyfile(path, t, &error), TallyLoad::Failed) << words;
    EXPECT_TRUE(error.contains(path)) << error.toStdString();
    EXPECT_TRUE(error.contains(words)) << error.toStdString();
    EXPECT_EQ(t, before);
  };
  failswith("not a tally", "no valid header");
  ASSERT_TRUE(savetallyfile(path, before));
  failswith(readbytes(path).chopped(5), "Lzrw1");

  // Blocks of long runs claiming a huge size: would unpack to far more than any tally.
  QByteArray block;
  block.append("\x40\xff\x00", 3);
  for (int i = 0; i < 8; ++i) block.append("\x00\x0f\xef\x41", 4);  // 8 runs of 4095 bytes
  block.append("ABCDEFGH");                                         // and 8 literals
  QByteArray bomb("WRZL\xff\xff\xff\x7f", 8);
  for (int i = 0; i < 40; ++i) {
    bomb.append(char(block.size())).append('\0');
    bomb.append(block);
  }
  failswith(bomb, "more than a tally");
}

TEST_F(TallyFile, ADamagedFileIsKeptBesideItself) {
  writebytes(path, "damaged once");
  writebytes(path + ".bad", "an older copy");
  ASSERT_TRUE(keepdamagedtally(path));
  EXPECT_EQ(readbytes(damagedtallypath(path)), "damaged once");
  EXPECT_EQ(readbytes(path), "damaged once");
  EXPECT_FALSE(keepdamagedtally(dir.filePath("missing.tld")));
}

}  // namespace
