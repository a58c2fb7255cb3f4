#pragma once

// Game records as the program sends them after a score post, made by playing a real game.
#include <string>

#include "game/record.h"
#include "tests/core/game/recordplay.h"

namespace servertest {

struct PlayedGame {
  game::GameRecord record;
  int score = 0;
};

inline PlayedGame playgame(int deal, int pause = 2) {
  game::Game game;
  PlayedGame played;
  played.record = game::testing::playwon(game, deal, pause);
  played.score = game.score();
  return played;
}

inline std::string recordbody(const std::string& name, const std::string& date, int score,
                              const game::GameRecord& record) {
  return "name=" + name + "&date=" + date + "&score=" + std::to_string(score) +
         "&record=" + game::encoderecord(record);
}

}  // namespace servertest
