// The tally list window as the game and the player drive it: counters, the top ten, placeholders,
// reset, and the tally file read at creation and written at destruction.
#include <gtest/gtest.h>
#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

#include "controls/imagebutton.h"
#include "stats/tallyfile.h"
#include "stats/tallylistform.h"
#include "stats/tallylock.h"
#include "tests/desktop/stats/tallysupport.h"
#include "tests/support/accesswalk.h"

namespace {

const QDate fixedday(2024, 3, 9);

struct Rank {
  QString date, name, score;
  int tag;
  QColor colour;
  bool bold;
  bool operator==(const Rank&) const = default;
};

// A window's whole visible and stored state, to show that something changed nothing.
struct Snapshot {
  QStringList texts;
  QList<int> tags;
  QList<QColor> colours;
  TextTable table;
  bool operator==(const Snapshot&) const = default;
};

class TallyList : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    path = dir.filePath("pipshifttally.tld");
    previous = Ttallylist::setloaderrorreporter([this](const QString& text) { errors << text; });
  }
  void TearDown() override { Ttallylist::setloaderrorreporter(previous); }

  std::unique_ptr<Ttallylist> open(QWidget* mainwindow = nullptr) {
    auto w = std::make_unique<Ttallylist>(mainwindow, path);
    w->today = [] { return fixedday; };
    w->confirmreset = [this] {
      ++asked;
      return answer;
    };
    return w;
  }

  static QLabel* label(const Ttallylist& w, const QString& name) {
    auto* l = w.findChild<QLabel*>(name);
    EXPECT_NE(l, nullptr) << name.toStdString();
    return l;
  }
  static QString text(const Ttallylist& w, const QString& name) { return label(w, name)->text(); }
  static QStringList counters(const Ttallylist& w) {
    return {text(w, "mylabel_1"), text(w, "mylabel_2"), text(w, "mylabel_3")};
  }
  static Rank rank(const Ttallylist& w, int i) {
    QLabel* high = label(w, QString("label_high%1").arg(i));
    // The four labels of a line always share colour and weight.
    for (const char* kind : {"label_num", "label_date", "label_name"}) {
      QLabel* other = label(w, QString("%1%2").arg(kind).arg(i));
      EXPECT_EQ(other->palette().color(QPalette::WindowText),
                high->palette().color(QPalette::WindowText));
      EXPECT_EQ(other->font().bold(), high->font().bold());
    }
    EXPECT_EQ(high->property("Tag").toInt(), w.rankvalue(i));
    return {text(w, QString("label_date%1").arg(i)),
            text(w, QString("label_name%1").arg(i)),
            high->text(),
            w.rankvalue(i),
            high->palette().color(QPalette::WindowText),
            high->font().bold()};
  }
  static std::string cell(const Ttallylist& w, int c, int r) {
    return w.stringgrid_scores().cell(c, r);
  }
  static Snapshot snapshot(const Ttallylist& w) {
    Snapshot s{counters(w), {}, {}, w.stringgrid_scores()};
    for (int i = 1; i <= 10; ++i) {
      const Rank r = rank(w, i);
      s.texts << r.date << r.name << r.score;
      s.tags << r.tag;
      s.colours << r.colour;
    }
    return s;
  }
  static Rank placeholder(const QColor& colour, bool bold) {
    return {"Feb 11, 2008", "Quorvel", "0", 0, colour, bold};
  }
  static Rank entry(const QString& name, int score, const QColor& colour, bool bold) {
    return {QLocale::system().toString(fixedday, QLocale::ShortFormat),
            name,
            QString::number(score),
            score,
            colour,
            bold};
  }
  static Rank blank(const QColor& colour, bool bold) { return {"", "", "", -1000, colour, bold}; }
  static void play(Ttallylist& w, int score, const QString& name) {
    w.addtomineincrease(1);
    w.addtomineincrease(2);
    w.checkscore(score, name);
  }

  QTemporaryDir dir;
  QString path;
  QStringList errors;
  Ttallylist::ErrorReporter previous;
  bool answer = true;
  int asked = 0;
};

