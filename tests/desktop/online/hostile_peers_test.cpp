// Servers that mean harm, against the two HTTP clients: an endless body, an endless header line,
// a header dribbled a byte a second, a relocation to a host that never answers. Each peer runs on
// a thread of its own with plain blocking sockets, so it owes nothing to the event loop it is
// attacking; each test checks that the client ends in its failure path within its bound and that
// a timer on the user-interface thread kept firing throughout.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QBuffer>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "online/httpget.h"
#include "online/httpprot.h"
#include "tests/desktop/online/runget.h"

namespace {

using namespace std::chrono_literals;

constexpr std::uint64_t kTwoGigabytes = 2ull << 30;
// The most a peer may get out before a client that reads only what its bound allows stops it:
// the bound itself plus what the kernel buffers on both ends of a loopback connection.
constexpr std::uint64_t kBoundedTraffic = 64ull << 20;

// A listening socket on 127.0.0.1. It never accepts on its own: a connection to it completes in
// the kernel and then hears nothing, like a host whose server hangs.
class Listener {
 public:
  explicit Listener(int backlog = 16) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(fd_, backlog) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      ADD_FAILURE() << "cannot listen on 127.0.0.1";
      return;
    }
    port_ = ntohs(address.sin_port);
  }
  ~Listener() {
    for (int fd : fillers_) ::close(fd);
    if (fd_ >= 0) ::close(fd_);
  }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  int fd() const { return fd_; }
  quint16 port() const { return port_; }
  QString url(const QString& path) const {
    return QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(path);
  }

  // Fills the queue of connections waiting to be accepted, so that the kernel drops every further
  // attempt to connect and the connecting side waits as for a host that is not there at all.
  void fillqueue() {
    for (int i = 0; i < 4; ++i) {
      const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      address.sin_port = htons(port_);
      (void)::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
      fillers_.push_back(fd);
    }
    std::this_thread::sleep_for(100ms);  // the handshakes complete in the kernel meanwhile
  }

 private:
  int fd_ = -1;
  quint16 port_ = 0;
  std::vector<int> fillers_;
};

// A peer that accepts connections one after the other and plays its script on each, on a thread
// of its own. The script's socket helpers give up as soon as the client has gone or the test ends.
class HostilePeer {
 public:
  class Connection {
   public:
    Connection(int fd, HostilePeer& peer) : fd_(fd), peer_(peer) {}

    // Reads up to the end of the request's header; false when the client went away first.
    bool readrequest() {
      std::string request;
      char buffer[4096];
      while (request.find("\r\n\r\n") == std::string::npos) {
        if (!wait(POLLIN)) return false;
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n <= 0) return false;
        request.append(buffer, static_cast<std::size_t>(n));
      }
      return true;
    }

