#include "game/replay.h"

#include "game/deal.h"
#include "game/game.h"

namespace game {

Replay replayrecord(const GameRecord& record) {
  Replay replay;
  // Entries are counted together, undos among the placements, as the text lists them.
  auto refuse = [&replay, &record](std::size_t index, const std::string& why) {
    replay.error = (record.placements[index].isundo() ? "Undo " : "Placement ") +
                   std::to_string(index + 1) + " " + why;
    return replay;
  };
  if (record.deal < kFirstDeal || record.deal > kLastDeal) {
    replay.error = "The deal number is out of range.";
    return replay;
  }
  if (record.ending != Ending::won) {
    replay.error = "The record is not of a won game.";
    return replay;
  }
  if (record.placements.empty() || record.placements.size() > kMaxRecordPlacements) {
    replay.error = "The record holds no placements or too many.";
    return replay;
  }
  Game game;
  game.start(record.deal);
  int second = 0;
  for (std::size_t i = 0; i < record.placements.size(); ++i) {
    const RecordedPlacement& p = record.placements[i];
    // Only an undo takes up a game lost by leaving no move; the game itself says whether it may.
    if (!game.gamerunning() && !p.isundo()) return refuse(i, "comes after the game was over.");
    if (p.second < second) return refuse(i, "is timed before the one ahead of it.");
    // A lost game's clock stands still until an undo takes it up.
    if (!game.gamerunning() && p.second != second) {
      return refuse(i, "is timed after the game had stopped.");
    }
    // The game's own clock, tick by tick, so the time runs out here exactly as it does in play.
    while (second < p.second) {
      game.tick();
      ++second;
      if (!game.gamerunning()) return refuse(i, "comes after the time ran out.");
    }
    if (p.isundo()) {
      const Outcome undone = game.undo();
      if (!undone.acted) return refuse(i, "comes after the game was over.");
      if (!undone.undone) return refuse(i, "is refused: " + undone.refusal);
      continue;
    }
    if (p.bone < 1 || p.bone > kBoneCount) return refuse(i, "names no bone.");
    game.clickbone(p.bone, false);
    const Outcome placed = game.clickslot(p.slot);
    if (placed.movedbone != p.bone) return refuse(i, "is not allowed there.");
    const bool undonext = i + 1 < record.placements.size() && record.placements[i + 1].isundo();
    if (placed.ending == Ending::lost && !undonext) return refuse(i, "loses the game.");
    if (placed.ending == Ending::won && i + 1 != record.placements.size()) {
      return refuse(i, "wins the game before the record ends.");
    }
  }
  if (game.gamerunning()) {
    replay.error = "The last placement does not sort the board.";
    return replay;
  }
  replay.won = true;
  replay.score = game.score();
  replay.clickbonus = game.clickbonus();
  replay.timebonus = game.timebonus();
  return replay;
}

}  // namespace game