const QColor designed = Ttallylist::designedcolor;
const QColor white = Ttallylist::plaincolor;
const QColor red = Ttallylist::markcolor;

TEST_F(TallyList, NewPlayerSeesPlaceholdersUntilAClearedGameAndOnlyRealEntriesSurviveARestart) {
  auto w = open();
  EXPECT_TRUE(errors.isEmpty());
  EXPECT_EQ(counters(*w), QStringList({"0", "0", "0"}));
  for (int i = 1; i <= 10; ++i) EXPECT_EQ(rank(*w, i), placeholder(designed, true)) << i;
  for (int r = 1; r <= 10; ++r) EXPECT_EQ(cell(*w, 1, r), "-1000");

  play(*w, 150, "Ann Lee");
  EXPECT_EQ(counters(*w), QStringList({"1", "1", "0"}));
  EXPECT_EQ(rank(*w, 1), entry("Ann Lee", 150, red, true));
  for (int i = 2; i <= 10; ++i) EXPECT_EQ(rank(*w, i), placeholder(white, false)) << i;
  EXPECT_EQ(cell(*w, 2, 1), "Ann Lee");
  EXPECT_EQ(cell(*w, 1, 2), "-1000");

  w.reset();  // the exit writes the tally file
  w = open();
  EXPECT_TRUE(errors.isEmpty());
  EXPECT_EQ(counters(*w), QStringList({"1", "1", "0"}));
  EXPECT_EQ(rank(*w, 1), entry("Ann Lee", 150, designed, true));
  for (int i = 2; i <= 10; ++i) EXPECT_EQ(rank(*w, i), blank(designed, true)) << i;
}

TEST_F(TallyList, PlaceholdersSlideDownBelowTiesButNeverEnterTheTable) {
  auto w = open();
  w->checkscore(150, "Ann");
  w->checkscore(0, "Zero");  // ties the placeholders and goes above them
  EXPECT_EQ(rank(*w, 2), entry("Zero", 0, red, true));
  EXPECT_EQ(rank(*w, 3), placeholder(white, false));
  EXPECT_EQ(cell(*w, 2, 2), "Zero");
  for (int r = 3; r <= 10; ++r) EXPECT_EQ(cell(*w, 1, r), "-1000") << r;
}

TEST_F(TallyList, WinPercentageIsRecomputedOnlyWhenAGameStartsAndTruncates) {
  auto w = open();
  w->addtomineincrease(1);
  w->addtomineincrease(2);
  EXPECT_EQ(counters(*w), QStringList({"1", "1", "0"}));
  w->addtomineincrease(1);
  EXPECT_EQ(counters(*w), QStringList({"2", "1", "50"}));
  w->addtomineincrease(2);
  w->addtomineincrease(1);
  EXPECT_EQ(counters(*w), QStringList({"3", "2", "66"}));
  EXPECT_EQ(cell(*w, 3, 0), "66");
  EXPECT_EQ(cell(*w, 1, 0), "3");
}

TEST_F(TallyList, DamagedOrHugeCountersNeitherStopTheCountNorOverflow) {
  auto w = open();
  w->stringgrid_scores().setCell(1, 0, "x7");
  EXPECT_EQ(w->addit(1, 0), 1);
  EXPECT_EQ(cell(*w, 1, 0), "1");

  w->stringgrid_scores().setCell(2, 0, "lots");
  w->addtomineincrease(1);
  EXPECT_EQ(text(*w, "mylabel_3"), "0");

  // The percentage's product passes 32 bits long before the counters do.
  w->stringgrid_scores().setCell(1, 0, "2147483646");
  w->stringgrid_scores().setCell(2, 0, "2000000000");
  w->addtomineincrease(1);
  EXPECT_EQ(text(*w, "mylabel_1"), "2147483647");
  EXPECT_EQ(text(*w, "mylabel_3"), "93");
  w->addtomineincrease(1);
  EXPECT_EQ(text(*w, "mylabel_1"), "2147483647");
}

