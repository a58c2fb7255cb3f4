// The settings file as the main window reads and writes it, and the sound cues it switches.

#include <QAction>
#include <QLineEdit>
#include <QScreen>

#include "shellsupport.h"

namespace {

// The keys of the program's section in the order they stand in the file.
QStringList keysinorder(const QByteArray& file) {
  QStringList keys;
  bool inside = false;
  for (const QByteArray& raw : file.split('\n')) {
    const QByteArray line = raw.trimmed();
    if (line.startsWith('[')) {
      inside = line.toLower() == "[pipshift]";
      continue;
    }
    const int equals = int(line.indexOf('='));
    if (inside && equals > 0) keys << QString::fromLatin1(line.left(equals));
  }
  return keys;
}

QString value(const QByteArray& file, const QString& key) {
  bool inside = false;
  for (const QByteArray& raw : file.split('\n')) {
    const QString line = QString::fromLatin1(raw.trimmed());
    if (line.startsWith('[')) {
      inside = line.toLower() == "[pipshift]";
      continue;
    }
    if (inside && line.startsWith(key + "=", Qt::CaseInsensitive)) {
      return line.mid(key.size() + 1);
    }
  }
  return QStringLiteral("<missing>");
}

}  // namespace

using SettingsFile = ShellTest;

TEST_F(SettingsFile, NoFileGivesTheDefaults) {
  auto w = makewindow();
  EXPECT_EQ(w->bounds(), QRect(3, 3, 604, 374));
  EXPECT_EQ(w->savedbounds(), QRect(3, 3, 604, 374));
  EXPECT_TRUE(w->playsoundson());
  EXPECT_TRUE(w->showhintson());
  EXPECT_TRUE(w->updatecheckon());
  EXPECT_EQ(part<QLineEdit>(w.get(), "edit_name")->text(), "Guest");
  EXPECT_EQ(part<QLineEdit>(w.get(), "edit_aname")->text(), "Guest");
  EXPECT_TRUE(part(w.get(), "panel_name")->isVisible());
  EXPECT_EQ(w->scoreserver(), defaultserver);
  EXPECT_EQ(w->updateserver(), defaultserver);
  EXPECT_TRUE(readini().isEmpty()) << "reading creates nothing";
}

TEST_F(SettingsFile, WithoutServerKeysTheMakersSiteServes) {
  defaultserver.clear();
  auto w = makewindow(false);  // never shown, so no update check goes out
  EXPECT_EQ(w->scoreserver(), "http://www.quorvel.example/");
  EXPECT_EQ(w->updateserver(), "http://www.quorvel.example/");
}

TEST_F(SettingsFile, ExitWritesEveryKeyInOrder) {
  auto w = makewindow();
  w->close();
  EXPECT_EQ(ended, 1);
  const QByteArray file = readini();
  EXPECT_EQ(keysinorder(file),
            QStringList({"Top", "Left", "Width", "Height", "Name", "Sounds", "Hints", "Update"}));
  EXPECT_EQ(value(file, "Top"), "3");
  EXPECT_EQ(value(file, "Left"), "3");
  EXPECT_EQ(value(file, "Width"), "604");
  EXPECT_EQ(value(file, "Height"), "374");
  EXPECT_EQ(value(file, "Name"), "Guest");
  EXPECT_EQ(value(file, "Sounds"), "yes");
  EXPECT_EQ(value(file, "Hints"), "yes");
  EXPECT_EQ(value(file, "Update"), "true");
}

TEST_F(SettingsFile, WhatWasWrittenComesBack) {
  writeini(
      "[pipshift]\nTop=40\nLeft=0x20\nWidth=700\nHeight=$190\nName=Ada\nSounds=no\nHints=no\n"
      "Update=false\n");
  auto w = makewindow();
  EXPECT_EQ(w->bounds(), QRect(32, 40, 700, 400));
  EXPECT_EQ(w->savedbounds(), QRect(32, 40, 700, 400));
  EXPECT_FALSE(w->playsoundson());
  EXPECT_FALSE(w->showhintson());
  EXPECT_FALSE(w->updatecheckon());
  EXPECT_EQ(part<QLineEdit>(w.get(), "edit_name")->text(), "Ada");
  EXPECT_EQ(part<QLineEdit>(w.get(), "edit_aname")->text(), "Ada");
}

