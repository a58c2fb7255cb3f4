// The board as a screen reader reads it through Qt's accessibility: every slot named for the bone
// on it, its selected and hinted states, the focus on the keyboard's slot, the texts of the
// labels and panels, and the notices that tell of a refusal and of the end of a game.
//
// The offscreen platform has no accessibility bridge, so Qt sends no accessibility events here;
// what a reader hears as the game goes on is checked over AT-SPI by tests/e2e/pipshift_a11y.py.

#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>

#include <vector>

#include "game/board.h"
#include "shell/boardaccess.h"
#include "shell/boardparts.h"
#include "shellsupport.h"

class Access : public ShellTest {
 protected:
  void SetUp() override {
    w = makewindow();
    clickat(part(w.get(), "button_namecancel"));
  }

  QAccessibleInterface* reader(const QString& name) {
    QObject* object = part<QObject>(w.get(), name);
    return object ? QAccessible::queryAccessibleInterface(object) : nullptr;
  }
  QAccessibleInterface* slotreader(int slot) {
    return reader(QStringLiteral("shape_%1").arg(slot));
  }

  void setboard(const game::Board& board) {
    w->game().setboard(board);
    w->showboard();
  }

  // Every accessible object under the window that a reader would meet (not hidden), by name.
  QStringList readable() {
    QStringList names;
    std::vector<QAccessibleInterface*> todo{QAccessible::queryAccessibleInterface(w.get())};
    while (!todo.empty()) {
      QAccessibleInterface* iface = todo.back();
      todo.pop_back();
      if (iface->state().invisible) continue;
      names << iface->text(QAccessible::Name);
      for (int i = 0; i < iface->childCount(); ++i) todo.push_back(iface->child(i));
    }
    return names;
  }

  std::unique_ptr<Tmain> w;
};

TEST_F(Access, EverySlotIsNamedForWhatLiesOnIt) {
  EXPECT_EQ(BoardAccess::slotname(1, 0), "Row 1, column 1: empty");
  EXPECT_EQ(BoardAccess::slotname(14, 27), "Row 7, column 2: 1/0");
  EXPECT_EQ(BoardAccess::slotname(35, 7), "Row 1, column 8: 6/0");

  for (int slot = 1; slot <= 35; ++slot) {
    const game::Point at = game::getcoords(slot);
    QAccessibleInterface* iface = slotreader(slot);
    ASSERT_NE(iface, nullptr);
    EXPECT_EQ(iface->role(), QAccessible::Button);
    EXPECT_EQ(iface->text(QAccessible::Name),
              QStringLiteral("Row %1, column %2: empty").arg(at.y + 1).arg(at.x + 1))
        << "before the first deal";
  }

  clickat(part(w.get(), "button_start"));
  QStringList bones;
  for (int slot = 1; slot <= 35; ++slot) {
    const QString name = slotreader(slot)->text(QAccessible::Name);
    const int bone = game::boneat(w->game().board(), slot);
    EXPECT_EQ(name, BoardAccess::slotname(slot, bone));
    if (slot <= 7) {
      EXPECT_TRUE(name.endsWith(": empty")) << name.toStdString();
    }
    if (bone != 0) bones << name.section(": ", 1);
  }
  EXPECT_EQ(bones.size(), 28);
  EXPECT_EQ(QSet<QString>(bones.begin(), bones.end()).size(), 28) << "each bone once";

  // A reader meets each slot once, and no bone picture besides.
  const QStringList names = readable();
  for (int slot = 1; slot <= 35; ++slot) {
    EXPECT_EQ(names.count(slotreader(slot)->text(QAccessible::Name)), 1) << slot;
  }
  EXPECT_EQ(names.filter(QRegularExpression("^Row \\d, column \\d: ")).size(), 35);
}

