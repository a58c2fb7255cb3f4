#include "stats/tallylock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

TallyLock::TallyLock(std::string lockpath) : m_path(std::move(lockpath)) {}

TallyLock::~TallyLock() {
  release();
}

TallyLock::Result TallyLock::tryonce() {
  if (held()) return Result::held;
  // The file a waiter locked may have been removed by its holder in the meantime, and a new one
  // made by a third copy; a few rounds settle that, since each round finds the file of the day.
  for (int round = 0; round < 16; ++round) {
    const int fd = ::open(m_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) {
      if (errno == EINTR) continue;
      m_error = errno;
      return Result::failed;
    }
    int locked;
    do locked = ::flock(fd, LOCK_EX | LOCK_NB);
    while (locked != 0 && errno == EINTR);
    if (locked != 0) {
      const int reason = errno;
      ::close(fd);
      if (reason == EWOULDBLOCK) return Result::busy;
      m_error = reason;
      if (reason == ENOLCK || reason == EOPNOTSUPP || reason == ENOSYS || reason == EINVAL) {
        ::unlink(m_path.c_str());
        return Result::unavailable;
      }
      return Result::failed;
    }
    struct stat mine {};
    struct stat named {};
    if (::fstat(fd, &mine) == 0 && ::stat(m_path.c_str(), &named) == 0 &&
        mine.st_dev == named.st_dev && mine.st_ino == named.st_ino) {
      m_fd = fd;
      m_error = 0;
      return Result::held;
    }
    ::close(fd);  // locked a file its holder had already removed
  }
  return Result::busy;
}

void TallyLock::release() {
  if (!held()) return;
  // Removed while still locked, so no one can lock this file and believe it current.
  ::unlink(m_path.c_str());
  ::close(std::exchange(m_fd, -1));
}
