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
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <chrono>

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
#include "shell/boardaccess.h"
#include "shell/boardcursor.h"
#include "shell/boardparts.h"
#include "shell/boardscale.h"
#include "shell/choosedeal.h"
#include "shell/companions.h"
#include "shell/dealsolver.h"
#include "shell/tallyport.h"
#include "shell/updateoffer.h"
#include "sound/soundplayer.h"
#include "windows/aboutform.h"

namespace {

const QColor bonuscolor(0xC8, 0xC8, 0xC8);
const QColor statuscolor(0xBF, 0xC0, 0xDD);
const QColor maroon(0x80, 0x00, 0x00);
const QColor highlightcolor(0xBB, 0x00, 0x00);

// The desktop's own sans serif, whichever family that resolves to.
QFont pixelfont(int pixels, bool bold = false) {
  QFont font = look::makefont(QStringLiteral("Sans Serif"), pixels, bold);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

// The captions were laid out for a narrow system font; where the desktop's sans serif runs wider,
// the font is narrowed just enough for the widest text the label shows to fit its fixed width.
void fitwidth(QLabel* label, const QString& widest) {
  QFont font = label->font();
  const int needed = QFontMetrics(font).horizontalAdvance(widest);
  const int room = label->width() - 2;
  if (needed <= room || needed <= 0) return;
  font.setStretch(qMax(50, room * 100 / needed));
  label->setFont(font);
}

QLabel* makepicture(QWidget* parent, const char* name, const QString& image, const QRect& place) {
  auto* picture = new QLabel(parent);
  picture->setObjectName(QString::fromLatin1(name));
  picture->setGeometry(place);
  picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  picture->setPixmap(resourcepicture(image));
  picture->setProperty(picturepathproperty, image);
  return picture;
}

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

// The dialogs drawn over the board: flat, framed in black, in the board's colour, hidden until
// needed.
TFlatPanel* makeoverlay(QWidget* parent, const char* name, const QRect& place) {
  auto* panel = new TFlatPanel(parent);
  panel->setObjectName(QString::fromLatin1(name));
  panel->setGeometry(place);
  panel->setColorHighLight(Qt::black);
  panel->setColorShadow(Qt::black);
  panel->hide();
  return panel;
}

QRect torect(const game::Rect& rect) {
  return {rect.left, rect.top, rect.width, rect.height};
}

}  // namespace

Tmain::Tmain(const TmainSetup& setup, QWidget* parent)
    : QMainWindow(parent), setup_(setup), sounds_(setup.sounds), tally_(setup.tally) {
  setObjectName(QStringLiteral("main"));
  buildwindow();
  FormCreate();
}

// The worker's threads are stopped and joined before anything they report to goes.
Tmain::~Tmain() {
  delete dealsolver_;
}

void Tmain::FormCreate() {
  productword_ = QString::fromLatin1(product::word);
  installerfile_ = QString::fromLatin1(product::installerfile);

  // Held for the life of the process so that other programs can see that the game runs. Lives in
  // the abstract namespace, so it vanishes with the process and leaves no file behind. Whether
  // another copy already holds it is not our concern: a second copy may run.
  mutex_ = new QLocalServer(this);
  mutex_->setSocketOptions(QLocalServer::AbstractNamespaceOption);
  mutex_->listen(productword_);

  random_ = game::DealRandom(
      setup_.seed ? *setup_.seed
                  : static_cast<std::uint64_t>(
                        std::chrono::system_clock::now().time_since_epoch().count()));

  settingspath_ =
      setup_.settingspath.isEmpty() ? defaultsettingspath(productword_) : setup_.settingspath;
  loadinifile();

  playsounds(QStringLiteral("entered"));
  panel_name->show();
  panel_name->raise();
}

void Tmain::buildwindow() {
  setWindowTitle(QStringLiteral("Pipshift"));
  setFont(pixelfont(11));
  look::paintbackground(this);
  look::settextcolor(this, Qt::black);

  loadimagelists(devicePixelRatioF());

  buildmenus();

  auto* client = new QWidget(this);
  client->setObjectName(QStringLiteral("client"));
  client->setAutoFillBackground(true);
  setCentralWidget(client);

  panel_board = new TFlatPanel(client);
  panel_board->setObjectName(QStringLiteral("panel_board"));
  panel_board->setGeometry(2, 2, 593, 325);
  panel_board->setTransparent(true);
  panel_board->setColorHighLight(look::background);
  panel_board->setColorShadow(look::background);

  label_name = look::makelabel(
      panel_board, "label_name", QStringLiteral("Welcome to Pipshift by Quorvel Software!"),
      pixelfont(13, false), look::lilac, {14, 14, 302, 16}, Qt::AlignLeft | Qt::AlignTop);
  fitwidth(label_name, label_name->text());
  // Beside the greeting, outside the board, where no overlay panel ever covers it. It reaches
  // under the greeting's box, whose text is short once a game is dealt ("Good Luck " and a name
  // of at most ten characters), while this one is drawn from the right.
  label_deal = look::makelabel(panel_board, "label_deal", QString(), pixelfont(13, false),
                               look::lilac, {214, 14, 374, 16}, Qt::AlignRight | Qt::AlignTop);

  panel_board1 = new TFlatPanel(panel_board);
  panel_board1->setObjectName(QStringLiteral("panel_board1"));
  panel_board1->setGeometry(1, 34, 588, 287);
  panel_board1->setTransparent(true);
  panel_board1->setColorHighLight(Qt::black);
  panel_board1->setColorShadow(Qt::black);

  // Laid out for the smallest client area; a larger window draws the board larger.
  scale_ = new BoardScale(client, panel_board, {minclientwidth, minclientheight});
  connect(scale_, &BoardScale::scalechanged, this, &Tmain::boardrescaled);

  // Children stack in the order they are made, the last on top: the guide and the slots at the
  // bottom, the bones above them, the highlight and the time bar above the bones, the overlay
  // panels over everything.
  buildboard(panel_board1);
  buildpanels(panel_board1);
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

  solutiontimer = new QTimer(this);
  solutiontimer->setObjectName(QStringLiteral("solutiontimer"));
  solutiontimer->setInterval(solutionstep);
  connect(solutiontimer, &QTimer::timeout, this, &Tmain::solutiontimerTimer);
  dealsolver_ = new DealSolver(this);
  connect(dealsolver_, &DealSolver::solved, this, &Tmain::dealsolved);

  recordpost_ = new RecordPost(this);
  checkupdate = new THTTPGet(this);
  checkupdate->setObjectName(QStringLiteral("checkupdate"));
  connect(checkupdate, &THTTPGet::OnDoneString, this, &Tmain::checkupdateDoneString);

  setbounds({defaultleft, defaulttop, defaultwidth, defaultheight});
}

void Tmain::buildboard(QWidget* board1) {
  Image2 = makepicture(board1, "Image2", QStringLiteral(":/images/guide.png"), {6, 6, 69, 277});

  for (int slot = 1; slot <= game::kSlotCount; ++slot) {
    auto* s = new TShape(slot, 1, Qt::black, board1);
    s->setObjectName(QStringLiteral("shape_%1").arg(slot));
    s->setGeometry(torect(game::slotrect(slot)));
    connect(s, &TShape::released, this, &Tmain::shape_1MouseUp);
    shape[slot] = s;
  }

  image_logo = new TPicture(board1);
  image_logo->setObjectName(QStringLiteral("image_logo"));
  image_logo->setGeometry(232, 242, 214, 41);
  image_logo->setPixmap(resourcepicture(QStringLiteral(":/images/logo.png")));
  image_logo->setProperty(picturepathproperty, QStringLiteral(":/images/logo.png"));
  image_logo->setCursor(Qt::PointingHandCursor);
  connect(image_logo, &TPicture::clicked, this, &Tmain::image_logoClick);

  button_start = makebutton(board1, "button_start", QStringLiteral(":/images/button_startgame.png"),
                            QStringLiteral("Start Game"), 448, 241);
  connect(button_start, &QAbstractButton::clicked, this, &Tmain::button_startClick);

  label_score =
      look::makelabel(board1, "label_score", QStringLiteral("Score:100"), pixelfont(16, true),
                      look::lilac, {477, 192, 101, 20}, Qt::AlignRight | Qt::AlignTop);
  label_score->setProperty("Tag", game_.clicksleft());
  fitwidth(label_score, QStringLiteral("Clicks: 100"));

  for (int number = 1; number <= game::kBoneCount; ++number) {
    auto* b = new TBone(number, board1);
    b->setObjectName(QStringLiteral("bone_%1").arg(number));
    b->resize(game::kSlotWidth, game::kSlotHeight);
    connect(b, &TBone::released, this, &Tmain::bone_1MouseUp);
    bone[number] = b;
  }

  shape_highlite = new TShape(game::kSlotCount, 2, highlightcolor, board1);
  shape_highlite->setObjectName(QStringLiteral("shape_highlite"));
  shape_highlite->setGeometry(502, 47, 70, 38);
  shape_highlite->hide();
  connect(shape_highlite, &TShape::released, this, &Tmain::shape_highliteMouseUp);
  // Above the bones and the highlight, below the time bar and the panels.
  cursor_ = new BoardCursor(shape);

  Image1 =
      makepicture(board1, "Image1", QStringLiteral(":/images/timeframe.png"), {424, 216, 154, 23});
  // Not stretched: a narrower bar shows the left part of the striped picture.
  image_timer = makepicture(board1, "image_timer", QStringLiteral(":/images/timebar.png"),
                            {425, 218, game::kTimeBarWidth, 19});
  image_timer->setProperty("Tag", game_.bartag());
  label_timer =
      look::makelabel(board1, "label_timer", QString::fromStdString(game_.timecaption()),
                      pixelfont(16, true), Qt::white, {427, 219, 87, 19}, Qt::AlignCenter);
  fitwidth(label_timer, QStringLiteral("Time: 0:00"));
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
  panel_wait = new TFlatPanel(panel_cleared);
  panel_wait->setObjectName(QStringLiteral("panel_wait"));
  panel_wait->setGeometry(27, 185, 288, 46);
  panel_wait->setColorHighLight(look::background);
  panel_wait->setColorShadow(look::background);
  panel_wait->setAlignment(Qt::AlignLeft);
  panel_wait->setFont(pixelfont(19));
  panel_wait->setFontColor(Qt::white);
  panel_wait->setCaption(QStringLiteral("Posting Score, Please Wait......"));
  panel_wait->hide();
}

// The board's cursor and keys, and what a screen reader is told of the board. Enter presses a
// panel's default button and Esc its cancelling one; the update panel's Enter is its Cancel: a
// stray Enter must never start replacing the program.
void Tmain::buildaccess() {
  auto button = [this](const char* name) {
    return findChild<QAbstractButton*>(QString::fromLatin1(name));
  };
  auto label = [this](const char* name) { return findChild<QLabel*>(QString::fromLatin1(name)); };
  keys_ = new BoardKeys(this, cursor_);
  TFlatPanel* panel_update = updateoffer_->panel_update;
  keys_->addpanel(panel_update, updateoffer_->button_updatecancel,
                  updateoffer_->button_updatecancel);
  keys_->addpanel(panel_name, button("button_namedone"), button("button_namecancel"), edit_aname);
  keys_->addpanel(panel_lost, nullptr, nullptr);
  keys_->addpanel(panel_invalid, button("image_ok"), button("image_ok"));
  keys_->addpanel(panel_cleared, nullptr, nullptr, edit_name);
  // While a score is posted, Esc is Cancel, and the buttons under the wait are out of reach.
  keys_->addpanel(panel_wait, nullptr, button("button_cancel"));
  // The panels' buttons are reached by Tab, and pressed by Space or Enter.
  for (QWidget* panel : {panel_update, panel_name, panel_lost, panel_invalid, panel_cleared}) {
    for (TImageButton* b : panel->findChildren<TImageButton*>()) b->setFocusPolicy(Qt::TabFocus);
  }
  connect(keys_, &BoardKeys::activated, this, &Tmain::cursorClick);

  access_ = new BoardAccess(game_, shape, this);
  access_->addnotice(panel_invalid, label_invalid);
  access_->addnotice(panel_lost, label("Label7"), label("label_lostreason"));
  access_->addnotice(panel_cleared, label("Label1"), label_score1);
  access_->addnotice(panel_update, label("Label15"), label("Label17"));
  label("Label5")->setBuddy(edit_aname);
  label("Label3")->setBuddy(edit_name);
  panel_board1->setAccessibleName(QStringLiteral("Board"));
  image_logo->setAccessibleName(QStringLiteral("Quorvel Software"));
  for (QWidget* unread :
       std::initializer_list<QWidget*>{Image2, shape_highlite, cursor_, Image1, image_timer})
    BoardAccess::hide(unread);
  for (int number = 1; number <= game::kBoneCount; ++number) BoardAccess::hide(bone[number]);
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
  StartGame1 = item(file, "StartGame1", QStringLiteral("&Start Game"));
  StartGame1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
  connect(StartGame1, &QAction::triggered, this, &Tmain::StartGame1Click);
  RestartDeal1 = item(file, "RestartDeal1", QStringLiteral("&Restart Deal"));
  RestartDeal1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
  connect(RestartDeal1, &QAction::triggered, this, &Tmain::RestartDeal1Click);
  ChooseDeal1 = item(file, "ChooseDeal1", QStringLiteral("&Choose Deal..."));
  ChooseDeal1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
  connect(ChooseDeal1, &QAction::triggered, this, &Tmain::ChooseDeal1Click);
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

  QMenu* view = bar->addMenu(QStringLiteral("&View"));
  view->setObjectName(QStringLiteral("View1"));
  connect(item(view, "TallyList1", QStringLiteral("&Tally List")), &QAction::triggered, this,
          &Tmain::TallyList1Click);
  connect(item(view, "ViewHighScoreList1", QStringLiteral("View High &Score List")),
          &QAction::triggered, this, &Tmain::ViewHighScoreList1Click);
  view->addSeparator();
  ShowSolution1 = item(view, "ShowSolution1", QStringLiteral("Show Sol&ution"));
  ShowSolution1->setEnabled(false);
  connect(ShowSolution1, &QAction::triggered, this, &Tmain::ShowSolution1Click);

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
  const QSize least(minclientwidth, minclientheight);
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
  if (keys_ && keys_->tab(next)) return true;
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
    savedleft_ = now.left();
    savedtop_ = now.top();
    savedwidth_ = now.width();
    savedheight_ = now.height();
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

void Tmain::ChangeName1Click() {
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
    } catch (...) {
      // A post that cannot even be started fails the way a lost one does: by the countdown.
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
  if (sounds_ && playsoundson()) sounds_->play(name);
}

void Tmain::createbone(int slot, int number) {
  TBone* b = bone[number];
  // The bone covers its slot exactly, at whatever size the board is drawn.
  b->setGeometry(shape[slot]->geometry());
  b->settag(number);

  // At the pictures' own density: twice as many pixels where they are the 2x ones.
  const qreal ratio = imagelist_back_h.devicePixelRatio();
  QPixmap picture(QSize(game::kSlotWidth, game::kSlotHeight) * ratio);
  picture.setDevicePixelRatio(ratio);
  picture.fill(Qt::transparent);
  {
    QPainter p(&picture);
    p.drawPixmap(0, 0, imagelist_back_h);
    p.drawPixmap(2, 3, imagelist_dots_h[game::gettopnum(number)]);
    p.drawPixmap(35, 2, imagelist_dots_h[game::getbotnum(number)]);
  }
  b->setpicture(picture);
}

void Tmain::button_startClick() {
  updateoffer_->startgame();
  startdeal(random_.drawdeal());
}

void Tmain::startdeal(int dealnumber) {
  solutiontimer->stop();
  replayshown_ = false;
  replaypanel_ = nullptr;
  dealsolver_->abandon();
  shape_highlite->hide();
  for (int number = 1; number <= game::kBoneCount; ++number) {
    bone[number]->clearpicture();
    bone[number]->settag(0);
  }
  panel_wait->hide();
  panel_lost->hide();
  panel_name->hide();
  panel_cleared->hide();
  if (tally_) tally_->addtomineincrease(1);

  const std::vector<game::Placement> deal = game_.start(dealnumber);
  showdeal();
  showscore();
  image_timer->setProperty("Tag", game_.bartag());
  playsounds(QString::fromLatin1(game::cuename(game::Cue::startgame)));
  label_name->setText(QStringLiteral("Good Luck ") + edit_name->text());
  for (const game::Placement& placement : deal) createbone(placement.slot, placement.bone);
  // Normally running already; starting it again would shift its beat.
  if (!turntimer->isActive()) turntimer->start();
  keys_->newgame();
  showaccess();
}

void Tmain::loadimagelists(qreal density) {
  imagelist_back_h = resourcepicture(QStringLiteral(":/images/boneface.png"), density);
  for (int k = 0; k < int(imagelist_dots_h.size()); ++k) {
    imagelist_dots_h[k] = resourcepicture(QStringLiteral(":/images/dots_%1.png").arg(k), density);
  }
}

// The board has been laid out at a new scale: the bones are drawn again from the pictures for
// that many device pixels, and what is placed by hand is placed again.
void Tmain::boardrescaled() {
  loadimagelists(devicePixelRatioF() * scale_->scale());
  showboard();
  cursor_->place();
}

void Tmain::showboard() {
  for (int number = 1; number <= game::kBoneCount; ++number) {
    const int slot = game::slotof(shownboard(), number);
    if (slot != 0) {
      createbone(slot, number);
    } else {
      bone[number]->clearpicture();
      bone[number]->settag(0);
    }
  }
  showselection();
  showscore();
  showclock();
}

void Tmain::resetslotcolours() {
  for (int slot = 1; slot <= game::kSlotCount; ++slot) shape[slot]->setColor(Qt::black);
}

void Tmain::bone_1MouseUp(TBone* sender) {
  resetslotcolours();
  showoutcome(game_.clickbone(sender->tag(), showhintson()));
}

void Tmain::shape_1MouseUp(TShape* sender) {
  resetslotcolours();
  showoutcome(game_.clickslot(sender->tag()));
}

// Only the rim of the highlight shows around the selected bone, which lies above it; a click
// there is meant for that bone. Taking it as a click on a slot would put a bone where the board
// does not have it.
void Tmain::shape_highliteMouseUp() {
  const int selected = game_.selectedbone();
  if (selected != 0 && bone[selected]->tag() == selected) {
    bone_1MouseUp(bone[selected]);
  } else {
    resetslotcolours();
  }
}

void Tmain::cursorClick(int slot) {
  const int number = game::boneat(game_.board(), slot);
  if (number != 0 && bone[number]->tag() == number) {
    bone_1MouseUp(bone[number]);
  } else {
    shape_1MouseUp(shape[slot]);
  }
}

void Tmain::showoutcome(const game::Outcome& outcome) {
  if (!outcome.acted) return;
  for (int slot : outcome.hints) {
    if (slot >= 1 && slot <= game::kSlotCount) shape[slot]->setColor(maroon);
  }
  if (!outcome.refusal.empty()) {
    label_invalid->setText(QString::fromStdString(outcome.refusal));
    panel_invalid->show();
    access_->announce(panel_invalid);
  }
  if (outcome.movedbone != 0) {
    // Whatever was being solved was for the board before.
    dealsolver_->abandon();
    bone[outcome.movedbone]->move(shape[outcome.toslot]->pos());
  }
  showselection();
  showscore();
  endgame(outcome.ending);
  for (game::Cue cue : outcome.cues) playsounds(QString::fromLatin1(game::cuename(cue)));
}

void Tmain::showselection() {
  showaccess();
  const int selected = game_.selectedbone();
  // A bone the game left selected is not where Show Solution's board has it.
  if (selected == 0 || bone[selected]->tag() != selected || replayshown_) {
    shape_highlite->hide();
    return;
  }
  TBone* b = bone[selected];
  const int rim = scale_->px(2);
  shape_highlite->move(b->x() - rim, b->y() - rim);
  shape_highlite->show();
  // Above the highlight and the other bones, still below the time bar and the panels.
  b->stackUnder(Image1);
}

void Tmain::showscore() {
  label_score->setText(QString::fromStdString(game_.scorecaption()));
  label_score->setProperty("Tag", game_.clicksleft());
  fitwidth(label_score, QStringLiteral("Clicks: 100"));
}

void Tmain::showclock() {
  label_timer->setText(QString::fromStdString(game_.timecaption()));
  look::settextcolor(label_timer, game_.timewarning() ? maroon : QColor(Qt::white));
  image_timer->setProperty("Tag", game_.bartag());
  image_timer->resize(scale_->px(game_.barwidth()), image_timer->height());
}

void Tmain::endgame(game::Ending ending) {
  if (ending != game::Ending::none) {
    // Once the game is over, what the deal allowed; a deal played again is already known.
    if (best_ && bestdeal_ == game_.dealnumber()) {
      showdeal();
    } else {
      dealsolver_->solve(game_.dealnumber());
    }
  }
  switch (ending) {
    case game::Ending::none:
      return;
    case game::Ending::lost:
      panel_lost->findChild<QLabel*>(QStringLiteral("label_lostreason"))
          ->setText(QString::fromStdString(game::lossreasontext(game_.loss())));
      panel_lost->show();
      return;
    case game::Ending::won:
      label_unusedbonus->setText(QStringLiteral("Unsused Click Bonus: ") +
                                 QString::number(game_.clickbonus()));
      label_timebonus->setText(QStringLiteral("Time Bonus: ") + QString::number(game_.timebonus()));
      label_score->setProperty("Tag", game_.score());
      label_score1->setText(QStringLiteral("Score: ") + QString::number(game_.score()));
      panel_cleared->show();
      if (tally_) {
        tally_->addtomineincrease(2);
        tally_->checkscore(game_.score(), edit_name->text());
      }
      return;
  }
}

void Tmain::turntimerTimer() {
  const game::Outcome outcome = game_.tick();
  if (!outcome.acted) return;
  showclock();
  endgame(outcome.ending);
  for (game::Cue cue : outcome.cues) playsounds(QString::fromLatin1(game::cuename(cue)));
}

// ---- Numbered deals ----------------------------------------------------------------------

void Tmain::RestartDeal1Click() {
  startdeal(game_.dealnumber() > 0 ? game_.dealnumber() : random_.drawdeal());
}

void Tmain::playdealoftheday() {
  startdeal(game::dailydeal(std::chrono::system_clock::now()));
}

void Tmain::ChooseDeal1Click() {
  if (!choosedeal_) {
    choosedeal_ = new Tchoosedeal(this);
    connect(choosedeal_, &Tchoosedeal::chosen, this, &Tmain::startdeal);
  }
  choosedeal_->ask(game_.dealnumber());
}

void Tmain::dealsolved(int deal, const game::Solution& solution) {
  if (deal != game_.dealnumber()) return;
  bestdeal_ = deal;
  best_ = solution;
  showdeal();
}

void Tmain::showdeal() {
  const int deal = game_.dealnumber();
  const bool known = deal > 0 && best_ && bestdeal_ == deal && !game_.gamerunning();
  QString text = deal > 0 ? QStringLiteral("Deal %1").arg(deal) : QString();
  if (known) {
    text += best_->solved ? QStringLiteral("  \u00b7  Best for this deal: %1 clicks")
                                .arg(best_->placements.size())
                          : QStringLiteral("  \u00b7  This deal cannot be sorted");
  }
  label_deal->setText(text);
  // Smaller type where the desktop's font runs wide, rather than text cut off; as large as the
  // board is drawn now, like every other text on it.
  for (int pixels = 13; pixels >= 9; --pixels) {
    label_deal->setFont(pixelfont(scale_->px(pixels)));
    if (QFontMetrics(label_deal->font()).horizontalAdvance(text) <= label_deal->width() - 2) break;
  }
  ShowSolution1->setEnabled(known && best_->solved && !best_->placements.empty());
}

// Plays the best line from the deal's first board, on the pictures only: the game, its clicks
// and score, the tally and the top ten stay as the game left them.
void Tmain::ShowSolution1Click() {
  if (!ShowSolution1->isEnabled()) return;
  if (panel_cleared->isVisible()) replaypanel_ = panel_cleared;
  if (panel_lost->isVisible()) replaypanel_ = panel_lost;
  panel_lost->hide();
  panel_cleared->hide();
  shape_highlite->hide();
  // The keyboard's frame belongs to the game's board, not to the one being played back.
  cursor_->setshown(false);
  resetslotcolours();
  replayboard_ = game::dealboard(bestdeal_);
  replayshown_ = true;
  for (int number = 1; number <= game::kBoneCount; ++number) {
    createbone(game::slotof(replayboard_, number), number);
  }
  showaccess();
  replaystep_ = 0;
  solutiontimer->start();
}

void Tmain::solutiontimerTimer() {
  if (!best_ || replaystep_ >= best_->placements.size()) {
    endreplay();
    return;
  }
  const game::Placement placement = best_->placements[replaystep_++];
  game::clearbone(replayboard_, placement.bone);
  const game::Point target = game::getcoords(placement.slot);
  replayboard_[target.x][target.y] = placement.bone;
  bone[placement.bone]->move(shape[placement.slot]->pos());
  showaccess();
  if (replaystep_ == best_->placements.size()) endreplay();
}

void Tmain::endreplay() {
  solutiontimer->stop();
  if (!replaypanel_) return;
  replaypanel_->show();
  replaypanel_->raise();
  if (replaypanel_ == panel_cleared) edit_name->setFocus();
}

const game::Board& Tmain::shownboard() const {
  return replayshown_ ? replayboard_ : game_.board();
}

void Tmain::showaccess() {
  if (replayshown_) {
    access_->update(replayboard_, 0);
  } else {
    access_->update();
  }
}

// ---- Update check ------------------------------------------------------------------------

// Asking for the version loads the network library and starts a thread, and the sound output is
// looked for: none of it needs to hold up the window's first appearance.
void Tmain::FormShow() {
  if (sounds_) sounds_->prepare();
  // Where the program cannot replace itself, its package manager updates it: nothing to offer.
  if (!updatecheckon() || !updateoffer_->canoffer()) return;
  removeleftoverdownloads(programfile(), installerfile_);
  checkupdate->setURL(versionaddress(updateserver_));
  checkupdate->StartFetch();
}

void Tmain::checkupdateDoneString(THTTPGet*, const QByteArray& result) {
  updateoffer_->checkupdateDoneString(result);
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
