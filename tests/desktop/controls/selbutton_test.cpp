#include "controls/selbutton.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEnterEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QStringList>
#include <QTest>

#include "tests/desktop/controls/paint_support.h"

using namespace painttest;
using Face = TSelButton::Face;

namespace {

const QColor kFace(0x92, 0x94, 0xC4);
const QColor kOver(0x20, 0xA0, 0x20);
const QColor kDown(0xC0, 0x30, 0x30);
const QColor kBorder(Qt::white);
const QColor kInk(0x00, 0x00, 0x80);
const QColor kOverInk(Qt::black);
const QColor kBehind(0x34, 0x41, 0x43);

const char* facename(Face f) {
  return f == Face::normal ? "normal" : f == Face::over ? "over" : "pressed";
}

// A button on a plain window, coloured so that every part of a face can be told apart, with
// every event it raises written to a log together with the face on screen at that moment.
class SelButtonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QPalette pal = window.palette();
    pal.setColor(QPalette::Window, kBehind);
    window.setPalette(pal);
    window.setAutoFillBackground(true);
    window.resize(300, 120);
    button = new TSelButton(&window);
    button->setObjectName("SelButton4");
    button->setGeometry(10, 10, 122, 20);
    button->setColor(kFace);
    button->setColorOver(kOver);
    button->setColorDown(kDown);
    button->setColorBorder(kBorder);
    button->setColorOverCaption(kOverInk);
    button->setFontColor(kInk);
    button->setFont(crispfont(13));
    button->setCaption("Scoring");
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    QObject::connect(
        button, &TSelButton::OnMouseDown,
        [this](TSelButton* s, Qt::MouseButton b, Qt::KeyboardModifiers, int x, int y) {
          log << QString("down %1 %2,%3 %4").arg(b).arg(x).arg(y).arg(facename(s->face()));
        });
    QObject::connect(button, &TSelButton::OnClick, [this](TSelButton* s) {
      log << QString("click %1").arg(facename(s->face()));
    });
    QObject::connect(
        button, &TSelButton::OnMouseUp,
        [this](TSelButton* s, Qt::MouseButton b, Qt::KeyboardModifiers, int x, int y) {
          log << QString("up %1 %2,%3 %4").arg(b).arg(x).arg(y).arg(facename(s->face()));
        });
  }

  void enter() {
    QEnterEvent e(QPointF(5, 5), QPointF(15, 15), QPointF(15, 15));
    QApplication::sendEvent(button, &e);
  }
  void leave() {
    QEvent e(QEvent::Leave);
    QApplication::sendEvent(button, &e);
  }

  // Where a caption's ink lands when its top-left corner is put at (0, 0).
  QRect inkAtOrigin(const QString& text) const {
    const QFontMetrics fm(button->font());
    QImage img(fm.horizontalAdvance(text) + 20, fm.height() + 10, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setFont(button->font());
    p.setPen(Qt::black);
    p.drawText(0, fm.ascent(), text);
    p.end();
    return boundsof(img, Qt::black);
  }

  QSize captionSize(const QString& text) const {
    const QFontMetrics fm(button->font());
    return {fm.horizontalAdvance(text), fm.height()};
  }

  QWidget window;
  TSelButton* button = nullptr;
  QStringList log;
};

}  // namespace

TEST(SelButtonDefaults, CaptionIsTheObjectNameUntilOneIsSet) {
  TSelButton b;
  EXPECT_EQ(b.focusPolicy(), Qt::NoFocus);

  b.setObjectName("SelButton3");
  EXPECT_EQ(b.caption(), "SelButton3");
  b.setCaption("Game Play");
  EXPECT_EQ(b.caption(), "Game Play");
  b.setObjectName("renamed");
  EXPECT_EQ(b.caption(), "Game Play") << "a set caption is not replaced by the name";
  b.setCaption("");
  EXPECT_EQ(b.caption(), "") << "an empty caption is a caption too";
}

TEST_F(SelButtonTest, NormalFaceFillsInsideTheBorder) {
  const QImage img = grabbed(*button);
  EXPECT_EQ(at(img, 0, 0), kBorder);
  EXPECT_EQ(at(img, 121, 19), kBorder);
  EXPECT_EQ(at(img, 60, 0), kBorder);
  EXPECT_EQ(at(img, 0, 10), kBorder);
  EXPECT_EQ(at(img, 1, 1), kFace);
  EXPECT_EQ(at(img, 120, 18), kFace);
  EXPECT_GT(countof(img, kInk), 0);
}

