// The HTTP layer on its own: the parsing of request heads and ranges, and a server run in this
// process with short limits so its timeouts can be seen without waiting seconds.
#include "server/httpserver.h"

#include <netinet/tcp.h>
#include <poll.h>

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <random>
#include <thread>

#include "tests/server/serverprocess.h"

using namespace pipshiftserver::http;

namespace {

TEST(HttpHead, FindsTheEndOfAHeadAndHoldsItsLimits) {
  Limits limits;
  limits.maxrequestline = 32;
  limits.maxhead = 96;
  EXPECT_EQ(findhead("GET / HTTP/1.1\r\nHost: x\r\n", limits).kind, HeadParse::Incomplete);
  const HeadParse whole = findhead("GET / HTTP/1.1\r\nHost: x\r\n\r\nBODY", limits);
  EXPECT_EQ(whole.kind, HeadParse::Complete);
  EXPECT_EQ(whole.length, 27u);
  EXPECT_EQ(findhead("\r\nGET / HTTP/1.0\n\n", limits).length, 18u);  // bare LFs, leading CRLF
  // A request line that never ends is refused as soon as it is too long, not when it ends.
  EXPECT_EQ(findhead("GET /" + std::string(40, 'a'), limits).status, 414);
  EXPECT_EQ(findhead("GET /" + std::string(40, 'a') + " HTTP/1.1\r\n\r\n", limits).status, 414);
  std::string many = "GET / HTTP/1.1\r\n";
  while (many.size() <= limits.maxhead) many += "A: b\r\n";
  EXPECT_EQ(findhead(many, limits).status, 431);
  EXPECT_EQ(findhead(many + "\r\n", limits).status, 431);
}

TEST(HttpHead, ParsesTheRequestLineHeadersAndTarget) {
  Limits limits;
  Request r;
  ASSERT_EQ(parsehead("GET /a%20b/c.txt?x=1&y=%41 HTTP/1.0\r\nHost: h\r\nX-Y:  spaced  \r\n\r\n",
                      limits, r),
            0);
  EXPECT_EQ(r.method, "GET");
  EXPECT_EQ(r.path, "/a b/c.txt");
  EXPECT_EQ(r.query, "x=1&y=%41");  // the query stays encoded for the form parser
  EXPECT_EQ(r.minorversion, 0);
  ASSERT_TRUE(r.header("x-y"));
  EXPECT_EQ(*r.header("X-Y"), "spaced");
  ASSERT_EQ(parsehead("GET http://example.org:80/p?q HTTP/1.1\r\n\r\n", limits, r), 0);
  EXPECT_EQ(r.path, "/p");
  EXPECT_EQ(r.query, "q");

  EXPECT_EQ(parsehead("GET / HTTP/2.0\r\n\r\n", limits, r), 505);
  for (const char* bad : {"GET /\r\n\r\n", "GET  / HTTP/1.1\r\n\r\n", "G(T / HTTP/1.1\r\n\r\n",
                          "GET / HTTP/1.1\r\n folded\r\n\r\n", "GET / HTTP/1.1\r\nNo colon\r\n\r\n",
                          "GET / HTTP/1.1\r\nBad Name: v\r\n\r\n", "GET x HTTP/1.1\r\n\r\n",
                          "GET /%zz HTTP/1.1\r\n\r\n", "GET / HTTP/1.1\r\nA: b\rc\r\n\r\n",
                          "GET / HTTP/1.x\r\n\r\n"}) {
    EXPECT_EQ(parsehead(bad, limits, r), 400) << bad;
  }
  limits.maxheaders = 2;
  EXPECT_EQ(parsehead("GET / HTTP/1.1\r\nA: 1\r\nB: 2\r\nC: 3\r\n\r\n", limits, r), 431);
}

TEST(HttpHead, TakesOnlyABodyOfOneStatedLength) {
  Limits limits;
  Request r;
  int status = -1;
  ASSERT_EQ(parsehead("POST / HTTP/1.1\r\nContent-Length: 12\r\n\r\n", limits, r), 0);
  EXPECT_EQ(bodylength(r, status), 12u);
  EXPECT_EQ(status, 0);
  ASSERT_EQ(
      parsehead("POST / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n", limits, r), 0);
  EXPECT_FALSE(bodylength(r, status));
  EXPECT_EQ(status, 400);
  ASSERT_EQ(parsehead("POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n", limits, r), 0);
  EXPECT_FALSE(bodylength(r, status));
  EXPECT_EQ(status, 400);
  ASSERT_EQ(parsehead("POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", limits, r), 0);
  EXPECT_FALSE(bodylength(r, status));
  EXPECT_EQ(status, 411);
  ASSERT_EQ(parsehead("GET / HTTP/1.1\r\n\r\n", limits, r), 0);
  EXPECT_EQ(bodylength(r, status), 0u);
}

TEST(HttpDate, WritesTheFixedFormatInEnglishAndGmt) {
  EXPECT_EQ(httpdate(784111777), "Sun, 06 Nov 1994 08:49:37 GMT");
  EXPECT_EQ(httpdate(0), "Thu, 01 Jan 1970 00:00:00 GMT");
  EXPECT_EQ(httpdate(1798761599), "Thu, 31 Dec 2026 23:59:59 GMT");
}

TEST(HttpRange, ServesOneRangeAndTheWholeForAnythingElse) {
  ByteRange r;
  EXPECT_EQ(parserange("bytes=2-5", 10, r), RangeKind::Part);
  EXPECT_EQ(r.first, 2u);
  EXPECT_EQ(r.length, 4u);
  EXPECT_EQ(parserange("bytes=7-", 10, r), RangeKind::Part);
  EXPECT_EQ(r.length, 3u);
  EXPECT_EQ(parserange("bytes=8-100", 10, r), RangeKind::Part);
  EXPECT_EQ(r.length, 2u);
  EXPECT_EQ(parserange("bytes=-4", 10, r), RangeKind::Part);
  EXPECT_EQ(r.first, 6u);
  EXPECT_EQ(parserange("bytes=-40", 10, r), RangeKind::Part);
  EXPECT_EQ(r.first, 0u);
  EXPECT_EQ(r.length, 10u);
  EXPECT_EQ(parserange("bytes=10-", 10, r), RangeKind::Unsatisfiable);
  EXPECT_EQ(parserange("bytes=-0", 10, r), RangeKind::Unsatisfiable);
  EXPECT_EQ(parserange("bytes=0-", 0, r), RangeKind::Unsatisfiable);
  for (const char* whole : {"bytes=5-2", "bytes=1-2,4-5", "bytes=-", "items=1-2", "bytes=a-b"}) {
    EXPECT_EQ(parserange(whole, 10, r), RangeKind::Whole) << whole;
  }
}

// Mangled requests: whatever the bytes, the parsers stay inside them and agree with each other.
TEST(HttpHead, MangledRequestsAreParsedSafely) {
  const std::vector<std::string> seeds = {
      "GET /pipshift/pipshiftversion.txt HTTP/1.1\r\nHost: x\r\n\r\n",
      "POST /cgi-bin/pipshift.cgi HTTP/1.0\r\nContent-Length: 5\r\nConnection: "
      "keep-alive\r\n\r\nab",
      "\r\nHEAD http://h/a%41?q#f HTTP/1.1\nRange: bytes=1-2\n\n",
  };
  const std::string alphabet = std::string("\r\n :%/?#-=,\t0129aZ") + '\0' + "\x7f\xff";
  Limits limits;
  limits.maxrequestline = 64;
  limits.maxhead = 128;
  limits.maxheaders = 4;
  std::mt19937 random(20260712);
  for (int round = 0; round < 20000; ++round) {
    std::string data = seeds[random() % seeds.size()];
    for (int edits = 1 + static_cast<int>(random() % 4); edits > 0 && !data.empty(); --edits) {
      const std::size_t at = random() % data.size();
      const char c = alphabet[random() % alphabet.size()];
      switch (random() % 4) {
        case 0:
          data[at] = c;
          break;
        case 1:
          data.insert(at, 1, c);
          break;
        case 2:
          data.erase(at, 1);
          break;
        default:
          data.insert(at, std::string(random() % 100, c));
          break;
      }
    }
    const HeadParse found = findhead(data, limits);
    if (found.kind == HeadParse::Refused) {
      EXPECT_TRUE(found.status == 414 || found.status == 431) << found.status;
      continue;
    }
    if (found.kind == HeadParse::Incomplete) {
      EXPECT_LE(data.size(), limits.maxhead) << data;
      continue;
    }
    ASSERT_LE(found.length, data.size());
    ASSERT_LE(found.length, limits.maxhead);
    Request r;
    const int status = parsehead(std::string_view(data).substr(0, found.length), limits, r);
    if (status != 0) {
      EXPECT_TRUE(status == 400 || status == 431 || status == 505) << status;
      continue;
    }
    EXPECT_FALSE(r.method.empty());
    EXPECT_TRUE(r.path == "*" || (!r.path.empty() && r.path.front() == '/')) << r.path;
    EXPECT_EQ(r.target.find_first_of(std::string(" \r\n\0", 4)), std::string::npos);
    for (const Header& h : r.headers) {
      EXPECT_EQ(h.value.find_first_of(std::string("\r\n\0", 3)), std::string::npos);
    }
    int lengthStatus = -1;
    const auto length = bodylength(r, lengthStatus);
    EXPECT_EQ(length.has_value(), lengthStatus == 0);
    if (const std::string* range = r.header("Range")) {
      ByteRange part;
      if (parserange(*range, 10, part) == RangeKind::Part) {
        EXPECT_LT(part.first, 10u);
        EXPECT_GE(part.length, 1u);
        EXPECT_LE(part.first + part.length, 10u);
      }
    }
  }
}

// A server in this process on 127.0.0.1 with a free port.
class LiveServer : public ::testing::Test {
 protected:
  void start(Handler handler, Limits limits) {
    server = std::make_unique<Server>(std::move(handler), nullptr, limits);
    port = server->listen("127.0.0.1", 0);
    runner = std::thread([this] { server->run(2); });
  }
  void TearDown() override {
    if (server) server->stop();
    if (runner.joinable()) runner.join();
  }

