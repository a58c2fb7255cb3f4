// The built pipshift-server, run as a process on 127.0.0.1 and spoken to over HTTP. The cases
// that touch the score store run twice: on a SQLite file and on a PostgreSQL database of their
// own (skipped when no PostgreSQL can be started here).
#include <httplib.h>
#include <poll.h>
#include <sqlite3.h>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "server/openstore.h"
#include "server/scoredb.h"
#include "server/serverapp.h"
#include "tests/server/pgcluster.h"
#include "tests/server/serverprocess.h"

namespace fs = std::filesystem;
using servertest::ServerProcess;

namespace {

enum class Store { Sqlite, Postgres };

class ServerFixture {
 protected:
  // Returns false (with a reason) when the store cannot be had here.
  bool prepare(Store store, std::string& why) {
    root = dir.path() / "root";
    fs::create_directories(root / "pipshift");
    std::ofstream(root / "pipshift" / "pipshiftversion.txt", std::ios::binary) << "1.0.0";
    std::ofstream(root / "pipshift" / "pshsetup.exe", std::ios::binary) << installer;
    std::ofstream(dir.path() / "secret.txt") << "top secret";
    if (store == Store::Postgres) {
      cluster = std::make_unique<servertest::PgCluster>();
      if (!cluster->ok()) {
        why = cluster->why();
        return false;
      }
      db = cluster->address();
    } else {
      db = (dir.path() / "scores.db").string();
    }
    return true;
  }

  std::vector<std::string> args(const std::vector<std::string>& extra = {}) const {
    std::vector<std::string> all{"--port", "0", "--db", db, "--root", root.string()};
    all.insert(all.end(), extra.begin(), extra.end());
    return all;
  }

  static httplib::Result get(const ServerProcess& p, const std::string& target) {
    httplib::Client client("127.0.0.1", p.port());
    client.set_read_timeout(std::chrono::seconds(20));
    return client.Get(target.c_str());
  }
  httplib::Result get(const std::string& target) { return get(server, target); }

  std::unique_ptr<pipshiftserver::ScoreStore> store() { return pipshiftserver::openstore(db); }
  std::size_t stored() { return store()->count(); }

  const std::string installer = std::string("MZ\0\0\x90\x01setup", 11);
  ScratchDir dir;
  std::unique_ptr<servertest::PgCluster> cluster;  // stopped after the servers, before dir goes
  fs::path root;
  std::string db;
  ServerProcess server;
};

class ServerTest : public ServerFixture, public ::testing::TestWithParam<Store> {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir.path().empty());
    std::string why;
    if (!prepare(GetParam(), why)) GTEST_SKIP() << "no PostgreSQL here: " << why;
    start();
  }

  void start(const std::vector<std::string>& extra = {}) {
    ASSERT_GT(server.start(args(extra)), 0) << server.firstline();
  }
};

// The cases where the store makes no difference run on SQLite only.
class SqliteServerTest : public ServerFixture, public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir.path().empty());
    std::string why;
    ASSERT_TRUE(prepare(Store::Sqlite, why));
    ASSERT_GT(server.start(args()), 0) << server.firstline();
  }
};

TEST_P(ServerTest, AnnouncesItsAddressAndAnswersAPost) {
  EXPECT_EQ(server.firstline(), "listening on 127.0.0.1:" + std::to_string(server.port()));
  const auto res = get("/cgi-bin/pipshift.cgi?name=Ann%20Lee&date=12/7/26&score=512");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_EQ(res->body, "Score received.\n");
  const auto best = store()->best(10);
  ASSERT_EQ(best.size(), 1u);
  EXPECT_EQ(best[0].name, "Ann Lee");
  EXPECT_EQ(best[0].date, "12/7/26");
  EXPECT_EQ(best[0].score, 512);

  httplib::Client client("127.0.0.1", server.port());
  const auto posted = client.Post("/cgi-bin/pipshift.cgi", "name=Bo&date=1.2.26&score=7",
                                  "application/x-www-form-urlencoded");
  ASSERT_TRUE(posted);
  EXPECT_EQ(posted->status, 200);
  EXPECT_EQ(stored(), 2u);
}