TEST_F(Access, AMoveRenamesBothSlots) {
  clickat(part(w.get(), "button_start"));
  setboard(twomovesfromsorted());
  EXPECT_EQ(slotreader(14)->text(QAccessible::Name), "Row 7, column 2: 0/0");
  EXPECT_EQ(slotreader(7)->text(QAccessible::Name), "Row 7, column 1: empty");
  clickat(part(w.get(), "bone_28"));
  clickat(part(w.get(), "shape_7"));
  EXPECT_EQ(slotreader(7)->text(QAccessible::Name), "Row 7, column 1: 0/0");
  EXPECT_EQ(slotreader(14)->text(QAccessible::Name), "Row 7, column 2: empty");
  // And a new deal renames them all again.
  clickat(part(w.get(), "button_start"));
  for (int slot = 1; slot <= 35; ++slot) {
    ASSERT_EQ(slotreader(slot)->text(QAccessible::Name),
              BoardAccess::slotname(slot, game::boneat(w->game().board(), slot)));
  }
}

TEST_F(Access, SelectedAndHintedSlotsSaySo) {
  clickat(part(w.get(), "button_start"));
  setboard(twomovesfromsorted());
  clickat(part(w.get(), "bone_7"));  // 6/0 at the end of row 1; it may follow 6/1 in slot 33
  EXPECT_TRUE(slotreader(35)->state().selected);
  EXPECT_EQ(slotreader(35)->text(QAccessible::Description), "Selected");
  EXPECT_FALSE(slotreader(33)->state().selected);
  EXPECT_TRUE(slotreader(33)->state().checked);
  EXPECT_EQ(slotreader(33)->text(QAccessible::Description), "The selected bone may go here");
  EXPECT_FALSE(slotreader(7)->state().checked);

  clickat(part(w.get(), "bone_7"));  // let go: neither mark stays
  EXPECT_FALSE(slotreader(35)->state().selected);
  EXPECT_FALSE(slotreader(33)->state().checked);
  EXPECT_TRUE(slotreader(33)->text(QAccessible::Description).isEmpty());
}

TEST_F(Access, TheKeyboardsSlotHasTheFocus) {
  w->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
  QTest::keyClick(w->windowHandle(), Qt::Key_Down);
  QTest::keyClick(w->windowHandle(), Qt::Key_Right);
  QAccessibleInterface* slot9 = slotreader(9);
  EXPECT_TRUE(slot9->state().focused);
  EXPECT_TRUE(slot9->state().focusable);
  EXPECT_FALSE(slotreader(2)->state().focused);
  QAccessibleInterface* focus = QAccessible::queryAccessibleInterface(w.get())->focusChild();
  ASSERT_NE(focus, nullptr);
  EXPECT_EQ(focus->text(QAccessible::Name), "Row 2, column 2: empty");

  // A reader's "press" on a slot acts as the keyboard would there, and moves the keyboard to it.
  clickat(part(w.get(), "button_start"));
  ASSERT_TRUE(slotreader(3)->actionInterface());
  slotreader(3)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
  EXPECT_TRUE(part(w.get(), "panel_invalid")->isVisible()) << "the empty slot refuses";
  EXPECT_TRUE(slotreader(3)->state().focused);
}

TEST_F(Access, LabelsAndPanelsAreReadable) {
  clickat(part(w.get(), "button_start"));
  EXPECT_EQ(reader("label_score")->text(QAccessible::Name), "Clicks: 100");
  EXPECT_EQ(reader("label_timer")->text(QAccessible::Name), "Time: 0:00");
  EXPECT_EQ(reader("label_name")->text(QAccessible::Name), "Good Luck Guest");
  EXPECT_EQ(reader("edit_aname")->text(QAccessible::Name), "ENTER YOUR NAME");
  EXPECT_EQ(reader("edit_name")->text(QAccessible::Name), "Enter Your Name");
  EXPECT_EQ(reader("button_start")->text(QAccessible::Name), "Start Game");
  EXPECT_EQ(reader("panel_lost")->text(QAccessible::Name), "SORRY, YOU LOST!");
  EXPECT_EQ(reader("panel_update")->text(QAccessible::Name), "Update Available");
  EXPECT_EQ(reader("panel_update")->text(QAccessible::Description),
            "Would you like to update now?");
  for (const char* unread : {"bone_1", "shape_highlite", "boardcursor", "Image2", "image_timer"}) {
    EXPECT_TRUE(reader(unread)->state().invisible) << unread;
  }
}

