#include "stats/tally.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <climits>
#include <cstring>
#include <thread>
#include <utility>

#include "stats/tallyfile.h"
#include "stats/tallylock.h"

#include <sys/stat.h>

namespace {

// A whole 32-bit number, blanks around it allowed, as the table's numbers have always been read.
bool readint(const std::string& text, int& value) {
  std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return false;
  std::size_t last = text.find_last_not_of(" \t");
  const char* begin = text.data() + first;
  const char* end = text.data() + last + 1;
  if (*begin == '+' && end - begin > 1 && begin[1] != '-') ++begin;
  auto [stop, error] = std::from_chars(begin, end, value);
  return error == std::errc() && stop == end;
}

// A name goes into one line of the tally file; a line break would shift every later cell.
std::string singleline(std::string text) {
  std::replace(text.begin(), text.end(), '\r', ' ');
  std::replace(text.begin(), text.end(), '\n', ' ');
  return text;
}

const std::string& cellof(const TextTable& grid, int column, int row) {
  static const std::string none;
  if (column < 0 || column >= grid.columns() || row < 0 || row >= grid.rows()) return none;
  return grid.cell(column, row);
}

void seterror(std::string* error, std::string text) {
  if (error) *error = std::move(text);
}

bool exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

Tally::Tally() : Tally(std::string()) {}

Tally::Tally(std::string path)
    : pause([] { std::this_thread::sleep_for(std::chrono::milliseconds(20)); }),
      path_(std::move(path)),
      committed_(designed()),
      current_(committed_) {}

Tally::State Tally::designed() {
  State state;
  state.grid.resize(gridcolumns, gridrows);
  for (int column = 0; column <= 4; ++column) state.grid.setCell(column, 0, "0");
  for (int row = 1; row <= ranks; ++row) state.grid.setCell(1, row, std::to_string(emptyrank));
  state.placeholder.fill(true);
  state.look.fill(Look::designed);
  return state;
}

void Tally::setcell(TextTable& grid, int column, int row, std::string text) {
  if (column < 0 || row < 0) return;
  if (column >= grid.columns() || row >= grid.rows())
    grid.resize(std::max(grid.columns(), column + 1), std::max(grid.rows(), row + 1));
  grid.setCell(column, row, std::move(text));
}

const std::string& Tally::cell(int column, int row) const {
  return cellof(current_.grid, column, row);
}

int Tally::readvalue(const State& state, int rank) {
  if (state.placeholder.at(rank)) return 0;
  int value = emptyrank;
  if (!readint(cellof(state.grid, 1, rank), value)) value = emptyrank;
  return value;
}

int Tally::rankvalue(int rank) const {
  return readvalue(current_, rank);
}

std::string Tally::scorecaption(int rank) const {
  return rankvalue(rank) < -999 ? std::string() : cell(1, rank);
}

// --- the file ---

// Every operation addresses the counters and ten ranks, whatever size the file gave, and a rank
// whose score cell is empty is an empty rank.
void Tally::normalise(TextTable& grid) {
  grid.resize(std::max(grid.columns(), gridcolumns), std::max(grid.rows(), gridrows));
  for (int rank = 1; rank <= ranks; ++rank)
    if (grid.cell(1, rank).empty()) grid.setCell(1, rank, std::to_string(emptyrank));
}

Tally::Opened Tally::open(std::string* error) {
  committed_ = designed();
  current_ = committed_;
  pending_.clear();
  if (path_.empty() || !exists(path_)) return Opened::missing;

  // Read again under the lock, so that a damaged file is put aside as it was read and not as
  // another copy may be replacing it. Reading alone needs no lock (the file is only ever replaced
  // whole), so a lock that cannot be had does not keep the tally from being read.
  TallyLock lock(lockpath());
  const bool busy = lock.acquire(3, [this] {
    if (pause) pause();
  }) == TallyLock::Result::busy;
  TextTable loaded = committed_.grid;
  std::string why;
  switch (loadtallyfile(path_, loaded, &why)) {
    case TallyLoad::Missing:
      current_ = committed_;
      return Opened::missing;
    case TallyLoad::Loaded:
      current_.grid = std::move(loaded);
      loadtally();
      committed_ = current_;
      return Opened::loaded;
    case TallyLoad::Failed:
      break;
  }
  current_ = committed_;
  seterror(error, why);
  // Put aside at once, unless another copy holds the file and may be replacing it (the copy is
  // made from the file's name). Every save puts a damaged file aside again before it replaces
  // it, and writes nothing until it can, so nothing is lost when this is not done now.
  if (!busy) keepdamagedtally(path_);
  return Opened::damaged;
}

Tally::Synced Tally::sync(int retries, std::string* error) {
  if (path_.empty()) {
    seterror(error, "this tally has no file");
    return Synced::failed;
  }
  TallyLock lock(lockpath());
  switch (lock.acquire(retries, [this] {
    if (pause) pause();
  })) {
    case TallyLock::Result::held:
    case TallyLock::Result::unavailable:
      break;
    case TallyLock::Result::busy:
      seterror(error, path_ + " : the tally file is kept locked by another copy of the program");
      return Synced::busy;
    case TallyLock::Result::failed:
      seterror(error, lock.path() + " : " + std::strerror(lock.error()));
      return Synced::failed;
  }

  State base = committed_;
  bool changedelsewhere = false;
  TextTable ondisk;
  std::string why;
  switch (loadtallyfile(path_, ondisk, &why)) {
    case TallyLoad::Loaded:
      normalise(ondisk);
      if (ondisk != committed_.grid) {
        changedelsewhere = true;
        base = rebased(committed_, std::move(ondisk));
      }
      break;
    case TallyLoad::Missing:
      break;
    case TallyLoad::Failed:
      // What the damaged file held is the player's, whatever it was: it is replaced only once a
      // copy of it is safe.
      if (!keepdamagedtally(path_)) {
        seterror(error, why + " (it cannot be kept as " + damagedtallypath(path_) +
                            ", so it is not replaced)");
        return Synced::failed;
      }
      break;
  }

  // When the file still holds what this record last read or wrote, the record as it stands is
  // the result; otherwise the kept changes are made again, in order, on what the file holds.
  State result = current_;
  if (changedelsewhere) {
    result = base;
    for (const Change& change : pending_) apply(result, change);
  }
  if (!savetallyfile(path_, result.grid, error)) {
    committed_ = std::move(base);
    current_ = std::move(result);
    return Synced::failed;
  }
  committed_ = result;
  current_ = std::move(result);
  pending_.clear();
  return Synced::saved;
}

bool Tally::reload() {
  if (path_.empty()) return false;
  TextTable ondisk;
  // Reading alone needs no lock: the file is only ever replaced whole.
  if (loadtallyfile(path_, ondisk) != TallyLoad::Loaded) return false;
  normalise(ondisk);
  if (ondisk == committed_.grid) return false;
  committed_ = rebased(committed_, std::move(ondisk));
  current_ = committed_;
  for (const Change& change : pending_) apply(current_, change);
  return true;
}

Tally::State Tally::rebased(const State& last, TextTable ondisk) {
  State base = last;
  base.grid = std::move(ondisk);
  // A placeholder stands in for an empty rank only: where another copy entered a score, the
  // score shows.
  for (int rank = 1; rank <= ranks; ++rank) {
    const bool was = std::exchange(base.placeholder[rank], false);
    base.placeholder[rank] = was && readvalue(base, rank) < -999;
  }
  return base;
}

// --- the rules ---

void Tally::change(Change change) {
  apply(current_, change);
  pending_.push_back(std::move(change));
}

void Tally::apply(State& state, const Change& change) {
  switch (change.kind) {
    case Change::Kind::increase:
      increase(state, change.column);
      break;
    case Change::Kind::set:
      setcounter(state, change.column, change.text);
      break;
    case Change::Kind::score:
      enter(state, change.score, change.text, change.date);
      break;
    case Change::Kind::reset:
      clear(state);
      break;
  }
}

void Tally::loadtally() {
  normalise(current_.grid);
  current_.placeholder.fill(false);
}

int Tally::addit(int column, int row) {
  return count(current_, column, row);
}

int Tally::count(State& state, int column, int row) {
  int value = 0;
  if (!readint(cellof(state.grid, column, row), value))
    value = 0;  // a damaged counter starts again rather than stopping the game
  if (value < INT_MAX) ++value;
  setcell(state.grid, column, row, std::to_string(value));
  return value;
}

void Tally::addtomineincrease(int column) {
  if (column < 0 || column >= gridcolumns) return;
  Change entry;
  entry.kind = Change::Kind::increase;
  entry.column = column;
  change(std::move(entry));
}

int Tally::increase(State& state, int column) {
  const int value = count(state, column, 0);
  if (column == 1) {
    int cleared = 0;
    int total = 0;
    long long percentage = 0;
    if (readint(cellof(state.grid, 2, 0), cleared) && readint(cellof(state.grid, 1, 0), total) &&
        total != 0)
      percentage = static_cast<long long>(cleared) * 100 / total;
    if (percentage > INT_MAX || percentage < INT_MIN) percentage = 0;
    setcounter(state, 3, std::to_string(percentage));
  }
  return value;
}

void Tally::addtomineset(int column, const std::string& text) {
  if (column < 0 || column >= gridcolumns) return;
  Change entry;
  entry.kind = Change::Kind::set;
  entry.column = column;
  entry.text = text;
  change(std::move(entry));
}

void Tally::setcounter(State& state, int column, const std::string& text) {
  setcell(state.grid, column, 0, text);
}

int Tally::checkscore(int score, const std::string& name, const std::string& date) {
  Change entry;
  entry.kind = Change::Kind::score;
  entry.score = score;
  entry.text = singleline(name);
  entry.date = date;
  const int rank = enter(current_, entry.score, entry.text, entry.date);
  pending_.push_back(std::move(entry));
  return rank;
}

int Tally::enter(State& state, int score, const std::string& name, const std::string& date) {
  state.look.fill(Look::plain);

  int k = 0;
  for (int i = 1; i <= ranks && k == 0; ++i)
    if (readvalue(state, i) <= score) k = i;
  if (k == 0) return 0;

  // The placeholders move with the ranks, so they slide down the window below real scores but
  // never reach the table.
  for (int j = ranks; j > k; --j) {
    state.placeholder[j] = state.placeholder[j - 1];
    for (int column = 0; column <= 2; ++column)
      setcell(state.grid, column, j, cellof(state.grid, column, j - 1));
  }
  state.placeholder[k] = false;
  setcell(state.grid, 0, k, date);
  setcell(state.grid, 1, k, std::to_string(score));
  setcell(state.grid, 2, k, name);
  state.look[k] = Look::marked;
  return k;
}

void Tally::reset() {
  Change entry;
  entry.kind = Change::Kind::reset;
  change(std::move(entry));
}

void Tally::clear(State& state) {
  TextTable& grid = state.grid;
  grid.resize(grid.columns(), gridrows);
  for (int column = 1; column < grid.columns(); ++column) setcell(grid, column, 0, "0");
  for (int row = 1; row < gridrows; ++row) {
    setcell(grid, 0, row, std::string());
    setcell(grid, 1, row, std::to_string(emptyrank));
    setcell(grid, 2, row, std::string());
  }
  state.placeholder.fill(false);
  state.look.fill(Look::plain);
}
