#pragma once

// The games a player who picks at random among the placements the game accepts plays: every
// board such a game passes through while it runs, with the clicks then left. The same seed
// gives the same games, so two builds of the solver can be held against each other.

#include <random>
#include <vector>

#include "game/deal.h"
#include "game/game.h"

namespace solverbench {

struct Position {
  game::Board board;
  int clicksleft;
  int deal;
  int step;
};

// The placements the game accepts from where it stands, found by asking the game itself.
inline std::vector<game::Placement> accepted(const game::Game& game) {
  std::vector<game::Placement> found;
  for (int slot = 1; slot <= game::kSlotCount; ++slot) {
    if (game::boneat(game.board(), slot) != 0) continue;
    for (int bone = 1; bone <= game::kBoneCount; ++bone) {
      game::Game trial = game;
      trial.clickbone(bone, false);
      if (trial.clickslot(slot).movedbone == bone) found.push_back({slot, bone});
    }
  }
  return found;
}

// One game by the random player: the boards it passed through while the game ran, each with
// the clicks it had left.
inline game::Game playrandomly(int deal, std::mt19937& random, std::vector<Position>& out) {
  game::Game game;
  game.start(deal);
  int step = 0;
  while (game.gamerunning()) {
    out.push_back({game.board(), game.clicksleft(), deal, step});
    const std::vector<game::Placement> moves = accepted(game);
    if (moves.empty()) break;
    const game::Placement pick = moves[random() % moves.size()];
    game.clickbone(pick.bone, false);
    game.clickslot(pick.slot);
    ++step;
  }
  return game;
}

}  // namespace solverbench
