// Where the settings and the tally live: beside the program when it can hold files, else in the
// player's own data folder.
#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "platform/paths.h"

namespace {

TEST(Paths, ProgramFolderIsTheExecutablesFolderWithASlash) {
  const QString folder = programfolder();
  EXPECT_TRUE(folder.endsWith('/'));
  EXPECT_EQ(QFileInfo(folder).canonicalFilePath(),
            QFileInfo(QCoreApplication::applicationFilePath()).canonicalPath());
}

TEST(Paths, WritableProgramFolderKeepsTheFiles) {
  QTemporaryDir program, fallback;
  const QString chosen = datafolderfor(program.path(), fallback.path() + "/data");
  EXPECT_EQ(chosen, program.path() + "/");
  // The probe leaves nothing behind, and the fallback is not made when unused.
  EXPECT_TRUE(QDir(program.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
  EXPECT_FALSE(QFileInfo::exists(fallback.path() + "/data"));
}

TEST(Paths, FolderThatCannotHoldFilesSendsThemToTheFallback) {
  QTemporaryDir scratch;
  QFile plain(scratch.filePath("plain"));
  ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
  plain.close();
  const QString fallback = scratch.path() + "/home/.local/share/Pipshift";
  // A "folder" under a regular file cannot exist, not even for root.
  for (const QString& program : {scratch.filePath("plain"), scratch.filePath("plain/bin"),
                                 QString("/proc"), scratch.filePath("missing/bin")}) {
    EXPECT_FALSE(canholdfiles(program)) << program.toStdString();
    EXPECT_EQ(datafolderfor(program, fallback), fallback + "/") << program.toStdString();
  }
  EXPECT_TRUE(QFileInfo(fallback).isDir());
  EXPECT_TRUE(canholdfiles(fallback));
}

TEST(Paths, NoFallbackStaysBesideTheProgram) {
  EXPECT_EQ(datafolderfor("/proc", ""), "/proc/");
}

TEST(Paths, DataFolderIsStableAndUsable) {
  const QString first = datafolder();
  EXPECT_TRUE(first.endsWith('/'));
  EXPECT_EQ(datafolder(), first);
  EXPECT_TRUE(canholdfiles(first));
}

}  // namespace
