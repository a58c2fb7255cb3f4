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

// Shared by the tally tests: byte-level file access, the container packed and unpacked in memory,
// and a change of current directory that is undone when the test ends.

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

// Text in the container, as the tally file holds it (Fast mode).
inline std::string packed(const std::string& text) {
  const codec::Bytes bytes = codec::pack(codec::asbytes(text), TCompressMode::Fast);
  return std::string(bytes.begin(), bytes.end());
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

// A tally table as a player who has cleared a few boards would have it.
inline TextTable sampletally() {
  TextTable t(9, 12);
  for (int c = 0; c <= 4; ++c) t.setCell(c, 0, "0");
  t.setCell(1, 0, "7");
  t.setCell(2, 0, "3");
  t.setCell(3, 0, "42");
  for (int r = 1; r <= 10; ++r) t.setCell(1, r, "-1000");
  const char* const names[] = {"Ann Lee", "  two  blanks ", "\xe9t\xe9"};  // the last is Latin-1
  const char* const scores[] = {"640", "410", "410"};
  for (int r = 1; r <= 3; ++r) {
    t.setCell(0, r, "3/" + std::to_string(r) + "/24");
    t.setCell(1, r, scores[r - 1]);
    t.setCell(2, r, names[r - 1]);
  }
  return t;
}
