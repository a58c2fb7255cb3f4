#pragma once

#include <QString>

// What the main window asks of the program's other windows: the tally list, help, About and the
// high-score window. The program entry hands it the real windows; tests hand it a recorder, so
// the main window can be built and tried without any of them.
class Companions {
 public:
  virtual ~Companions() = default;
  virtual void showtally() = 0;
  // Writes the tally file now (before the process ends for an update's installer).
  virtual void savetally() = 0;
  virtual void showhelp() = 0;
  virtual void showabout() = 0;
  // Opens the web address the About window links to.
  virtual void openlink() = 0;
  // The program's version as the About window shows it.
  virtual QString versiontext() const = 0;
  // Starts fetching the online list and shows the high-score window.
  virtual void showhighscores() = 0;
  // Starts posting a score; the window reports an accepted post back to the main window.
  virtual void postscore(const QString& name, const QString& date, const QString& score) = 0;
};