TEST_P(ServerTest, RefusesBadInputWithAPageAndStoresNothing) {
  // One of each kind; every rule is covered where the checks are unit-tested.
  for (const char* query : {
           "name=ElevenChars&date=1/1/26&score=5",
           "name=tab%09in&date=1/1/26&score=5",
           "name=a&date=1/1/26&score=801",
           "name=a&date=1/1/26",
           "name=a&date=12345678901234567&score=5",
           "name=x&score=800&date=1&score=3",
           "name=%zz&date=1&score=3",
       }) {
    const auto res = get(std::string("/cgi-bin/pipshift.cgi?") + query);
    ASSERT_TRUE(res) << query;
    EXPECT_EQ(res->status, 400) << query;
    EXPECT_NE(res->body.find("Score refused"), std::string::npos) << query;
  }
  EXPECT_EQ(stored(), 0u);
  const auto page = get("/counter/pipshift.shtml");
  ASSERT_TRUE(page);
  EXPECT_NE(page->body.find("No scores yet"), std::string::npos);
}

TEST_P(ServerTest, TheListPageEscapesWhatPlayersSent) {
  ASSERT_EQ(get("/cgi-bin/pipshift.cgi?name=%3Cscript%3E&date=%3Cb%3E%261&score=9")->status, 200);
  ASSERT_EQ(get("/cgi-bin/pipshift.cgi?name=x%26score%3D80&date=1/1/26&score=3")->status, 200);
  const auto page = get("/counter/pipshift.shtml");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_NE(page->get_header_value("Content-Type").find("text/html"), std::string::npos);
  EXPECT_NE(page->body.find("&lt;script&gt;"), std::string::npos);
  EXPECT_NE(page->body.find("&lt;b&gt;&amp;1"), std::string::npos);
  EXPECT_EQ(page->body.find("<script>"), std::string::npos);
  // The name that tried to forge a score kept its own score of 3.
  EXPECT_NE(page->body.find("x&amp;score=80</font></td><td>1/1/26</td><td align=\"right\"><b>3<"),
            std::string::npos);
}

TEST_P(ServerTest, ScoresSurviveARestartAndAKill) {
  ASSERT_EQ(get("/cgi-bin/pipshift.cgi?name=Before&date=1&score=100")->status, 200);
  const int status = server.stop(SIGTERM);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  start();
  ASSERT_EQ(get("/cgi-bin/pipshift.cgi?name=Killed&date=1&score=200")->status, 200);
  server.stop(SIGKILL);
  start();
  const auto page = get("/counter/pipshift.shtml");
  ASSERT_TRUE(page);
  EXPECT_NE(page->body.find("Before"), std::string::npos);
  EXPECT_NE(page->body.find("Killed"), std::string::npos);
  EXPECT_LT(page->body.find("Killed"), page->body.find("Before"));
}

TEST_P(ServerTest, FiftyConcurrentPostsAreAllStored) {
  server.stop(SIGKILL);
  start({"--post-limit", "0"});  // fifty from one address would pass the minute's share
  std::vector<std::thread> posters;
  std::vector<int> statuses(50, 0);
  for (int i = 0; i < 50; ++i) {
    posters.emplace_back([this, i, &statuses] {
      httplib::Client client("127.0.0.1", server.port());
      client.set_read_timeout(std::chrono::seconds(30));
      const auto res = client.Get(("/cgi-bin/pipshift.cgi?name=p" + std::to_string(i) +
                                   "&date=1/1/26&score=" + std::to_string(i * 16))
                                      .c_str());
      statuses[i] = res ? res->status : -1;
    });
  }
  for (std::thread& t : posters) t.join();
  for (int i = 0; i < 50; ++i) EXPECT_EQ(statuses[i], 200) << "post " << i;

  const auto best = store()->best(100);
  ASSERT_EQ(best.size(), 50u);
  std::set<std::string> names;
  for (const auto& e : best) names.insert(e.name);
  EXPECT_EQ(names.size(), 50u);
  EXPECT_EQ(best.front().score, 49 * 16);
  EXPECT_EQ(best.back().score, 0);
}

