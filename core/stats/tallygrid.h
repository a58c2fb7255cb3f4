#pragma once

// The tally's text table and its plain-text file layout:
//   line 1: the column count, line 2: the row count, then one line per cell, column by column
//   (all rows of column 0, then all rows of column 1, ...); every line ends with CR LF.
// Cells are kept as bytes, exactly as written, with no quoting.

#include <iosfwd>
#include <stdexcept>
#include <string>
#include <vector>

// A file or stream failure of the table file, or a file that is not a table. The text is what the
// user is shown.
class EInOutError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TextTable {
 public:
  // loadgrid refuses tables with more cells than this rather than allocate for a damaged count.
  static constexpr int MaxCells = 10000;

  TextTable() = default;
  TextTable(int columns, int rows) { resize(columns, rows); }

  int columns() const { return columns_; }
  int rows() const { return rows_; }
  // Cells inside both the old and the new size keep their text; new cells are empty.
  void resize(int columns, int rows);

  // Column first, as in the file. Throws std::out_of_range outside the table.
  const std::string& cell(int column, int row) const;
  std::string& cell(int column, int row);
  void setCell(int column, int row, std::string text) { cell(column, row) = std::move(text); }

  bool operator==(const TextTable&) const = default;

 private:
  int columns_ = 0;
  int rows_ = 0;
  std::vector<std::string> cells_;  // column by column, as in the file
};

// Write the table in the file layout. Throws EInOutError when a cell holds a line break (the file
// could not be read back as it was) or when the stream fails while writing or flushing, so that a
// caller never mistakes a table cut short for a complete one.
void savegrid(const TextTable& table, std::ostream& out);
void savegrid(const TextTable& table, const std::string& fileName);

// Read a table in the file layout. Throws EInOutError ("Invalid numeric input" for a count line
// that is not a whole number) on a bad count, a table size out of range or a file that ends before
// its last cell; the table is changed only when the whole file was read.
void loadgrid(TextTable& table, std::istream& in);
void loadgrid(TextTable& table, const std::string& fileName);
