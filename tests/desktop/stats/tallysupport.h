#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

#include <sstream>
#include <string>

#include "codec/container.h"
#include "stats/tallyfile.h"
#include "stats/tallygrid.h"
#include "tests/core/stats/tallytext.h"

// Shared by the tally tests that use Qt: byte-level file access, the container unpacked from
// bytes read, and a change of current directory that is undone when the test ends. What needs no
// Qt is in tallytext.h.

inline QByteArray readbytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

inline void writebytes(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) f.write(bytes);
}

// The tally file under the names a Qt test holds: paths and messages in the system's encoding.
inline TallyLoad loadtallyfile(const QString& path, TextTable& grid, QString* error = nullptr) {
  std::string why;
  const TallyLoad result = loadtallyfile(QFile::encodeName(path).toStdString(), grid, &why);
  if (error && result == TallyLoad::Failed) *error = QString::fromLocal8Bit(why);
  return result;
}

inline bool savetallyfile(const QString& path, const TextTable& grid, QString* error = nullptr) {
  std::string why;
  const bool saved = savetallyfile(QFile::encodeName(path).toStdString(), grid, &why);
  if (error && !saved) *error = QString::fromLocal8Bit(why);
  return saved;
}

inline QString damagedtallypath(const QString& path) {
  return QFile::decodeName(damagedtallypath(QFile::encodeName(path).toStdString()).c_str());
}

inline bool keepdamagedtally(const QString& path) {
  return keepdamagedtally(QFile::encodeName(path).toStdString());
}

// The text a container holds.
inline std::string unpacked(const QByteArray& container) {
  const codec::Bytes bytes = codec::unpack(
      codec::asbytes({container.constData(), static_cast<std::size_t>(container.size())}));
  return std::string(bytes.begin(), bytes.end());
}

inline QStringList entries(const QString& folder) {
  return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

class CurrentDirectory {
 public:
  explicit CurrentDirectory(const QString& folder) : previous_(QDir::currentPath()) {
    QDir::setCurrent(folder);
  }
  ~CurrentDirectory() { QDir::setCurrent(previous_); }

 private:
  QString previous_;
};
