// The server's side of verified scores: what a posted record must be, the posts it is matched
// with, the verified mark in both stores (an older database included), and the pages.
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sqlite3.h>

#include <future>
#include <thread>

#include "server/openstore.h"
#include "server/recordcheck.h"
#include "server/scoreboard.h"
#include "server/scoredb.h"
#include "server/verifiedpages.h"
#include "tests/server/eitherstore.h"
#include "tests/server/pgcluster.h"
#include "tests/server/recordpost.h"
#include "tests/support/scratchdir.h"

using namespace pipshiftserver;
using servertest::playgame;
using servertest::recordbody;

namespace {

class RecordPostCheck : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { played = playgame(1000); }
  static servertest::PlayedGame played;
  static std::string body(const game::GameRecord& record, int score) {
    return recordbody("Ann", "12/9/26", score, record);
  }
};
servertest::PlayedGame RecordPostCheck::played;

TEST_F(RecordPostCheck, TakesTheRealGame) {
  const RecordClaim claim = checkrecordpost(body(played.record, played.score));
  EXPECT_EQ(claim.status, 0) << claim.error;
  EXPECT_EQ(claim.entry, (ScoreEntry{"Ann", "12/9/26", played.score}));
  EXPECT_EQ(claim.record, played.record);
}

TEST_F(RecordPostCheck, RefusesEveryForgery) {
  game::GameRecord changed = played.record;
  changed.placements[2].slot = changed.placements[2].slot % game::kSlotCount + 1;
  game::GameRecord longer = played.record;
  longer.placements.push_back(longer.placements.back());
  game::GameRecord otherdeal = played.record;
  otherdeal.deal += 1;
  game::GameRecord backwards = played.record;
  backwards.placements[1].second =
      backwards.placements[0].second - 1 < 0 ? 0 : backwards.placements[0].second - 1;
  backwards.placements[0].second += 5;
  const struct {
    const char* what;
    std::string body;
    int status;
  } cases[] = {
      {"no record", "name=Ann&date=12/9/26&score=" + std::to_string(played.score), 400},
      {"two records", body(played.record, played.score) + "&record=1/1/w/", 400},
      {"a field of its own", body(played.record, played.score) + "&verified=1", 400},
      {"not a record", "name=Ann&date=12/9/26&score=5&record=hello", 400},
      {"a placement changed", body(changed, played.score), 422},
      {"one move too many", body(longer, played.score), 422},
      {"the deal changed", body(otherdeal, played.score), 422},
      {"seconds backwards", body(backwards, played.score), 422},
      {"a score one higher", body(played.record, played.score + 1), 422},
      {"a score one lower", body(played.record, played.score - 1), 422},
      {"too large", body(played.record, played.score) + "&" + std::string(kMaxRecordBody, 'x'),
       413},
  };
  for (const auto& c : cases) {
    const RecordClaim claim = checkrecordpost(c.body);
    EXPECT_EQ(claim.status, c.status) << c.what << ": " << claim.error;
    EXPECT_FALSE(claim.error.empty()) << c.what;
  }
}

// The game's own record of a win with one placement taken back: two clicks more than the line.
TEST_F(RecordPostCheck, TakesAGameWithUndoAtTheScoreItsReplayGives) {
  const std::vector<game::Placement> line = game::solve(game::dealboard(1000)).placements;
  game::Game game;
  game.start(1000);
  for (std::size_t i = 0; i < line.size(); ++i) {
    game.tick();
    game.clickbone(line[i].bone, false);
    game.clickslot(line[i].slot);
    if (i == 4) {
      game.undo();
      game.clickbone(line[i].bone, false);
      game.clickslot(line[i].slot);
    }
  }
  ASSERT_EQ(game.ending(), game::Ending::won);
  const int score = game.score();
  const RecordClaim claim = checkrecordpost(body(game.record(), score));
  EXPECT_EQ(claim.status, 0) << claim.error;
  EXPECT_EQ(claim.record, game.record());
  // The score the same line makes without the undo's two clicks is not this game's.
  EXPECT_EQ(checkrecordpost(body(game.record(), score + 4)).status, 422);
  // Nor is an undo where there is nothing to take back, or one after the win.
  game::GameRecord first = game.record();
  first.placements.insert(first.placements.begin(), game::undoentry(0));
  EXPECT_EQ(checkrecordpost(body(first, score)).status, 422);
  game::GameRecord after = game.record();
  after.placements.push_back(game::undoentry(after.placements.back().second));
  EXPECT_EQ(checkrecordpost(body(after, score)).status, 422);
}

