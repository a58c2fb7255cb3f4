// The program entry: the main window first, then the windows it calls on, then the event loop.

#include <QApplication>
#include <QIcon>

#include "platform/paths.h"
#include "platform/qtsoundplayer.h"
#include "shell/companions.h"
#include "shell/mainform.h"
#include "stats/tallylistform.h"
#include "windows/aboutform.h"
#include "windows/helpform.h"

namespace {

// The main window's view of the other windows.
class ProgramWindows : public Companions {
 public:
  ProgramWindows(Tabout& about, Thelp& help, Ttallylist& tally)
      : about_(about), help_(help), tally_(tally) {}

  void showtally() override { tally_.showforward(); }
  void savetally() override { tally_.savetally(); }
  void showhelp() override { help_.showforward(); }
  void showabout() override { about_.showforward(); }
  void openlink() override { about_.openlink(); }
  QString versiontext() const override { return about_.versiontext(); }
  void showhighscores() override {}
  void postscore(const QString&, const QString&, const QString&) override {}

 private:
  Tabout& about_;
  Thelp& help_;
  Ttallylist& tally_;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Pipshift"));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/images/icon.png")));

  QtSoundPlayer sounds;
  TmainSetup setup;
  setup.sounds = &sounds;

  // Made in this order; only the main window is shown. Destroyed in the reverse order, so the
  // tally window goes first, and destroying it writes the tally file.
  Tmain main(setup);
  Tabout about(&main);
  Thelp help(&main, &about);
  Ttallylist tally(&main, datafolder() + main.productword() + QStringLiteral("tally.tld"));

  ProgramWindows windows(about, help, tally);
  main.settally(&tally);
  main.setcompanions(&windows);
  main.show();
  const int result = app.exec();
  // The main window keeps a pointer to these; it must not use it while the others go.
  main.setcompanions(nullptr);
  main.settally(nullptr);
  return result;
}
