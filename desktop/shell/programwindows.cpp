#include "shell/programwindows.h"

#include "online/highscoreform.h"
#include "product/product.h"
#include "shell/mainform.h"
#include "stats/tallylistform.h"
#include "windows/aboutform.h"
#include "windows/helpform.h"

ProgramWindows::ProgramWindows(Tmain& main, Ttallylist& tally) : main_(main), tally_(tally) {
  main_.settally(this);
  main_.setcompanions(this);
}

ProgramWindows::~ProgramWindows() {
  main_.setcompanions(nullptr);
  main_.settally(nullptr);
}

Tabout& ProgramWindows::about() {
  if (!about_) about_ = std::make_unique<Tabout>(&main_);
  return *about_;
}

Thelp& ProgramWindows::help() {
  if (!help_) help_ = std::make_unique<Thelp>(&main_, &about());
  return *help_;
}

Thighscore& ProgramWindows::highscore() {
  if (!highscore_) {
    highscore_ = std::make_unique<Thighscore>(main_.scoreserver());
    QObject::connect(highscore_.get(), &Thighscore::postaccepted, &main_, &Tmain::postaccepted);
    QObject::connect(highscore_.get(), &Thighscore::postrefused, &main_, &Tmain::postrefused);
  }
  return *highscore_;
}

void ProgramWindows::showtally() {
  tally_.showforward();
}

void ProgramWindows::savetally() {
  tally_.savetally();
}

void ProgramWindows::addtomineincrease(int column) {
  tally_.addtomineincrease(column);
}

void ProgramWindows::checkscore(int score, const QString& name) {
  tally_.checkscore(score, name);
}

void ProgramWindows::showhelp() {
  help().showforward();
}

void ProgramWindows::showabout() {
  about().showforward();
}

void ProgramWindows::openlink() {
  about().openlink();
}

QString ProgramWindows::versiontext() const {
  return QString::fromLatin1(programversion());
}

// The window opens on the page it showed last; the new list replaces it when it arrives.
void ProgramWindows::showhighscores() {
  highscore().loadit();
  highscore().showforward();
}

void ProgramWindows::postscore(const QString& name, const QString& date, const QString& score) {
  highscore().postscore(name, date, score);
}
