// The lost panel as the player sees it once it offers Undo: the Undo button drawn as one of the
// panel's buttons, at the board's designed size and larger.

#include <QAbstractButton>
#include <QAction>
#include <QImage>
#include <QTimer>

#include "game/board.h"
#include "shell/boardscale.h"
#include "shellsupport.h"

namespace {

int brightness(QRgb pixel) {
  return qRed(pixel) + qGreen(pixel) + qBlue(pixel);
}

}  // namespace

class LostPanel : public ShellTest {
 protected:
  void SetUp() override {
    w = makewindow();
    clickat(part(w.get(), "button_namecancel"));
    clickat(part(w.get(), "button_start"));
    part<QTimer>(w.get(), "turntimer")->stop();
    part<QAction>(w.get(), "allowundo")->trigger();
    ASSERT_TRUE(w->allowundoon());
  }

  void losebyleavingnomove() {
    w->game().setboard(onemovefromstuck());
    w->showboard();
    clickat(part(w.get(), "bone_3"));
    clickat(part(w.get(), QStringLiteral("shape_%1").arg(game::getspot(2, 0))));
    ASSERT_FALSE(w->game().gamerunning());
    ASSERT_TRUE(part(w.get(), "button_undo")->isVisible());
  }

  std::unique_ptr<Tmain> w;
};

// Beside Start Game and Done, a button on a plain stand-in face reads as a picture gone missing.
// Done's caption lies in the middle of its face, so the fifths at either end are face alone, and
// the Undo button's are the same pixels; its own caption is drawn in the middle, light on the
// face as Done's is.
TEST_F(LostPanel, TheUndoButtonWearsTheFaceOfThePanelsOtherButtons) {
  for (qreal scale : {1.0, 2.0}) {
    SCOPED_TRACE(scale);
    w->boardscale()->setscale(scale);
    losebyleavingnomove();
    auto* undo = part<QAbstractButton>(w.get(), "button_undo");
    auto* done = part<QAbstractButton>(w.get(), "button_lost");
    ASSERT_EQ(undo->size(), done->size());
    const QImage undoface = undo->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    const QImage doneface = done->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(undoface.size(), doneface.size());
    const int end = undoface.width() / 5;
    int differing = 0;
    for (int y = 0; y < undoface.height(); ++y) {
      for (int x = 0; x < end; ++x) {
        differing += undoface.pixel(x, y) != doneface.pixel(x, y);
        const int right = undoface.width() - 1 - x;
        differing += undoface.pixel(right, y) != doneface.pixel(right, y);
      }
    }
    EXPECT_EQ(differing, 0) << "pixels of the face's ends unlike Done's";

    // The face between the ends, row by row the colour the row has at its end, but for the
    // caption's light strokes.
    const int mid = undoface.height() / 2;
    const int facecolour = brightness(undoface.pixel(end, mid));
    int strokes = 0;
    for (int x = end; x < undoface.width() - end; ++x) {
      strokes += brightness(undoface.pixel(x, mid)) > facecolour + 200;
    }
    EXPECT_GT(strokes, 0) << "no caption drawn across the middle of the face";

    clickat(part(w.get(), "button_start2"));
    part<QTimer>(w.get(), "turntimer")->stop();
  }
}

// Changed while the lost panel is open, the option takes the Undo off the panel with it, and puts
// it back, working, when it is turned on again.
TEST_F(LostPanel, TheUndoOfferedFollowsTheOptionWhileThePanelIsOpen) {
  losebyleavingnomove();
  QWidget* panel = part(w.get(), "panel_lost");
  QWidget* undo = part(w.get(), "button_undo");
  const QRect offering = panel->geometry();
  auto* option = part<QAction>(w.get(), "allowundo");

  option->trigger();
  ASSERT_FALSE(w->allowundoon());
  EXPECT_TRUE(panel->isVisible());
  EXPECT_FALSE(undo->isVisible()) << "an Undo left on the panel with the option off does nothing";
  EXPECT_EQ(panel->geometry(), QRect(123, 64, 329, 105)) << "laid out as without the option";

  option->trigger();
  ASSERT_TRUE(w->allowundoon());
  EXPECT_TRUE(undo->isVisible());
  EXPECT_EQ(panel->geometry(), offering);
  clickat(undo);
  EXPECT_FALSE(panel->isVisible());
  EXPECT_TRUE(w->game().gamerunning());
  EXPECT_EQ(w->game().board(), onemovefromstuck());
}