TEST_F(Access, ARefusalAndTheEndOfAGameAreNotices) {
  clickat(part(w.get(), "button_start"));
  clickat(part(w.get(), "shape_1"));
  QAccessibleInterface* refusal = reader("panel_invalid");
  ASSERT_FALSE(refusal->state().invisible);
  EXPECT_EQ(refusal->role(), QAccessible::Notification);
  EXPECT_EQ(refusal->text(QAccessible::Name), "Bone cannot go there");

  setboard(twomovesfromsorted());
  w->game().setclicksleft(62);
  w->game().settimeleft(125);
  clickat(part(w.get(), "bone_28"));
  clickat(part(w.get(), "shape_7"));
  clickat(part(w.get(), "bone_7"));
  clickat(part(w.get(), "shape_33"));
  QAccessibleInterface* cleared = reader("panel_cleared");
  ASSERT_FALSE(cleared->state().invisible);
  EXPECT_EQ(cleared->role(), QAccessible::Notification);
  EXPECT_EQ(cleared->text(QAccessible::Name), "YOUR CLEARED THE BOARD!");
  EXPECT_EQ(cleared->text(QAccessible::Description), "Score: 370");

  clickat(part(w.get(), "button_start"));
  w->game().settimeleft(1);
  w->turntimerTimer();
  QAccessibleInterface* lost = reader("panel_lost");
  ASSERT_FALSE(lost->state().invisible);
  EXPECT_EQ(lost->role(), QAccessible::Notification);
  EXPECT_EQ(lost->text(QAccessible::Name), "SORRY, YOU LOST!");
}

// Picking a bone up and letting it go are told as notices of the board's own; a bone placed is
// told by its two slots' names, not as let go.
TEST_F(Access, PickingUpAndLettingGoAreSpoken) {
  clickat(part(w.get(), "button_start"));
  setboard(twomovesfromsorted());
  const QString bone = QStringLiteral("%1/%2").arg(game::gettopnum(28)).arg(game::getbotnum(28));
  clickat(part(w.get(), "bone_28"));
  ASSERT_EQ(w->game().selectedbone(), 28);
  QAccessibleInterface* spoken = reader("boardspoken");
  ASSERT_NE(spoken, nullptr);
  EXPECT_EQ(spoken->role(), QAccessible::Notification);
  EXPECT_FALSE(spoken->state().invisible);
  EXPECT_EQ(spoken->text(QAccessible::Name), bone + " picked up");
  EXPECT_EQ(part(w.get(), "boardspoken")->size(), QSize(0, 0)) << "read, not seen";

  clickat(part(w.get(), "bone_28"));
  ASSERT_EQ(w->game().selectedbone(), 0);
  EXPECT_EQ(spoken->text(QAccessible::Name), bone + " let go");

  clickat(part(w.get(), "bone_28"));
  EXPECT_EQ(spoken->text(QAccessible::Name), bone + " picked up");
  clickat(part(w.get(), "shape_7"));
  ASSERT_EQ(game::boneat(w->game().board(), 7), 28);
  EXPECT_EQ(spoken->text(QAccessible::Name), bone + " picked up") << "placed, not let go";
}

// The clock as a reader meets it: its caption read whenever asked, never told as it changes, and
// its warning said once as it begins. Qt tells a reader of a label's every new text unless the
// label has a name of its own; the events themselves are heard over AT-SPI in the e2e test.
class SpokenClock : public Access {
 protected:
  void SetUp() override {
    Access::SetUp();
    clickat(part(w.get(), "button_start"));
  }
  void tick() { w->turntimerTimer(); }
  QString spoken() { return reader("boardspoken")->text(QAccessible::Name); }
};