TEST_P(ServerTest, EveryAnsweredPostSurvivesAKillStraightAfterTheLoad) {
  server.stop(SIGKILL);
  start({"--post-limit", "0"});
  constexpr int kClients = 16;
  constexpr int kEach = 25;
  std::mutex mutex;
  std::vector<std::string> answered;
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&, c] {
      httplib::Client client("127.0.0.1", server.port());  // one kept-alive connection each
      client.set_keep_alive(true);
      client.set_read_timeout(std::chrono::seconds(30));
      for (int i = 0; i < kEach; ++i) {
        std::string name = "k";
        name += std::to_string(c) + "x" + std::to_string(i);
        std::string target = "/cgi-bin/pipshift.cgi?name=";
        target += name + "&date=1&score=" + std::to_string(i);
        const auto res = client.Get(target.c_str());
        if (res && res->status == 200) {
          std::lock_guard lock(mutex);
          answered.push_back(name);
        }
      }
    });
  }
  for (std::thread& t : clients) t.join();
  server.stop(SIGKILL);
  EXPECT_EQ(answered.size(), static_cast<std::size_t>(kClients * kEach));
  const auto all = store()->best(100000);
  std::set<std::string> names;
  for (const auto& e : all) names.insert(e.name);
  for (const std::string& name : answered) EXPECT_TRUE(names.count(name)) << name << " was lost";
}

