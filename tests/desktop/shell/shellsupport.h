#pragma once

// Shared by the main-window tests: recorders for the window's collaborators, a window built in a
// scratch folder, and clicks that go through the window's own hit testing, so a click lands on
// whatever lies on top at that point, as a player's would.

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QMainWindow>
#include <QMargins>
#include <QPainter>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

#include <array>
#include <functional>
#include <memory>

#include "game/board.h"
#include "shell/boardparts.h"
#include "shell/boardscale.h"
#include "shell/companions.h"
#include "shell/mainform.h"
#include "shell/tallyport.h"
#include "sound/soundplayer.h"

// A board slot by slot: the bone on each of slots 1 to 35, 0 for none.
using Slots = std::array<int, game::kSlotCount>;

inline Slots slotsof(const game::Board& board) {
  Slots cells{};
  for (int slot = 1; slot <= game::kSlotCount; ++slot) cells[slot - 1] = game::boneat(board, slot);
  return cells;
}

// The bones as the window shows them: which picture lies on which slot.
inline Slots shownslots(QWidget* window) {
  Slots cells{};
  for (int number = 1; number <= game::kBoneCount; ++number) {
    auto* b = window->findChild<TBone*>(QStringLiteral("bone_%1").arg(number));
    if (!b || b->tag() == 0) continue;
    for (int slot = 1; slot <= game::kSlotCount; ++slot) {
      const QWidget* shape = window->findChild<QWidget*>(QStringLiteral("shape_%1").arg(slot));
      if (shape && shape->geometry() == b->geometry()) cells[slot - 1] = number;
    }
  }
  return cells;
}

// A 2x picture pixel for pixel (Qt reads "@2x" in the name as a device pixel ratio of 2).
inline QImage pixels(const QString& path) {
  QImage image = QImage(path).convertToFormat(QImage::Format_ARGB32);
  image.setDevicePixelRatio(1.0);
  return image;
}

// The picture of a bone as the game composes it, from the 2x face and pip squares.
inline QImage twicebone(int number) {
  QImage bone = pixels(":/images/boneface@2x.png");
  QPainter p(&bone);
  p.drawImage(4, 6, pixels(QStringLiteral(":/images/dots_%1@2x.png").arg(game::gettopnum(number))));
  p.drawImage(70, 4,
              pixels(QStringLiteral(":/images/dots_%1@2x.png").arg(game::getbotnum(number))));
  return bone;
}

// The sorted board with two faults: 0/0 stands right of its home slot, and 6/0 at the end of the
// top row. Two placements sort it: 0/0 home, then 6/0 one slot left.
inline game::Board twomovesfromsorted() {
  game::Board board = game::solvedboard();
  board[0][6] = 0;
  board[1][6] = 28;
  board[6][0] = 0;
  board[7][0] = 7;
  return board;
}

// The room the client area leaves round the board's layout (its frame with the designed margin)
// on each side, in the window's pixels.
inline QMargins roomaround(Tmain* w) {
  const QWidget* board = w->findChild<QWidget*>(QStringLiteral("panel_board"));
  const qreal s = w->boardscale()->scale();
  const QRect layout(board->pos() - QPoint(qRound(2 * s), qRound(2 * s)),
                     QSize(qRound(598 * s), qRound(330 * s)));
  const QSize client = w->centralWidget()->size();
  return {layout.left(), layout.top(), client.width() - layout.right() - 1,
          client.height() - layout.bottom() - 1};
}

// Columns 1 to 7 full but for slot 15 (column 2, row 0); the only bone in column 0 is 6/6 at the
// top. Moving 6/4 (bone 3) from column 1, row 1 into slot 15 (after 6/5) leaves the scan of every
// row at a full row or an empty slot with an empty left neighbour: no move is left.
inline game::Board onemovefromstuck() {
  game::Board board{};
  board[0][0] = 1;
  board[1][0] = 2;
  board[1][1] = 3;
  int next = 4;
  for (int column = 1; column <= 7; ++column) {
    for (int row = 0; row < game::columnlength(column); ++row) {
      if (board[column][row] != 0 || (column == 2 && row == 0)) continue;
      board[column][row] = next++;
    }
  }
  return board;
}

class SoundRecorder : public SoundPlayer {
 public:
  void play(const QString& name) override { cues << name; }
  void prepare() override { ++prepared; }
  QStringList cues;
  int prepared = 0;
};

class TallyRecorder : public TallyPort {
 public:
  void addtomineincrease(int column) override { calls << QStringLiteral("add %1").arg(column); }
  void checkscore(int score, const QString& name) override {
    calls << QStringLiteral("score %1 %2").arg(score).arg(name);
  }
  QStringList calls;
};

class CompanionRecorder : public Companions {
 public:
  void showtally() override { calls << QStringLiteral("tally"); }
  void savetally() override { calls << QStringLiteral("savetally"); }
  void showhelp() override { calls << QStringLiteral("help"); }
  void showabout() override { calls << QStringLiteral("about"); }
  void openlink() override { calls << QStringLiteral("link"); }
  QString versiontext() const override { return version; }
  void showhighscores() override { calls << QStringLiteral("highscores"); }
  void postscore(const QString& name, const QString& date, const QString& score) override {
    calls << QStringLiteral("post");
    posted = {name, date, score};
    if (whilepost) whilepost();
  }
  // Runs as a post starts (one that fails to start throws here).
  std::function<void()> whilepost;
  QStringList calls;
  QStringList posted;
  QString version = QStringLiteral("1.0.0");
};

class ShellTest : public testing::Test {
 protected:
  QString inipath() const { return dir.filePath(QStringLiteral("pipshift.ini")); }

  void writeini(const QByteArray& text) {
    QFile file(inipath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
  }

  QByteArray readini() const {
    QFile file(inipath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }

  // The main window as the program makes it, shown on the offscreen screen.
  std::unique_ptr<Tmain> makewindow(bool show = true) {
    TmainSetup setup;
    setup.sounds = &sounds;
    setup.tally = &tally;
    setup.settingspath = inipath();
    setup.defaultserver = defaultserver;
    setup.seed = 20240607;
    setup.message = [this](const QString& text) {
      messages << text;
      if (whilemessage) whilemessage();
    };
    setup.endprogram = [this] { ++ended; };
    if (adjust) adjust(setup);
    auto window = std::make_unique<Tmain>(setup);
    window->setcompanions(&companions);
    if (show) {
      window->show();
      EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    return window;
  }

  template <typename T = QWidget>
  static T* part(QWidget* window, const QString& name) {
    T* found = window->findChild<T*>(name);
    if (!found) ADD_FAILURE() << "no component " << name.toStdString();
    return found;
  }

  // A click as the player makes it: press and release at a point of the window, delivered to
  // whatever component lies on top there.
  static void clickat(QWidget* target, QPoint at = {}, Qt::MouseButton button = Qt::LeftButton) {
    if (at.isNull()) at = target->rect().center();
    QWidget* top = target->window();
    QTest::mouseClick(top->windowHandle(), button, Qt::NoModifier, target->mapTo(top, at));
    QCoreApplication::processEvents();
  }

  QTemporaryDir dir;
  // Nothing listens on the discard port here: a test never reaches beyond this machine.
  QString defaultserver = QStringLiteral("http://127.0.0.1:9/");
  SoundRecorder sounds;
  TallyRecorder tally;
  CompanionRecorder companions;
  QStringList messages;
  std::function<void()> whilemessage;
  // Changes the window's setup before it is made: a test's own collaborators or timings.
  std::function<void(TmainSetup&)> adjust;
  int ended = 0;
};