TEST_F(SpokenClock, ItIsReadAsItStandsButNotToldEachSecond) {
  for (int second = 0; second < 3; ++second) tick();
  EXPECT_EQ(part<QLabel>(w.get(), "label_timer")->text(), "Time: 4:57");
  QAccessibleInterface* clock = reader("label_timer");
  EXPECT_EQ(clock->role(), QAccessible::StaticText);
  EXPECT_EQ(clock->text(QAccessible::Name), "Time: 4:57") << "read when asked";
  EXPECT_FALSE(part(w.get(), "label_timer")->accessibleName().isEmpty())
      << "a label without a name of its own tells each new text";
  EXPECT_EQ(spoken(), "") << "nothing said of the clock";
}

TEST_F(SpokenClock, ItsWarningIsSaidOnceAsItBegins) {
  w->game().settimeleft(game::kWarningSeconds + 1);
  tick();
  EXPECT_EQ(spoken(), "") << "said before the warning";
  tick();
  ASSERT_LT(w->game().timeleft(), game::kWarningSeconds);
  EXPECT_EQ(spoken(), "Less than 20 seconds left");
  EXPECT_FALSE(reader("boardspoken")->state().invisible);

  // Something else said, the warning is not said again at the next seconds.
  const QString bone = QStringLiteral("%1/%2").arg(game::gettopnum(1)).arg(game::getbotnum(1));
  clickat(part(w.get(), "bone_1"));
  ASSERT_EQ(spoken(), bone + " picked up");
  tick();
  tick();
  EXPECT_EQ(spoken(), bone + " picked up") << "the warning said again at a later second";

  // A new game warns again.
  clickat(part(w.get(), "button_start"));
  w->game().settimeleft(game::kWarningSeconds);
  tick();
  EXPECT_EQ(spoken(), "Less than 20 seconds left");
}

TEST_F(SpokenClock, ItsEndIsToldByTheLostPanelNotTheWarning) {
  w->game().settimeleft(1);
  tick();
  QAccessibleInterface* lost = reader("panel_lost");
  ASSERT_FALSE(lost->state().invisible);
  EXPECT_EQ(lost->text(QAccessible::Name), "SORRY, YOU LOST!");
  EXPECT_EQ(lost->text(QAccessible::Description), "Out of time.");
  EXPECT_EQ(spoken(), "") << "the last second said as a warning";
}

// A reader names every object it reaches in the main window: the parts that only hold others are
// named by what they hold, and a line with nothing to say is not reached.
TEST_F(Access, EveryPartAReaderReachesHasANameAndARole) {
  w = makewindow();  // with its name panel open
  auto nameless = [this] {
    QStringList out;
    std::vector<QAccessibleInterface*> todo{QAccessible::queryAccessibleInterface(w.get())};
    while (!todo.empty()) {
      QAccessibleInterface* iface = todo.back();
      todo.pop_back();
      if (iface->state().invisible) continue;
      const QString name = iface->text(QAccessible::Name).trimmed();
      if (name.isEmpty() || iface->role() == QAccessible::Client)
        out << iface->object()->objectName() + " " + name;
      for (int i = 0; i < iface->childCount(); ++i) todo.push_back(iface->child(i));
    }
    return out;
  };
  EXPECT_EQ(nameless().join(", ").toStdString(), "");
  EXPECT_EQ(reader("panel_name")->text(QAccessible::Name), "ENTER YOUR NAME");
  clickat(part(w.get(), "button_namecancel"));
  clickat(part(w.get(), "button_start"));
  EXPECT_EQ(nameless().join(", ").toStdString(), "");
  EXPECT_TRUE(reader("deallabel")->text(QAccessible::Name).startsWith("Deal "));
}
