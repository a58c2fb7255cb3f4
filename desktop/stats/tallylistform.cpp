#include "stats/tallylistform.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QScreen>
#include <QStringList>
#include <QTimer>

#include <cstdio>
#include <utility>

#include "controls/accessible.h"
#include "controls/fitwindow.h"
#include "controls/flatpanel.h"
#include "controls/imagebutton.h"
#include "controls/look.h"

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
    : QWidget(parent),
      mainwindow_(mainwindow),
      tallypath_(tallypath),
      tally_(QFile::encodeName(tallypath).toStdString()) {
  setObjectName(QStringLiteral("tallylist"));
  if (parent) setWindowFlag(Qt::Window);
  confirmreset = [this] { return askreset(this); };
  today = [] { return QDate::currentDate(); };
  retry_.setSingleShot(true);
  // One try each time, so that a copy stuck with the lock never holds up the game.
  connect(&retry_, &QTimer::timeout, this, [this] { syncnow(0); });
  reread_.setSingleShot(true);
  reread_.setInterval(rereaddelay);
  connect(&reread_, &QTimer::timeout, this, [this] { reread(); });
  // Not restarted by later changes: a copy writing on and on still shows within the delay.
  auto changed = [this] {
    if (!reread_.isActive()) reread_.start();
  };
  connect(&watch_, &QFileSystemWatcher::directoryChanged, this, changed);
  connect(&watch_, &QFileSystemWatcher::fileChanged, this, changed);
  buildwindow();
  FormCreate();
  watchfile();
}

Ttallylist::~Ttallylist() {
  FormDestroy();
}

Ttallylist::ErrorReporter Ttallylist::setloaderrorreporter(ErrorReporter reporter) {
  return std::exchange(loaderrorreporter(), std::move(reporter));
}