    // Sends all of bytes; false once the client has closed or the test ended.
    bool send(std::string_view bytes) {
      while (!bytes.empty()) {
        if (!wait(POLLOUT)) return false;
        const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n <= 0) return false;
        peer_.sent_ += static_cast<std::uint64_t>(n);
        bytes.remove_prefix(static_cast<std::size_t>(n));
      }
      return true;
    }

    // Sends total bytes of filler, made a piece at a time, never held whole.
    bool stream(std::uint64_t total, char filler) {
      const std::string piece(64 * 1024, filler);
      for (std::uint64_t done = 0; done < total; done += piece.size()) {
        if (!send(piece)) return false;
      }
      return true;
    }

    // Sends one byte of text per interval until the text or the client's patience ends.
    bool dribble(std::string_view text, std::chrono::milliseconds interval) {
      for (char c : text) {
        if (!send(std::string_view(&c, 1))) return false;
        if (!pause(interval)) return false;
      }
      return true;
    }

    // Waits, watching for the client's close; false when it closed or the test ended.
    bool pause(std::chrono::milliseconds span) {
      const auto end = std::chrono::steady_clock::now() + span;
      while (std::chrono::steady_clock::now() < end) {
        if (peer_.stop_) return false;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 20) > 0) {
          // Whatever else the client sends is read and dropped; only its close matters.
          char scratch[4096];
          const ssize_t n = ::recv(fd_, scratch, sizeof scratch, MSG_DONTWAIT);
          if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return false;
        }
      }
      return true;
    }

    // Keeps the connection open without a word until the client leaves or the test ends.
    void silence() {
      while (pause(1000ms)) {
      }
    }

   private:
    bool wait(short events) {
      while (!peer_.stop_) {
        pollfd p{fd_, events, 0};
        const int ready = ::poll(&p, 1, 20);
        if (ready < 0 && errno != EINTR) return false;
        if (ready > 0) return true;  // ready, or failed: the call that follows tells which
      }
      return false;
    }

    int fd_;
    HostilePeer& peer_;
  };

  using Script = std::function<void(Connection&)>;

  explicit HostilePeer(Script script) : script_(std::move(script)) {
    thread_ = std::thread([this] { run(); });
  }
  ~HostilePeer() {
    stop_ = true;
    thread_.join();
  }

  quint16 port() const { return listener_.port(); }
  QString url(const QString& path) const { return listener_.url(path); }
  std::uint64_t sent() const { return sent_; }
  int connections() const { return connections_; }
  // True once the peer has seen its last client go away.
  bool clientgone() const { return clientgone_; }

 private:
  void run() {
    while (!stop_) {
      pollfd p{listener_.fd(), POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      const int fd = ::accept4(listener_.fd(), nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      ++connections_;
      clientgone_ = false;
      Connection connection(fd, *this);
      script_(connection);
      // Drain until the client closes, so the close the client made is what ends it.
      connection.silence();
      clientgone_ = true;
      ::close(fd);
    }
  }

  Listener listener_;
  Script script_;
  std::atomic<bool> stop_{false};
  std::atomic<std::uint64_t> sent_{0};
  std::atomic<int> connections_{0};
  std::atomic<bool> clientgone_{false};
  std::thread thread_;
};

// Counts the ticks of a 10 ms timer on the user-interface thread and the longest gap between two.
class Heartbeat {
 public:
  Heartbeat() {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      const qint64 now = clock_.elapsed();
      longestgap_ = std::max(longestgap_, now - last_);
      last_ = now;
      ++ticks_;
    });
    clock_.start();
    timer_.start(10);
  }
  int ticks() const { return ticks_; }
  qint64 longestgap() const { return std::max(longestgap_, clock_.elapsed() - last_); }

 private:
  QTimer timer_;
  QElapsedTimer clock_;
  qint64 last_ = 0;
  qint64 longestgap_ = 0;
  int ticks_ = 0;
};

// The user-interface thread was never held for long: far less than the bounds under test.
void expectresponsive(const Heartbeat& heart, qint64 waitedms) {
  EXPECT_LT(heart.longestgap(), 1500) << "the user-interface thread was held";
  EXPECT_GE(heart.ticks(), std::min<qint64>(10, waitedms / 100));
}

struct FetchOutcome {
  int done = 0;
  int errors = 0;
  qsizetype bodysize = 0;
  qint64 elapsedms = 0;
};

FetchOutcome fetch(THTTPGet& get, int waitms) {
  FetchOutcome o;
  QObject::connect(&get, &THTTPGet::OnDoneString, [&o](THTTPGet*, const QByteArray& body) {
    ++o.done;
    o.bodysize = body.size();
  });
  QObject::connect(&get, &THTTPGet::OnError, [&o](THTTPGet*) { ++o.errors; });
  QElapsedTimer clock;
  clock.start();
  get.StartFetch();
  EXPECT_TRUE(QTest::qWaitFor([&] { return !get.busy(); }, waitms));
  o.elapsedms = clock.elapsed();
  return o;
}

// --- The background text fetch -----------------------------------------------------------------

