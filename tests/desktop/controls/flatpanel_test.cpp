#include "controls/flatpanel.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QScreen>
#include <QTest>
#include <QWindow>

#include "tests/desktop/controls/paint_support.h"

using namespace painttest;

namespace {

const QColor kDefaultEdge(0xA0, 0x96, 0x83);

// A window whose background is a picture in which every pixel differs from its neighbours, so a
// face shown at the wrong offset cannot pass for the right one.
class PictureParent : public QWidget {
 public:
  PictureParent() {
    resize(240, 160);
    picture = QImage(size(), QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y)
      for (int x = 0; x < picture.width(); ++x)
        picture.setPixel(x, y, qRgb(x, y, (x * 7 + y) & 0xFF));
  }
  QImage picture;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.drawImage(0, 0, picture);
  }
};

class PaintCounter : public QObject {
 public:
  int paints = 0;

 protected:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++paints;
    return false;
  }
};

}  // namespace

TEST(FlatPanel, FaceTakesTheParentColourUntilOneIsSet) {
  QWidget parent;
  QPalette pal = parent.palette();
  pal.setColor(QPalette::Window, QColor(0x34, 0x41, 0x43));
  parent.setPalette(pal);
  TFlatPanel panel(&parent);
  panel.resize(40, 20);

  EXPECT_EQ(panel.color(), QColor(0x34, 0x41, 0x43));
  EXPECT_EQ(at(grabbed(panel), 20, 10), QColor(0x34, 0x41, 0x43));

  pal.setColor(QPalette::Window, QColor(0x10, 0x20, 0x30));
  parent.setPalette(pal);
  EXPECT_EQ(at(grabbed(panel), 20, 10), QColor(0x10, 0x20, 0x30)) << "follows a later change";

  panel.setColor(QColor(0x40, 0x24, 0xAE));
  EXPECT_FALSE(panel.parentColor());
  EXPECT_EQ(at(grabbed(panel), 20, 10), QColor(0x40, 0x24, 0xAE));
  pal.setColor(QPalette::Window, Qt::yellow);
  parent.setPalette(pal);
  EXPECT_EQ(at(grabbed(panel), 20, 10), QColor(0x40, 0x24, 0xAE)) << "own colour is kept";
}

TEST(FlatPanel, FrameIsOnePixelTopLeftHighlightBottomRightShadow) {
  TFlatPanel panel;
  panel.resize(30, 16);
  panel.setColor(Qt::white);

  QImage img = grabbed(panel);
  for (int x = 0; x < 30; ++x) {
    EXPECT_EQ(at(img, x, 0), kDefaultEdge) << "top x=" << x;
    EXPECT_EQ(at(img, x, 15), kDefaultEdge) << "bottom x=" << x;
  }
  for (int y = 0; y < 16; ++y) {
    EXPECT_EQ(at(img, 0, y), kDefaultEdge) << "left y=" << y;
    EXPECT_EQ(at(img, 29, y), kDefaultEdge) << "right y=" << y;
  }
  EXPECT_EQ(at(img, 1, 1), QColor(Qt::white)) << "the frame is one pixel wide";
  EXPECT_EQ(at(img, 28, 14), QColor(Qt::white));

  panel.setColorHighLight(Qt::red);
  panel.setColorShadow(Qt::blue);
  img = grabbed(panel);
  EXPECT_EQ(at(img, 10, 0), QColor(Qt::red));
  EXPECT_EQ(at(img, 0, 8), QColor(Qt::red));
  EXPECT_EQ(at(img, 10, 15), QColor(Qt::blue));
  EXPECT_EQ(at(img, 29, 8), QColor(Qt::blue));
}

TEST(FlatPanel, TransparentFaceShowsTheParentPictureAtTheRightOffset) {
  PictureParent parent;
  TFlatPanel panel(&parent);
  panel.setTransparent(true);
  panel.setGeometry(30, 20, 100, 50);
  parent.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent));

  auto checkFace = [&](const QImage& shot, const char* when) {
    const QPoint o = panel.pos();
    for (QPoint p : {QPoint(5, 5), QPoint(50, 25), QPoint(90, 40)}) {
      const QPoint q = o + p;
      EXPECT_EQ(at(shot, q.x(), q.y()), parent.picture.pixelColor(q))
          << when << " at " << q.x() << "," << q.y();
    }
    EXPECT_EQ(at(shot, o.x(), o.y() + 10), kDefaultEdge) << when << ": the frame is still drawn";
  };

  checkFace(grabbed(parent), "first place");

  panel.move(71, 93);
  checkFace(grabbed(parent), "after a move");

  // The same through the window's backing store, as the screen sees it.
  QCoreApplication::processEvents();
  parent.repaint();
  const QImage screen =
      parent.screen()->grabWindow(parent.winId()).toImage().convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(screen.size(), parent.size());
  checkFace(screen, "on screen");

  panel.setTransparent(false);
  panel.setColor(Qt::black);
  const QImage opaque = grabbed(parent);
  EXPECT_EQ(at(opaque, 71 + 50, 93 + 25), QColor(Qt::black)) << "an opaque face hides the picture";
}