TEST_F(TallyList, ATieEntersAboveTheOlderEntryAndTheRestMoveDown) {
  auto w = open();
  w->checkscore(100, "Old");
  w->checkscore(50, "Low");
  w->checkscore(100, "New");
  EXPECT_EQ(rank(*w, 1), entry("New", 100, red, true));
  EXPECT_EQ(rank(*w, 2), entry("Old", 100, white, false));
  EXPECT_EQ(rank(*w, 3), entry("Low", 50, white, false));
  EXPECT_EQ(cell(*w, 2, 2), "Old");
  EXPECT_EQ(cell(*w, 2, 3), "Low");
}

TEST_F(TallyList, WithTenEntriesALowerScoreOnlyWhitensAndATieWithRankTenReplacesIt) {
  auto w = open();
  for (int i = 1; i <= 10; ++i) w->checkscore(1100 - 100 * i, QString("N%1").arg(i));
  EXPECT_EQ(rank(*w, 10), entry("N10", 100, red, true));
  const TextTable before = w->stringgrid_scores();

  w->checkscore(99, "Nope");
  EXPECT_EQ(w->stringgrid_scores(), before);
  for (int i = 1; i <= 10; ++i)
    EXPECT_EQ(rank(*w, i), entry(QString("N%1").arg(i), 1100 - 100 * i, white, false)) << i;

  w->checkscore(100, "Tie");
  EXPECT_EQ(rank(*w, 9), entry("N9", 200, white, false));
  EXPECT_EQ(rank(*w, 10), entry("Tie", 100, red, true));
  EXPECT_EQ(cell(*w, 2, 10), "Tie");
  EXPECT_EQ(cell(*w, 2, 9), "N9");
}

TEST_F(TallyList, ResetAnsweredYesClearsEverythingAndTheNextGameFillsRankOne) {
  auto w = open();
  play(*w, 150, "Ann");
  play(*w, 90, "Bo");
  QTest::mouseClick(w->findChild<TImageButton*>("button_resettally"), Qt::LeftButton);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(counters(*w), QStringList({"0", "0", "0"}));
  for (int i = 1; i <= 10; ++i) EXPECT_EQ(rank(*w, i), blank(white, false)) << i;
  for (int c = 0; c <= 8; ++c) EXPECT_EQ(cell(*w, c, 0), "0") << c;
  for (int r = 1; r <= 11; ++r) {
    EXPECT_EQ(cell(*w, 0, r), "");
    EXPECT_EQ(cell(*w, 1, r), "-1000");
    EXPECT_EQ(cell(*w, 2, r), "");
  }

  play(*w, 40, "Cy");
  EXPECT_EQ(rank(*w, 1), entry("Cy", 40, red, true));
  EXPECT_EQ(rank(*w, 2), blank(white, false));
}

// What is on disk while the window is still open, as a crash or a killed process would leave it.
TEST_F(TallyList, EveryChangeIsOnDiskOnceItsClickIsDoneNotOnlyWhenTheWindowGoes) {
  auto w = open();
  TextTable ondisk;
  auto reaches = [&](int c, int r, const std::string& value) {
    return QTest::qWaitFor(
        [&] {
          return loadtallyfile(path, ondisk) == TallyLoad::Loaded && ondisk.cell(c, r) == value;
        },
        5000);
  };
  w->addtomineincrease(1);
  EXPECT_TRUE(reaches(1, 0, "1")) << "a game started";
  // A won game: the board cleared and the score ranked in one click, written together.
  w->addtomineincrease(2);
  w->checkscore(300, "Ann");
  EXPECT_TRUE(reaches(2, 1, "Ann"));
  EXPECT_EQ(ondisk, w->stringgrid_scores());

  QTest::mouseClick(w->findChild<TImageButton*>("button_resettally"), Qt::LeftButton);
  EXPECT_TRUE(reaches(1, 1, "-1000")) << "a reset";
  EXPECT_EQ(ondisk.cell(1, 0), "0");
  EXPECT_EQ(entries(dir.path()), QStringList({"pipshifttally.tld"})) << "no temporaries left";
}

