#include "shell/mainform.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDate>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QLocalServer>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <chrono>
#include <cstdio>
#include <exception>

#include "controls/flatpanel.h"
#include "controls/imagebutton.h"
#include "controls/look.h"
#include "game/coach.h"
#include "online/httpget.h"
#include "online/recordpost.h"
#include "online/scorepost.h"
#include "online/updatecheck.h"
#include "product/product.h"
#include "resources/resources.h"
#include "shell/boardparts.h"
#include "shell/boardscale.h"
#include "shell/boardview.h"
#include "shell/coachview.h"
#include "shell/companions.h"
#include "shell/dealdialog.h"
#include "shell/dealsolver.h"
#include "shell/solutionreplay.h"
#include "shell/tallyport.h"
#include "shell/updateoffer.h"
#include "sound/soundplayer.h"
#include "windows/aboutform.h"

namespace {

const QColor bonuscolor(0xC8, 0xC8, 0xC8);
const QColor statuscolor(0xBF, 0xC0, 0xDD);

TImageButton* makebutton(QWidget* parent, const char* name, const QString& image,
                         const QString& text, int left, int top) {
  auto* button = new TImageButton(image, text, parent);
  button->setObjectName(QString::fromLatin1(name));
  button->move(left, top);
  return button;
}

QLineEdit* makeedit(QWidget* parent, const char* name, const QRect& place) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(name));
  edit->setGeometry(place);
  edit->setFont(pixelfont(19));
  edit->setMaxLength(Tmain::maxnamelength);
  QPalette palette = edit->palette();
  palette.setColor(QPalette::Text, Qt::black);
  palette.setColor(QPalette::Base, Qt::white);
  edit->setPalette(palette);
  return edit;
}

}  // namespace

Tmain::Tmain(const TmainSetup& setup, QWidget* parent) : QMainWindow(parent), setup_(setup) {
  setObjectName(QStringLiteral("main"));
  buildwindow();
  FormCreate();
}

// The solver's threads are stopped and joined before anything they report to goes.
Tmain::~Tmain() {
  delete replay_;
}

void Tmain::FormCreate() {
  productword_ = QString::fromLatin1(product::word);
  installerfile_ = QString::fromLatin1(product::installerfile);

  // Held for the life of the process so that other programs can see that the game runs. Lives in
  // the abstract namespace, so it vanishes with the process and leaves no file behind. Whether
  // another copy already holds it is not our concern: a second copy may run.
  auto* mutex = new QLocalServer(this);
  mutex->setSocketOptions(QLocalServer::AbstractNamespaceOption);
  mutex->listen(productword_);

  random_ = game::DealRandom(
      setup_.seed ? *setup_.seed
                  : static_cast<std::uint64_t>(
                        std::chrono::system_clock::now().time_since_epoch().count()));

  settingspath_ =
      setup_.settingspath.isEmpty() ? defaultsettingspath(productword_) : setup_.settingspath;
  loadinifile();

  playsounds(QStringLiteral("entered"));
  ChangeName1Click();
}

void Tmain::buildwindow() {
  setWindowTitle(QStringLiteral("Pipshift"));
  setFont(pixelfont(11));
  look::paintbackground(this);
  look::settextcolor(this, Qt::black);

  buildmenus();

  // Made inside this window, whose keys it takes.
  view_ = new BoardView(this);
  setCentralWidget(view_);
  connect(view_, &BoardView::boneclicked, this, &Tmain::bone_1MouseUp);
  connect(view_, &BoardView::slotclicked, this, &Tmain::shape_1MouseUp);
  connect(view_, &BoardView::rescaled, this, &Tmain::showscore);
  // Up to the window's own size the board stays where it was designed; beyond, it is centred.
  view_->scale()->setresting({defaultwidth, defaultheight - menuBar()->sizeHint().height()});

  label_name = look::makelabel(
      view_->frame(), "label_name", QStringLiteral("Welcome to Pipshift by Quorvel Software!"),
      pixelfont(13, false), look::lilac, {14, 14, 302, 16}, Qt::AlignLeft | Qt::AlignTop);
  fitwidth(label_name, label_name->text());
  // Beside the greeting, outside the board, where no overlay panel ever covers it. It reaches
  // under the greeting's box, whose text is short once a game is dealt ("Good Luck " and a name
  // of at most ten characters), while this one is drawn from the right.
  deallabel_ = look::makelabel(view_->frame(), "deallabel", QString(), pixelfont(13, false),
                               look::lilac, {214, 14, 374, 16}, Qt::AlignRight | Qt::AlignTop);
  deallabel_->hide();  // until there is a deal to name
  // A reader meets the lines above the board before the board.
  view_->area()->raise();

  // The overlay panels are made last, so they lie over everything on the board.
  buildboard(view_->area());
  buildpanels(view_->area());
  buildaccess();

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(setup_.postinterval);
  // A coarse timer may tick up to a twentieth early; forty of them would end the wait seconds
  // before the forty seconds the player is promised.
  Timer1->setTimerType(Qt::PreciseTimer);
  connect(Timer1, &QTimer::timeout, this, &Tmain::Timer1Timer);

  turntimer = new QTimer(this);
  turntimer->setObjectName(QStringLiteral("turntimer"));
  turntimer->setInterval(1000);
  connect(turntimer, &QTimer::timeout, this, &Tmain::turntimerTimer);
  turntimer->start();

  replay_ = new SolutionReplay(view_, this);
  connect(replay_, &SolutionReplay::found, this, &Tmain::dealsolved);
  connect(replay_, &SolutionReplay::finished, this, &Tmain::endreplay);
  coach_ =
      new CoachView(view_, dealsolver(), game_, findChild<QMenu*>(QStringLiteral("View1")), this);
  connect(coach_, &CoachView::winnablechanged, this, &Tmain::showdeal);
  // Picking a bone up costs nothing. The one slot to mark is the coach's: the game's own hints
  // for the bone are not asked for.
  connect(coach_, &CoachView::pickup, this, [this](int bone) {
    if (game_.selectedbone() != bone) game_.clickbone(bone, false);
    view_->showboard(game_.board(), game_.selectedbone());
  });

  recordpost_ = new RecordPost(this);
  checkupdate = new THTTPGet(this);
  checkupdate->setObjectName(QStringLiteral("checkupdate"));
  connect(checkupdate, &THTTPGet::OnDoneString, this, &Tmain::checkupdateDoneString);

  setbounds({defaultleft, defaulttop, defaultwidth, defaultheight});
}

