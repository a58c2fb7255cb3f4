// The settings file is the player's to edit, and other programs' to damage. Whatever it holds,
// reading never fails, and one write changes that one key and nothing else: every other key reads
// as before, and no line of the file but the key's own is altered or lost.
//
// Input: a selector byte, a value length n, n bytes of value, then the file's bytes.
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <fstream>

#include "platform/profile.h"
#include "tests/fuzz/fuzzsupport.h"

namespace {

namespace fs = std::filesystem;

const char* const kKeys[] = {"Top", "Left", "Width", "Height", "Name", "Sounds", "Hints", "Update"};

// What a reader of the file would take for its sections and keys, roughly: enough to ask the
// profile about every name the file mentions.
struct Names {
  QList<QString> sections;
  QList<QPair<QString, QString>> keys;  // (section, key)
};

Names scan(const QByteArray& file) {
  Names names;
  QString section;
  for (QByteArray line : file.split('\n')) {
    line = line.trimmed();
    if (line.startsWith('[')) {
      const qsizetype close = line.indexOf(']');
      section = QString::fromUtf8(line.mid(1, close < 0 ? -1 : close - 1));
      names.sections << section;
    } else if (const qsizetype equals = line.indexOf('='); equals > 0) {
      names.keys << qMakePair(section, QString::fromUtf8(line.left(equals)));
    }
  }
  return names;
}

QString fold(const QString& name) {
  return name.trimmed().toCaseFolded();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Reader input(data, size);
  const std::uint8_t selector = input.byte();
  const std::string_view valuebytes = input.bytes(input.byte());
  const std::string_view filebytes = input.rest();
  const QByteArray file(filebytes.data(), qsizetype(filebytes.size()));

  const fs::path path = fuzz::scratch() / "pipshift.ini";
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(filebytes.data(), std::streamsize(filebytes.size()));
    FUZZ_CHECK(out.good());
  }

  const Names names = scan(file);
  QString section;
  switch (selector & 3) {
    case 0:
      section = QStringLiteral("pipshift");
      break;
    case 1:
      section = names.sections.value(0, QStringLiteral("PipShift"));
      break;
    case 2:
      section = names.sections.value(1, QStringLiteral("Other"));
      break;
    default:
      section = names.sections.value(names.sections.size() - 1, QStringLiteral(" x "));
      break;
  }
  QString key = QString::fromLatin1(kKeys[(selector >> 2) & 7]);
  if ((selector & 0x20) && !names.keys.isEmpty()) {
    const auto& found = names.keys[((selector >> 2) & 7) % names.keys.size()];
    section = found.first;
    key = found.second;
  }
  const QByteArray rawvalue(valuebytes.data(), qsizetype(valuebytes.size()));
  const QString value =
      (selector & 0x40) ? QString::fromLatin1(rawvalue) : QString::fromUtf8(rawvalue);

  // Everything the file could be asked, before the write.
  QList<QPair<QString, QString>> asked = names.keys;
  for (const char* k : kKeys)
    asked << qMakePair(QStringLiteral("pipshift"), QString::fromLatin1(k));
  asked << qMakePair(section, key);
  const QString missing = QStringLiteral("\x01missing");
  Profile profile(QString::fromStdString(path.string()));
  QList<QString> before;
  for (const auto& [s, k] : asked) {
    before << profile.readstring(s, k, missing);
    (void)profile.readinteger(s, k, -7);
  }

  const bool written = profile.writestring(section, key, value);
  std::ifstream back(path, std::ios::binary);
  const std::string after((std::istreambuf_iterator<char>(back)), {});
  const QByteArray now(after.data(), qsizetype(after.size()));

  // The replacement went through a temporary file that is gone again.
  int entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(fuzz::scratch())) ++entries;
  FUZZ_CHECK(entries == 1);

  if (!written) {
    FUZZ_CHECK(!profile.errorstring().isEmpty());
    FUZZ_CHECK(now == file);
    return 0;
  }

  // The key reads back as written, blanks around it trimmed as for any value.
  const QString expected = QString::fromUtf8(value.toUtf8().trimmed());
  FUZZ_CHECK(profile.readstring(section, key, missing) == expected);

  // Every other key reads as before.
  for (qsizetype i = 0; i < asked.size(); ++i) {
    const auto& [s, k] = asked[i];
    if (fold(s) == fold(section) && fold(k) == fold(key)) continue;
    FUZZ_CHECK(profile.readstring(s, k, missing) == before[i]);
  }

  // Byte for byte, the old file survives but for part of at most one line.
  qsizetype prefix = 0;
  while (prefix < file.size() && prefix < now.size() && file[prefix] == now[prefix]) ++prefix;
  qsizetype suffix = 0;
  while (suffix < file.size() - prefix && suffix < now.size() - prefix &&
         file[file.size() - 1 - suffix] == now[now.size() - 1 - suffix])
    ++suffix;
  const QByteArray removed = file.mid(prefix, file.size() - prefix - suffix);
  FUZZ_CHECK(!removed.contains('\n'));
  return 0;
}
