#pragma once

#include "shell/companions.h"

class Tabout;
class Thelp;
class Thighscore;
class Tmain;
class Ttallylist;

// The main window's view of the program's other windows, and the ties between them: made once
// every window exists, it hands itself and the tally window to the main window and lets the
// high-score window end the main window's posting wait. While it lives the main window uses the
// others through it; destroying it takes them away again.
class ProgramWindows : public Companions {
 public:
  ProgramWindows(Tmain& main, Tabout& about, Thelp& help, Thighscore& highscore, Ttallylist& tally);
  ~ProgramWindows() override;
  ProgramWindows(const ProgramWindows&) = delete;
  ProgramWindows& operator=(const ProgramWindows&) = delete;

  void showtally() override;
  void savetally() override;
  void showhelp() override;
  void showabout() override;
  void openlink() override;
  QString versiontext() const override;
  void showhighscores() override;
  void postscore(const QString& name, const QString& date, const QString& score) override;

 private:
  Tmain& main_;
  Tabout& about_;
  Thelp& help_;
  Thighscore& highscore_;
  Ttallylist& tally_;
};
