#include "online/httpget.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSet>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <functional>

#include "tests/support/localhttpserver.h"

namespace {

constexpr int kWaitMs = 20000;

struct Outcome {
  int done = 0;
  int errors = 0;
  QByteArray body;
};

// Starts the fetch and turns the event loop until the component is idle again.
Outcome fetch(THTTPGet& get) {
  Outcome o;
  const auto a =
      QObject::connect(&get, &THTTPGet::OnDoneString, [&o](THTTPGet*, const QByteArray& body) {
        ++o.done;
        o.body = body;
      });
  const auto b = QObject::connect(&get, &THTTPGet::OnError, [&o](THTTPGet*) { ++o.errors; });
  get.StartFetch();
  EXPECT_TRUE(QTest::qWaitFor([&] { return !get.busy(); }, kWaitMs));
  QObject::disconnect(a);
  QObject::disconnect(b);
  return o;
}

bool allworkersgone() {
  return QTest::qWaitFor([] { return THTTPGet::activeworkers() == 0; }, kWaitMs);
}

struct ParsedRequest {
  QByteArray line;
  QList<QByteArray> headers;  // sorted, so the order curl chooses does not matter
  QByteArray body;
};

ParsedRequest parse(const LocalHttpServer::Request& request) {
  const QByteArray& raw = request.bytes;
  ParsedRequest p;
  const qsizetype end = raw.indexOf("\r\n\r\n");
  EXPECT_GE(end, 0) << raw.constData();
  QList<QByteArray> lines = raw.left(end + 2).split('\n');
  lines.removeLast();  // what follows the last line feed
  p.line = lines.value(0).chopped(1);
  for (qsizetype i = 1; i < lines.size(); ++i) {
    EXPECT_TRUE(lines[i].endsWith('\r')) << "bare line feed in " << raw.constData();
    p.headers.append(lines[i].chopped(1));
  }
  std::sort(p.headers.begin(), p.headers.end());
  p.body = raw.mid(end + 4);
  return p;
}

QList<QByteArray> sorted(QList<QByteArray> list) {
  std::sort(list.begin(), list.end());
  return list;
}

class HttpGetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.start());
    server.answer("HTTP/1.0 200 OK\r\n\r\nok");
  }
  void TearDown() override {
    server.release("HTTP/1.0 200 OK\r\n\r\nlate");
    EXPECT_TRUE(allworkersgone());
  }
  QByteArray host() const { return "127.0.0.1:" + QByteArray::number(server.port()); }

  LocalHttpServer server;
};

TEST_F(HttpGetTest, GetSendsExactlyTheRequestLineAndHeaders) {
  THTTPGet get;
  get.setURL(server.url("/counter/PipShift.shtml?a=1&b=%20"));
  const Outcome o = fetch(get);
  EXPECT_EQ(o.done, 1);
  EXPECT_EQ(o.body, "ok");
  ASSERT_EQ(server.requests().size(), 1);
  const ParsedRequest r = parse(server.requests()[0]);
  EXPECT_EQ(r.line, "GET /counter/PipShift.shtml?a=1&b=%20 HTTP/1.0");
  EXPECT_EQ(r.headers, sorted({"Host: " + host(), "User-Agent: Orvandi HTTPGet", "Accept: */*",
                               "Cache-Control: no-cache", "Pragma: no-cache"}));
  EXPECT_TRUE(r.body.isEmpty());
}

TEST_F(HttpGetTest, PostSendsTheFormAndItsBody) {
  THTTPGet get;
  get.setURL(server.url("/cgi-bin/pipshift.cgi"));
  const QByteArray form = "name=Ann%20Lee&date=12%2F7%2F26&score=512";
  get.setPostQuery(form);
  const Outcome o = fetch(get);
  EXPECT_EQ(o.done, 1);
  ASSERT_EQ(server.requests().size(), 1);
  const ParsedRequest r = parse(server.requests()[0]);
  EXPECT_EQ(r.line, "POST /cgi-bin/pipshift.cgi HTTP/1.0");
  EXPECT_EQ(r.headers,
            sorted({"Host: " + host(), "User-Agent: Orvandi HTTPGet", "Accept: */*",
                    "Cache-Control: no-cache", "Pragma: no-cache",
                    "Content-Type: application/x-www-form-urlencoded", "Content-Length: 41"}));
  EXPECT_EQ(r.body, form);
}

