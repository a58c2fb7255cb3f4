// Whole games in the real window, played with mouse clicks on the bones and slots from boards set
// through the game model: selection and its highlight, hints, refusals, every way a game ends, and
// the clock.

#include <QAccessible>
#include <QAction>
#include <QImage>
#include <QLabel>
#include <QLineEdit>

#include "game/board.h"
#include "shell/boardparts.h"
#include "shellsupport.h"

namespace {

const QColor maroon(0x80, 0x00, 0x00);

}  // namespace

class Play : public ShellTest {
 protected:
  void SetUp() override {
    w = makewindow();
    clickat(part(w.get(), "button_namecancel"));
    clickat(part(w.get(), "button_start"));
    ASSERT_TRUE(w->game().gamerunning());
    sounds.cues.clear();
    tally.calls.clear();
  }

  void setboard(const game::Board& board) {
    w->game().setboard(board);
    w->showboard();
  }

  TBone* bonepicture(int number) {
    return part<TBone>(w.get(), QStringLiteral("bone_%1").arg(number));
  }
  TShape* slot(int number) { return part<TShape>(w.get(), QStringLiteral("shape_%1").arg(number)); }
  QWidget* highlight() { return part(w.get(), "shape_highlite"); }

  void clickbone(int number, Qt::MouseButton button = Qt::LeftButton) {
    clickat(bonepicture(number), {}, button);
  }
  void clickslot(int number) { clickat(slot(number)); }

  // Every bone's picture stands on the slot its board cell names.
  void expectpicturesmatchboard() {
    for (int number = 1; number <= 28; ++number) {
      const int at = game::slotof(w->game().board(), number);
      ASSERT_NE(at, 0);
      EXPECT_EQ(bonepicture(number)->pos(), slot(at)->pos()) << "bone " << number;
    }
  }

  QList<int> maroonslots() {
    QList<int> found;
    for (int s = 1; s <= 35; ++s) {
      if (slot(s)->color() == maroon) found << s;
    }
    return found;
  }

  QString text(const char* name) {
    return part<QLabel>(w.get(), QString::fromLatin1(name))->text();
  }
  bool shown(const char* name) { return part(w.get(), QString::fromLatin1(name))->isVisible(); }

  std::unique_ptr<Tmain> w;
};

using PlaySelection = Play;

TEST_F(PlaySelection, ClickSelectsAndFramesTheBoneClickAgainUnselects) {
  setboard(twomovesfromsorted());
  clickbone(28);
  EXPECT_EQ(w->game().selectedbone(), 28);
  EXPECT_TRUE(highlight()->isVisible());
  EXPECT_EQ(highlight()->pos(), bonepicture(28)->pos() - QPoint(2, 2));
  EXPECT_EQ(sounds.cues, QStringList({"click"}));

  // Another bone takes the selection over.
  clickbone(5, Qt::RightButton);
  EXPECT_EQ(w->game().selectedbone(), 5);
  EXPECT_EQ(highlight()->pos(), bonepicture(5)->pos() - QPoint(2, 2));

  clickbone(5, Qt::MiddleButton);
  EXPECT_EQ(w->game().selectedbone(), 0);
  EXPECT_FALSE(highlight()->isVisible());
  EXPECT_EQ(sounds.cues, QStringList({"click", "click", "unclick"}));
}

TEST_F(PlaySelection, TheSelectedBoneLiesAboveItsHighlight) {
  setboard(twomovesfromsorted());
  clickbone(12);
  const QObjectList& stack = highlight()->parentWidget()->children();
  EXPECT_GT(stack.indexOf(bonepicture(12)), stack.indexOf(highlight()));
  EXPECT_LT(stack.indexOf(bonepicture(12)), stack.indexOf(part(w.get(), "Image1")))
      << "still below the time bar and the panels";
  // So the middle of the frame shows the bone, not the hatch.
  const QImage shown = w->grab().toImage();
  const QPoint middle = bonepicture(12)->mapTo(w.get(), QPoint(31, 17));
  EXPECT_EQ(shown.pixel(middle), bonepicture(12)->picture().toImage().pixel(31, 17));
}

