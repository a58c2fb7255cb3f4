#include "controls/imagebutton.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "tests/desktop/controls/paint_support.h"

using namespace painttest;

namespace {

const QColor kFace(0x1C, 0x2A, 0x6E);
const QColor kBorder(0xC8, 0xD0, 0xF0);

}  // namespace

TEST(ImageButton, MissingPictureDrawsAPlainFaceWithTheText) {
  TImageButton button(":/images/no_such_button.png", "Done");
  EXPECT_EQ(button.size(), QSize(132, 41));
  EXPECT_FALSE(button.haspicture());
  EXPECT_EQ(button.accessibleName(), "Done");

  const QImage img = grabbed(button);
  EXPECT_EQ(at(img, 0, 0), kBorder);
  EXPECT_EQ(at(img, 131, 40), kBorder);
  EXPECT_EQ(at(img, 3, 3), kFace);
  // The text is drawn in the middle, not at the sides.
  const QRect text = boundsof(img, kBorder, QRect(2, 2, 128, 37));
  ASSERT_FALSE(text.isEmpty());
  EXPECT_NEAR(text.center().x(), 66, 4);
  EXPECT_NEAR(text.center().y(), 20, 4);
}

TEST(ImageButton, DrawsItsPictureAndShiftsItWhileHeldDown) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QImage picture(132, 41, QImage::Format_RGB32);
  picture.fill(QColor(0x20, 0x90, 0x40));
  picture.setPixelColor(0, 0, Qt::red);
  const QString path = dir.filePath("button.png");
  ASSERT_TRUE(picture.save(path));

  TImageButton button(path, "OK");
  ASSERT_TRUE(button.haspicture());
  QImage img = grabbed(button);
  EXPECT_EQ(at(img, 0, 0), QColor(Qt::red));
  EXPECT_EQ(at(img, 60, 20), QColor(0x20, 0x90, 0x40));

  button.setDown(true);
  img = grabbed(button);
  EXPECT_EQ(at(img, 1, 1), QColor(Qt::red)) << "pressed: one pixel right and down";
  button.setDown(false);
  EXPECT_EQ(at(grabbed(button), 0, 0), QColor(Qt::red));
}

TEST(ImageButton, IsMarkedOnlyWhileItHasTheKeyboard) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QImage picture(132, 41, QImage::Format_RGB32);
  picture.fill(QColor(0x20, 0x90, 0x40));
  const QString path = dir.filePath("button.png");
  ASSERT_TRUE(picture.save(path));

  QWidget window;
  window.resize(200, 80);
  auto* button = new TImageButton(path, "OK", &window);
  auto* other = new TImageButton(path, "Cancel", &window);
  other->move(0, 41);
  EXPECT_EQ(button->focusPolicy(), Qt::NoFocus) << "pointed at unless its window says otherwise";
  button->setFocusPolicy(Qt::TabFocus);
  other->setFocusPolicy(Qt::TabFocus);
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

  other->setFocus();
  EXPECT_EQ(countof(grabbed(*button), Qt::white), 0) << "no mark without the keyboard";
  button->setFocus();
  ASSERT_TRUE(button->hasFocus());
  const QRect mark = boundsof(grabbed(*button), Qt::white);
  EXPECT_EQ(mark, QRect(2, 2, 128, 37)) << "a dotted frame just inside the picture's edge";
  other->setFocus();
  EXPECT_EQ(countof(grabbed(*button), Qt::white), 0);
}

TEST(ImageButton, ClicksOnlyOnALeftReleaseInside) {
  TImageButton button(":/images/button_ok.png", "OK");
  button.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&button));
  QSignalSpy clicked(&button, &QAbstractButton::clicked);

  QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(60, 20));
  EXPECT_EQ(clicked.count(), 1);

  QTest::mouseClick(&button, Qt::RightButton, {}, QPoint(60, 20));
  EXPECT_EQ(clicked.count(), 1) << "right button";

  QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(60, 20));
  EXPECT_TRUE(button.isDown());
  QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(300, 200));
  EXPECT_EQ(clicked.count(), 1) << "released outside";
  EXPECT_FALSE(button.isDown());
}

