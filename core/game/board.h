#pragma once

// The staircase board and the double-six set.
//
// Slots are numbered 1 to 35 down each column, column after column; columns run 0 to 7 left to
// right, rows 0 to 6 top to bottom, and row r holds columns 0 to 7 - r. Column 0 is the double
// column: slot r + 1 is the home of the double of row r.
//
// Bones are numbered 1 to 28 in descending order of high pip, then low pip: 1 is 6/6, 7 is 6/0,
// 8 is 5/5, ... 28 is 0/0. Number 0 means "no bone" everywhere.

#include <array>
#include <vector>

namespace game {

constexpr int kSlotCount = 35;
constexpr int kBoneCount = 28;
constexpr int kColumnCount = 8;
constexpr int kRowCount = 7;
constexpr int kSlotWidth = 66;
constexpr int kSlotHeight = 34;

struct Point {
  int x = 0;  // column
  int y = 0;  // row
  bool operator==(const Point&) const = default;
};

struct Rect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
};

// board[column][row]: the bone in that slot, 0 when empty. Only the 35 cells that are slots are
// ever non-zero; the rest of the 8 x 8 grid stays 0.
using Board = std::array<std::array<int, 8>, 8>;

// Slot number of an existing slot (column c, row r with r <= 7 - c).
int getspot(int column, int row);
// Column (x) and row (y) of slot 1 to 35.
Point getcoords(int slot);
// Number of rows in a column: 7 for columns 0 and 1, then one fewer per column.
int columnlength(int column);
// Number of slots in a row: 8 in row 0 down to 2 in row 6.
int rowlength(int row);
// Pixel rectangle of a slot inside the board panel.
Rect slotrect(int slot);

// High and low pip of a bone; 0 for numbers outside 1 to 28.
int gettopnum(int bone);
int getbotnum(int bone);
bool isdouble(int bone);
// The double that belongs in row r of the double column (6/6 for row 0 ... 0/0 for row 6).
int doubleofrow(int row);
// Home slot of a double in column 0; 0 for a bone that is not a double.
int homeslot(int bone);

// The slot that holds a bone, 0 when it is not on the board.
int slotof(const Board& board, int bone);
int boneat(const Board& board, int slot);

// The sorted board: row r holds the bones of high pip 6 - r in bone order, its last slot empty.
Board solvedboard();

// Empties the first cell (column by column, row by row) that holds the bone; no change when no
// cell holds it.
void clearbone(Board& board, int bone);

struct Placement {
  int slot = 0;
  int bone = 0;
};

// True when the bone has at least one target in columns 1 to 7. The scan runs each row left to
// right and stops the row at an empty or same-bone left neighbour, so slots further right are
// not examined even where a placement there would be accepted. When hints is given, it receives
// the slots to colour: the targets found and, for a double, its home slot in column 0.
bool checkforhint(const Board& board, int bone, std::vector<int>* hints = nullptr);
// True when any bone has a target by checkforhint.
bool checkformoves(const Board& board);
// Where the hint scan meets a gap: the first row, top down, whose first empty slot from column
// 1 on has an empty slot to its left, which ends that row's scan for every bone; returns that
// slot, or 0 when no row has one. A board without moves (checkformoves false) has every row
// either full from column 1 to its end or stopped at such a gap.
int scangap(const Board& board);
// True when the board is in the sorted layout.
bool checkforcomplete(const Board& board);

}  // namespace game
