#include "shell/boardview.h"

#include <QLabel>
#include <QPainter>

#include "controls/accessible.h"
#include "controls/flatpanel.h"
#include "controls/look.h"
#include "game/game.h"
#include "resources/resources.h"
#include "shell/boardaccess.h"
#include "shell/boardcursor.h"
#include "shell/boardparts.h"
#include "shell/boardscale.h"

namespace {

const QColor maroon(0x80, 0x00, 0x00);
const QColor highlightcolor(0xBB, 0x00, 0x00);

QLabel* makepicture(QWidget* parent, const char* name, const QString& image, const QRect& place) {
  auto* picture = new QLabel(parent);
  picture->setObjectName(QString::fromLatin1(name));
  picture->setGeometry(place);
  picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  picture->setPixmap(resourcepicture(image));
  picture->setProperty(picturepathproperty, image);
  return picture;
}

QRect torect(const game::Rect& rect) {
  return {rect.left, rect.top, rect.width, rect.height};
}

}  // namespace

BoardView::BoardView(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("client"));
  setAutoFillBackground(true);

  loadimagelists(devicePixelRatioF());

  frame_ = new TFlatPanel(this);
  frame_->setObjectName(QStringLiteral("panel_board"));
  frame_->setGeometry(2, 2, 593, 325);
  frame_->setTransparent(true);
  frame_->setColorHighLight(look::background);
  frame_->setColorShadow(look::background);

  area_ = new TFlatPanel(frame_);
  area_->setObjectName(QStringLiteral("panel_board1"));
  area_->setGeometry(1, 34, 588, 287);
  area_->setTransparent(true);
  area_->setColorHighLight(Qt::black);
  area_->setColorShadow(Qt::black);

  // Laid out for the smallest client area; a larger one draws the board larger.
  scale_ = new BoardScale(this, frame_, {designwidth, designheight});
  connect(scale_, &BoardScale::scalechanged, this, &BoardView::boardrescaled);

  buildboard();
  buildaccess();
}

// Children stack in the order they are made, the last on top: the guide and the slots at the
// bottom, the bones above them, the highlight, the cursor and the time bar above the bones; what
// the owner adds to the area afterwards (its overlay panels) lies over everything.
void BoardView::buildboard() {
  Image2 = makepicture(area_, "Image2", QStringLiteral(":/images/guide.png"), {6, 6, 69, 277});

  for (int slot = 1; slot <= game::kSlotCount; ++slot) {
    auto* s = new TShape(slot, 1, Qt::black, area_);
    s->setObjectName(QStringLiteral("shape_%1").arg(slot));
    s->setGeometry(torect(game::slotrect(slot)));
    connect(s, &TShape::released, this, &BoardView::slotclicked);
    shape[slot] = s;
  }

  for (int number = 1; number <= game::kBoneCount; ++number) {
    auto* b = new TBone(number, area_);
    b->setObjectName(QStringLiteral("bone_%1").arg(number));
    b->resize(game::kSlotWidth, game::kSlotHeight);
    connect(b, &TBone::released, this, &BoardView::boneclicked);
    bone[number] = b;
  }

  shape_highlite = new TShape(game::kSlotCount, 2, highlightcolor, area_);
  shape_highlite->setObjectName(QStringLiteral("shape_highlite"));
  shape_highlite->setGeometry(502, 47, 70, 38);
  shape_highlite->hide();
  connect(shape_highlite, &TShape::released, this, &BoardView::highlitereleased);
  // Above the bones and the highlight, below the time bar and the panels.
  cursor_ = new BoardCursor(shape);

  Image1 =
      makepicture(area_, "Image1", QStringLiteral(":/images/timeframe.png"), {424, 216, 154, 23});
  // Not stretched: a narrower bar shows the left part of the striped picture.
  image_timer = makepicture(area_, "image_timer", QStringLiteral(":/images/timebar.png"),
                            {425, 218, game::kTimeBarWidth, 19});
  label_timer = look::makelabel(area_, "label_timer", QString(), pixelfont(16, true), Qt::white,
                                {427, 219, 87, 19}, Qt::AlignCenter);
  fitwidth(label_timer, QStringLiteral("Time: 0:00"));
  // The clock of a game not yet started.
  showclock(game::Game());
}

// The keys are the window's: a key pressed anywhere in it that no text box takes reaches the
// board. The bone pictures, the highlight, the cursor's frame and the decorative pictures only
// repeat what the slots tell a screen reader.
void BoardView::buildaccess() {
  keys_ = new BoardKeys(window(), cursor_);
  connect(keys_, &BoardKeys::activated, this, &BoardView::activated);

  access_ = new BoardAccess(shape, this);
  // Only the window's client area: a group of its own, named for the window's one use.
  accessible::setrole(this, QAccessible::Grouping);
  setAccessibleName(QStringLiteral("Pipshift"));
  area_->setAccessibleName(QStringLiteral("Board"));
  for (QWidget* unread :
       std::initializer_list<QWidget*>{Image2, shape_highlite, cursor_, Image1, image_timer})
    BoardAccess::hide(unread);
  for (int number = 1; number <= game::kBoneCount; ++number) BoardAccess::hide(bone[number]);
  BoardAccess::quiet(label_timer);
}

