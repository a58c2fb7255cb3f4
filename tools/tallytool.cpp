// pipshift-tally: the maintainer's look into tally files and the container.
//
//   pipshift-tally dump FILE                  print the table a tally file holds
//   pipshift-tally compress IN OUT [--mode M] pack IN into the container OUT (M: fast, good, auto)
//   pipshift-tally decompress IN OUT          unpack the container IN into OUT
//
// Exit status: 0 done, 1 the operation failed (the message says why), 2 wrong arguments.

#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "codec/lzrw1.h"
#include "stats/tallygrid.h"

namespace {

constexpr const char* kUsage =
    "usage: pipshift-tally dump FILE\n"
    "       pipshift-tally compress IN OUT [--mode fast|good|auto]\n"
    "       pipshift-tally decompress IN OUT\n"
    "\n"
    "dump        prints the counters, the ten ranks and every cell of a tally file\n"
    "compress    packs any file into the container (default mode: fast, as the game writes)\n"
    "decompress  unpacks a container of any mode\n";

int usage(const std::string& problem) {
  std::cerr << "pipshift-tally: " << problem << "\n" << kUsage;
  return 2;
}

int failed(const std::string& message) {
  std::cerr << "pipshift-tally: " << message << "\n";
  return 1;
}

std::optional<TCompressMode> modenamed(const std::string& name) {
  if (name == "fast") return TCompressMode::Fast;
  if (name == "good") return TCompressMode::Good;
  if (name == "auto") return TCompressMode::Auto;
  return std::nullopt;
}

const char* containerkind(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  char signature[4] = {};
  in.read(signature, 4);
  if (std::memcmp(signature, "WRZL", 4) == 0) return "Fast (WRZL)";
  if (std::memcmp(signature, "!HZL", 4) == 0) return "Good (!HZL)";
  return "unknown";
}

// The text a counter or rank cell holds, or a dash where the table is too small to have it.
std::string at(const TextTable& t, int column, int row) {
  if (column >= t.columns() || row >= t.rows()) return "-";
  return t.cell(column, row);
}

void printtable(const TextTable& t, std::ostream& out) {
  out << "Table: " << t.columns() << " columns x " << t.rows() << " rows\n\n";
  out << "Total games:    " << at(t, 1, 0) << "\n";
  out << "Games cleared:  " << at(t, 2, 0) << "\n";
  out << "Win percentage: " << at(t, 3, 0) << "\n\n";
  out << "Rank  Score  Name        Date\n";
  for (int rank = 1; rank <= 10; ++rank) {
    const std::string score = at(t, 1, rank);
    char line[160];
    if (score == "-1000") {
      std::snprintf(line, sizeof line, "%3d.  (empty)\n", rank);
    } else {
      std::snprintf(line, sizeof line, "%3d.  %5s  %-10s  %s\n", rank, score.c_str(),
                    at(t, 2, rank).c_str(), at(t, 0, rank).c_str());
    }
    out << line;
  }
  out << "\nCells, column by column (column, row: text):\n";
  for (int c = 0; c < t.columns(); ++c)
    for (int r = 0; r < t.rows(); ++r)
      out << "  " << c << ", " << r << ": \"" << t.cell(c, r) << "\"\n";
}

int dump(const std::string& file) {
  std::ifstream packed(file, std::ios::binary);
  if (!packed) return failed("Lzrw1 (de)compression : Failed to open input file : " + file);
  const codec::Bytes bytes = codec::unpack(packed, {.name = file});
  std::istringstream text(std::string(bytes.begin(), bytes.end()));
  const std::size_t size = bytes.size();

  TextTable table;
  try {
    loadgrid(table, text);
  } catch (const EInOutError& e) {
    return failed(file + " : " + e.what());
  }
  std::cout << "Tally file: " << file << "\n"
            << "Container: " << containerkind(file) << ", " << size << " bytes of text\n";
  printtable(table, std::cout);
  std::cout.flush();
  if (!std::cout) return failed("could not write to the standard output");
  return 0;
}

int run(const std::vector<std::string>& args) {
  if (args.empty()) return usage("no command given");
  const std::string& command = args[0];
  if (command == "-h" || command == "--help" || command == "help") {
    std::cout << kUsage;
    return 0;
  }
  if (command == "dump") {
    if (args.size() != 2) return usage("dump takes one file");
    return dump(args[1]);
  }
  if (command != "compress" && command != "decompress")
    return usage("unknown command \"" + command + "\"");

  std::vector<std::string> files;
  std::optional<TCompressMode> mode;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--mode") {
      if (command == "decompress")
        return usage("--mode is for compress; decompress reads the mode from the file");
      if (i + 1 == args.size()) return usage("--mode needs fast, good or auto");
      mode = modenamed(args[++i]);
      if (!mode) return usage("unknown mode \"" + args[i] + "\"; use fast, good or auto");
    } else {
      files.push_back(args[i]);
    }
  }
  if (files.size() != 2) return usage(command + " takes an input and an output file");

  Tlzrw1 doit;
  doit.InputFile = files[0];
  doit.OutputFile = files[1];
  doit.CompressMode = mode.value_or(TCompressMode::Fast);
  if (command == "compress") {
    const std::uint64_t written = doit.Compress();
    std::cout << files[0] << " -> " << files[1] << ": " << written << " bytes ("
              << containerkind(files[1]) << ")\n";
  } else {
    const std::uint64_t written = doit.Decompress();
    std::cout << files[0] << " -> " << files[1] << ": " << written << " bytes\n";
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::exception& e) {
    return failed(e.what());
  }
}