TEST_P(ServerTest, TwoServersOnOneDatabaseServeOneList) {
  ServerProcess other;
  ASSERT_GT(other.start(args()), 0) << other.firstline();
  // Both pages are in memory; each must notice what the other stored.
  ASSERT_EQ(get(other, "/counter/pipshift.shtml")->status, 200);
  ASSERT_EQ(get("/cgi-bin/pipshift.cgi?name=ViaFirst&date=1&score=300")->status, 200);
  ASSERT_EQ(get(other, "/cgi-bin/pipshift.cgi?name=ViaOther&date=1&score=400")->status, 200);
  auto showsBoth = [](const std::string& page) {
    const std::size_t first = page.find("ViaFirst");
    const std::size_t second = page.find("ViaOther");
    return first != std::string::npos && second != std::string::npos && second < first;
  };
  // A few watch rounds at most; the bound is far above it so a loaded machine does not fail.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  bool bothSeeBoth = false;
  while (!bothSeeBoth && std::chrono::steady_clock::now() < deadline) {
    bothSeeBoth = showsBoth(get("/counter/pipshift.shtml")->body) &&
                  showsBoth(get(other, "/counter/pipshift.shtml")->body);
    if (!bothSeeBoth) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(bothSeeBoth);
}

INSTANTIATE_TEST_SUITE_P(Stores, ServerTest, ::testing::Values(Store::Sqlite, Store::Postgres),
                         [](const ::testing::TestParamInfo<Store>& info) {
                           return info.param == Store::Sqlite ? "SQLite" : "PostgreSQL";
                         });

TEST_F(SqliteServerTest, ServesTheUpdateFilesByteForByte) {
  const auto version = get("/pipshift/pipshiftversion.txt");
  ASSERT_TRUE(version);
  EXPECT_EQ(version->status, 200);
  EXPECT_EQ(version->body, "1.0.0");
  const auto setup = get("/pipshift/pshsetup.exe");
  ASSERT_TRUE(setup);
  EXPECT_EQ(setup->status, 200);
  EXPECT_EQ(setup->body, installer);
  const auto missing = get("/pipshift/nothing.txt");
  ASSERT_TRUE(missing);
  EXPECT_EQ(missing->status, 404);
  EXPECT_FALSE(missing->body.empty());
}

TEST_F(SqliteServerTest, NoPathLeadsOutOfTheRoot) {
  fs::create_symlink(dir.path() / "secret.txt", root / "pipshift" / "link.txt");
  for (const char* path :
       {"/../secret.txt", "/pipshift/../../secret.txt", "/%2e%2e/secret.txt",
        "/pipshift/..%2f..%2fsecret.txt", "/pipshift/%2E%2E/%2E%2E/secret.txt", "/..%5csecret.txt",
        "/pipshift/link.txt", "/pipshift/pipshiftversion.txt%00.exe"}) {
    const std::string reply = servertest::rawexchange(
        server.port(), std::string("GET ") + path + " HTTP/1.0\r\nHost: x\r\n\r\n");
    EXPECT_EQ(reply.rfind("HTTP/1.1 40", 0), 0u) << path << "\n" << reply;
    EXPECT_EQ(reply.find("top secret"), std::string::npos) << path;
  }
}

// What a publisher keeps beside the files (a repository, passwords, an editor's swap file) is not
// published, however it is asked for.
TEST_F(SqliteServerTest, DotFilesAndDotFoldersAreNotServed) {
  std::ofstream(root / ".hidden") << "top secret";
  fs::create_directories(root / ".git");
  std::ofstream(root / ".git" / "config") << "top secret";
  for (const char* path :
       {"/.hidden", "/.git/config", "/%2ehidden", "/pipshift/../.hidden", "/./.git/config"}) {
    const std::string reply = servertest::rawexchange(
        server.port(), std::string("GET ") + path + " HTTP/1.0\r\nHost: x\r\n\r\n");
    EXPECT_EQ(reply.rfind("HTTP/1.1 404", 0), 0u) << path << "\n" << reply;
    EXPECT_EQ(reply.find("top secret"), std::string::npos) << path;
  }
  const std::string version = servertest::rawexchange(
      server.port(), "GET /pipshift/pipshiftversion.txt HTTP/1.0\r\nHost: x\r\n\r\n");
  EXPECT_EQ(version.rfind("HTTP/1.1 200", 0), 0u) << version;
}

// A name that reads as another (a right-to-left override, a zero-width space) is refused.
TEST_F(SqliteServerTest, NamesWithFormatCharactersAreRefusedAndNotStored) {
  for (const char* name : {"%E2%80%AEnnA", "A%E2%80%8Bnn", "%EF%BB%BFAnn"}) {
    const std::string reply = servertest::rawexchange(
        server.port(), std::string("GET /cgi-bin/pipshift.cgi?name=") + name +
                           "&date=1/2/26&score=5 HTTP/1.0\r\nHost: x\r\n\r\n");
    EXPECT_EQ(reply.rfind("HTTP/1.1 400", 0), 0u) << name << "\n" << reply;
  }
  EXPECT_EQ(stored(), 0u);
}

TEST_F(SqliteServerTest, HeadAndRangesOfAFileKeepTheLengthExact) {
  const std::string head = servertest::rawexchange(
      server.port(), "HEAD /pipshift/pshsetup.exe HTTP/1.0\r\nHost: x\r\n\r\n");
  EXPECT_EQ(head.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << head;
  EXPECT_NE(head.find("Content-Length: 11\r\n"), std::string::npos) << head;
  EXPECT_EQ(head.substr(head.find("\r\n\r\n") + 4), "");

  httplib::Client client("127.0.0.1", server.port());
  const auto middle = client.Get("/pipshift/pshsetup.exe", {{"Range", "bytes=2-5"}});
  ASSERT_TRUE(middle);
  EXPECT_EQ(middle->status, 206);
  EXPECT_EQ(middle->body, installer.substr(2, 4));
  EXPECT_EQ(middle->get_header_value("Content-Range"), "bytes 2-5/11");
  const auto tail = client.Get("/pipshift/pshsetup.exe", {{"Range", "bytes=-3"}});
  ASSERT_TRUE(tail);
  EXPECT_EQ(tail->status, 206);
  EXPECT_EQ(tail->body, "tup");
  const auto past = client.Get("/pipshift/pshsetup.exe", {{"Range", "bytes=11-"}});
  ASSERT_TRUE(past);
  EXPECT_EQ(past->status, 416);
  EXPECT_EQ(past->get_header_value("Content-Range"), "bytes */11");

  // HEAD must not store a score: only GET and POST post.
  const std::string headPost = servertest::rawexchange(
      server.port(), "HEAD /cgi-bin/pipshift.cgi?name=h&date=1&score=5 HTTP/1.0\r\n\r\n");
  EXPECT_EQ(headPost.rfind("HTTP/1.1 405", 0), 0u) << headPost;
  EXPECT_EQ(stored(), 0u);
}

TEST_F(SqliteServerTest, OnePostAddressGetsThirtyAMinuteAndNoMore) {
  for (int i = 0; i < 30; ++i) {
    ASSERT_EQ(get("/cgi-bin/pipshift.cgi?name=n" + std::to_string(i) + "&date=1&score=1")->status,
              200)
        << i;
  }
  const auto refused = get("/cgi-bin/pipshift.cgi?name=over&date=1&score=1");
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->status, 429);
  EXPECT_GT(refused->get_header_value<uint64_t>("Retry-After"), 0u);
  EXPECT_LE(refused->get_header_value<uint64_t>("Retry-After"), 60u);
  EXPECT_EQ(stored(), 30u);
  EXPECT_EQ(store()->best(100).front().name, "n0");  // "over" is nowhere
  EXPECT_EQ(get("/counter/pipshift.shtml")->body.find(">over<"), std::string::npos);

  // The limit is the server's to set; 0 lifts it.
  ServerProcess open;
  ASSERT_GT(open.start(args({"--post-limit", "0"})), 0);
  for (int i = 0; i < 40; ++i) {
    ASSERT_EQ(get(open, "/cgi-bin/pipshift.cgi?name=o&date=1&score=1")->status, 200) << i;
  }
}

TEST_F(SqliteServerTest, OversizedRequestsAreRefusedAndTheServerCarriesOn) {
  const std::string longQuery = servertest::rawexchange(
      server.port(),
      "GET /cgi-bin/pipshift.cgi?name=" + std::string(1 << 20, 'a') + " HTTP/1.1\r\n\r\n");
  EXPECT_EQ(longQuery.rfind("HTTP/1.1 414", 0), 0u) << longQuery.substr(0, 200);
  const std::string bigBody = servertest::rawexchange(
      server.port(),
      "POST /cgi-bin/pipshift.cgi HTTP/1.1\r\nContent-Type: "
      "application/x-www-form-urlencoded\r\nContent-Length: 1048576\r\n\r\n" +
          std::string(1 << 20, 'b'));
  EXPECT_EQ(bigBody.rfind("HTTP/1.1 413", 0), 0u) << bigBody.substr(0, 200);
  std::string manyHeaders = "GET /counter/pipshift.shtml HTTP/1.1\r\n";
  for (int i = 0; i < 2000; ++i) manyHeaders += "X-Filler-" + std::to_string(i) + ": yes\r\n";
  const std::string headers = servertest::rawexchange(server.port(), manyHeaders + "\r\n");
  EXPECT_EQ(headers.rfind("HTTP/1.1 431", 0), 0u) << headers.substr(0, 200);
  EXPECT_EQ(stored(), 0u);
  EXPECT_EQ(get("/pipshift/pipshiftversion.txt")->body, "1.0.0");
}

TEST_F(SqliteServerTest, AConnectionThatSendsNothingIsClosedWithinTenSeconds) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(server.port()));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  const auto begun = std::chrono::steady_clock::now();
  pollfd p{fd, POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 10000), 1) << "still open after 10 s";
  char c;
  EXPECT_EQ(recv(fd, &c, 1, 0), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(10));
  close(fd);
}

