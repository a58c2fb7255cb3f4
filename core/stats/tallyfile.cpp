#include "stats/tallyfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>

#include "codec/lzrw1.h"
#include "platform/atomicfile.h"

namespace {

// A real tally table is a few hundred bytes. A container that unpacks to more than this is not a
// tally file, and unpacking it whole would only eat memory.
constexpr std::size_t maxtabletext = 1 << 20;

enum class Way { pack, unpack };

// Every call from the tally into the container. pack: the table's text in, a Fast-mode container
// out. unpack: a container in, its text out, refused once it passes cap bytes. file is the tally
// file, named in the container's messages. Throws ELzrw1Exception.
std::string container(Way way, std::istream& in, const std::string& file, std::size_t cap) {
  if (way == Way::pack) {
    const std::string text(std::istreambuf_iterator<char>(in), {});
    const codec::Bytes packed = codec::pack(codec::asbytes(text), TCompressMode::Fast);
    return std::string(packed.begin(), packed.end());
  }
  try {
    const codec::Bytes text = codec::unpack(in, {.name = file, .limit = cap});
    return std::string(text.begin(), text.end());
  } catch (const ELzrw1TooLarge&) {
    throw ELzrw1Exception(file + " : this file is damaged: it unpacks to more than a tally");
  }
}

std::string systemerror(int error) {
  return std::strerror(error);
}

// Every message the player may see names the file it is about.
std::string namingfile(const std::string& path, const std::string& message) {
  return message.find(path) != std::string::npos ? message : path + " : " + message;
}

void seterror(std::string* error, const std::string& text) {
  if (error) *error = text;
}

bool exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

// Replaces the file at path with what fill writes, whole or not at all (see AtomicFile). On
// failure the file is as it was and *error (when given) says why, naming path; a fill that fails
// on its own account puts its reason in *reason.
bool replaceatomically(const std::string& path,
                       const std::function<bool(AtomicFile&, std::string* reason)>& fill,
                       std::string* error) {
  AtomicFile file(path);
  std::string reason;
  if (file.open() && fill(file, &reason) && file.commit()) return true;
  switch (file.failure()) {
    case AtomicFile::Failure::none:
      break;
    case AtomicFile::Failure::target:
      reason = "not a regular file";
      break;
    case AtomicFile::Failure::create:
      reason = "cannot create a file beside it: " + systemerror(file.error());
      break;
    case AtomicFile::Failure::write:
    case AtomicFile::Failure::sync:
    case AtomicFile::Failure::rename:
      reason = systemerror(file.error());
      break;
  }
  seterror(error, path + " : " + reason);
  return false;
}

}  // namespace

TallyLoad loadtallyfile(const std::string& path, TextTable& grid, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    const int reason = errno;
    if (!exists(path)) return TallyLoad::Missing;
    seterror(error, namingfile(path, "Lzrw1 (de)compression : Failed to open input file : " + path +
                                         " (" + systemerror(reason) + ")"));
    return TallyLoad::Failed;
  }

  try {
    std::istringstream table(container(Way::unpack, in, path, maxtabletext));
    loadgrid(grid, table);
  } catch (const std::exception& e) {
    seterror(error, namingfile(path, e.what()));
    return TallyLoad::Failed;
  }
  return TallyLoad::Loaded;
}

bool savetallyfile(const std::string& path, const TextTable& grid, std::string* error) {
  std::string packed;
  try {
    std::ostringstream text;
    savegrid(grid, text);
    const std::string table = text.str();
    std::istringstream in(table);
    packed = container(Way::pack, in, path, SIZE_MAX);

    // The file about to be replaced is the player's only record: make sure the new one reads back
    // to exactly this table before it takes its place.
    std::istringstream check(packed);
    if (container(Way::unpack, check, path, table.size()) != table)
      throw ELzrw1Exception("the packed tally does not read back as it was written");
  } catch (const std::exception& e) {
    seterror(error, namingfile(path, e.what()));
    return false;
  }

  return replaceatomically(
      path,
      [&packed](AtomicFile& file, std::string*) {
        return file.write(packed.data(), packed.size());
      },
      error);
}

std::string damagedtallypath(const std::string& path) {
  return path + ".bad";
}

bool keepdamagedtally(const std::string& path) {
  const int source = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (source < 0) return false;
  const bool ok = replaceatomically(
      damagedtallypath(path),
      [source](AtomicFile& file, std::string* reason) {
        char buffer[65536];
        for (;;) {
          const ssize_t got = ::read(source, buffer, sizeof buffer);
          if (got < 0 && errno == EINTR) continue;
          if (got < 0) {
            *reason = systemerror(errno);
            return false;
          }
          if (got == 0) return true;
          if (!file.write(buffer, static_cast<std::size_t>(got))) return false;
        }
      },
      nullptr);
  ::close(source);
  return ok;
}
