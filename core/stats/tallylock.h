#pragma once

#include <string>

// An exclusive lock shared by every copy of the program that uses one tally file, so that each
// change of the tally is read, made and written by one copy at a time.
//
// The lock is an flock() on a small file beside the tally file. The file exists only while the
// lock is held: the holder removes it before letting go, and a copy that was waiting on the file
// just removed notices (the name no longer leads to the file it locked) and tries again on a new
// one. A copy that dies holding the lock loses it with its process; only the empty file remains,
// and the next copy takes it over.
class TallyLock {
 public:
  enum class Result {
    held,    // the lock is ours until release() or destruction
    busy,    // another holder kept it through every attempt
    failed,  // the lock file could not be made or locked; error() says why
    // The file system keeps no locks. Nothing is held; a caller may go on as a lone copy would,
    // rather than never write the tally at all.
    unavailable,
  };

  // lockpath: the lock file, usually the tally file's path followed by ".lock".
  explicit TallyLock(std::string lockpath);
  ~TallyLock();
  TallyLock(const TallyLock&) = delete;
  TallyLock& operator=(const TallyLock&) = delete;

  // One try, and up to `retries` more, with pause() before each; never blocks otherwise.
  template <typename Pause>
  Result acquire(int retries, Pause&& pause) {
    for (int attempt = 0;; ++attempt) {
      const Result result = tryonce();
      if (result != Result::busy || attempt >= retries) return result;
      pause();
    }
  }

  bool held() const { return fd_ >= 0; }
  // The errno of a failed acquire.
  int error() const { return error_; }
  const std::string& path() const { return path_; }

  // Removes the lock file and lets go. Harmless when not held.
  void release();

 private:
  Result tryonce();

  std::string path_;
  int fd_ = -1;
  int error_ = 0;
};
