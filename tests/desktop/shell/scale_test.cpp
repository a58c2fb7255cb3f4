// The board grows with the window: the scale a window's size gives, everything inside the board
// drawn at that scale and centred, clicks and the keyboard's frame landing where they should, the
// bones drawn from the 2x pictures, and everything back on its pixel at the window's own size.

#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>

#include "controls/flatpanel.h"
#include "game/board.h"
#include "shell/boardcursor.h"
#include "shell/boardparts.h"
#include "shell/boardscale.h"
#include "shellsupport.h"

namespace {

const QSize design(598, 330);

struct Snapshot {
  QRect geometry;
  QFont font;
  QSize picture;
};

// Where every widget inside the board lies, its font and the size of the picture it shows.
QMap<QString, Snapshot> snapshot(QWidget* board) {
  QMap<QString, Snapshot> all;
  for (QWidget* w : board->findChildren<QWidget*>()) {
    if (w->objectName().isEmpty()) continue;
    const auto* label = qobject_cast<QLabel*>(w);
    all[w->objectName()] = {w->geometry(), w->font(),
                            label ? label->pixmap().deviceIndependentSize().toSize() : QSize()};
  }
  all["panel_board"] = {board->geometry(), board->font(), {}};
  return all;
}

}  // namespace

TEST(BoardScaleRule, OneUntilAStepLargerThenTheLargestStepThatFits) {
  EXPECT_EQ(BoardScale::scalefor({598, 330}, design), 1.0);
  EXPECT_EQ(BoardScale::scalefor({604, 352}, design), 1.0) << "the window's own size";
  EXPECT_EQ(BoardScale::scalefor({634, 350}, design), 1.0) << "not yet a sixteenth larger";
  EXPECT_EQ(BoardScale::scalefor({636, 351}, design), 1.0625);
  EXPECT_EQ(BoardScale::scalefor({700, 395}, design), 1.125);
  EXPECT_EQ(BoardScale::scalefor({1196, 660}, design), 2.0);
  EXPECT_EQ(BoardScale::scalefor({1208, 727}, design), 2.0) << "twice the window's own size";
  EXPECT_EQ(BoardScale::scalefor({5000, 340}, design), 1.0) << "the shorter side decides";
  EXPECT_EQ(BoardScale::scalefor({200, 100}, design), 0.25)
      << "only a screen smaller than the board";
}

class Scaled : public ShellTest {
 protected:
  void SetUp() override {
    w = makewindow();
    clickat(part(w.get(), "button_namecancel"));
    board = part(w.get(), "panel_board");
    board1 = part(w.get(), "panel_board1");
  }

  // Resizes the window so that its client area is exactly this big.
  void setclient(const QSize& client) {
    const QSize menu = w->size() - w->centralWidget()->size();
    w->resize(client + QSize(0, menu.height()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->centralWidget()->size() == client; }, 5000));
  }

  // A point of the board's layout where the window draws it now.
  QPoint onboard(const QPoint& designed) {
    const qreal s = w->boardscale()->scale();
    return board1->mapTo(w.get(), QPoint(qRound(designed.x() * s), qRound(designed.y() * s)));
  }

  void clickdesigned(const QRect& designed) {
    QTest::mouseClick(w->windowHandle(), Qt::LeftButton, Qt::NoModifier,
                      onboard(designed.center()));
    QCoreApplication::processEvents();
  }

  std::unique_ptr<Tmain> w;
  QWidget* board = nullptr;
  QWidget* board1 = nullptr;
};

TEST_F(Scaled, AWindowTwiceTheSizeShowsTheBoardTwiceTheSize) {
  clickat(part(w.get(), "button_start"));
  const auto before = snapshot(board);
  ASSERT_EQ(w->boardscale()->scale(), 1.0);
  ASSERT_EQ(before["panel_board"].geometry, QRect(2, 2, 593, 325));

  setclient({1300, 680});
  EXPECT_EQ(w->boardscale()->scale(), 2.0);
  const auto after = snapshot(board);
  // The whole layout, 1196 x 660, centred in the client area.
  EXPECT_EQ(board->geometry(), QRect((1300 - 1196) / 2 + 4, (680 - 660) / 2 + 4, 1186, 650));
  for (auto it = before.begin(); it != before.end(); ++it) {
    if (it.key() == "panel_board") continue;
    const QRect was = it->geometry;
    EXPECT_EQ(after[it.key()].geometry, QRect(was.topLeft() * 2, was.size() * 2))
        << it.key().toStdString();
    if (it->font.pixelSize() > 0) {
      EXPECT_EQ(after[it.key()].font.pixelSize(), it->font.pixelSize() * 2)
          << it.key().toStdString();
    }
    if (!it->picture.isEmpty()) {
      EXPECT_EQ(after[it.key()].picture, it->picture * 2) << it.key().toStdString();
    }
  }
  EXPECT_EQ(part<TFlatPanel>(w.get(), "panel_board1")->property("drawscale").toReal(), 2.0);

  // Back at the window's own size every widget is on its pixel again.
  setclient({604, 352});
  EXPECT_EQ(w->boardscale()->scale(), 1.0);
  const auto again = snapshot(board);
  for (auto it = before.begin(); it != before.end(); ++it) {
    EXPECT_EQ(again[it.key()].geometry, it->geometry) << it.key().toStdString();
    EXPECT_EQ(again[it.key()].font, it->font) << it.key().toStdString();
    EXPECT_EQ(again[it.key()].picture, it->picture) << it.key().toStdString();
  }
  EXPECT_FALSE(board1->property("drawscale").isValid());
}