  // from: the loopback address the connection comes from (any of 127.0.0.0/8); 0: the usual.
  int connectto(std::uint32_t from = 0) const {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (from != 0) {
      sockaddr_in source{};
      source.sin_family = AF_INET;
      source.sin_addr.s_addr = htonl(from);
      EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source), 0);
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    return fd;
  }

  // Reads until the server closes or `ms` pass; returns what came.
  static std::string drain(int fd, int ms) {
    std::string got;
    char buffer[4096];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) return got + "<closed>";
      got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
  }

  std::unique_ptr<Server> server;
  std::thread runner;
  int port = 0;
};

// An answer with its Date lines taken out, which change from one second to the next.
std::string undated(std::string text) {
  for (std::size_t at; (at = text.find("\r\nDate: ")) != std::string::npos;)
    text.erase(at + 2, text.find("\r\n", at + 2) + 2 - (at + 2));
  return text;
}

Handler echopath() {
  return [](Request& r, Responder out) { out.send(Response::text(200, r.path, "text/plain")); };
}

TEST_F(LiveServer, APipelinedStreamSplitAnywhereGetsTheSameAnswers) {
  start(
      [](Request& r, Responder out) {
        out.send(Response::text(200, r.method + " " + r.path + " " + r.query + " " + r.body + ".",
                                "text/plain"));
      },
      Limits());
  const std::string stream =
      "\r\nGET /a%20b?x=1 HTTP/1.1\r\nHost: h\r\n\r\n"
      "POST /p HTTP/1.1\r\nContent-Length: 5\r\nContent-Type: t\r\n\r\nhello"
      "HEAD /h HTTP/1.1\r\n\r\n"
      "GET /z HTTP/1.0\r\nConnection: keep-alive\r\n\r\n"
      "GET /last HTTP/1.1\nConnection: close\n\n";
  std::string expected;
  for (std::size_t split = 0; split <= stream.size(); ++split) {
    const int fd = connectto();
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    send(fd, stream.data(), split, MSG_NOSIGNAL);
    // The server has read the first part before the second is sent.
    for (int i = 0; i < 2000 && servertest::unread(port, fd) != 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    send(fd, stream.data() + split, stream.size() - split, MSG_NOSIGNAL);
    const std::string dated = drain(fd, 3000);
    close(fd);
    const std::string got = undated(dated);
    if (split == 0) {
      expected = got;
      // Every answer is dated.
      std::size_t answers = 0, dates = 0;
      for (std::size_t at = 0; (at = dated.find("HTTP/1.1 ", at)) != std::string::npos; ++at)
        ++answers;
      for (std::size_t at = 0; (at = dated.find(" GMT\r\n", at)) != std::string::npos; ++at)
        ++dates;
      EXPECT_EQ(answers, 5u) << dated;
      EXPECT_EQ(dates, answers) << dated;
      EXPECT_NE(got.find("GET /a b x=1 ."), std::string::npos) << got;
      EXPECT_NE(got.find("POST /p  hello."), std::string::npos) << got;
      // HEAD: the length of the answer a GET would get, and no body.
      EXPECT_NE(got.find("Content-Length: 10\r\nContent-Type: text/plain\r\n\r\nHTTP/1.1"),
                std::string::npos)
          << got;
      EXPECT_NE(got.find("Connection: keep-alive\r\n"), std::string::npos) << got;
      EXPECT_NE(got.find("GET /last  .<closed>"), std::string::npos) << got;
    } else {
      ASSERT_EQ(got, expected) << "split after byte " << split;
    }
  }
}

TEST_F(LiveServer, IdleAndSlowClientsAreCutOff) {
  Limits limits;
  limits.idletimeout = std::chrono::milliseconds(300);
  limits.requesttimeout = std::chrono::milliseconds(600);
  start(echopath(), limits);

  const int idle = connectto();
  EXPECT_EQ(drain(idle, 3000), "<closed>");
  close(idle);

  // One byte at a time, each well within the idle time, never finishing the request.
  const int slow = connectto();
  std::string got;
  for (int i = 0; i < 30 && got.empty(); ++i) {
    send(slow, "G", 1, MSG_NOSIGNAL);
    got = drain(slow, 100);
  }
  EXPECT_EQ(got.rfind("HTTP/1.1 408", 0), 0u) << got;
  close(slow);
}

TEST_F(LiveServer, AnswersMayComeFromAnotherThreadOrNotAtAll) {
  start(
      [](Request& r, Responder out) {
        if (r.path == "/later") {
          std::thread([out] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            out.send(Response::text(200, "later", "text/plain"));
          }).detach();
        }
        // "/never": the responder goes unanswered and the client still hears something.
      },
      Limits());
  const int fd = connectto();
  const std::string both = "GET /later HTTP/1.1\r\n\r\nGET /never HTTP/1.1\r\n\r\n";
  send(fd, both.data(), both.size(), MSG_NOSIGNAL);
  const std::string got = undated(drain(fd, 1500));
  EXPECT_EQ(got.rfind("HTTP/1.1 200 OK", 0), 0u) << got;
  EXPECT_NE(got.find("\r\n\r\nlater"), std::string::npos) << got;
  EXPECT_NE(got.find("HTTP/1.1 500 Internal Server Error"), std::string::npos) << got;
  close(fd);
}