TEST_F(HttpGetTest, PropertiesShapeTheHeaders) {
  THTTPGet get;
  get.setURL(server.url("/x"));
  get.setAgent("");
  get.setReferer("http://referrer.example/page");
  get.setAcceptTypes("text/html");
  get.setUseCache(true);
  get.setUserName("ann");
  get.setPassword("secret");
  EXPECT_EQ(fetch(get).done, 1);
  ASSERT_EQ(server.requests().size(), 1);
  const ParsedRequest r = parse(server.requests()[0]);
  EXPECT_EQ(r.line, "GET /x HTTP/1.0");
  // No agent line at all, one accept line, no cache bypass, basic credentials.
  EXPECT_EQ(r.headers,
            sorted({"Host: " + host(), "Accept: text/html", "Referer: http://referrer.example/page",
                    "Authorization: Basic " + QByteArray("ann:secret").toBase64()}));
}

TEST_F(HttpGetTest, UrlIsSplitAtTheFirstSlashWhateverThePrefixCase) {
  THTTPGet get;
  get.setURL("HTTP://" + host() + "/Pipshift/PipshiftVersion.TXT");
  EXPECT_EQ(fetch(get).done, 1);
  get.setURL("HtTp://" + host() + "/b");
  EXPECT_EQ(fetch(get).done, 1);
  get.setURL(host() + "/no/prefix");
  EXPECT_EQ(fetch(get).done, 1);
  ASSERT_EQ(server.requests().size(), 3);
  EXPECT_EQ(parse(server.requests()[0]).line, "GET /Pipshift/PipshiftVersion.TXT HTTP/1.0");
  EXPECT_EQ(parse(server.requests()[1]).line, "GET /b HTTP/1.0");
  EXPECT_EQ(parse(server.requests()[2]).line, "GET /no/prefix HTTP/1.0");
}

TEST_F(HttpGetTest, UnusableAddressesFailWithoutConnecting) {
  THTTPGet get;
  for (const QByteArray& url :
       {"http://" + host(), "http://" + host() + "?q=/x", "http://user@" + host() + "/x",
        QByteArray("http:///x"), QByteArray(""), QByteArray("http://127.0.0.1:notaport/x")}) {
    get.setURL(url);
    const Outcome o = fetch(get);
    EXPECT_EQ(o.errors, 1) << url.constData();
    EXPECT_EQ(o.done, 0) << url.constData();
  }
  EXPECT_EQ(server.connections(), 0);
}

TEST_F(HttpGetTest, BlanksAndControlCharactersCannotBreakTheRequestLine) {
  THTTPGet get;
  get.setURL(server.url("/cgi?name=A B\r\nX-Forged: 1&é"));
  EXPECT_EQ(fetch(get).done, 1);
  ASSERT_EQ(server.requests().size(), 1);
  const ParsedRequest r = parse(server.requests()[0]);
  EXPECT_EQ(r.line, "GET /cgi?name=A%20B%0D%0AX-Forged:%201&%C3%A9 HTTP/1.0");
  for (const QByteArray& h : r.headers) {
    EXPECT_FALSE(h.startsWith("X-Forged"));
  }
}

TEST_F(HttpGetTest, HeaderTextsWithLineBreaksAreRefused) {
  THTTPGet get;
  get.setURL(server.url("/x"));
  get.setReferer("http://a.example/\r\nX-Forged: 1");
  EXPECT_EQ(fetch(get).errors, 1);
  EXPECT_EQ(server.connections(), 0);
}

TEST_F(HttpGetTest, AnErrorPageIsDeliveredAsText) {
  const QByteArray page = "<html><body>Not Found</body></html>";
  server.answer("HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\nContent-Length: " +
                QByteArray::number(page.size()) + "\r\n\r\n" + page);
  THTTPGet get;
  get.setURL(server.url("/missing"));
  const Outcome o = fetch(get);
  EXPECT_EQ(o.done, 1);
  EXPECT_EQ(o.errors, 0);
  EXPECT_EQ(o.body, page);
}

TEST_F(HttpGetTest, AnEmptyBodyFailsWhateverTheStatus) {
  THTTPGet get;
  get.setURL(server.url("/x"));
  for (const QByteArray& reply :
       {QByteArray("HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n"),
        QByteArray("HTTP/1.0 200 OK\r\n\r\n"), QByteArray("HTTP/1.0 500 Oops\r\n\r\n"),
        QByteArray("HTTP/1.0 200 OK\r\nContent-Length: 12\r\n\r\n"), QByteArray("")}) {
    server.answer(reply);
    const Outcome o = fetch(get);
    EXPECT_EQ(o.errors, 1) << reply.constData();
    EXPECT_EQ(o.done, 0) << reply.constData();
  }
}

