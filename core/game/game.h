#pragma once

// One game of Pipshift as the player plays it: selecting bones, placing them, the clicks and the
// clock, and the end of the game. The game draws nothing: every action returns what happened, and
// the window shows it.

#include <string>
#include <vector>

#include "game/board.h"
#include "game/limits.h"
#include "game/record.h"

namespace game {

constexpr int kTimeBarWidth = 150;
// Below this many seconds left the clock is drawn in the warning colour.
constexpr int kWarningSeconds = 20;

// The sound cues, by the names of their sounds.
enum class Cue { click, unclick, invalid, place, time, timeup, gameover, startgame };
const char* cuename(Cue cue);

// Which of the three ways to lose ended a game.
enum class Loss {
  none,
  // The clock reached 0:00.
  time,
  // A placement after the last click.
  clicks,
  // After a placement into columns 1 to 7 the hint scan found no move.
  nomoves,
};

// Why a game was lost, in terms the window can put in a few words.
struct LossReason {
  Loss cause = Loss::none;
  // For Loss::nomoves: the first row, top down, whose scan stopped at an empty slot with an
  // empty slot to its left, and that slot (scangap in board.h); 0 when no row had one, which
  // leaves every empty slot in the double column.
  int gapslot = 0;
  bool operator==(const LossReason&) const = default;
};

// What one click or clock tick did.
struct Outcome {
  // False when no game is running: nothing happened beyond the slot colours being reset.
  bool acted = false;
  // Cues in the order they sound; each cuts off the one before, so the last is the one heard.
  std::vector<Cue> cues;
  // Slots to colour as hints.
  std::vector<int> hints;
  // The refusal message of a refused placement, empty otherwise.
  std::string refusal;
  // An accepted placement: the bone and the slot it now stands on. For a placement taken back,
  // the bone and the slot it stands on again.
  int movedbone = 0;
  int toslot = 0;
  // A placement was taken back (undo).
  bool undone = false;
  Ending ending = Ending::none;
  // For a lost game, why.
  LossReason loss;
};

class Game {
 public:
  // Starts a new game on the numbered deal (1 to 2147483647): clicks, seconds and the time
  // bar's length reset, selection cleared, the board dealt anew. A running game is simply
  // replaced. Returns the deal.
  std::vector<Placement> start(int dealnumber);

  // A click on a bone: selects it, or unselects it when it is the selected one.
  Outcome clickbone(int bone, bool showhints);
  // A click on a slot: tries to place the selected bone there.
  Outcome clickslot(int slot);
  // One second of the game clock.
  Outcome tick();
  // Takes back the last accepted placement: the board and the placements played are as they
  // were before it and nothing is selected. It costs a click like a placement, so scores stay
  // comparable, and the clock runs on; the record keeps the placement and adds the undo, so that
  // a replay spends the same clicks. A game lost by leaving no move is taken up again by it. It
  // marks no hints and sounds "unclick". Refused, like a placement, with nothing placed yet or no
  // click left; after any other end of the game, nothing happens.
  Outcome undo();
  // True when undo() would take a placement back: a running game, or one lost by leaving no
  // move, with a placement to take back and a click to spend.
  bool canundo() const;

  const Board& board() const { return board_; }
  // The number of the deal being played; 0 before the first game.
  int dealnumber() const { return dealnumber_; }
  int selectedbone() const { return selectedbone_; }
  bool gamerunning() const { return gamerunning_; }
  int timeleft() const { return timeleft_; }
  // Clicks left while a game runs; the final score once a game is won.
  int clicksleft() const { return clicksleft_; }
  // The length the time bar is to have and the length it is drawn with: a new game resets the
  // first, the next tick copies it to the second.
  int bartag() const { return bartag_; }
  int barwidth() const { return barwidth_; }
  const std::string& scorecaption() const { return scorecaption_; }
  const std::string& timecaption() const { return timecaption_; }
  bool timewarning() const { return timewarning_; }
  // The bonuses and score of the last won game.
  int clickbonus() const { return clickbonus_; }
  int timebonus() const { return timebonus_; }
  int score() const { return score_; }
  // The record of the game being played or just played: its deal, placements and ending.
  const GameRecord& record() const { return record_; }
  // Why the last game was lost; cause none while a game runs or after a win.
  const LossReason& loss() const { return loss_; }
  // How the last game ended; none while it runs.
  Ending ending() const { return record_.ending; }

  // The board the game started from and the placements accepted since, in order, with the
  // clicks that were left on that board: what the coach replays to find where a game was lost.
  const Board& firstboard() const { return firstboard_; }
  const std::vector<Placement>& played() const { return played_; }
  int firstclicks() const { return firstclicks_; }
  // Beside each entry of played(): the clicks that were left on the board it was made on, when
  // the game last moved on from that board. Undos spend clicks on the way, so after one these
  // are fewer than firstclicks() minus the placements before.
  const std::vector<int>& clicksbefore() const { return clicksbefore_; }
  // The clicks left on the board as it stands, after the last placement or undo; for a won game
  // the clicks it was won with, not the score that clicksleft() then shows.
  int boardclicks() const { return record_.ending == Ending::won ? wonclicks_ : clicksleft_; }
  // The placements taken back since the game started.
  int undos() const { return undos_; }

  // For tests and replays: put the game in a given state. A board set this way is where the
  // game's record of placements starts.
  void setboard(const Board& board) {
    board_ = firstboard_ = board;
    played_.clear();
    before_.clear();
    clicksbefore_.clear();
    undos_ = 0;
    firstclicks_ = clicksleft_;
  }
  void setclicksleft(int clicks) {
    clicksleft_ = clicks;
    if (played_.empty()) firstclicks_ = clicks;
  }
  void settimeleft(int seconds) { timeleft_ = seconds; }
  void setrunning(bool running) { gamerunning_ = running; }

 private:
  // Refuses a placement: the message is shown and nothing else changes.
  Outcome refuse(const char* message) const;
  // Spends a click for an accepted placement; ends the game lost when the clicks run out.
  void setlabel(Outcome& outcome);
  // Stops the game, and for a won game works out the bonuses and the score.
  void endgame(bool won, Outcome& outcome, Loss cause = Loss::none);
  // A game lost by leaving no move, which an undo takes up again.
  bool resumable() const;

  Board board_{};
  int dealnumber_ = 0;
  int selectedbone_ = 0;
  bool gamerunning_ = false;
  int timeleft_ = kSecondsPerGame;
  int clicksleft_ = kClicksPerGame;
  int bartag_ = kTimeBarWidth;
  int barwidth_ = kTimeBarWidth;
  std::string scorecaption_ = "Score:100";
  std::string timecaption_ = "Time: 0:00";
  bool timewarning_ = false;
  int clickbonus_ = 0;
  int timebonus_ = 0;
  int score_ = 0;
  GameRecord record_;
  LossReason loss_;
  Board firstboard_{};
  std::vector<Placement> played_;
  // The board before each placement in played_, for undo.
  std::vector<Board> before_;
  std::vector<int> clicksbefore_;
  int firstclicks_ = kClicksPerGame;
  int wonclicks_ = 0;
  int undos_ = 0;
};

}  // namespace game