TEST_F(Scaled, TheBoardStaysCentredWhateverTheWindowWentThrough) {
  // The whole layout at scale s, centred; the frame at 2 x 2 of it.
  auto centred = [&](const QSize& client, qreal s) {
    const QSize area(qRound(598 * s), qRound(330 * s));
    return QRect(QPoint((client.width() - area.width()) / 2 + qRound(2 * s),
                        (client.height() - area.height()) / 2 + qRound(2 * s)),
                 QSize(qRound(595 * s) - qRound(2 * s), qRound(327 * s) - qRound(2 * s)));
  };
  for (const QSize client : {QSize(1250, 680), QSize(1300, 700), QSize(1196, 720), QSize(897, 495),
                             QSize(1000, 495), QSize(1300, 680)}) {
    setclient(client);
    const qreal s = w->boardscale()->scale();
    EXPECT_EQ(board->geometry(), centred(client, s)) << client.width() << "x" << client.height();
  }
  setclient({604, 352});
  EXPECT_EQ(board->geometry(), QRect(2, 2, 593, 325));
}

// With one side at its lowest the shorter side keeps the scale at 1 (or just below), and the
// board is centred on both axes all the same: the layout (the frame with its designed margin) has
// as much room left as right and above as below, to a pixel. These are the logical sizes of a
// window of 1400 x 522 and of 896 x 900 at a desktop scale of 1.5.
TEST_F(Scaled, TheBoardIsCentredWithOneSideAtItsLowest) {
  for (const QSize client :
       {QSize(933, 348), QSize(933, 347), QSize(604, 600), QSize(620, 900), QSize(1400, 340)}) {
    setclient(client);
    const qreal s = w->boardscale()->scale();
    ASSERT_LE(s, 1.0) << client.width() << "x" << client.height();
    const QRect layout(board->pos() - QPoint(qRound(2 * s), qRound(2 * s)),
                       QSize(qRound(598 * s), qRound(330 * s)));
    const int left = layout.left();
    const int right = client.width() - layout.right() - 1;
    const int top = layout.top();
    const int bottom = client.height() - layout.bottom() - 1;
    EXPECT_LE(std::abs(left - right), 1) << client.width() << "x" << client.height();
    EXPECT_LE(std::abs(top - bottom), 1) << client.width() << "x" << client.height();
  }
  setclient({604, 352});
  EXPECT_EQ(board->geometry(), QRect(2, 2, 593, 325)) << "at the window's own size as designed";
}

// Centred at a scale of 1 in a wide window, then drawn larger: the larger board is centred from
// its designed place, not from the centre it had been moved to.
TEST_F(Scaled, ABoardCentredAtOneAndThenGrownStaysCentred) {
  for (const QSize client :
       {QSize(1400, 340), QSize(1250, 680), QSize(620, 900), QSize(1400, 340)}) {
    setclient(client);
    const QMargins room = roomaround(w.get());
    EXPECT_LE(std::abs(room.left() - room.right()), 1) << client.width() << "x" << client.height();
    EXPECT_LE(std::abs(room.top() - room.bottom()), 1) << client.width() << "x" << client.height();
  }
}

