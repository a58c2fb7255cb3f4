// Verified scores through the built server process: a score post and the game record that
// follows it, forged records that must never reach the verified page, and the deal of the day.
#include <httplib.h>

#include <gtest/gtest.h>

#include <thread>

#include "server/openstore.h"
#include "server/scoredb.h"
#include "tests/server/pgcluster.h"
#include "tests/server/recordpost.h"
#include "tests/server/serverprocess.h"

namespace fs = std::filesystem;
using servertest::playgame;
using servertest::recordbody;

namespace {

enum class Store { Sqlite, Postgres };

class VerifiedServer : public ::testing::TestWithParam<Store> {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir.path().empty());
    fs::create_directories(dir.path() / "root");
    if (GetParam() == Store::Postgres) {
      cluster = std::make_unique<servertest::PgCluster>();
      if (!cluster->ok()) GTEST_SKIP() << "no PostgreSQL here: " << cluster->why();
      db = cluster->address();
    } else {
      db = (dir.path() / "scores.db").string();
    }
    ASSERT_GT(server.start({"--port", "0", "--db", db, "--root", (dir.path() / "root").string(),
                            "--post-limit", "0"}),
              0)
        << server.firstline();
  }

  httplib::Result get(const std::string& target) {
    httplib::Client client("127.0.0.1", server.port());
    client.set_read_timeout(std::chrono::seconds(20));
    return client.Get(target.c_str());
  }
  int post(const std::string& name, const std::string& date, int score) {
    const auto res = get("/cgi-bin/pipshift.cgi?name=" + name + "&date=" + date +
                         "&score=" + std::to_string(score));
    return res ? res->status : -1;
  }
  // The record goes as the program sends it: a form-encoded POST.
  httplib::Result sendrecord(const std::string& body) {
    httplib::Client client("127.0.0.1", server.port());
    client.set_read_timeout(std::chrono::seconds(20));
    return client.Post("/cgi-bin/pipshiftgame.cgi", body, "application/x-www-form-urlencoded");
  }
  std::string page(const char* which) {
    const auto res = get(std::string("/counter/") + which);
    return res && res->status == 200 ? res->body : std::string("no page");
  }

  ScratchDir dir;
  std::unique_ptr<servertest::PgCluster> cluster;
  std::string db;
  servertest::ServerProcess server;
};

TEST_P(VerifiedServer, ARealGameAfterItsPostIsMarkedAndListed) {
  const auto played = playgame(77);
  ASSERT_EQ(post("Real", "12/9/26", played.score), 200);
  ASSERT_EQ(post("Typed", "12/9/26", 800), 200);
  const auto answer = sendrecord(recordbody("Real", "12/9/26", played.score, played.record));
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 200) << answer->body;
  EXPECT_EQ(answer->body, "Record verified.\n");

  const std::string verified = page("pipshiftverified.shtml");
  EXPECT_NE(verified.find("Real"), std::string::npos) << verified;
  EXPECT_EQ(verified.find("Typed"), std::string::npos);
  // The main list keeps both, and marks only the played one.
  const std::string list = page("pipshift.shtml");
  EXPECT_NE(list.find("<b>" + std::to_string(played.score) + "</b> <font color=\"#008000\">"),
            std::string::npos)
      << list;
  EXPECT_NE(list.find("<b>800</b></td>"), std::string::npos);

  // One record per post: the same record again finds no post left to mark.
  const auto again = sendrecord(recordbody("Real", "12/9/26", played.score, played.record));
  ASSERT_TRUE(again);
  EXPECT_EQ(again->status, 409);
  EXPECT_EQ(pipshiftserver::openstore(db)->bestverified(10).size(), 1u);
}

