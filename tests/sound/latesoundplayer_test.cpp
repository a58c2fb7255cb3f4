// The sound module loaded late: cues held until it is ready, the module looked for in turn, and
// a game that goes on in silence where there is none.
#include <gtest/gtest.h>
#include <QFile>
#include <QLibrary>
#include <QTemporaryDir>

#include "sound/latesoundplayer.h"

namespace {

// Our own warnings; Qt Multimedia has its say too where there is no sound server.
int warnings = 0;
QString lastwarning;

void countwarnings(QtMsgType type, const QMessageLogContext&, const QString& text) {
  if (type != QtWarningMsg || !text.startsWith("Sound cues are off:")) return;
  ++warnings;
  lastwarning = text;
}

// What the stand-in module was asked so far, since the last call.
QStringList takeasked() {
  QLibrary module(QStringLiteral(RECORDING_MODULE));
  auto recorded = reinterpret_cast<QStringList* (*)()>(module.resolve("recordedsounds"));
  if (!recorded) {
    ADD_FAILURE() << module.errorString().toStdString();
    return {};
  }
  const QStringList asked = *recorded();
  recorded()->clear();
  return asked;
}

bool mapped(const char* library) {
  QFile maps(QStringLiteral("/proc/self/maps"));
  return maps.open(QIODevice::ReadOnly) && maps.readAll().contains(library);
}

class LateSound : public testing::Test {
 protected:
  void SetUp() override {
    warnings = 0;
    previous = qInstallMessageHandler(countwarnings);
  }
  void TearDown() override { qInstallMessageHandler(previous); }
  QtMessageHandler previous = nullptr;
};

TEST_F(LateSound, TheLatestCueWaitsForTheModuleThenCuesPassStraightThrough) {
  LateSoundPlayer player({QStringLiteral(RECORDING_MODULE)});
  player.play("click");
  player.play("entered");
  EXPECT_FALSE(player.loaded());
  EXPECT_FALSE(mapped("recordingsoundmodule")) << "loaded before it was asked to get ready";

  player.prepare();
  ASSERT_TRUE(player.loaded()) << player.error().toStdString();
  EXPECT_EQ(takeasked(), QStringList({"(made)", "(prepare)", "entered"}));

  player.play("place");
  player.prepare();
  EXPECT_EQ(takeasked(), QStringList({"place"})) << "made and prepared once only";
  EXPECT_EQ(warnings, 0);
}

TEST_F(LateSound, NothingHeldNothingPlayed) {
  LateSoundPlayer player({QStringLiteral(RECORDING_MODULE)});
  player.prepare();
  EXPECT_EQ(takeasked(), QStringList({"(made)", "(prepare)"}));
}

TEST_F(LateSound, WithoutTheModuleTheGameGoesOnSilentlyAndSaysWhyOnce) {
  LateSoundPlayer player({"/nonexistent/pipshift-sound.so"});
  player.play("entered");
  player.prepare();
  EXPECT_FALSE(player.loaded());
  EXPECT_TRUE(player.error().contains("/nonexistent/pipshift-sound.so"))
      << player.error().toStdString();
  player.play("click");
  player.prepare();
  EXPECT_EQ(warnings, 1);
  EXPECT_TRUE(lastwarning.contains("/nonexistent/")) << lastwarning.toStdString();
}

TEST_F(LateSound, AFileThatIsNoModuleIsPassedOverForTheNext) {
  QTemporaryDir dir;
  const QString broken = dir.filePath("pipshift-sound.so");
  QFile file(broken);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("not a shared object");
  file.close();

  LateSoundPlayer fallsthrough({broken, QStringLiteral(RECORDING_MODULE)});
  fallsthrough.prepare();
  EXPECT_TRUE(fallsthrough.loaded());
  takeasked();

  LateSoundPlayer onlybroken({broken});
  onlybroken.prepare();
  EXPECT_FALSE(onlybroken.loaded());
  EXPECT_TRUE(onlybroken.error().contains(broken)) << onlybroken.error().toStdString();
}

TEST_F(LateSound, AModuleWithoutThePlayerIsRefused) {
  // Qt's own core library is a loadable shared object that makes no player.
  LateSoundPlayer player({QStringLiteral(QT_CORE_LIBRARY)});
  player.prepare();
  EXPECT_FALSE(player.loaded());
  EXPECT_TRUE(player.error().contains("pipshift_makesoundplayer_1"))
      << player.error().toStdString();
}

TEST_F(LateSound, TheRealModuleBringsQtMultimediaOnlyWhenAsked) {
  LateSoundPlayer player({QStringLiteral(SOUND_MODULE)});
  EXPECT_FALSE(mapped("libQt6Multimedia")) << "the loader itself must not need Qt Multimedia";
  player.play("entered");
  player.prepare();
  ASSERT_TRUE(player.loaded()) << player.error().toStdString();
  EXPECT_TRUE(mapped("libQt6Multimedia"));
  player.play("click");
  EXPECT_EQ(warnings, 0);
}

}  // namespace
