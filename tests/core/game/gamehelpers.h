#pragma once

#include "game/board.h"

namespace game::testing {

// The bone with the given pips, high pip first: bone(6, 6) is 1, bone(0, 0) is 28.
inline int bone(int high, int low) {
  return doubleofrow(6 - high) + (high - low);
}

inline void put(Board& board, int slot, int b) {
  const Point p = getcoords(slot);
  board[p.x][p.y] = b;
}

}  // namespace game::testing
