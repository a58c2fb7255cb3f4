// The program entry: the main window first, then the windows it calls on, then the event loop.

#include <QApplication>

#include "online/highscoreform.h"
#include "platform/paths.h"
#include "platform/qtsoundplayer.h"
#include "resources/resources.h"
#include "shell/mainform.h"
#include "shell/programwindows.h"
#include "stats/tallylistform.h"
#include "windows/aboutform.h"
#include "windows/helpform.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Pipshift"));
  // The small picture: the 256 px icon is meant for the desktop entry, not the title bar.
  QApplication::setWindowIcon(resourcepicture(QStringLiteral(":/images/windowicon.png")));

  QtSoundPlayer sounds;
  TmainSetup setup;
  setup.sounds = &sounds;

  // Made in this order; only the main window is shown. Destroyed in the reverse order, so the
  // tally window goes before the main window, and destroying it writes the tally file.
  Tmain main(setup);
  Tabout about(&main);
  Thelp help(&main, &about);
  Thighscore highscore(main.scoreserver());
  Ttallylist tally(&main, datafolder() + main.productword() + QStringLiteral("tally.tld"));

  ProgramWindows windows(main, about, help, highscore, tally);
  main.show();
  return app.exec();
}