TEST(HostileFetch, EndlessBodyWithoutLengthFailsAtTheBoundWithoutBufferingIt) {
  HostilePeer peer([](HostilePeer::Connection& c) {
    if (c.readrequest() && c.send("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n"))
      c.stream(kTwoGigabytes, 'x');
  });
  Heartbeat heart;
  THTTPGet get;  // the program's own bounds
  get.setURL(peer.url("/counter/pipshift.shtml"));
  const FetchOutcome o = fetch(get, 60000);
  EXPECT_EQ(o.done, 0);
  EXPECT_EQ(o.errors, 1);
  EXPECT_TRUE(QTest::qWaitFor([&] { return peer.clientgone(); }, 20000));
  EXPECT_GT(peer.sent(), httpgetlimits::kMaxBodyBytes);
  EXPECT_LT(peer.sent(), kBoundedTraffic);
  expectresponsive(heart, o.elapsedms);
}

TEST(HostileFetch, HeaderDribbledAByteASecondEndsAtTheWholeFetchBound) {
  HostilePeer peer([](HostilePeer::Connection& c) {
    if (c.readrequest()) c.dribble("HTTP/1.0 200 OK\r\nX-Slow: never ending, never ending", 1000ms);
  });
  Heartbeat heart;
  THTTPGet get;
  THTTPGet::Limits limits;
  limits.fetchtimeout = 2500ms;
  get.setLimits(limits);
  get.setURL(peer.url("/pipshift/pipshiftversion.txt"));
  const FetchOutcome o = fetch(get, 30000);
  EXPECT_EQ(o.done, 0);
  EXPECT_EQ(o.errors, 1);
  EXPECT_GE(o.elapsedms, 2000);  // the bound, not some other failure, ended it
  EXPECT_TRUE(QTest::qWaitFor([&] { return peer.clientgone(); }, 20000));
  EXPECT_LT(peer.sent(), 30u);
  expectresponsive(heart, o.elapsedms);
}

TEST(HostileFetch, AHostThatNeverCompletesTheConnectionIsGivenUp) {
  Listener full(0);
  full.fillqueue();
  Heartbeat heart;
  THTTPGet get;
  THTTPGet::Limits limits;
  limits.connecttimeout = 1500ms;
  get.setLimits(limits);
  get.setURL(full.url("/pipshift/pipshiftversion.txt"));
  const FetchOutcome o = fetch(get, 30000);
  EXPECT_EQ(o.done, 0);
  EXPECT_EQ(o.errors, 1);
  EXPECT_GE(o.elapsedms, 1000);
  expectresponsive(heart, o.elapsedms);
}

// --- The download client -----------------------------------------------------------------------

class HostileDownload : public ::testing::Test {
 protected:
  void SetUp() override {
    body.open(QIODevice::ReadWrite);
    client.setBodyStream(&body);
  }

  THttpCli client;
  QBuffer body;
};

TEST_F(HostileDownload, EndlessHeaderLineIsTooLong) {
  HostilePeer peer([](HostilePeer::Connection& c) {
    if (c.readrequest() && c.send("HTTP/1.0 200 OK\r\nX-Filler: ")) c.stream(kTwoGigabytes, 'a');
  });
  Heartbeat heart;
  client.setRequestUrl(peer.url("/pipshift/pshsetup.exe"));
  const GetOutcome out = runget(client, 60000);
  EXPECT_FALSE(out.timedout);
  EXPECT_TRUE(out.raised);
  EXPECT_EQ(out.code, THttpCli::ErrorLineTooLong);
  EXPECT_EQ(out.message, "HTTP line too long");
  EXPECT_EQ(body.size(), 0);
  EXPECT_EQ(client.State(), THttpCli::httpReady);
  EXPECT_TRUE(QTest::qWaitFor([&] { return peer.clientgone(); }, 20000));
  EXPECT_LT(peer.sent(), kBoundedTraffic);
  expectresponsive(heart, out.elapsedms);
}

