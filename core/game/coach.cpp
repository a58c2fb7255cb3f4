#include "game/coach.h"

namespace game {

namespace {

// "row 2, column 3": counted from 1, as the player reads the board.
std::string slotname(int slot) {
  const Point p = getcoords(slot);
  return "row " + std::to_string(p.y + 1) + ", column " + std::to_string(p.x + 1);
}

void apply(Board& board, const Placement& placement) {
  clearbone(board, placement.bone);
  const Point p = getcoords(placement.slot);
  board[p.x][p.y] = placement.bone;
}

}  // namespace

std::string bonename(int bone) {
  return std::to_string(gettopnum(bone)) + "/" + std::to_string(getbotnum(bone));
}

std::string placementtext(const Placement& placement) {
  return bonename(placement.bone) + " to " + slotname(placement.slot);
}

std::string ordinal(int n) {
  const int tens = n % 100;
  const int ones = n % 10;
  const char* suffix = "th";
  if (tens < 11 || tens > 13) {
    if (ones == 1) suffix = "st";
    if (ones == 2) suffix = "nd";
    if (ones == 3) suffix = "rd";
  }
  return std::to_string(n) + suffix;
}

std::string lossreasontext(const LossReason& reason) {
  switch (reason.cause) {
    case Loss::none:
      return {};
    case Loss::time:
      return "Out of time.";
    case Loss::clicks:
      return "No click was left for that move.";
    case Loss::nomoves:
      break;
  }
  // A board without moves has seven empty slots and every row either full from column 1 on or
  // stopped at a gap, which takes two of them; with no gap, all seven are the double column's.
  if (reason.gapslot == 0) return "No move found: only the first column has empty slots.";
  const Point p = getcoords(reason.gapslot);
  return "No move found: row " + std::to_string(p.y + 1) + ", columns " + std::to_string(p.x) +
         " and " + std::to_string(p.x + 1) + " are empty.";
}

GamePath gamepath(const Game& game) {
  return {game.firstboard(), game.played(), game.clicksbefore(), game.boardclicks(),
          game.undos(),      game.ending(), game.loss().cause};
}

GameAnalysis analysegame(const GamePath& path, const SolverOptions& options) {
  const std::vector<Placement>& played = path.played;
  GameAnalysis analysis;
  analysis.placementsplayed = static_cast<int>(played.size()) + path.undos;
  analysis.undos = path.undos;
  SolverOptions each = options;
  Board board = path.firstboard;
  // The line found for the board before, while the game still follows it.
  std::vector<Placement> line;
  std::size_t online = 0;
  bool known = false;
  const bool endedstuck =
      path.ending == Ending::lost && (path.loss == Loss::nomoves || path.loss == Loss::clicks);
  for (std::size_t k = 0; k <= played.size(); ++k) {
    if (k > 0) apply(board, played[k - 1]);
    int fewest = -1;
    const int clicks = k < path.clicksbefore.size() ? path.clicksbefore[k] : path.lastclicks;
    if (k == played.size() && endedstuck) {
      // The game is over on this board: whatever the solver would make of it, no move is made.
      fewest = -1;
    } else if (clicks < 0) {
      fewest = -1;
    } else if (known && online < line.size() && line[online].bone == played[k - 1].bone &&
               line[online].slot == played[k - 1].slot) {
      // The rest of a shortest line is a shortest line from here: where it does not fit in the
      // clicks, nothing does.
      ++online;
      const int rest = static_cast<int>(line.size() - online);
      fewest = rest <= clicks ? rest : -1;
    } else {
      each.clicksleft = clicks;
      const Solution solution = solve(board, each);
      if (solution.cancelled) return analysis;
      line = solution.placements;
      online = 0;
      known = solution.solved;
      fewest = solution.solved ? static_cast<int>(line.size()) : -1;
    }
    analysis.fewest.push_back(fewest);
    if (fewest < 0) {
      analysis.lostafter = static_cast<int>(k);
      if (k > 0) analysis.lostmove = played[k - 1];
      break;
    }
    // A won game is measured against the first board's best; the boards after it matter not.
    if (path.ending == Ending::won) break;
  }
  if (path.ending == Ending::won && !analysis.fewest.empty() && analysis.fewest[0] >= 0) {
    analysis.over = analysis.placementsplayed + analysis.undos - analysis.fewest[0];
  }
  analysis.complete = true;
  return analysis;
}

GameAnalysis analysegame(const Board& firstboard, const std::vector<Placement>& played,
                         int firstclicks, Ending ending, Loss loss, const SolverOptions& options) {
  GamePath path{firstboard, played, {},  firstclicks - static_cast<int>(played.size()),
                0,          ending, loss};
  for (std::size_t k = 0; k < played.size(); ++k) {
    path.clicksbefore.push_back(firstclicks - static_cast<int>(k));
  }
  return analysegame(path, options);
}

GameAnalysis analysegame(const Game& game, const SolverOptions& options) {
  return analysegame(gamepath(game), options);
}

std::string analysistext(const GameAnalysis& analysis, Ending ending) {
  if (!analysis.complete || analysis.fewest.empty()) return {};
  if (ending == Ending::won) {
    const int best = analysis.fewest[0];
    if (analysis.over <= 0) return "Sorted in the fewest placements, " + std::to_string(best) + ".";
    std::string undos;
    if (analysis.undos > 0) {
      undos = " and " + std::to_string(analysis.undos) + (analysis.undos == 1 ? " undo" : " undos");
    }
    return "Sorted in " + std::to_string(analysis.placementsplayed) + " placements" + undos + ", " +
           std::to_string(analysis.over) + " over the best, " + std::to_string(best) + ".";
  }
  if (analysis.lostafter < 0) return "A win was still left when the game ended.";
  if (analysis.lostafter == 0) return "No win was left from the first board.";
  return "No win was left after your " + ordinal(analysis.lostafter) + " move (" +
         placementtext(analysis.lostmove) + ").";
}

}  // namespace game
