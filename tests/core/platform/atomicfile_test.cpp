// Replacing a file whole or not at all: what the folder holds after a replacement succeeds, fails
// part-way or is given up, and what is refused before anything is written.
#include "platform/atomicfile.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/scratchdir.h"

namespace fs = std::filesystem;

namespace {

class AtomicFileTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(dir.path().empty()); }

  std::string path(const std::string& name) const { return (dir.path() / name).string(); }

  static void put(const std::string& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
    ASSERT_TRUE(out.flush()) << file;
  }
  static std::string get(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static std::vector<std::string> entries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  static bool write(AtomicFile& file, const std::string& bytes) {
    return file.write(bytes.data(), bytes.size());
  }

  ScratchDir dir;
};

// Runs body in a child process and gives back its exit code, for limits and identities that must
// not reach the test process itself.
int inchild(const std::function<int()>& body) {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(body());
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST_F(AtomicFileTest, TheTargetKeepsItsOldBytesUntilTheCommitAndThenHoldsOnlyTheNewOnes) {
  const std::string old(5000, 'o');
  put(path("tally"), old);
  AtomicFile file(path("tally"));
  ASSERT_TRUE(file.open());
  ASSERT_TRUE(write(file, "new "));
  ASSERT_TRUE(write(file, "content"));
  EXPECT_EQ(get(path("tally")), old);
  EXPECT_EQ(entries(dir.path()).size(), 2u) << "the temporary is made beside the target";

  ASSERT_TRUE(file.commit());
  EXPECT_EQ(get(path("tally")), "new content");
  EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"tally"});
}

TEST_F(AtomicFileTest, AReplacementGivenUpOrDroppedLeavesTheOldFileAndNoTemporary) {
  put(path("settings"), "old");
  {
    AtomicFile file(path("settings"));
    ASSERT_TRUE(file.open());
    ASSERT_TRUE(write(file, std::string(100000, 'x')));
    file.discard();
    EXPECT_EQ(file.failure(), AtomicFile::Failure::none);
    // Nothing revives it.
    EXPECT_FALSE(write(file, "more"));
    EXPECT_FALSE(file.commit());
    EXPECT_FALSE(file.open());
  }
  {
    AtomicFile file(path("settings"));
    ASSERT_TRUE(file.open());
    ASSERT_TRUE(write(file, "half of it"));
  }  // as when the caller's fill throws
  EXPECT_EQ(get(path("settings")), "old");
  EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"settings"});
}

TEST_F(AtomicFileTest, AFullDiskFailsTheWriteAndTheCommitAndKeepsTheOldFile) {
  const std::string old(1000, 'o');
  put(path("tally"), old);
  const std::string target = path("tally");
  // Files may not grow past 4 KB in the child: the write that crosses it falls short, the next
  // is refused, as on a full disk.
  const int code = inchild([&target] {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 10;
    AtomicFile file(target);
    if (!file.open()) return 11;
    const std::string big(65536, 'n');
    if (file.write(big.data(), big.size())) return 12;
    if (file.failure() != AtomicFile::Failure::write) return 13;
    if (file.error() != EFBIG) return 14;
    if (file.commit()) return 15;
    return 0;
  });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(get(target), old);
  EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"tally"});
}

TEST_F(AtomicFileTest, WhatCannotBeReplacedIsRefusedBeforeAnythingIsCreated) {
  fs::create_directories(path("folder/inside"));
  AtomicFile folder(path("folder"));
  EXPECT_FALSE(folder.open());
  EXPECT_EQ(folder.failure(), AtomicFile::Failure::target);
  EXPECT_EQ(folder.error(), EISDIR);
  EXPECT_TRUE(fs::is_directory(path("folder/inside")));

  AtomicFile nowhere(path("no/such/folder/file"));
  EXPECT_FALSE(nowhere.open());
  EXPECT_EQ(nowhere.failure(), AtomicFile::Failure::create);
  EXPECT_EQ(nowhere.error(), ENOENT);

  AtomicFile unnamed("");
  EXPECT_FALSE(unnamed.open());
  EXPECT_EQ(unnamed.failure(), AtomicFile::Failure::create);
  EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"folder"});

  // A folder the user may not write to: the old file is there, but nothing can go beside it.
  fs::create_directory(path("locked"));
  put(path("locked/settings"), "old");
  fs::permissions(dir.path(), static_cast<fs::perms>(0755));
  fs::permissions(path("locked"), static_cast<fs::perms>(0555));
  const std::string locked = path("locked/settings");
  const int code = inchild([&locked] {
    // The superuser writes anywhere; someone else stands in for the player.
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) return 10;
    AtomicFile file(locked);
    if (file.open()) return 11;
    if (file.failure() != AtomicFile::Failure::create) return 12;
    return file.error() == EACCES ? 0 : 13;
  });
  fs::permissions(path("locked"), fs::perms::owner_all);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(get(locked), "old");
  EXPECT_EQ(entries(path("locked")), std::vector<std::string>{"settings"});
}

