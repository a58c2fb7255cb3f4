#pragma once

#include <QColor>
#include <QDate>
#include <QFileSystemWatcher>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <array>
#include <functional>

#include "stats/tally.h"

class QLabel;
class TFlatPanel;
class TImageButton;

// The tally list window: shows the player's record (see Tally) and forwards its buttons. The
// labels are drawn from the record after every change; the record owns the counts and the
// ranking, including which ranks still show the designed placeholder lines.
//
// The tally file is read once, in the constructor. It is written as soon as a game has changed
// the record (a game started or cleared, a score ranked, a reset), so a crash or a killed process
// loses nothing that was played, and once more when the window is destroyed. Each write first
// reads what other copies of the program wrote meanwhile, and the window then shows the sum.
// A write by another copy shows here too, without a change here: the window watches the file
// (and reads it again each time it is shown, where the file system tells nothing).
//
// A screen reader reads each rank as one line, "1. Mar 9, 2024, Ann, 300" or "2. empty".
class Ttallylist : public QWidget {
  Q_OBJECT

 public:
  static constexpr int ranks = Tally::ranks;
  static constexpr int gridcolumns = Tally::gridcolumns;
  static constexpr int gridrows = Tally::gridrows;
  // The ranking value of a rank that holds no score; anything below -999 shows blank.
  static constexpr int emptyrank = Tally::emptyrank;

  static const QColor designedcolor;  // as the window is designed
  static const QColor plaincolor;     // after any score check or reset
  static const QColor markcolor;      // the rank the last score check filled

  // Attempts at the tally file's lock, about 20 ms apart, while another copy of the program
  // writes its own change. In play a click waits at most about half a second; a change that still
  // finds the file locked stays in the record, on show, and is tried again every retryinterval
  // without any wait until it is written. At exit the window waits about three seconds.
  static constexpr int playretries = 25;
  static constexpr int exitretries = 150;

  // mainwindow: the window this one is centred over when shown (may be null).
  // tallypath: the tally file, read now, written on every change and when the window goes.
  Ttallylist(QWidget* mainwindow, const QString& tallypath, QWidget* parent = nullptr);
  ~Ttallylist() override;

  // From the game: column 1 when a game starts, column 2 when a board is cleared.
  void addtomineincrease(int column);
  // From the game: a cleared board's final score and the player's name.
  void checkscore(int score, const QString& name);

  // Takes the table as the whole record and draws it.
  void loadtally();
  // Adds 1 to the number in one table cell and returns the new value. A cell that is not a whole
  // number counts as 0; the count stops at the largest 32-bit value instead of turning negative.
  int addit(int column, int row);
  // Writes a counter cell of row 0 and, for columns 1 to 3, its label.
  void addtomineset(int column, const QString& text);

  // Writes the record to the tally file, with what other copies wrote meanwhile; true when the
  // file now holds it. Harmless to repeat.
  bool savetally();

  // Shows the window centred over the main window and brings it to the front.
  void showforward();

  void button_resetClick();
  void button_doneClick();

  const TextTable& stringgrid_scores() const { return tally_.table(); }
  // Direct access to the table, for the tally tools and tests; run loadtally() after a change.
  TextTable& stringgrid_scores() { return tally_.table(); }
  const Tally& record() const { return tally_; }
  Tally& record() { return tally_; }
  // The ranking value of rank 1..10 (also kept in the score label's "Tag" property).
  int rankvalue(int rank) const { return tally_.rankvalue(rank); }
  QString tallypath() const { return tallypath_; }
  // The text of the error met while loading the tally file, empty when it loaded or was missing.
  QString loaderror() const { return loaderror_; }

  // Asks whether to reset; true only for Yes. Tests replace it to answer without a box.
  std::function<bool()> confirmreset;
  // Today's date for new entries. Tests replace it to fix the date.
  std::function<QDate()> today;
  // How long a change that found the tally file locked waits before it tries again, in ms.
  int retryinterval = 1000;
  // How long the window lets a write by another copy settle before it reads the file, in ms.
  static constexpr int rereaddelay = 150;

  // Reads the tally file again and draws what another copy wrote there; writes nothing. True when
  // the window changed. Also run when the file changes and when the window is shown.
  bool reread();

  // The reset question as a real message box: Yes and No, Yes the default, Esc and the close box
  // answering No.
  static bool askreset(QWidget* parent);

  // Shows a tally load error to the player. The default is the application's error box, titled
  // with the application's name; tests install a recorder. Returns the previous reporter.
  using ErrorReporter = std::function<void(const QString&)>;
  static ErrorReporter setloaderrorreporter(ErrorReporter reporter);

 protected:
  // Esc closes the window, as Done does.
  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  // Writes the tally file once the current event has been dealt with.
  void savesoon();
  // Watches the tally file and its folder (the file is replaced whole, so a watch on it alone
  // ends with the first write).
  void watchfile();
  // Writes the tally file now and draws what it holds; true when saved.
  bool syncnow(int retries, QString* error = nullptr);
  void FormCreate();
  void FormDestroy();
  void buildwindow();
  void drawtally();
  void setrankstyle(int rank, const QColor& color, bool bold);
  void setscorecaption(int rank, const QString& text);
  QString text(const std::string& bytes) const;

  QWidget* mainwindow_;
  QString tallypath_;
  QString loaderror_;
  Tally tally_;
  // A write of the tally file is on its way (savesoon()).
  bool savequeued_ = false;
  // Tries a write again that found the file locked.
  QTimer retry_;
  QFileSystemWatcher watch_;
  // Reads the file once a burst of changes to it has settled.
  QTimer reread_;

  TFlatPanel* FlatPanel1 = nullptr;
  QLabel* label_myname = nullptr;
  std::array<QLabel*, 4> mylabel{};  // 1..3
  std::array<QLabel*, ranks + 1> label_num{};
  std::array<QLabel*, ranks + 1> label_date{};
  std::array<QLabel*, ranks + 1> label_name{};
  std::array<QLabel*, ranks + 1> label_high{};
  TImageButton* button_resettally = nullptr;
  TImageButton* button_done = nullptr;
};
