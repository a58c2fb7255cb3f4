// The main window as the player first meets it: layout, menus, the name panel, starting a game,
// the drawn bones, the window's size rules and the posting wait.

#include <algorithm>
#include <functional>
#include <stdexcept>

#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QLocalServer>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSet>
#include <QTimer>

#include "controls/flatpanel.h"
#include "game/board.h"
#include "shell/boardparts.h"
#include "shellsupport.h"
#include "sound/latesoundplayer.h"

namespace {

struct Placed {
  const char* name;
  QRect geometry;
};

QStringList menutexts(QMenu* menu) {
  QStringList texts;
  for (QAction* action : menu->actions()) {
    // The captions as they read: the '&' before each item's letter is not shown.
    texts << (action->isSeparator() ? QStringLiteral("-") : action->text().remove('&'));
  }
  return texts;
}

int stackindex(QWidget* widget) {
  return int(widget->parentWidget()->children().indexOf(widget));
}

}  // namespace

using MainWindowLayout = ShellTest;

TEST_F(MainWindowLayout, EveryComponentSitsWhereTheLayoutPutsIt) {
  auto w = makewindow();
  const Placed placed[] = {
      {"panel_board", {2, 2, 593, 325}},
      {"label_name", {14, 14, 302, 16}},
      {"panel_board1", {1, 34, 588, 287}},
      {"Image2", {6, 6, 69, 277}},
      {"image_logo", {232, 242, 214, 41}},
      {"button_start", {448, 241, 132, 41}},
      {"label_score", {477, 192, 101, 20}},
      {"Image1", {424, 216, 154, 23}},
      {"image_timer", {425, 218, 150, 19}},
      {"label_timer", {427, 219, 87, 19}},
      {"shape_highlite", {502, 47, 70, 38}},
      {"panel_name", {123, 40, 329, 161}},
      {"edit_aname", {83, 52, 161, 32}},
      {"button_namedone", {26, 106, 132, 41}},
      {"button_namecancel", {170, 106, 132, 41}},
      {"panel_invalid", {131, 72, 329, 105}},
      {"image_ok", {98, 50, 132, 41}},
      {"panel_lost", {123, 64, 329, 105}},
      {"button_start2", {27, 49, 132, 41}},
      {"button_lost", {170, 50, 132, 41}},
      {"panel_cleared", {125, 3, 329, 281}},
      {"label_unusedbonus", {2, 41, 327, 24}},
      {"label_timebonus", {2, 65, 327, 24}},
      {"label_score1", {2, 94, 327, 24}},
      {"edit_name", {83, 147, 161, 32}},
      {"button_sendscore", {34, 189, 132, 41}},
      {"button_highscores", {171, 189, 132, 41}},
      {"button_cancel", {98, 237, 132, 41}},
      {"panel_wait", {27, 185, 288, 46}},
      {"panel_update", {125, 16, 329, 161}},
      {"button_updateyes", {27, 90, 132, 41}},
      {"button_updatecancel", {171, 90, 132, 41}},
  };
  for (const Placed& p : placed) {
    QWidget* c = part(w.get(), QString::fromLatin1(p.name));
    if (c) {
      EXPECT_EQ(c->geometry(), p.geometry) << p.name;
    }
  }

  // The slots follow the board's uneven column spacing.
  EXPECT_EQ(part(w.get(), "shape_1")->geometry(), QRect(8, 8, 66, 34));
  EXPECT_EQ(part(w.get(), "shape_14")->geometry(), QRect(80, 248, 66, 34));
  EXPECT_EQ(part(w.get(), "shape_20")->geometry(), QRect(151, 208, 66, 34));
  EXPECT_EQ(part(w.get(), "shape_35")->geometry(), QRect(503, 8, 66, 34));
  for (int slot = 1; slot <= 35; ++slot) {
    auto* s = part<TShape>(w.get(), QStringLiteral("shape_%1").arg(slot));
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->tag(), slot);
    EXPECT_EQ(s->color(), QColor(Qt::black));
  }
  for (int number = 1; number <= 28; ++number) {
    auto* b = part<TBone>(w.get(), QStringLiteral("bone_%1").arg(number));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->size(), QSize(66, 34));
    EXPECT_TRUE(b->picture().isNull()) << "no bone is drawn before the first deal";
    EXPECT_EQ(b->tag(), 0);
  }
}

