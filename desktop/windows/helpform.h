#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <array>

class QLabel;
class QTextEdit;
class TFlatPanel;
class TSelButton;
class Tabout;

// The help window: a column of page buttons on the left and the chosen page of help text on the
// right under its title. Made once at start-up and only shown and hidden after that, so the page
// last chosen is still there the next time it opens.
//
// The owner (the main window) is the window it opens centred on and stays above; like the About
// window it is not the QObject parent, and the caller keeps ownership. The About button shows
// `about`, which the program makes first.
class Thelp : public QWidget {
  Q_OBJECT

 public:
  static constexpr int clientWidth = 523;
  static constexpr int clientHeight = 431;
  // Page numbers that exist; page 2 never did.
  static constexpr std::array<int, 5> pagenumbers{1, 3, 4, 5, 6};

  Thelp(QWidget* owner, Tabout* about);

  // F1 and Help > Help: shows the window, or brings it forward when it is already open. The page
  // on show is kept either way.
  void showforward();

  // The lines of page `number` (memo1, memo3 ...) as they were written, each wrapped by hand to
  // the width of the page it was written for; empty for no such page.
  static QStringList pagelines(int number);
  // The paragraphs the page shows: its lines, where a line that ends in a blank runs on into the
  // next one. The page wraps them to its own width, so a line of the page is never cut twice
  // (once by hand, once by the page) and no word is left alone on a line.
  static QStringList pageparagraphs(int number);

  // The page on top, the one the reader sees.
  QTextEdit* currentpage() const { return current_; }

  void FormCreate();
  void SelButton1Click(TSelButton* sender);
  void button_aboutClick();
  void button_doneClick();

  TFlatPanel* panel_side = nullptr;
  TFlatPanel* panel_main = nullptr;
  std::array<TSelButton*, 7> SelButton{};  // indexed by page number; 0 and 2 stay empty
  TSelButton* button_about = nullptr;
  TSelButton* button_done = nullptr;
  QLabel* label_caption = nullptr;
  std::array<QTextEdit*, 7> memo{};  // indexed by page number; 0 and 2 stay empty

 protected:
  void showEvent(QShowEvent* event) override;
  // Esc closes the window, as Done does.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void bringtotop(QTextEdit* page);

  QPointer<QWidget> owner_;
  QPointer<Tabout> about_;
  QTextEdit* current_ = nullptr;
};
