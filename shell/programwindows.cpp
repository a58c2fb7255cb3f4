#include "shell/programwindows.h"

#include "online/highscoreform.h"
#include "shell/mainform.h"
#include "stats/tallylistform.h"
#include "windows/aboutform.h"
#include "windows/helpform.h"

ProgramWindows::ProgramWindows(Tmain& main, Tabout& about, Thelp& help, Thighscore& highscore,
                               Ttallylist& tally)
    : main_(main), about_(about), help_(help), highscore_(highscore), tally_(tally) {
  main_.settally(&tally_);
  main_.setcompanions(this);
  QObject::connect(&highscore_, &Thighscore::postaccepted, &main_, &Tmain::postaccepted);
}

ProgramWindows::~ProgramWindows() {
  QObject::disconnect(&highscore_, &Thighscore::postaccepted, &main_, &Tmain::postaccepted);
  main_.setcompanions(nullptr);
  main_.settally(nullptr);
}

void ProgramWindows::showtally() {
  tally_.showforward();
}

void ProgramWindows::savetally() {
  tally_.savetally();
}

void ProgramWindows::showhelp() {
  help_.showforward();
}

void ProgramWindows::showabout() {
  about_.showforward();
}

void ProgramWindows::openlink() {
  about_.openlink();
}

QString ProgramWindows::versiontext() const {
  return about_.versiontext();
}

// The window opens on the page it showed last; the new list replaces it when it arrives.
void ProgramWindows::showhighscores() {
  highscore_.loadit();
  highscore_.showforward();
}

void ProgramWindows::postscore(const QString& name, const QString& date, const QString& score) {
  highscore_.postscore(name, date, score);
}