// What stands on the board beside the view's own parts, among its pictures: beneath the bones.
void Tmain::buildboard(QWidget* board1) {
  auto* image_logo = new TPicture(board1);
  image_logo->setObjectName(QStringLiteral("image_logo"));
  image_logo->setGeometry(232, 242, 214, 41);
  image_logo->setPixmap(resourcepicture(QStringLiteral(":/images/logo.png")));
  image_logo->setProperty(picturepathproperty, QStringLiteral(":/images/logo.png"));
  image_logo->setCursor(Qt::PointingHandCursor);
  image_logo->setAccessibleName(QStringLiteral("Quorvel Software"));
  connect(image_logo, &TPicture::clicked, this, &Tmain::image_logoClick);
  view_->putbeneathbones(image_logo);

  auto* button_start =
      makebutton(board1, "button_start", QStringLiteral(":/images/button_startgame.png"),
                 QStringLiteral("Start Game"), 448, 241);
  connect(button_start, &QAbstractButton::clicked, this, &Tmain::button_startClick);
  view_->putbeneathbones(button_start);

  label_score =
      look::makelabel(board1, "label_score", QStringLiteral("Score:100"), pixelfont(16, true),
                      look::lilac, {477, 192, 101, 20}, Qt::AlignRight | Qt::AlignTop);
  label_score->setProperty("Tag", game_.clicksleft());
  fitwidth(label_score, QStringLiteral("Clicks: 100"));
  view_->putbeneathbones(label_score);
}

