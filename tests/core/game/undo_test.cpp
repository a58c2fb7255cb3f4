// Taking a placement back: what it restores, what it costs, when it is refused, how it takes up
// a game lost by leaving no move, and how its record reads and replays.
#include <gtest/gtest.h>

#include "game/deal.h"
#include "game/game.h"
#include "game/record.h"
#include "game/replay.h"
#include "game/solver.h"
#include "gamehelpers.h"

namespace game {
namespace {

using testing::bone;
using testing::put;

void place(Game& game, const Placement& p) {
  game.clickbone(p.bone, false);
  game.clickslot(p.slot);
}

// A game on deal 1000 with the first two placements of its shortest line made, the clock run
// `seconds` before each.
class Undo : public ::testing::Test {
 protected:
  void SetUp() override {
    game.start(1000);
    line = solve(dealboard(1000)).placements;
    ASSERT_GE(line.size(), 3u);
    for (int i = 0; i < 4; ++i) game.tick();
    place(game, line[0]);
    afterfirst = game.board();
    playedafterfirst = game.played();
    for (int i = 0; i < 4; ++i) game.tick();
    place(game, line[1]);
    ASSERT_EQ(game.clicksleft(), kClicksPerGame - 2);
  }
  Game game;
  std::vector<Placement> line;
  Board afterfirst{};
  std::vector<Placement> playedafterfirst;
};

bool sameplayed(const std::vector<Placement>& a, const std::vector<Placement>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].slot != b[i].slot || a[i].bone != b[i].bone) return false;
  }
  return true;
}

TEST_F(Undo, RestoresTheBoardAndCostsAClick) {
  game.clickbone(line[2].bone, true);
  ASSERT_NE(game.selectedbone(), 0);
  const Outcome outcome = game.undo();
  EXPECT_TRUE(outcome.acted);
  EXPECT_TRUE(outcome.undone);
  EXPECT_TRUE(outcome.refusal.empty());
  EXPECT_TRUE(outcome.hints.empty());
  EXPECT_EQ(outcome.cues, std::vector<Cue>{Cue::unclick});
  EXPECT_EQ(outcome.movedbone, line[1].bone);
  EXPECT_EQ(outcome.toslot, slotof(afterfirst, line[1].bone));
  EXPECT_EQ(game.board(), afterfirst);
  EXPECT_TRUE(sameplayed(game.played(), playedafterfirst));
  EXPECT_EQ(game.selectedbone(), 0);
  EXPECT_EQ(game.clicksleft(), kClicksPerGame - 3);
  EXPECT_EQ(game.scorecaption(), "Clicks: 97");
  EXPECT_TRUE(game.gamerunning());
  EXPECT_EQ(game.ending(), Ending::none);
}

TEST_F(Undo, TheClockRunsOn) {
  const int before = game.timeleft();
  game.undo();
  EXPECT_EQ(game.timeleft(), before);
  game.tick();
  EXPECT_EQ(game.timeleft(), before - 1);
}

TEST_F(Undo, TakesBackOnePlacementAfterAnother) {
  game.undo();
  game.undo();
  EXPECT_EQ(game.board(), dealboard(1000));
  EXPECT_TRUE(game.played().empty());
  EXPECT_EQ(game.clicksleft(), kClicksPerGame - 4);
  const Outcome none = game.undo();
  EXPECT_EQ(none.refusal, "Nothing to take back.");
  EXPECT_FALSE(none.undone);
  EXPECT_EQ(none.cues, std::vector<Cue>{Cue::invalid});
  EXPECT_EQ(game.clicksleft(), kClicksPerGame - 4);
  // The line is played from the deal again after the undos.
  place(game, line[0]);
  EXPECT_EQ(game.board(), afterfirst);
}

TEST_F(Undo, TheRecordKeepsThePlacementAndTheUndo) {
  for (int i = 0; i < 3; ++i) game.tick();
  game.undo();
  const std::vector<RecordedPlacement> expected{
      {line[0].bone, line[0].slot, 4}, {line[1].bone, line[1].slot, 8}, undoentry(11)};
  EXPECT_EQ(game.record().placements, expected);
}

TEST_F(Undo, NeedsAClickToSpend) {
  game.setclicksleft(1);
  place(game, line[2]);
  ASSERT_TRUE(game.gamerunning());
  ASSERT_EQ(game.clicksleft(), 0);
  const Board board = game.board();
  const Outcome outcome = game.undo();
  EXPECT_EQ(outcome.refusal, "No click left to take a move back.");
  EXPECT_FALSE(outcome.undone);
  EXPECT_FALSE(game.canundo());
  EXPECT_EQ(game.board(), board);
  EXPECT_EQ(game.clicksleft(), 0);
  EXPECT_EQ(game.record().placements.size(), 3u);
}