TEST_F(MainWindowLayout, CaptionsAndPanelsAtCreation) {
  auto w = makewindow();
  EXPECT_EQ(w->windowTitle(), "Pipshift");
  EXPECT_EQ(part<QLabel>(w.get(), "label_name")->text(),
            "Welcome to Pipshift by Quorvel Software!");
  EXPECT_EQ(part<QLabel>(w.get(), "label_score")->text(), "Score:100");
  EXPECT_EQ(part<QLabel>(w.get(), "label_timer")->text(), "Time: 0:00");
  EXPECT_EQ(part<QLabel>(w.get(), "label_invalid")->text(), "Invalid");
  EXPECT_EQ(part<QLabel>(w.get(), "Label1")->text(), "YOUR CLEARED THE BOARD!");
  EXPECT_EQ(part<QLabel>(w.get(), "label_unusedbonus")->text(), "Unused Clicks Bonus: ");
  EXPECT_EQ(part<QLabel>(w.get(), "label_score1")->text(), "Your Score: ");
  EXPECT_EQ(part<QLabel>(w.get(), "Label7")->text(), "SORRY, YOU LOST!");
  EXPECT_EQ(part<QLabel>(w.get(), "Label15")->text(), "Update Available");
  EXPECT_EQ(part<TFlatPanel>(w.get(), "panel_wait")->caption(), "Posting Score, Please Wait......");
  EXPECT_EQ(part<QLineEdit>(w.get(), "edit_aname")->maxLength(), 10);
  EXPECT_EQ(part<QLineEdit>(w.get(), "edit_name")->maxLength(), 10);

  EXPECT_TRUE(part(w.get(), "panel_name")->isVisible());
  for (const char* hidden : {"panel_invalid", "panel_lost", "panel_cleared", "panel_wait",
                             "panel_update", "shape_highlite"}) {
    EXPECT_FALSE(part(w.get(), QString::fromLatin1(hidden))->isVisible()) << hidden;
  }
  EXPECT_TRUE(part<QTimer>(w.get(), "turntimer")->isActive());
  EXPECT_FALSE(part<QTimer>(w.get(), "Timer1")->isActive());
  EXPECT_FALSE(w->game().gamerunning());
}

TEST_F(MainWindowLayout, StackingFromGuideToPanels) {
  auto w = makewindow();
  const QStringList order = {"Image2",         "shape_1",     "shape_35",    "image_logo",
                             "button_start",   "label_score", "bone_1",      "bone_28",
                             "shape_highlite", "Image1",      "image_timer", "label_timer",
                             "panel_update",   "panel_name",  "panel_lost",  "panel_invalid",
                             "panel_cleared"};
  // The name panel was brought to the front at creation; before that it sat in its place.
  for (int i = 0; i + 1 < order.size(); ++i) {
    if (order[i] == "panel_name" || order[i + 1] == "panel_name") continue;
    EXPECT_LT(stackindex(part(w.get(), order[i])), stackindex(part(w.get(), order[i + 1])))
        << order[i].toStdString() << " below " << order[i + 1].toStdString();
  }
  EXPECT_GT(stackindex(part(w.get(), "panel_name")), stackindex(part(w.get(), "panel_cleared")));
  // The wait panel covers the send and list buttons of the cleared panel.
  EXPECT_GT(stackindex(part(w.get(), "panel_wait")), stackindex(part(w.get(), "button_sendscore")));
}

