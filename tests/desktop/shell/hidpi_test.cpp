// The program on a screen with two device pixels to the pixel (a scale factor of 2): the board's
// pictures are the ones drawn at twice the size, pixel for pixel, and a window that would not fit
// a small screen's work area fits it and scrolls.
//
// Runs in a process of its own: the scale factor and the screens are fixed before the
// application starts. Two offscreen screens: "big" (1200 x 800 pixels at scale 2) and "small"
// (400 x 300, smaller than the help window).

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryFile>

#include "controls/flatpanel.h"
#include "controls/selbutton.h"
#include "game/board.h"
#include "shell/boardparts.h"
#include "shell/boardscale.h"
#include "shellsupport.h"
#include "stats/tallylistform.h"
#include "windows/aboutform.h"
#include "windows/helpform.h"

namespace {

QScreen* screennamed(const QString& name) {
  for (QScreen* screen : QGuiApplication::screens())
    if (screen->name() == name) return screen;
  return nullptr;
}

// Device pixels of a grab that differ from a picture's, over the picture's opaque pixels.
int differing(const QImage& grab, const QPoint& at, const QImage& picture) {
  int differ = 0;
  for (int y = 0; y < picture.height(); ++y)
    for (int x = 0; x < picture.width(); ++x)
      if (qAlpha(picture.pixel(x, y)) == 255 &&
          grab.pixel(at + QPoint(x, y)) != picture.pixel(x, y))
        ++differ;
  return differ;
}

}  // namespace

using TwiceDense = ShellTest;

TEST_F(TwiceDense, TheBoardsPicturesAreTheTwiceDrawnOnes) {
  ASSERT_EQ(qApp->devicePixelRatio(), 2.0);
  auto w = makewindow();
  EXPECT_EQ(w->devicePixelRatioF(), 2.0);
  clickat(part(w.get(), "button_namecancel"));
  clickat(part(w.get(), "button_start"));
  // Laid out as at scale 1: the same places, in pixels twice as small.
  EXPECT_EQ(part(w.get(), "shape_35")->geometry(), QRect(503, 8, 66, 34));

  const QPixmap grabbed = w->grab();
  ASSERT_EQ(grabbed.devicePixelRatio(), 2.0);
  const QImage shown = grabbed.toImage().convertToFormat(QImage::Format_ARGB32);
  for (int number = 1; number <= 28; ++number) {
    QWidget* b = part(w.get(), QStringLiteral("bone_%1").arg(number));
    EXPECT_EQ(differing(shown, b->mapTo(w.get(), QPoint()) * 2, twicebone(number)), 0)
        << "bone " << number;
  }
  const auto picture = [&](const char* name, const char* path) {
    return differing(shown, part(w.get(), name)->mapTo(w.get(), QPoint()) * 2, pixels(path));
  };
  EXPECT_EQ(picture("button_start", ":/images/button_startgame@2x.png"), 0);
  // The time bar's frame, where the bar and its caption do not cover it: its top rows.
  const QImage frame = pixels(":/images/timeframe@2x.png");
  EXPECT_EQ(differing(shown, part(w.get(), "Image1")->mapTo(w.get(), QPoint()) * 2,
                      frame.copy(0, 0, frame.width(), 4)),
            0);
  EXPECT_EQ(part<QLabel>(w.get(), "image_logo")->pixmap().devicePixelRatio(), 2.0);
  EXPECT_EQ(part<QLabel>(w.get(), "Image2")->pixmap().size(), QSize(138, 554));
}

TEST_F(TwiceDense, ThePanelsButtonsShowTheirTwiceDrawnCaptions) {
  auto w = makewindow();
  const auto shows = [&](const char* name, const char* path) {
    const QImage shown = w->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    return differing(shown, part(w.get(), name)->mapTo(w.get(), QPoint()) * 2, pixels(path));
  };
  EXPECT_EQ(shows("button_namedone", ":/images/button_done@2x.png"), 0);
  EXPECT_EQ(shows("button_namecancel", ":/images/button_cancel@2x.png"), 0);
  clickat(part(w.get(), "button_namecancel"));
  clickat(part(w.get(), "button_start"));
  clickat(part(w.get(), "shape_1"));  // an empty slot, with no bone picked up: refused
  ASSERT_TRUE(part(w.get(), "panel_invalid")->isVisible());
  EXPECT_EQ(shows("image_ok", ":/images/button_ok@2x.png"), 0);
}

// Windows of 2360 x 1044 and 1792 x 1560 device pixels on the big screen: one side at its lowest
// for the board's scale, the other longer.
TEST_F(TwiceDense, TheBoardIsCentredOnBothAxesWithOneSideAtItsLowest) {
  auto w = makewindow();
  for (const QSize size : {QSize(1180, 522), QSize(896, 780)}) {
    w->resize(size);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->size() == size; }, 5000));
    const QMargins room = roomaround(w.get());
    EXPECT_LE(std::abs(room.left() - room.right()), 1) << size.width() << "x" << size.height();
    EXPECT_LE(std::abs(room.top() - room.bottom()), 1) << size.width() << "x" << size.height();
    EXPECT_GT(std::max(room.left(), room.top()), 0) << "larger than the board on neither side";
  }
}