void Tmain::buildpanels(QWidget* board1) {
  const QString ok = QStringLiteral(":/images/button_ok.png");
  const QString done = QStringLiteral(":/images/button_done.png");
  const QString cancel = QStringLiteral(":/images/button_cancel.png");

  UpdatePanel::Setup offer;
  offer.programfile = programfile();
  offer.updateserver = [this] { return updateserver_; };
  offer.siteaddress = QStringLiteral("http://") + Tabout::siteaddress;
  offer.installerfile = [this] { return installerfile_; };
  offer.publickey = setup_.updatekey;
  offer.version = [this] { return companions_ ? companions_->versiontext() : QString(); };
  offer.save = [this] {
    FormClose();
    if (companions_) companions_->savetally();
  };
  offer.message = [this](const QString& text) { message(text); };
  offer.exit = setup_.exitforupdate;
  updateoffer_ = new UpdatePanel(board1, makebutton, std::move(offer), this);

  panel_name = makeoverlay(board1, "panel_name", {123, 40, 329, 161});
  look::makelabel(panel_name, "Label5", QStringLiteral("ENTER YOUR NAME"), pixelfont(19, true),
                  look::lilac, {-1, 10, 327, 24}, Qt::AlignHCenter | Qt::AlignTop);
  edit_aname = makeedit(panel_name, "edit_aname", {83, 52, 161, 32});
  auto* namedone = makebutton(panel_name, "button_namedone", done, QStringLiteral("Done"), 26, 106);
  connect(namedone, &QAbstractButton::clicked, this, &Tmain::button_namedoneClick);
  auto* namecancel =
      makebutton(panel_name, "button_namecancel", cancel, QStringLiteral("Cancel"), 170, 106);
  connect(namecancel, &QAbstractButton::clicked, this, &Tmain::button_namecancelClick);

  panel_lost = makeoverlay(board1, "panel_lost", {123, 64, 329, 105});
  look::makelabel(panel_lost, "Label7", QStringLiteral("SORRY, YOU LOST!"), pixelfont(19, true),
                  look::lilac, {-1, 10, 327, 24}, Qt::AlignHCenter | Qt::AlignTop);
  // Why the game was lost, in the gap between the title and the buttons.
  look::makelabel(panel_lost, "label_lostreason", QString(), pixelfont(12), look::lilac,
                  {2, 33, 325, 16}, Qt::AlignHCenter | Qt::AlignTop);
  auto* start2 =
      makebutton(panel_lost, "button_start2", QStringLiteral(":/images/button_startgame.png"),
                 QStringLiteral("Start Game"), 27, 49);
  connect(start2, &QAbstractButton::clicked, this, &Tmain::button_startClick);
  auto* lost = makebutton(panel_lost, "button_lost", done, QStringLiteral("Done"), 170, 50);
  connect(lost, &QAbstractButton::clicked, this, &Tmain::button_lostClick);
  buildundobutton(panel_lost);

  panel_invalid = makeoverlay(board1, "panel_invalid", {131, 72, 329, 105});
  label_invalid = look::makelabel(panel_invalid, "label_invalid", QStringLiteral("Invalid"),
                                  pixelfont(19, true), look::lilac, {-1, 10, 327, 24},
                                  Qt::AlignHCenter | Qt::AlignTop);
  auto* imageok = makebutton(panel_invalid, "image_ok", ok, QStringLiteral("OK"), 98, 50);
  connect(imageok, &QAbstractButton::clicked, this, &Tmain::image_okClick);

  panel_cleared = makeoverlay(board1, "panel_cleared", {125, 3, 329, 281});
  look::makelabel(panel_cleared, "Label1", QStringLiteral("YOUR CLEARED THE BOARD!"),
                  pixelfont(19, true), look::lilac, {-1, 10, 327, 24},
                  Qt::AlignHCenter | Qt::AlignTop);
  label_unusedbonus = look::makelabel(
      panel_cleared, "label_unusedbonus", QStringLiteral("Unused Clicks Bonus: "),
      pixelfont(17, true), bonuscolor, {2, 41, 327, 24}, Qt::AlignHCenter | Qt::AlignTop);
  label_timebonus = look::makelabel(panel_cleared, "label_timebonus",
                                    QStringLiteral("Time Bonus: 0"), pixelfont(17, true),
                                    bonuscolor, {2, 65, 327, 24}, Qt::AlignHCenter | Qt::AlignTop);
  label_score1 = look::makelabel(panel_cleared, "label_score1", QStringLiteral("Your Score: "),
                                 pixelfont(19, true), Qt::white, {2, 94, 327, 24},
                                 Qt::AlignHCenter | Qt::AlignTop);
  look::makelabel(panel_cleared, "Label3", QStringLiteral("Enter Your Name"), pixelfont(19, true),
                  look::lilac, {2, 125, 327, 24}, Qt::AlignHCenter | Qt::AlignTop);
  edit_name = makeedit(panel_cleared, "edit_name", {83, 147, 161, 32});
  auto* sendscore =
      makebutton(panel_cleared, "button_sendscore", QStringLiteral(":/images/button_sendscore.png"),
                 QStringLiteral("Send Score"), 34, 189);
  connect(sendscore, &QAbstractButton::clicked, this, &Tmain::button_sendscoreClick);
  auto* highscores = makebutton(panel_cleared, "button_highscores",
                                QStringLiteral(":/images/button_highscores.png"),
                                QStringLiteral("High Scores"), 171, 189);
  connect(highscores, &QAbstractButton::clicked, this, &Tmain::button_highscoresClick);
  auto* clearedcancel =
      makebutton(panel_cleared, "button_cancel", cancel, QStringLiteral("Cancel"), 98, 237);
  connect(clearedcancel, &QAbstractButton::clicked, this, &Tmain::button_cancelClick);

  // Made last, so it covers the send and list buttons while a post is pending.
  // Framed in the board's own colour, so only its caption shows.
  panel_wait = makeoverlay(panel_cleared, "panel_wait", {27, 185, 288, 46}, look::background);
  panel_wait->setAlignment(Qt::AlignLeft);
  panel_wait->setFont(pixelfont(19));
  panel_wait->setFontColor(Qt::white);
  panel_wait->setCaption(QStringLiteral("Posting Score, Please Wait......"));
}

