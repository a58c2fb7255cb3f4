#include "game/game.h"

#include "game/deal.h"

namespace game {

namespace {

constexpr const char* kAlreadyThere = "Bone already there";
constexpr const char* kCannotGoThere = "Bone cannot go there";
constexpr const char* kNothingToTakeBack = "Nothing to take back.";
constexpr const char* kNoClickToTakeBack = "No click left to take a move back.";

std::string clockcaption(int seconds) {
  const int minutes = seconds / 60;
  const int rest = seconds % 60;
  return "Time: " + std::to_string(minutes) + ":" + (rest < 10 ? "0" : "") + std::to_string(rest);
}

}  // namespace

const char* cuename(Cue cue) {
  switch (cue) {
    case Cue::click:
      return "click";
    case Cue::unclick:
      return "unclick";
    case Cue::invalid:
      return "invalid";
    case Cue::place:
      return "place";
    case Cue::time:
      return "time";
    case Cue::timeup:
      return "timeup";
    case Cue::gameover:
      return "gameover";
    case Cue::startgame:
      return "startgame";
  }
  return "";
}

std::vector<Placement> Game::start(int dealnumber) {
  gamerunning_ = true;
  dealnumber_ = dealnumber;
  timeleft_ = kSecondsPerGame;
  bartag_ = kTimeBarWidth;
  clicksleft_ = kClicksPerGame;
  scorecaption_ = "Clicks: " + std::to_string(clicksleft_);
  selectedbone_ = 0;
  loss_ = {};
  std::vector<Placement> deal;
  board_ = firstboard_ = dealboard(dealnumber, &deal);
  record_ = GameRecord{dealnumber, {}, Ending::none};
  played_.clear();
  before_.clear();
  clicksbefore_.clear();
  undos_ = 0;
  wonclicks_ = 0;
  firstclicks_ = clicksleft_;
  return deal;
}

Outcome Game::clickbone(int bone, bool showhints) {
  Outcome outcome;
  if (!gamerunning_) return outcome;
  outcome.acted = true;
  if (bone == selectedbone_) {
    selectedbone_ = 0;
    outcome.cues.push_back(Cue::unclick);
    return outcome;
  }
  selectedbone_ = bone;
  outcome.cues.push_back(Cue::click);
  if (showhints) checkforhint(board_, selectedbone_, &outcome.hints);
  return outcome;
}

Outcome Game::refuse(const char* message) const {
  Outcome outcome;
  outcome.acted = true;
  outcome.refusal = message;
  outcome.cues.push_back(Cue::invalid);
  return outcome;
}

Outcome Game::clickslot(int slot) {
  if (!gamerunning_) return {};
  const Point target = getcoords(slot);
  const int column = target.x;
  const int row = target.y;
  if (board_[column][row] != 0) return refuse(kAlreadyThere);
  if (selectedbone_ == 0) return refuse(kCannotGoThere);
  if (column == 0) {
    if (selectedbone_ != doubleofrow(row)) return refuse(kCannotGoThere);
  } else {
    const int left = board_[column - 1][row];
    // A bone cannot move to the slot just right of itself, nor follow an empty slot.
    if (left == selectedbone_ || left == 0) return refuse(kCannotGoThere);
    // A bone is always held high pip first, so the number is the left bone's high pip.
    const int number = gettopnum(left);
    if (number != gettopnum(selectedbone_) && number != getbotnum(selectedbone_)) {
      return refuse(kCannotGoThere);
    }
  }

  Outcome outcome;
  outcome.acted = true;
  outcome.movedbone = selectedbone_;
  outcome.toslot = slot;
  before_.push_back(board_);
  clearbone(board_, selectedbone_);
  board_[column][row] = selectedbone_;
  // A game ends at its 101st placement at the latest; only a test's setclicksleft goes further.
  if (record_.placements.size() < kMaxRecordPlacements) {
    record_.placements.push_back({selectedbone_, slot, kSecondsPerGame - timeleft_});
  }
  played_.push_back({slot, selectedbone_});
  clicksbefore_.push_back(clicksleft_);
  setlabel(outcome);

  // Only a game still running can be won here, so the placement after the last click loses even
  // when it sorts the board.
  if (gamerunning_) {
    if (checkforcomplete(board_)) {
      endgame(true, outcome);
    } else if (column > 0 && !checkformoves(board_)) {
      // A move into the double column never strands the player: it only opens a slot.
      endgame(false, outcome, Loss::nomoves);
    }
  }
  return outcome;
}

void Game::setlabel(Outcome& outcome) {
  --clicksleft_;
  scorecaption_ = "Clicks: " + std::to_string(clicksleft_);
  selectedbone_ = 0;
  if (clicksleft_ < 0) {
    scorecaption_ = "Score: 0";
    endgame(false, outcome, Loss::clicks);
  }
  outcome.cues.push_back(Cue::place);
}

void Game::endgame(bool won, Outcome& outcome, Loss cause) {
  gamerunning_ = false;
  record_.ending = won ? Ending::won : Ending::lost;
  if (!won) {
    loss_ = {cause, cause == Loss::nomoves ? scangap(board_) : 0};
    outcome.loss = loss_;
    outcome.ending = Ending::lost;
    outcome.cues.push_back(Cue::timeup);
    return;
  }
  wonclicks_ = clicksleft_;
  clickbonus_ = 2 * clicksleft_;
  timebonus_ = 2 * timeleft_;
  score_ = clickbonus_ + timebonus_;
  clicksleft_ = score_;
  outcome.ending = Ending::won;
  outcome.cues.push_back(Cue::gameover);
}

bool Game::resumable() const {
  return !gamerunning_ && record_.ending == Ending::lost && loss_.cause == Loss::nomoves;
}

bool Game::canundo() const {
  return (gamerunning_ || resumable()) && !played_.empty() && clicksleft_ > 0;
}

Outcome Game::undo() {
  const bool resume = resumable();
  if (!gamerunning_ && !resume) return {};
  if (played_.empty()) return refuse(kNothingToTakeBack);
  if (clicksleft_ < 1) return refuse(kNoClickToTakeBack);

  Outcome outcome;
  outcome.acted = true;
  outcome.undone = true;
  outcome.movedbone = played_.back().bone;
  board_ = before_.back();
  before_.pop_back();
  played_.pop_back();
  clicksbefore_.pop_back();
  ++undos_;
  outcome.toslot = slotof(board_, outcome.movedbone);
  if (record_.placements.size() < kMaxRecordPlacements) {
    record_.placements.push_back(undoentry(kSecondsPerGame - timeleft_));
  }
  if (resume) {
    gamerunning_ = true;
    record_.ending = Ending::none;
    loss_ = {};
  }
  // The click is spent as a placement spends it; one was left, so the game goes on.
  --clicksleft_;
  scorecaption_ = "Clicks: " + std::to_string(clicksleft_);
  selectedbone_ = 0;
  outcome.cues.push_back(Cue::unclick);
  return outcome;
}

Outcome Game::tick() {
  Outcome outcome;
  if (!gamerunning_) return outcome;
  outcome.acted = true;
  --timeleft_;
  if (timeleft_ < 1) {
    timeleft_ = 0;
    timecaption_ = clockcaption(0);
    barwidth_ = 0;
    endgame(false, outcome, Loss::time);
    return outcome;
  }
  if (timeleft_ % 2 == 0) --bartag_;
  barwidth_ = bartag_;
  timewarning_ = timeleft_ < kWarningSeconds;
  if (timeleft_ == 20 || timeleft_ == 15 || timeleft_ <= 10) outcome.cues.push_back(Cue::time);
  timecaption_ = clockcaption(timeleft_);
  return outcome;
}

}  // namespace game