TEST_F(TallyList, ResetAnsweredNoChangesNothing) {
  auto w = open();
  play(*w, 150, "Ann");
  const Snapshot before = snapshot(*w);
  answer = false;
  QTest::mouseClick(w->findChild<TImageButton*>("button_resettally"), Qt::LeftButton);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(snapshot(*w), before);
}

TEST_F(TallyList, AScoreBelowMinus999FromTheFileShowsBlankButStillRanks) {
  TextTable t = sampletally();
  t.setCell(1, 1, "100");
  t.setCell(1, 2, "-2000");
  t.setCell(2, 2, "Ghost");
  t.setCell(1, 3, "50");
  t.setCell(1, 4, "abc");
  t.setCell(1, 5, "");
  ASSERT_TRUE(savetallyfile(path, t));

  auto w = open();
  EXPECT_EQ(rank(*w, 2).score, "");
  EXPECT_EQ(rank(*w, 2).tag, -2000);
  EXPECT_EQ(rank(*w, 2).name, "Ghost");
  EXPECT_EQ(rank(*w, 4).tag, -1000);
  EXPECT_EQ(cell(*w, 1, 4), "abc");  // kept as it was, only not ranked
  EXPECT_EQ(cell(*w, 1, 5), "-1000");

  w->checkscore(60, "New");
  EXPECT_EQ(rank(*w, 2), entry("New", 60, red, true));
  EXPECT_EQ(rank(*w, 3).name, "Ghost");
  EXPECT_EQ(rank(*w, 3).tag, -2000);
  EXPECT_EQ(rank(*w, 4).score, "50");
}

TEST_F(TallyList, ANameWithALineBreakCannotSpoilTheFile) {
  auto w = open();
  w->checkscore(10, "A\nB");
  EXPECT_EQ(cell(*w, 2, 1), "A B");
  EXPECT_TRUE(w->savetally());
}

TEST_F(TallyList, KeepsItsDesignedLayout) {
  auto w = open();
  EXPECT_EQ(w->size(), QSize(342, 425));
  EXPECT_EQ(w->windowTitle(), "Pipshift - Tally List");
  EXPECT_EQ(w->findChild<QWidget*>("FlatPanel1")->geometry(), QRect(6, 6, 331, 413));
  EXPECT_EQ(w->findChild<QWidget*>("button_resettally")->geometry(), QRect(72, 368, 132, 41));
  EXPECT_EQ(w->findChild<QWidget*>("button_done")->geometry(), QRect(200, 368, 132, 41));
  EXPECT_EQ(label(*w, "label_num10")->geometry(), QRect(5, 342, 24, 16));
  EXPECT_EQ(label(*w, "label_num10")->text(), "10.");
  EXPECT_EQ(label(*w, "label_name3")->geometry(), QRect(136, 174, 132, 16));
  EXPECT_EQ(label(*w, "label_myname")->font().pixelSize(), 19);
  EXPECT_TRUE(label(*w, "label_myname")->font().underline());

  // The score label is as wide as its text, in whatever weight it has.
  QLabel* high = label(*w, "label_high1");
  const int narrow = high->width();
  w->checkscore(123456, "Wide");
  EXPECT_EQ(high->pos(), QPoint(286, 126));
  EXPECT_GT(high->width(), narrow);
  EXPECT_EQ(high->width(), high->sizeHint().width());
}