namespace {

// The words of a picture button are white on dark blue; a pixel at least this bright is part of
// them.
bool lettering(QRgb pixel) {
  return qRed(pixel) > 200 && qGreen(pixel) > 200 && qBlue(pixel) > 200;
}

// Of the 2x2 squares of a 2x picture that hold any of its lettering, the share whose four pixels
// are not all alike. A 1x picture enlarged to twice its size has none: each of its pixels became
// one square.
double finesquares(const QImage& twice) {
  int touched = 0;
  int fine = 0;
  for (int y = 0; y + 1 < twice.height(); y += 2) {
    for (int x = 0; x + 1 < twice.width(); x += 2) {
      const int lit = lettering(twice.pixel(x, y)) + lettering(twice.pixel(x + 1, y)) +
                      lettering(twice.pixel(x, y + 1)) + lettering(twice.pixel(x + 1, y + 1));
      if (lit == 0) continue;
      ++touched;
      if (lit != 4) ++fine;
    }
  }
  return touched ? double(fine) / touched : 0.0;
}

QStringList buttonpictures() {
  QStringList out;
  for (const QString& name : QDir(":/images").entryList({"button_*.png"}))
    if (!name.contains("@2x")) out << ":/images/" + name;
  return out;
}

}  // namespace

TEST(ImageButton, EveryCaptionAtTwiceTheSizeIsDrawnForItNotTheOneTimesArtEnlarged) {
  const QStringList pictures = buttonpictures();
  ASSERT_GE(pictures.size(), 7) << "Start Game, Done, Cancel, OK, Send Score, High Scores, Reset";
  for (const QString& path : pictures) {
    const QImage once(path);
    const QImage twice(QString(path).replace(".png", "@2x.png"));
    ASSERT_EQ(once.size(), QSize(132, 41)) << path.toStdString();
    ASSERT_EQ(twice.size(), QSize(264, 82)) << path.toStdString();
    // Measured on the 1x picture enlarged, the rule finds nothing: it tells the two apart.
    EXPECT_EQ(finesquares(once.scaled(264, 82, Qt::IgnoreAspectRatio, Qt::FastTransformation)
                              .convertToFormat(QImage::Format_RGB32)),
              0.0);
    EXPECT_GT(finesquares(twice.convertToFormat(QImage::Format_RGB32)), 0.2)
        << path.toStdString() << ": its words are the 1x ones enlarged";
  }
}

TEST(ImageButton, PaintedAtTwoDevicePixelsToThePixelItShowsThePictureDrawnAtTwiceTheSize) {
  TImageButton button(":/images/button_startgame.png", "Start Game");
  ASSERT_TRUE(button.haspicture());
  QImage painted(264, 82, QImage::Format_RGB32);
  painted.setDevicePixelRatio(2.0);
  painted.fill(Qt::black);
  button.render(&painted, QPoint(), QRegion(), QWidget::DrawChildren);
  painted.setDevicePixelRatio(1.0);
  // The 2x picture on the same black, its round corners see-through.
  QImage twice(264, 82, QImage::Format_RGB32);
  twice.fill(Qt::black);
  QImage picture(":/images/button_startgame@2x.png");
  picture.setDevicePixelRatio(1.0);  // read as 2x by its name
  QPainter(&twice).drawImage(0, 0, picture);
  int differ = 0;
  for (int y = 0; y < 82; ++y)
    for (int x = 0; x < 264; ++x)
      if (lettering(painted.pixel(x, y)) != lettering(twice.pixel(x, y))) ++differ;
  EXPECT_EQ(differ, 0) << "the words on screen are not the 2x picture's";
  EXPECT_GT(finesquares(painted), 0.2);
}
