#pragma once

#include <QString>

#include <functional>
#include <memory>

#include "sound/soundplayer.h"

// The program's sound player, made late. Making the real player means looking for the sound
// output, which talks to the sound server and loads the media backend: that waits for prepare(),
// called once the main window is on screen. Until then the latest cue is held and sounds as soon
// as the player is made (a new cue would cut off an older one anyway).
class LateSoundPlayer : public SoundPlayer {
 public:
  using Factory = std::function<std::unique_ptr<SoundPlayer>()>;

  // make: what makes the player; by default the one on Qt Multimedia.
  explicit LateSoundPlayer(Factory make = {});
  ~LateSoundPlayer() override;
  LateSoundPlayer(const LateSoundPlayer&) = delete;
  LateSoundPlayer& operator=(const LateSoundPlayer&) = delete;

  void play(const QString& name) override;
  void prepare() override;

  bool prepared() const { return prepared_; }
  // Whether the player has been made.
  bool made() const { return player_ != nullptr; }

 private:
  Factory make_;
  bool prepared_ = false;
  QString held_;
  std::unique_ptr<SoundPlayer> player_;
};
