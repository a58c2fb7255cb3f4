#include "htmlview/htmlview.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "tests/desktop/htmlview/linkpoint.h"
#include "tests/support/localhttpserver.h"

namespace {

QString longpage(const QString& word, int lines = 300) {
  QString page = QStringLiteral("<html><body><p>top of %1</p>").arg(word);
  for (int i = 0; i < lines; ++i) page += QStringLiteral("<p>%1 line %2</p>").arg(word).arg(i);
  return page + QStringLiteral("<a name=\"bottom\"></a><p>end of %1</p></body></html>").arg(word);
}

class HtmlViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    view.resize(479, 505);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  }

  // Records every link click; handle decides what the receiver answers.
  void recordclicks(bool handle) {
    QObject::connect(&view, &THTMLView::OnHotSpotClick,
                     [this, handle](QObject* sender, const QString& src, bool& handled) {
                       clicks.push_back({sender, src, handled});
                       handled = handle;
                     });
  }

  void click(const QString& linktext) {
    const QPoint at = linkpoint(view, linktext);
    ASSERT_GE(at.x(), 0) << linktext.toStdString();
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, at);
  }

  struct Click {
    QObject* sender;
    QString src;
    bool handledonentry;
  };
  THTMLView view;
  std::vector<Click> clicks;
};

}  // namespace

TEST_F(HtmlViewTest, LoadReplacesThePageAndShowsItFromTheTop) {
  view.LoadFromString(longpage("first"));
  QScrollBar* bar = view.verticalScrollBar();
  ASSERT_GT(bar->maximum(), 0);
  bar->setValue(bar->maximum());
  view.moveCursor(QTextCursor::End);

  view.LoadFromString(longpage("second"), "");
  EXPECT_EQ(bar->value(), 0);
  EXPECT_EQ(view.textCursor().position(), 0);
  EXPECT_FALSE(view.textCursor().hasSelection());
  EXPECT_TRUE(view.toPlainText().contains("end of second"));
  EXPECT_FALSE(view.toPlainText().contains("first"));
  EXPECT_TRUE(view.documentname().isEmpty());
  EXPECT_FALSE(view.isBackwardAvailable());
}