TEST_F(TwiceDense, AWindowThatWouldNotFitTheWorkAreaFitsAndScrolls) {
  QScreen* big = screennamed("big");
  QScreen* small = screennamed("small");
  ASSERT_TRUE(big && small) << "the two screens of the test's configuration";
  ASSERT_EQ(small->availableGeometry().size(), QSize(400, 300));

  // On the big screen the help window is as designed.
  QWidget owner;
  owner.resize(200, 100);
  owner.move(big->geometry().topLeft() + QPoint(50, 50));
  owner.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
  Tabout about(&owner);
  Thelp help(&owner, &about);
  help.showforward();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&help));
  EXPECT_EQ(help.size(), QSize(523, 431));
  EXPECT_EQ(help.findChild<QScrollArea*>(), nullptr) << "nothing scrolls where it fits";
  help.close();

  // Over a window on the small screen it fits that screen's work area and scrolls.
  owner.move(small->geometry().topLeft() + QPoint(50, 50));
  QTRY_COMPARE(owner.screen(), small);
  help.showforward();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&help));
  EXPECT_EQ(help.frameGeometry().size(), QSize(400, 300)) << "its frame included";
  EXPECT_TRUE(small->availableGeometry().contains(help.frameGeometry()));
  auto* area = help.findChild<QScrollArea*>();
  ASSERT_NE(area, nullptr);
  EXPECT_EQ(area->widget()->size(), QSize(523, 431)) << "the content keeps its layout";
  EXPECT_GT(area->verticalScrollBar()->maximum(), 0);
  EXPECT_GT(area->horizontalScrollBar()->maximum(), 0);
  EXPECT_EQ(help.panel_side->geometry(), QRect(0, 0, 137, 431));
  EXPECT_TRUE(help.panel_side->isVisible());
  // Scrolled to its foot, the Done button is there to press.
  area->ensureWidgetVisible(help.button_done);
  QTest::mouseClick(help.button_done, Qt::LeftButton);
  EXPECT_FALSE(help.isVisible());

  // The About window fits the small screen as it is.
  about.showforward();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
  EXPECT_EQ(about.size(), QSize(304, 193));
  // Its logo, the 2x picture, takes the place of the 1x one.
  EXPECT_EQ(about.Image1->geometry(), QRect(18, 8, 265, 66));
  EXPECT_EQ(about.Image1->pixmap().devicePixelRatio(), 2.0);
  EXPECT_EQ(about.findChild<QScrollArea*>(), nullptr);
}

TEST_F(TwiceDense, TheTallyWindowFitsTheMainWindowsScreen) {
  QScreen* small = screennamed("small");
  ASSERT_NE(small, nullptr);
  QWidget owner;
  owner.resize(200, 100);
  owner.move(small->geometry().topLeft() + QPoint(20, 20));
  owner.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
  QTRY_COMPARE(owner.screen(), small);
  Ttallylist tally(&owner, dir.filePath("pipshifttally.tld"));
  tally.showforward();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&tally));
  EXPECT_EQ(tally.width(), 342);
  EXPECT_EQ(tally.frameGeometry().height(), 300);
  ASSERT_NE(tally.findChild<QScrollArea*>(), nullptr);
  EXPECT_EQ(tally.findChild<QScrollArea*>()->widget()->size(), QSize(342, 425));
}

TEST_F(TwiceDense, OnAScreenSmallerThanTheBoardTheMainWindowFitsAndTheBoardShrinks) {
  QScreen* small = screennamed("small");
  ASSERT_NE(small, nullptr);
  auto w = makewindow();
  w->setbounds(QRect(small->geometry().topLeft() + QPoint(1, 1), QSize(300, 200)));
  QTRY_COMPARE(w->screen(), small);
  w->resize(250, 150);  // smaller than any window may be
  QTRY_VERIFY(w->clientsize().width() > 250);
  EXPECT_TRUE(small->availableGeometry().size().width() >= w->frameGeometry().width());
  EXPECT_TRUE(small->availableGeometry().size().height() >= w->frameGeometry().height());
  EXPECT_LT(w->boardscale()->scale(), 1.0);
  // The board still fits inside the client area, whole.
  QWidget* board = part(w.get(), "panel_board");
  EXPECT_TRUE(w->centralWidget()->rect().contains(board->geometry()))
      << board->geometry().width() << "x" << board->geometry().height() << " at " << board->x()
      << "," << board->y() << " in " << w->centralWidget()->width() << "x"
      << w->centralWidget()->height() << " scale " << w->boardscale()->scale();
}

int main(int argc, char** argv) {
  // Two screens with the device pixels of 1200 x 800 and 400 x 300 pixels at a scale of 2.
  QTemporaryFile config(QDir::tempPath() + QStringLiteral("/pipshift-screens-XXXXXX.json"));
  if (!config.open()) return 1;
  config.write(R"({"screens": [
    {"name": "big", "x": 0, "y": 0, "width": 2400, "height": 1600,
     "logicalDpi": 96, "logicalBaseDpi": 96},
    {"name": "small", "x": 2400, "y": 0, "width": 800, "height": 600,
     "logicalDpi": 96, "logicalBaseDpi": 96}]})");
  config.flush();
  qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + config.fileName().toLocal8Bit());
  qputenv("QT_SCALE_FACTOR", "2");
  QApplication app(argc, argv);
  QApplication::setApplicationName("Pipshift");
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