void BoardView::putbeneathbones(QWidget* widget) {
  widget->stackUnder(bone[1]);
}

void BoardView::loadimagelists(qreal density) {
  imagelist_back_h = resourcepicture(QStringLiteral(":/images/boneface.png"), density);
  for (int k = 0; k < int(imagelist_dots_h.size()); ++k) {
    imagelist_dots_h[k] = resourcepicture(QStringLiteral(":/images/dots_%1.png").arg(k), density);
  }
}

int BoardView::px(int length) const {
  return scale_->px(length);
}

// ---- Drawing --------------------------------------------------------------------------------

void BoardView::createbone(int slot, int number) {
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

void BoardView::clearbone(int number) {
  bone[number]->clearpicture();
  bone[number]->settag(0);
}

void BoardView::clearbones() {
  shape_highlite->hide();
  for (int number = 1; number <= game::kBoneCount; ++number) clearbone(number);
  board_ = {};
  selected_ = 0;
  // A new board: nothing picked up is let go.
  access_->update(board_, selected_);
}

void BoardView::showboard(const game::Board& board, int selectedbone) {
  board_ = board;
  selected_ = selectedbone;
  for (int number = 1; number <= game::kBoneCount; ++number) {
    const int slot = game::slotof(board_, number);
    if (slot == 0) {
      clearbone(number);
    } else if (bone[number]->tag() != number) {
      createbone(slot, number);
    } else if (bone[number]->pos() != shape[slot]->pos()) {
      // A bone moving during play keeps its picture.
      bone[number]->move(shape[slot]->pos());
    }
  }
  showselection();
}

void BoardView::showselection() {
  access_->update(board_, selected_);
  if (selected_ == 0 || bone[selected_]->tag() != selected_) {
    shape_highlite->hide();
    return;
  }
  TBone* b = bone[selected_];
  const int rim = scale_->px(2);
  shape_highlite->move(b->x() - rim, b->y() - rim);
  shape_highlite->show();
  // Above the highlight and the other bones, still below the time bar and the panels.
  b->stackUnder(Image1);
}

void BoardView::showhints(const std::vector<int>& marked) {
  for (int slot : marked) {
    if (slot >= 1 && slot <= game::kSlotCount) shape[slot]->setColor(maroon);
  }
}

void BoardView::resetslotcolours() {
  for (int slot = 1; slot <= game::kSlotCount; ++slot) shape[slot]->setColor(Qt::black);
}

void BoardView::showclock(const game::Game& game) {
  label_timer->setText(QString::fromStdString(game.timecaption()));
  look::settextcolor(label_timer, game.timewarning() ? maroon : QColor(Qt::white));
  // The end of the time is said by the lost panel; the warning only while there is time left.
  const bool warning = game.timeleft() > 0 && game.timeleft() < game::kWarningSeconds;
  if (warning && !warned_ && access_) access_->say(clockwarning());
  warned_ = warning;
  settimetag(game.bartag());
  barwidth_ = game.barwidth();
  image_timer->resize(scale_->px(barwidth_), image_timer->height());
}

QString BoardView::clockwarning() {
  return QStringLiteral("Less than %1 seconds left").arg(game::kWarningSeconds);
}

void BoardView::settimetag(int tag) {
  image_timer->setProperty("Tag", tag);
}

// The board has been laid out at a new scale: the bones are drawn again from the pictures for
// that many device pixels, and what is placed by hand is placed again.
void BoardView::boardrescaled() {
  loadimagelists(devicePixelRatioF() * scale_->scale());
  for (int number = 1; number <= game::kBoneCount; ++number) {
    const int slot = game::slotof(board_, number);
    if (slot != 0 && bone[number]->tag() == number) createbone(slot, number);
  }
  showselection();
  image_timer->resize(scale_->px(barwidth_), image_timer->height());
  cursor_->place();
  emit rescaled();
}

// ---- What the player does --------------------------------------------------------------------

// Only the rim of the highlight shows around the selected bone, which lies above it; a click
// there is meant for that bone. Taking it as a click on a slot would put a bone where the board
// does not have it.
void BoardView::highlitereleased() {
  if (selected_ != 0 && bone[selected_]->tag() == selected_) {
    emit boneclicked(bone[selected_]);
  } else {
    resetslotcolours();
  }
}

void BoardView::activated(int slot) {
  const int number = game::boneat(board_, slot);
  if (number != 0 && bone[number]->tag() == number) {
    emit boneclicked(bone[number]);
  } else {
    emit slotclicked(shape[slot]);
  }
}

// ---- Keys and readers ------------------------------------------------------------------------

void BoardView::newgame() {
  keys_->newgame();
  // A new game's clock may warn again.
  warned_ = false;
}

void BoardView::hidecursor() {
  cursor_->setshown(false);
}

void BoardView::addpanel(QWidget* panel, QAbstractButton* enter, QAbstractButton* escape,
                         QWidget* focus) {
  keys_->addpanel(panel, enter, escape, focus);
}

bool BoardView::tab(bool next) {
  return keys_->tab(next);
}

void BoardView::addnotice(QWidget* panel, QLabel* title, QLabel* detail) {
  access_->addnotice(panel, title, detail);
}

void BoardView::announce(QWidget* panel) {
  access_->announce(panel);
}

void BoardView::announce(const QString& text) {
  access_->say(text);
}
