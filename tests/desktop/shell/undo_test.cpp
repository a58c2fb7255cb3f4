// Taking placements back in the real window: Options > Allow Undo and its settings key, Ctrl+Z,
// the lost panel's Undo, and the record of a game with undos as the score server replays it.

#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QLabel>
#include <QTimer>

#include <mutex>
#include <utility>
#include <vector>

#include "game/coach.h"
#include "game/deal.h"
#include "game/record.h"
#include "game/replay.h"
#include "game/solver.h"
#include "shell/boardscale.h"
#include "shell/dealsolver.h"
#include "shellsupport.h"

namespace {

QString value(const QByteArray& file, const QString& key) {
  for (const QByteArray& raw : file.split('\n')) {
    const QString line = QString::fromLatin1(raw.trimmed());
    if (line.startsWith(key + "=")) return line.mid(key.size() + 1);
  }
  return QStringLiteral("<missing>");
}

}  // namespace

class Undo : public ShellTest {
 protected:
  void SetUp() override { open(); }

  void open() {
    w = makewindow();
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    clickat(part(w.get(), "button_namecancel"));
    clickat(part(w.get(), "button_start"));
    ASSERT_TRUE(w->game().gamerunning());
    stopclock();
    sounds.cues.clear();
    tally.calls.clear();
  }

  // The clock ticks only when a test says so.
  void stopclock() { part<QTimer>(w.get(), "turntimer")->stop(); }

  void allow() {
    if (!w->allowundoon()) action("allowundo")->trigger();
    ASSERT_TRUE(w->allowundoon());
  }

  QAction* action(const char* name) { return part<QAction>(w.get(), QString::fromLatin1(name)); }

  void setboard(const game::Board& board) {
    w->game().setboard(board);
    w->showboard();
  }

  void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(w->windowHandle(), key, modifiers);
    QCoreApplication::processEvents();
  }
  void ctrlz() { press(Qt::Key_Z, Qt::ControlModifier); }

  void clickbone(int number) { clickat(part(w.get(), QStringLiteral("bone_%1").arg(number))); }
  void clickslot(int number) { clickat(part(w.get(), QStringLiteral("shape_%1").arg(number))); }
  void place(const game::Placement& p) {
    clickbone(p.bone);
    clickslot(p.slot);
  }

  QString text(const char* name) {
    return part<QLabel>(w.get(), QString::fromLatin1(name))->text();
  }
  bool shown(const char* name) { return part(w.get(), QString::fromLatin1(name))->isVisible(); }

  // Loses the game on the stuck board by its one move, with clicks left.
  void losebyleavingnomove() {
    setboard(onemovefromstuck());
    place({15, 3});
    ASSERT_EQ(w->game().loss().cause, game::Loss::nomoves);
    ASSERT_TRUE(shown("panel_lost"));
  }

  std::unique_ptr<Tmain> w;
};

TEST_F(Undo, CostsAClickAndRestoresTheBoardExactly) {
  allow();
  setboard(twomovesfromsorted());
  const game::Board before = w->game().board();
  clickbone(28);
  clickslot(7);
  ASSERT_EQ(w->game().clicksleft(), 99);
  ASSERT_NE(w->game().board(), before);
  const int time = w->game().timeleft();
  clickbone(7);
  sounds.cues.clear();

  ctrlz();
  EXPECT_EQ(w->game().board(), before);
  EXPECT_EQ(shownslots(w.get()), slotsof(before)) << "the view's bones";
  EXPECT_EQ(w->game().selectedbone(), 0);
  EXPECT_FALSE(part(w.get(), "shape_highlite")->isVisible());
  EXPECT_EQ(w->game().clicksleft(), 98);
  EXPECT_EQ(text("label_score"), "Clicks: 98");
  EXPECT_EQ(w->game().timeleft(), time);
  EXPECT_TRUE(w->game().gamerunning());
  EXPECT_FALSE(shown("panel_invalid"));
  EXPECT_EQ(sounds.cues, QStringList({"unclick"}));

  // And the game plays on from there.
  clickbone(28);
  clickslot(7);
  clickbone(7);
  clickslot(33);
  EXPECT_TRUE(shown("panel_cleared"));
  EXPECT_EQ(text("label_unusedbonus"), "Unsused Click Bonus: 192");
}

