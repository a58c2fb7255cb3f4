#pragma once

#include <QString>
#include <QStringList>

// The desktop's "open this" and "start that program" services. Windows call desktop(); tests
// install a recorder with setdesktop() so no browser or installer is ever started by a test.
class Desktop {
 public:
  virtual ~Desktop() = default;
  // Hands an address to the user's default handler (xdg-open), as the text it is; true when the
  // handler was started. It opens whatever it is given, local files and programs included:
  // callers decide what may reach it.
  virtual bool openurl(const QString& address) = 0;
  // Starts a program detached from this process; true when it was started.
  virtual bool startdetached(const QString& program, const QStringList& arguments) = 0;
  // Starts an update's installer detached from this process and returns once it has said that it
  // runs: it gets the write end of a pipe as descriptor 3, named by PIPSHIFT_SETUP_READY=3 in its
  // environment, and writes a line there once its traps are set. False when it could not be
  // started or ended before saying so: the caller must then not end. Stand-ins that start
  // nothing real take it as startdetached().
  virtual bool startinstaller(const QString& program, const QStringList& arguments) {
    return startdetached(program, arguments);
  }
};

Desktop& desktop();
// Installs a replacement (nullptr restores the real desktop). The caller keeps ownership.
void setdesktop(Desktop* replacement);
