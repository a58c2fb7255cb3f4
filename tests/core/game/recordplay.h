#pragma once

// A won game played through game::Game as a player would: the solver's line for a deal, with
// the clock ticking between placements.
#include "game/deal.h"
#include "game/game.h"
#include "game/record.h"
#include "game/solver.h"

namespace game::testing {

// Plays the deal's shortest line, `pause` seconds before each placement; returns the game's
// own record of it.
inline GameRecord playwon(Game& game, int deal, int pause = 2) {
  const Solution line = solve(dealboard(deal));
  game.start(deal);
  for (const Placement& p : line.placements) {
    for (int i = 0; i < pause; ++i) game.tick();
    game.clickbone(p.bone, false);
    game.clickslot(p.slot);
  }
  return game.record();
}

}  // namespace game::testing