TEST_F(Undo, CtrlZDoesNothingWithTheOptionOff) {
  ASSERT_FALSE(w->allowundoon());
  EXPECT_FALSE(action("undomove")->isEnabled());
  setboard(twomovesfromsorted());
  clickbone(28);
  clickslot(7);
  const game::Board after = w->game().board();
  sounds.cues.clear();
  ctrlz();
  w->undomove();
  EXPECT_EQ(w->game().board(), after);
  EXPECT_EQ(w->game().clicksleft(), 99);
  EXPECT_EQ(text("label_score"), "Clicks: 99");
  EXPECT_TRUE(sounds.cues.isEmpty());
  EXPECT_FALSE(shown("panel_invalid"));

  allow();
  EXPECT_TRUE(action("undomove")->isEnabled());
  ctrlz();
  EXPECT_EQ(w->game().clicksleft(), 98);
}

TEST_F(Undo, NothingToTakeBackIsRefusedLikeAMove) {
  allow();
  ctrlz();
  EXPECT_TRUE(shown("panel_invalid"));
  EXPECT_EQ(text("label_invalid"), "Nothing to take back.");
  EXPECT_EQ(w->game().clicksleft(), 100);
  EXPECT_EQ(sounds.cues, QStringList({"invalid"}));
}

TEST_F(Undo, TheOptionIsKeptUnderItsOwnKeyAndWrittenAtOnce) {
  allow();
  EXPECT_EQ(value(readini(), "Undo"), "yes");
  action("allowundo")->trigger();
  EXPECT_FALSE(w->allowundoon());
  EXPECT_EQ(value(readini(), "Undo"), "no") << "a key once written is kept up to date";
  action("allowundo")->trigger();
  w->close();
  EXPECT_EQ(value(readini(), "Undo"), "yes");

  open();
  EXPECT_TRUE(w->allowundoon());
  EXPECT_TRUE(action("undomove")->isEnabled());
}

TEST_F(Undo, OnlyYesTurnsTheOptionOn) {
  for (const char* word : {"Yes", "true", "1", ""}) {
    writeini(QByteArray("[pipshift]\nUndo=") + word + "\n");
    open();
    EXPECT_FALSE(w->allowundoon()) << word;
    EXPECT_FALSE(action("undomove")->isEnabled()) << word;
  }
  writeini("[pipshift]\nundo=yes\n");
  open();
  EXPECT_TRUE(w->allowundoon());
}

TEST_F(Undo, DefaultSettingsWriteNoUndoKey) {
  part<QAction>(w.get(), "PlaySounds1")->trigger();
  w->close();
  EXPECT_EQ(value(readini(), "Undo"), "<missing>");
  EXPECT_EQ(value(readini(), "Sounds"), "no");
}

TEST_F(Undo, TheLostPanelOffersUndoAfterNoMoveLeftAndPlaysOn) {
  allow();
  losebyleavingnomove();
  auto* button = part<QAbstractButton>(w.get(), "button_undo");
  EXPECT_TRUE(button->isVisible());
  EXPECT_EQ(button->text(), "Undo");
  QWidget* panel = part(w.get(), "panel_lost");
  EXPECT_TRUE(panel->rect().contains(button->geometry())) << "inside the panel";
  for (const char* other : {"button_start2", "button_lost"}) {
    EXPECT_FALSE(button->geometry().intersects(part(w.get(), other)->geometry())) << other;
  }
  EXPECT_EQ(QAccessible::queryAccessibleInterface(button)->text(QAccessible::Name), "Undo");
  // Reached by Tab among the panel's buttons.
  bool reached = false;
  for (int i = 0; i < 4 && !reached; ++i) {
    press(Qt::Key_Tab);
    reached = w->focusWidget() == button;
  }
  EXPECT_TRUE(reached);
  sounds.cues.clear();

  press(Qt::Key_Space);
  EXPECT_FALSE(shown("panel_lost"));
  EXPECT_TRUE(w->game().gamerunning());
  EXPECT_EQ(w->game().ending(), game::Ending::none);
  EXPECT_EQ(w->game().board(), onemovefromstuck());
  EXPECT_EQ(shownslots(w.get()), slotsof(onemovefromstuck()));
  EXPECT_EQ(text("label_score"), "Clicks: 98");
  EXPECT_EQ(sounds.cues, QStringList({"unclick"}));
  EXPECT_TRUE(tally.calls.isEmpty()) << "the same game goes on; it is not counted again";
  // The clock runs again.
  const int time = w->game().timeleft();
  w->turntimerTimer();
  EXPECT_EQ(w->game().timeleft(), time - 1);
}

