#include "shell/updateoffer.h"

#include <QLabel>

#include "controls/flatpanel.h"
#include "controls/imagebutton.h"
#include "controls/look.h"
#include "online/updatecheck.h"

namespace {

const QColor statuscolor(0xBF, 0xC0, 0xDD);

QFont pixelfont(int pixels, bool bold = false) {
  QFont font = look::makefont(QStringLiteral("Sans Serif"), pixels, bold);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

}  // namespace

UpdatePanel::UpdatePanel(QWidget* board, const ButtonMaker& makebutton, Setup setup,
                         QObject* parent)
    : QObject(parent), setup_(std::move(setup)) {
  panel_update = makeoverlay(board, "panel_update", {125, 16, 329, 161});
  look::makelabel(panel_update, "Label15", QStringLiteral("Update Available"), pixelfont(19, true),
                  look::lilac, {-1, 10, 327, 24}, Qt::AlignHCenter | Qt::AlignTop);
  look::makelabel(panel_update, "Label17", QStringLiteral("Would you like to update now?"),
                  pixelfont(16, true), look::lilac, {2, 47, 327, 24},
                  Qt::AlignHCenter | Qt::AlignTop);
  button_updateyes =
      makebutton(panel_update, "button_updateyes", QStringLiteral(":/images/button_ok.png"),
                 QStringLiteral("OK"), 27, 90);
  connect(button_updateyes, &QAbstractButton::clicked, this, &UpdatePanel::button_updateyesClick);
  button_updatecancel =
      makebutton(panel_update, "button_updatecancel", QStringLiteral(":/images/button_cancel.png"),
                 QStringLiteral("Cancel"), 171, 90);
  connect(button_updatecancel, &QAbstractButton::clicked, this,
          &UpdatePanel::button_updatecancelClick);
  // The status line sits along the bottom edge, inside the frame.
  label_update = look::makelabel(panel_update, "label_update", QString(), pixelfont(16, false),
                                 statuscolor, {1, 140, 327, 20}, Qt::AlignCenter);
}

UpdatePanel::~UpdatePanel() = default;

bool UpdatePanel::canoffer() const {
  return canupdate(setup_.programfile);
}

Tupdater* UpdatePanel::updater() {
  if (updater_) return updater_;
  updater_ = new Tupdater(setup_.programfile, setup_.updateserver(), setup_.siteaddress, this);
  updater_->setinstallerfile(setup_.installerfile());
  connect(updater_, &Tupdater::statuschanged, label_update, &QLabel::setText);
  // What this run has gained is written before the installer starts, so the two never write
  // the folder at once.
  if (setup_.save) updater_->setsavehook(setup_.save);
  if (setup_.message) updater_->setmessagehook(setup_.message);
  if (setup_.exit) updater_->setexithook(setup_.exit);
  if (!setup_.publickey.isEmpty()) updater_->setpublickey(setup_.publickey);
  return updater_;
}

void UpdatePanel::checkupdateDoneString(const QByteArray& result, int status) {
  // An error page is a failure whatever its body says: a 404 or 500 whose text happens to read
  // as a newer version offers nothing.
  if (status < 200 || status > 299) return;
  if (!setup_.version || panel_update->isVisible() || !canoffer()) return;
  Tupdater* run = updater();
  if (run->running()) return;
  // Only a release the maker signed for exactly this newer version is offered: an older one
  // replayed under a new number, an error page or a text of any other kind offers nothing.
  if (!run->askrelease(result, setup_.version())) return;
  offer(*run->release());
}

void UpdatePanel::offer(const manifest::Release& release) {
  updater()->setrelease(release);
  label_update->clear();
  button_updateyes->show();
  button_updatecancel->show();
  panel_update->show();
  panel_update->raise();
}

void UpdatePanel::button_updatecancelClick() {
  if (updater_ && updater_->running()) return;
  panel_update->hide();
}

void UpdatePanel::button_updateyesClick() {
  button_updateyes->hide();
  button_updatecancel->hide();
  label_update->setText(QStringLiteral("Updating. Please Wait..."));
  try {
    updater()->update();
  } catch (...) {
    // The program file still has its name; the player can carry on and try again later.
    label_update->setText(QStringLiteral("Download Aborted"));
  }
  // Still here: the program was not replaced. The panel can be closed, and the next start asks
  // again.
  aborted();
}

void UpdatePanel::aborted() {
  if (label_update->text() != QLatin1String("Download Aborted")) return;
  button_updatecancel->show();
  button_updatecancel->raise();
}

void UpdatePanel::startgame() {
  if (updater_ && updater_->running()) return;
  if (!button_updateyes->isHidden()) return;  // an offer still open stays until answered
  panel_update->hide();
}