TEST_F(MainWindowLayout, MenusInOrderWithShortcutsAndMarks) {
  auto w = makewindow();
  auto* bar = part<QMenuBar>(w.get(), "MainMenu1");
  ASSERT_NE(bar, nullptr);
  QStringList titles;
  for (QAction* a : bar->actions()) titles << a->text().remove('&');
  EXPECT_EQ(titles, QStringList({"File", "Options", "View", "Help"}));

  const QList<QAction*> menus = bar->actions();
  EXPECT_EQ(menutexts(menus[0]->menu()),
            QStringList(
                {"Start Game", "Restart Deal", "Choose Deal...", "Deal of the Day", "-", "Exit"}));
  EXPECT_EQ(menutexts(menus[1]->menu()),
            QStringList({"Play Sounds", "Reset Screen Location", "Change  Name",
                         "Automatically Check for Updates", "-", "Show Hints", "-", "Allow Undo",
                         "Undo Move"}));
  EXPECT_EQ(menutexts(menus[2]->menu()),
            QStringList({"Tally List", "View High Score List", "-", "Show Solution", "Best Move",
                         "Show Winnable"}));
  EXPECT_EQ(menutexts(menus[3]->menu()), QStringList({"Help", "-", "About"}));

  EXPECT_EQ(part<QAction>(w.get(), "StartGame1")->shortcut(), QKeySequence("Ctrl+S"));
  EXPECT_EQ(part<QAction>(w.get(), "restartdeal")->shortcut(), QKeySequence("Ctrl+R"));
  EXPECT_EQ(part<QAction>(w.get(), "choosedeal")->shortcut(), QKeySequence("Ctrl+D"));
  EXPECT_EQ(part<QAction>(w.get(), "Help2")->shortcut(), QKeySequence("F1"));
  EXPECT_EQ(part<QAction>(w.get(), "undomove")->shortcut(), QKeySequence("Ctrl+Z"));
  auto* allowundo = part<QAction>(w.get(), "allowundo");
  EXPECT_TRUE(allowundo->isCheckable() && !allowundo->isChecked()) << "off until turned on";
  EXPECT_EQ(part<QAction>(w.get(), "bestmove")->shortcut(), QKeySequence("H"));
  auto* winnable = part<QAction>(w.get(), "showwinnable");
  EXPECT_TRUE(winnable->isCheckable() && !winnable->isChecked()) << "off unless turned on";
  for (const char* marked : {"PlaySounds1", "updatecheck", "ShowHints1"}) {
    auto* a = part<QAction>(w.get(), QString::fromLatin1(marked));
    EXPECT_TRUE(a->isCheckable() && a->isChecked()) << marked;
  }

  part<QAction>(w.get(), "TallyList1")->trigger();
  part<QAction>(w.get(), "Help2")->trigger();
  part<QAction>(w.get(), "About1")->trigger();
  clickat(part(w.get(), "image_logo"));
  EXPECT_EQ(companions.calls, QStringList({"tally", "help", "about", "link"}));
}

// Whether this process itself listens on the abstract socket name, as /proc shows it ("@name";
// any NUL bytes padding the address show as "@" too). Other processes may hold the same name at
// the same time (a second copy of the program may run), so the listening socket must be one of
// our own open files.
bool holdsabstractname(const QString& name) {
  QSet<QByteArray> ours;
  const QDir fds(QStringLiteral("/proc/self/fd"));
  for (const QString& fd : fds.entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System)) {
    char target[64] = {};
    const ssize_t length =
        readlink(QFile::encodeName(fds.filePath(fd)).constData(), target, sizeof target - 1);
    const QByteArray link(target, length > 0 ? length : 0);
    if (link.startsWith("socket:[")) ours << link.mid(8).chopped(1);
  }
  QFile table(QStringLiteral("/proc/net/unix"));
  if (!table.open(QIODevice::ReadOnly)) return false;
  const QRegularExpression path(
      QRegularExpression::anchoredPattern(QRegularExpression::escape("@" + name) + "@*"));
  for (const QByteArray& line : table.readAll().split('\n')) {
    // Num RefCount Protocol Flags Type St Inode Path
    const QList<QByteArray> fields = line.simplified().split(' ');
    if (fields.size() < 8 || !path.match(QString::fromLatin1(fields[7])).hasMatch()) continue;
    if (ours.contains(fields[6])) return true;
  }
  return false;
}

// Whether some process listens on the abstract socket name: a second listener is refused.
bool abstractnametaken(const QString& name) {
  QLocalServer probe;
  probe.setSocketOptions(QLocalServer::AbstractNamespaceOption);
  if (probe.listen(name)) return false;
  return probe.serverError() == QAbstractSocket::AddressInUseError;
}

TEST_F(MainWindowLayout, HoldsTheNamedMutexForItsLife) {
  // Other copies of the program (other tests, run at the same time) take the name now and then,
  // and while one holds it a window of ours cannot: wait for a moment when it is free.
  QDeadlineTimer deadline(20000);
  std::unique_ptr<Tmain> w;
  int missed = 0;
  while (!deadline.hasExpired()) {
    if (abstractnametaken("pipshift")) {
      QTest::qWait(50);
      continue;
    }
    w = makewindow(false);
    if (holdsabstractname("pipshift")) break;
    w.reset();
    // Not ours: another copy took it first, or the window never asked for it. The first may
    // happen now and then; the second every time.
    if (!abstractnametaken("pipshift")) ++missed;
    ASSERT_LT(missed, 3) << "the window does not take the name while it is free";
  }
  if (!w) GTEST_SKIP() << "other copies held the name for 20 s";
  EXPECT_TRUE(abstractnametaken("pipshift")) << "the name is free while the window lives";
  w.reset();
  EXPECT_FALSE(holdsabstractname("pipshift"));
}

