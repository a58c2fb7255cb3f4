#include "platform/profile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>
#include <QStringDecoder>

#include <utility>
#include <vector>

namespace {

// One line of the file as byte offsets: [begin, end) is its text without the line ending,
// [end, next) the ending itself ("\n", "\r\n" or nothing on a last line without one).
struct Line {
  qsizetype begin;
  qsizetype end;
  qsizetype next;
};

enum class Kind { other, section, key };

struct Parsed {
  Kind kind = Kind::other;
  QString name;              // case-folded section or key name
  qsizetype valuebegin = 0;  // offset of the value's first non-blank byte (keys only)
};

std::vector<Line> splitlines(const QByteArray& data) {
  std::vector<Line> lines;
  const qsizetype size = data.size();
  qsizetype pos = 0;
  while (pos < size) {
    const qsizetype newline = data.indexOf('\n', pos);
    const qsizetype next = newline < 0 ? size : newline + 1;
    qsizetype end = newline < 0 ? size : newline;
    if (end > pos && data[end - 1] == '\r') --end;
    lines.push_back({pos, end, next});
    pos = next;
  }
  return lines;
}

bool isblank(char c) {
  return c == ' ' || c == '\t';
}

// Files written by older programs may hold text in a single-byte code page rather than UTF-8;
// read such bytes as Latin-1 so that a name like "Zoë" survives instead of turning into
// replacement characters.
QString decode(QByteArrayView bytes) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = utf8(bytes);
  return utf8.hasError() ? QString::fromLatin1(bytes) : text;
}

QString foldname(const char* text, qsizetype length) {
  return decode(QByteArrayView(text, length)).trimmed().toCaseFolded();
}

QString foldname(const QString& name) {
  return name.trimmed().toCaseFolded();
}

Parsed parseline(const QByteArray& data, const Line& line) {
  Parsed parsed;
  const char* text = data.constData() + line.begin;
  const qsizetype length = line.end - line.begin;
  qsizetype i = 0;
  // A byte order mark, as some editors put at the start of a file, is not part of the text.
  if (line.begin == 0 && QByteArrayView(text, length).startsWith("\xEF\xBB\xBF")) i = 3;
  while (i < length && isblank(text[i])) ++i;
  if (i == length) return parsed;
  if (text[i] == '[') {
    const QByteArrayView rest(text + i + 1, length - i - 1);
    const qsizetype close = rest.indexOf(']');
    parsed.kind = Kind::section;
    parsed.name = foldname(rest.data(), close < 0 ? rest.size() : close);
    return parsed;
  }
  if (text[i] == ';' || text[i] == '#') return parsed;  // a comment
  const qsizetype equals = QByteArrayView(text, length).indexOf('=', i);
  if (equals < 0) return parsed;
  parsed.name = foldname(text + i, equals - i);
  if (parsed.name.isEmpty()) return parsed;
  qsizetype value = equals + 1;
  while (value < length && isblank(text[value])) ++value;
  parsed.kind = Kind::key;
  parsed.valuebegin = line.begin + value;
  return parsed;
}

QString valueof(const QByteArray& data, const Line& line, const Parsed& parsed) {
  return decode(
      QByteArrayView(data.constData() + parsed.valuebegin, line.end - parsed.valuebegin).trimmed());
}

QString lookupkey(const QString& section, const QString& key) {
  return foldname(section) + QLatin1Char('\n') + foldname(key);
}

bool hasbreak(const QString& text) {
  return text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r')) ||
         text.contains(QChar(0));
}

}  // namespace

Profile::Profile(QString path) : path_(std::move(path)) {}

bool Profile::loadfile(QByteArray& data) const {
  data.clear();
  QFileInfo info(path_);
  if (!info.exists()) return true;
  if (info.size() > maxfilesize) {
    error_ = QStringLiteral("%1 is too large (%2 bytes) to be a settings file; left as it is")
                 .arg(path_)
                 .arg(info.size());
    return false;
  }
  QFile file(path_);
  if (!file.open(QIODevice::ReadOnly)) {
    error_ = QStringLiteral("Cannot read %1: %2").arg(path_, file.errorString());
    return false;
  }
  data = file.readAll();
  if (file.error() != QFileDevice::NoError) {
    error_ = QStringLiteral("Cannot read %1: %2").arg(path_, file.errorString());
    data.clear();
    return false;
  }
  return true;
}

void Profile::refresh() const {
  QFileInfo info(path_);
  const qint64 size = info.exists() ? info.size() : -1;
  const QDateTime time = info.exists() ? info.lastModified() : QDateTime();
  if (loaded_ && size == loadedsize_ && time == loadedtime_) return;

  values_.clear();
  loaded_ = true;
  loadedsize_ = size;
  loadedtime_ = time;
  QByteArray data;
  if (size < 0 || !loadfile(data)) return;

  QSet<QString> seensections;
  QString section;
  bool insection = false;  // false before the first section and inside repeats of a section
  for (const Line& line : splitlines(data)) {
    const Parsed parsed = parseline(data, line);
    if (parsed.kind == Kind::section) {
      insection = !seensections.contains(parsed.name);
      seensections.insert(parsed.name);
      section = parsed.name;
    } else if (parsed.kind == Kind::key && insection) {
      const QString at = section + QLatin1Char('\n') + parsed.name;
      if (!values_.contains(at)) values_.insert(at, valueof(data, line, parsed));
    }
  }
}

QString Profile::readstring(const QString& section, const QString& key,
                            const QString& fallback) const {
  refresh();
  const auto found = values_.constFind(lookupkey(section, key));
  return found == values_.constEnd() ? fallback : found.value();
}