TEST_F(SettingsFile, OnlyTheExactWordsTurnAnOptionOff) {
  writeini("[PipShift]\nsounds=No\nHINTS=false\nUpdate=no\n");
  auto w = makewindow();
  EXPECT_TRUE(w->playsoundson()) << "\"No\" is not \"no\"";
  EXPECT_TRUE(w->showhintson()) << "only \"no\" turns hints off";
  EXPECT_TRUE(w->updatecheckon()) << "only \"false\" turns the check off";
}

TEST_F(SettingsFile, OnlySoundsNoLeavesEverythingElseAtItsDefault) {
  writeini("[pipshift]\nSounds=no\n");
  auto w = makewindow();
  EXPECT_FALSE(w->playsoundson());
  EXPECT_TRUE(w->showhintson());
  EXPECT_TRUE(w->updatecheckon());
  EXPECT_EQ(w->bounds(), QRect(3, 3, 604, 374));
  EXPECT_EQ(part<QLineEdit>(w.get(), "edit_name")->text(), "Guest");
}

TEST_F(SettingsFile, UnreadableNumbersTakeTheirDefaultsAndTheRestIsStillRead) {
  writeini("[pipshift]\nTop=twelve\nWidth=wide\nHeight=0x\nLeft=17\nName=Bo\n");
  auto w = makewindow();
  EXPECT_EQ(w->bounds(), QRect(17, 3, 604, 374));
  EXPECT_EQ(part<QLineEdit>(w.get(), "edit_name")->text(), "Bo");
}

TEST_F(SettingsFile, AnEmptyNameStaysEmpty) {
  writeini("[pipshift]\nName=\n");
  auto w = makewindow();
  EXPECT_EQ(part<QLineEdit>(w.get(), "edit_name")->text(), "");
  EXPECT_EQ(part<QLineEdit>(w.get(), "edit_aname")->text(), "");
}

TEST_F(SettingsFile, PlaySoundsIsWrittenAtOnceTheOtherMarksAtExit) {
  auto w = makewindow();
  part<QLineEdit>(w.get(), "edit_name")->setText("Cy");
  part<QAction>(w.get(), "ShowHints1")->trigger();
  part<QAction>(w.get(), "updatecheck")->trigger();
  EXPECT_FALSE(w->showhintson());
  EXPECT_FALSE(w->updatecheckon()) << "the mark follows the menu";
  EXPECT_TRUE(readini().isEmpty()) << "neither mark is written on its own";

  part<QAction>(w.get(), "PlaySounds1")->trigger();
  const QByteArray early = readini();
  EXPECT_EQ(value(early, "Sounds"), "no");
  EXPECT_EQ(value(early, "Name"), "Cy");

  w->close();
  const QByteArray file = readini();
  EXPECT_EQ(value(file, "Hints"), "no");
  EXPECT_EQ(value(file, "Update"), "false");
  EXPECT_EQ(value(file, "Sounds"), "no");
}

TEST_F(SettingsFile, ExitStoresTheBoundsTheWindowHasNow) {
  auto w = makewindow();
  w->setbounds({50, 60, 700, 400});
  QTRY_COMPARE(w->bounds(), QRect(50, 60, 700, 400));
  w->close();
  const QByteArray file = readini();
  EXPECT_EQ(value(file, "Left"), "50");
  EXPECT_EQ(value(file, "Top"), "60");
  EXPECT_EQ(value(file, "Width"), "700");
  EXPECT_EQ(value(file, "Height"), "400");
  EXPECT_EQ(w->savedbounds(), QRect(50, 60, 700, 400));
}

TEST_F(SettingsFile, AWindowLargerThanTheWorkAreaIsStoredThreePixelsSmaller) {
  auto w = makewindow();
  const QRect work = w->screen()->availableGeometry();
  w->setbounds({10, 20, work.width() + 10, work.height() + 10});
  QTRY_COMPARE(w->bounds().size(), QSize(work.width() + 10, work.height() + 10));
  w->close();
  const QByteArray file = readini();
  EXPECT_EQ(value(file, "Width"), QString::number(work.width() + 7));
  EXPECT_EQ(value(file, "Height"), QString::number(work.height() + 7));
  EXPECT_EQ(value(file, "Left"), "10") << "the position stays";
}

TEST_F(SettingsFile, UnmovedWindowWritesTheBoundsAsTheyWere) {
  const QRect work = QGuiApplication::primaryScreen()->availableGeometry();
  // Wider than the work area, but not moved during the run: nothing is trimmed.
  writeini(QStringLiteral("[pipshift]\nTop=5\nLeft=6\nWidth=%1\nHeight=380\n")
               .arg(work.width() + 10)
               .toLatin1());
  auto w = makewindow();
  w->close();
  EXPECT_EQ(value(readini(), "Width"), QString::number(work.width() + 10));
}