// The program's real late player around a recorder: the player, and with it the sound output,
// is made only once the window is on screen, and the start-up cue held until then sounds.
TEST_F(MainWindowLayout, TheSoundPlayerIsMadeOnlyOnceTheWindowIsOnScreen) {
  int made = 0;
  SoundRecorder* player = nullptr;
  LateSoundPlayer late([&]() -> std::unique_ptr<SoundPlayer> {
    ++made;
    auto recorder = std::make_unique<SoundRecorder>();
    player = recorder.get();
    return recorder;
  });
  adjust = [&](TmainSetup& setup) { setup.sounds = &late; };
  auto w = makewindow(false);
  w->show();
  EXPECT_EQ(made, 0) << "made before the window was on screen";
  ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
  ASSERT_TRUE(QTest::qWaitFor([&] { return made == 1; }, Tmain::formshowfallback / 2));
  w->button_startClick();
  EXPECT_EQ(made, 1);
  EXPECT_EQ(player->prepared, 1);
  EXPECT_EQ(player->cues, QStringList({"entered", "startgame"}));
}

using NamePanel = ShellTest;

TEST_F(NamePanel, OpensWithTheNameOfRecordAndDoneTakesTheEntry) {
  auto w = makewindow();
  auto* aname = part<QLineEdit>(w.get(), "edit_aname");
  auto* name = part<QLineEdit>(w.get(), "edit_name");
  EXPECT_EQ(aname->text(), "Guest");
  EXPECT_EQ(name->text(), "Guest");

  aname->clear();
  QTest::keyClicks(aname, "Maximilian the Great");
  EXPECT_EQ(aname->text(), "Maximilian") << "at most 10 characters";
  clickat(part(w.get(), "button_namedone"));
  EXPECT_FALSE(part(w.get(), "panel_name")->isVisible());
  EXPECT_EQ(name->text(), "Maximilian");
}

TEST_F(NamePanel, CancelKeepsTheNameAndChangeNameShowsTheLastEntry) {
  auto w = makewindow();
  auto* aname = part<QLineEdit>(w.get(), "edit_aname");
  aname->setText("Zed");
  clickat(part(w.get(), "button_namecancel"));
  EXPECT_FALSE(part(w.get(), "panel_name")->isVisible());
  EXPECT_EQ(part<QLineEdit>(w.get(), "edit_name")->text(), "Guest");

  part<QAction>(w.get(), "ChangeName1")->trigger();
  EXPECT_TRUE(part(w.get(), "panel_name")->isVisible());
  EXPECT_EQ(aname->text(), "Zed");
  EXPECT_EQ(stackindex(part(w.get(), "panel_name")),
            int(part(w.get(), "panel_board1")->children().size()) - 1);
}

TEST_F(NamePanel, EmptyEntryGivesAnEmptyName) {
  auto w = makewindow();
  part<QLineEdit>(w.get(), "edit_aname")->clear();
  clickat(part(w.get(), "button_namedone"));
  EXPECT_EQ(part<QLineEdit>(w.get(), "edit_name")->text(), "");
}

TEST_F(NamePanel, StartingAGameClosesItWithoutTakingTheEntry) {
  auto w = makewindow();
  part<QLineEdit>(w.get(), "edit_aname")->setText("Zed");
  clickat(part(w.get(), "button_start"));
  EXPECT_FALSE(part(w.get(), "panel_name")->isVisible());
  EXPECT_EQ(part<QLineEdit>(w.get(), "edit_name")->text(), "Guest");
  EXPECT_EQ(part<QLabel>(w.get(), "label_name")->text(), "Good Luck Guest");
}

using StartGame = ShellTest;