void sendtext(int fd, const std::string& text) {
  send(fd, text.data(), text.size(), MSG_NOSIGNAL);
}

TEST_F(LiveServer, OneAddressAtItsCapLeavesRoomForOthers) {
  Limits limits;
  limits.maxperaddress = 3;
  start(echopath(), limits);
  constexpr std::uint32_t crowd = 0x7F000002;  // 127.0.0.2
  constexpr std::uint32_t other = 0x7F000003;  // 127.0.0.3
  std::vector<int> held;
  for (int i = 0; i < 3; ++i) held.push_back(connectto(crowd));
  // Each of the three is taken: it is answered.
  for (const int fd : held) {
    sendtext(fd, "GET /held HTTP/1.1\r\n\r\n");
    EXPECT_NE(drain(fd, 300).find("/held"), std::string::npos);
  }
  // A fourth from the same address is closed before it is read.
  const int fourth = connectto(crowd);
  sendtext(fourth, "GET /fourth HTTP/1.1\r\n\r\n");
  EXPECT_EQ(drain(fourth, 2000), "<closed>");
  close(fourth);
  // Another address is served as ever.
  const int fd = connectto(other);
  sendtext(fd, "GET /other HTTP/1.1\r\n\r\n");
  EXPECT_NE(drain(fd, 300).find("/other"), std::string::npos);
  close(fd);
  // A connection given back makes room for the next one from the crowd.
  close(held.back());
  held.pop_back();
  std::string got;
  for (int attempt = 0; attempt < 50 && got.find("/again") == std::string::npos; ++attempt) {
    const int again = connectto(crowd);
    sendtext(again, "GET /again HTTP/1.1\r\n\r\n");
    got = drain(again, 100);
    close(again);
  }
  EXPECT_NE(got.find("/again"), std::string::npos) << got;
  for (const int h : held) close(h);
}

