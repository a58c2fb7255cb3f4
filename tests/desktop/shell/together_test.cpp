// The window's features where they meet: the deal's label on a board drawn
// larger, Show Solution while the window changes size and as a screen reader
// follows it, and Choose Deal's refusal shown whole.

#include <QAccessible>
#include <QAction>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <array>
#include <optional>

#include "game/deal.h"
#include "shell/boardaccess.h"
#include "shell/boardcursor.h"
#include "shell/boardparts.h"
#include "shell/boardscale.h"
#include "shell/dealdialog.h"
#include "shell/solutionreplay.h"
#include "shellsupport.h"

namespace {

class Together : public ShellTest {
 protected:
  void SetUp() override {
    w = makewindow();
    clickat(part(w.get(), "button_namecancel"));
  }

  QAction* action(const char* name) { return part<QAction>(w.get(), QString::fromLatin1(name)); }
  QLabel* deallabel() { return part<QLabel>(w.get(), "deallabel"); }
  QTimer* replay() { return part<QTimer>(w.get(), "solutiontimer"); }

  // Resizes the window so that its client area is exactly this big.
  void setclient(const QSize& client) {
    const QSize menu = w->size() - w->centralWidget()->size();
    w->resize(client + QSize(0, menu.height()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->centralWidget()->size() == client; }, 5000));
  }

  Slots shown() { return shownslots(w.get()); }

  // The slots as a screen reader names them.
  QStringList heard() {
    QStringList names;
    for (int slot = 1; slot <= game::kSlotCount; ++slot) {
      QObject* shape = part<QObject>(w.get(), QStringLiteral("shape_%1").arg(slot));
      names << QAccessible::queryAccessibleInterface(shape)->text(QAccessible::Name);
    }
    return names;
  }
  static QStringList namesof(const game::Board& board) {
    QStringList names;
    for (int slot = 1; slot <= game::kSlotCount; ++slot)
      names << BoardAccess::slotname(slot, game::boneat(board, slot));
    return names;
  }

  // Deal 1 ended lost by the time running out, its 5/3 still selected, and its
  // best known.
  void loseondealone() {
    w->startdeal(1);
    clickat(part(w.get(), "bone_10"));
    ASSERT_EQ(w->game().selectedbone(), 10);
    w->game().settimeleft(1);
    w->turntimerTimer();
    ASSERT_FALSE(w->game().gamerunning());
    ASSERT_TRUE(QTest::qWaitFor([this] { return action("showsolution")->isEnabled(); }, 20000));
  }

  // The board of deal 1 after the first placements of its best line.
  game::Board dealoneafter(int placements) {
    game::Board board = game::dealboard(1);
    if (!best) best = game::solve(board);
    for (int k = 0; k < placements; ++k) {
      const game::Placement p = best->placements[k];
      game::clearbone(board, p.bone);
      const game::Point at = game::getcoords(p.slot);
      board[at.x][at.y] = p.bone;
    }
    return board;
  }

  std::unique_ptr<Tmain> w;
  std::optional<game::Solution> best;
};

// The number stays in step with the board around it: as large as the board is
// drawn, at every scale, however often the label is written.
TEST_F(Together, TheDealsLabelIsDrawnAtTheBoardsScale) {
  w->startdeal(1);
  const int designed = deallabel()->font().pixelSize();
  ASSERT_EQ(designed, 13);

  setclient({1196, 660});
  ASSERT_EQ(w->boardscale()->scale(), 2.0);
  EXPECT_EQ(deallabel()->font().pixelSize(), 2 * designed);
  // A deal dealt on the larger board, and the best found once it is over.
  w->startdeal(1);
  EXPECT_EQ(deallabel()->font().pixelSize(), 2 * designed);
  loseondealone();
  ASSERT_TRUE(deallabel()->text().contains("Best for this deal: 29 clicks"));
  EXPECT_EQ(deallabel()->font().pixelSize(), 2 * designed);
  EXPECT_LE(QFontMetrics(deallabel()->font()).horizontalAdvance(deallabel()->text()),
            deallabel()->width());

  // Back at the window's own size, the label is its own size again.
  setclient({604, 352});
  EXPECT_EQ(deallabel()->font().pixelSize(), designed);
  w->startdeal(2);
  EXPECT_EQ(deallabel()->font().pixelSize(), designed);
}

