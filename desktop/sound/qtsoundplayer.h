#pragma once

#include <QHash>
#include <QObject>
#include <QString>

#include <functional>

#include "sound/soundplayer.h"

class QMediaDevices;
class QSoundEffect;

// Plays the cues compiled in as :/sounds/<name>.wav, asynchronously, one at a time: a new cue
// stops the one still playing. A name with no sound of its own gives the desktop's beep.
//
// Where there is nothing to play on (no sound card, no sound server, no backend) the cues are
// skipped quietly instead of being handed to the media backend, which would complain about the
// missing device once for every cue. Should an output appear later, cues sound from then on.
// Looking for the output means talking to the sound server, so it waits for prepare() or the
// first cue.
class QtSoundPlayer : public QObject, public SoundPlayer {
 public:
  explicit QtSoundPlayer(QObject* parent = nullptr);
  ~QtSoundPlayer() override;

  void play(const QString& name) override;
  void prepare() override;

  // Whether cues are actually played: true when the system has an audio output.
  bool audible();
  // For tests: decide audibility by hand (true plays into whatever device the backend picks).
  void setaudible(bool audible) {
    prepare();
    audible_ = audible;
  }
  // For tests: replaces the desktop's beep.
  void setbeep(std::function<void()> beep) { beep_ = std::move(beep); }

  // The effect made for a cue so far, or nullptr (cues get one on first play).
  const QSoundEffect* effect(const QString& name) const;

 private:
  QSoundEffect* effectfor(const QString& lowername);
  void stopall();

  QMediaDevices* devices_ = nullptr;
  bool audible_ = false;
  std::function<void()> beep_;
  QHash<QString, QSoundEffect*> effects_;
};
