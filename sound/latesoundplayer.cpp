#include "sound/latesoundplayer.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibrary>
#include <QtDebug>

#include "sound/soundmodule.h"

namespace {

const char* const modulename = "pipshift-sound.so";

}  // namespace

QStringList LateSoundPlayer::defaultmodulefiles() {
  const QString programfolder = QCoreApplication::applicationDirPath();
  const QString installed = programfolder + QStringLiteral("/" PIPSHIFT_MODULE_RELDIR "/");
  return {programfolder + QLatin1Char('/') + QLatin1String(modulename),
          QDir::cleanPath(installed + QLatin1String(modulename))};
}

LateSoundPlayer::LateSoundPlayer(QStringList modulefiles) : modulefiles_(std::move(modulefiles)) {}

// The player goes; the module stays loaded until the process ends, as Qt's own plugins do.
LateSoundPlayer::~LateSoundPlayer() = default;

void LateSoundPlayer::play(const QString& name) {
  if (player_) {
    player_->play(name);
  } else if (!prepared_) {
    held_ = name;
  }
}

void LateSoundPlayer::prepare() {
  if (prepared_) return;
  prepared_ = true;
  load();
  if (!player_) {
    qWarning().noquote() << "Sound cues are off:" << error_;
    return;
  }
  player_->prepare();
  if (!held_.isEmpty()) player_->play(held_);
  held_.clear();
}

void LateSoundPlayer::load() {
  QStringList reasons;
  for (const QString& file : std::as_const(modulefiles_)) {
    if (!QFileInfo::exists(file)) continue;
    QLibrary module(file);
    if (!module.load()) {
      reasons << module.errorString();
      continue;
    }
    auto make = reinterpret_cast<SoundFactory>(module.resolve(PIPSHIFT_SOUND_FACTORY));
    if (!make) {
      reasons << file + QStringLiteral(" has no ") + QLatin1String(PIPSHIFT_SOUND_FACTORY);
      continue;
    }
    player_.reset(make());
    if (player_) return;
    reasons << file + QStringLiteral(" made no player");
  }
  error_ = reasons.isEmpty() ? QStringLiteral("no ") + QLatin1String(modulename) +
                                   QStringLiteral(" in ") + modulefiles_.join(QStringLiteral(", "))
                             : reasons.join(QStringLiteral("; "));
}
