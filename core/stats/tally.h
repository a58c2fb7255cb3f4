#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "stats/tallygrid.h"

// The player's local record: games played, boards cleared, win percentage and a top ten of
// cleared-game scores, kept in the tally file. Plain C++: the tally window draws it, the rules are
// tried without a window.
//
// The table is the record itself (it is what the file holds). Beside it the record keeps what the
// window shows but the file does not: which ranks still show the designed placeholder lines
// (until the first score check or reset, when no file was read at start) and how each rank's line
// looks (as designed, plain, or marked as the one the last score check filled).
//
// Several copies of the program may share one tally file. Every change (a game started, a board
// cleared, a score entered, a reset) is made here at once and kept until sync() writes it: under a
// lock that every copy takes, sync() reads the file again, makes the kept changes on what it holds
// when another copy has changed it meanwhile, writes the result and lets go. A change that cannot
// be written stays kept for the next sync(), so nothing played is dropped while the record lives.
class Tally {
 public:
  static constexpr int ranks = 10;
  static constexpr int gridcolumns = 9;
  static constexpr int gridrows = 12;
  // The ranking value of a rank that holds no score; anything below -999 shows blank.
  static constexpr int emptyrank = -1000;

  enum class Look {
    designed,  // as the window is designed, until the first score check or reset
    plain,     // after any score check or reset
    marked,    // the rank the last score check filled
  };

  enum class Opened {
    missing,  // no file: the table is empty and the placeholders stay
    loaded,   // the table holds the file's content
    damaged,  // the file could not be read; it is kept aside as ".bad" before anything replaces it
  };

  enum class Synced {
    saved,   // the file holds the record, the changes of every copy included
    busy,    // another copy kept the file locked through every attempt; the changes are kept
    failed,  // the file could not be read or written; the changes are kept
  };

  // A record with no file, as the window is designed: the counters at 0, ten empty ranks in the
  // table and ten placeholders on show.
  Tally();
  // A record kept in the tally file at path. Nothing is read until open().
  explicit Tally(std::string path);

  // Reads the file, when there is one, over the record as designed. On damaged, *error (when given)
  // says why, naming the file.
  Opened open(std::string* error = nullptr);

  // The game's changes. Each is made at once and kept until sync() has written it.
  // Column 1 when a game starts (it also recomputes the win percentage), column 2 when a board is
  // cleared.
  void addtomineincrease(int column);
  // Writes a counter cell of row 0.
  void addtomineset(int column, const std::string& text);
  // Enters a cleared game's score with the player's name and the date text of today; returns the
  // rank it took, 0 when it ranks below all ten.
  int checkscore(int score, const std::string& name, const std::string& date);
  // Clears counters and top ten together.
  void reset();

  // Adds 1 to the number in one cell and returns the new value: the step the counters are made
  // of, kept like a direct change of the table (see table()). A cell that is not a whole number
  // counts as 0; the count stops at the largest 32-bit value instead of turning negative.
  int addit(int column, int row);
  // Takes the table as the whole record: empty score cells become empty ranks and every rank
  // shows what the table holds.
  void loadtally();

  // Writes the kept changes under the lock, trying to take it `retries` more times with pause()
  // between. On anything but saved, *error (when given) says why, naming the file.
  Synced sync(int retries, std::string* error = nullptr);
  // Changes made since the last sync() that saved.
  bool pending() const { return !pending_.empty(); }
  // Reads the file again, without the lock and without writing: when another copy has changed it
  // since this record last read or wrote it, the record becomes what the file holds with the kept
  // changes made on it, as the next sync() would write it. True when the record changed. A file
  // that is missing or cannot be read changes nothing; sync() deals with it.
  bool reload();
  // What sync() does between attempts at the lock. Sleeps a little unless replaced.
  std::function<void()> pause;

  // The table. Changing it directly is no change of the record: the next sync() that finds the
  // file changed by another copy replaces the table with the file's.
  const TextTable& table() const { return current_.grid; }
  TextTable& table() { return current_.grid; }
  // A cell's text; empty outside the table.
  const std::string& cell(int column, int row) const;

  // The ranking value of rank 1..10: 0 for a placeholder, else the score cell read as a whole
  // number, emptyrank when it is none.
  int rankvalue(int rank) const;
  bool placeholder(int rank) const { return current_.placeholder.at(rank); }
  Look look(int rank) const { return current_.look.at(rank); }
  // A rank's score as shown: blank for a value below -999, else the cell as stored.
  std::string scorecaption(int rank) const;

  const std::string& path() const { return path_; }
  // The lock file beside the tally file.
  std::string lockpath() const { return path_ + ".lock"; }

 private:
  struct State {
    TextTable grid;
    std::array<bool, ranks + 1> placeholder{};
    std::array<Look, ranks + 1> look{};
  };
  struct Change {
    enum class Kind { increase, set, score, reset };
    Kind kind = Kind::increase;
    int column = 0;
    int score = 0;
    std::string text;
    std::string date;
  };

  static State designed();
  // The state on show when the file holds ondisk, from the state last read or written.
  static State rebased(const State& last, TextTable ondisk);
  static int readvalue(const State& state, int rank);
  static void apply(State& state, const Change& change);
  static int increase(State& state, int column);
  static void setcounter(State& state, int column, const std::string& text);
  static int enter(State& state, int score, const std::string& name, const std::string& date);
  static void clear(State& state);
  static int count(State& state, int column, int row);
  static void normalise(TextTable& grid);
  static void setcell(TextTable& grid, int column, int row, std::string text);
  void change(Change change);

  std::string path_;
  State committed_;  // as the file held it at the last open() or sync()
  State current_;    // committed_ with the pending changes made
  std::vector<Change> pending_;
};
