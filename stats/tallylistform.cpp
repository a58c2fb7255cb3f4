#include "stats/tallylistform.h"

#include <QApplication>
#include <QFileInfo>
#include <QFont>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>

#include <charconv>
#include <climits>
#include <utility>

#include "controls/fitwindow.h"
#include "controls/flatpanel.h"
#include "controls/imagebutton.h"
#include "controls/look.h"
#include "platform/workarea.h"
#include "stats/tallyfile.h"

const QColor Ttallylist::designedcolor = look::lilac;
const QColor Ttallylist::plaincolor(255, 255, 255);
const QColor Ttallylist::markcolor(255, 0, 0);

namespace {

const QString fontfamily = QStringLiteral("MS Sans Serif");
constexpr int linetop = 126;
constexpr int linestep = 24;
constexpr int lineheight = 16;

const QString placeholderdate = QStringLiteral("Feb 11, 2008");
const QString placeholdername = QStringLiteral("Quorvel");

// A whole 32-bit number, blanks around it allowed, as the table's numbers have always been read.
bool readint(const std::string& text, int& value) {
  std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return false;
  std::size_t last = text.find_last_not_of(" \t");
  const char* begin = text.data() + first;
  const char* end = text.data() + last + 1;
  if (*begin == '+' && end - begin > 1 && begin[1] != '-') ++begin;
  auto [stop, error] = std::from_chars(begin, end, value);
  return error == std::errc() && stop == end;
}

// A name goes into one line of the tally file; a line break would shift every later cell.
QString singleline(QString text) {
  text.replace(QLatin1Char('\r'), QLatin1Char(' '));
  text.replace(QLatin1Char('\n'), QLatin1Char(' '));
  return text;
}

Ttallylist::ErrorReporter& loaderrorreporter() {
  static Ttallylist::ErrorReporter reporter;
  return reporter;
}

void showerrorbox(const QString& text) {
  QString title = QApplication::applicationDisplayName();
  if (title.isEmpty()) title = QStringLiteral("Pipshift");
  QMessageBox::critical(QApplication::activeWindow(), title, text);
}

}  // namespace

Ttallylist::Ttallylist(QWidget* mainwindow, const QString& tallypath, QWidget* parent)
    : QWidget(parent), m_mainwindow(mainwindow), m_tallypath(tallypath) {
  setObjectName(QStringLiteral("tallylist"));
  if (parent) setWindowFlag(Qt::Window);
  confirmreset = [this] { return askreset(this); };
  today = [] { return QDate::currentDate(); };
  m_rankvalue.fill(0);
  buildwindow();
  FormCreate();
}

Ttallylist::~Ttallylist() {
  FormDestroy();
}

Ttallylist::ErrorReporter Ttallylist::setloaderrorreporter(ErrorReporter reporter) {
  return std::exchange(loaderrorreporter(), std::move(reporter));
}