// What the panels say to a screen reader, and the keys they answer. Enter presses a panel's
// default button and Esc its cancelling one; the update panel's Enter is its Cancel: a
// stray Enter must never start replacing the program.
void Tmain::buildaccess() {
  auto button = [this](const char* name) {
    return findChild<QAbstractButton*>(QString::fromLatin1(name));
  };
  auto label = [this](const char* name) { return findChild<QLabel*>(QString::fromLatin1(name)); };
  TFlatPanel* panel_update = updateoffer_->panel_update;
  view_->addpanel(panel_update, updateoffer_->button_updatecancel,
                  updateoffer_->button_updatecancel);
  view_->addpanel(panel_name, button("button_namedone"), button("button_namecancel"), edit_aname);
  view_->addpanel(panel_lost, nullptr, nullptr);
  view_->addpanel(panel_invalid, button("image_ok"), button("image_ok"));
  view_->addpanel(panel_cleared, nullptr, nullptr, edit_name);
  // While a score is posted, Esc is Cancel, and the buttons under the wait are out of reach.
  view_->addpanel(panel_wait, nullptr, button("button_cancel"));
  // The panels' buttons are reached by Tab, and pressed by Space or Enter.
  for (QWidget* panel : {panel_update, panel_name, panel_lost, panel_invalid, panel_cleared}) {
    for (TImageButton* b : panel->findChildren<TImageButton*>()) b->setFocusPolicy(Qt::TabFocus);
  }

  view_->addnotice(panel_invalid, label_invalid);
  view_->addnotice(panel_lost, label("Label7"), label("label_lostreason"));
  view_->addnotice(panel_cleared, label("Label1"), label_score1);
  view_->addnotice(panel_update, label("Label15"), label("Label17"));
  // The parts that only hold others are named by what they hold, as the board's area is.
  panel_name->setAccessibleName(label("Label5")->text());
  view_->frame()->setAccessibleName(QStringLiteral("Game"));
  menuBar()->setAccessibleName(QStringLiteral("Menu"));
  label("Label5")->setBuddy(edit_aname);
  label("Label3")->setBuddy(edit_name);
}

void Tmain::buildmenus() {
  QMenuBar* bar = menuBar();
  bar->setObjectName(QStringLiteral("MainMenu1"));

  auto item = [this](QMenu* menu, const char* name, const QString& caption) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(QString::fromLatin1(name));
    action->setParent(this);
    return action;
  };
  auto mark = [](QAction* action) {
    action->setCheckable(true);
    action->setChecked(true);
    return action;
  };

  QMenu* file = bar->addMenu(QStringLiteral("&File"));
  file->setObjectName(QStringLiteral("File1"));
  QAction* StartGame1 = item(file, "StartGame1", QStringLiteral("&Start Game"));
  StartGame1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
  connect(StartGame1, &QAction::triggered, this, &Tmain::StartGame1Click);
  QAction* restart = item(file, "restartdeal", QStringLiteral("&Restart Deal"));
  restart->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
  connect(restart, &QAction::triggered, this, &Tmain::restartdeal);
  QAction* choose = item(file, "choosedeal", QStringLiteral("&Choose Deal..."));
  choose->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
  connect(choose, &QAction::triggered, this, &Tmain::choosedeal);
  connect(item(file, "dealoftheday", QStringLiteral("&Deal of the Day")), &QAction::triggered, this,
          &Tmain::playdealoftheday);
  file->addSeparator();
  connect(item(file, "Exit1", QStringLiteral("E&xit")), &QAction::triggered, this,
          &Tmain::Exit1Click);

  QMenu* options = bar->addMenu(QStringLiteral("&Options"));
  options->setObjectName(QStringLiteral("Options1"));
  PlaySounds1 = mark(item(options, "PlaySounds1", QStringLiteral("&Play Sounds")));
  connect(PlaySounds1, &QAction::triggered, this, &Tmain::PlaySounds1Click);
  connect(item(options, "ResetScreenLocation1", QStringLiteral("&Reset Screen Location")),
          &QAction::triggered, this, &Tmain::ResetScreenLocation1Click);
  connect(item(options, "ChangeName1", QStringLiteral("&Change  Name")), &QAction::triggered, this,
          &Tmain::ChangeName1Click);
  // The update mark and Show Hints only toggle: what they govern reads them when it happens, and
  // the settings file takes them at exit.
  updatecheck =
      mark(item(options, "updatecheck", QStringLiteral("&Automatically Check for Updates")));
  options->addSeparator();
  ShowHints1 = mark(item(options, "ShowHints1", QStringLiteral("Show &Hints")));
  options->addSeparator();
  buildundo(options);

  QMenu* view = bar->addMenu(QStringLiteral("&View"));
  view->setObjectName(QStringLiteral("View1"));
  connect(item(view, "TallyList1", QStringLiteral("&Tally List")), &QAction::triggered, this,
          &Tmain::TallyList1Click);
  connect(item(view, "ViewHighScoreList1", QStringLiteral("View High &Score List")),
          &QAction::triggered, this, &Tmain::ViewHighScoreList1Click);
  view->addSeparator();
  showsolution_ = item(view, "showsolution", QStringLiteral("Show Sol&ution"));
  showsolution_->setEnabled(false);
  connect(showsolution_, &QAction::triggered, this, &Tmain::showsolution);

  QMenu* help = bar->addMenu(QStringLiteral("&Help"));
  help->setObjectName(QStringLiteral("Help1"));
  QAction* help2 = item(help, "Help2", QStringLiteral("&Help"));
  help2->setShortcut(QKeySequence(Qt::Key_F1));
  connect(help2, &QAction::triggered, this, &Tmain::Help2Click);
  help->addSeparator();
  connect(item(help, "About1", QStringLiteral("&About")), &QAction::triggered, this,
          &Tmain::About1Click);
}