int Profile::readinteger(const QString& section, const QString& key, int fallback) const {
  refresh();
  const auto found = values_.constFind(lookupkey(section, key));
  if (found == values_.constEnd()) return fallback;
  return parseinteger(found.value()).value_or(fallback);
}

std::optional<int> Profile::parseinteger(const QString& text) {
  const QString t = text.trimmed();
  qsizetype pos = 0;
  bool negative = false;
  if (pos < t.size() && (t[pos] == QLatin1Char('+') || t[pos] == QLatin1Char('-'))) {
    negative = t[pos] == QLatin1Char('-');
    ++pos;
  }
  int base = 10;
  if (t.mid(pos, 2).compare(QLatin1String("0x"), Qt::CaseInsensitive) == 0) {
    base = 16;
    pos += 2;
  } else if (pos < t.size() && t[pos] == QLatin1Char('$')) {
    base = 16;
    pos += 1;
  }
  if (pos >= t.size()) return std::nullopt;
  // Hexadecimal is a 32-bit pattern, as the settings of old wrote it; decimal is a signed value.
  const quint64 limit = base == 16 ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
  quint64 value = 0;
  for (; pos < t.size(); ++pos) {
    const char16_t c = t[pos].unicode();
    int digit;
    if (c >= u'0' && c <= u'9') {
      digit = c - u'0';
    } else if (base == 16 && c >= u'a' && c <= u'f') {
      digit = c - u'a' + 10;
    } else if (base == 16 && c >= u'A' && c <= u'F') {
      digit = c - u'A' + 10;
    } else {
      return std::nullopt;
    }
    value = value * base + digit;
    if (value > limit) return std::nullopt;
  }
  qint64 result = base == 16 ? qint64(qint32(quint32(value))) : qint64(value);
  if (negative) result = -result;
  if (result < INT32_MIN || result > INT32_MAX) return std::nullopt;
  return int(result);
}

bool Profile::writestring(const QString& section, const QString& key, const QString& value) {
  error_.clear();
  const QString sectionname = section.trimmed();
  const QString keyname = key.trimmed();
  // Names and values that could not be read back as the same entry are refused rather than
  // written as something else (or as extra lines of the caller's making).
  if (sectionname.isEmpty() || hasbreak(sectionname) || sectionname.contains(QLatin1Char(']'))) {
    error_ = QStringLiteral("Invalid section name \"%1\"").arg(section);
    return false;
  }
  if (keyname.isEmpty() || hasbreak(keyname) || keyname.contains(QLatin1Char('=')) ||
      keyname.startsWith(QLatin1Char('[')) || keyname.startsWith(QLatin1Char(';')) ||
      keyname.startsWith(QLatin1Char('#'))) {
    error_ = QStringLiteral("Invalid key name \"%1\"").arg(key);
    return false;
  }
  if (hasbreak(value)) {
    error_ = QStringLiteral("The value of %1 does not fit on one line").arg(key);
    return false;
  }

  QByteArray data;
  if (!loadfile(data)) return false;
  const std::vector<Line> lines = splitlines(data);

  // New lines end the way the file's lines already do.
  QByteArray eol("\n");
  for (const Line& line : lines) {
    if (line.next > line.end && data.at(line.next - 1) == '\n') {
      eol = data.mid(line.end, line.next - line.end);
      break;
    }
  }

  const QString foldedsection = foldname(sectionname);
  const QString foldedkey = foldname(keyname);
  const QByteArray entry = keyname.toUtf8() + '=' + value.toUtf8();
  QByteArray out;

  qsizetype header = -1, sectionend = qsizetype(lines.size());
  for (qsizetype i = 0; i < qsizetype(lines.size()); ++i) {
    const Parsed parsed = parseline(data, lines[i]);
    if (parsed.kind != Kind::section) continue;
    if (header >= 0) {
      sectionend = i;
      break;
    }
    if (parsed.name == foldedsection) header = i;
  }

  if (header >= 0) {
    qsizetype lastkey = header;
    for (qsizetype i = header + 1; i < sectionend && out.isNull(); ++i) {
      const Line& line = lines[i];
      const Parsed parsed = parseline(data, line);
      if (parsed.kind != Kind::key) continue;
      if (parsed.name == foldedkey) {
        // Keep the key as the file spells it, and the blanks after "=", replace the rest.
        out = data.left(parsed.valuebegin) + value.toUtf8() + data.mid(line.end);
      }
      lastkey = i;
    }
    if (out.isNull()) {
      // A new key goes after the section's last key, so blank lines and comments that lead
      // into the next section stay where they are.
      const Line& after = lines[lastkey];
      // Only a line feed ends a line: a last line that stops at a bare carriage return would
      // otherwise run on into the new key.
      const bool unterminated = data.at(after.next - 1) != '\n';
      out = data.left(after.next) + (unterminated ? eol : QByteArray()) + entry + eol +
            data.mid(after.next);
    }
  } else {
    out = data;
    if (!out.isEmpty()) {
      if (!out.endsWith('\n')) out += eol;
      const Line& last = lines.back();
      if (!QByteArrayView(data.constData() + last.begin, last.end - last.begin)
               .trimmed()
               .isEmpty()) {
        out += eol;
      }
    }
    out += '[' + sectionname.toUtf8() + ']' + eol + entry + eol;
  }

  QSaveFile file(path_);
  if (!file.open(QIODevice::WriteOnly) || file.write(out) != out.size() || !file.commit()) {
    error_ = QStringLiteral("Cannot write %1: %2").arg(path_, file.errorString());
    file.cancelWriting();
    return false;
  }
  loaded_ = false;
  return true;
}
