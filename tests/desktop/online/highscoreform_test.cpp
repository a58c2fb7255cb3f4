#include "online/highscoreform.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>
#include <QUrlQuery>

#include "controls/flatpanel.h"
#include "controls/imagebutton.h"
#include "controls/url.h"
#include "htmlview/htmlview.h"
#include "online/httpget.h"
#include "tests/desktop/htmlview/linkpoint.h"
#include "tests/desktop/online/scoreserver.h"
#include "tests/support/recordingdesktop.h"
#include "tests/support/recordingopener.h"

namespace {

class HighScoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.start());
    window = std::make_unique<Thighscore>(server.base());
  }

  template <typename T>
  T* part(const char* name) {
    T* found = window->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
  }
  THTTPGet* getit() { return part<THTTPGet>("getit"); }
  THTTPGet* sendit() { return part<THTTPGet>("sendit"); }
  THTMLView* view() { return part<THTMLView>("displayhtml"); }
  bool shows(const QString& text) { return view()->toPlainText().contains(text); }

  // Until both fetches are idle again, their completions (if any) delivered.
  bool settled() {
    return waitfor([&] { return !getit()->busy() && !sendit()->busy(); });
  }

  RecordingDesktop recorder;
  ScoreServer server;
  std::unique_ptr<Thighscore> window;
};

}  // namespace

TEST_F(HighScoreTest, LayoutIsTheHighScoreWindow) {
  EXPECT_EQ(window->windowTitle(), "Pipshift - High Scores");
  EXPECT_EQ(window->size(), QSize(603, 561));
  EXPECT_EQ(window->minimumSize(), window->maximumSize()) << "the border is fixed";
  EXPECT_FALSE(window->isModal());
  EXPECT_EQ(window->palette().color(QPalette::Window), QColor(0x34, 0x41, 0x43));
  EXPECT_EQ(window->font().family(), "MS Sans Serif");
  EXPECT_EQ(window->font().pixelSize(), 11);

  QLabel* logo = part<QLabel>("Image1");
  EXPECT_EQ(logo->geometry(), QRect(8, 8, 88, 102));
  EXPECT_FALSE(logo->pixmap().isNull()) << "the logo picture is missing";
  QLabel* maker = part<QLabel>("Label1");
  EXPECT_EQ(maker->text(), "Quorvel Software");
  EXPECT_EQ(maker->pos(), QPoint(8, 544));
  EXPECT_EQ(maker->palette().color(QPalette::WindowText), QColor(0x92, 0x94, 0xC4));

  TFlatPanel* panel = part<TFlatPanel>("panel_main");
  EXPECT_EQ(panel->geometry(), QRect(112, 8, 481, 507));
  EXPECT_EQ(panel->color(), QColor(0x40, 0x24, 0xAE));
  EXPECT_EQ(panel->colorHighLight(), QColor(Qt::white));
  EXPECT_EQ(panel->colorShadow(), QColor(Qt::white));
  EXPECT_EQ(view()->parentWidget(), panel);
  EXPECT_EQ(view()->geometry(), QRect(1, 1, 479, 505));

  TImageButton* done = part<TImageButton>("button_done");
  EXPECT_EQ(done->geometry(), QRect(467, 518, 132, 41));
  EXPECT_TRUE(done->haspicture());
  EXPECT_EQ(part<TURL>("URL1")->URLType(), utnone);
}

TEST_F(HighScoreTest, AcceptedPostAnnouncesItselfThenShowsTheList) {
  server.listreply = ScoreServer::page("<p>1. Ann 412</p>");
  bool visibleatsignal = true;
  bool listrequestedatsignal = true;
  QObject::connect(window.get(), &Thighscore::postaccepted, [&] {
    visibleatsignal = window->isVisible();
    listrequestedatsignal = getit()->busy();
  });
  QSignalSpy accepted(window.get(), &Thighscore::postaccepted);

  window->postscore("Big Jo", "12/7/26", "412");
  ASSERT_TRUE(waitfor([&] { return shows("1. Ann 412"); }));
  EXPECT_EQ(accepted.count(), 1);
  // The main window hears of the post before anything else happens.
  EXPECT_FALSE(visibleatsignal);
  EXPECT_FALSE(listrequestedatsignal);
  EXPECT_TRUE(window->isVisible());
  ASSERT_EQ(server.targets().size(), 2);
  EXPECT_EQ(server.targets()[0], "/cgi-bin/pipshift.cgi?name=Big%20Jo&date=12/7/26&score=412");
  EXPECT_EQ(server.targets()[1], "/counter/pipshift.shtml");
}

