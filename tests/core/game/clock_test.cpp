#include <gtest/gtest.h>

#include "game/game.h"

namespace game {
namespace {

class Clock : public ::testing::Test {
 protected:
  void SetUp() override { game.start(5); }
  // Ticks until the given number of seconds is left, returning the last tick's outcome.
  Outcome tickto(int seconds) {
    Outcome last;
    while (game.timeleft() > seconds) last = game.tick();
    return last;
  }
  Game game;
};

TEST_F(Clock, CaptionShowsMinutesAndTwoDigitSeconds) {
  EXPECT_EQ(game.timecaption(), "Time: 0:00");  // unchanged until the first tick
  game.tick();
  EXPECT_EQ(game.timecaption(), "Time: 4:59");
  tickto(65);
  EXPECT_EQ(game.timecaption(), "Time: 1:05");
  tickto(60);
  EXPECT_EQ(game.timecaption(), "Time: 1:00");
  tickto(9);
  EXPECT_EQ(game.timecaption(), "Time: 0:09");
}

TEST_F(Clock, TheBarLosesAPixelEveryEvenSecond) {
  EXPECT_EQ(game.barwidth(), 150);
  game.tick();  // 299
  EXPECT_EQ(game.barwidth(), 150);
  game.tick();  // 298
  EXPECT_EQ(game.barwidth(), 149);
  tickto(2);
  EXPECT_EQ(game.barwidth(), 1);
  game.tick();
  EXPECT_EQ(game.barwidth(), 1);
}

TEST_F(Clock, WarningColourAndCuesInTheLastTwentySeconds) {
  EXPECT_TRUE(tickto(21).cues.empty());
  EXPECT_FALSE(game.timewarning());
  EXPECT_EQ(game.tick().cues, std::vector<Cue>{Cue::time});  // 20: sounds, still white
  EXPECT_FALSE(game.timewarning());
  EXPECT_TRUE(game.tick().cues.empty());  // 19: warning colour, silent
  EXPECT_TRUE(game.timewarning());
  EXPECT_TRUE(tickto(16).cues.empty());
  EXPECT_EQ(game.tick().cues, std::vector<Cue>{Cue::time});  // 15
  EXPECT_TRUE(tickto(11).cues.empty());
  for (int left = 10; left >= 1; --left) {
    EXPECT_EQ(game.tick().cues, std::vector<Cue>{Cue::time}) << left << " seconds left";
  }
}

TEST_F(Clock, TimeUpLosesAndEmptiesTheBar) {
  tickto(1);
  const Outcome outcome = game.tick();
  EXPECT_EQ(outcome.ending, Ending::lost);
  EXPECT_EQ(outcome.cues, std::vector<Cue>{Cue::timeup});
  EXPECT_EQ(game.timecaption(), "Time: 0:00");
  EXPECT_EQ(game.barwidth(), 0);
  EXPECT_EQ(game.timeleft(), 0);
  EXPECT_FALSE(game.gamerunning());
  EXPECT_FALSE(game.tick().acted);
}

TEST_F(Clock, ANewGameKeepsTheOldBarUntilItsFirstTick) {
  tickto(0);
  game.start(9);
  EXPECT_EQ(game.barwidth(), 0);
  EXPECT_EQ(game.bartag(), 150);
  EXPECT_EQ(game.timecaption(), "Time: 0:00");
  game.tick();
  EXPECT_EQ(game.barwidth(), 150);
  EXPECT_EQ(game.timecaption(), "Time: 4:59");
}

}  // namespace
}  // namespace game