TEST_F(TallyList, ShowsCentredOverTheMainWindowAndDoneHidesIt) {
  QWidget mainwindow;
  mainwindow.setGeometry(100, 80, 700, 500);
  mainwindow.show();
  auto w = open(&mainwindow);
  w->showforward();
  EXPECT_TRUE(w->isVisible());
  EXPECT_LE((w->frameGeometry().center() - mainwindow.frameGeometry().center()).manhattanLength(),
            2);
  const Snapshot before = snapshot(*w);
  QTest::mouseClick(w->findChild<TImageButton*>("button_done"), Qt::LeftButton);
  EXPECT_FALSE(w->isVisible());
  EXPECT_EQ(snapshot(*w), before);
}

// --- The tally file as the window meets it ---

TEST_F(TallyList, FirstRunReadsNothingAndWritesOnlyTheTallyFileAtExit) {
  QTemporaryDir elsewhere;
  CurrentDirectory cwd(elsewhere.path());
  open().reset();
  EXPECT_TRUE(errors.isEmpty());
  EXPECT_EQ(entries(dir.path()), QStringList({"pipshifttally.tld"}));
  EXPECT_TRUE(entries(elsewhere.path()).isEmpty());
  TextTable t;
  EXPECT_EQ(loadtallyfile(path, t), TallyLoad::Loaded);
  EXPECT_EQ(t.cell(1, 10), "-1000");
}

TEST_F(TallyList, LoadsFromAnotherCurrentDirectoryAndLeavesItsTempTxtAlone) {
  ASSERT_TRUE(savetallyfile(path, sampletally()));
  QTemporaryDir elsewhere;
  CurrentDirectory cwd(elsewhere.path());
  writebytes("temp.txt", "the player's own notes\n");

  auto w = open();
  EXPECT_TRUE(errors.isEmpty());
  EXPECT_EQ(counters(*w), QStringList({"7", "3", "42"}));
  EXPECT_EQ(rank(*w, 2).name, "  two  blanks ");
  play(*w, 500, "Dee");
  w.reset();

  EXPECT_EQ(readbytes("temp.txt"), "the player's own notes\n");
  EXPECT_EQ(entries(elsewhere.path()), QStringList({"temp.txt"}));
  TextTable t;
  ASSERT_EQ(loadtallyfile(path, t), TallyLoad::Loaded);
  EXPECT_EQ(t.cell(2, 2), "Dee");
}

TEST_F(TallyList, ADamagedFileIsReportedOnceKeptAsBadAndReplacedByAGoodOneAtExit) {
  const QByteArray damaged = "this was never a tally file";
  writebytes(path, damaged);
  auto w = open();
  ASSERT_EQ(errors.size(), 1);
  EXPECT_TRUE(errors[0].contains(path)) << errors[0].toStdString();
  EXPECT_EQ(w->loaderror(), errors[0]);
  EXPECT_EQ(readbytes(path + ".bad"), damaged);
  for (int i = 1; i <= 10; ++i) EXPECT_EQ(rank(*w, i), placeholder(designed, true)) << i;

  w.reset();
  errors.clear();
  w = open();
  EXPECT_TRUE(errors.isEmpty());
  EXPECT_EQ(readbytes(path + ".bad"), damaged);
}

TEST_F(TallyList, ADamagedFileThatCannotBeKeptIsNotOverwritten) {
  const QByteArray damaged = "damaged, and no room for a copy";
  writebytes(path, damaged);
  ASSERT_TRUE(QDir(dir.path()).mkpath("pipshifttally.tld.bad/occupied"));
  auto w = open();
  EXPECT_EQ(errors.size(), 1);
  play(*w, 150, "Ann");
  EXPECT_FALSE(w->savetally());
  w.reset();
  EXPECT_EQ(readbytes(path), damaged);
}

TEST_F(TallyList, ATableThatIsNotATableIsReportedWithTheReadersMessage) {
  // A sound container around text whose column count is not a number.
  const QByteArray container = QByteArray::fromStdString(packed("nine\r\n12\r\n"));
  writebytes(path, container);

  auto w = open();
  ASSERT_EQ(errors.size(), 1);
  EXPECT_TRUE(errors[0].contains("Invalid numeric input")) << errors[0].toStdString();
  EXPECT_TRUE(errors[0].contains(path));
  EXPECT_EQ(rank(*w, 1), placeholder(designed, true));
  EXPECT_EQ(cell(*w, 1, 0), "0");
  EXPECT_EQ(readbytes(path + ".bad"), container);
}