TEST_F(StartGame, EveryBoneLiesOnTheSlotItsCellNamesAndShowsItsPips) {
  auto w = makewindow();
  clickat(part(w.get(), "button_start"));
  ASSERT_TRUE(w->game().gamerunning());

  const QImage face = QImage(":/images/boneface.png").convertToFormat(QImage::Format_ARGB32);
  ASSERT_FALSE(face.isNull());
  QSet<int> seen;
  for (int number = 1; number <= 28; ++number) {
    auto* b = part<TBone>(w.get(), QStringLiteral("bone_%1").arg(number));
    const int slot = game::slotof(w->game().board(), number);
    ASSERT_GE(slot, 8) << "column 0 stays empty after a deal";
    seen.insert(slot);
    EXPECT_EQ(b->geometry(), part(w.get(), QStringLiteral("shape_%1").arg(slot))->geometry())
        << "bone " << number;
    EXPECT_EQ(b->tag(), number);
    EXPECT_TRUE(b->isVisible());

    // What reaches the screen: the high pip's square at (2, 3), the low pip's at (35, 2), the
    // face between and around them.
    const QImage drawn = b->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    const int pips[2] = {game::gettopnum(number), game::getbotnum(number)};
    const QPoint at[2] = {{2, 3}, {35, 2}};
    for (int half = 0; half < 2; ++half) {
      const QImage dots = QImage(QStringLiteral(":/images/dots_%1.png").arg(pips[half]))
                              .convertToFormat(QImage::Format_ARGB32);
      ASSERT_EQ(dots.size(), QSize(28, 28));
      int compared = 0;
      for (int y = 0; y < 28; ++y) {
        for (int x = 0; x < 28; ++x) {
          const QRgb expected = dots.pixel(x, y);
          if (qAlpha(expected) != 255) continue;
          ++compared;
          ASSERT_EQ(drawn.pixel(at[half].x() + x, at[half].y() + y), expected)
              << "bone " << number << " half " << half << " at " << x << "," << y;
        }
      }
      EXPECT_GT(compared, 28 * 28 / 2);
    }
    EXPECT_EQ(drawn.pixel(32, 17), face.pixel(32, 17)) << "the groove between the halves";
    EXPECT_EQ(drawn.pixel(64, 32), face.pixel(64, 32));
  }
  EXPECT_EQ(seen.size(), 28);
}

TEST_F(StartGame, PipsquaresDifferSoTheComparisonMeansSomething) {
  QSet<QByteArray> different;
  for (int k = 0; k <= 6; ++k) {
    const QImage dots = QImage(QStringLiteral(":/images/dots_%1.png").arg(k));
    different.insert(
        QByteArray(reinterpret_cast<const char*>(dots.constBits()), int(dots.sizeInBytes())));
  }
  EXPECT_EQ(different.size(), 7);
}

TEST_F(StartGame, ResetsTheGameAndCountsItPlayed) {
  auto w = makewindow();
  clickat(part(w.get(), "button_start"));
  EXPECT_EQ(tally.calls, QStringList({"add 1"}));
  EXPECT_EQ(part<QLabel>(w.get(), "label_score")->text(), "Clicks: 100");
  EXPECT_EQ(part(w.get(), "label_score")->property("Tag").toInt(), 100);
  EXPECT_EQ(part(w.get(), "image_timer")->property("Tag").toInt(), 150);
  EXPECT_EQ(w->game().timeleft(), 300);

  // Spend a click and a few seconds, then start again in the middle of the game.
  const game::Board first = w->game().board();
  w->game().setclicksleft(57);
  w->game().settimeleft(100);
  for (int i = 0; i < 3; ++i) w->turntimerTimer();
  part<QAction>(w.get(), "StartGame1")->trigger();
  EXPECT_EQ(tally.calls, QStringList({"add 1", "add 1"}));
  EXPECT_EQ(w->game().timeleft(), 300);
  EXPECT_EQ(w->game().clicksleft(), 100);
  EXPECT_EQ(part<QLabel>(w.get(), "label_score")->text(), "Clicks: 100");
  EXPECT_NE(w->game().board(), first) << "each game is dealt anew";
  // The clock keeps its old face until the next tick.
  EXPECT_EQ(part<QLabel>(w.get(), "label_timer")->text(), "Time: 1:37");
  w->turntimerTimer();
  EXPECT_EQ(part<QLabel>(w.get(), "label_timer")->text(), "Time: 4:59");
}

TEST_F(StartGame, HidesTheGamePanelsButNotTheRefusal) {
  auto w = makewindow();
  for (const char* name : {"panel_lost", "panel_cleared", "panel_wait", "panel_invalid"}) {
    part(w.get(), QString::fromLatin1(name))->show();
  }
  clickat(part(w.get(), "button_start"));
  for (const char* name : {"panel_lost", "panel_cleared", "panel_wait", "panel_name"}) {
    EXPECT_FALSE(part(w.get(), QString::fromLatin1(name))->isVisible()) << name;
  }
  EXPECT_TRUE(part(w.get(), "panel_invalid")->isVisible());
}

TEST_F(StartGame, LostPanelStartsAGameAndDoneHidesIt) {
  auto w = makewindow();
  clickat(part(w.get(), "button_namecancel"));
  part(w.get(), "panel_lost")->show();
  clickat(part(w.get(), "button_lost"));
  EXPECT_FALSE(part(w.get(), "panel_lost")->isVisible());

  part(w.get(), "panel_lost")->show();
  clickat(part(w.get(), "button_start2"));
  EXPECT_FALSE(part(w.get(), "panel_lost")->isVisible());
  EXPECT_TRUE(w->game().gamerunning());
}