// A handler tells a refusal from silence by the status the server gave, body or none.
TEST_F(HttpGetTest, TheHandlersSeeTheStatusOfTheAnswerOrNoneAtAll) {
  THTTPGet get;
  QList<int> seen;
  QObject::connect(&get, &THTTPGet::OnDoneString,
                   [&](THTTPGet* sender, const QByteArray&) { seen << sender->status(); });
  QObject::connect(&get, &THTTPGet::OnError, [&](THTTPGet* sender) { seen << -sender->status(); });
  get.setURL(server.url("/x"));
  for (const QByteArray& reply :
       {QByteArray("HTTP/1.0 429 Too Many Requests\r\nRetry-After: 9\r\n\r\nslow down"),
        QByteArray("HTTP/1.0 500 Oops\r\n\r\n"), QByteArray("HTTP/1.0 201 Made\r\n\r\nmade"),
        QByteArray("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok")}) {
    server.answer(reply);
    get.StartFetch();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !get.busy(); }, kWaitMs));
  }
  EXPECT_EQ(seen, QList<int>({429, -500, 201, 200}));

  // Nobody listening: no answer, whatever came before.
  THTTPGet nowhere;
  int status = -1;
  QObject::connect(&nowhere, &THTTPGet::OnError, [&](THTTPGet* s) { status = s->status(); });
  nowhere.setURL(QStringLiteral("http://127.0.0.1:1/x"));
  nowhere.StartFetch();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !nowhere.busy(); }, kWaitMs));
  EXPECT_EQ(status, 0);
}

TEST_F(HttpGetTest, ABodyWithoutLengthIsReadToTheEndUnlessBinary) {
  server.answer("HTTP/1.0 200 OK\r\n\r\n1.0.0");
  THTTPGet get;
  get.setURL(server.url("/pipshift/pipshiftversion.txt"));
  Outcome o = fetch(get);
  EXPECT_EQ(o.done, 1);
  EXPECT_EQ(o.body, "1.0.0");

  get.setBinaryData(true);
  o = fetch(get);
  EXPECT_EQ(o.errors, 1);
  EXPECT_EQ(o.done, 0);

  server.answer("HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\n1.0.0");
  o = fetch(get);
  EXPECT_EQ(o.done, 1);
  EXPECT_EQ(o.body, "1.0.0");
}

TEST_F(HttpGetTest, ZeroBytesAreDeliveredByteForByte) {
  const QByteArray body("a\0b\0\0c\0", 7);
  server.answer("HTTP/1.0 200 OK\r\n\r\n" + body);
  THTTPGet get;
  get.setURL(server.url("/bin"));
  const Outcome o = fetch(get);
  EXPECT_EQ(o.done, 1);
  EXPECT_EQ(o.body.size(), 7);
  EXPECT_EQ(o.body, body);

  server.answer(QByteArray("HTTP/1.0 200 OK\r\n\r\n\0", 20));
  EXPECT_EQ(fetch(get).body, QByteArray(1, '\0'));
}

TEST_F(HttpGetTest, AMalformedLengthIsIgnoredAndTheBodyDecides) {
  THTTPGet get;
  get.setURL(server.url("/x"));
  for (const char* length : {"abc", "-5", "12abc", "", "99999999999999999999999"}) {
    server.answer(QByteArray("HTTP/1.0 200 OK\r\nContent-Length: ") + length + "\r\n\r\nhello");
    const Outcome o = fetch(get);
    EXPECT_EQ(o.done, 1) << length;
    EXPECT_EQ(o.body, "hello") << length;
  }
  server.answer("HTTP/1.0 200 OK\r\nContent-Length: abc\r\n\r\n");
  const Outcome o = fetch(get);
  EXPECT_EQ(o.errors, 1);
  EXPECT_EQ(o.done, 0);
}

TEST_F(HttpGetTest, AnnouncedLengthEndsTheBodyEvenOnAnOpenConnection) {
  server.answer("HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nabcdef",
                /*close=*/false);
  THTTPGet get;
  THTTPGet::Limits limits;
  limits.fetchtimeout = std::chrono::milliseconds(kWaitMs * 4);  // must not be what ends it
  get.setLimits(limits);
  get.setURL(server.url("/x"));
  const Outcome o = fetch(get);
  EXPECT_EQ(o.done, 1);
  EXPECT_EQ(o.body, "abc");
}