// --- Two copies of the program on one folder ---

TEST_F(TallyList, TwoWindowsOnOneFolderCountEachOthersGamesAndShowTheSum) {
  auto first = open();
  auto second = open();
  TextTable ondisk;
  auto counted = [&](const std::string& games) {
    return QTest::qWaitFor(
        [&] {
          return loadtallyfile(path, ondisk) == TallyLoad::Loaded && ondisk.cell(1, 0) == games;
        },
        5000);
  };

  first->addtomineincrease(1);
  ASSERT_TRUE(counted("1"));
  second->addtomineincrease(1);
  ASSERT_TRUE(counted("2")) << "the second window's game replaced the first's";
  EXPECT_EQ(counters(*second), QStringList({"2", "0", "0"}));

  // A won game in the first window: ranked with the other's counts, and shown with them.
  first->addtomineincrease(2);
  first->checkscore(300, "Ann");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !first->record().pending(); }, 5000));
  EXPECT_EQ(counters(*first), QStringList({"2", "1", "0"}));
  EXPECT_EQ(rank(*first, 1), entry("Ann", 300, red, true));

  // Both go, each writing once more: neither takes away what the other counted.
  second.reset();
  first.reset();
  auto again = open();
  EXPECT_EQ(counters(*again), QStringList({"2", "1", "0"}));
  EXPECT_EQ(rank(*again, 1), entry("Ann", 300, designed, true));
  EXPECT_EQ(entries(dir.path()), QStringList({"pipshifttally.tld"}));
}

TEST_F(TallyList, AChangeThatFindsTheFileLockedIsShownAtOnceAndWrittenOnceTheLockIsFree) {
  auto w = open();
  int pauses = 0;
  w->record().pause = [&] { ++pauses; };
  w->retryinterval = 10;
  TallyLock other(QFile::encodeName(path).toStdString() + ".lock");
  ASSERT_EQ(other.acquire(0, [] {}), TallyLock::Result::held);

  w->addtomineincrease(1);
  EXPECT_EQ(text(*w, "mylabel_1"), "1");
  // The write is tried, waits its bounded number of tries and leaves the game for later.
  ASSERT_TRUE(QTest::qWaitFor([&] { return pauses >= Ttallylist::playretries; }, 5000));
  EXPECT_FALSE(QFileInfo::exists(path));
  EXPECT_TRUE(w->record().pending());
  EXPECT_EQ(text(*w, "mylabel_1"), "1");

  // The next game starts at once: its change joins the one waiting, with no more waiting.
  const int waited = pauses;
  w->addtomineincrease(1);
  EXPECT_EQ(text(*w, "mylabel_1"), "2");
  QTest::qWait(50);
  EXPECT_EQ(pauses, waited);

  other.release();
  TextTable ondisk;
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return loadtallyfile(path, ondisk) == TallyLoad::Loaded && ondisk.cell(1, 0) == "2"; },
      5000))
      << "the games waiting in the window never reached the file";
}

TEST_F(TallyList, AnExitThatCannotTakeTheLockGivesUpInTimeAndSaysWhatIsNotSaved) {
  auto w = open();
  int pauses = 0;
  w->record().pause = [&] { ++pauses; };
  TallyLock other(QFile::encodeName(path).toStdString() + ".lock");
  ASSERT_EQ(other.acquire(0, [] {}), TallyLock::Result::held);
  w->addtomineincrease(1);

  pauses = 0;
  testing::internal::CaptureStderr();
  w.reset();
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_EQ(pauses, Ttallylist::exitretries);
  EXPECT_NE(said.find(QFile::encodeName(path).toStdString()), std::string::npos) << said;
  EXPECT_NE(said.find("not in it"), std::string::npos) << said;
  EXPECT_FALSE(QFileInfo::exists(path));
}