TEST_F(HighScoreTest, ForgedFieldsInTheNameStayInTheName) {
  window->postscore("x&score=800", "12.7.26", "12");
  ASSERT_TRUE(waitfor([&] { return server.posts() == 1; }));
  const QUrlQuery query(QUrl::fromEncoded(server.targets()[0]));
  EXPECT_EQ(query.queryItemValue("name", QUrl::FullyDecoded), "x&score=800");
  EXPECT_EQ(query.allQueryItemValues("score"), QStringList{"12"});
  EXPECT_EQ(query.queryItemValue("date", QUrl::FullyDecoded), "12.7.26");
  EXPECT_TRUE(settled());
}

// A refusal (the post limit, a bad field, the server's database down) stored nothing: it is
// reported as such, never taken for an accepted post, and no list is fetched for it.
TEST_F(HighScoreTest, ARefusedPostIsReportedAndNeverTakenForAccepted) {
  QSignalSpy accepted(window.get(), &Thighscore::postaccepted);
  QSignalSpy refused(window.get(), &Thighscore::postrefused);
  int answers = 0;
  for (const QByteArray& reply :
       {QByteArray("HTTP/1.0 500 Internal Server Error\r\n\r\n<h1>Score not stored</h1>"),
        QByteArray("HTTP/1.0 429 Too Many Requests\r\nRetry-After: 30\r\n\r\n<p>later</p>"),
        QByteArray("HTTP/1.0 400 Bad Request\r\nContent-Length: 0\r\n\r\n"),
        QByteArray("HTTP/1.0 302 Found\r\nLocation: /\r\n\r\nmoved")}) {
    server.postreply = reply;
    window->postscore("Guest", "1/2/05", "7");
    ++answers;
    ASSERT_TRUE(waitfor([&] { return refused.count() == answers; })) << reply.constData();
    ASSERT_TRUE(settled());
  }
  EXPECT_EQ(accepted.count(), 0);
  EXPECT_EQ(server.lists(), 0);
  EXPECT_FALSE(window->isVisible());

  // Any 2xx answer with a body is a stored score.
  server.postreply = "HTTP/1.0 201 Created\r\n\r\nstored";
  window->postscore("Guest", "1/2/05", "7");
  ASSERT_TRUE(waitfor([&] { return accepted.count() == 1; }));
  EXPECT_EQ(refused.count(), answers);
  EXPECT_TRUE(settled());
}

// Until the first page is in, the view says what is going on instead of staying blank.
TEST_F(HighScoreTest, TheViewSaysItIsFetchingThenThatTheListCannotBeReached) {
  server.holdlist = true;
  server.listreply = ScoreServer::page("<p>the list</p>");
  window->loadit();
  EXPECT_TRUE(shows("Fetching the high-score list..."));
  ASSERT_TRUE(waitfor([&] { return server.lists() == 1; }));
  server.releaselists();
  ASSERT_TRUE(waitfor([&] { return shows("the list"); }));
  EXPECT_FALSE(shows("Fetching"));
  EXPECT_TRUE(settled());

  Thighscore nowhere(QStringLiteral("http://127.0.0.1:1/"));
  auto* view = nowhere.findChild<THTMLView*>("displayhtml");
  auto* fetch = nowhere.findChild<THTTPGet*>("getit");
  nowhere.loadit();
  EXPECT_TRUE(view->toPlainText().contains("Fetching the high-score list..."));
  ASSERT_TRUE(waitfor([&] { return !fetch->busy(); }));
  EXPECT_EQ(view->toPlainText(),
            "The high-score list could not be reached at "
            "http://127.0.0.1:1/counter/pipshift.shtml.");
  // The next try says it is fetching again; a page, when one comes, replaces either.
  nowhere.loadit();
  EXPECT_TRUE(view->toPlainText().contains("Fetching"));
  ASSERT_TRUE(waitfor([&] { return !fetch->busy(); }));
  nowhere.getitDoneString(fetch, "<p>at last</p>");
  EXPECT_EQ(view->toPlainText(), "at last");
}