TEST_F(HttpGetTest, BodiesBeyondTheLimitFail) {
  THTTPGet get;
  get.setURL(server.url("/big"));
  const QByteArray limit(8 * 1024 * 1024, 'x');

  server.answer("HTTP/1.0 200 OK\r\n\r\n" + limit);
  Outcome o = fetch(get);
  EXPECT_EQ(o.done, 1);
  EXPECT_EQ(o.body.size(), limit.size());

  server.answer("HTTP/1.0 200 OK\r\n\r\n" + limit + "y");
  o = fetch(get);
  EXPECT_EQ(o.errors, 1);
  EXPECT_EQ(o.done, 0);

  // An announced length beyond the limit is refused before the body is read.
  server.answer("HTTP/1.0 200 OK\r\nContent-Length: 8388609\r\n\r\nshort");
  o = fetch(get);
  EXPECT_EQ(o.errors, 1);
}

TEST_F(HttpGetTest, AServerThatNeverAnswersIsGivenUp) {
  server.holdall();
  THTTPGet get;
  THTTPGet::Limits limits;
  limits.fetchtimeout = std::chrono::milliseconds(300);
  get.setLimits(limits);
  get.setURL(server.url("/slow"));
  const Outcome o = fetch(get);
  EXPECT_EQ(o.errors, 1);
  EXPECT_EQ(o.done, 0);
}

TEST_F(HttpGetTest, ASecondStartWhileBusyChangesNothing) {
  server.holdall();
  THTTPGet get;
  Outcome o;
  QObject::connect(&get, &THTTPGet::OnDoneString, [&o](THTTPGet*, const QByteArray& body) {
    ++o.done;
    o.body = body;
  });
  QObject::connect(&get, &THTTPGet::OnError, [&o](THTTPGet*) { ++o.errors; });

  get.setURL(server.url("/first"));
  get.StartFetch();
  ASSERT_TRUE(get.busy());
  // The running worker keeps its own copy of the address.
  get.setURL(server.url("/second"));
  get.StartFetch();
  ASSERT_TRUE(QTest::qWaitFor([&] { return server.requests().size() == 1; }, kWaitMs));
  server.release("HTTP/1.0 200 OK\r\n\r\nfirst");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !get.busy(); }, kWaitMs));
  ASSERT_TRUE(allworkersgone());
  QCoreApplication::processEvents();

  EXPECT_EQ(o.done, 1);
  EXPECT_EQ(o.errors, 0);
  EXPECT_EQ(o.body, "first");
  EXPECT_EQ(server.connections(), 1);
  EXPECT_EQ(parse(server.requests()[0]).line, "GET /first HTTP/1.0");
}

TEST_F(HttpGetTest, HandlersRunOnTheUiThreadAndOnlyThenIsTheComponentIdle) {
  server.answer("HTTP/1.0 200 OK\r\n\r\npage");
  THTTPGet sendit;
  THTTPGet getit;
  sendit.setURL(server.url("/post"));
  getit.setURL(server.url("/list"));
  bool onUiThread = false;
  bool busyInHandler = false;
  bool restartIgnored = false;
  QObject::connect(&sendit, &THTTPGet::OnDoneString, [&](THTTPGet* sender, const QByteArray&) {
    onUiThread = QThread::currentThread() == QCoreApplication::instance()->thread();
    busyInHandler = sender->busy();
    sender->StartFetch();  // the component is still fetching: ignored
    restartIgnored = sender->busy() && THTTPGet::activeworkers() == 1;
    getit.StartFetch();  // another instance starts fine
  });
  Outcome list;
  QObject::connect(&getit, &THTTPGet::OnDoneString, [&](THTTPGet*, const QByteArray& body) {
    ++list.done;
    list.body = body;
  });

  sendit.StartFetch();
  ASSERT_TRUE(QTest::qWaitFor([&] { return list.done == 1 && !getit.busy(); }, kWaitMs));
  ASSERT_TRUE(allworkersgone());
  EXPECT_TRUE(onUiThread);
  EXPECT_TRUE(busyInHandler);
  EXPECT_TRUE(restartIgnored);
  EXPECT_FALSE(sendit.busy());
  EXPECT_EQ(list.body, "page");
  ASSERT_EQ(server.requests().size(), 2);
  EXPECT_EQ(parse(server.requests()[1]).line, "GET /list HTTP/1.0");
}

