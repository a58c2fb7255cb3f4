// The settings file: window bounds, the option marks and the player's name, kept between runs in
// the program's own section of "pipshift.ini". The marks added later, Allow Undo and Show
// Winnable, are written only once they have been on, so a file at the default settings keeps
// exactly the keys it always had.

#include <QAction>
#include <QLineEdit>

#include "online/serverbase.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "shell/coachview.h"
#include "shell/mainform.h"

QString Tmain::defaultsettingspath(const QString& productword) {
  return datafolder() + productword + QStringLiteral(".ini");
}

void Tmain::loadinifile() {
  const Profile ini(settingspath_);
  const QString section = productword_;

  const int top = ini.readinteger(section, QStringLiteral("Top"), defaulttop);
  const int left = ini.readinteger(section, QStringLiteral("Left"), defaultleft);
  const int width = ini.readinteger(section, QStringLiteral("Width"), defaultwidth);
  const int height = ini.readinteger(section, QStringLiteral("Height"), defaultheight);
  savedbounds_ = QRect(left, top, width, height);
  setbounds(savedbounds_);

  // Only the exact words turn an option off; anything else, "No" included, leaves it on.
  PlaySounds1->setChecked(ini.readstring(section, QStringLiteral("Sounds"),
                                         QStringLiteral("yes")) != QLatin1String("no"));
  ShowHints1->setChecked(ini.readstring(section, QStringLiteral("Hints"), QStringLiteral("yes")) !=
                         QLatin1String("no"));
  updatecheck->setChecked(ini.readstring(section, QStringLiteral("Update"),
                                         QStringLiteral("true")) != QLatin1String("false"));
  // Off unless the file says "yes": undo is the one option that changes how a game may go.
  allowundo_->setChecked(ini.readstring(section, QStringLiteral("Undo"), QStringLiteral("no")) ==
                         QLatin1String("yes"));

  // Off unless the file says "yes": the mark was added later, and a file from before has no key.
  coach_->setwinnableon(ini.readstring(section, QStringLiteral("Winnable"), QString()) ==
                        QLatin1String("yes"));

  edit_name->setText(ini.readstring(section, QStringLiteral("Name"), QStringLiteral("Guest")));
  edit_aname->setText(edit_name->text());

  // Read only: these let a tester or a self-hoster point the program at other servers.
  const QString fallback = setup_.defaultserver.isEmpty() ? makersite() : setup_.defaultserver;
  scoreserver_ =
      serverbase(ini.readstring(section, QStringLiteral("ScoreServer"), QString()), fallback);
  updateserver_ =
      serverbase(ini.readstring(section, QStringLiteral("UpdateServer"), QString()), fallback);
}

void Tmain::saveinifile() {
  writeinifile(bounds());
}

void Tmain::writeinifile(const QRect& bounds) {
  Profile ini(settingspath_);
  const QString section = productword_;
  auto yes = [](bool on) { return on ? QStringLiteral("yes") : QStringLiteral("no"); };
  // A failed write is not reported: the settings are a convenience, and the next save tries
  // again.
  ini.writestring(section, QStringLiteral("Top"), QString::number(bounds.top()));
  ini.writestring(section, QStringLiteral("Left"), QString::number(bounds.left()));
  ini.writestring(section, QStringLiteral("Width"), QString::number(bounds.width()));
  ini.writestring(section, QStringLiteral("Height"), QString::number(bounds.height()));
  ini.writestring(section, QStringLiteral("Name"), edit_name->text());
  ini.writestring(section, QStringLiteral("Sounds"), yes(playsoundson()));
  ini.writestring(section, QStringLiteral("Hints"), yes(showhintson()));
  ini.writestring(section, QStringLiteral("Update"),
                  updatecheckon() ? QStringLiteral("true") : QStringLiteral("false"));
  // A value cannot hold a line break, so that fallback tells a missing key from any written one.
  const QString missing = QStringLiteral("\n");
  auto writeonceon = [&](const QString& key, bool on) {
    if (on || ini.readstring(section, key, missing) != missing)
      ini.writestring(section, key, yes(on));
  };
  writeonceon(QStringLiteral("Undo"), allowundoon());
  writeonceon(QStringLiteral("Winnable"), coach_->winnableon());
}