TEST_F(HighScoreTest, FailedPostRaisesNothing) {
  QSignalSpy accepted(window.get(), &Thighscore::postaccepted);
  server.postreply = "HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n";
  window->postscore("Guest", "1/2/05", "7");
  ASSERT_TRUE(waitfor([&] { return server.posts() == 1; }));
  ASSERT_TRUE(settled());
  EXPECT_EQ(accepted.count(), 0);
  EXPECT_FALSE(window->isVisible());
  EXPECT_EQ(server.lists(), 0);

  // Nobody listening at all.
  Thighscore nowhere(QStringLiteral("http://127.0.0.1:1/"));
  QSignalSpy nothing(&nowhere, &Thighscore::postaccepted);
  nowhere.postscore("Guest", "1/2/05", "7");
  auto* fetch = nowhere.findChild<THTTPGet*>("sendit");
  ASSERT_TRUE(waitfor([&] { return !fetch->busy(); }));
  EXPECT_EQ(nothing.count(), 0);
  EXPECT_FALSE(nowhere.isVisible());
}

TEST_F(HighScoreTest, SecondLoadWhileBusyStartsNoSecondFetch) {
  server.holdlist = true;
  server.listreply = ScoreServer::page("<p>first answer</p>");
  window->loadit();
  window->showforward();
  ASSERT_TRUE(waitfor([&] { return server.lists() == 1; }));
  window->loadit();
  window->showforward();
  EXPECT_TRUE(window->isVisible());
  server.releaselists();
  ASSERT_TRUE(waitfor([&] { return shows("first answer"); }));
  ASSERT_TRUE(settled());
  EXPECT_EQ(server.lists(), 1);
}

TEST_F(HighScoreTest, PageArrivingAfterCloseIsShownOnReopening) {
  window->showforward();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  const QPoint place = window->pos();

  server.holdlist = true;
  server.listreply = ScoreServer::page("<p>late page</p>");
  window->loadit();
  ASSERT_TRUE(waitfor([&] { return server.lists() == 1; }));
  QTest::mouseClick(part<TImageButton>("button_done"), Qt::LeftButton);
  EXPECT_FALSE(window->isVisible());
  server.releaselists();
  ASSERT_TRUE(waitfor([&] { return shows("late page"); }));
  EXPECT_FALSE(window->isVisible()) << "a page arriving must not open the window";

  // Reopened: the page that came meanwhile shows until the next one arrives.
  server.listreply = ScoreServer::page("<p>next page</p>");
  window->loadit();
  window->showforward();
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(shows("late page"));
  EXPECT_EQ(window->pos(), place);
  ASSERT_TRUE(waitfor([&] { return server.lists() == 2; }));
  server.releaselists();
  EXPECT_TRUE(waitfor([&] { return shows("next page"); }));
  EXPECT_TRUE(settled());
}

TEST_F(HighScoreTest, FailedListKeepsTheEarlierPage) {
  window->getitDoneString(nullptr, "<p>earlier</p>");
  server.listreply = "HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n";
  window->loadit();
  ASSERT_TRUE(waitfor([&] { return server.lists() == 1; }));
  ASSERT_TRUE(settled());
  EXPECT_TRUE(shows("earlier"));
}

TEST_F(HighScoreTest, LinksGoToTheDesktopAsWebAddressesOnly) {
  window->showforward();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  server.listreply = ScoreServer::page(
      "<p><a href=\"http://www.quorvel.example/Pipshift\">site</a></p>"
      "<p><a href=\"scores/all time.html\">relative</a></p>"
      "<p><a href=\"file:///usr/bin/xterm\">local</a></p>"
      "<p><a href=\"mailto:games@quorvel.example\">mail</a></p>"
      "<p><a href=\"#top\">anchor</a></p>");
  window->loadit();
  ASSERT_TRUE(waitfor([&] { return shows("relative"); }));
  for (const char* text : {"site", "relative", "local", "mail", "anchor"}) {
    const QPoint at = linkpoint(*view(), text);
    ASSERT_GE(at.x(), 0) << text;
    QTest::mouseClick(view()->viewport(), Qt::LeftButton, {}, at);
  }
  EXPECT_EQ(recorder.opened, QStringList({"http://www.quorvel.example/Pipshift",
                                          server.base() + "counter/scores/all%20time.html",
                                          "mailto:games@quorvel.example"}));
  EXPECT_TRUE(shows("relative")) << "the view followed a link itself";
  EXPECT_TRUE(settled());
}

