#include "sound/soundmodule.h"

#include <QtGlobal>

#include "sound/qtsoundplayer.h"

extern "C" Q_DECL_EXPORT SoundPlayer* pipshift_makesoundplayer_1() {
  return new QtSoundPlayer;
}
