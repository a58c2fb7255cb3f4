// The program entry: the main window first, then the windows it calls on, then the event loop.

#include <QApplication>

#include "platform/paths.h"
#include "platform/termination.h"
#include "resources/resources.h"
#include "shell/mainform.h"
#include "shell/programwindows.h"
#include "sound/latesoundplayer.h"
#include "stats/tallylistform.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Pipshift"));
  // The small picture: the 256 px icon is meant for the desktop entry, not the title bar.
  QApplication::setWindowIcon(resourcepicture(QStringLiteral(":/images/windowicon.png")));

  LateSoundPlayer sounds;
  TmainSetup setup;
  setup.sounds = &sounds;

  // Destroyed in the reverse order: the other windows, then the tally window, whose going writes
  // the tally file, then the main window. Help, About and the high scores are made when wanted.
  Tmain main(setup);
  Ttallylist tally(&main, datafolder() + main.productword() + QStringLiteral("tally.tld"));
  ProgramWindows windows(main, tally);
  // Asked to end (a logout, `kill`), the program closes as through File > Exit and keeps it all.
  onterminationrequest(&main, [&main] { main.close(); });
  main.show();
  return app.exec();
}
