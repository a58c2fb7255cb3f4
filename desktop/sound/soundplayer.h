#pragma once

#include <QString>

// Plays a named sound cue asynchronously. A new cue cuts off the one still playing; a name with
// no sound of its own gives the desktop's default beep. Tests install a recorder instead.
class SoundPlayer {
 public:
  virtual ~SoundPlayer() = default;
  virtual void play(const QString& name) = 0;
  // Gets ready to play, where that takes a while (finding the sound output); play() does it
  // itself when it has not been done.
  virtual void prepare() {}
};