TEST_F(Undo, NothingHappensOnceTheGameIsWonOrLostOtherwise) {
  // Out of time.
  while (game.gamerunning()) game.tick();
  const GameRecord record = game.record();
  EXPECT_FALSE(game.canundo());
  EXPECT_FALSE(game.undo().acted);
  EXPECT_EQ(game.record(), record);
  EXPECT_EQ(game.loss().cause, Loss::time);

  // A placement past the last click.
  game.start(1000);
  game.setclicksleft(0);
  place(game, line[0]);
  ASSERT_EQ(game.loss().cause, Loss::clicks);
  EXPECT_FALSE(game.undo().acted);
  EXPECT_FALSE(game.gamerunning());

  // A win.
  game.start(1000);
  for (const Placement& p : line) place(game, p);
  ASSERT_EQ(game.ending(), Ending::won);
  const int score = game.score();
  EXPECT_FALSE(game.undo().acted);
  EXPECT_EQ(game.clicksleft(), score);
  EXPECT_FALSE(game.gamerunning());
}

TEST(UndoAtLoss, TakesUpAGameLostByLeavingNoMove) {
  // Column 0 holds only 6/6; the only gap outside it is slot 15, after 6/5.
  Board board{};
  put(board, 1, bone(6, 6));
  int next = 2;
  for (int slot = 8; slot <= kSlotCount; ++slot) {
    if (slot != 15) put(board, slot, next++);
  }
  Game game;
  game.start(1);
  game.setboard(board);
  place(game, {15, bone(6, 6)});
  ASSERT_EQ(game.loss().cause, Loss::nomoves);
  EXPECT_TRUE(game.canundo());
  const Outcome outcome = game.undo();
  EXPECT_TRUE(outcome.undone);
  EXPECT_EQ(outcome.ending, Ending::none);
  EXPECT_TRUE(game.gamerunning());
  EXPECT_EQ(game.ending(), Ending::none);
  EXPECT_EQ(game.loss(), LossReason{});
  EXPECT_EQ(game.board(), board);
  EXPECT_EQ(game.clicksleft(), kClicksPerGame - 2);
  // And it runs: the clock ticks again.
  const int left = game.timeleft();
  EXPECT_TRUE(game.tick().acted);
  EXPECT_EQ(game.timeleft(), left - 1);
}

TEST(UndoAtStart, HasNothingToTakeBackAndNoGameNoAnswer) {
  Game game;
  EXPECT_FALSE(game.undo().acted);
  game.start(3);
  EXPECT_FALSE(game.canundo());
  EXPECT_EQ(game.undo().refusal, "Nothing to take back.");
  EXPECT_EQ(game.clicksleft(), kClicksPerGame);
  EXPECT_TRUE(game.record().placements.empty());
}

// ---- The record of a game with undos ------------------------------------------------------

TEST(UndoRecordText, IsVersionTwoAndRoundTrips) {
  const GameRecord record{7, {{1, 1, 0}, undoentry(3), {28, 35, 300}}, Ending::won};
  const std::string text = encoderecord(record);
  EXPECT_EQ(text, "2/7/w/1.1.0,u.3,28.35.300");
  EXPECT_EQ(decoderecord(text), record);
  EXPECT_EQ(decoderecord("2/7/n/u.0"), (GameRecord{7, {undoentry(0)}, Ending::none}));
  // Without undos a record is still version 1.
  EXPECT_EQ(encoderecord(GameRecord{7, {{1, 1, 0}}, Ending::won}), "1/7/w/1.1.0");
}

TEST(UndoRecordText, HasOneFormOnly) {
  for (const char* bad : {"2/7/w/1.1.0", "2/7/w/", "1/7/w/u.3", "1/7/w/1.1.0,u.3", "2/7/w/u.",
                          "2/7/w/u", "2/7/w/u3", "2/7/w/u.03", "2/7/w/u.301", "2/7/w/U.3",
                          "2/7/w/u.3,", "2/7/w/u.3.1", "2/7/w/0.0.3", "3/7/w/u.3", "02/7/w/u.3"}) {
    EXPECT_FALSE(decoderecord(bad)) << bad;
  }
}

TEST(UndoRecordText, HoldsAtMostAGamesEntries) {
  std::string most = "2/2147483647/l/u.300";
  for (std::size_t i = 1; i < kMaxRecordPlacements; ++i) most += ",28.35.300";
  EXPECT_LE(most.size(), kMaxRecordText);
  ASSERT_TRUE(decoderecord(most));
  EXPECT_EQ(decoderecord(most)->placements.size(), kMaxRecordPlacements);
  EXPECT_FALSE(decoderecord(most + ",u.300"));
}

// A won game on the deal with undos along the way: the third placement of the line taken back
// at once twice, and replayed.
GameRecord playwithundos(Game& game, int deal) {
  const std::vector<Placement> line = solve(dealboard(deal)).placements;
  game.start(deal);
  for (std::size_t i = 0; i < line.size(); ++i) {
    game.tick();
    if (i == 2) {
      for (int again = 0; again < 2; ++again) {
        place(game, line[i]);
        game.tick();
        game.undo();
      }
    }
    place(game, line[i]);
  }
  return game.record();
}

