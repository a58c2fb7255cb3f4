// The built pipshift-server, run as a process on 127.0.0.1 and spoken to over HTTP.
#include <httplib.h>

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <thread>

#include "server/scoredb.h"
#include "tests/server/serverprocess.h"

namespace fs = std::filesystem;
using servertest::ServerProcess;

namespace {

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir.path().empty());
    root = dir.path() / "root";
    db = dir.path() / "scores.db";
    fs::create_directories(root / "pipshift");
    std::ofstream(root / "pipshift" / "pipshiftversion.txt", std::ios::binary) << "1.0.0";
    std::ofstream(root / "pipshift" / "pshsetup.exe", std::ios::binary) << installer;
    std::ofstream(dir.path() / "secret.txt") << "top secret";
    start();
  }

  void start() {
    ASSERT_GT(server.start({"--port", "0", "--db", db.string(), "--root", root.string()}), 0)
        << server.firstLine();
  }

  httplib::Result get(const std::string& target) {
    httplib::Client client("127.0.0.1", server.port());
    client.set_read_timeout(std::chrono::seconds(20));
    return client.Get(target.c_str());
  }

  std::size_t stored() { return pipshiftserver::ScoreDb(db.string()).count(); }

  const std::string installer = std::string("MZ\0\0\x90\x01setup", 11);
  ScratchDir dir;
  fs::path root;
  fs::path db;
  ServerProcess server;
};

TEST_F(ServerTest, AnnouncesItsAddressAndAnswersAPost) {
  EXPECT_EQ(server.firstLine(), "listening on 127.0.0.1:" + std::to_string(server.port()));
  const auto res = get("/cgi-bin/pipshift.cgi?name=Ann%20Lee&date=12/7/26&score=512");
  ASSERT_TRUE(res);
  EXPECT_EQ(res->status, 200);
  EXPECT_FALSE(res->body.empty());
  const auto best = pipshiftserver::ScoreDb(db.string()).best(10);
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

TEST_F(ServerTest, RefusesBadInputWithAPageAndStoresNothing) {
  // One of each kind; every rule is covered where the checks are unit-tested.
  for (const char* query : {
           "name=ElevenChars&date=1/1/26&score=5",
           "name=tab%09in&date=1/1/26&score=5",
           "name=a&date=1/1/26&score=801",
           "name=a&date=1/1/26",
           "name=a&date=12345678901234567&score=5",
           "name=x&score=800&date=1&score=3",
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

TEST_F(ServerTest, TheListPageEscapesWhatPlayersSent) {
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

TEST_F(ServerTest, ScoresSurviveARestartAndAKill) {
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

TEST_F(ServerTest, FiftyConcurrentPostsAreAllStored) {
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

  const auto best = pipshiftserver::ScoreDb(db.string()).best(100);
  ASSERT_EQ(best.size(), 50u);
  std::set<std::string> names;
  for (const auto& e : best) names.insert(e.name);
  EXPECT_EQ(names.size(), 50u);
  EXPECT_EQ(best.front().score, 49 * 16);
  EXPECT_EQ(best.back().score, 0);
}

TEST_F(ServerTest, ServesTheUpdateFilesByteForByte) {
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

TEST_F(ServerTest, NoPathLeadsOutOfTheRoot) {
  fs::create_symlink(dir.path() / "secret.txt", root / "pipshift" / "link.txt");
  for (const char* path :
       {"/../secret.txt", "/pipshift/../../secret.txt", "/%2e%2e/secret.txt",
        "/pipshift/..%2f..%2fsecret.txt", "/pipshift/%2E%2E/%2E%2E/secret.txt", "/..%5csecret.txt",
        "/pipshift/link.txt", "/pipshift/pipshiftversion.txt%00.exe"}) {
    const std::string reply = servertest::rawExchange(
        server.port(), std::string("GET ") + path + " HTTP/1.0\r\nHost: x\r\n\r\n");
    EXPECT_EQ(reply.rfind("HTTP/1.1 40", 0), 0u) << path << "\n" << reply;
    EXPECT_EQ(reply.find("top secret"), std::string::npos) << path;
  }
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
       }) {
    ServerProcess p;
    EXPECT_EQ(p.start(args), 0);
    const int status = p.wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << args.back();
  }
  ServerProcess unusable;
  EXPECT_EQ(unusable.start({"--port", "0", "--db", rootDir, "--root", rootDir}), 0);
  const int status = unusable.wait();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
}

}  // namespace