void Ttallylist::buildwindow() {
  setWindowTitle(QStringLiteral("Pipshift - Tally List"));
  // Pixel sizes throughout: the window keeps its design whatever the system font size.
  setFixedSize(342, 425);
  look::paintbackground(this);

  FlatPanel1 = new TFlatPanel(this);
  FlatPanel1->setObjectName(QStringLiteral("FlatPanel1"));
  FlatPanel1->setGeometry(6, 6, 331, 413);
  FlatPanel1->setTransparent(true);
  FlatPanel1->setColorHighLight(Qt::black);
  FlatPanel1->setColorShadow(Qt::black);

  const QFont labelfont = look::makefont(fontfamily, 13, true);
  QFont headingfont = look::makefont(fontfamily, 19, true);
  headingfont.setUnderline(true);

  auto makelabel = [&](const QString& name, const QString& text, QRect geometry,
                       Qt::Alignment align, const QFont& font) {
    auto* label = new QLabel(text, FlatPanel1);
    if (!name.isEmpty()) label->setObjectName(name);
    label->setGeometry(geometry);
    label->setAlignment(align | Qt::AlignVCenter);
    label->setFont(font);
    label->setAutoFillBackground(false);
    look::settextcolor(label, designedcolor);
    return label;
  };

  label_myname = makelabel(QStringLiteral("label_myname"), QStringLiteral("YOUR TALLY LIST"),
                           {1, 5, 328, 24}, Qt::AlignHCenter, headingfont);
  makelabel({}, QStringLiteral("Total Games:"), {88, 42, 101, 16}, Qt::AlignRight, labelfont);
  makelabel({}, QStringLiteral("Games Cleared:"), {69, 59, 120, 16}, Qt::AlignRight, labelfont);
  makelabel({}, QStringLiteral("Win Percentage:"), {69, 77, 120, 16}, Qt::AlignRight, labelfont);
  const int countertops[] = {0, 42, 59, 77};
  for (int column = 1; column <= 3; ++column)
    mylabel[column] = makelabel(QStringLiteral("mylabel_%1").arg(column), QStringLiteral("0"),
                                {194, countertops[column], 59, 16}, Qt::AlignHCenter, labelfont);
  makelabel({}, QStringLiteral("HIGH SCORES"), {1, 96, 328, 24}, Qt::AlignHCenter, headingfont);

  for (int i = 1; i <= ranks; ++i) {
    const int top = linetop + linestep * (i - 1);
    label_num[i] = makelabel(QStringLiteral("label_num%1").arg(i), QStringLiteral("%1.").arg(i),
                             {5, top, 24, lineheight}, Qt::AlignRight, labelfont);
    label_date[i] = makelabel(QStringLiteral("label_date%1").arg(i), {}, {32, top, 101, lineheight},
                              Qt::AlignLeft, labelfont);
    label_name[i] = makelabel(QStringLiteral("label_name%1").arg(i), {},
                              {136, top, 132, lineheight}, Qt::AlignLeft, labelfont);
    label_high[i] = makelabel(QStringLiteral("label_high%1").arg(i), {}, {286, top, 0, lineheight},
                              Qt::AlignLeft, labelfont);
  }
  showplaceholders();

  button_resettally = new TImageButton(QStringLiteral(":/images/button_resettally.png"),
                                       QStringLiteral("Reset Tally"), FlatPanel1);
  button_resettally->setObjectName(QStringLiteral("button_resettally"));
  button_resettally->setGeometry(72, 368, 132, 41);
  connect(button_resettally, &QAbstractButton::clicked, this, [this] { button_resetClick(); });

  button_done = new TImageButton(QStringLiteral(":/images/button_done.png"), QStringLiteral("Done"),
                                 FlatPanel1);
  button_done->setObjectName(QStringLiteral("button_done"));
  button_done->setGeometry(200, 368, 132, 41);
  connect(button_done, &QAbstractButton::clicked, this, [this] { button_doneClick(); });
}

void Ttallylist::showplaceholders() {
  for (int i = 1; i <= ranks; ++i) {
    label_date[i]->setText(placeholderdate);
    label_name[i]->setText(placeholdername);
    setscorecaption(i, QStringLiteral("0"));
    setrankvalue(i, 0);
  }
}

void Ttallylist::emptytable() {
  m_grid.resize(gridcolumns, gridrows);
  for (int column = 0; column <= 4; ++column) setcell(column, 0, QStringLiteral("0"));
  for (int row = 1; row <= ranks; ++row) {
    setcell(0, row, std::string());
    setcell(1, row, QString::number(emptyrank));
    setcell(2, row, std::string());
  }
}

void Ttallylist::FormCreate() {
  emptytable();
  if (!QFileInfo::exists(m_tallypath)) return;

  // Read into a copy: a file that fails part-way must not leave half a tally behind.
  TextTable loaded = m_grid;
  QString error;
  switch (loadtallyfile(m_tallypath, loaded, &error)) {
    case TallyLoad::Missing:
      return;
    case TallyLoad::Loaded:
      // Every operation addresses the counters and ten ranks, whatever size the file gave.
      loaded.resize(std::max(loaded.columns(), gridcolumns), std::max(loaded.rows(), gridrows));
      m_grid = std::move(loaded);
      loadtally();
      return;
    case TallyLoad::Failed:
      m_loaderror = error;
      // Put the damaged file aside before anything can replace it.
      m_damagedunkept = !keepdamagedtally(m_tallypath);
      if (auto& reporter = loaderrorreporter())
        reporter(error);
      else
        showerrorbox(error);
      return;
  }
}

