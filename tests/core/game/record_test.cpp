// The game's record: what a game writes into it, its text form, the replay that tells a played
// game from a made-up one, and the deal of the day.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "game/deal.h"
#include "game/record.h"
#include "game/replay.h"
#include "tests/core/game/recordplay.h"

namespace game {
namespace {

TEST(GameRecord, HoldsTheDealEveryPlacementWithItsSecondAndTheEnding) {
  Game game;
  const GameRecord record = testing::playwon(game, 1, 3);
  ASSERT_FALSE(game.gamerunning());
  EXPECT_EQ(record.deal, 1);
  EXPECT_EQ(record.ending, Ending::won);
  const std::vector<Placement> line = solve(dealboard(1)).placements;
  ASSERT_EQ(record.placements.size(), line.size());
  for (std::size_t i = 0; i < line.size(); ++i) {
    EXPECT_EQ(record.placements[i].bone, line[i].bone);
    EXPECT_EQ(record.placements[i].slot, line[i].slot);
    EXPECT_EQ(record.placements[i].second, 3 * static_cast<int>(i + 1));
  }
  // A new game starts a new record; refusals are not placements.
  game.start(7);
  game.clickbone(1, false);
  game.clickslot(8);
  EXPECT_EQ(game.record(), (GameRecord{7, {}, Ending::none}));
}

TEST(GameRecord, ALostGameEndsLost) {
  Game game;
  game.start(5);
  for (int i = 0; i < kSecondsPerGame; ++i) game.tick();
  EXPECT_EQ(game.record().ending, Ending::lost);
}

TEST(RecordText, RoundTripsAndHasOneFormOnly) {
  const GameRecord record{2147483647, {{1, 1, 0}, {28, 35, 300}, {8, 2, 17}}, Ending::won};
  const std::string text = encoderecord(record);
  EXPECT_EQ(text, "1/2147483647/w/1.1.0,28.35.300,8.2.17");
  EXPECT_EQ(decoderecord(text), record);
  EXPECT_EQ(decoderecord("1/3/n/"), (GameRecord{3, {}, Ending::none}));
  EXPECT_EQ(decoderecord("1/3/l/2.9.4")->ending, Ending::lost);

  Game game;
  const GameRecord played = testing::playwon(game, 42);
  EXPECT_EQ(decoderecord(encoderecord(played)), played);
}

TEST(RecordText, RefusesAnythingElse) {
  for (const char* bad : {"",
                          "1",
                          "1/",
                          "1/3",
                          "1/3/w",
                          "2/3/w/",
                          "01/3/w/",
                          "1/03/w/",
                          "1/0/w/",
                          "1/2147483648/w/",
                          "1/3/x/",
                          "1/3/w/1.1",
                          "1/3/w/1.1.",
                          "1/3/w/0.1.0",
                          "1/3/w/29.1.0",
                          "1/3/w/1.0.0",
                          "1/3/w/1.36.0",
                          "1/3/w/1.1.301",
                          "1/3/w/1.1.00",
                          "1/3/w/1.1.0,",
                          "1/3/w/,1.1.0",
                          "1/3/w/1.1.0;2.2.0",
                          "1/3/w/1.1.0 ",
                          " 1/3/w/",
                          "1/3/w/-1.1.0",
                          "1/3/w/+1.1.0",
                          "1/99999999999999999999/w/"}) {
    EXPECT_FALSE(decoderecord(bad)) << bad;
  }
  // At most a game's clicks and the one more that loses.
  std::string most = "1/2147483647/l/";
  for (std::size_t i = 0; i < kMaxRecordPlacements; ++i) most += (i ? ",28.35.300" : "28.35.300");
  EXPECT_EQ(most.size(), kMaxRecordText);
  EXPECT_TRUE(decoderecord(most));
  EXPECT_FALSE(decoderecord(most + ",1.1.0"));
}

class Forgery : public ::testing::Test {
 protected:
  void SetUp() override { real = testing::playwon(game, 1000); }
  Game game;
  GameRecord real;
};

TEST_F(Forgery, TheRealGameReplaysToItsScore) {
  const Replay replay = replayrecord(real);
  ASSERT_TRUE(replay.won) << replay.error;
  EXPECT_EQ(replay.score, game.score());
  EXPECT_EQ(replay.clickbonus, 2 * (kClicksPerGame - static_cast<int>(real.placements.size())));
  EXPECT_EQ(replay.timebonus, 2 * (kSecondsPerGame - real.placements.back().second));
}

TEST_F(Forgery, AChangedPlacementFails) {
  GameRecord forged = real;
  forged.placements[3].slot = forged.placements[3].slot % kSlotCount + 1;
  EXPECT_FALSE(replayrecord(forged).won);
  forged = real;
  forged.placements[0].bone = forged.placements[0].bone % kBoneCount + 1;
  EXPECT_FALSE(replayrecord(forged).won);
}

TEST_F(Forgery, OneMoveTooManyOrTooFewFails) {
  GameRecord longer = real;
  longer.placements.push_back(real.placements.back());
  EXPECT_FALSE(replayrecord(longer).won);
  GameRecord shorter = real;
  shorter.placements.pop_back();
  EXPECT_FALSE(replayrecord(shorter).won);
}

TEST_F(Forgery, AnotherDealFails) {
  GameRecord forged = real;
  forged.deal = real.deal + 1;
  EXPECT_FALSE(replayrecord(forged).won);
}

TEST_F(Forgery, SecondsRunningBackwardsOrPastTheClockFail) {
  GameRecord backwards = real;
  std::swap(backwards.placements[4].second, backwards.placements[5].second);
  EXPECT_FALSE(replayrecord(backwards).won);
  // The same placements made at one moment are fine, and score more.
  GameRecord quick = real;
  for (RecordedPlacement& p : quick.placements) p.second = 0;
  EXPECT_TRUE(replayrecord(quick).won);
  EXPECT_EQ(replayrecord(quick).score,
            replayrecord(real).score + 2 * real.placements.back().second);
  GameRecord late = real;
  late.placements.back().second = kSecondsPerGame;
  EXPECT_FALSE(replayrecord(late).won);
  late.placements.back().second = kSecondsPerGame - 1;
  EXPECT_TRUE(replayrecord(late).won);
}

TEST_F(Forgery, OnlyAWonRecordCounts) {
  GameRecord forged = real;
  forged.ending = Ending::lost;
  EXPECT_FALSE(replayrecord(forged).won);
  EXPECT_FALSE(replayrecord(GameRecord{1000, {}, Ending::won}).won);
}

// Sets TZ for one case and puts it back.
class Zone {
 public:
  explicit Zone(const char* zone) {
    const char* old = std::getenv("TZ");
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~Zone() {
    if (had_) {
      setenv("TZ", old_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  bool had_ = false;
  std::string old_;
};

TEST(DealOfTheDay, IsOneNumberForEveryTimeZoneOnOneUtcDay) {
  using namespace std::chrono;
  const sys_days day = 2026y / December / 9;
  // The first and the last minute of the day in UTC, read on both sides of the date line.
  for (const auto when :
       {sys_seconds(day) + minutes(1), sys_seconds(day) + hours(23) + minutes(59)}) {
    for (const char* zone : {"UTC", "Pacific/Kiritimati", "Pacific/Pago_Pago", "Asia/Kolkata",
                             "America/St_Johns", "Europe/Berlin"}) {
      Zone z(zone);
      // What a player's machine reads off its clock: the local date differs, the deal does not.
      const std::time_t t = system_clock::to_time_t(when);
      std::tm local{};
      localtime_r(&t, &local);
      EXPECT_EQ(dailydeal(when), 128800278) << zone << " local day " << local.tm_mday;
    }
  }
  EXPECT_EQ(dailydeal(day), 128800278);
  EXPECT_EQ(dailydeal(day + days(1)), 30560662);
  EXPECT_EQ(dailydeal(sys_days(1970y / January / 1)), 1063198246);
}

TEST(DealOfTheDay, IsADealNumber) {
  using namespace std::chrono;
  for (int i = -400; i < 4000; i += 7) {
    const int deal = dailydeal(sys_days(2000y / January / 1) + days(i));
    EXPECT_GE(deal, kFirstDeal);
    EXPECT_LE(deal, kLastDeal);
  }
}

}  // namespace
}  // namespace game