TEST_F(PlaySelection, AClickOnTheHighlightsRimCountsForTheBoneItFrames) {
  setboard(twomovesfromsorted());
  const game::Board before = w->game().board();
  for (const QPoint rim : {QPoint(0, 0), QPoint(1, 20), QPoint(69, 37), QPoint(35, 36)}) {
    clickbone(28);
    ASSERT_TRUE(highlight()->isVisible());
    clickat(highlight(), rim);
    EXPECT_EQ(w->game().selectedbone(), 0) << rim.x() << "," << rim.y();
    EXPECT_FALSE(highlight()->isVisible());
    EXPECT_FALSE(shown("panel_invalid")) << "the rim is not a slot";
  }
  EXPECT_EQ(w->game().board(), before);
  EXPECT_EQ(w->game().clicksleft(), 100);
  expectpicturesmatchboard();
}

TEST_F(PlaySelection, ClicksDoNothingButResetColoursOnceTheGameIsOver) {
  setboard(twomovesfromsorted());
  clickbone(28);  // hints colour its home slot
  ASSERT_FALSE(maroonslots().isEmpty());
  w->game().setrunning(false);
  sounds.cues.clear();
  clickbone(5);
  EXPECT_TRUE(maroonslots().isEmpty());
  EXPECT_EQ(w->game().selectedbone(), 28);
  clickslot(7);
  EXPECT_FALSE(shown("panel_invalid"));
  EXPECT_TRUE(sounds.cues.isEmpty());
}

using PlayHints = Play;

TEST_F(PlayHints, SelectingADoubleMarksItsHomeAndTheTargets) {
  setboard(twomovesfromsorted());
  clickbone(28);
  // 0/0: home slot 7; slot 33 follows 6/1, which has no blank; slot 14 is its own old place.
  EXPECT_EQ(maroonslots(), QList<int>({7}));
  EXPECT_EQ(slot(7)->color(), maroon);

  clickbone(7);  // 6/0 may follow 6/1 in slot 33
  EXPECT_EQ(maroonslots(), QList<int>({33})) << "0/0's home is no longer marked";
}

TEST_F(PlayHints, ADoubleAlreadyHomeStillMarksItsSlot) {
  setboard(twomovesfromsorted());
  clickbone(8);  // 5/5 stands in slot 2
  EXPECT_TRUE(maroonslots().contains(2));
}

TEST_F(PlayHints, EveryClickClearsTheMarksAndHintsOffMarksNothing) {
  setboard(twomovesfromsorted());
  clickbone(7);
  ASSERT_FALSE(maroonslots().isEmpty());
  clickslot(34);  // refused (6/0 cannot follow 5/0), and like any click it clears the marks
  EXPECT_TRUE(maroonslots().isEmpty());

  part<QAction>(w.get(), "ShowHints1")->trigger();
  ASSERT_FALSE(w->showhintson());
  clickbone(28);
  EXPECT_TRUE(maroonslots().isEmpty());
  EXPECT_EQ(w->game().selectedbone(), 28);
}

using PlayRefusal = Play;

TEST_F(PlayRefusal, ShowsTheMessageKeepsSelectionAndClicks) {
  setboard(twomovesfromsorted());
  clickslot(7);
  EXPECT_TRUE(shown("panel_invalid"));
  EXPECT_EQ(text("label_invalid"), "Bone cannot go there");

  clickbone(7);
  clickslot(7);  // 6/0 is no double
  EXPECT_EQ(text("label_invalid"), "Bone cannot go there");
  EXPECT_EQ(w->game().selectedbone(), 7);
  EXPECT_TRUE(highlight()->isVisible());
  EXPECT_EQ(w->game().clicksleft(), 100);
  EXPECT_EQ(text("label_score"), "Clicks: 100");
  EXPECT_EQ(sounds.cues, QStringList({"invalid", "click", "invalid"}));
  expectpicturesmatchboard();

  // The panel does not stop play; only its OK hides it.
  clickbone(28);
  clickslot(7);
  EXPECT_TRUE(shown("panel_invalid"));
  clickat(part(w.get(), "image_ok"));
  EXPECT_FALSE(shown("panel_invalid"));
}

using PlayToTheEnd = Play;