// What Show Solution has placed stays on show whatever the window's size does,
// until a new game deals its own board; the game's own selection does not come
// back over it.
TEST_F(Together, ShowSolutionKeepsItsBoardWhenTheWindowChangesSize) {
  loseondealone();
  action("showsolution")->trigger();
  for (int k = 0; k < 5; ++k) w->solutionreplay()->step();
  ASSERT_EQ(shown(), slotsof(dealoneafter(5)));

  setclient({1196, 660});
  ASSERT_EQ(w->boardscale()->scale(), 2.0);
  EXPECT_EQ(shown(), slotsof(dealoneafter(5))) << "the board the replay had reached";
  EXPECT_FALSE(part(w.get(), "shape_highlite")->isVisible());

  while (replay()->isActive()) w->solutionreplay()->step();
  EXPECT_EQ(shown(), slotsof(game::solvedboard()));
  setclient({604, 352});
  EXPECT_EQ(shown(), slotsof(game::solvedboard())) << "the replay's end, once it is over";
  EXPECT_FALSE(part(w.get(), "shape_highlite")->isVisible());

  // Started in the middle of a replay, a game shows its own board at every
  // size.
  action("showsolution")->trigger();
  w->solutionreplay()->step();
  w->startdeal(2);
  EXPECT_FALSE(replay()->isActive());
  setclient({897, 495});
  EXPECT_EQ(shown(), slotsof(game::dealboard(2)));
}

// A screen reader hears the board the player sees: the replay's, placement by
// placement, with no slot left selected, and the game's own again once a new
// game starts.
TEST_F(Together, AScreenReaderFollowsShowSolution) {
  loseondealone();
  const game::Board lost = w->game().board();
  ASSERT_EQ(heard().join("; "), namesof(lost).join("; "));

  action("showsolution")->trigger();
  EXPECT_EQ(heard().join("; "), namesof(game::dealboard(1)).join("; "));
  for (int k = 1; k <= 3; ++k) {
    w->solutionreplay()->step();
    EXPECT_EQ(heard().join("; "), namesof(dealoneafter(k)).join("; ")) << "after placement " << k;
  }
  for (int slot = 1; slot <= game::kSlotCount; ++slot) {
    QObject* shape = part<QObject>(w.get(), QStringLiteral("shape_%1").arg(slot));
    EXPECT_FALSE(QAccessible::queryAccessibleInterface(shape)->state().selected) << slot;
  }

  w->startdeal(2);
  EXPECT_EQ(heard().join("; "), namesof(game::dealboard(2)).join("; "));
}

// The refusal is shown whole, below the box and above the buttons, not squeezed
// between them.
TEST_F(Together, ChooseDealsRefusalIsShownWhole) {
  action("choosedeal")->trigger();
  auto* dialog = w->findChild<DealDialog*>(QStringLiteral("dealdialog"));
  ASSERT_NE(dialog, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
  auto* edit = part<QLineEdit>(dialog, "dealnumber");
  auto* error = part<QLabel>(dialog, "dealerror");
  auto* ok = part<QPushButton>(dialog, "dealok");
  const int plain = dialog->height();
  for (const char* typed : {"seven", "", "99999999999999999999"}) {
    edit->setText(QString::fromLatin1(typed));
    QTest::mouseClick(ok, Qt::LeftButton);
    QCoreApplication::processEvents();
    ASSERT_TRUE(error->isVisible()) << typed;
    EXPECT_GE(error->height(), error->heightForWidth(error->width())) << typed;
    EXPECT_GE(error->y(), edit->geometry().bottom()) << typed;
    EXPECT_LE(error->geometry().bottom(), ok->y()) << typed;
    EXPECT_TRUE(dialog->rect().contains(error->geometry())) << typed;
  }
  // Asked again, it opens without the last refusal's room.
  QTest::mouseClick(part<QPushButton>(dialog, "dealcancel"), Qt::LeftButton);
  action("choosedeal")->trigger();
  EXPECT_FALSE(error->isVisibleTo(dialog));
  EXPECT_EQ(dialog->height(), plain);
}

}  // namespace
