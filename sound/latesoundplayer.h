#pragma once

#include <QString>
#include <QStringList>

#include <memory>

#include "platform/soundplayer.h"

// The program's sound player. The real one lives in the sound module, which this loads when
// prepare() is called, that is once the main window is on screen. Until then the latest cue is
// held and sounds as soon as the module is ready (a new cue would cut off an older one anyway).
//
// Without the module, or where it will not load (Qt Multimedia missing), the game goes on in
// silence: the reason is written to the log once, and every cue is dropped.
class LateSoundPlayer : public SoundPlayer {
 public:
  // Where the module is looked for, in turn: beside the program (the build folder, a copied
  // program folder), then where an installation puts it.
  static QStringList defaultmodulefiles();

  explicit LateSoundPlayer(QStringList modulefiles = defaultmodulefiles());
  ~LateSoundPlayer() override;
  LateSoundPlayer(const LateSoundPlayer&) = delete;
  LateSoundPlayer& operator=(const LateSoundPlayer&) = delete;

  void play(const QString& name) override;
  void prepare() override;

  bool prepared() const { return prepared_; }
  // Whether the module was loaded and made a player.
  bool loaded() const { return player_ != nullptr; }
  // Why there is no player, once prepared without one.
  QString error() const { return error_; }

 private:
  void load();

  QStringList modulefiles_;
  bool prepared_ = false;
  QString held_;
  QString error_;
  std::unique_ptr<SoundPlayer> player_;
};