TEST_F(HttpGetTest, AbortReportsAFailureAndLeavesTheComponentReusable) {
  server.holdall();
  THTTPGet get;
  get.setURL(server.url("/x"));
  Outcome o;
  QObject::connect(&get, &THTTPGet::OnDoneString, [&o](THTTPGet*, const QByteArray&) { ++o.done; });
  QObject::connect(&get, &THTTPGet::OnError, [&o](THTTPGet*) { ++o.errors; });
  get.StartFetch();
  ASSERT_TRUE(QTest::qWaitFor([&] { return server.requests().size() == 1; }, kWaitMs));
  get.AbortFetch();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !get.busy(); }, kWaitMs));
  EXPECT_EQ(o.errors, 1);
  EXPECT_EQ(o.done, 0);

  server.answer("HTTP/1.0 200 OK\r\n\r\nagain");
  const Outcome again = fetch(get);
  EXPECT_EQ(again.done, 1);
  EXPECT_EQ(again.body, "again");
}

TEST_F(HttpGetTest, WaitThreadDispatchesWaitingEventsBeforeReturning) {
  THTTPGet get;
  get.setURL(server.url("/x"));
  get.setWaitThread(true);
  bool ran = false;
  QTimer::singleShot(0, [&ran] { ran = true; });
  get.StartFetch();
  EXPECT_TRUE(ran);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !get.busy(); }, kWaitMs));

  get.setWaitThread(false);
  ran = false;
  QTimer::singleShot(0, [&ran] { ran = true; });
  get.StartFetch();
  EXPECT_FALSE(ran);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !get.busy(); }, kWaitMs));
}

// Destroys components at every stage of a fetch. Nothing may crash, no event may reach a destroyed
// component, and every worker must end promptly instead of waiting for its server.
TEST_F(HttpGetTest, AComponentDestroyedMidFetchIsNeverTouchedAgain) {
  LocalHttpServer holding;
  ASSERT_TRUE(holding.start());
  holding.holdall();
  server.answer("HTTP/1.0 200 OK\r\n\r\nquick");

  for (int i = 0; i < 250; ++i) {
    const int stage = i % 6;
    auto* get = new THTTPGet;
    bool destroyed = false;
    int eventsAfterDestruction = 0;
    QObject::connect(get, &QObject::destroyed, [&destroyed] { destroyed = true; });
    QObject::connect(get, &THTTPGet::OnDoneString, [&](THTTPGet* sender, const QByteArray&) {
      if (destroyed) ++eventsAfterDestruction;
      if (stage == 4) delete sender;  // a handler that throws its own component away
    });
    QObject::connect(get, &THTTPGet::OnError, [&](THTTPGet*) {
      if (destroyed) ++eventsAfterDestruction;
    });
    get->setURL((stage == 1 || stage == 5 ? holding : server).url("/x"));
    const qsizetype heldBefore = holding.requests().size();
    get->StartFetch();

    switch (stage) {
      case 0:  // before the worker has done anything
        delete get;
        break;
      case 1:  // while the server holds its answer
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return holding.requests().size() > heldBefore; }, kWaitMs));
        delete get;
        break;
      case 2:  // racing the completion: a few turns of the loop, varying with the round
        for (int turns = 0; turns < i % 7; ++turns) QCoreApplication::processEvents();
        if (!destroyed) delete get;
        break;
      case 3:  // as soon as the worker may have begun
        QThread::yieldCurrentThread();
        delete get;
        break;
      case 4:  // the handler deletes it
        ASSERT_TRUE(QTest::qWaitFor([&] { return destroyed; }, kWaitMs));
        break;
      case 5:  // aborted, then deleted later while the abort is under way
        get->AbortFetch();
        get->deleteLater();
        break;
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(eventsAfterDestruction, 0) << "round " << i;
    if (stage == 5) {
      ASSERT_TRUE(QTest::qWaitFor([&] { return destroyed; }, kWaitMs));
    }
  }
  // Workers of destroyed components stop at their next checkpoint, held connections or not.
  EXPECT_TRUE(allworkersgone());
  holding.release("HTTP/1.0 200 OK\r\n\r\nheld");
}

}  // namespace

TEST(HttpGetSplit, KeepsThePortAndEncodesWhatWouldBreakTheRequestLine) {
  const HttpGetTarget target = httpgetsplit("HTTP://Scores.Example:8080/cgi bin/x?name=a\tb");
  EXPECT_TRUE(target.usable);
  EXPECT_EQ(target.host, "Scores.Example:8080");
  EXPECT_EQ(target.object, "/cgi%20bin/x?name=a%09b");
  EXPECT_FALSE(httpgetsplit("http://no-slash-here").usable);
  EXPECT_FALSE(httpgetsplit("http://user@host/x").usable);
  EXPECT_FALSE(httpgetsplit("/only/an/object").usable);
}
