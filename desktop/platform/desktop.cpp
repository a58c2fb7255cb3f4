#include "platform/desktop.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <cerrno>
#include <vector>

extern char** environ;

namespace {

// The longest an installer may take to say that it runs, in milliseconds; it says so before it
// does anything else.
constexpr int installerreadywait = 20000;

bool launchinstaller(const QString& program, const QStringList& arguments) {
  // Everything the child needs is made before the fork: after it only plain system calls.
  const QByteArray path = QFile::encodeName(program);
  std::vector<QByteArray> words{path};
  for (const QString& argument : arguments) words.push_back(argument.toLocal8Bit());
  std::vector<char*> argv;
  for (QByteArray& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  QByteArray ready("PIPSHIFT_SETUP_READY=3");
  std::vector<char*> envp;
  for (char** e = environ; e && *e; ++e) {
    if (QByteArray(*e).startsWith("PIPSHIFT_SETUP_READY=")) continue;
    envp.push_back(*e);
  }
  envp.push_back(ready.data());
  envp.push_back(nullptr);

  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  const pid_t child = ::fork();
  if (child < 0) {
    ::close(fds[0]);
    ::close(fds[1]);
    return false;
  }
  if (child == 0) {
    // A session of its own, and a grandchild nobody waits for: the installer outlives us.
    ::setsid();
    const pid_t installer = ::fork();
    if (installer != 0) ::_exit(installer < 0 ? 1 : 0);
    if (fds[1] == 3) {
      ::fcntl(3, F_SETFD, 0);
    } else if (::dup2(fds[1], 3) < 0) {
      ::_exit(127);
    }
    ::execve(path.constData(), argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(fds[1]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  // Its line, or the end of the pipe once every holder of its write end is gone.
  char said[16];
  qsizetype have = 0;
  bool confirmed = false;
  while (!confirmed) {
    pollfd waiting{fds[0], POLLIN, 0};
    const int polled = ::poll(&waiting, 1, installerreadywait);
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) break;
    const ssize_t n = ::read(fds[0], said + have, sizeof said - std::size_t(have));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    have += n;
    confirmed = QByteArray(said, have).contains('\n');
    if (have == qsizetype(sizeof said)) break;
  }
  ::close(fds[0]);
  return confirmed;
}

class SystemDesktop final : public Desktop {
 public:
  // The desktop's opener gets the address as one argument, exactly the text it was given: a
  // parse on the way (QUrl) would rewrite it, turning a doubled scheme into another host, a
  // relative link into a web address and a path into a file: address.
  bool openurl(const QString& address) override {
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty()) return false;
    return QProcess::startDetached(opener, {address});
  }
  bool startdetached(const QString& program, const QStringList& arguments) override {
    return QProcess::startDetached(program, arguments);
  }
  bool startinstaller(const QString& program, const QStringList& arguments) override {
    return launchinstaller(program, arguments);
  }
};

Desktop* installed = nullptr;

}  // namespace

Desktop& desktop() {
  static SystemDesktop system;
  return installed ? *installed : system;
}

void setdesktop(Desktop* replacement) {
  installed = replacement;
}
