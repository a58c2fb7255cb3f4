#pragma once

// Replaces a file whole or not at all.
//
// The new content goes to a temporary file created beside the target (same folder, so the same
// file system), every write is checked, the temporary is forced to disk and only then renamed over
// the target. Until commit() succeeds the target keeps its old bytes, whatever fails and wherever
// the program stops; after any failure the temporary is already gone.
//
// A target that exists keeps its permission bits; a new one gets 0666 less the umask. A target
// that is a link to an existing file stays a link: the file it names is replaced, and the temporary
// is made beside that file. A link that names nothing is replaced by the new file. A target that
// exists but is not a regular file (a folder, a device) is refused before anything is created.
//
// Plain C++ without Qt, so the compressed-file codec and the maintainer's tool can use it too.

#include <cstddef>
#include <string>

class AtomicFile {
 public:
  // The step that failed.
  enum class Failure {
    none,
    target,  // the target is not a regular file, or its link could not be followed
    create,  // no temporary could be made beside the target (no such folder, no write access)
    write,   // a write fell short: a full disk, a file size limit, an I/O error
    sync,    // the data could not be forced to disk, or closing reported a late write error
    rename,  // the finished file could not take the target's place
  };

  explicit AtomicFile(std::string path);
  ~AtomicFile();  // an uncommitted replacement is dropped
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Creates the temporary. False when it cannot be made; failure() and error() say why.
  bool open();

  // Appends all size bytes to the temporary, or fails (and drops it) when any byte cannot be
  // written. False as well when the file is not open or failed before.
  bool write(const void* data, std::size_t size);

  // Forces the temporary to disk and renames it over the target. False, with the target as it
  // was and the temporary removed, when any step fails.
  bool commit();

  // Gives up: the temporary is removed and the target stays as it was.
  void discard();

  Failure failure() const { return failure_; }
  // The errno of the failed step; a write that made no progress counts as ENOSPC, a target that
  // is a folder as EISDIR and any other file that is not regular as EINVAL.
  int error() const { return error_; }

  // The path as given, and the file that is replaced (the one a link names), known once open.
  const std::string& path() const { return path_; }
  const std::string& target() const { return target_; }

 private:
  bool fail(Failure failure, int error);

  enum class State { unopened, writing, committed, dropped };

  std::string path_;
  std::string target_;
  std::string temporary_;
  int fd_ = -1;
  State state_ = State::unopened;
  Failure failure_ = Failure::none;
  int error_ = 0;
};
