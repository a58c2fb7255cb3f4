#include "game/board.h"

namespace game {

namespace {

// First slot of each column, and the left edge of each column in pixels. The spacing is not
// uniform, so the edges are listed rather than computed.
constexpr std::array<int, kColumnCount> kFirstSlot = {1, 8, 15, 21, 26, 30, 33, 35};
constexpr std::array<int, kColumnCount> kColumnLeft = {8, 80, 151, 221, 292, 362, 432, 503};
constexpr int kBoardTop = 8;
constexpr int kRowPitch = 40;

// The double of each row, 6/6 in row 0 down to 0/0 in row 6. Each is also the first bone of
// its suit, so row r of the sorted board runs from doubles[r] upwards.
constexpr std::array<int, kRowCount> kDoubles = {1, 8, 14, 19, 23, 26, 28};

bool validbone(int bone) {
  return bone >= 1 && bone <= kBoneCount;
}

}  // namespace

int getspot(int column, int row) {
  return kFirstSlot[column] + row;
}

Point getcoords(int slot) {
  int column = kColumnCount - 1;
  while (column > 0 && kFirstSlot[column] > slot) --column;
  return {column, slot - kFirstSlot[column]};
}

int columnlength(int column) {
  return column == 0 ? kRowCount : kRowCount + 1 - column;
}

int rowlength(int row) {
  return kColumnCount - row;
}

Rect slotrect(int slot) {
  const Point p = getcoords(slot);
  return {kColumnLeft[p.x], kBoardTop + kRowPitch * p.y, kSlotWidth, kSlotHeight};
}

int gettopnum(int bone) {
  if (!validbone(bone)) return 0;
  int high = 6;
  while (high > 0 && kDoubles[6 - high + 1] <= bone) --high;
  return high;
}

int getbotnum(int bone) {
  if (!validbone(bone)) return 0;
  const int high = gettopnum(bone);
  return high - (bone - kDoubles[6 - high]);
}

bool isdouble(int bone) {
  return validbone(bone) && gettopnum(bone) == getbotnum(bone);
}

int doubleofrow(int row) {
  return kDoubles[row];
}

int homeslot(int bone) {
  return isdouble(bone) ? getspot(0, 6 - gettopnum(bone)) : 0;
}

int boneat(const Board& board, int slot) {
  const Point p = getcoords(slot);
  return board[p.x][p.y];
}

int slotof(const Board& board, int bone) {
  if (bone == 0) return 0;
  for (int slot = 1; slot <= kSlotCount; ++slot) {
    if (boneat(board, slot) == bone) return slot;
  }
  return 0;
}

Board solvedboard() {
  Board board{};
  for (int row = 0; row < kRowCount; ++row) {
    for (int column = 0; column < rowlength(row) - 1; ++column) {
      board[column][row] = kDoubles[row] + column;
    }
  }
  return board;
}

void clearbone(Board& board, int bone) {
  for (auto& column : board) {
    for (int& cell : column) {
      if (cell == bone) {
        cell = 0;
        return;
      }
    }
  }
}

bool checkforhint(const Board& board, int bone, std::vector<int>* hints) {
  if (bone == 0) return false;
  if (hints && isdouble(bone)) hints->push_back(homeslot(bone));
  const int hi = gettopnum(bone);
  const int lo = getbotnum(bone);
  bool found = false;
  for (int row = 0; row < kRowCount; ++row) {
    for (int column = 1; column < rowlength(row); ++column) {
      if (board[column][row] != 0) continue;
      const int left = board[column - 1][row];
      if (left == 0 || left == bone) break;
      // A bone is always held high pip first, so the number is the left bone's high pip.
      const int number = gettopnum(left);
      if (number == hi || number == lo) {
        found = true;
        if (hints) hints->push_back(getspot(column, row));
      }
    }
  }
  return found;
}

bool checkformoves(const Board& board) {
  for (int bone = 1; bone <= kBoneCount; ++bone) {
    if (checkforhint(board, bone)) return true;
  }
  return false;
}

int scangap(const Board& board) {
  for (int row = 0; row < kRowCount; ++row) {
    for (int column = 1; column < rowlength(row); ++column) {
      if (board[column][row] != 0) continue;
      if (board[column - 1][row] == 0) return getspot(column, row);
      break;
    }
  }
  return 0;
}

bool checkforcomplete(const Board& board) {
  for (int row = 0; row < kRowCount; ++row) {
    for (int column = 0; column < rowlength(row) - 1; ++column) {
      if (board[column][row] != kDoubles[row] + column) return false;
    }
  }
  return true;
}

}  // namespace game
