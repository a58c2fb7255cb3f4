// The tally's text table as it comes out of a container: any bytes at all. Reading either fails
// with the table's own exception and leaves the table untouched, or gives a table that can be
// written back (or no later save of the tally would succeed) and reads again unchanged.
#include <sstream>
#include <string>

#include "stats/tallygrid.h"
#include "tests/fuzz/fuzzsupport.h"

namespace {

TextTable sentinel() {
  TextTable t(2, 1);
  t.setCell(0, 0, "kept");
  t.setCell(1, 0, "as it was");
  return t;
}

bool holdsbreak(const TextTable& t) {
  for (int c = 0; c < t.columns(); ++c)
    for (int r = 0; r < t.rows(); ++r)
      if (t.cell(c, r).find_first_of("\r\n") != std::string::npos) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  TextTable table = sentinel();
  try {
    loadgrid(table, in);
  } catch (const EInOutError&) {
    FUZZ_CHECK(table == sentinel());
    return 0;
  }
  FUZZ_CHECK(table.columns() >= 0 && table.rows() >= 0);
  FUZZ_CHECK(static_cast<long long>(table.columns()) * table.rows() <= TextTable::MaxCells);
  for (int c = 0; c < table.columns(); ++c)
    for (int r = 0; r < table.rows(); ++r)
      FUZZ_CHECK(table.cell(c, r).find('\n') == std::string::npos);

  FUZZ_CHECK(!holdsbreak(table));
  std::ostringstream out;
  savegrid(table, out);
  std::istringstream again(out.str());
  TextTable reread;
  loadgrid(reread, again);
  FUZZ_CHECK(reread == table);
  return 0;
}
