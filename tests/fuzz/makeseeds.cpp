// Writes the seed corpora of the file readers' fuzz targets from our own writers, so every seed is
// a file the program itself could have made: containers from codec::pack in both modes, tally
// tables from savegrid, settings files from Profile. Run with the corpus folder (tests/fuzz/corpus)
// as its argument; the HTTP and HTML seeds come from captureseeds instead.
#include <QByteArray>
#include <QString>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "codec/container.h"
#include "online/scorepost.h"
#include "online/serverbase.h"
#include "online/updatecheck.h"
#include "platform/profile.h"
#include "stats/tallygrid.h"

namespace fs = std::filesystem;

namespace {

void put(const fs::path& file, const std::string& bytes) {
  fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    std::fprintf(stderr, "makeseeds: cannot write %s\n", file.c_str());
    std::exit(1);
  }
}

std::string slurp(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string pack(const std::string& data, TCompressMode mode) {
  const codec::Bytes bytes = codec::pack(codec::asbytes(data), mode);
  return std::string(bytes.begin(), bytes.end());
}

std::string text(const TextTable& table) {
  std::ostringstream out;
  savegrid(table, out);
  return out.str();
}

// The tally as a reset leaves it.
TextTable resettally() {
  TextTable t(9, 12);
  t.setCell(0, 0, "0");
  t.setCell(1, 0, "0");
  for (int r = 1; r <= 11; ++r) t.setCell(1, r, "-1000");
  for (int c = 2; c <= 8; ++c) t.setCell(c, 0, "0");
  return t;
}

// A tally after some games: ranks with dates, scores and names, one with blanks in it.
TextTable playedtally() {
  TextTable t = resettally();
  const char* names[] = {"Guest", "Ann Lee", "zoe", "X&Y"};
  const char* dates[] = {"12/7/26", "1/1/27", "3.4.27", "28/02/2027"};
  t.setCell(1, 0, "17");
  t.setCell(2, 0, "4");
  t.setCell(3, 0, "23");
  for (int r = 1; r <= 4; ++r) {
    t.setCell(0, r, dates[r - 1]);
    t.setCell(1, r, std::to_string(700 - 93 * r));
    t.setCell(2, r, names[r - 1]);
  }
  return t;
}

void containers(const fs::path& dir) {
  std::mt19937 random(7);
  std::string noise(300, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  std::string prose;
  while (prose.size() < 40000)
    prose += "The board is solved when each row holds its suit in descending order. ";
  const std::vector<std::pair<std::string, std::string>> inputs = {
      {"empty", ""},
      {"reset-tally", text(resettally())},
      {"played-tally", text(playedtally())},
      {"run", std::string(100, 'x')},
      {"copy", "abcabcabcabc"},
      {"noise", noise},
      {"two-blocks", prose},
  };
  for (const auto& [name, data] : inputs) {
    put(dir / ("fast-" + name), pack(data, TCompressMode::Fast));
    // Good mode costs more per byte; the long input is seeded once, in Fast mode.
    if (data.size() < 32768) put(dir / ("good-" + name), pack(data, TCompressMode::Good));
  }
}

void tables(const fs::path& dir) {
  put(dir / "reset-tally", text(resettally()));
  put(dir / "played-tally", text(playedtally()));
  put(dir / "empty-table", text(TextTable(0, 0)));
  TextTable small(3, 2);
  small.setCell(0, 0, "a b");
  small.setCell(2, 1, "-1000");
  put(dir / "small-table", text(small));
}

// A settings seed: selector, value length, value, then the file.
std::string settingsseed(std::uint8_t selector, const std::string& value, const std::string& file) {
  return std::string(1, char(selector)) + char(value.size()) + value + file;
}

void settings(const fs::path& dir) {
  const fs::path scratch = fs::temp_directory_path() / "pipshift-makeseeds.ini";
  fs::remove(scratch);
  Profile profile(QString::fromStdString(scratch.string()));
  const QString section = QStringLiteral("pipshift");
  // What saveinifile writes, in its order.
  const std::pair<const char*, const char*> saved[] = {
      {"Top", "3"},        {"Left", "3"},     {"Width", "604"}, {"Height", "374"},
      {"Name", "Ann Lee"}, {"Sounds", "yes"}, {"Hints", "no"},  {"Update", "true"}};
  for (const auto& [key, value] : saved)
    profile.writestring(section, QString::fromLatin1(key), QString::fromLatin1(value));
  const std::string program = slurp(scratch);
  put(dir / "program-file", settingsseed(0x00, "120", program));
  put(dir / "program-file-name", settingsseed(0x10, "Zo\xc3\xab", program));

  // A file a player or another program edited: CR LF, comments, other sections, a server key.
  fs::remove(scratch);
  put(scratch,
      "; written by hand\r\n[Other]\r\nTop=1\r\n\r\n[PIPSHIFT]\r\n  width = $25C \r\n"
      "ScoreServer=http://127.0.0.1:8080/\r\n");
  profile.writestring(section, QStringLiteral("Sounds"), QStringLiteral("no"));
  profile.writestring(QStringLiteral("Other"), QStringLiteral("Left"), QStringLiteral("0x10"));
  const std::string edited = slurp(scratch);
  put(dir / "edited-file", settingsseed(0x21, " 42 ", edited));
  put(dir / "edited-file-other", settingsseed(0x02, "x", edited));
  fs::remove(scratch);
  put(dir / "no-file", settingsseed(0x04, "3", ""));
}

// The addresses the program fetches, from the code that makes them, and the forms a settings
// file may give a server in.
void addresses(const fs::path& dir) {
  const QString bases[] = {makersite(), QStringLiteral("http://127.0.0.1:8080/"),
                           QStringLiteral("HTTP://Scores.Example:80/pipshift/")};
  int n = 0;
  for (const QString& base : bases) {
    const std::string tag = std::to_string(n++);
    put(dir / ("list-" + tag), listaddress(base).toStdString());
    put(dir / ("post-" + tag), postaddress(base, QStringLiteral("Ann Lee"),
                                           QStringLiteral("12/7/26"), QStringLiteral("712"))
                                   .toStdString());
    put(dir / ("version-" + tag), versionaddress(base).toStdString());
  }
  put(dir / "post-forged", postaddress(bases[0], QStringLiteral("x&score=800"),
                                       QStringLiteral("1.1.27"), QStringLiteral("5"))
                               .toStdString());
  put(dir / "no-slash", "http://127.0.0.1:8080");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_makeseeds CORPUS_FOLDER\n");
    return 2;
  }
  const fs::path corpus = argv[1];
  containers(corpus / "container");
  tables(corpus / "loadgrid");
  settings(corpus / "profile");
  addresses(corpus / "urlsplit");
  return 0;
}
