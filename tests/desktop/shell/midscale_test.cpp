// The program on a screen at a desktop scale of 1.5, where a window's device pixels are not a
// whole number of its pixels: the board stays centred on both axes with one side of the window
// at its lowest.
//
// Runs in a process of its own: the scale factor is fixed before the application starts.

#include <QApplication>
#include <QTemporaryFile>

#include "shell/boardscale.h"
#include "shellsupport.h"

using HalfAgainDense = ShellTest;

TEST_F(HalfAgainDense, TheBoardIsCentredOnBothAxesWithOneSideAtItsLowest) {
  ASSERT_EQ(qApp->devicePixelRatio(), 1.5);
  auto w = makewindow();
  // The menu bar's height over the client area.
  const QSize menu = w->size() - w->centralWidget()->size();
  // Windows of 1400 x 522 and 896 x 900 device pixels, and the same a device pixel short.
  for (const QSize device :
       {QSize(1400, 522), QSize(896, 900), QSize(1399, 521), QSize(895, 899)}) {
    // Made no smaller than the window may be, which rounds its width up by a pixel or so.
    const QSize size = (device / 1.5).expandedTo(w->minimumSize());
    w->resize(size);
    // Resized, and the client area laid out for the new size.
    const auto near = [&] {
      return std::abs(w->width() - size.width()) <= 1 &&
             std::abs(w->height() - size.height()) <= 1 &&
             w->centralWidget()->size() == w->size() - menu;
    };
    ASSERT_TRUE(QTest::qWaitFor(near, 5000))
        << device.width() << "x" << device.height() << " asked " << size.width() << "x"
        << size.height() << ", got " << w->size().width() << "x" << w->size().height();
    const QMargins room = roomaround(w.get());
    const auto where = [&] {
      return std::to_string(device.width()) + "x" + std::to_string(device.height()) + ": left " +
             std::to_string(room.left()) + ", right " + std::to_string(room.right()) + ", top " +
             std::to_string(room.top()) + ", bottom " + std::to_string(room.bottom());
    };
    EXPECT_LE(std::abs(room.left() - room.right()), 1) << where();
    EXPECT_LE(std::abs(room.top() - room.bottom()), 1) << where();
    EXPECT_GE(std::min({room.left(), room.top(), room.right(), room.bottom()}), 0) << where();
  }
}

int main(int argc, char** argv) {
  // One screen of 3000 x 2000 device pixels, so no window here is made smaller to fit it.
  QTemporaryFile config(QDir::tempPath() + QStringLiteral("/pipshift-screens-XXXXXX.json"));
  if (!config.open()) return 1;
  config.write(R"({"screens": [{"name": "wide", "x": 0, "y": 0, "width": 3000, "height": 2000,
     "logicalDpi": 96, "logicalBaseDpi": 96}]})");
  config.flush();
  qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + config.fileName().toLocal8Bit());
  qputenv("QT_SCALE_FACTOR", "1.5");
  QApplication app(argc, argv);
  QApplication::setApplicationName("Pipshift");
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
