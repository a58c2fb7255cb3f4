// A request to end the process reaches the program through its event loop, once; asked again
// before the program has dealt with it, the process ends as it would without us.
#include <gtest/gtest.h>
#include <QObject>
#include <QTest>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>

#include "platform/termination.h"

namespace {

TEST(Termination, EachSignalReachesTheHandlerFromTheEventLoop) {
  QObject context;
  int calls = 0;
  onterminationrequest(&context, [&] { ++calls; });
  for (int number : {SIGTERM, SIGHUP, SIGINT}) {
    const int before = calls;
    ASSERT_EQ(::raise(number), 0);
    EXPECT_EQ(calls, before) << "the handler must not run inside the signal handler";
    EXPECT_TRUE(QTest::qWaitFor([&] { return calls == before + 1; }, 5000)) << number;
  }
  QCoreApplication::processEvents();
  EXPECT_EQ(calls, 3) << "one call per signal";
}

TEST(Termination, AskedTwiceBeforeTheProgramGotRoundToItTheProcessEnds) {
  QObject context;
  onterminationrequest(&context, [] {});
  int report[2];
  ASSERT_EQ(::pipe(report), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // No event loop runs here: the first request is never handled.
    ::raise(SIGTERM);
    [[maybe_unused]] const ssize_t n = ::write(report[1], "1", 1);
    ::raise(SIGTERM);
    ::_exit(0);
  }
  ::close(report[1]);
  char survived = 0;
  EXPECT_EQ(::read(report[0], &survived, 1), 1) << "the first request alone must not end it";
  ::close(report[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
}

TEST(Termination, WithItsContextGoneTheSignalsEndTheProcessAgain) {
  auto context = std::make_unique<QObject>();
  onterminationrequest(context.get(), [] { ADD_FAILURE() << "called after its context went"; });
  context.reset();
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::raise(SIGHUP);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGHUP) << status;
}

TEST(Termination, ASignalTheProcessWasStartedIgnoringStaysIgnored) {
  ::signal(SIGHUP, SIG_IGN);  // as under nohup
  {
    QObject context;
    int calls = 0;
    onterminationrequest(&context, [&] { ++calls; });
    ASSERT_EQ(::raise(SIGHUP), 0);
    QTest::qWait(50);
    EXPECT_EQ(calls, 0);
    ASSERT_EQ(::raise(SIGTERM), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return calls == 1; }, 5000)) << "the others are still ours";
  }
  struct sigaction now {};
  ASSERT_EQ(::sigaction(SIGHUP, nullptr, &now), 0);
  EXPECT_EQ(now.sa_handler, SIG_IGN);
  ASSERT_EQ(::sigaction(SIGTERM, nullptr, &now), 0);
  EXPECT_EQ(now.sa_handler, SIG_DFL) << "given back as it was";
  ::signal(SIGHUP, SIG_DFL);
}

}  // namespace