TEST_F(Scaled, ClicksAtAScaledSizeLandOnTheRightSlot) {
  clickat(part(w.get(), "button_start"));
  setclient({897, 495});  // a half as large again
  ASSERT_EQ(w->boardscale()->scale(), 1.5);
  w->game().setboard(twomovesfromsorted());
  w->showboard();

  // Every slot, and every bone on one, is what lies under the middle of its scaled place.
  for (int slot = 1; slot <= 35; ++slot) {
    const game::Rect r = game::slotrect(slot);
    QWidget* under = w->childAt(onboard(QRect(r.left, r.top, r.width, r.height).center()));
    const int bone = game::boneat(w->game().board(), slot);
    const QString expected =
        bone ? QStringLiteral("bone_%1").arg(bone) : QStringLiteral("shape_%1").arg(slot);
    ASSERT_NE(under, nullptr) << slot;
    EXPECT_EQ(under->objectName(), expected) << "slot " << slot;
  }

  // A game won by clicks at the scaled places.
  auto at = [](int slot) {
    const game::Rect r = game::slotrect(slot);
    return QRect(r.left, r.top, r.width, r.height);
  };
  clickdesigned(at(14));  // 0/0
  EXPECT_EQ(w->game().selectedbone(), 28);
  // The highlight frames it with a rim grown with the board.
  EXPECT_EQ(part(w.get(), "shape_highlite")->geometry(),
            part(w.get(), "bone_28")->geometry().adjusted(-3, -3, 3, 3));
  clickdesigned(at(7));
  clickdesigned(at(35));  // 6/0
  clickdesigned(at(33));
  EXPECT_TRUE(part(w.get(), "panel_cleared")->isVisible());
  EXPECT_TRUE(game::checkforcomplete(w->game().board()));
  // Every bone picture lies on its slot.
  for (int number = 1; number <= 28; ++number) {
    const int slot = game::slotof(w->game().board(), number);
    EXPECT_EQ(part(w.get(), QStringLiteral("bone_%1").arg(number))->geometry(),
              part(w.get(), QStringLiteral("shape_%1").arg(slot))->geometry());
  }
}

TEST_F(Scaled, TheKeyboardsFrameAndTheTimeBarGrowWithTheBoard) {
  clickat(part(w.get(), "button_start"));
  w->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
  QTest::keyClick(w->windowHandle(), Qt::Key_Right);
  setclient({1196, 660});
  ASSERT_EQ(w->boardscale()->scale(), 2.0);
  auto* cursor = part<BoardCursor>(w.get(), "boardcursor");
  EXPECT_EQ(cursor->geometry(), part(w.get(), "shape_8")->geometry().adjusted(-8, -8, 8, 8));
  QTest::keyClick(w->windowHandle(), Qt::Key_Down);
  EXPECT_EQ(cursor->geometry(), part(w.get(), "shape_9")->geometry().adjusted(-8, -8, 8, 8));

  w->game().settimeleft(100);
  w->turntimerTimer();
  w->turntimerTimer();  // 98 seconds left: the bar is 149 pixels of the layout
  EXPECT_EQ(part(w.get(), "image_timer")->width(), 298);
}

TEST_F(Scaled, AtTwiceTheSizeTheBonesShowTheTwiceDrawnPictures) {
  clickat(part(w.get(), "button_start"));
  setclient({1196, 660});
  ASSERT_EQ(w->boardscale()->scale(), 2.0);
  const QImage shown = w->grab().toImage().convertToFormat(QImage::Format_ARGB32);
  ASSERT_EQ(shown.devicePixelRatio(), 1.0);
  for (int number : {1, 7, 13, 28}) {
    auto* b = part<TBone>(w.get(), QStringLiteral("bone_%1").arg(number));
    ASSERT_EQ(b->size(), QSize(132, 68));
    const QImage expected = twicebone(number);
    const QPoint origin = b->mapTo(w.get(), QPoint());
    int differ = 0;
    for (int y = 0; y < 68; ++y)
      for (int x = 0; x < 132; ++x)
        if (shown.pixel(origin + QPoint(x, y)) != expected.pixel(x, y)) ++differ;
    EXPECT_EQ(differ, 0) << "bone " << number;
  }
  // The picture buttons too: the start button is the 2x picture, pixel for pixel.
  const QImage button =
      QImage(":/images/button_startgame@2x.png").convertToFormat(QImage::Format_ARGB32);
  const QPoint origin = part(w.get(), "button_start")->mapTo(w.get(), QPoint());
  int compared = 0, differ = 0;
  for (int y = 0; y < button.height(); ++y)
    for (int x = 0; x < button.width(); ++x) {
      if (qAlpha(button.pixel(x, y)) != 255) continue;  // the rounded corners show the board
      ++compared;
      if (shown.pixel(origin + QPoint(x, y)) != button.pixel(x, y)) ++differ;
    }
  EXPECT_GT(compared, 264 * 82 * 9 / 10);
  EXPECT_EQ(differ, 0);
}
