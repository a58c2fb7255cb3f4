#include "stats/tallylock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

TallyLock::TallyLock(std::string lockpath) : path_(std::move(lockpath)) {}

TallyLock::~TallyLock() {
  release();
}

TallyLock::Result TallyLock::tryonce() {
  if (held()) return Result::held;
  // The file a waiter locked may have been removed by its holder in the meantime, and a new one
  // made by a third copy; a few rounds settle that, since each round finds the file of the day.
  for (int round = 0; round < 16; ++round) {
    const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) {
      if (errno == EINTR) continue;
      error_ = errno;
      return Result::failed;
    }
    int locked;
    do locked = ::flock(fd, LOCK_EX | LOCK_NB);
    while (locked != 0 && errno == EINTR);
    if (locked != 0) {
      const int reason = errno;
      ::close(fd);
      if (reason == EWOULDBLOCK) return Result::busy;
      error_ = reason;
      if (reason == ENOLCK || reason == EOPNOTSUPP || reason == ENOSYS || reason == EINVAL) {
        ::unlink(path_.c_str());
        return Result::unavailable;
      }
      return Result::failed;
    }
    struct stat mine {};
    struct stat named {};
    if (::fstat(fd, &mine) == 0 && ::stat(path_.c_str(), &named) == 0 &&
        mine.st_dev == named.st_dev && mine.st_ino == named.st_ino) {
      fd_ = fd;
      error_ = 0;
      return Result::held;
    }
    ::close(fd);  // locked a file its holder had already removed
  }
  return Result::busy;
}

void TallyLock::release() {
  if (!held()) return;
  // Removed while still locked, so no one can lock this file and believe it current.
  ::unlink(path_.c_str());
  ::close(std::exchange(fd_, -1));
}
