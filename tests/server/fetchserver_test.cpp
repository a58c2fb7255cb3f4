// The program's background fetch against the reference server: what a player's post and list
// request look like end to end.
#include <gtest/gtest.h>

#include <QTest>
#include <QUrl>

#include <fstream>

#include "online/httpget.h"
#include "tests/server/serverprocess.h"

namespace {

struct Reply {
  bool ok = false;
  QByteArray body;
};

Reply fetch(THTTPGet& get, const QString& url) {
  Reply r;
  get.setURL(url);
  const auto a =
      QObject::connect(&get, &THTTPGet::OnDoneString, [&r](THTTPGet*, const QByteArray& body) {
        r.ok = true;
        r.body = body;
      });
  get.StartFetch();
  EXPECT_TRUE(QTest::qWaitFor([&] { return !get.busy(); }, 20000));
  QObject::disconnect(a);
  return r;
}

class FetchServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto root = dir.path() / "root";
    std::filesystem::create_directories(root / "pipshift");
    std::ofstream(root / "pipshift" / "pipshiftversion.txt", std::ios::binary) << "1.0.0";
    std::ofstream(root / "pipshift" / "pshsetup.exe", std::ios::binary) << installer;
    const int port = server.start(
        {"--port", "0", "--db", (dir.path() / "s.db").string(), "--root", root.string()});
    ASSERT_GT(port, 0);
    base = QString("http://127.0.0.1:%1/").arg(port);
  }

  const std::string installer = std::string("MZ\0\x01\0\0\xff", 7);
  ScratchDir dir;
  servertest::ServerProcess server;
  QString base;
};

TEST_F(FetchServerTest, APostedScoreAppearsInTheList) {
  THTTPGet sendit;
  const QString name = QUrl::toPercentEncoding("x &score=8");
  const Reply posted = fetch(sendit, base + "cgi-bin/pipshift.cgi?name=" + name + "&date=" +
                                         QUrl::toPercentEncoding("12.7.26") + "&score=316");
  EXPECT_TRUE(posted.ok);
  EXPECT_EQ(posted.body, "Score received.\n");

  THTTPGet getit;
  const Reply list = fetch(getit, base + "counter/pipshift.shtml");
  ASSERT_TRUE(list.ok);
  EXPECT_TRUE(
      list.body.contains("x &amp;score=8</font></td><td>12.7.26</td><td "
                         "align=\"right\"><b>316</b>"));
}

TEST_F(FetchServerTest, ARefusalPageStillArrivesAsText) {
  THTTPGet sendit;
  const Reply refused = fetch(sendit, base + "cgi-bin/pipshift.cgi?name=a&date=1&score=999");
  ASSERT_TRUE(refused.ok);
  EXPECT_TRUE(refused.body.contains("0 to 800"));
}

TEST_F(FetchServerTest, TheUpdateFilesArriveExactly) {
  THTTPGet checkupdate;
  EXPECT_EQ(fetch(checkupdate, base + "pipshift/pipshiftversion.txt").body, "1.0.0");
  THTTPGet binary;
  binary.setBinaryData(true);
  const Reply setup = fetch(binary, base + "pipshift/pshsetup.exe");
  ASSERT_TRUE(setup.ok);
  EXPECT_EQ(setup.body, QByteArray(installer.data(), static_cast<qsizetype>(installer.size())));
}

}  // namespace
