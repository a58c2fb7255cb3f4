#pragma once

#include <memory>

#include "shell/companions.h"
#include "shell/tallyport.h"

class Tabout;
class Thelp;
class Thighscore;
class Tmain;
class Ttallylist;

// The main window's view of the program's other windows, and the ties between them. It hands
// itself to the main window, as its companions and as its tally; while it lives the main window
// uses the others through it, and destroying it takes them away again.
//
// The tally window exists from the start, since every game counts in it. Help, About and the
// high-score window are made the first time they are wanted, so none of them holds up the main
// window's first appearance; made once, they are only shown and hidden, and go with this object.
class ProgramWindows : public Companions, public TallyPort {
 public:
  ProgramWindows(Tmain& main, Ttallylist& tally);
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

  void addtomineincrease(int column) override;
  void checkscore(int score, const QString& name) override;

  // The windows, made now if they do not exist yet.
  Tabout& about();
  Thelp& help();
  Thighscore& highscore();
  // Whether they have been made.
  bool aboutmade() const { return about_ != nullptr; }
  bool helpmade() const { return help_ != nullptr; }
  bool highscoremade() const { return highscore_ != nullptr; }

 private:
  Tmain& main_;
  Ttallylist& tally_;
  // Help links to About, so About is declared first and goes last.
  std::unique_ptr<Tabout> about_;
  std::unique_ptr<Thelp> help_;
  std::unique_ptr<Thighscore> highscore_;
};
