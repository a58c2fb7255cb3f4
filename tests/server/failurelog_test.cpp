// The server's log while its database is down: every failure counted, few of them written.

#include "server/failurelog.h"

#include <gtest/gtest.h>

#include <sstream>

namespace pipshiftserver {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

int lines(const std::string& text) {
  int n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

TEST(FailureLog, AnOutageAskedManyTimesASecondWritesALineAQuietTime) {
  std::ostringstream out;
  FailureLog log(out, seconds(30));
  const auto start = FailureLog::Clock::time_point{} + std::chrono::hours(1);
  for (int k = 0; k < 300; ++k) log.failed("connection refused", start + milliseconds(100 * k));
  EXPECT_EQ(out.str(), "pipshift-server: connection refused\n") << "30 s of failures, one line";

  log.failed("connection refused", start + seconds(30));
  EXPECT_EQ(lines(out.str()), 2);
  EXPECT_NE(out.str().find("(and 299 more failures since the last report)"), std::string::npos)
      << out.str();

  log.succeeded();
  log.succeeded();
  EXPECT_EQ(lines(out.str()), 3);
  EXPECT_NE(out.str().find("pipshift-server: the database answers again\n"), std::string::npos);
}

TEST(FailureLog, FailingAndAnsweringByTurnsStaysQuiet) {
  std::ostringstream out;
  FailureLog log(out, seconds(30));
  const auto start = FailureLog::Clock::time_point{} + std::chrono::hours(1);
  for (int k = 0; k < 200; ++k) {
    log.failed("server closed the connection", start + milliseconds(100 * k));
    log.succeeded();
  }
  EXPECT_EQ(lines(out.str()), 2) << out.str();
  // Once the quiet time is over, a new failure is said at once, with the ones it hid.
  log.failed("server closed the connection", start + seconds(40));
  EXPECT_EQ(lines(out.str()), 3);
  EXPECT_NE(out.str().find("(and 199 more failures"), std::string::npos) << out.str();
}

TEST(FailureLog, SuccessWithoutAFailureSaysNothing) {
  std::ostringstream out;
  FailureLog log(out);
  log.succeeded();
  EXPECT_TRUE(out.str().empty());
}

}  // namespace
}  // namespace pipshiftserver