TEST_F(SelButtonTest, CaptionIsPlacedByAlignmentWithTruncatingHalves) {
  const QString text = "Scoring";
  const QRect ink = inkAtOrigin(text);
  const QSize size = captionSize(text);
  const QRect inside(1, 1, 120, 18);

  for (int w : {122, 123, 95}) {
    button->resize(w, 20);
    struct Case {
      Qt::Alignment a;
      int x;
    } cases[] = {{Qt::AlignLeft, 5},
                 {Qt::AlignRight, w - size.width() - 6},
                 {Qt::AlignHCenter, w / 2 - size.width() / 2}};
    for (const Case& c : cases) {
      button->setAlignment(c.a);
      const QPoint origin(c.x, 20 / 2 - size.height() / 2);
      EXPECT_EQ(TSelButton::captionorigin(Face::normal, c.a, {w, 20}, size), origin);
      const QRect drawn = boundsof(grabbed(*button), kInk, inside.adjusted(0, 0, w - 122, 0));
      EXPECT_EQ(drawn, ink.translated(origin)) << "width " << w << " alignment " << int(c.a);
    }
  }
}

TEST_F(SelButtonTest, HoverAndPressShowTheirFacesAndThePressedCaptionMoves) {
  button->setAlignment(Qt::AlignHCenter);
  const QRect normalInk = boundsof(grabbed(*button), kInk);

  enter();
  EXPECT_EQ(button->face(), Face::over);
  QImage img = grabbed(*button);
  EXPECT_EQ(at(img, 2, 2), kOver);
  EXPECT_EQ(at(img, 0, 0), kBorder);
  EXPECT_EQ(countof(img, kInk), 0);
  EXPECT_EQ(boundsof(img, kOverInk), normalInk) << "hover does not move the caption";

  QTest::mousePress(button, Qt::LeftButton, {}, QPoint(40, 10));
  EXPECT_EQ(button->face(), Face::pressed);
  img = grabbed(*button);
  EXPECT_EQ(at(img, 2, 2), kDown);
  EXPECT_EQ(boundsof(img, kOverInk), normalInk.translated(1, 1))
      << "pressed keeps the hover caption colour and moves one pixel right and down";

  QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(40, 10));
  EXPECT_EQ(button->face(), Face::over);

  leave();
  EXPECT_EQ(button->face(), Face::normal);
  EXPECT_EQ(at(grabbed(*button), 2, 2), kFace);
}

TEST_F(SelButtonTest, PressedFromTheNormalFaceKeepsTheFontColour) {
  QTest::mousePress(button, Qt::LeftButton, {}, QPoint(40, 10));
  const QImage img = grabbed(*button);
  EXPECT_EQ(at(img, 2, 2), kDown);
  EXPECT_GT(countof(img, kInk), 0);
  EXPECT_EQ(countof(img, kOverInk), 0);
  QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(40, 10));
}

TEST_F(SelButtonTest, ClickComesBetweenPressAndReleaseInThatOrder) {
  enter();
  QTest::mousePress(button, Qt::LeftButton, Qt::ShiftModifier, QPoint(40, 10));
  QTest::mouseRelease(button, Qt::LeftButton, Qt::ShiftModifier, QPoint(41, 11));
  const QStringList want = {"down 1 40,10 over", "click normal", "up 1 41,11 normal"};
  EXPECT_EQ(log, want);
  EXPECT_EQ(button->face(), Face::over) << "the pointer is still on the button";
}

TEST_F(SelButtonTest, ReleasedOutsideGivesMouseUpButNoClick) {
  enter();
  QTest::mousePress(button, Qt::LeftButton, {}, QPoint(40, 10));
  QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(200, 60));
  const QStringList want = {"down 1 40,10 over", "up 1 200,60 pressed"};
  EXPECT_EQ(log, want);
  EXPECT_NE(button->face(), Face::over);
}

TEST_F(SelButtonTest, DraggingOffTheButtonShowsTheNormalFace) {
  enter();
  QTest::mousePress(button, Qt::LeftButton, {}, QPoint(40, 10));
  QMouseEvent move(QEvent::MouseMove, QPointF(200, 60), QPointF(200, 60), Qt::NoButton,
                   Qt::LeftButton, {});
  QApplication::sendEvent(button, &move);
  EXPECT_EQ(button->face(), Face::normal);
  QMouseEvent back(QEvent::MouseMove, QPointF(30, 8), QPointF(30, 8), Qt::NoButton, Qt::LeftButton,
                   {});
  QApplication::sendEvent(button, &back);
  EXPECT_EQ(button->face(), Face::over);
  QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(30, 8));
  EXPECT_TRUE(log.contains("click normal"));
}

TEST_F(SelButtonTest, RightButtonDoesNothing) {
  const QImage before = grabbed(*button);
  QTest::mousePress(button, Qt::RightButton, {}, QPoint(40, 10));
  EXPECT_EQ(button->face(), Face::normal);
  EXPECT_EQ(grabbed(*button), before);
  QTest::mouseRelease(button, Qt::RightButton, {}, QPoint(40, 10));
  EXPECT_TRUE(log.isEmpty()) << log.join("; ").toStdString();
}