TEST(UndoReplay, GivesTheGamesScore) {
  Game game;
  const GameRecord record = playwithundos(game, 1000);
  ASSERT_EQ(game.ending(), Ending::won);
  const std::string text = encoderecord(record);
  EXPECT_EQ(text.substr(0, 2), "2/");
  const Replay replay = replayrecord(*decoderecord(text));
  ASSERT_TRUE(replay.won) << replay.error;
  EXPECT_EQ(replay.score, game.score());
  // Two placements and two undos more than the line: four clicks, eight points.
  const std::vector<Placement> line = solve(dealboard(1000)).placements;
  EXPECT_EQ(replay.clickbonus, 2 * (kClicksPerGame - static_cast<int>(line.size()) - 4));
}

TEST(UndoReplay, RefusesAnUndoWithNothingToTakeBack) {
  Game game;
  GameRecord forged = playwithundos(game, 1000);
  forged.placements.insert(forged.placements.begin(), undoentry(0));
  const Replay replay = replayrecord(forged);
  EXPECT_FALSE(replay.won);
  EXPECT_EQ(replay.error, "Undo 1 is refused: Nothing to take back.");
}

TEST(UndoReplay, RefusesAnUndoPastTheClicks) {
  const std::vector<Placement> line = solve(dealboard(1000)).placements;
  // 49 times placed and taken back, then two placements: the last click is gone.
  GameRecord forged{1000, {}, Ending::won};
  for (int i = 0; i < 49; ++i) {
    forged.placements.push_back({line[0].bone, line[0].slot, 0});
    forged.placements.push_back(undoentry(0));
  }
  forged.placements.push_back({line[0].bone, line[0].slot, 0});
  forged.placements.push_back({line[1].bone, line[1].slot, 0});
  const std::size_t undoat = forged.placements.size();
  forged.placements.push_back(undoentry(0));
  const Replay replay = replayrecord(forged);
  EXPECT_FALSE(replay.won);
  EXPECT_EQ(replay.error, "Undo " + std::to_string(undoat + 1) +
                              " is refused: No click left to take a move back.");
}

TEST(UndoReplay, RefusesAnUndoAfterTheWin) {
  Game game;
  GameRecord forged = playwithundos(game, 1000);
  const std::size_t winning = forged.placements.size();
  forged.placements.push_back(undoentry(forged.placements.back().second));
  const Replay replay = replayrecord(forged);
  EXPECT_FALSE(replay.won);
  EXPECT_EQ(replay.error,
            "Placement " + std::to_string(winning) + " wins the game before the record ends.");
}

// A board on the deal's shortest line from which some placement leaves no move, that placement,
// and how many of the line's placements lead to the board.
struct LosingStep {
  int deal = 0;
  std::size_t along = 0;
  Placement losing;
};

LosingStep findlosingstep() {
  for (int deal = 1; deal <= 50; ++deal) {
    const std::vector<Placement> line = solve(dealboard(deal)).placements;
    Board board = dealboard(deal);
    for (std::size_t i = 0; i < line.size(); ++i) {
      for (const SearchStep& step : searchsteps(board)) {
        if (step.loses) return {deal, i, step.placement};
      }
      clearbone(board, line[i].bone);
      const Point at = getcoords(line[i].slot);
      board[at.x][at.y] = line[i].bone;
    }
  }
  return {};
}

TEST(UndoReplay, AGameTakenUpAfterLeavingNoMoveReplaysToItsScore) {
  const LosingStep found = findlosingstep();
  ASSERT_NE(found.deal, 0);
  const std::vector<Placement> line = solve(dealboard(found.deal)).placements;
  Game game;
  game.start(found.deal);
  for (std::size_t i = 0; i < found.along; ++i) place(game, line[i]);
  game.tick();
  place(game, found.losing);
  ASSERT_EQ(game.loss().cause, Loss::nomoves);
  ASSERT_TRUE(game.undo().undone);
  for (std::size_t i = found.along; i < line.size(); ++i) place(game, line[i]);
  ASSERT_EQ(game.ending(), Ending::won);
  const Replay replay = replayrecord(game.record());
  ASSERT_TRUE(replay.won) << replay.error;
  EXPECT_EQ(replay.score, game.score());

  // Without the undo the losing placement ends the record's game.
  GameRecord cut = game.record();
  for (std::size_t i = 0; i < cut.placements.size(); ++i) {
    if (cut.placements[i].isundo()) {
      cut.placements.erase(cut.placements.begin() + static_cast<std::ptrdiff_t>(i));
      break;
    }
  }
  EXPECT_FALSE(replayrecord(cut).won);
}

}  // namespace
}  // namespace game