void Ttallylist::FormDestroy() {
  savetally();
}

// The changes of one click (a board cleared and its score ranked) are written together, as soon
// as the click has been dealt with.
void Ttallylist::savesoon() {
  if (m_savequeued) return;
  m_savequeued = true;
  QTimer::singleShot(0, this, [this] {
    m_savequeued = false;
    savetally();
  });
}

bool Ttallylist::savetally() {
  if (m_damagedunkept) {
    if (!keepdamagedtally(m_tallypath)) return false;
    m_damagedunkept = false;
  }
  return savetallyfile(m_tallypath, m_grid);
}

const std::string& Ttallylist::rawcell(int column, int row) const {
  static const std::string none;
  if (column < 0 || column >= m_grid.columns() || row < 0 || row >= m_grid.rows()) return none;
  return m_grid.cell(column, row);
}

QString Ttallylist::cell(int column, int row) const {
  return QString::fromLocal8Bit(rawcell(column, row));
}

void Ttallylist::setcell(int column, int row, std::string text) {
  if (column < 0 || row < 0) return;
  if (column >= m_grid.columns() || row >= m_grid.rows())
    m_grid.resize(std::max(m_grid.columns(), column + 1), std::max(m_grid.rows(), row + 1));
  m_grid.setCell(column, row, std::move(text));
}

void Ttallylist::setcell(int column, int row, const QString& text) {
  setcell(column, row, text.toLocal8Bit().toStdString());
}

QLabel* Ttallylist::counterlabel(int column) const {
  return column >= 1 && column <= 3 ? mylabel[column] : nullptr;
}

void Ttallylist::setrankstyle(int rank, const QColor& color, bool bold) {
  for (QLabel* label : {label_num[rank], label_date[rank], label_name[rank], label_high[rank]}) {
    look::settextcolor(label, color);
    QFont f = label->font();
    f.setBold(bold);
    label->setFont(f);
  }
  // The score label is as wide as its text, which the weight changes.
  setscorecaption(rank, label_high[rank]->text());
}

void Ttallylist::setrankvalue(int rank, int value) {
  m_rankvalue[rank] = value;
  label_high[rank]->setProperty("Tag", value);
}

void Ttallylist::setscorecaption(int rank, const QString& text) {
  QLabel* label = label_high[rank];
  label->setText(text);
  label->resize(text.isEmpty() ? 0 : label->sizeHint().width(), lineheight);
}

void Ttallylist::loadtally() {
  for (int column = 1; column <= 3; ++column) mylabel[column]->setText(cell(column, 0));
  for (int i = 1; i <= ranks; ++i) {
    if (rawcell(1, i).empty()) setcell(1, i, QString::number(emptyrank));
    label_date[i]->setText(cell(0, i));
    label_name[i]->setText(cell(2, i));
    int value = emptyrank;
    if (!readint(rawcell(1, i), value)) value = emptyrank;
    setrankvalue(i, value);
    setscorecaption(i, value < -999 ? QString() : cell(1, i));
  }
}

int Ttallylist::addit(int column, int row) {
  int value = 0;
  if (!readint(rawcell(column, row), value))
    value = 0;  // a damaged counter starts again rather than stopping the game
  if (value < INT_MAX) ++value;
  setcell(column, row, QString::number(value));
  return value;
}

void Ttallylist::addtomineincrease(int column) {
  if (column < 0 || column >= gridcolumns) return;
  addit(column, 0);
  if (QLabel* label = counterlabel(column)) label->setText(cell(column, 0));
  if (column == 1) {
    int cleared = 0;
    int total = 0;
    long long percentage = 0;
    if (readint(rawcell(2, 0), cleared) && readint(rawcell(1, 0), total) && total != 0)
      percentage = static_cast<long long>(cleared) * 100 / total;
    if (percentage > INT_MAX || percentage < INT_MIN) percentage = 0;
    addtomineset(3, QString::number(percentage));
  }
  savesoon();
}

