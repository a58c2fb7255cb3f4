#pragma once

// The main window with the program's real other windows around it, tied together as the program
// entry ties them, in a scratch folder.

#include <memory>

#include "shell/programwindows.h"
#include "shellsupport.h"
#include "stats/tallylistform.h"

class WithProgramWindows : public ShellTest {
 protected:
  // Writes the settings file, then makes the main window, the tally list and the rest.
  void makeall(const QByteArray& settings) {
    writeini(settings);
    w = makewindow();
    tallywindow = std::make_unique<Ttallylist>(w.get(), dir.filePath("pipshifttally.tld"));
    windows = std::make_unique<ProgramWindows>(*w, *tallywindow);
  }

  void TearDown() override {
    windows.reset();
    tallywindow.reset();
    w.reset();
  }

  std::unique_ptr<Tmain> w;
  std::unique_ptr<Ttallylist> tallywindow;
  std::unique_ptr<ProgramWindows> windows;
};