TEST_P(VerifiedServer, ForgedRecordsNeverReachTheVerifiedPage) {
  const auto played = playgame(1234);
  const int score = played.score;
  game::GameRecord changed = played.record;
  changed.placements[5].bone = changed.placements[5].bone % game::kBoneCount + 1;
  game::GameRecord longer = played.record;
  longer.placements.push_back(played.record.placements.front());
  game::GameRecord otherdeal = played.record;
  otherdeal.deal = 1235;
  game::GameRecord backwards = played.record;
  std::swap(backwards.placements[2].second, backwards.placements[3].second);
  const struct {
    const char* name;
    std::string body;
    int status;
  } forged[] = {
      {"NoRecord", "name=NoRecord&date=1/1/26&score=" + std::to_string(score), 400},
      {"Changed", recordbody("Changed", "1/1/26", score, changed), 422},
      {"Longer", recordbody("Longer", "1/1/26", score, longer), 422},
      {"OtherDeal", recordbody("OtherDeal", "1/1/26", score, otherdeal), 422},
      {"Backwards", recordbody("Backwards", "1/1/26", score, backwards), 422},
      {"Higher", recordbody("Higher", "1/1/26", score + 1, played.record), 422},
      // A real record, but no post of it came first.
      {"Unposted", recordbody("Unposted", "1/1/26", score, played.record), 409},
  };
  for (const auto& f : forged) {
    const int posted = std::string(f.name) == "Higher" ? score + 1 : score;
    if (std::string(f.name) != "Unposted") {
      ASSERT_EQ(post(f.name, "1/1/26", posted), 200);
    }
    const auto res = sendrecord(f.body);
    ASSERT_TRUE(res) << f.name;
    EXPECT_EQ(res->status, f.status) << f.name << ": " << res->body;
    EXPECT_NE(res->body.find("Record refused"), std::string::npos) << f.name;
  }
  // A record is posted, never fetched.
  const auto fetched =
      get("/cgi-bin/pipshiftgame.cgi?" + recordbody("Real", "1/1/26", score, played.record));
  ASSERT_TRUE(fetched);
  EXPECT_EQ(fetched->status, 405);

  const std::string verified = page("pipshiftverified.shtml");
  EXPECT_NE(verified.find("No verified scores yet."), std::string::npos) << verified;
  EXPECT_TRUE(pipshiftserver::openstore(db)->bestverified(100).empty());
}

TEST_P(VerifiedServer, TheDealOfTheDayListsTodaysVerifiedGamesAndItsBestLine) {
  const int deal = game::dailydeal(std::chrono::system_clock::now());
  const auto today = playgame(deal, 1);
  const auto other = playgame(deal + 1, 1);
  ASSERT_EQ(post("Daily", "12/9/26", today.score), 200);
  ASSERT_EQ(post("Elsewhere", "12/9/26", other.score), 200);
  ASSERT_EQ(sendrecord(recordbody("Daily", "12/9/26", today.score, today.record))->status, 200);
  ASSERT_EQ(sendrecord(recordbody("Elsewhere", "12/9/26", other.score, other.record))->status, 200);
  std::string daily = page("pipshiftdaily.shtml");
  EXPECT_NE(daily.find("Deal " + std::to_string(deal)), std::string::npos) << daily;
  EXPECT_NE(daily.find("Daily"), std::string::npos);
  EXPECT_EQ(daily.find("Elsewhere"), std::string::npos);
  const std::string line =
      "sorts it in " + std::to_string(today.record.placements.size()) + " placements";
  // Worked out once on the server's own thread; wait for it, not for a fixed time.
  for (int i = 0; i < 3000 && daily.find(line) == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    daily = page("pipshiftdaily.shtml");
  }
  EXPECT_NE(daily.find(line), std::string::npos) << daily;
}

TEST_P(VerifiedServer, AMarkMadeThroughOneServerShowsOnAnothersPages) {
  servertest::ServerProcess other;
  const int port =
      other.start({"--port", "0", "--db", db, "--root", (dir.path() / "root").string()});
  ASSERT_GT(port, 0) << other.firstline();
  const auto played = playgame(5);
  ASSERT_EQ(post("Shared", "1/1/26", played.score), 200);
  ASSERT_EQ(sendrecord(recordbody("Shared", "1/1/26", played.score, played.record))->status, 200);
  httplib::Client client("127.0.0.1", port);
  std::string seen;
  // The other server hears of the change from the store; wait for it, not for a fixed time.
  for (int i = 0; i < 1000 && seen.find("Shared") == std::string::npos; ++i) {
    const auto res = client.Get("/counter/pipshiftverified.shtml");
    seen = res ? res->body : std::string();
    if (seen.find("Shared") == std::string::npos) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  EXPECT_NE(seen.find("Shared"), std::string::npos) << seen;
  const auto list = client.Get("/counter/pipshift.shtml");
  ASSERT_TRUE(list);
  EXPECT_NE(list->body.find(std::string(pipshiftserver::kVerifiedMark)), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Stores, VerifiedServer, ::testing::Values(Store::Sqlite, Store::Postgres),
                         [](const ::testing::TestParamInfo<Store>& info) {
                           return info.param == Store::Sqlite ? "SQLite" : "PostgreSQL";
                         });

}  // namespace