// ---- Window bounds ------------------------------------------------------------------------

QRect Tmain::bounds() const {
  return frameGeometry();
}

void Tmain::setbounds(const QRect& wanted) {
  // A stored size beyond the whole desktop (a damaged settings file) would ask for a window, and
  // a backing store, of absurd size; like the platform's own limit for a framed window, the size
  // is held to the desktop plus a margin.
  QSize limit(4096, 4096);
  if (const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen()) {
    limit = s->virtualSize() + QSize(64, 64);
  }
  const QSize outer(qBound(0, wanted.width(), limit.width()),
                    qBound(0, wanted.height(), limit.height()));
  move(wanted.topLeft());
  const QSize frame = frameGeometry().size() - geometry().size();
  resize(outer - frame);
  // Until the window manager has put its frame around the window the frame's size is unknown;
  // the outer size is made right as soon as it is.
  if (frame.isNull()) {
    pendingsize_ = outer;
  } else {
    pendingsize_.reset();
  }
}

void Tmain::applypendingsize() {
  if (!pendingsize_ || !isVisible()) return;
  const QSize frame = frameGeometry().size() - geometry().size();
  if (frame.isNull()) return;
  const QSize outer = *pendingsize_;
  pendingsize_.reset();
  resize(outer - frame);
}

QSize Tmain::clientsize() const {
  const QWidget* menu = menuWidget();
  int menuheight = 0;
  if (menu && !menu->isHidden()) {
    menuheight = menu->hasHeightForWidth() ? menu->heightForWidth(width()) : 0;
    if (menuheight <= 0) menuheight = menu->sizeHint().height();
  }
  return {width(), height() - menuheight};
}

void Tmain::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  applypendingsize();
  FormResize();
}

void Tmain::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  applypendingsize();
}

// The board's size, unless the screen's work area is smaller still (a small screen at a large
// scale factor): a window held larger than its screen could not be seen whole, so there the board
// is drawn smaller instead.
QSize Tmain::leastclient() const {
  const QSize least(BoardView::designwidth, BoardView::designheight);
  const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
  if (!s) return least;
  const QSize frame = frameGeometry().size() - geometry().size();
  const int menuheight = height() - clientsize().height();
  const QSize room = s->availableGeometry().size() - frame - QSize(0, menuheight);
  return least.boundedTo(room.expandedTo(QSize(1, 1)));
}

void Tmain::FormResize() {
  const int menuheight = height() - clientsize().height();
  const QSize least = leastclient();
  if (clientsize().height() < least.height()) resize(width(), least.height() + menuheight);
  if (clientsize().width() < least.width()) resize(least.width(), height());
}

void Tmain::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  applypendingsize();
  if (formshowwatched_ || !windowHandle()) return;
  formshowwatched_ = true;
  windowHandle()->installEventFilter(this);
  // A window that is never exposed (started minimised) still gets its sound and update check.
  QTimer::singleShot(formshowfallback, this, &Tmain::queueformshow);
}

// The window system exposes the window; Qt paints it and hands the frame over while handling
// that event, so a call queued now runs with the window on screen. The window's own paint event
// cannot tell this: where the menu bar lives outside the window (a global menu), the client area
// covers all of it and Qt never asks the window itself to paint.
// Every widget hands Tab up to its window: a panel on top keeps it among its own buttons.
bool Tmain::focusNextPrevChild(bool next) {
  if (view_ && view_->tab(next)) return true;
  return QMainWindow::focusNextPrevChild(next);
}

bool Tmain::eventFilter(QObject* watched, QEvent* event) {
  if (watched == windowHandle() && event->type() == QEvent::Expose && windowHandle()->isExposed())
    queueformshow();
  return QMainWindow::eventFilter(watched, event);
}

