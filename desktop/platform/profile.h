#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>

#include <optional>

// A settings file of the classic INI kind:
//
//   [section]
//   key=value
//
// Section and key names match without regard to case; values are read with the blanks around
// them trimmed. A write touches only the line of its own key (or adds one), so comments, blank
// lines, other keys and sections and the file's line endings stay byte for byte as they were.
//
// The file is read afresh whenever it changed on disk, and every write goes through a temporary
// file that replaces the old one only once it is complete: a crash or a full disk during a write
// leaves the previous file whole.
//
// Damaged files are read as far as they make sense: binary bytes, lines without "=", keys before
// the first section and overlong lines are simply not keys of any section. When a section or a
// key occurs twice, the first one counts for reading and writing alike.
class Profile {
 public:
  explicit Profile(QString path);

  const QString& path() const { return path_; }

  // The trimmed value of key in section; fallback when the file, the section or the key is
  // missing or the file cannot be read. A key written as "key=" gives the empty string.
  QString readstring(const QString& section, const QString& key, const QString& fallback) const;

  // The value read as a 32-bit integer: decimal with an optional sign, or hexadecimal after
  // "0x", "0X" or "$" (up to 8 hex digits, so "$FFFFFFFF" is -1). Anything else, including a
  // number that does not fit in 32 bits, gives fallback.
  int readinteger(const QString& section, const QString& key, int fallback) const;

  // Sets key in section to value: in place when the key exists, else as a new line at the end of
  // the section, creating the section and the file when they are missing. False when the file
  // could not be read or written (the old file is then left as it was) or when the names or the
  // value cannot be stored on one line; errorstring() then says why.
  bool writestring(const QString& section, const QString& key, const QString& value);

  QString errorstring() const { return error_; }

  // Files larger than this are neither parsed nor rewritten: reads give their defaults and
  // writes fail, so a runaway file never eats the memory or gets truncated.
  static constexpr qint64 maxfilesize = 256 * 1024 * 1024;

  // The integer forms readinteger accepts; std::nullopt for anything else.
  static std::optional<int> parseinteger(const QString& text);

 private:
  void refresh() const;
  bool loadfile(QByteArray& data) const;

  QString path_;
  mutable QString error_;

  // First occurrence of every "section\nkey" (both lower case) and its value, for the file as it
  // was when last read; rebuilt when the file's size or modification time changes.
  mutable QHash<QString, QString> values_;
  mutable bool loaded_ = false;
  mutable qint64 loadedsize_ = -1;
  mutable QDateTime loadedtime_;
};