void Ttallylist::buildwindow() {
  setWindowTitle(QStringLiteral("Pipshift - Tally List"));
  accessible::setrole(this, QAccessible::Window);
  // Pixel sizes throughout: the window keeps its design whatever the system font size.
  setFixedSize(342, 425);
  look::paintbackground(this);

  FlatPanel1 = new TFlatPanel(this);
  FlatPanel1->setObjectName(QStringLiteral("FlatPanel1"));
  FlatPanel1->setGeometry(6, 6, 331, 413);
  FlatPanel1->setTransparent(true);
  FlatPanel1->setColorHighLight(Qt::black);
  FlatPanel1->setColorShadow(Qt::black);
  FlatPanel1->setAccessibleName(QStringLiteral("Tally"));

  const QFont labelfont = look::makefont(fontfamily, 13, true);
  QFont headingfont = look::makefont(fontfamily, 19, true);
  headingfont.setUnderline(true);

  auto makelabel = [&](const QString& name, const QString& text, QRect geometry,
                       Qt::Alignment align, const QFont& font) {
    return look::makelabel(FlatPanel1, name, text, font, designedcolor, geometry,
                           align | Qt::AlignVCenter);
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
    // The rank number's label reads the whole line (see drawtally).
    for (QLabel* part : {label_date[i], label_name[i], label_high[i]}) accessible::hide(part);
  }

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

void Ttallylist::FormCreate() {
  std::string error;
  if (tally_.open(&error) == Tally::Opened::damaged) {
    loaderror_ = text(error);
    if (auto& reporter = loaderrorreporter())
      reporter(loaderror_);
    else
      showerrorbox(loaderror_);
  }
  drawtally();
}

void Ttallylist::FormDestroy() {
  retry_.stop();
  reread_.stop();
  watch_.blockSignals(true);
  const bool unsaved = tally_.pending();
  QString error;
  // The last word on this session's games: said where someone may read it, since no window is
  // left to show it.
  if (!syncnow(exitretries, &error) && unsaved)
    std::fprintf(stderr, "pipshift: %s; the tally changes of this session are not in it\n",
                 error.toLocal8Bit().constData());
  retry_.stop();
}

// The changes of one click (a board cleared and its score ranked) are written together, as soon
// as the click has been dealt with.
void Ttallylist::savesoon() {
  if (savequeued_) return;
  savequeued_ = true;
  QTimer::singleShot(0, this, [this] {
    savequeued_ = false;
    // Once a write has found the file locked, later changes join the one waiting for it.
    syncnow(retry_.isActive() ? 0 : playretries);
  });
}

bool Ttallylist::syncnow(int retries, QString* error) {
  retry_.stop();
  std::string why;
  const Tally::Synced synced = tally_.sync(retries, &why);
  // What other copies wrote shows too.
  drawtally();
  // Another copy holds the file longer than a click should wait: the change stays in the record
  // and is tried again shortly, without holding up the game.
  if (synced == Tally::Synced::busy) retry_.start(retryinterval);
  if (error) *error = text(why);
  return synced == Tally::Synced::saved;
}

void Ttallylist::watchfile() {
  const QFileInfo file(tallypath_);
  const QString folder = file.absolutePath();
  if (!watch_.directories().contains(folder) && QFileInfo(folder).isDir()) watch_.addPath(folder);
  // A file written in place (not replaced) changes nothing in its folder.
  if (!watch_.files().contains(file.absoluteFilePath()) && file.exists())
    watch_.addPath(file.absoluteFilePath());
}

bool Ttallylist::reread() {
  watchfile();
  if (!tally_.reload()) return false;
  drawtally();
  return true;
}

void Ttallylist::showEvent(QShowEvent* event) {
  reread();
  QWidget::showEvent(event);
}

bool Ttallylist::savetally() {
  return syncnow(exitretries);
}

QString Ttallylist::text(const std::string& bytes) const {
  return QString::fromLocal8Bit(bytes);
}

void Ttallylist::drawtally() {
  for (int column = 1; column <= 3; ++column)
    mylabel[column]->setText(text(tally_.cell(column, 0)));
  for (int i = 1; i <= ranks; ++i) {
    if (tally_.placeholder(i)) {
      label_date[i]->setText(placeholderdate);
      label_name[i]->setText(placeholdername);
      label_high[i]->setText(QStringLiteral("0"));
    } else {
      label_date[i]->setText(text(tally_.cell(0, i)));
      label_name[i]->setText(text(tally_.cell(2, i)));
      label_high[i]->setText(text(tally_.scorecaption(i)));
    }
    label_high[i]->setProperty("Tag", tally_.rankvalue(i));
    QStringList line;
    for (const QLabel* part : {label_date[i], label_name[i], label_high[i]})
      if (!part->text().isEmpty()) line << part->text();
    const QString read =
        label_num[i]->text() + QLatin1Char(' ') +
        (line.isEmpty() ? QStringLiteral("empty") : line.join(QStringLiteral(", ")));
    // Setting the name tells a reader, so only a change is set.
    if (label_num[i]->accessibleName() != read) label_num[i]->setAccessibleName(read);
    switch (tally_.look(i)) {
      case Tally::Look::designed:
        setrankstyle(i, designedcolor, true);
        break;
      case Tally::Look::plain:
        setrankstyle(i, plaincolor, false);
        break;
      case Tally::Look::marked:
        setrankstyle(i, markcolor, true);
        break;
    }
  }
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

void Ttallylist::setscorecaption(int rank, const QString& text) {
  QLabel* label = label_high[rank];
  label->setText(text);
  label->resize(text.isEmpty() ? 0 : label->sizeHint().width(), lineheight);
}

void Ttallylist::loadtally() {
  tally_.loadtally();
  drawtally();
}

int Ttallylist::addit(int column, int row) {
  return tally_.addit(column, row);
}

void Ttallylist::addtomineincrease(int column) {
  if (column < 0 || column >= gridcolumns) return;
  tally_.addtomineincrease(column);
  drawtally();
  savesoon();
}

void Ttallylist::addtomineset(int column, const QString& text) {
  if (column < 0 || column >= gridcolumns) return;
  tally_.addtomineset(column, text.toLocal8Bit().toStdString());
  drawtally();
  savesoon();
}

void Ttallylist::checkscore(int score, const QString& name) {
  const QDate day = today ? today() : QDate::currentDate();
  const QString date = QLocale::system().toString(day, QLocale::ShortFormat);
  tally_.checkscore(score, name.toLocal8Bit().toStdString(), date.toLocal8Bit().toStdString());
  drawtally();
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
  tally_.reset();
  drawtally();
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

void Ttallylist::showforward() {
  const QScreen* screen = mainwindow_ ? mainwindow_->screen() : QApplication::primaryScreen();
  controls::fitworkarea(this, screen, mainwindow_);
  controls::centreon(this, mainwindow_);
  show();
  raise();
  activateWindow();
}
