#pragma once

// A record played again under the game's own rules, clock tick by clock tick, to tell a game
// really played from a typed score.

#include <string>

#include "game/record.h"

namespace game {

// What a replay of a record found: a won game with its score, or the first reason it is not one.
struct Replay {
  bool won = false;
  int score = 0;
  int clickbonus = 0;
  int timebonus = 0;
  std::string error;  // empty when won
};

// Deals the record's number and plays its placements one by one through the game's own rules
// and clock: each must be accepted, the seconds may not run backwards nor reach the end of the
// game's time, and the last placement, only the last, must win it. An undo is played as the game
// plays it: it costs a click and is refused with nothing to take back or no click left, and it
// may take up a game that a placement just lost by leaving no move.
Replay replayrecord(const GameRecord& record);

}  // namespace game