TEST_F(SqliteServerTest, OneConnectionCarriesManyRequests) {
  // Pipelined on one HTTP/1.1 connection, then an HTTP/1.0 client that asks to keep it.
  const std::string three =
      servertest::rawexchange(server.port(),
                              "GET /pipshift/pipshiftversion.txt HTTP/1.1\r\nHost: x\r\n\r\n"
                              "GET /counter/pipshift.shtml HTTP/1.1\r\nHost: x\r\n\r\n"
                              "GET /pipshift/pipshiftversion.txt HTTP/1.1\r\nHost: x\r\n"
                              "Connection: close\r\n\r\n");
  std::size_t answers = 0;
  for (std::size_t at = three.find("HTTP/1.1 200 OK"); at != std::string::npos;
       at = three.find("HTTP/1.1 200 OK", at + 1)) {
    ++answers;
  }
  EXPECT_EQ(answers, 3u) << three.substr(0, 300);
  EXPECT_LT(three.find("1.0.0"), three.find("High Scores"));
  const std::string kept = servertest::rawexchange(
      server.port(),
      "GET /pipshift/pipshiftversion.txt HTTP/1.0\r\nConnection: keep-alive\r\n\r\n"
      "GET /pipshift/pipshiftversion.txt HTTP/1.0\r\n\r\n");
  EXPECT_NE(kept.find("Connection: keep-alive\r\n"), std::string::npos) << kept;
  EXPECT_NE(kept.find("Connection: close\r\n"), std::string::npos) << kept;
  ASSERT_GE(kept.size(), 9u);
  EXPECT_EQ(kept.substr(kept.size() - 9), "\r\n\r\n1.0.0");
  EXPECT_NE(kept.find("HTTP/1.1 200 OK", 10), std::string::npos);
}