TEST(RecentPosts, MatchesOnePostOfTheSameAddressNameDateAndScoreOnce) {
  auto now = std::chrono::steady_clock::time_point{} + std::chrono::hours(1);
  RecentPosts recent([&now] { return now; });
  const ScoreEntry ann{"Ann", "12/9/26", 370};
  recent.note("127.0.0.1", ann, 11);
  recent.note("127.0.0.1", ScoreEntry{"Ann", "12/9/26", 371}, 12);
  EXPECT_FALSE(recent.claim("127.0.0.2", ann));
  EXPECT_FALSE(recent.claim("127.0.0.1", ScoreEntry{"Ann", "12/8/26", 370}));
  EXPECT_FALSE(recent.claim("127.0.0.1", ScoreEntry{"Anne", "12/9/26", 370}));
  EXPECT_EQ(recent.claim("127.0.0.1", ann), 11);
  EXPECT_FALSE(recent.claim("127.0.0.1", ann));  // one record per post
  recent.giveback("127.0.0.1", ann, 11);
  EXPECT_EQ(recent.claim("127.0.0.1", ann), 11);
}

TEST(RecentPosts, ForgetsPostsAfterAFewMinutesAndKeepsItsBound) {
  auto now = std::chrono::steady_clock::time_point{} + std::chrono::hours(1);
  RecentPosts recent([&now] { return now; }, 3);
  const ScoreEntry ann{"Ann", "1", 5};
  recent.note("a", ann, 1);
  now += RecentPosts::kWindow - std::chrono::seconds(1);
  recent.note("a", ann, 2);
  EXPECT_EQ(recent.claim("a", ann), 2);  // the latest first
  now += std::chrono::seconds(2);
  EXPECT_FALSE(recent.claim("a", ann));  // the first is too old by now
  for (int i = 0; i < 10; ++i) recent.note(std::to_string(i), ann, i);
  EXPECT_LE(recent.kept(), 3u);
  EXPECT_FALSE(recent.claim("0", ann));
  EXPECT_EQ(recent.claim("9", ann), 9);
}

using servertest::Kind;

class VerifiedStore : public servertest::EitherStore {
 protected:
  // Makes the table as servers before the verified mark made it, with one row in it.
  void makeoldtable() {
    const char* create =
        "CREATE TABLE scores (id INTEGER PRIMARY KEY, name TEXT NOT NULL, date TEXT NOT NULL,"
        " score INTEGER NOT NULL, received TEXT NOT NULL DEFAULT CURRENT_TIMESTAMP);"
        "INSERT INTO scores (name, date, score) VALUES ('Old', '1/1/26', 600);";
    if (GetParam() == Kind::Sqlite) {
      sqlite3* db = nullptr;
      ASSERT_EQ(sqlite3_open(address.c_str(), &db), SQLITE_OK);
      ASSERT_EQ(sqlite3_exec(db, create, nullptr, nullptr, nullptr), SQLITE_OK);
      sqlite3_close(db);
    } else {
      PGconn* conn = PQconnectdb(address.c_str());
      ASSERT_EQ(PQstatus(conn), CONNECTION_OK);
      PGresult* r = PQexec(conn,
                           "CREATE TABLE scores (id BIGSERIAL PRIMARY KEY, name TEXT NOT NULL,"
                           " date TEXT NOT NULL, score INTEGER NOT NULL,"
                           " received TIMESTAMPTZ NOT NULL DEFAULT now());"
                           "INSERT INTO scores (name, date, score) VALUES ('Old', '1/1/26', 600);");
      EXPECT_EQ(PQresultStatus(r), PGRES_COMMAND_OK) << PQerrorMessage(conn);
      PQclear(r);
      PQfinish(conn);
    }
  }
};

TEST_P(VerifiedStore, MarksEntriesAndListsThemByDealAndDay) {
  auto store = openstore(address);
  const auto ids =
      store->add({{"a", "1", 300}, {"b", "1", 500}, {"c", "1", 400}, {"d", "1", 200}}, true);
  ASSERT_EQ(ids.size(), 4u);
  EXPECT_LT(ids[0], ids[1]);
  store->markverified({{ids[0], 77, "2026-12-09"}, {ids[2], 77, "2026-12-09"}});
  store->markverified({{ids[3], 78, "2026-12-09"}});
  const auto best = store->best(10);
  ASSERT_EQ(best.size(), 4u);
  EXPECT_EQ(best[0], (ScoreEntry{"b", "1", 500, false}));
  EXPECT_EQ(best[1], (ScoreEntry{"c", "1", 400, true}));
  EXPECT_EQ(best[2], (ScoreEntry{"a", "1", 300, true}));
  const auto verified = store->bestverified(10);
  ASSERT_EQ(verified.size(), 3u);
  EXPECT_EQ(verified[0].name, "c");
  EXPECT_EQ(verified[2].name, "d");
  const auto day = store->bestofday(77, "2026-12-09", 10);
  ASSERT_EQ(day.size(), 2u);
  EXPECT_EQ(day[0].name, "c");
  EXPECT_EQ(day[1].name, "a");
  EXPECT_TRUE(store->bestofday(77, "2026-12-10", 10).empty());
  EXPECT_EQ(store->bestofday(78, "2026-12-09", 10).size(), 1u);
}