void Tmain::queueformshow() {
  if (formshowqueued_) return;
  formshowqueued_ = true;
  QTimer::singleShot(0, this, &Tmain::FormShow);
}

void Tmain::closeEvent(QCloseEvent* event) {
  FormClose();
  event->accept();
  if (setup_.endprogram) {
    setup_.endprogram();
  } else {
    QCoreApplication::quit();
  }
}

void Tmain::FormClose() {
  QRect now = bounds();
  if (now != savedbounds()) {
    // A window larger than the work area is brought 3 pixels in, so it does not come back
    // hanging over the screen edge every time.
    const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    if (s) {
      const QRect work = s->availableGeometry();
      if (now.width() > work.width()) now.setWidth(now.width() - 3);
      if (now.height() > work.height()) now.setHeight(now.height() - 3);
    }
    savedbounds_ = now;
  }
  writeinifile(now);
}

// ---- Menus and panels ---------------------------------------------------------------------

void Tmain::StartGame1Click() {
  button_startClick();
  panel_cleared->hide();
}

void Tmain::Exit1Click() {
  close();
}

void Tmain::PlaySounds1Click() {
  saveinifile();
}

bool Tmain::playsoundson() const {
  return PlaySounds1->isChecked();
}
bool Tmain::showhintson() const {
  return ShowHints1->isChecked();
}
bool Tmain::updatecheckon() const {
  return updatecheck->isChecked();
}

void Tmain::ResetScreenLocation1Click() {
  setbounds({defaultleft, defaulttop, defaultwidth, defaultheight});
}

// The box's text comes up selected, so a name typed replaces it, as in any desktop text box that
// takes the focus: typing "Kim" over "Guest" must not give "GuestKim".
void Tmain::ChangeName1Click() {
  edit_aname->selectAll();
  panel_name->show();
  panel_name->raise();
}

void Tmain::button_namedoneClick() {
  edit_name->setText(edit_aname->text());
  panel_name->hide();
}

void Tmain::button_namecancelClick() {
  panel_name->hide();
}

void Tmain::image_okClick() {
  panel_invalid->hide();
}

void Tmain::button_lostClick() {
  panel_lost->hide();
}

void Tmain::button_cancelClick() {
  panel_cleared->hide();
}

void Tmain::TallyList1Click() {
  if (companions_) companions_->showtally();
}

void Tmain::Help2Click() {
  if (companions_) companions_->showhelp();
}

void Tmain::About1Click() {
  if (companions_) companions_->showabout();
}

void Tmain::image_logoClick() {
  if (companions_) companions_->openlink();
}

void Tmain::ViewHighScoreList1Click() {
  if (companions_) companions_->showhighscores();
}

void Tmain::button_highscoresClick() {
  if (companions_) companions_->showhighscores();
}

// ---- Posting a score ----------------------------------------------------------------------

void Tmain::button_sendscoreClick() {
  if (edit_name->text().isEmpty()) edit_name->setText(QStringLiteral("Guest"));
  if (companions_) {
    try {
      const QString score = QString::number(label_score->property("Tag").toInt());
      const QString date = postdatetext(QDate::currentDate(), QLocale::system());
      companions_->postscore(edit_name->text(), date, score);
      recordpost_->keep(edit_name->text(), date, score, game_.record());
    } catch (const std::exception& error) {
      // A post that cannot even be started (no thread to be had) fails the way a lost one does,
      // by the countdown; why is said here, where the countdown cannot say it.
      std::fprintf(stderr, "pipshift: the score could not be sent: %s\n", error.what());
    }
  }
  postcountdown_ = postticks;
  postdots_ = 0;
  Timer1->start();
  panel_wait->show();
  panel_wait->raise();
}

bool Tmain::posting() const {
  return Timer1->isActive();
}

void Tmain::postaccepted() {
  panel_cleared->hide();
  Timer1->stop();
  recordpost_->send(scoreserver_);
}

// Nothing was stored, so the wait panel goes and Send Score may be pressed again; a refusal that
// comes after the countdown has already said so brings no second message.
void Tmain::postrefused() {
  const bool waiting = Timer1->isActive() && postcountdown_ > 0;
  Timer1->stop();
  panel_wait->hide();
  if (waiting) message(QStringLiteral("Posting Failed."));
}

void Tmain::Timer1Timer() {
  --postcountdown_;
  ++postdots_;
  if (postdots_ > 5) postdots_ = 1;
  panel_wait->setCaption(QStringLiteral("Posting Score, Please Wait") +
                         QString(postdots_, QLatin1Char('.')));
  if (postcountdown_ == 0) {
    // The message is shown once this tick has returned: Qt delivers no tick of a timer while its
    // own handler runs, so a box opened here would freeze the dots. Shown from outside, the box
    // lets the timer go on ticking, the countdown passes zero, and no second message comes.
    QMetaObject::invokeMethod(
        this,
        [this] {
          // An answer that came in meanwhile has ended the wait: the post did not fail.
          if (!Timer1->isActive()) return;
          message(QStringLiteral("Posting Failed."));
          Timer1->stop();
        },
        Qt::QueuedConnection);
  }
}