TEST(HighScoreLinks, OnlyWebAndMailAddressesLeaveTheProgram) {
  const QString page = "http://scores.example/counter/pipshift.shtml";
  const std::pair<const char*, const char*> followed[] = {
      {"http://www.quorvel.example/Pipshift", "http://www.quorvel.example/Pipshift"},
      {"HTTPS://x.example/a%41", "HTTPS://x.example/a%41"},
      {"http://http://host/x", "http://http://host/x"},
      {"mailto:games@quorvel.example", "mailto:games@quorvel.example"},
      {" http://x.example/ ", "http://x.example/"},
      // Relative links are the score server's own pages.
      {"scores/all time.html", "http://scores.example/counter/scores/all%20time.html"},
      {"../index.html", "http://scores.example/index.html"},
      {"?page=2", "http://scores.example/counter/pipshift.shtml?page=2"},
      {"/usr/bin/xterm", "http://scores.example/usr/bin/xterm"},
      {"//other.example/x", "http://other.example/x"},
  };
  for (auto [link, want] : followed) EXPECT_EQ(Thighscore::linkaddress(link, page), want) << link;

  for (const char* link :
       {"file:///usr/bin/xterm", "FILE:/etc/passwd", "smb://host/share", "javascript:alert(1)",
        "ftp://x.example/", "data:text/html,hi", "C:\\Windows\\calc.exe", "telnet:host",
        "http://x.example/\nfile:///etc/passwd", "vbscript:x"})
    EXPECT_EQ(Thighscore::linkaddress(link, page), "") << link;
  EXPECT_EQ(Thighscore::schemeof("a/b:c"), "") << "a scheme has no slash";
  EXPECT_EQ(Thighscore::schemeof("Mailto:x"), "mailto");
}

// Through the real desktop adapter: a hostile page's click on a local program never reaches the
// desktop's opener, a web address does.
TEST(HighScoreLinks, TheDesktopsOpenerSeesOnlyTheWebAddress) {
  RecordingOpener opener;
  ASSERT_TRUE(opener.ready());
  ScoreServer server;
  ASSERT_TRUE(server.start());
  Thighscore window(server.base());
  window.showforward();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  auto* view = window.findChild<THTMLView*>("displayhtml");
  window.getitDoneString(nullptr,
                         "<p><a href=\"file:///usr/bin/xterm\">local</a></p>"
                         "<p><a href=\"/usr/bin/xterm\">path</a></p>"
                         "<p><a href=\"http://www.quorvel.example/\">site</a></p>");
  auto click = [&](const char* text) {
    const QPoint at = linkpoint(*view, text);
    ASSERT_GE(at.x(), 0) << text;
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
  };
  click("local");
  click("path");
  // One call on record at a time, so that the record keeps the order of the clicks.
  ASSERT_EQ(opener.waitforcalls(1).size(), 1);
  click("site");
  const QList<QStringList> want = {{server.base() + "usr/bin/xterm"},
                                   {"http://www.quorvel.example/"}};
  EXPECT_EQ(opener.waitforcalls(2), want);
}

TEST(HighScorePageText, DecodesAsThePageSays) {
  EXPECT_EQ(Thighscore::pagetext("Zo\xc3\xab"), QString::fromUtf8("Zo\xc3\xab"));
  // Not UTF-8 and nothing declared: taken as Latin-1 rather than shown as replacement marks.
  EXPECT_EQ(Thighscore::pagetext("Zo\xeb"), QStringLiteral("Zo\u00eb"));
  EXPECT_EQ(Thighscore::pagetext("<meta charset=\"iso-8859-1\"><p>\xe9</p>"),
            QStringLiteral("<meta charset=\"iso-8859-1\"><p>\u00e9</p>"));
  EXPECT_EQ(Thighscore::pagetext(QByteArray("a\0b", 3)).size(), 3);
}