TEST_F(SqliteServerTest, ALargeFileIsStreamedNotHeldInMemory) {
  // 200 MiB, sparse except for marks at both ends and in the middle.
  constexpr std::uint64_t kSize = 200ull << 20;
  const fs::path big = root / "pipshift" / "big.exe";
  {
    std::ofstream out(big, std::ios::binary);
    out << "HEAD";
    out.seekp(static_cast<std::streamoff>(kSize / 2));
    out << "MIDDLE";
    out.seekp(static_cast<std::streamoff>(kSize - 4));
    out << "TAIL";
  }
  ASSERT_EQ(fs::file_size(big), kSize);
  auto peakKiB = [this] {
    std::ifstream status("/proc/" + std::to_string(server.pid()) + "/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("VmHWM:", 0) == 0) return std::stoull(line.substr(6));
    }
    return 0ull;
  };
  ASSERT_EQ(get("/pipshift/pipshiftversion.txt")->status, 200);
  const auto before = peakKiB();
  ASSERT_GT(before, 0u);

  std::vector<std::thread> downloads;
  std::atomic<int> whole{0};
  for (int i = 0; i < 3; ++i) {
    downloads.emplace_back([&] {
      httplib::Client client("127.0.0.1", server.port());
      client.set_read_timeout(std::chrono::seconds(60));
      std::uint64_t received = 0;
      std::string start, middle, end;
      const auto res = client.Get("/pipshift/big.exe", [&](const char* data, std::size_t n) {
        for (std::size_t k = 0; k < n; ++k) {
          const std::uint64_t at = received + k;
          if (at < 4) start += data[k];
          if (at >= kSize / 2 && at < kSize / 2 + 6) middle += data[k];
          if (at >= kSize - 4) end += data[k];
        }
        received += n;
        return true;
      });
      if (res && res->status == 200 && received == kSize && start == "HEAD" && middle == "MIDDLE" &&
          end == "TAIL" && res->get_header_value<uint64_t>("Content-Length") == kSize) {
        ++whole;
      }
    });
  }
  for (std::thread& t : downloads) t.join();
  EXPECT_EQ(whole.load(), 3);
  // Three copies held in memory would be 600 MiB; a streamed file costs next to nothing.
  EXPECT_LT(peakKiB() - before, 32u * 1024) << "peak grew from " << before << " KiB";
}