TEST(FlatPanel, CaptionIsCentredVerticallyAndPlacedByAlignment) {
  TFlatPanel panel;
  panel.resize(200, 40);
  panel.setColor(Qt::white);
  panel.setFont(crispfont(16));
  panel.setFontColor(Qt::black);
  panel.setCaption("Mid");

  QImage img = grabbed(panel);
  QRect text = boundsof(img, Qt::black);
  ASSERT_FALSE(text.isEmpty());
  EXPECT_NEAR(text.center().x(), 100, 3);
  EXPECT_NEAR(text.center().y(), 20, 4);

  panel.setAlignment(Qt::AlignLeft);
  text = boundsof(grabbed(panel), Qt::black);
  EXPECT_GE(text.left(), 1);
  EXPECT_LE(text.left(), 4);

  panel.setAlignment(Qt::AlignRight);
  text = boundsof(grabbed(panel), Qt::black);
  EXPECT_LE(text.right(), 198);
  EXPECT_GE(text.right(), 194);
}

TEST(FlatPanel, LongCaptionStaysOnOneLineAndIsClippedInsideTheFrame) {
  TFlatPanel panel;
  panel.resize(60, 40);
  panel.setColor(Qt::white);
  panel.setColorHighLight(Qt::red);
  panel.setColorShadow(Qt::blue);
  panel.setFont(crispfont(14));
  panel.setFontColor(Qt::black);
  panel.setCaption("MMMMMMMMMMMMMMMMMMMM");

  for (Qt::Alignment a : {Qt::AlignLeft, Qt::AlignHCenter, Qt::AlignRight}) {
    panel.setAlignment(a);
    const QImage img = grabbed(panel);
    const QRect text = boundsof(img, Qt::black);
    ASSERT_FALSE(text.isEmpty());
    EXPECT_LT(text.height(), 20) << "one line only";
    // Glyphs leave a gap of a pixel or two between them, so "reaches the edge" allows for it.
    if (a != Qt::AlignLeft) {
      EXPECT_LE(text.left(), 4) << "text runs off the left";
    }
    if (a != Qt::AlignRight) {
      EXPECT_GE(text.right(), 55) << "text runs off the right";
    }
    EXPECT_GE(text.left(), 1);
    EXPECT_LE(text.right(), 58);
    for (int y = 1; y < 39; ++y)
      EXPECT_EQ(at(img, 59, y), QColor(Qt::blue)) << "right edge y=" << y;
    for (int y = 1; y < 39; ++y) EXPECT_EQ(at(img, 0, y), QColor(Qt::red)) << "left edge y=" << y;
  }
}

TEST(FlatPanel, DisabledCaptionIsEngraved) {
  const QColor light(0, 255, 0), dark(255, 0, 0), ink(0, 0, 255);
  TFlatPanel panel;
  panel.resize(120, 40);
  panel.setColor(Qt::white);
  QPalette pal = panel.palette();
  pal.setColor(QPalette::Light, light);
  pal.setColor(QPalette::Dark, dark);
  panel.setPalette(pal);
  panel.setFont(crispfont(20));
  panel.setFontColor(ink);
  panel.setCaption("IIII");

  QImage img = grabbed(panel);
  EXPECT_GT(countof(img, ink), 0);
  EXPECT_EQ(countof(img, light), 0);
  EXPECT_EQ(countof(img, dark), 0);
  const QRect enabled = boundsof(img, ink);

  panel.setEnabled(false);
  img = grabbed(panel);
  EXPECT_EQ(countof(img, ink), 0);
  const QRect shadow = boundsof(img, dark);
  const QRect highlight = boundsof(img, light);
  ASSERT_FALSE(shadow.isEmpty());
  ASSERT_FALSE(highlight.isEmpty());
  EXPECT_EQ(shadow, enabled) << "the shadow copy sits where the caption was";
  EXPECT_EQ(highlight.bottomRight(), shadow.bottomRight() + QPoint(1, 1))
      << "the highlight copy is one pixel right and down, under the shadow copy";
}

TEST(FlatPanel, SettersRepaintAsTheyShould) {
  QWidget parent;
  parent.resize(300, 100);
  TFlatPanel panel(&parent);
  parent.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent));
  PaintCounter counter;
  panel.installEventFilter(&counter);
  QCoreApplication::processEvents();

  auto repaints = [&](auto&& change) {
    QCoreApplication::processEvents();
    counter.paints = 0;
    change();
    QCoreApplication::processEvents();
    return counter.paints > 0;
  };

  EXPECT_TRUE(repaints([&] { panel.setTransparent(panel.transparent()); })) << "unchanged too";
  EXPECT_TRUE(repaints([&] { panel.setColorHighLight(panel.colorHighLight()); }));
  EXPECT_TRUE(repaints([&] { panel.setColorShadow(panel.colorShadow()); }));
  EXPECT_TRUE(repaints([&] { panel.setCaption("Changed"); }));
  EXPECT_TRUE(repaints([&] { panel.setEnabled(false); }));
  EXPECT_FALSE(repaints([] {})) << "nothing repaints on its own";
}
