#include "platform/atomicfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <utility>

namespace {

std::string folderof(const std::string& file) {
  const std::string::size_type slash = file.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : file.substr(0, slash);
}

// Makes the rename itself durable. Best effort: the rename is what keeps the old file safe, and
// some file systems cannot sync a folder at all.
void syncfolder(const std::string& file) {
  const int fd = ::open(folderof(file).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

AtomicFile::AtomicFile(std::string path) : path_(std::move(path)) {}

AtomicFile::~AtomicFile() {
  discard();
}

bool AtomicFile::open() {
  if (state_ != State::unopened) return state_ == State::writing;
  // An empty name would put the temporary in the current folder, beside nothing.
  if (path_.empty()) return fail(Failure::create, ENOENT);

  struct stat old {};
  const bool exists = ::stat(path_.c_str(), &old) == 0;
  if (exists && !S_ISREG(old.st_mode))
    return fail(Failure::target, S_ISDIR(old.st_mode) ? EISDIR : EINVAL);
  target_ = path_;
  // Replacing a link would cut it; the file it names is replaced instead.
  struct stat link {};
  if (exists && ::lstat(path_.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    const std::unique_ptr<char, decltype(&std::free)> real(::realpath(path_.c_str(), nullptr),
                                                           &std::free);
    if (!real) return fail(Failure::target, errno);
    target_ = real.get();
  }

  // Created with the old file's access from the start, so its content is never readable by more
  // people than could read the old file.
  const mode_t mode = exists ? (old.st_mode & 07777) : 0666;
  static std::atomic<unsigned> serial{0};
  int reason = 0;
  for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
    temporary_ = target_ + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(serial++);
    fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode & 0777);
    reason = errno;
    if (fd_ < 0 && reason != EEXIST && reason != EINTR) break;
  }
  if (fd_ < 0) {
    temporary_.clear();
    return fail(Failure::create, reason);
  }
  // The umask may have narrowed the new file. Not worth failing over: the content is whole either
  // way.
  if (exists) static_cast<void>(::fchmod(fd_, mode));
  state_ = State::writing;
  return true;
}

bool AtomicFile::write(const void* data, std::size_t size) {
  if (state_ != State::writing) return false;
  const char* next = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = ::write(fd_, next, size);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return fail(Failure::write, errno);
    if (written == 0) return fail(Failure::write, ENOSPC);
    next += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool AtomicFile::commit() {
  if (state_ != State::writing) return state_ == State::committed;
  if (::fsync(fd_) != 0) return fail(Failure::sync, errno);
  const int fd = std::exchange(fd_, -1);
  // Some file systems report a failed write only when the file is closed.
  if (::close(fd) != 0) return fail(Failure::sync, errno);
  if (::rename(temporary_.c_str(), target_.c_str()) != 0) return fail(Failure::rename, errno);
  temporary_.clear();
  state_ = State::committed;
  syncfolder(target_);
  return true;
}

void AtomicFile::discard() {
  if (fd_ >= 0) ::close(std::exchange(fd_, -1));
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
  temporary_.clear();
  if (state_ != State::committed) state_ = State::dropped;
}

bool AtomicFile::fail(Failure failure, int error) {
  discard();
  failure_ = failure;
  error_ = error;
  return false;
}