TEST_F(SqliteServerTest, AStopRequestStillAnswersThePostsBeingCommitted) {
  // Another process holds the database, so the post waits in its commit.
  sqlite3* holder = nullptr;
  ASSERT_EQ(sqlite3_open(db.c_str(), &holder), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  const int idle = servertest::connectto(server.port());
  const int poster = servertest::connectto(server.port());
  const std::string post = "GET /cgi-bin/pipshift.cgi?name=Held&date=1&score=77 HTTP/1.1\r\n\r\n";
  ASSERT_EQ(send(poster, post.data(), post.size(), MSG_NOSIGNAL),
            static_cast<ssize_t>(post.size()));
  for (int i = 0; i < 2000 && servertest::unread(server.port(), poster) != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_EQ(servertest::unread(server.port(), poster), 0);

  kill(server.pid(), SIGTERM);
  // The idle connection is closed when the server begins to stop; only then is the database let go.
  EXPECT_EQ(servertest::readAll(idle, 10000), "<closed>");
  sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(holder);
  const std::string answer = servertest::readAll(poster, 20000);
  EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << answer;
  EXPECT_NE(answer.find("\r\n\r\nScore received.\n<closed>"), std::string::npos) << answer;
  close(idle);
  close(poster);
  const int status = server.wait();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(stored(), 1u);
}

class FewDescriptorsTest : public ServerFixture, public ::testing::Test {};

TEST_F(FewDescriptorsTest, ACrowdLeavesDescriptorsForTheFilesAndPostsItTakes) {
  // A process allowed few descriptors (1024 is a common default): a crowd of idle connections
  // must not leave the server without one for a file or the database.
  const char* prlimit = "/usr/bin/prlimit";
  if (access(prlimit, X_OK) != 0) GTEST_SKIP() << "no " << prlimit << " here";
  std::string why;
  ASSERT_TRUE(prepare(Store::Sqlite, why));
  ASSERT_GT(server.start(args(), {prlimit, "--nofile=64:64"}), 0) << server.firstline();
  const int mine = servertest::connectto(server.port());
  ASSERT_GE(mine, 0);
  const std::string get = "GET /pipshift/pipshiftversion.txt HTTP/1.1\r\n\r\n";
  auto ask = [mine](const std::string& request) {
    send(mine, request.data(), request.size(), MSG_NOSIGNAL);
    std::string got;
    char buffer[4096];
    while (got.find("\r\n\r\n") == std::string::npos ||
           got.size() < got.find("\r\n\r\n") + 4 +
                            std::stoul(got.substr(got.find("Content-Length: ") + 16))) {
      pollfd p{mine, POLLIN, 0};
      if (poll(&p, 1, 20000) <= 0) break;
      const ssize_t n = recv(mine, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
  };
  ASSERT_EQ(ask(get).rfind("HTTP/1.1 200 OK\r\n", 0), 0u);

  std::vector<int> crowd;
  for (int i = 0; i < 100; ++i) crowd.push_back(servertest::connectto(server.port()));
  // Until the server has taken each of them in (or turned it away), or has given up for lack of
  // descriptors; not so long that idle ones have timed out and made room.
  for (int i = 0; i < 2000 && servertest::unread(server.port()) != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const std::string file = ask(get);
  EXPECT_EQ(file.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << file;
  EXPECT_EQ(file.substr(file.size() - 5), "1.0.0");
  const std::string post =
      ask("GET /cgi-bin/pipshift.cgi?name=Few&date=1&score=9 HTTP/1.1\r\n\r\n");
  EXPECT_EQ(post.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << post;
  for (const int fd : crowd) close(fd);
  close(mine);
}

TEST(ServerCommandLine, RefusesIncompleteOrWrongArguments) {
  ScratchDir dir;
  const std::string db = (dir.path() / "s.db").string();
  const std::string rootDir = dir.path().string();
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--port", "0", "--root", rootDir},
           {"--port", "0", "--db", db},
           {"--port", "http", "--db", db, "--root", rootDir},
           {"--port", "70000", "--db", db, "--root", rootDir},
           {"--port", "0", "--db", db, "--root", rootDir + "/none"},
           {"--port", "0", "--db", db, "--root", rootDir, "--verbose"},
           {"--port", "0", "--db", db, "--root"},
           {"--port", "0", "--db", db, "--root", rootDir, "--post-limit", "-1"},
           {"--port", "0", "--db", db, "--root", rootDir, "--post-limit", "many"},
           {"--port", "0", "--db", db, "--root", rootDir, "--conn-limit", "-5"},
           {"--port", "0", "--db", db, "--root", rootDir, "--conn-limit", "lots"},
       }) {
    ServerProcess p;
    EXPECT_EQ(p.start(args), 0);
    const int status = p.wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << args.back();
  }
  ServerProcess unusable;
  EXPECT_EQ(unusable.start({"--port", "0", "--db", rootDir, "--root", rootDir}), 0);
  int status = unusable.wait();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
  // A database server that is not there is the same kind of failure.
  ServerProcess unreachable;
  EXPECT_EQ(unreachable.start(
                {"--port", "0", "--db", "postgresql://nobody@127.0.0.1:1/none", "--root", rootDir}),
            0);
  status = unreachable.wait();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
}

TEST(ServerCommandLine, TakesAConnectionCapPerAddress) {
  ScratchDir dir;
  const std::vector<std::string> base{"--db", (dir.path() / "s.db").string(), "--root",
                                      dir.path().string()};
  const auto capped = [&](std::vector<std::string> extra) {
    extra.insert(extra.begin(), base.begin(), base.end());
    const pipshiftserver::ParsedOptions parsed = pipshiftserver::parseoptions(extra);
    EXPECT_TRUE(parsed.options) << parsed.error;
    return parsed.options ? parsed.options->connlimit : std::size_t{12345};
  };
  EXPECT_EQ(capped({}), 64u);
  EXPECT_EQ(capped({"--conn-limit", "8"}), 8u);
  EXPECT_EQ(capped({"--conn-limit", "0"}), 0u);
}

}  // namespace
