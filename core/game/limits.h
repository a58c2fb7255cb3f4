#pragma once

// What every game is allowed, shared by the game itself and by its record.

namespace game {

constexpr int kClicksPerGame = 100;
constexpr int kSecondsPerGame = 300;

}  // namespace game
