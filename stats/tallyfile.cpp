#include "stats/tallyfile.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>

#include "codec/lzrw1.h"
#include "platform/atomicfile.h"

namespace {

// A real tally table is a few hundred bytes. A container that unpacks to more than this is not a
// tally file, and unpacking it whole would only eat memory.
constexpr std::size_t maxtabletext = 1 << 20;

QString fromnative(const char* text) {
  return QString::fromLocal8Bit(text);
}

QString systemerror(int error) {
  return QString::fromLocal8Bit(std::strerror(error));
}

// Every message the player may see names the file it is about.
QString namingfile(const QString& path, const QString& message) {
  return message.contains(path) ? message : path + QStringLiteral(" : ") + message;
}

void seterror(QString* error, const QString& text) {
  if (error) *error = text;
}

// Unpacks a container into its text, failing on anything that is not a whole container.
template <typename Container>
std::string unpack(Container& container, const std::string& inputname, std::size_t cap) {
  try {
    const codec::Bytes text = codec::unpack(container, {.name = inputname, .limit = cap});
    return std::string(text.begin(), text.end());
  } catch (const ELzrw1TooLarge&) {
    throw ELzrw1Exception(inputname + " : this file is damaged: it unpacks to more than a tally");
  }
}

// Replaces the file at path with what fill writes, whole or not at all (see AtomicFile). On
// failure the file is as it was and *error (when given) says why, naming path; a fill that fails
// on its own account puts its reason in *reason.
bool replaceatomically(const QString& path,
                       const std::function<bool(AtomicFile&, QString* reason)>& fill,
                       QString* error) {
  AtomicFile file(QFile::encodeName(path).toStdString());
  QString reason;
  if (file.open() && fill(file, &reason) && file.commit()) return true;
  switch (file.failure()) {
    case AtomicFile::Failure::none:
      break;
    case AtomicFile::Failure::target:
      reason = QStringLiteral("not a regular file");
      break;
    case AtomicFile::Failure::create:
      reason = QStringLiteral("cannot create a file beside it: ") + systemerror(file.error());
      break;
    case AtomicFile::Failure::write:
    case AtomicFile::Failure::sync:
    case AtomicFile::Failure::rename:
      reason = systemerror(file.error());
      break;
  }
  seterror(error, path + QStringLiteral(" : ") + reason);
  return false;
}

}  // namespace

TallyLoad loadtallyfile(const QString& path, TextTable& grid, QString* error) {
  const std::string name = QFile::encodeName(path).toStdString();
  std::ifstream in(name, std::ios::binary);
  if (!in) {
    const int reason = errno;
    if (!QFileInfo::exists(path)) return TallyLoad::Missing;
    seterror(error, namingfile(path, QStringLiteral("Lzrw1 (de)compression : Failed to open input "
                                                    "file : ") +
                                         path + QStringLiteral(" (") + systemerror(reason) +
                                         QStringLiteral(")")));
    return TallyLoad::Failed;
  }

  try {
    const std::string text = unpack(in, name, maxtabletext);
    std::istringstream table(text);
    loadgrid(grid, table);
  } catch (const std::exception& e) {
    seterror(error, namingfile(path, fromnative(e.what())));
    return TallyLoad::Failed;
  }
  return TallyLoad::Loaded;
}

bool savetallyfile(const QString& path, const TextTable& grid, QString* error) {
  std::string container;
  try {
    std::ostringstream text;
    savegrid(grid, text);
    const std::string table = text.str();

    const codec::Bytes packed = codec::pack(codec::asbytes(table), TCompressMode::Fast);
    container.assign(packed.begin(), packed.end());

    // The file about to be replaced is the player's only record: make sure the new one reads back
    // to exactly this table before it takes its place.
    if (unpack(packed, QFile::encodeName(path).toStdString(), table.size()) != table)
      throw ELzrw1Exception("the packed tally does not read back as it was written");
  } catch (const std::exception& e) {
    seterror(error, namingfile(path, fromnative(e.what())));
    return false;
  }

  return replaceatomically(
      path,
      [&container](AtomicFile& file, QString*) {
        return file.write(container.data(), container.size());
      },
      error);
}

QString damagedtallypath(const QString& path) {
  return path + QStringLiteral(".bad");
}

bool keepdamagedtally(const QString& path) {
  const int source = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
  if (source < 0) return false;
  const bool ok = replaceatomically(
      damagedtallypath(path),
      [source](AtomicFile& file, QString* reason) {
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
