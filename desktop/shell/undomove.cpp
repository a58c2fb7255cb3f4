// Taking a placement back: Options > Allow Undo, Options > Undo Move (Ctrl+Z), and the Undo
// button the lost panel offers when a game was lost by leaving no move. The rule itself, what an
// undo restores and what it costs, is game::Game::undo(); here it is only asked for and shown.

#include <algorithm>

#include <QAction>
#include <QImage>
#include <QMenu>
#include <QPainter>

#include "controls/flatpanel.h"
#include "controls/imagebutton.h"
#include "resources/resources.h"
#include "shell/boardparts.h"
#include "shell/boardview.h"
#include "shell/dealsolver.h"
#include "shell/mainform.h"
#include "shell/solutionreplay.h"

namespace {

// The lost panel as buildpanels lays it out, and the room the Undo button takes under its
// buttons when it is offered.
constexpr int lostpaneltop = 64;
constexpr int lostpanelheight = 105;
constexpr int undopanelheight = 150;
constexpr int undobuttonleft = 98;
constexpr int undobuttontop = 97;

// The art the Undo face is made from: a button of the same size whose caption sits well inside
// the middle three fifths of its face.
const QString faceart = QStringLiteral(":/images/button_done.png");
const QColor captioncolour(0xF4, 0xF4, 0xFF);

// There is no picture of an Undo button, and the plain stand-in face of a missing picture, beside
// Start Game and Done, looked like one missing. So the face is Done's picture with its caption
// painted out: each row of the middle three fifths takes the colour the row has left of the
// caption, which keeps the border, the shading and the light band of the picture, at the size and
// pixel ratio it is drawn at; the caption is then drawn as text.
class UndoButton : public TImageButton {
 public:
  explicit UndoButton(QWidget* parent) : TImageButton(QString(), QStringLiteral("Undo"), parent) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    const QRect face = faceplace();
    p.drawPixmap(face.topLeft(), blankface(paintratio(p)));
    p.setFont(font());
    p.setPen(isEnabled() ? captioncolour : captioncolour.darker(160));
    p.drawText(face, Qt::AlignCenter | Qt::TextSingleLine, text());
    drawstate(p, face);
  }

 private:
  // Made again only when the size or the ratio drawn at changes.
  QPixmap blankface(qreal ratio) {
    if (!face_.isNull() && facesize_ == size() && faceratio_ == ratio) return face_;
    QImage art =
        resourcepicture(faceart, size(), ratio).toImage().convertToFormat(QImage::Format_ARGB32);
    const int from = art.width() / 5;
    const int to = art.width() - from;
    for (int y = 0; y < art.height(); ++y) {
      auto* line = reinterpret_cast<QRgb*>(art.scanLine(y));
      std::fill(line + from, line + to, line[from]);
    }
    face_ = QPixmap::fromImage(art);
    face_.setDevicePixelRatio(ratio);
    facesize_ = size();
    faceratio_ = ratio;
    return face_;
  }

  QPixmap face_;
  QSize facesize_;
  qreal faceratio_ = 0;
};

}  // namespace

void Tmain::buildundo(QMenu* options) {
  allowundo_ = options->addAction(QStringLiteral("Allow &Undo"));
  allowundo_->setObjectName(QStringLiteral("allowundo"));
  allowundo_->setParent(this);
  allowundo_->setCheckable(true);
  allowundo_->setChecked(false);
  connect(allowundo_, &QAction::triggered, this, &Tmain::allowundotoggled);
  // Enabled with the option only, so with it off Ctrl+Z does nothing at all.
  undomove_ = options->addAction(QStringLiteral("Undo &Move"));
  undomove_->setObjectName(QStringLiteral("undomove"));
  undomove_->setParent(this);
  undomove_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
  undomove_->setEnabled(false);
  connect(undomove_, &QAction::triggered, this, &Tmain::undomove);
  connect(allowundo_, &QAction::toggled, undomove_, &QAction::setEnabled);
}

// Drawn on the face of the panel's other buttons with its caption as text; a screen reader reads
// it by the caption as it reads the picture buttons.
void Tmain::buildundobutton(TFlatPanel* panel) {
  undobutton_ = new UndoButton(panel);
  undobutton_->setObjectName(QStringLiteral("button_undo"));
  undobutton_->move(undobuttonleft, undobuttontop);
  undobutton_->setFont(pixelfont(17, true));
  undobutton_->hide();
  connect(undobutton_, &QAbstractButton::clicked, this, &Tmain::undomove);
}

bool Tmain::allowundoon() const {
  return allowundo_->isChecked();
}

void Tmain::allowundotoggled() {
  saveinifile();
  // The option turned off under an open lost panel would leave an Undo there that does nothing,
  // and turned on, Ctrl+Z would take the game up with no Undo offered: the panel follows it.
  if (panel_lost->isVisible()) offerundo();
}

// The panel grows by the button's row only while it offers it; otherwise it is laid out as ever.
// Sized in the board's present scale, as the scale itself would size it, so that it comes back
// to its designed height exactly.
void Tmain::offerundo() {
  const bool offer = allowundoon() && game_.loss().cause == game::Loss::nomoves && game_.canundo();
  const int height = offer ? undopanelheight : lostpanelheight;
  panel_lost->resize(panel_lost->width(),
                     view_->px(lostpaneltop + height) - view_->px(lostpaneltop));
  undobutton_->setVisible(offer);
}

void Tmain::undomove() {
  if (!allowundoon()) return;
  const bool lost = game_.ending() == game::Ending::lost;
  view_->resetslotcolours();
  const game::Outcome outcome = game_.undo();
  if (outcome.undone && lost) {
    // Taken up again: the same game plays on, so the tally does not count it a second time.
    replay_->reset();
    panel_lost->hide();
    undobutton_->hide();
    showdeal();
  }
  showoutcome(outcome);
}
