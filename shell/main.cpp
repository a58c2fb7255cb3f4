// The program entry: the main window first, then the windows it calls on, then the event loop.

#include <QApplication>
#include <QIcon>

#include "platform/paths.h"
#include "platform/qtsoundplayer.h"
#include "shell/companions.h"
#include "shell/mainform.h"
#include "stats/tallylistform.h"

namespace {

// The main window's view of the other windows.
class ProgramWindows : public Companions {
 public:
  Ttallylist* tally = nullptr;

  void showtally() override {
    if (tally) tally->showforward();
  }
  void savetally() override {
    if (tally) tally->savetally();
  }
  void showhelp() override {}
  void showabout() override {}
  void openlink() override {}
  QString versiontext() const override { return QStringLiteral("1.0.0"); }
  void showhighscores() override {}
  void postscore(const QString&, const QString&, const QString&) override {}
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Pipshift"));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/images/icon.png")));

  QtSoundPlayer sounds;
  TmainSetup setup;
  setup.sounds = &sounds;
  Tmain main(setup);
  // Destroyed before the main window, and destroying it writes the tally file.
  Ttallylist tally(&main, datafolder() + main.productword() + QStringLiteral("tally.tld"));

  ProgramWindows windows;
  windows.tally = &tally;
  main.settally(&tally);
  main.setcompanions(&windows);
  main.show();
  return app.exec();
}
