#include "shell/coachview.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QRegularExpression>

#include "controls/flatpanel.h"
#include "controls/look.h"
#include "shell/boardparts.h"
#include "shell/boardview.h"
#include "shell/dealsolver.h"

namespace {

// The line is narrow and wraps: a number left at the start of a line under its "row" or
// "column" reads as the start of something else, so the two are kept on one line.
QString keeptogether(const QString& text) {
  static const QRegularExpression joint(QStringLiteral("\\b(row|column) (?=\\d)"));
  QString kept = text;
  return kept.replace(joint, QStringLiteral("\\1\u00a0"));
}

}  // namespace

CoachView::CoachView(BoardView* view, DealSolver* solver, const game::Game& game, QMenu* menu,
                     QObject* parent)
    : QObject(parent), view_(view), solver_(solver), game_(game) {
  // Right of the rows that end short of the board's edge, above the score; clear of where the
  // overlay panels open, so the end of a game does not hide what is said of it.
  line_ = look::makelabel(view_->area(), "label_coach", QString(), pixelfont(11), look::lilac,
                          {462, 126, 122, 64}, Qt::AlignRight | Qt::AlignTop);
  line_->setWordWrap(true);
  line_->hide();
  view_->putbeneathbones(line_);
  // Named by its own text, and spoken as it appears.
  view_->addnotice(line_, line_);

  QWidget* window = view_->window();
  bestmove_ = menu->addAction(QStringLiteral("&Best Move"));
  bestmove_->setObjectName(QStringLiteral("bestmove"));
  bestmove_->setParent(window);
  // A text box takes the letters typed into it before any shortcut sees them: H types an h in
  // the name boxes and only reaches this command from the board.
  bestmove_->setShortcut(QKeySequence(Qt::Key_H));
  bestmove_->setEnabled(false);
  connect(bestmove_, &QAction::triggered, this, &CoachView::bestmove);

  showwinnable_ = menu->addAction(QStringLiteral("Show &Winnable"));
  showwinnable_->setObjectName(QStringLiteral("showwinnable"));
  showwinnable_->setParent(window);
  showwinnable_->setCheckable(true);
  connect(showwinnable_, &QAction::toggled, this, [this](bool on) {
    if (!on) {
      setwinnable(QString());
      return;
    }
    if (answered_ && *answered_ == now() && playing()) {
      boardsolved(answered_->board, answered_->clicks, answer_);
    } else {
      ask();
    }
  });

  connect(solver_, &DealSolver::boardsolved, this, &CoachView::boardsolved);
  connect(solver_, &DealSolver::analysed, this, &CoachView::analysed);
}

CoachView::Position CoachView::now() const {
  return {game_.board(), game_.clicksleft()};
}

bool CoachView::playing() const {
  return game_.gamerunning();
}

bool CoachView::winnableon() const {
  return showwinnable_->isChecked();
}

void CoachView::setwinnableon(bool on) {
  showwinnable_->setChecked(on);
}

void CoachView::boardchanged() {
  // The window has already dropped every search for the board before; this drops what the coach
  // kept of it.
  asked_.reset();
  answered_.reset();
  bestwanted_ = false;
  analysing_ = false;
  say(QString());
  setwinnable(QString());
  bestmove_->setEnabled(playing());
  if (winnableon()) ask();
}

void CoachView::gameended() {
  solver_->dropboards();
  asked_.reset();
  answered_.reset();
  bestwanted_ = false;
  bestmove_->setEnabled(false);
  setwinnable(QString());
  say(QString());
  analysing_ = true;
  solver_->analyse(game_);
}

void CoachView::bestmove() {
  if (!playing()) return;
  if (answered_ && *answered_ == now()) {
    showbest(answer_);
    return;
  }
  bestwanted_ = true;
  ask();
}

void CoachView::ask() {
  if (!playing()) return;
  const Position position = now();
  if (asked_ && *asked_ == position) return;
  asked_ = position;
  solver_->solveboard(position.board, position.clicks);
}

void CoachView::boardsolved(const game::Board& board, int clicksleft,
                            const game::Solution& solution) {
  // Only what is about the board on show now: the game may have gone on since the question.
  const Position position{board, clicksleft};
  if (!playing() || position != now() || !solution.proven) return;
  asked_.reset();
  answered_ = position;
  answer_ = solution;
  if (winnableon()) {
    setwinnable(solution.solved
                    ? QStringLiteral("Best from here: %1").arg(solution.placements.size())
                    : QStringLiteral("No win left"));
  }
  if (bestwanted_) {
    bestwanted_ = false;
    showbest(solution);
  }
}

void CoachView::showbest(const game::Solution& solution) {
  if (!solution.solved) {
    say(QStringLiteral("No win is left from here."));
    return;
  }
  // A board already sorted has ended its game, so a line found while one runs has a first step.
  if (solution.placements.empty()) return;
  const game::Placement first = solution.placements.front();
  emit pickup(first.bone);
  view_->resetslotcolours();
  view_->showhints({first.slot});
  say(QStringLiteral("Best move: %1.").arg(QString::fromStdString(game::placementtext(first))));
}

void CoachView::analysed(const game::GameAnalysis& analysis) {
  if (!analysing_ || playing()) return;
  analysing_ = false;
  say(QString::fromStdString(game::analysistext(analysis, game_.ending())));
}

void CoachView::setwinnable(const QString& text) {
  if (winnable_ == text) return;
  winnable_ = text;
  emit winnablechanged();
}

void CoachView::say(const QString& text) {
  // Shown anew, so a reader hears each new text as the notice it is, the same one twice too.
  line_->hide();
  line_->setText(keeptogether(text));
  if (!text.isEmpty()) line_->show();
}
