// The sound player: silent and quiet where there is no audio output, the desktop's beep for a
// cue without a sound, and one cue at a time where sound is played.
#include <gtest/gtest.h>
#include <QAudioDevice>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QTest>

#include <atomic>

#include "resources/resources.h"
#include "sound/qtsoundplayer.h"

namespace {

std::atomic<int> messages{0};

void countmessages(QtMsgType, const QMessageLogContext&, const QString&) {
  ++messages;
}

TEST(QtSoundPlayer, AudibleOnlyWithAnAudioOutput) {
  QtSoundPlayer player;
  EXPECT_EQ(player.audible(), !QMediaDevices::audioOutputs().isEmpty());
}

TEST(QtSoundPlayer, WithoutOutputEveryCuePassesSilentlyWithoutAWord) {
  QtSoundPlayer player;
  player.setaudible(false);
  int beeps = 0;
  player.setbeep([&] { ++beeps; });
  messages = 0;
  const QtMessageHandler previous = qInstallMessageHandler(countmessages);
  for (int round = 0; round < 5; ++round) {
    for (const QString& cue : resourcecuenames()) player.play(cue);
  }
  QCoreApplication::processEvents();
  qInstallMessageHandler(previous);
  EXPECT_EQ(messages.load(), 0);
  EXPECT_EQ(beeps, 0);
  for (const QString& cue : resourcecuenames()) EXPECT_EQ(player.effect(cue), nullptr);
}

TEST(QtSoundPlayer, CueWithoutASoundBeeps) {
  QtSoundPlayer player;
  int beeps = 0;
  player.setbeep([&] { ++beeps; });
  player.play("startgame");
  EXPECT_EQ(beeps, 1);
  player.setaudible(false);
  player.play("STARTGAME");
  player.play("../sounds/click");
  EXPECT_EQ(beeps, 3);
  player.play("Click");
  EXPECT_EQ(beeps, 3);
}

TEST(QtSoundPlayer, EveryCueLoadsAndANewCueStopsTheOnePlaying) {
  QtSoundPlayer player;
  player.setaudible(true);  // play into whatever the backend has, even nothing
  player.setbeep([] {});
  for (const QString& cue : resourcecuenames()) {
    player.play(cue.toUpper());
    const QSoundEffect* effect = player.effect(cue);
    ASSERT_NE(effect, nullptr) << cue.toStdString();
    EXPECT_EQ(effect->source(), QUrl("qrc:/sounds/" + cue + ".wav"));
    // Our WAVE files must be ones the decoder accepts, odd sizes and 16-bit ones included.
    EXPECT_TRUE(QTest::qWaitFor([&] { return effect->status() != QSoundEffect::Loading; }, 5000));
    EXPECT_EQ(effect->status(), QSoundEffect::Ready) << cue.toStdString();
  }
  player.play("click");
  const QSoundEffect* click = player.effect("click");
  EXPECT_TRUE(click->isPlaying());
  player.play("place");
  EXPECT_FALSE(click->isPlaying());
  EXPECT_TRUE(player.effect("place")->isPlaying());
  // One effect per cue, however often it is played.
  player.play("place");
  EXPECT_EQ(player.findChildren<QSoundEffect*>().size(), resourcecuenames().size());
  // A cue without a sound also cuts off the one playing.
  player.play("startgame");
  EXPECT_FALSE(player.effect("place")->isPlaying());
}

}  // namespace