TEST_F(HtmlViewTest, DefaultsAreTheHighScoreLook) {
  view.LoadFromString("<p>plain</p><pre>fixed</pre><p><a href=\"x.html\">link</a></p>");
  EXPECT_EQ(view.document()->defaultFont().family(), "Times New Roman");
  EXPECT_EQ(view.palette().color(QPalette::Base), QColor(Qt::white));
  EXPECT_EQ(view.palette().color(QPalette::Text), QColor(Qt::blue));
  EXPECT_EQ(linkcolour(view, "link"), QColor(Qt::red));

  QTextCursor pre = view.document()->find("fixed");
  ASSERT_FALSE(pre.isNull());
  EXPECT_TRUE(pre.charFormat().fontFamilies().toStringList().contains("Arial"));

  EXPECT_EQ(view.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_NE(view.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_TRUE(view.textInteractionFlags() & Qt::TextSelectableByMouse);
  EXPECT_FALSE(view.openLinks());
}

TEST_F(HtmlViewTest, LinkClicksAreReportedAsWrittenWithHandledFalse) {
  recordclicks(true);
  view.LoadFromString(
      "<p><a href=\"scores page.html?x=1&amp;y=2\">relative</a></p>"
      "<p><a href=\"HTTP://Example.COM/Path/A%20b\">absolute</a></p>");
  click("relative");
  click("absolute");
  ASSERT_EQ(clicks.size(), 2u);
  EXPECT_EQ(clicks[0].sender, &view);
  EXPECT_EQ(clicks[0].src, "scores page.html?x=1&y=2");
  EXPECT_FALSE(clicks[0].handledonentry);
  EXPECT_EQ(clicks[1].src, "HTTP://Example.COM/Path/A%20b");
  EXPECT_FALSE(clicks[1].handledonentry);
}

TEST_F(HtmlViewTest, InPageTargetIsFollowedOnlyWhenTheOwnerLeavesItUnhandled) {
  const QString page = QStringLiteral("<p><a href=\"#bottom\">down</a></p>") + longpage("page");

  recordclicks(true);
  view.LoadFromString(page);
  click("down");
  ASSERT_EQ(clicks.size(), 1u);
  EXPECT_EQ(view.verticalScrollBar()->value(), 0) << "a handled click moved the view";

  QObject::disconnect(&view, &THTMLView::OnHotSpotClick, nullptr, nullptr);
  recordclicks(false);
  view.LoadFromString(page);
  click("down");
  ASSERT_EQ(clicks.size(), 2u);
  EXPECT_EQ(clicks[1].src, "#bottom");
  EXPECT_GT(view.verticalScrollBar()->value(), 0);
}

TEST_F(HtmlViewTest, KeyboardActivationReportsTheRawTarget) {
  recordclicks(true);
  view.LoadFromString("<p>text <a href=\"my page.html\">keyed</a></p>");
  view.setFocus();
  QTest::keyClick(&view, Qt::Key_Tab);
  QTest::keyClick(&view, Qt::Key_Return);
  ASSERT_EQ(clicks.size(), 1u);
  EXPECT_EQ(clicks[0].src, "my page.html");
}

TEST_F(HtmlViewTest, VisitedLinksTurnSilverAndRedUnderTheMouse) {
  recordclicks(true);
  const QString page = QStringLiteral(
      "<p><a href=\"a.html\">first</a> and <a href=\"b.html\">second</a>"
      " and <a href=\"c.html\" style=\"color: #00ff00\">own</a></p>");
  view.LoadFromString(page);
  click("first");
  EXPECT_EQ(linkcolour(view, "first"), view.visitedcolor());
  EXPECT_EQ(linkcolour(view, "second"), QColor(Qt::red));

  QTest::mouseMove(view.viewport(), linkpoint(view, "first"));
  EXPECT_EQ(view.hoveredtarget(), "a.html");
  EXPECT_EQ(linkcolour(view, "first"), QColor(Qt::red));
  QTest::mouseMove(view.viewport(), linkpoint(view, "second"));
  EXPECT_EQ(linkcolour(view, "first"), view.visitedcolor());

  // Visited stays visited when the list is loaded again.
  view.LoadFromString(page);
  EXPECT_EQ(linkcolour(view, "first"), view.visitedcolor());
  // A colour the page chose is the page's business.
  click("own");
  EXPECT_EQ(linkcolour(view, "own"), QColor(Qt::green));
}

// Pictures, style sheets and the like come only from the program or the page itself: no
// request reaches the network, and no local file or device is read on a page's say-so.
TEST_F(HtmlViewTest, ReferencedResourcesAreNeverFetched) {
  LocalHttpServer server;
  ASSERT_TRUE(server.start());
  const QString base = server.url("/");

  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QImage picture(6, 6, QImage::Format_ARGB32);
  picture.fill(Qt::red);
  const QString file = dir.filePath("local.png");
  ASSERT_TRUE(picture.save(file));
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  picture.save(&buffer, "PNG");

  const QUrl local = QUrl::fromLocalFile(file);
  const QUrl inpage(QStringLiteral("data:image/png;base64,") + QString::fromLatin1(png.toBase64()));
  view.LoadFromString(QStringLiteral("<link rel=\"stylesheet\" href=\"%1s.css\">"
                                     "<p><img src=\"%1a.png\"><img src=\"%2\">"
                                     "<img src=\"file:///dev/zero\"><img src=\"%3\"></p>")
                          .arg(base, local.toString(), inpage.toString()));
  view.grab();
  QTest::qWait(300);  // room for any request to arrive

  EXPECT_EQ(server.connections(), 0);
  auto loaded = [&](const QUrl& url) {
    const QVariant value = view.document()->resource(QTextDocument::ImageResource, url);
    if (value.canConvert<QImage>() && !value.value<QImage>().isNull()) return true;
    return !QImage::fromData(value.toByteArray()).isNull();
  };
  EXPECT_FALSE(loaded(local)) << "a local file was read";
  EXPECT_FALSE(loaded(QUrl(base + "a.png")));
  EXPECT_TRUE(loaded(inpage)) << "pictures inside the page itself should show";
}

TEST_F(HtmlViewTest, HostilePagesAreShownWithoutHarm) {
  recordclicks(true);
  const auto repeat = [](const QString& part, int times) { return part.repeated(times); };
  const QString pages[] = {
      repeat("<div>", 20000) + "deep divs",
      repeat("<ul><li>", 10000) + "deep lists",
      repeat("<table><tr><td>", 40) + "deep tables",
      QString(200000, u'w'),
      "<pre>" + QString(200000, u'p') + "</pre>",
      repeat("w<b></b>", 30000),
      repeat("<table border=1><tr><td>cell", 30) + repeat("</td></tr></table>", 30) + "closed",
      "<img src=\"data:image/png;base64,AAAA\" width=\"1000000\" height=\"1000000\">big",
      QString::fromLatin1(QByteArray("\0<a href='\0'>\xff\xfe<<<>>></a", 24)) + "bytes",
      "<p>unclosed <!-- comment <a href=\"x",
      "<a href='x>never closed <b><i><u>",
      repeat("<a href=\"l\">x</a>", 10000) + "many links",
  };
  for (const QString& page : pages) {
    view.LoadFromString(page);
    view.grab();
    EXPECT_EQ(view.verticalScrollBar()->value(), 0);
  }
  EXPECT_TRUE(view.toPlainText().endsWith("many links"));
  EXPECT_TRUE(clicks.empty());
}

TEST_F(HtmlViewTest, OnlyAPageWithAnOverlongWordIsWrappedAnywhere) {
  view.LoadFromString("<p>" + QString(THTMLView::maxwordlength + 1, u'w') + "</p>");
  EXPECT_EQ(view.wordWrapMode(), QTextOption::WrapAnywhere);
  view.LoadFromString(QStringLiteral("<p>ordinary words</p>").repeated(500));
  EXPECT_EQ(view.wordWrapMode(), QTextOption::WrapAtWordBoundaryOrAnywhere);
}

TEST_F(HtmlViewTest, OversizedPageIsCutAndSaysSo) {
  QString page = QStringLiteral("<p>start</p><p>");
  page += QString(THTMLView::maxpagesize, u'w');
  page += QStringLiteral("</p><p>tail beyond the limit</p>");
  view.LoadFromString(page);
  const QString shown = view.toPlainText();
  EXPECT_TRUE(shown.startsWith("start"));
  EXPECT_FALSE(shown.contains("tail beyond the limit"));
  EXPECT_TRUE(shown.contains("cut short"));
}