TEST_F(PlayToTheEnd, SortingTheBoardWinsAndScores) {
  setboard(twomovesfromsorted());
  part<QLineEdit>(w.get(), "edit_name")->setText("Ada");
  w->game().setclicksleft(62);
  w->game().settimeleft(125);

  clickbone(28);
  clickslot(7);
  EXPECT_TRUE(w->game().gamerunning()) << "a move into the double column never ends a game";
  EXPECT_EQ(text("label_score"), "Clicks: 61");
  expectpicturesmatchboard();
  EXPECT_FALSE(highlight()->isVisible());

  clickbone(7);
  clickslot(33);
  EXPECT_FALSE(w->game().gamerunning());
  expectpicturesmatchboard();
  EXPECT_TRUE(shown("panel_cleared"));
  EXPECT_FALSE(shown("panel_lost"));
  EXPECT_EQ(text("label_unusedbonus"), "Unsused Click Bonus: 120");
  EXPECT_EQ(text("label_timebonus"), "Time Bonus: 250");
  EXPECT_EQ(text("label_score1"), "Score: 370");
  EXPECT_EQ(text("label_score"), "Clicks: 60");
  EXPECT_EQ(part(w.get(), "label_score")->property("Tag").toInt(), 370);
  EXPECT_EQ(tally.calls, QStringList({"add 2", "score 370 Ada"}));
  EXPECT_EQ(sounds.cues, QStringList({"click", "place", "click", "place", "gameover"}));

  // Clicks after the end change nothing.
  clickbone(7);
  EXPECT_EQ(w->game().selectedbone(), 0);
}

TEST_F(PlayToTheEnd, SortingWithTheHundredthClickEarnsNoClickBonus) {
  setboard(twomovesfromsorted());
  w->game().setclicksleft(2);
  w->game().settimeleft(10);
  clickbone(28);
  clickslot(7);
  clickbone(7);
  clickslot(33);
  EXPECT_TRUE(shown("panel_cleared"));
  EXPECT_EQ(text("label_unusedbonus"), "Unsused Click Bonus: 0");
  EXPECT_EQ(text("label_score1"), "Score: 20");
}

TEST_F(PlayToTheEnd, TheHundredAndFirstPlacementLosesEvenWhenItSorts) {
  setboard(twomovesfromsorted());
  w->game().setclicksleft(1);
  clickbone(28);
  clickslot(7);
  ASSERT_TRUE(w->game().gamerunning());
  sounds.cues.clear();
  clickbone(7);
  clickslot(33);
  EXPECT_FALSE(w->game().gamerunning());
  EXPECT_TRUE(shown("panel_lost"));
  EXPECT_FALSE(shown("panel_cleared"));
  EXPECT_EQ(text("label_score"), "Score: 0");
  EXPECT_EQ(sounds.cues, QStringList({"click", "timeup", "place"}));
  EXPECT_TRUE(tally.calls.isEmpty());
  expectpicturesmatchboard();
}

TEST_F(PlayToTheEnd, NoMoveLeftLosesAtOnce) {
  setboard(onemovefromstuck());
  clickbone(3);
  clickslot(15);
  EXPECT_FALSE(w->game().gamerunning());
  EXPECT_TRUE(shown("panel_lost"));
  EXPECT_EQ(text("label_score"), "Clicks: 99");
  EXPECT_EQ(sounds.cues, QStringList({"click", "place", "timeup"}));
  EXPECT_TRUE(tally.calls.isEmpty()) << "a lost game was counted when it started";
  expectpicturesmatchboard();
}

// The lost panel keeps its title and says, in a line of its own that a screen reader hears
// with it, which of the three ways to lose ended the game.
TEST_F(PlayToTheEnd, TheLostPanelSaysWhichEndingItWas) {
  auto reason = [this] { return text("label_lostreason"); };
  auto heard = [this](QAccessible::Text kind) {
    return QAccessible::queryAccessibleInterface(part(w.get(), "panel_lost"))->text(kind);
  };

  setboard(onemovefromstuck());
  clickbone(3);
  clickslot(15);
  ASSERT_TRUE(shown("panel_lost"));
  EXPECT_EQ(text("Label7"), "SORRY, YOU LOST!");
  // Row 2 lost its first two bones' places: 5/5 was never home, and 6/4 left column 2.
  EXPECT_EQ(reason(), "No move found: row 2, columns 1 and 2 are empty.");
  EXPECT_EQ(heard(QAccessible::Name), "SORRY, YOU LOST!");
  EXPECT_EQ(heard(QAccessible::Description), reason());
  auto* line = part<QLabel>(w.get(), "label_lostreason");
  EXPECT_LE(line->sizeHint().width(), line->width()) << "the line fits the panel";

  clickat(part(w.get(), "button_start"));
  EXPECT_FALSE(shown("panel_lost"));
  setboard(twomovesfromsorted());
  w->game().setclicksleft(0);
  clickbone(28);
  clickslot(7);
  ASSERT_TRUE(shown("panel_lost"));
  EXPECT_EQ(reason(), "No click was left for that move.");
  EXPECT_EQ(heard(QAccessible::Description), reason());

  clickat(part(w.get(), "button_start"));
  w->game().settimeleft(1);
  w->turntimerTimer();
  ASSERT_TRUE(shown("panel_lost"));
  EXPECT_EQ(reason(), "Out of time.");
  EXPECT_EQ(heard(QAccessible::Description), "Out of time.");
}

