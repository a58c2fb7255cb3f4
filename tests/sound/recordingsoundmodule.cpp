// A sound module that plays nothing and records what it is asked, for the loader's tests.

#include <QStringList>
#include <QtGlobal>

#include "platform/soundplayer.h"

namespace {

QStringList asked;

class RecordingPlayer : public SoundPlayer {
 public:
  void play(const QString& name) override { asked << name; }
  void prepare() override { asked << QStringLiteral("(prepare)"); }
};

}  // namespace

extern "C" Q_DECL_EXPORT SoundPlayer* pipshift_makesoundplayer_1() {
  asked << QStringLiteral("(made)");
  return new RecordingPlayer;
}

extern "C" Q_DECL_EXPORT QStringList* recordedsounds() {
  return &asked;
}