TEST_F(SelButtonTest, SwitchedOffItKeepsTheNormalFaceAndRaisesNothing) {
  const QImage normal = grabbed(*button);
  button->setButtonEnabled(false);
  EXPECT_TRUE(button->isEnabled()) << "the widget itself stays enabled";

  enter();
  EXPECT_EQ(grabbed(*button), normal);
  QTest::mousePress(button, Qt::LeftButton, {}, QPoint(40, 10));
  EXPECT_EQ(grabbed(*button), normal);
  QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(40, 10));
  EXPECT_EQ(grabbed(*button), normal);
  QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(40, 10));
  EXPECT_TRUE(log.isEmpty()) << log.join("; ").toStdString();

  button->setButtonEnabled(true);
  QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(40, 10));
  EXPECT_TRUE(log.contains("click normal"));
}

TEST_F(SelButtonTest, SwitchingOffWhileHoveredDropsTheHoverFace) {
  enter();
  button->setButtonEnabled(false);
  EXPECT_EQ(button->face(), Face::normal);
}

TEST_F(SelButtonTest, BorderWidthZeroDrawsNoBorderAndTheFaceStillStartsInside) {
  button->setBorderWidth(0);
  const QImage shot = grabbed(window);
  const QPoint o = button->pos();
  EXPECT_EQ(at(shot, o.x(), o.y()), kBehind);
  EXPECT_EQ(at(shot, o.x() + 60, o.y()), kBehind);
  EXPECT_EQ(at(shot, o.x() + 121, o.y() + 19), kBehind);
  EXPECT_EQ(at(shot, o.x() + 1, o.y() + 1), kFace);
  EXPECT_EQ(at(shot, o.x() + 120, o.y() + 18), kFace);
  EXPECT_EQ(countof(shot, kBorder), 0);

  button->setBorderWidth(3);
  const QImage thick = grabbed(*button);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(at(thick, i, i), kBorder) << i;
    EXPECT_EQ(at(thick, 60, 19 - i), kBorder) << i;
    EXPECT_EQ(at(thick, 121 - i, 10), kBorder) << i;
  }
  EXPECT_EQ(at(thick, 3, 3), kFace);
}

TEST_F(SelButtonTest, WideCentredCaptionStartsLeftOfTheFaceAndIsCutAtTheEdge) {
  button->resize(30, 20);
  button->setAlignment(Qt::AlignHCenter);
  button->setCaption("Documentation");
  const QSize size = captionSize("Documentation");
  ASSERT_GT(size.width(), 30);
  EXPECT_LT(TSelButton::captionorigin(Face::normal, Qt::AlignHCenter, {30, 20}, size).x(), 0);

  const QImage img = grabbed(*button);
  const QRect ink = boundsof(img, kInk);
  EXPECT_LE(ink.left(), 2);
  EXPECT_GE(ink.right(), 27);
  for (int y = 0; y < 20; ++y) {
    EXPECT_EQ(at(img, 0, y), kBorder) << "left border y=" << y;
    EXPECT_EQ(at(img, 29, y), kBorder) << "right border y=" << y;
  }
}

TEST_F(SelButtonTest, SomeSettersRedrawAtOnceOthersOnlyStore) {
  enter();
  button->setColorOver(Qt::yellow);
  EXPECT_EQ(button->face(), Face::over) << "storing a hover colour redraws nothing";
  button->setColorDown(Qt::cyan);
  button->setColorOverCaption(Qt::red);
  EXPECT_EQ(button->face(), Face::over);

  button->setColor(QColor(0x11, 0x22, 0x33));
  EXPECT_EQ(button->face(), Face::normal);
  EXPECT_EQ(at(grabbed(*button), 2, 2), QColor(0x11, 0x22, 0x33));

  enter();
  button->setBorderWidth(2);
  EXPECT_EQ(button->face(), Face::normal);
  enter();
  button->setCaption("Other");
  EXPECT_EQ(button->face(), Face::normal);
  enter();
  button->setAlignment(Qt::AlignRight);
  EXPECT_EQ(button->face(), Face::normal);
  enter();
  button->setColorBorder(Qt::green);
  EXPECT_EQ(button->face(), Face::normal);

  leave();
  enter();
  const QImage img = grabbed(*button);
  EXPECT_EQ(at(img, 3, 3), QColor(Qt::yellow)) << "the stored hover colour shows at the next hover";
  EXPECT_GT(countof(img, Qt::red), 0);
  QTest::mousePress(button, Qt::LeftButton, {}, QPoint(40, 10));
  EXPECT_EQ(at(grabbed(*button), 3, 3), QColor(Qt::cyan));
  QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(40, 10));
}

TEST_F(SelButtonTest, ClickHandlerThatHidesTheWindowLeavesNoHoverFace) {
  QObject::connect(button, &TSelButton::OnClick, &window, &QWidget::hide);
  enter();
  QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(40, 10));
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(button->face(), Face::normal);
}
