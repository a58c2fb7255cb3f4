#include "stats/tallyfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <streambuf>

#include "platform/atomicfile.h"
#include "stats/lzrw1.h"

namespace {

// A real tally table is a few hundred bytes. A container that unpacks to more than this is not a
// tally file, and unpacking it whole would only eat memory.
constexpr std::size_t maxtabletext = 1 << 20;

// Names the in-memory table in codec messages, where a file name would otherwise stand.
const char* const tabletextname = "the tally table";

// An output that holds at most a fixed number of bytes and refuses the rest, so the codec fails
// with a write error instead of growing without bound.
class CappedSink : public std::streambuf {
 public:
  explicit CappedSink(std::size_t cap) : m_cap(cap) {}
  const std::string& text() const { return m_text; }
  bool exceeded() const { return m_exceeded; }

 protected:
  int_type overflow(int_type ch) override {
    if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
    const char c = traits_type::to_char_type(ch);
    return xsputn(&c, 1) == 1 ? ch : traits_type::eof();
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    if (n < 0) return 0;
    if (m_text.size() + static_cast<std::size_t>(n) > m_cap) {
      m_exceeded = true;
      return 0;
    }
    m_text.append(s, static_cast<std::size_t>(n));
    return n;
  }

 private:
  std::size_t m_cap;
  std::string m_text;
  bool m_exceeded = false;
};

enum class Way { pack, unpack };

// Every call from the tally into the container. pack: the table's text in, a Fast-mode container
// out. unpack: a container in, its text out, refused once it passes cap bytes. file is the tally
// file, named in the container's messages. Throws ELzrw1Exception.
std::string container(Way way, std::istream& in, const std::string& file, std::size_t cap) {
  CappedSink sink(cap);
  std::ostream out(&sink);
  Tlzrw1 doit;
  doit.CompressMode = TCompressMode::Fast;
  doit.UseStream = true;
  doit.InputFile = way == Way::pack ? tabletextname : file;
  doit.OutputFile = way == Way::pack ? file : tabletextname;
  doit.setInputStream(&in);
  doit.setOutputStream(&out);
  if (way == Way::pack) {
    doit.Compress();
    return sink.text();
  }
  try {
    doit.Decompress();
  } catch (const ELzrw1Exception&) {
    if (sink.exceeded())
      throw ELzrw1Exception(file + " : this file is damaged: it unpacks to more than a tally");
    throw;
  }
  return sink.text();
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
