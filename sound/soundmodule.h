#pragma once

// The sound module: the cue player built on Qt Multimedia, compiled as a loadable module of its
// own so that the program starts without Qt Multimedia and the sound server's libraries, and
// loads them once its window is on screen (see LateSoundPlayer).
//
// The module exports one function under this name. It makes a new player, which the caller owns
// and deletes through SoundPlayer's destructor. The number in the name changes whenever
// SoundPlayer changes, so a module left over from another version is never taken for this one.

class SoundPlayer;

#define PIPSHIFT_SOUND_FACTORY "pipshift_makesoundplayer_1"
using SoundFactory = SoundPlayer* (*)();
