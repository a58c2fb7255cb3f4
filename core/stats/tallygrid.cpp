#include "stats/tallygrid.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <istream>
#include <ostream>
#include <utility>

void TextTable::resize(int columns, int rows) {
  if (columns < 0 || rows < 0) throw std::out_of_range("TextTable: negative size");
  std::vector<std::string> cells(static_cast<std::size_t>(columns) *
                                 static_cast<std::size_t>(rows));
  for (int c = 0; c < std::min(columns, columns_); ++c)
    for (int r = 0; r < std::min(rows, rows_); ++r)
      cells[static_cast<std::size_t>(c) * rows + r] = std::move(cell(c, r));
  cells_ = std::move(cells);
  columns_ = columns;
  rows_ = rows;
}

const std::string& TextTable::cell(int column, int row) const {
  if (column < 0 || column >= columns_ || row < 0 || row >= rows_)
    throw std::out_of_range("TextTable: cell (" + std::to_string(column) + ", " +
                            std::to_string(row) + ") outside the table");
  return cells_[static_cast<std::size_t>(column) * rows_ + row];
}

std::string& TextTable::cell(int column, int row) {
  return const_cast<std::string&>(std::as_const(*this).cell(column, row));
}

void savegrid(const TextTable& table, std::ostream& out) {
  // A line break inside a cell would shift every later cell when the file is read back.
  for (int c = 0; c < table.columns(); ++c)
    for (int r = 0; r < table.rows(); ++r)
      if (table.cell(c, r).find_first_of("\r\n") != std::string::npos)
        throw EInOutError("Cell (" + std::to_string(c) + ", " + std::to_string(r) +
                          ") of the table holds a line break and cannot be saved");

  static constexpr char kEnd[] = "\r\n";
  // Digits only, whatever locale the stream carries: the reader takes nothing else.
  const std::string counts =
      std::to_string(table.columns()) + kEnd + std::to_string(table.rows()) + kEnd;
  out.write(counts.data(), static_cast<std::streamsize>(counts.size()));
  for (int c = 0; c < table.columns(); ++c)
    for (int r = 0; r < table.rows(); ++r) {
      const std::string& text = table.cell(c, r);
      out.write(text.data(), static_cast<std::streamsize>(text.size()));
      out.write(kEnd, 2);
    }
  out.flush();
  if (!out) throw EInOutError("Failed to write the table: the output was cut short");
}

void savegrid(const TextTable& table, const std::string& fileName) {
  std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
  if (!out) throw EInOutError("Failed to create the table file : " + fileName);
  savegrid(table, out);
  out.close();
  if (!out) throw EInOutError("Failed to write the table file : " + fileName);
}

namespace {

// No cell of a real table comes near this; a longer line means the file is not a table, and
// reading it whole would only waste memory.
constexpr std::size_t kMaxLine = 65536;

// Reads one line without its CR LF (or a bare LF). False when the input has no line left.
bool readline(std::istream& in, std::string& line) {
  line.clear();
  std::streambuf* buf = in.rdbuf();
  if (!buf) throw EInOutError("Failed to read the table: there is no input");
  using traits = std::istream::traits_type;
  bool any = false;
  for (;;) {
    traits::int_type ch;
    try {
      ch = buf->sbumpc();
    } catch (...) {
      throw EInOutError("Failed to read the table: the input could not be read");
    }
    if (traits::eq_int_type(ch, traits::eof())) break;
    any = true;
    if (traits::to_char_type(ch) == '\n') break;
    if (line.size() >= kMaxLine)
      throw EInOutError("The table file is damaged: a line is longer than a cell can be");
    line.push_back(traits::to_char_type(ch));
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return any;
}

// A whole number on a line of its own, blanks around it allowed, as a text reader takes it.
int countfrom(const std::string& line) {
  std::size_t first = line.find_first_not_of(" \t");
  std::size_t last = line.find_last_not_of(" \t");
  if (first == std::string::npos) throw EInOutError("Invalid numeric input");
  const char* begin = line.data() + first;
  const char* end = line.data() + last + 1;
  if (*begin == '+') ++begin;
  int value = 0;
  auto [stop, error] = std::from_chars(begin, end, value);
  if (error != std::errc() || stop != end) throw EInOutError("Invalid numeric input");
  return value;
}

}  // namespace

void loadgrid(TextTable& table, std::istream& in) {
  std::string line;
  int counts[2];
  for (int i = 0; i < 2; ++i) {
    if (!readline(in, line))
      throw EInOutError("The table file is damaged: it ends at line " + std::to_string(i + 1));
    counts[i] = countfrom(line);
  }
  const int columns = counts[0];
  const int rows = counts[1];
  // Each count on its own too: a table with no cells but two thousand million columns would
  // still have every loop over its columns run that long.
  if (columns < 0 || rows < 0 || columns > TextTable::MaxCells || rows > TextTable::MaxCells ||
      static_cast<long long>(columns) * rows > static_cast<long long>(TextTable::MaxCells))
    throw EInOutError("The table file is damaged: a table of " + std::to_string(columns) + " x " +
                      std::to_string(rows) + " cells is out of range");

  TextTable loaded(columns, rows);
  for (int c = 0; c < columns; ++c)
    for (int r = 0; r < rows; ++r) {
      if (!readline(in, line))
        throw EInOutError("The table file is damaged: it ends at line " +
                          std::to_string(3 + rows * c + r) + " of " +
                          std::to_string(2 + rows * columns));
      // No table of ours holds one, and savegrid refuses to write one: accepted here, it would
      // make every later save of the tally fail.
      if (line.find('\r') != std::string::npos)
        throw EInOutError("The table file is damaged: line " + std::to_string(3 + rows * c + r) +
                          " holds a carriage return inside a cell");
      loaded.cell(c, r) = std::move(line);
      line.clear();
    }
  table = std::move(loaded);
}

void loadgrid(TextTable& table, const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  if (!in) throw EInOutError("Failed to open the table file : " + fileName);
  loadgrid(table, in);
}
