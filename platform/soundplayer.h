#pragma once

#include <QString>

// Plays a named sound cue asynchronously. A new cue cuts off the one still playing; a name with
// no sound of its own gives the desktop's default beep. Tests install a recorder instead.
class SoundPlayer {
 public:
  virtual ~SoundPlayer() = default;
  virtual void play(const QString& name) = 0;
};