TEST_F(PlayToTheEnd, TimeUpLosesAndEmptiesTheBar) {
  setboard(twomovesfromsorted());
  clickbone(28);
  w->game().settimeleft(2);
  sounds.cues.clear();
  w->turntimerTimer();
  EXPECT_EQ(text("label_timer"), "Time: 0:01");
  w->turntimerTimer();
  EXPECT_FALSE(w->game().gamerunning());
  EXPECT_EQ(text("label_timer"), "Time: 0:00");
  EXPECT_EQ(part(w.get(), "image_timer")->width(), 0);
  EXPECT_TRUE(shown("panel_lost"));
  EXPECT_EQ(sounds.cues, QStringList({"time", "timeup"}));
  EXPECT_TRUE(tally.calls.isEmpty());

  // The clock stops with the game.
  w->turntimerTimer();
  EXPECT_EQ(w->game().timeleft(), 0);
  EXPECT_EQ(sounds.cues.size(), 2);
}

using PlayClock = Play;

TEST_F(PlayClock, CaptionBarColourAndCues) {
  auto* timer = part<QLabel>(w.get(), "label_timer");
  auto* bar = part(w.get(), "image_timer");
  w->turntimerTimer();
  EXPECT_EQ(timer->text(), "Time: 4:59");
  EXPECT_EQ(bar->width(), 150);
  w->turntimerTimer();
  EXPECT_EQ(bar->width(), 149);
  EXPECT_EQ(bar->property("Tag").toInt(), 149);
  EXPECT_EQ(timer->palette().color(QPalette::WindowText), QColor(Qt::white));

  w->game().settimeleft(66);
  w->turntimerTimer();
  EXPECT_EQ(timer->text(), "Time: 1:05");
  w->game().settimeleft(61);
  w->turntimerTimer();
  EXPECT_EQ(timer->text(), "Time: 1:00");
  EXPECT_TRUE(sounds.cues.isEmpty());

  w->game().settimeleft(21);
  w->turntimerTimer();
  EXPECT_EQ(sounds.cues, QStringList({"time"}));
  EXPECT_EQ(timer->palette().color(QPalette::WindowText), QColor(Qt::white));
  w->turntimerTimer();
  EXPECT_EQ(timer->palette().color(QPalette::WindowText), maroon);
  EXPECT_EQ(sounds.cues.size(), 1) << "no cue at 19";
  for (int i = 0; i < 4; ++i) w->turntimerTimer();
  EXPECT_EQ(timer->text(), "Time: 0:15");
  EXPECT_EQ(sounds.cues.size(), 2);
  for (int i = 0; i < 5; ++i) w->turntimerTimer();
  EXPECT_EQ(sounds.cues.size(), 3) << "10 sounds; 14 to 11 do not";
  w->turntimerTimer();
  EXPECT_EQ(timer->text(), "Time: 0:09");
  EXPECT_EQ(sounds.cues.size(), 4);
}

TEST_F(PlayClock, BarWidthFollowsEvenSeconds) {
  auto* bar = part(w.get(), "image_timer");
  for (int i = 0; i < 298; ++i) w->turntimerTimer();
  EXPECT_EQ(w->game().timeleft(), 2);
  EXPECT_EQ(bar->width(), 1);
  w->turntimerTimer();
  EXPECT_EQ(bar->width(), 1);
}