TEST(HttpAddress, IPv6ClientsCountByTheirSlash64) {
  EXPECT_EQ(addresskey("127.0.0.2"), "127.0.0.2");
  EXPECT_EQ(addresskey("2001:db8:1:2:aaaa::1"), "2001:db8:1:2::/64");
  EXPECT_EQ(addresskey("2001:db8:1:2:bbbb::9"), addresskey("2001:db8:1:2:aaaa::1"));
  EXPECT_NE(addresskey("2001:db8:1:3::1"), addresskey("2001:db8:1:2::1"));
}

TEST(HttpDecode, OneDecoderForPathsAndForms) {
  EXPECT_EQ(percentdecode("/a%20b+c"), "/a b+c");
  EXPECT_EQ(percentdecode("a%20b+c", true), "a b c");
  EXPECT_EQ(percentdecode("%41%6a%5A"), "AjZ");
  EXPECT_EQ(percentdecode(std::string_view("%00", 3)), std::string(1, '\0'));
  for (const char* bad : {"%", "%4", "abc%", "%zz", "%4g", "%%41"}) {
    EXPECT_FALSE(percentdecode(bad)) << bad;
    EXPECT_FALSE(percentdecode(bad, true)) << bad;
  }
}

TEST_F(LiveServer, AConnectionEndsAfterItsShareOfRequests) {
  Limits limits;
  limits.maxrequestsperconnection = 3;
  start(echopath(), limits);
  const int fd = connectto();
  std::string four;
  for (int i = 0; i < 4; ++i) four += "GET /r" + std::to_string(i) + " HTTP/1.1\r\n\r\n";
  send(fd, four.data(), four.size(), MSG_NOSIGNAL);
  const std::string got = undated(drain(fd, 2000));
  EXPECT_NE(got.find("/r2"), std::string::npos) << got;
  EXPECT_EQ(got.find("/r3"), std::string::npos) << got;
  EXPECT_NE(got.find("Connection: close"), std::string::npos);
  EXPECT_EQ(got.substr(got.size() - 8), "<closed>");
  close(fd);
}