TEST_F(StartGame, MenuStartGameAlsoHidesTheClearedPanel) {
  auto w = makewindow();
  part(w.get(), "panel_cleared")->show();
  w->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
  QTest::keyClick(w.get(), Qt::Key_S, Qt::ControlModifier);
  EXPECT_TRUE(w->game().gamerunning());
  EXPECT_FALSE(part(w.get(), "panel_cleared")->isVisible());
}

using WindowSize = ShellTest;

TEST_F(WindowSize, ShrinkingBelowTheBoardSnapsBack) {
  auto w = makewindow();
  w->resize(200, 120);
  QTRY_COMPARE(w->centralWidget()->size(), QSize(598, 330));
  EXPECT_EQ(w->clientsize(), QSize(598, 330));

  w->resize(200, 700);
  QTRY_COMPARE(w->centralWidget()->width(), 598);
  EXPECT_GE(w->centralWidget()->height(), 600) << "only the too-small side is corrected";

  w->resize(800, 500);
  QTRY_COMPARE(w->size(), QSize(800, 500));
}

TEST_F(WindowSize, ResetScreenLocationRestoresTheDefaultBounds) {
  auto w = makewindow();
  w->setbounds({40, 50, 700, 420});
  QTRY_COMPARE(w->bounds(), QRect(40, 50, 700, 420));
  part<QAction>(w.get(), "ResetScreenLocation1")->trigger();
  QTRY_COMPARE(w->bounds(), QRect(3, 3, 604, 374));
}

using PostingWait = ShellTest;

TEST_F(PostingWait, CaptionCyclesAndFailsOnTheFortiethTick) {
  auto w = makewindow();
  part(w.get(), "panel_cleared")->show();
  w->button_sendscoreClick();
  auto* wait = part<TFlatPanel>(w.get(), "panel_wait");
  EXPECT_TRUE(wait->isVisible());
  EXPECT_TRUE(w->posting());
  EXPECT_EQ(w->postcountdown(), 40);
  EXPECT_EQ(w->postdots(), 0);

  for (int tick = 1; tick <= 39; ++tick) {
    w->Timer1Timer();
    const int dots = (tick - 1) % 5 + 1;
    ASSERT_EQ(wait->caption(), "Posting Score, Please Wait" + QString(dots, '.')) << tick;
    ASSERT_TRUE(messages.isEmpty()) << tick;
  }
  w->Timer1Timer();
  EXPECT_TRUE(messages.isEmpty()) << "the message waits until the tick has returned";
  QCoreApplication::processEvents();
  EXPECT_EQ(messages, QStringList({"Posting Failed."}));
  EXPECT_FALSE(w->posting());
  EXPECT_TRUE(wait->isVisible()) << "the wait panel stays, so the score is not sent twice";
}

TEST_F(PostingWait, TicksWhileTheMessageIsOpenGiveNoSecondMessage) {
  auto w = makewindow();
  w->button_sendscoreClick();
  for (int tick = 1; tick < 40; ++tick) w->Timer1Timer();
  auto* wait = part<TFlatPanel>(w.get(), "panel_wait");
  // The box is modal; its event loop keeps the timer ticking until the player closes it.
  whilemessage = [&] {
    whilemessage = nullptr;
    EXPECT_TRUE(w->posting());
    for (int i = 0; i < 3; ++i) w->Timer1Timer();
  };
  w->Timer1Timer();
  QCoreApplication::processEvents();
  EXPECT_EQ(messages, QStringList({"Posting Failed."}));
  EXPECT_EQ(w->postcountdown(), -3);
  EXPECT_EQ(wait->caption(), "Posting Score, Please Wait...") << "dots 5, then 1, 2, 3";
  EXPECT_FALSE(w->posting());
}

