#include "controls/imagebutton.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "tests/controls/paint_support.h"

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