TEST_F(LiveServer, ARefusedClientStillReadsWhyBeforeTheConnectionCloses) {
  Limits limits;
  limits.maxbody = 100;
  start(echopath(), limits);
  const int fd = connectto();
  // The body is sent whole although the server refuses it: closing on it would reset the
  // connection and lose the answer.
  const std::string post =
      "POST /x HTTP/1.1\r\nContent-Length: 200000\r\n\r\n" + std::string(200000, 'z');
  std::thread sender([&] { send(fd, post.data(), post.size(), MSG_NOSIGNAL); });
  const std::string got = undated(drain(fd, 3000));
  sender.join();
  EXPECT_EQ(got.rfind("HTTP/1.1 413 Payload Too Large\r\nConnection: close\r\n", 0), 0u) << got;
  close(fd);
}

// A handler that keeps each responder for the test to answer when it likes, as a post waits for
// its commit.
struct HeldAnswers {
  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<Responder> held;
  Handler handler() {
    return [this](Request&, Responder out) {
      std::lock_guard lock(mutex);
      held.push_back(std::move(out));
      arrived.notify_all();
    };
  }
  void awaitOne() {
    std::unique_lock lock(mutex);
    arrived.wait(lock, [this] { return !held.empty(); });
  }
  void answerAll(const std::string& body) {
    std::lock_guard lock(mutex);
    for (Responder& r : held) r.send(Response::text(200, body, "text/plain"));
    held.clear();
  }
};

TEST_F(LiveServer, RequestsSentAheadWaitInTheKernelNotInOurMemory) {
  HeldAnswers answers;
  Limits limits;
  limits.maxhead = 1024;
  limits.maxbody = 1024;
  Handler hold = answers.handler();
  start(
      [&hold](Request& r, Responder out) {
        if (r.path == "/first") return hold(r, std::move(out));
        out.send(Response::text(200, r.path, "text/plain"));
      },
      limits);
  const int fd = connectto();
  // A request whose answer takes a while, with forty kilobytes of further requests behind it.
  std::string ahead;
  int behind = 0;
  for (; ahead.size() < 40000; ++behind) {
    ahead += "GET /next" + std::to_string(behind) + " HTTP/1.1\r\nX-Pad: " + std::string(500, 'p') +
             "\r\n\r\n";
  }
  const std::string all = "POST /first HTTP/1.1\r\nContent-Length: 10\r\n\r\n0123456789" + ahead;
  ASSERT_EQ(send(fd, all.data(), all.size(), MSG_NOSIGNAL), static_cast<ssize_t>(all.size()));
  answers.awaitOne();
  // While it waits, the server holds no more of the rest than one request may be long.
  const long unread = servertest::unread(port, fd);
  EXPECT_GE(unread, static_cast<long>(ahead.size() - limits.maxhead - 1)) << unread;

  answers.answerAll("first");
  shutdown(fd, SHUT_WR);
  const std::string got = undated(drain(fd, 5000));
  EXPECT_EQ(got.find("HTTP/1.1 200 OK"), 0u);
  EXPECT_NE(got.find("\r\n\r\nfirstHTTP/1.1 200 OK"), std::string::npos);
  EXPECT_NE(got.find("/next" + std::to_string(behind - 1) + "<closed>"), std::string::npos);
  close(fd);
}