// The real timer and a real message box, closed as the player would close it.
TEST_F(PostingWait, TheTimerTicksOnWhileTheFailureMessageIsOpen) {
  adjust = [](TmainSetup& setup) {
    setup.message = nullptr;
    setup.postinterval = 10;
  };
  auto w = makewindow();
  part(w.get(), "panel_cleared")->show();
  auto* wait = part<TFlatPanel>(w.get(), "panel_wait");
  int boxes = 0;
  QString said;
  QSet<QString> captions;
  int lowest = 1;
  bool open = false;
  QElapsedTimer opened;
  // Watches from inside the box's own event loop.
  QTimer watch;
  watch.setInterval(2);
  QObject::connect(&watch, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) {
      open = false;
      return;
    }
    if (!open) {
      open = true;
      ++boxes;
      said = box->text();
      opened.start();
    }
    captions << wait->caption();
    lowest = std::min(lowest, w->postcountdown());
    // Closed once the countdown is well past zero and every count of dots has been seen, or
    // after a while should the wait stand still.
    if ((w->postcountdown() <= -6 && captions.size() == 5) || opened.hasExpired(3000))
      box->button(QMessageBox::Ok)->click();
  });
  watch.start();

  w->button_sendscoreClick();
  ASSERT_TRUE(QTest::qWaitFor([&] { return boxes == 1 && !open && !w->posting(); }, 20000));
  const int countdown = w->postcountdown();
  // Ten more intervals and then some: the timer is off and no second box comes.
  QTest::qWait(150);
  EXPECT_EQ(boxes, 1);
  EXPECT_EQ(said, "Posting Failed.");
  EXPECT_LE(lowest, -6) << "the countdown stood still while the box was open";
  EXPECT_EQ(captions.size(), 5) << "the dots did not go round while the box was open";
  EXPECT_EQ(w->postcountdown(), countdown);
  EXPECT_TRUE(wait->isVisible());
}

TEST_F(PostingWait, AnAnswerJustBeforeTheMessageMeansNoFailure) {
  auto w = makewindow();
  part(w.get(), "panel_cleared")->show();
  w->button_sendscoreClick();
  for (int tick = 0; tick < 40; ++tick) w->Timer1Timer();
  w->postaccepted();
  QCoreApplication::processEvents();
  EXPECT_TRUE(messages.isEmpty());
  EXPECT_FALSE(w->posting());
}

// A refusal stored nothing: the player hears of it at once and may send the score again.
TEST_F(PostingWait, ARefusedPostFailsAtOnceAndSendScoreCanBePressedAgain) {
  auto w = makewindow();
  part(w.get(), "panel_cleared")->show();
  auto* wait = part(w.get(), "panel_wait");
  w->button_sendscoreClick();
  for (int tick = 0; tick < 5; ++tick) w->Timer1Timer();
  w->postrefused();
  EXPECT_EQ(messages, QStringList({"Posting Failed."}));
  EXPECT_FALSE(w->posting());
  EXPECT_FALSE(wait->isVisible()) << "the wait panel hid Send Score";
  EXPECT_TRUE(part(w.get(), "panel_cleared")->isVisible());

  clickat(part(w.get(), "button_sendscore"));
  EXPECT_EQ(companions.calls, QStringList({"post", "post"}));
  EXPECT_TRUE(w->posting());
  EXPECT_EQ(w->postcountdown(), 40) << "a new countdown for the new post";
  EXPECT_TRUE(wait->isVisible());
}

// The countdown said it first: a refusal arriving later only takes the wait panel away.
TEST_F(PostingWait, ARefusalAfterTheCountdownBringsNoSecondMessage) {
  auto w = makewindow();
  part(w.get(), "panel_cleared")->show();
  w->button_sendscoreClick();
  for (int tick = 0; tick < 40; ++tick) w->Timer1Timer();
  // The box is open, the timer still ticking, when the refusal comes.
  whilemessage = [&] {
    whilemessage = nullptr;
    w->postrefused();
  };
  QCoreApplication::processEvents();
  EXPECT_EQ(messages, QStringList({"Posting Failed."}));
  EXPECT_FALSE(part(w.get(), "panel_wait")->isVisible());
  EXPECT_FALSE(w->posting());
  w->postrefused();
  EXPECT_EQ(messages.size(), 1);
}

// Forty ticks of a coarse timer may come up to two seconds early.
TEST_F(PostingWait, TheCountdownTicksOnAPreciseTimer) {
  auto w = makewindow();
  auto* timer = part<QTimer>(w.get(), "Timer1");
  EXPECT_EQ(timer->timerType(), Qt::PreciseTimer);
  EXPECT_EQ(timer->interval(), 1000);
}

// A box the player cannot see is no message: it comes up over the main window, above another of
// the program's windows that had the keys, and takes them.
TEST_F(PostingWait, TheFailureMessageComesUpOnTopWithTheKeys) {
  adjust = [](TmainSetup& setup) { setup.message = nullptr; };
  auto w = makewindow();
  QWidget other;
  other.setWindowTitle(QStringLiteral("another window"));
  other.setGeometry(w->geometry());
  other.show();
  other.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
  w->button_sendscoreClick();
  for (int tick = 1; tick < 40; ++tick) w->Timer1Timer();
  bool seen = false;
  bool ontop = false;
  bool haskeys = false;
  bool modal = false;
  bool inside = false;
  QTimer watch;
  watch.setInterval(5);
  QObject::connect(&watch, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible()) return;
    if (!QTest::qWaitForWindowActive(box, 2000)) return;
    seen = true;
    ontop = box->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
    haskeys = QApplication::activeWindow() == box;
    modal = box->windowModality() == Qt::ApplicationModal;
    inside = box->screen()->availableGeometry().contains(box->frameGeometry()) &&
             w->frameGeometry().intersects(box->frameGeometry());
    box->button(QMessageBox::Ok)->click();
  });
  watch.start();
  w->Timer1Timer();
  ASSERT_TRUE(QTest::qWaitFor([&] { return seen && !w->posting(); }, 10000));
  EXPECT_TRUE(ontop);
  EXPECT_TRUE(haskeys) << "the box did not take the keys from the other window";
  EXPECT_TRUE(modal);
  EXPECT_TRUE(inside) << "the box is not over the main window on the screen";
}