// --- The real reset question, answered by a key press once it is on screen ---

struct Asked {
  QString title, text;
  QMessageBox::StandardButton defaultbutton = QMessageBox::NoButton;
  bool shown = false;
};

bool ask(std::function<void(QMessageBox*)> reply, Asked& asked) {
  QTimer::singleShot(0, [&asked, reply] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    asked = {box->windowTitle(), box->text(), box->standardButton(box->defaultButton()), true};
    reply(box);
  });
  return Ttallylist::askreset(nullptr);
}

TEST(TallyResetQuestion, AsksWithYesAsDefaultAndTakesEscAndTheCloseBoxAsNo) {
  Asked asked;
  EXPECT_TRUE(ask([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Return); }, asked));
  ASSERT_TRUE(asked.shown);
  EXPECT_EQ(asked.title, "Confirm");
  EXPECT_EQ(asked.text, "Are you sure you want to reset the Tally?");
  EXPECT_EQ(asked.defaultbutton, QMessageBox::Yes);

  EXPECT_FALSE(ask([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); }, asked));
  EXPECT_FALSE(ask([](QMessageBox* box) { box->close(); }, asked));
  EXPECT_FALSE(ask([](QMessageBox* box) { box->button(QMessageBox::No)->click(); }, asked));
}

TEST_F(TallyList, WithoutARecorderTheLoadErrorIsTheApplicationsErrorBox) {
  writebytes(path, "not a tally");
  Ttallylist::setloaderrorreporter(nullptr);
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    title = box->windowTitle();
    text = box->text();
    icon = box->icon();
    QTest::keyClick(box, Qt::Key_Return);
  });
  auto w = open();
  EXPECT_EQ(title, QApplication::applicationDisplayName());
  EXPECT_EQ(text, w->loaderror());
  EXPECT_EQ(icon, QMessageBox::Critical);
}

}  // namespace

TEST_F(TallyList, AWindowShowsWhatAnotherCopyWroteWithoutChangingAnythingItself) {
  auto first = open();
  auto second = open();
  first->addtomineincrease(1);
  first->addtomineincrease(2);
  first->checkscore(150, "Kim");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !first->record().pending(); }, 5000));

  // The second copy changed nothing, and is shown what the first wrote all the same.
  ASSERT_TRUE(QTest::qWaitFor([&] { return counters(*second) == counters(*first); }, 5000))
      << counters(*second).join(" ").toStdString();
  EXPECT_EQ(counters(*second), QStringList({"1", "1", "0"}));
  EXPECT_EQ(text(*second, "label_name1"), "Kim");
  EXPECT_EQ(text(*second, "label_high1"), "150");
  EXPECT_EQ(text(*second, "label_date2"), "Feb 11, 2008") << "its placeholders slid down";

  // Reading is all it did: neither copy writes again for what the other wrote.
  EXPECT_FALSE(second->record().pending());
  const QByteArray bytes = readbytes(path);
  const QDateTime written = QFileInfo(path).lastModified();
  QTest::qWait(3 * Ttallylist::rereaddelay);
  EXPECT_EQ(readbytes(path), bytes);
  EXPECT_EQ(QFileInfo(path).lastModified(), written);

  // Its own next game counts on top of the first's.
  second->addtomineincrease(1);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !second->record().pending(); }, 5000));
  EXPECT_EQ(counters(*second), QStringList({"2", "1", "50"}));
  ASSERT_TRUE(QTest::qWaitFor([&] { return counters(*first) == counters(*second); }, 5000))
      << counters(*first).join(" ").toStdString();
}