TEST_F(Undo, CtrlZTakesUpTheLostGameToo) {
  allow();
  losebyleavingnomove();
  ctrlz();
  EXPECT_FALSE(shown("panel_lost"));
  EXPECT_TRUE(w->game().gamerunning());
  EXPECT_EQ(w->game().board(), onemovefromstuck());
}

TEST_F(Undo, TheLostPanelIsAsEverWithoutTheOptionOrForTheOtherEndings) {
  const QRect designed(123, 64, 329, 105);
  auto expectasever = [&](const char* what) {
    ASSERT_TRUE(shown("panel_lost")) << what;
    EXPECT_FALSE(shown("button_undo")) << what;
    EXPECT_EQ(part(w.get(), "panel_lost")->geometry(), designed) << what;
  };
  losebyleavingnomove();
  expectasever("option off");

  allow();
  clickat(part(w.get(), "button_start"));
  losebyleavingnomove();
  ASSERT_TRUE(shown("button_undo"));
  EXPECT_GT(part(w.get(), "panel_lost")->height(), designed.height());

  clickat(part(w.get(), "button_start2"));
  setboard(twomovesfromsorted());
  w->game().setclicksleft(0);
  place({7, 28});
  ASSERT_EQ(w->game().loss().cause, game::Loss::clicks);
  expectasever("a move past the last click");

  clickat(part(w.get(), "button_start2"));
  w->game().settimeleft(1);
  w->turntimerTimer();
  ASSERT_EQ(w->game().loss().cause, game::Loss::time);
  expectasever("out of time");

  // No move left, but no click left either to take it back.
  clickat(part(w.get(), "button_start2"));
  w->game().setclicksleft(1);
  losebyleavingnomove();
  expectasever("no click left");
  ctrlz();
  EXPECT_TRUE(shown("panel_lost"));
  EXPECT_FALSE(w->game().gamerunning());
}

TEST_F(Undo, TheLostPanelGrowsAtTheBoardsScaleAndComesBackExactly) {
  allow();
  w->boardscale()->setscale(2.0);
  QWidget* panel = part(w.get(), "panel_lost");
  const QRect designed = panel->geometry();
  losebyleavingnomove();
  EXPECT_EQ(panel->height(), 300);
  EXPECT_TRUE(panel->rect().contains(part(w.get(), "button_undo")->geometry()));
  w->boardscale()->setscale(1.0);
  EXPECT_EQ(panel->geometry(), QRect(123, 64, 329, 150));
  press(Qt::Key_Z, Qt::ControlModifier);
  clickat(part(w.get(), "button_start"));
  setboard(twomovesfromsorted());
  w->game().settimeleft(1);
  w->turntimerTimer();
  ASSERT_TRUE(shown("panel_lost"));
  EXPECT_EQ(panel->geometry(), QRect(123, 64, 329, 105));
  w->boardscale()->setscale(2.0);
  EXPECT_EQ(panel->geometry(), designed);
}

// A real deal won through the window with two placements taken back: the record says so, and
// the score server's replay of it gives the score the window shows.
TEST_F(Undo, ARecordWithUndosReplaysToTheScoreShown) {
  allow();
  const std::vector<game::Placement> line = game::solve(game::dealboard(1000)).placements;
  w->startdeal(1000);
  stopclock();
  for (std::size_t i = 0; i < line.size(); ++i) {
    w->turntimerTimer();
    if (i == 3 || i == 5) {
      place(line[i]);
      ctrlz();
    }
    place(line[i]);
  }
  ASSERT_TRUE(shown("panel_cleared"));
  const game::GameRecord& record = w->game().record();
  const std::string text = game::encoderecord(record);
  EXPECT_EQ(text.substr(0, 7), "2/1000/");
  EXPECT_NE(text.find(",u.4,"), std::string::npos) << text;
  const game::Replay replay = game::replayrecord(*game::decoderecord(text));
  ASSERT_TRUE(replay.won) << replay.error;
  EXPECT_EQ(replay.score, part(w.get(), "label_score")->property("Tag").toInt());
  EXPECT_EQ(replay.clickbonus, 2 * (100 - static_cast<int>(line.size()) - 4));
}