TEST_F(SettingsFile, ResetScreenLocationThenExitStoresTheDefaults) {
  writeini("[pipshift]\nTop=100\nLeft=90\nWidth=650\nHeight=420\n");
  auto w = makewindow();
  part<QAction>(w.get(), "ResetScreenLocation1")->trigger();
  w->close();
  const QByteArray file = readini();
  EXPECT_EQ(value(file, "Top"), "3");
  EXPECT_EQ(value(file, "Left"), "3");
  EXPECT_EQ(value(file, "Width"), "604");
  EXPECT_EQ(value(file, "Height"), "374");
}

TEST_F(SettingsFile, LinesTheProgramDoesNotOwnSurviveASave) {
  const QByteArray other =
      "; kept by "
      "hand\r\n[other]\r\nTop=999\r\n\r\n[pipshift]\r\nScoreServer=http://127.0.0.1:8080\r\n"
      "Colour=blue\r\nWidth=wide\r\n";
  writeini(other);
  auto w = makewindow();
  EXPECT_EQ(w->scoreserver(), "http://127.0.0.1:8080/") << "the closing slash is added";
  EXPECT_EQ(w->updateserver(), defaultserver);
  w->close();
  const QByteArray file = readini();
  EXPECT_TRUE(file.startsWith("; kept by hand\r\n[other]\r\nTop=999\r\n\r\n[pipshift]\r\n"));
  EXPECT_TRUE(file.contains("ScoreServer=http://127.0.0.1:8080\r\n")) << "read, never written";
  EXPECT_TRUE(file.contains("Colour=blue\r\n"));
  EXPECT_EQ(value(file, "Width"), "604");
  EXPECT_FALSE(file.contains("UpdateServer"));
}

TEST_F(SettingsFile, DamagedFilesStartWithDefaults) {
  QByteArray garbage;
  for (int i = 0; i < 70000; ++i) garbage.append(char((i * 7919) % 256));
  writeini(garbage);
  {
    auto w = makewindow();
    EXPECT_EQ(w->bounds(), QRect(3, 3, 604, 374));
    EXPECT_EQ(part<QLineEdit>(w.get(), "edit_name")->text(), "Guest");
  }

  writeini("Name=Outside\nno equals sign\n[pipshift]\nName=" + QByteArray(5000, 'x') +
           "\n[pipshift]\nName=Second\n");
  auto w = makewindow();
  EXPECT_EQ(part<QLineEdit>(w.get(), "edit_name")->text(), "xxxxxxxxxx")
      << "a key outside the section is no key of it; the name is held to 10 characters";
}

TEST_F(SettingsFile, AbsurdSizesAreHeldToTheDesktop) {
  writeini("[pipshift]\nWidth=2000000000\nHeight=-40\n");
  auto w = makewindow();
  const QSize desktop = w->screen()->virtualSize();
  EXPECT_LE(w->width(), desktop.width() + 64);
  EXPECT_EQ(w->clientsize().height(), 330) << "a negative height snaps to the smallest window";
}

using SoundCues = ShellTest;

TEST_F(SoundCues, StartUpAndStartGame) {
  auto w = makewindow();
  EXPECT_EQ(sounds.cues, QStringList({"entered"}));
  clickat(part(w.get(), "button_start"));
  EXPECT_EQ(sounds.cues, QStringList({"entered", "startgame"}));
}

TEST_F(SoundCues, NothingSoundsWithPlaySoundsOffNotEvenAtStartUp) {
  writeini("[pipshift]\nSounds=no\n");
  auto w = makewindow();
  clickat(part(w.get(), "button_start"));
  const int bone = w->game().board()[1][0];
  clickat(part(w.get(), QStringLiteral("bone_%1").arg(bone)));
  clickat(part(w.get(), "shape_1"));
  for (int i = 0; i < 295; ++i) w->turntimerTimer();
  EXPECT_TRUE(sounds.cues.isEmpty()) << sounds.cues.join(',').toStdString();
}

TEST_F(SoundCues, TogglingTakesEffectAtTheNextCue) {
  auto w = makewindow();
  part<QAction>(w.get(), "PlaySounds1")->trigger();
  clickat(part(w.get(), "button_start"));
  EXPECT_EQ(sounds.cues, QStringList({"entered"}));
  part<QAction>(w.get(), "PlaySounds1")->trigger();
  clickat(part(w.get(), "button_start"));
  EXPECT_EQ(sounds.cues, QStringList({"entered", "startgame"}));
}