TEST_F(LiveServer, AReaderThatStopsIsCutOffAndASlowOneGetsEveryByte) {
  // Far more than the socket buffers hold, so the answer goes out in many partial writes.
  auto big = std::make_shared<std::string>(8u << 20, '\0');
  for (std::size_t i = 0; i < big->size(); ++i) (*big)[i] = static_cast<char>(i * 7 % 251);
  Limits limits;
  limits.sendtimeout = std::chrono::milliseconds(400);
  start(
      [big](Request&, Responder out) {
        Response r;
        r.contenttype = "application/octet-stream";
        r.body = big;
        out.send(std::move(r));
      },
      limits);
  const std::string get = "GET /big HTTP/1.1\r\n\r\n";

  const int stalled = connectto();
  send(stalled, get.data(), get.size(), MSG_NOSIGNAL);
  // Read nothing for longer than the send timeout: the server gives up on the connection.
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  std::string partial;
  char buffer[65536];
  for (;;) {
    pollfd p{stalled, POLLIN, 0};
    if (poll(&p, 1, 3000) <= 0) break;
    const ssize_t n = recv(stalled, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    partial.append(buffer, static_cast<std::size_t>(n));
  }
  EXPECT_LT(partial.size(), big->size()) << "the whole answer fitted in the buffers";
  close(stalled);

  // Slow but steady: each read well within the send timeout.
  const int slow = connectto();
  send(slow, get.data(), get.size(), MSG_NOSIGNAL);
  std::string got;
  while (true) {
    pollfd p{slow, POLLIN, 0};
    if (poll(&p, 1, 3000) <= 0) break;
    const ssize_t n = recv(slow, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    got.append(buffer, static_cast<std::size_t>(n));
    const std::size_t headEnd = got.find("\r\n\r\n");
    if (headEnd != std::string::npos && got.size() - headEnd - 4 >= big->size()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  const std::size_t headEnd = got.find("\r\n\r\n");
  ASSERT_NE(headEnd, std::string::npos);
  EXPECT_NE(got.find("Content-Length: 8388608\r\n"), std::string::npos);
  EXPECT_TRUE(got.compare(headEnd + 4, std::string::npos, *big) == 0) << got.size();
  close(slow);
}

TEST_F(LiveServer, StoppingSendsTheAnswersUnderWayAndClosesIdleConnections) {
  HeldAnswers answers;
  start(answers.handler(), Limits());
  const int idle = connectto();
  const int waiting = connectto();
  const std::string post = "POST /p HTTP/1.1\r\nContent-Length: 2\r\n\r\nab";
  send(waiting, post.data(), post.size(), MSG_NOSIGNAL);
  answers.awaitOne();

  // Asked to stop while the answer is being worked out (a post being committed): the answer is
  // still sent, and the connection then closed; an idle connection is closed at once.
  server->stop();
  EXPECT_EQ(drain(idle, 3000), "<closed>");
  answers.answerAll("committed");
  const std::string got = undated(drain(waiting, 3000));
  EXPECT_EQ(got.rfind("HTTP/1.1 200 OK\r\nConnection: close\r\n", 0), 0u) << got;
  EXPECT_NE(got.find("\r\n\r\ncommitted<closed>"), std::string::npos) << got;
  close(idle);
  close(waiting);
  runner.join();  // and serving ends once nothing is under way
}

TEST_F(LiveServer, StoppingWaitsForAnAnswerOnlySoLong) {
  HeldAnswers answers;
  Limits limits;
  limits.draintimeout = std::chrono::milliseconds(300);
  start(answers.handler(), limits);
  const int waiting = connectto();
  const std::string get = "GET /never HTTP/1.1\r\n\r\n";
  send(waiting, get.data(), get.size(), MSG_NOSIGNAL);
  answers.awaitOne();
  server->stop();
  runner.join();
  EXPECT_EQ(drain(waiting, 3000), "<closed>");
  answers.answerAll("too late");  // goes nowhere, harms nothing
  close(waiting);
}

}  // namespace