TEST_F(AtomicFileTest, ARenameThatFailsRemovesTheTemporary) {
  put(path("tally"), "old");
  AtomicFile file(path("tally"));
  ASSERT_TRUE(file.open());
  ASSERT_TRUE(write(file, "new"));
  // Something else puts a folder in the target's place meanwhile.
  fs::remove(path("tally"));
  fs::create_directories(path("tally/inside"));
  EXPECT_FALSE(file.commit());
  EXPECT_EQ(file.failure(), AtomicFile::Failure::rename);
  EXPECT_TRUE(fs::is_directory(path("tally/inside")));
  EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"tally"});
}

TEST_F(AtomicFileTest, AReplacementKeepsTheFilesAccessAndItsLinks) {
  // Access the umask would narrow on a new file; the replacement keeps it all the same.
  const mode_t umask = ::umask(022);
  const fs::perms shared = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                           fs::perms::group_write;
  put(path("shared"), "old");
  fs::permissions(path("shared"), shared);
  AtomicFile replaced(path("shared"));
  const bool done = replaced.open() && write(replaced, "new") && replaced.commit();
  ::umask(umask);
  ASSERT_TRUE(done);
  EXPECT_EQ(fs::status(path("shared")).permissions() & fs::perms::all, shared);

  // A link to a file in another folder: the file is replaced from its own folder, the link stays.
  fs::create_directory(path("real"));
  put(path("real/tally"), "old");
  fs::create_symlink(path("real/tally"), path("tally"));
  AtomicFile linked(path("tally"));
  ASSERT_TRUE(linked.open());
  EXPECT_EQ(fs::path(linked.target()), fs::canonical(path("real/tally")));
  EXPECT_EQ(entries(path("real")).size(), 2u);
  ASSERT_TRUE(write(linked, "through the link") && linked.commit());
  EXPECT_TRUE(fs::is_symlink(path("tally")));
  EXPECT_EQ(get(path("real/tally")), "through the link");
  EXPECT_EQ(entries(path("real")), std::vector<std::string>{"tally"});

  // A link that names nothing has nothing to keep: a new file takes its place.
  fs::create_symlink(path("missing"), path("dangling"));
  AtomicFile dangling(path("dangling"));
  ASSERT_TRUE(dangling.open() && write(dangling, "new") && dangling.commit());
  EXPECT_FALSE(fs::is_symlink(path("dangling")));
  EXPECT_EQ(get(path("dangling")), "new");
  EXPECT_FALSE(fs::exists(path("missing")));
}

TEST_F(AtomicFileTest, TwoReplacementsAtOnceDoNotMeetAndTheLastCommitWinsWhole) {
  put(path("tally"), "old");
  AtomicFile first(path("tally"));
  AtomicFile second(path("tally"));
  ASSERT_TRUE(first.open());
  ASSERT_TRUE(second.open());
  EXPECT_EQ(entries(dir.path()).size(), 3u);
  ASSERT_TRUE(write(first, std::string(3000, '1')));
  ASSERT_TRUE(write(second, std::string(2000, '2')));
  ASSERT_TRUE(second.commit());
  EXPECT_EQ(get(path("tally")), std::string(2000, '2'));
  ASSERT_TRUE(first.commit());
  EXPECT_EQ(get(path("tally")), std::string(3000, '1'));
  EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"tally"});
}

}  // namespace