void Tmain::message(const QString& text) {
  if (setup_.message) {
    setup_.message(text);
    return;
  }
  QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), text, QMessageBox::Ok,
                  this);
  // A box behind another window, or beside a minimised one, is a box the player never sees: it
  // comes up over the main window, above the program's other windows, and takes the keys.
  if (isMinimized()) showNormal();
  box.setWindowModality(Qt::ApplicationModal);
  box.setWindowFlag(Qt::WindowStaysOnTopHint);
  QTimer::singleShot(0, &box, [&box] {
    box.raise();
    box.activateWindow();
  });
  box.exec();
}

// ---- The game -----------------------------------------------------------------------------

void Tmain::playsounds(const QString& name) {
  if (setup_.sounds && playsoundson()) setup_.sounds->play(name);
}

void Tmain::button_startClick() {
  updateoffer_->startgame();
  startdeal(random_.drawdeal());
}

void Tmain::startdeal(int dealnumber) {
  replay_->reset();
  view_->clearbones();
  // The wait for a score post ends with the game it belonged to: a countdown left running would
  // say "Posting Failed." in the middle of the next one.
  Timer1->stop();
  panel_wait->hide();
  panel_lost->hide();
  panel_name->hide();
  panel_cleared->hide();
  if (setup_.tally) setup_.tally->addtomineincrease(1);

  game_.start(dealnumber);
  coach_->boardchanged();
  showdeal();
  showscore();
  view_->settimetag(game_.bartag());
  playsounds(QString::fromLatin1(game::cuename(game::Cue::startgame)));
  label_name->setText(QStringLiteral("Good Luck ") + edit_name->text());
  view_->showboard(game_.board(), game_.selectedbone());
  // Normally running already; starting it again would shift its beat.
  if (!turntimer->isActive()) turntimer->start();
  view_->newgame();
}

BoardScale* Tmain::boardscale() const {
  return view_->scale();
}

void Tmain::showboard() {
  // A board set from outside is a board change like a placement.
  coach_->boardchanged();
  view_->showboard(game_.board(), game_.selectedbone());
  showscore();
  view_->showclock(game_);
}

void Tmain::bone_1MouseUp(TBone* sender) {
  view_->resetslotcolours();
  showoutcome(game_.clickbone(sender->tag(), showhintson()));
}

void Tmain::shape_1MouseUp(TShape* sender) {
  view_->resetslotcolours();
  showoutcome(game_.clickslot(sender->tag()));
}

void Tmain::showoutcome(const game::Outcome& outcome) {
  if (!outcome.acted) return;
  view_->showhints(outcome.hints);
  if (!outcome.refusal.empty()) {
    label_invalid->setText(QString::fromStdString(outcome.refusal));
    panel_invalid->show();
    view_->announce(panel_invalid);
  }
  // Whatever was being solved was for the board before.
  if (outcome.movedbone != 0) {
    dealsolver()->abandon();
    coach_->boardchanged();
  }
  // The bone moved, if any, and the selection.
  view_->showboard(game_.board(), game_.selectedbone());
  // The board's own notices tell a placement by the bone let go; a bone going back is told here.
  if (outcome.undone) {
    view_->announce(QString::fromStdString(game::bonename(outcome.movedbone)) +
                    QStringLiteral(" taken back"));
  }
  showscore();
  endgame(outcome.ending);
  for (game::Cue cue : outcome.cues) playsounds(QString::fromLatin1(game::cuename(cue)));
}

void Tmain::showscore() {
  label_score->setText(QString::fromStdString(game_.scorecaption()));
  label_score->setProperty("Tag", game_.clicksleft());
  fitwidth(label_score, QStringLiteral("Clicks: 100"));
}

void Tmain::endgame(game::Ending ending) {
  // Once the game is over, what the deal allowed.
  if (ending != game::Ending::none) {
    replay_->find(game_.dealnumber());
    coach_->gameended();
  }
  switch (ending) {
    case game::Ending::none:
      return;
    case game::Ending::lost:
      panel_lost->findChild<QLabel*>(QStringLiteral("label_lostreason"))
          ->setText(QString::fromStdString(game::lossreasontext(game_.loss())));
      offerundo();
      panel_lost->show();
      return;
    case game::Ending::won:
      label_unusedbonus->setText(QStringLiteral("Unsused Click Bonus: ") +
                                 QString::number(game_.clickbonus()));
      label_timebonus->setText(QStringLiteral("Time Bonus: ") + QString::number(game_.timebonus()));
      label_score->setProperty("Tag", game_.score());
      label_score1->setText(QStringLiteral("Score: ") + QString::number(game_.score()));
      panel_cleared->show();
      if (setup_.tally) {
        setup_.tally->addtomineincrease(2);
        setup_.tally->checkscore(game_.score(), edit_name->text());
      }
      return;
  }
}