TEST_P(VerifiedStore, BringsAnOlderTableUpToDateAndKeepsItsRows) {
  makeoldtable();
  auto store = openstore(address);
  const auto before = store->best(10);
  ASSERT_EQ(before.size(), 1u);
  EXPECT_EQ(before[0], (ScoreEntry{"Old", "1/1/26", 600, false}));
  const std::int64_t id = store->add(ScoreEntry{"New", "2/2/26", 100});
  store->markverified({{id, 5, "2026-12-09"}});
  // A second server opening the upgraded table changes nothing.
  auto again = openstore(address);
  EXPECT_EQ(again->count(), 2u);
  ASSERT_EQ(again->bestverified(10).size(), 1u);
  EXPECT_EQ(again->bestverified(10)[0].name, "New");
}

INSTANTIATE_TEST_SUITE_P(Stores, VerifiedStore, ::testing::Values(Kind::Sqlite, Kind::Postgres),
                         servertest::kindname);

TEST(VerifiedBoard, AMarkReachesEveryPageAndTheDayHasItsDealAndBestLine) {
  ScratchDir dir;
  using namespace std::chrono;
  const sys_days day = 2026y / December / 9;
  const auto noon = sys_seconds(day) + hours(12);
  BoardSettings settings;
  settings.now = [noon] { return noon; };
  ScoreBoard board(openstore((dir.path() / "s.db").string()), settings);
  const int deal = game::dailydeal(day);
  EXPECT_EQ(board.today(), "2026-12-09");
  EXPECT_NE(board.dailypage()->find("Deal " + std::to_string(deal)), std::string::npos);

  auto postsync = [&board](ScoreEntry entry) {
    std::promise<std::int64_t> id;
    board.postnumbered(std::move(entry),
                       [&id](bool stored, std::int64_t row) { id.set_value(stored ? row : 0); });
    return id.get_future().get();
  };
  auto marksync = [&board](Verification mark) {
    std::promise<bool> done;
    board.markverified(std::move(mark), [&done](bool stored) { done.set_value(stored); });
    return done.get_future().get();
  };
  const std::int64_t plain = postsync({"Plain", "12/9/26", 500});
  const std::int64_t other = postsync({"Other", "12/9/26", 450});
  const std::int64_t daily = postsync({"Daily", "12/9/26", 400});
  ASSERT_GT(plain, 0);
  EXPECT_EQ(board.page()->find("&#10004;"), std::string::npos);
  ASSERT_TRUE(marksync({other, deal + 1, "2026-12-09"}));
  ASSERT_TRUE(marksync({daily, deal, "2026-12-09"}));

  const std::string page = *board.page();
  EXPECT_NE(page.find("<b>400</b>" + std::string(kVerifiedMark)), std::string::npos);
  EXPECT_NE(page.find("<b>500</b></td>"), std::string::npos);
  const std::string verified = *board.verifiedpage();
  EXPECT_NE(verified.find("Daily"), std::string::npos);
  EXPECT_NE(verified.find("Other"), std::string::npos);
  EXPECT_EQ(verified.find("Plain"), std::string::npos);
  std::string today = *board.dailypage();
  EXPECT_NE(today.find("Daily"), std::string::npos);
  EXPECT_EQ(today.find("Other"), std::string::npos);
  EXPECT_EQ(today.find("Plain"), std::string::npos);

  // The solver's answer comes from its own thread; wait for it, never for a fixed time.
  const int fewest = static_cast<int>(game::solve(game::dealboard(deal)).placements.size());
  const std::string line = "sorts it in " + std::to_string(fewest) + " placements";
  for (int i = 0; i < 3000 && today.find(line) == std::string::npos; ++i) {
    std::this_thread::sleep_for(milliseconds(10));
    today = *board.dailypage();
  }
  EXPECT_NE(today.find(line), std::string::npos) << today;
}

TEST(VerifiedPages, SayWhatTheyShow) {
  EXPECT_NE(renderverifiedpage({}).find("No verified scores yet."), std::string::npos);
  const std::string page =
      renderdailypage(12, "2026-12-09", DailyBest{true, 28}, {{"<Ann>", "12/9/26", 500, true}});
  EXPECT_NE(page.find("Deal 12, the deal of 2026-12-09 (UTC)"), std::string::npos);
  EXPECT_NE(page.find("28 placements, for a click bonus of 144"), std::string::npos);
  EXPECT_NE(page.find("&lt;Ann&gt;"), std::string::npos);
  EXPECT_NE(renderdailypage(12, "d", DailyBest{}, {}).find("still being worked out"),
            std::string::npos);
  EXPECT_NE(renderdailypage(12, "d", DailyBest{true, std::nullopt}, {}).find("No line sorts it"),
            std::string::npos);
}

}  // namespace