TEST_F(HostileDownload, HeaderDribbledAByteASecondEndsAtTheTimeout) {
  HostilePeer peer([](HostilePeer::Connection& c) {
    if (c.readrequest()) c.dribble("HTTP/1.0 200 OK\r\nX-Slow: never ending, never ending", 1000ms);
  });
  Heartbeat heart;
  client.setTimeout(2500);
  client.setRequestUrl(peer.url("/pipshift/pshsetup.exe"));
  const GetOutcome out = runget(client, 30000);
  EXPECT_FALSE(out.timedout) << "the download waited without a bound";
  EXPECT_TRUE(out.raised);
  EXPECT_EQ(out.code, THttpCli::StatusNoConnection);
  EXPECT_TRUE(out.message.contains("timed out")) << out.message.toStdString();
  EXPECT_GE(out.elapsedms, 2000);
  EXPECT_EQ(client.State(), THttpCli::httpReady);
  EXPECT_TRUE(QTest::qWaitFor([&] { return peer.clientgone(); }, 20000));
  expectresponsive(heart, out.elapsedms);
}

TEST_F(HostileDownload, RelocationToAHostThatAcceptsAndSaysNothingEndsAtTheTimeout) {
  Listener silent;
  const QString target = silent.url("/pipshift/pshsetup.exe");
  HostilePeer peer([&target](HostilePeer::Connection& c) {
    if (c.readrequest())
      c.send("HTTP/1.0 302 Found\r\nLocation: " + target.toStdString() + "\r\n\r\n");
  });
  Heartbeat heart;
  client.setTimeout(2500);
  client.setRequestUrl(peer.url("/pipshift/pshsetup.exe"));
  const GetOutcome out = runget(client, 30000);
  EXPECT_FALSE(out.timedout) << "the download waited without a bound";
  EXPECT_TRUE(out.raised);
  EXPECT_EQ(out.code, THttpCli::StatusNoConnection);
  EXPECT_EQ(out.message, "Connection timed out (Error #110)");
  EXPECT_EQ(client.Location(), target);
  EXPECT_GE(out.elapsedms, 2000);
  EXPECT_EQ(body.size(), 0);
  EXPECT_EQ(client.State(), THttpCli::httpReady);
  expectresponsive(heart, out.elapsedms);
}

TEST_F(HostileDownload, RelocationToAHostThatNeverCompletesTheConnectionEndsAtTheTimeout) {
  Listener full(0);
  full.fillqueue();
  const QString target = full.url("/pipshift/pshsetup.exe");
  HostilePeer peer([&target](HostilePeer::Connection& c) {
    if (c.readrequest())
      c.send("HTTP/1.0 302 Found\r\nLocation: " + target.toStdString() + "\r\n\r\n");
  });
  Heartbeat heart;
  client.setTimeout(2500);
  client.setRequestUrl(peer.url("/pipshift/pshsetup.exe"));
  const GetOutcome out = runget(client, 30000);
  EXPECT_FALSE(out.timedout) << "the download waited without a bound";
  EXPECT_TRUE(out.raised);
  EXPECT_EQ(out.code, THttpCli::StatusNoConnection);
  EXPECT_EQ(out.message, "can't connect: Connection timed out (Error #110)");
  EXPECT_GE(out.elapsedms, 2000);
  EXPECT_EQ(client.State(), THttpCli::httpReady);
  expectresponsive(heart, out.elapsedms);
}

TEST_F(HostileDownload, ASlowButSteadyBodyIsNotCutOff) {
  // The bound is on silence, not on the length of a download: a body that keeps coming, each
  // piece within the bound, arrives whole however long it takes altogether.
  HostilePeer peer([](HostilePeer::Connection& c) {
    if (c.readrequest() && c.send("HTTP/1.0 200 OK\r\nContent-Length: 8\r\n\r\n"))
      c.dribble("pshsetup", 400ms);
  });
  client.setTimeout(1500);
  client.setRequestUrl(peer.url("/pipshift/pshsetup.exe"));
  const GetOutcome out = runget(client, 30000);
  EXPECT_FALSE(out.timedout);
  EXPECT_FALSE(out.raised) << out.message.toStdString();
  EXPECT_EQ(body.data(), "pshsetup");
  EXPECT_GE(out.elapsedms, 2000);  // longer than the bound altogether
}

}  // namespace