void Tmain::turntimerTimer() {
  const game::Outcome outcome = game_.tick();
  if (!outcome.acted) return;
  view_->showclock(game_);
  endgame(outcome.ending);
  for (game::Cue cue : outcome.cues) playsounds(QString::fromLatin1(game::cuename(cue)));
}

// ---- Numbered deals ----------------------------------------------------------------------

void Tmain::restartdeal() {
  startdeal(game_.dealnumber() > 0 ? game_.dealnumber() : random_.drawdeal());
}

void Tmain::playdealoftheday() {
  startdeal(game::dailydeal(std::chrono::system_clock::now()));
}

void Tmain::choosedeal() {
  // Made the first time it is wanted, and kept.
  auto* dialog = findChild<DealDialog*>(QString(), Qt::FindDirectChildrenOnly);
  if (!dialog) {
    dialog = new DealDialog(this);
    connect(dialog, &DealDialog::chosen, this, &Tmain::startdeal);
  }
  dialog->ask(game_.dealnumber());
}

DealSolver* Tmain::dealsolver() const {
  return replay_->solver();
}

void Tmain::dealsolved(int deal) {
  if (deal == game_.dealnumber()) showdeal();
}

void Tmain::showdeal() {
  const int deal = game_.dealnumber();
  const game::Solution* best = game_.gamerunning() ? nullptr : replay_->best(deal);
  const bool known = deal > 0 && best;
  QString text = deal > 0 ? QStringLiteral("Deal %1").arg(deal) : QString();
  if (!coach_->winnabletext().isEmpty()) {
    text += QStringLiteral("  \u00b7  ") + coach_->winnabletext();
  }
  if (known) {
    text +=
        best->solved
            ? QStringLiteral("  \u00b7  Best for this deal: %1 clicks").arg(best->placements.size())
            : QStringLiteral("  \u00b7  This deal cannot be sorted");
  }
  deallabel_->setText(text);
  // No deal, no line: a reader would meet an empty one.
  deallabel_->setVisible(!text.isEmpty());
  // Smaller type where the desktop's font runs wide, rather than text cut off; as large as the
  // board is drawn now, like every other text on it.
  for (int pixels = 13; pixels >= 9; --pixels) {
    deallabel_->setFont(pixelfont(view_->px(pixels)));
    if (QFontMetrics(deallabel_->font()).horizontalAdvance(text) <= deallabel_->width() - 2) break;
  }
  showsolution_->setEnabled(known && best->solved && !best->placements.empty());
}

// Plays the best line from the deal's first board, on the pictures only: the game, its clicks
// and score, the tally and the top ten stay as the game left them.
void Tmain::showsolution() {
  if (!showsolution_->isEnabled()) return;
  QWidget* covered = nullptr;
  if (panel_cleared->isVisible()) covered = panel_cleared;
  if (panel_lost->isVisible()) covered = panel_lost;
  panel_lost->hide();
  panel_cleared->hide();
  // The keyboard's frame belongs to the game's board, not to the one being played back.
  view_->hidecursor();
  view_->resetslotcolours();
  replay_->play(covered);
}

void Tmain::endreplay(QWidget* covered) {
  if (!covered) return;
  covered->show();
  covered->raise();
  if (covered == panel_cleared) edit_name->setFocus();
}

// ---- Update check ------------------------------------------------------------------------

// Asking for the version loads the network library and starts a thread, and the sound output is
// looked for: none of it needs to hold up the window's first appearance.
void Tmain::FormShow() {
  if (setup_.sounds) setup_.sounds->prepare();
  // Where the program cannot replace itself, its package manager updates it: nothing to offer.
  if (!updatecheckon() || !updateoffer_->canoffer()) return;
  removeleftoverdownloads(programfile(), installerfile_);
  checkupdate->setURL(versionaddress(updateserver_));
  checkupdate->StartFetch();
}

void Tmain::checkupdateDoneString(THTTPGet* sender, const QByteArray& result) {
  updateoffer_->checkupdateDoneString(result, sender->status());
}

QString Tmain::programfile() const {
  return setup_.programfile.isEmpty() ? QCoreApplication::applicationFilePath()
                                      : setup_.programfile;
}

void Tmain::button_updatecancelClick() {
  updateoffer_->button_updatecancelClick();
}

void Tmain::button_updateyesClick() {
  updateoffer_->button_updateyesClick();
}
