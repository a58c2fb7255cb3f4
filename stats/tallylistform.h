#pragma once

#include <QColor>
#include <QDate>
#include <QString>
#include <QWidget>

#include <array>
#include <functional>
#include <string>

#include "platform/tallyport.h"
#include "stats/tallygrid.h"

class QLabel;
class TFlatPanel;
class TImageButton;

// The player's local record: games played, boards cleared, win percentage and a top ten of
// cleared-game scores. The hidden table is the record itself (it is what the tally file holds);
// the labels mirror it, except for the designed placeholder lines, which are shown until the first
// score check or reset but never enter the table.
//
// The tally file is read once, in the constructor. It is written as soon as a game has changed
// the table (a game started or cleared, a score ranked, a reset), so a crash or a killed process
// loses nothing that was played, and once more when the window is destroyed.
class Ttallylist : public QWidget, public TallyPort {
  Q_OBJECT

 public:
  static constexpr int ranks = 10;
  static constexpr int gridcolumns = 9;
  static constexpr int gridrows = 12;
  // The ranking value of a rank that holds no score; anything below -999 shows blank.
  static constexpr int emptyrank = -1000;

  static const QColor designedcolor;  // as the window is designed
  static const QColor plaincolor;     // after any score check or reset
  static const QColor markcolor;      // the rank the last score check filled

  // mainwindow: the window this one is centred over when shown (may be null).
  // tallypath: the tally file, read now, written on every change and when the window goes.
  Ttallylist(QWidget* mainwindow, const QString& tallypath, QWidget* parent = nullptr);
  ~Ttallylist() override;

  // From the game: column 1 when a game starts, column 2 when a board is cleared.
  void addtomineincrease(int column) override;
  // From the game: a cleared board's final score and the player's name.
  void checkscore(int score, const QString& name) override;

  // Copies the table into the labels.
  void loadtally();
  // Adds 1 to the number in one table cell and returns the new value. A cell that is not a whole
  // number counts as 0; the count stops at the largest 32-bit value instead of turning negative.
  int addit(int column, int row);
  // Writes a counter cell of row 0 and, for columns 1 to 3, its label.
  void addtomineset(int column, const QString& text);

  // Writes the table to the tally file; true when the file now holds it. Harmless to repeat.
  bool savetally();

  // Shows the window centred over the main window and brings it to the front.
  void showforward();

  void button_resetClick();
  void button_doneClick();

  const TextTable& stringgrid_scores() const { return m_grid; }
  // Direct access to the table, for the tally tools and tests; run loadtally() after a change.
  TextTable& stringgrid_scores() { return m_grid; }
  // The ranking value of rank 1..10 (also kept in the score label's "Tag" property).
  int rankvalue(int rank) const { return m_rankvalue.at(rank); }
  QString tallypath() const { return m_tallypath; }
  // The text of the error met while loading the tally file, empty when it loaded or was missing.
  QString loaderror() const { return m_loaderror; }

  // Asks whether to reset; true only for Yes. Tests replace it to answer without a box.
  std::function<bool()> confirmreset;
  // Today's date for new entries. Tests replace it to fix the date.
  std::function<QDate()> today;

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

 private:
  // Writes the tally file once the current event has been dealt with.
  void savesoon();
  void FormCreate();
  void FormDestroy();
  void buildwindow();
  void showplaceholders();
  void emptytable();
  void setrankstyle(int rank, const QColor& color, bool bold);
  void setrankvalue(int rank, int value);
  void setscorecaption(int rank, const QString& text);
  QLabel* counterlabel(int column) const;
  // Cells outside the table read as empty; writing one grows the table to hold it.
  const std::string& rawcell(int column, int row) const;
  QString cell(int column, int row) const;
  void setcell(int column, int row, std::string text);
  void setcell(int column, int row, const QString& text);
  void centreovermain();

  QWidget* m_mainwindow;
  QString m_tallypath;
  QString m_loaderror;
  // Set when a damaged tally file could not be put aside as ".bad": saving would then destroy
  // the only copy of what the player had, so the save is refused until the copy succeeds.
  bool m_damagedunkept = false;
  // A write of the tally file is on its way (savesoon()).
  bool m_savequeued = false;

  TextTable m_grid;
  TFlatPanel* FlatPanel1 = nullptr;
  QLabel* label_myname = nullptr;
  std::array<QLabel*, 4> mylabel{};  // 1..3
  std::array<QLabel*, ranks + 1> label_num{};
  std::array<QLabel*, ranks + 1> label_date{};
  std::array<QLabel*, ranks + 1> label_name{};
  std::array<QLabel*, ranks + 1> label_high{};
  std::array<int, ranks + 1> m_rankvalue{};
  TImageButton* button_resettally = nullptr;
  TImageButton* button_done = nullptr;
};