TEST_F(TallyList, AFileWrittenByAnotherProgramShowsAndAChangeWaitingHereStaysOnTop) {
  auto w = open();
  w->addtomineincrease(1);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !w->record().pending(); }, 5000));
  // Another copy holds the lock, so this copy's next game waits in the window.
  w->retryinterval = 60000;
  TallyLock other(QFile::encodeName(path).toStdString() + ".lock");
  ASSERT_EQ(other.acquire(0, [] {}), TallyLock::Result::held);
  w->record().pause = [] {};
  w->addtomineincrease(1);
  ASSERT_TRUE(QTest::qWaitFor([&] { return w->record().pending(); }, 5000));

  // Meanwhile another program writes the file: 7 games, 3 cleared.
  TextTable table;
  ASSERT_EQ(loadtallyfile(path, table), TallyLoad::Loaded);
  table.setCell(1, 0, "7");
  table.setCell(2, 0, "3");
  const QString textfile = dir.filePath("written.txt");
  savegrid(table, QFile::encodeName(textfile).toStdString());
  const QString staged = dir.filePath("staged.tld");
  QProcess tool;
  tool.start(PIPSHIFT_TALLY_TOOL, {"compress", textfile, staged});
  ASSERT_TRUE(tool.waitForFinished(30000));
  ASSERT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
  ASSERT_TRUE(QFile::remove(path));
  ASSERT_TRUE(QFile::rename(staged, path));

  // Shown at once, with the game still waiting here counted on top.
  ASSERT_TRUE(QTest::qWaitFor([&] { return text(*w, "mylabel_1") == "8"; }, 5000))
      << counters(*w).join(" ").toStdString();
  EXPECT_EQ(text(*w, "mylabel_2"), "3");
  EXPECT_TRUE(w->record().pending());
  other.release();
  ASSERT_TRUE(w->savetally());
  ASSERT_EQ(loadtallyfile(path, table), TallyLoad::Loaded);
  EXPECT_EQ(table.cell(1, 0), "8");
  EXPECT_EQ(table.cell(2, 0), "3");
}

TEST_F(TallyList, AReaderReadsEachRankAsOneLineAndEveryObjectByName) {
  auto w = open();
  w->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
  QAccessibleInterface* window = QAccessible::queryAccessibleInterface(w.get());
  EXPECT_EQ(window->role(), QAccessible::Window);
  EXPECT_EQ(window->text(QAccessible::Name), "Pipshift - Tally List");
  auto line = [&](int rank) {
    return label(*w, QString("label_num%1").arg(rank))->accessibleName();
  };
  EXPECT_EQ(line(1), "1. Feb 11, 2008, Quorvel, 0");

  answer = true;
  w->button_resetClick();
  EXPECT_EQ(line(1), "1. empty");
  EXPECT_EQ(accesswalk::unnamed(w.get()), QStringList()) << "blank ranks leave nothing unnamed";
  play(*w, 300, "Ann");
  EXPECT_EQ(line(1), "1. " + entry("Ann", 300, red, true).date + ", Ann, 300");
  EXPECT_EQ(line(10), "10. empty");

  const QStringList names = accesswalk::names(w.get());
  EXPECT_TRUE(names.contains("Total Games:"));
  EXPECT_TRUE(names.contains("Reset Tally"));
  EXPECT_TRUE(names.contains("Done"));
  EXPECT_FALSE(names.contains("Ann")) << "the parts of a line are read with it, not again";
  EXPECT_EQ(accesswalk::unnamed(w.get()), QStringList());
}

TEST_F(TallyList, ShowingTheWindowReadsTheFileAsItIsNow) {
  auto w = open();
  EXPECT_EQ(counters(*w), QStringList({"0", "0", "0"}));
  // Written while no event has been dealt with, so nothing but the showing can have noticed.
  TextTable table;
  table.resize(9, 12);
  table.setCell(1, 0, "4");
  table.setCell(2, 0, "1");
  table.setCell(3, 0, "25");
  ASSERT_TRUE(savetallyfile(path, table));
  w->show();
  EXPECT_EQ(counters(*w), QStringList({"4", "1", "25"}));
  EXPECT_FALSE(w->record().pending());
  EXPECT_FALSE(w->reread()) << "nothing new the second time";
}