void Ttallylist::addtomineset(int column, const QString& text) {
  if (column < 0 || column >= gridcolumns) return;
  setcell(column, 0, text);
  if (QLabel* label = counterlabel(column)) label->setText(text);
}

void Ttallylist::checkscore(int score, const QString& name) {
  for (int i = 1; i <= ranks; ++i) setrankstyle(i, plaincolor, false);

  int k = 0;
  for (int i = 1; i <= ranks && k == 0; ++i)
    if (m_rankvalue[i] <= score) k = i;
  if (k == 0) return;

  for (int j = ranks; j > k; --j) {
    setrankvalue(j, m_rankvalue[j - 1]);
    setscorecaption(j, label_high[j - 1]->text());
    label_date[j]->setText(label_date[j - 1]->text());
    label_name[j]->setText(label_name[j - 1]->text());
    for (int column = 0; column <= 2; ++column) {
      std::string moved = rawcell(column, j - 1);
      setcell(column, j, std::move(moved));
    }
  }

  const QDate day = today ? today() : QDate::currentDate();
  const QString date = QLocale::system().toString(day, QLocale::ShortFormat);
  const QString entry = singleline(name);
  setrankvalue(k, score);
  label_date[k]->setText(date);
  label_name[k]->setText(entry);
  setscorecaption(k, QString::number(score));
  setrankstyle(k, markcolor, true);

  setcell(0, k, date);
  setcell(1, k, QString::number(score));
  setcell(2, k, entry);
  savesoon();
}

bool Ttallylist::askreset(QWidget* parent) {
  QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"),
                  QStringLiteral("Are you sure you want to reset the Tally?"),
                  QMessageBox::Yes | QMessageBox::No, parent);
  box.setDefaultButton(QMessageBox::Yes);
  // Esc and the window's close box both land here.
  box.setEscapeButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

void Ttallylist::button_resetClick() {
  if (!confirmreset || !confirmreset()) return;

  m_grid.resize(m_grid.columns(), gridrows);
  for (int column = 1; column < m_grid.columns(); ++column) setcell(column, 0, QStringLiteral("0"));
  for (int row = 1; row < gridrows; ++row) {
    setcell(0, row, std::string());
    setcell(1, row, QString::number(emptyrank));
    setcell(2, row, std::string());
  }
  for (int column = 1; column <= 3; ++column) mylabel[column]->setText(QStringLiteral("0"));
  for (int i = 1; i <= ranks; ++i) {
    label_date[i]->setText({});
    label_name[i]->setText({});
    setscorecaption(i, {});
    setrankvalue(i, emptyrank);
    setrankstyle(i, plaincolor, false);
  }
  savesoon();
}

void Ttallylist::button_doneClick() {
  close();
}

void Ttallylist::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    button_doneClick();
    return;
  }
  QWidget::keyPressEvent(event);
}

void Ttallylist::centreovermain() {
  // Until this window has been on screen its frame is unknown; the main window's frame is the
  // best guess, since the window manager decorates both alike.
  auto around = [](const QRect& outer, const QRect& inner) {
    return QMargins(inner.left() - outer.left(), inner.top() - outer.top(),
                    outer.right() - inner.right(), outer.bottom() - inner.bottom());
  };
  QMargins decoration = around(frameGeometry(), geometry());
  if (decoration.isNull() && m_mainwindow)
    decoration = around(m_mainwindow->frameGeometry(), m_mainwindow->geometry());
  const QRect frame = geometry().marginsAdded(decoration);
  QPoint centre;
  QScreen* screen = nullptr;
  if (m_mainwindow) {
    centre = m_mainwindow->frameGeometry().center();
    screen = m_mainwindow->screen();
  } else {
    screen = QApplication::primaryScreen();
    if (screen) centre = screen->availableGeometry().center();
  }
  move(centredwithin(frame, centre, screen));
}

void Ttallylist::showforward() {
  const QScreen* screen = m_mainwindow ? m_mainwindow->screen() : QApplication::primaryScreen();
  controls::fitworkarea(this, screen, m_mainwindow);
  centreovermain();
  show();
  raise();
  activateWindow();
}
