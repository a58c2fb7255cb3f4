// Taking a placement back: Options > Allow Undo, Options > Undo Move (Ctrl+Z), and the Undo
// button the lost panel offers when a game was lost by leaving no move. The rule itself, what an
// undo restores and what it costs, is game::Game::undo(); here it is only asked for and shown.

#include <QAction>
#include <QMenu>

#include "controls/flatpanel.h"
#include "controls/imagebutton.h"
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

// No picture of its own: the button's plain face with its caption drawn, which a screen reader
// reads by the caption as it reads the picture buttons.
void Tmain::buildundobutton(TFlatPanel* panel) {
  undobutton_ = new TImageButton(QString(), QStringLiteral("Undo"), panel);
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