TEST_F(Undo, AGameWithoutUndoKeepsTheFirstRecordText) {
  allow();
  const std::vector<game::Placement> line = game::solve(game::dealboard(1000)).placements;
  w->startdeal(1000);
  stopclock();
  for (const game::Placement& p : line) place(p);
  ASSERT_TRUE(shown("panel_cleared"));
  std::string expected = "1/1000/w/";
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (i) expected += ',';
    expected += std::to_string(line[i].bone) + "." + std::to_string(line[i].slot) + ".0";
  }
  EXPECT_EQ(game::encoderecord(w->game().record()), expected);
}

// After an undo the coach asks about the board taken back to, with the clicks really left: the
// placement's click and the undo's are both spent. With three clicks, two placements from sorted,
// one placement and its undo leave one click, too few; with four they leave two, just enough.
TEST_F(Undo, TheCoachAsksAboutTheRestoredBoardWithTheClicksLeft) {
  allow();
  std::mutex mutex;
  std::vector<std::pair<game::Board, int>> asked;
  w->dealsolver()->setsolvefunction(
      [&](const game::Board& board, const game::SolverOptions& options) {
        {
          std::lock_guard<std::mutex> lock(mutex);
          asked.emplace_back(board, options.clicksleft);
        }
        return game::solve(board, options);
      });
  action("showwinnable")->trigger();
  auto dealtext = [this] { return text("deallabel"); };
  // The line keeps "row" and its number together with a no-break space; it reads as a space.
  auto coachsaid = [this] {
    return shown("label_coach") ? text("label_coach").replace(QChar(0x00a0), ' ') : QString();
  };
  const QString deal = QStringLiteral("Deal %1  \u00b7  ").arg(w->game().dealnumber());
  for (int clicks : {3, 4}) {
    setboard(twomovesfromsorted());
    w->game().setclicksleft(clicks);
    w->showboard();
    const game::Board before = w->game().board();
    place({7, 28});
    ASSERT_EQ(w->game().clicksleft(), clicks - 1);
    ASSERT_TRUE(w->game().gamerunning());
    // Searches already under way report in any order; only what the undo asks is looked at.
    ASSERT_TRUE(QTest::qWaitFor([this] { return w->dealsolver()->running() == 0; }, 60000));
    {
      std::lock_guard<std::mutex> lock(mutex);
      asked.clear();
    }
    ctrlz();
    ASSERT_EQ(w->game().board(), before);
    ASSERT_EQ(w->game().clicksleft(), clicks - 2);

    const QString winnable =
        clicks - 2 >= 2 ? QStringLiteral("Best from here: 2") : QStringLiteral("No win left");
    ASSERT_TRUE(QTest::qWaitFor([&] { return dealtext() == deal + winnable; }, 60000))
        << dealtext().toStdString();
    action("bestmove")->trigger();
    const QString best = clicks - 2 >= 2 ? QStringLiteral("Best move: 0/0 to row 7, column 1.")
                                         : QStringLiteral("No win is left from here.");
    ASSERT_TRUE(QTest::qWaitFor([&] { return coachsaid() == best; }, 60000))
        << coachsaid().toStdString();
    std::lock_guard<std::mutex> lock(mutex);
    ASSERT_FALSE(asked.empty());
    for (const auto& [board, clicksleft] : asked) {
      EXPECT_EQ(board, before);
      EXPECT_EQ(clicksleft, clicks - 2);
    }
  }
}

// A reader hears the bone go back, by the name the board shows it with.
TEST_F(Undo, AReaderHearsTheBoneTakenBack) {
  allow();
  setboard(twomovesfromsorted());
  QAccessibleInterface* spoken =
      QAccessible::queryAccessibleInterface(part<QObject>(w.get(), "boardspoken"));
  ASSERT_NE(spoken, nullptr);
  place({7, 28});
  ASSERT_NE(spoken->text(QAccessible::Name), "0/0 taken back");
  ctrlz();
  EXPECT_EQ(spoken->text(QAccessible::Name), "0/0 taken back");
  EXPECT_EQ(spoken->role(), QAccessible::Notification);
}
