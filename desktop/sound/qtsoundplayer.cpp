#include "sound/qtsoundplayer.h"

#include <QApplication>
#include <QAudioDevice>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QUrl>

#include "resources/resources.h"

QtSoundPlayer::QtSoundPlayer(QObject* parent)
    : QObject(parent), beep_([] { QApplication::beep(); }) {}

void QtSoundPlayer::prepare() {
  if (devices_) return;
  devices_ = new QMediaDevices(this);
  audible_ = !QMediaDevices::audioOutputs().isEmpty();
  connect(devices_, &QMediaDevices::audioOutputsChanged, this,
          [this] { audible_ = !QMediaDevices::audioOutputs().isEmpty(); });
}

bool QtSoundPlayer::audible() {
  prepare();
  return audible_;
}

QtSoundPlayer::~QtSoundPlayer() {
  stopall();
}

void QtSoundPlayer::stopall() {
  for (QSoundEffect* effect : std::as_const(effects_)) {
    if (effect->isPlaying()) effect->stop();
  }
}

QSoundEffect* QtSoundPlayer::effectfor(const QString& lowername) {
  if (QSoundEffect* existing = effects_.value(lowername)) return existing;
  auto* effect = new QSoundEffect(this);
  effect->setObjectName(lowername);
  // Loading starts here and runs in the background; a play() before it ends waits for it.
  effect->setSource(QUrl(QStringLiteral("qrc") + resourcecuepath(lowername)));
  effects_.insert(lowername, effect);
  return effect;
}

const QSoundEffect* QtSoundPlayer::effect(const QString& name) const {
  return effects_.value(name.toLower());
}

void QtSoundPlayer::play(const QString& name) {
  stopall();
  if (resourcecuepath(name).isEmpty()) {
    if (beep_) beep_();
    return;
  }
  if (!audible()) return;
  effectfor(name.toLower())->play();
}