TEST_F(PostingWait, SendScorePostsTheGuestNameTodayAndTheScore) {
  auto w = makewindow();
  part<QLineEdit>(w.get(), "edit_name")->clear();
  part(w.get(), "label_score")->setProperty("Tag", 370);
  w->button_sendscoreClick();
  EXPECT_EQ(companions.calls, QStringList({"post"}));
  ASSERT_EQ(companions.posted.size(), 3);
  EXPECT_EQ(companions.posted[0], "Guest");
  EXPECT_EQ(part<QLineEdit>(w.get(), "edit_name")->text(), "Guest");
  const QRegularExpression date(R"(^(\d{1,2})(\D)(\d{1,2})\2(\d\d)$)");
  const auto m = date.match(companions.posted[1]);
  ASSERT_TRUE(m.hasMatch()) << companions.posted[1].toStdString();
  const QDate today = QDate::currentDate();
  EXPECT_EQ(m.captured(1).toInt(), today.month());
  EXPECT_EQ(m.captured(3).toInt(), today.day());
  EXPECT_EQ(m.captured(4).toInt(), today.year() % 100);
  EXPECT_EQ(companions.posted[2], "370");
}

TEST_F(PostingWait, AnAcceptedPostEndsTheWaitEvenAfterTheFailureMessage) {
  auto w = makewindow();
  part(w.get(), "panel_cleared")->show();
  w->button_sendscoreClick();
  w->postaccepted();
  EXPECT_FALSE(part(w.get(), "panel_cleared")->isVisible());
  EXPECT_FALSE(w->posting());

  part(w.get(), "panel_cleared")->show();
  w->button_sendscoreClick();
  for (int tick = 0; tick < 40; ++tick) w->Timer1Timer();
  QCoreApplication::processEvents();
  ASSERT_EQ(messages.size(), 1);
  w->postaccepted();
  EXPECT_FALSE(part(w.get(), "panel_cleared")->isVisible());
}

// A new game ends the wait for the last one's post: its countdown says nothing in the next game,
// whichever way the game was started.
TEST_F(PostingWait, ANewGameEndsTheCountdown) {
  auto w = makewindow();
  const QList<std::pair<const char*, std::function<void()>>> starts = {
      {"Start Game", [&] { clickat(part(w.get(), "button_start")); }},
      {"Restart Deal", [&] { part<QAction>(w.get(), "restartdeal")->trigger(); }},
      {"Deal of the Day", [&] { part<QAction>(w.get(), "dealoftheday")->trigger(); }},
  };
  for (const auto& [what, start] : starts) {
    part(w.get(), "panel_cleared")->show();
    w->button_sendscoreClick();
    for (int tick = 0; tick < 10; ++tick) w->Timer1Timer();
    ASSERT_TRUE(w->posting()) << what;
    start();
    EXPECT_FALSE(part(w.get(), "panel_wait")->isVisible()) << what;
    EXPECT_FALSE(w->posting()) << what;
    for (int tick = 10; tick < 40; ++tick) w->Timer1Timer();
    QCoreApplication::processEvents();
    EXPECT_TRUE(messages.isEmpty()) << what << ": " << messages.join(", ").toStdString();
  }
}

TEST_F(PostingWait, APostThatCannotStartSaysWhyAndFailsByTheCountdown) {
  companions.whilepost = [] { throw std::runtime_error("no thread to be had"); };
  auto w = makewindow();
  part(w.get(), "panel_cleared")->show();
  testing::internal::CaptureStderr();
  w->button_sendscoreClick();
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_NE(said.find("the score could not be sent: no thread to be had"), std::string::npos)
      << said;
  EXPECT_TRUE(w->posting());
  EXPECT_EQ(w->postcountdown(), 40);
  EXPECT_TRUE(part(w.get(), "panel_wait")->isVisible());
}
