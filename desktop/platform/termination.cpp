#include "platform/termination.h"

#include <QObject>
#include <QPointer>
#include <QSocketNotifier>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <iterator>
#include <utility>

namespace {

// The signal handler may do next to nothing: it writes the signal's number into a pipe, whose
// other end the event loop watches.
int pipeends[2] = {-1, -1};
volatile std::sig_atomic_t pending = 0;

constexpr int handledsignals[] = {SIGTERM, SIGHUP, SIGINT};
constexpr int handledcount = int(std::size(handledsignals));

// What each signal did before we took it over, given back when the handler goes. A signal the
// process was started ignoring (`nohup`, a background job) is left ignored.
struct sigaction previous[handledcount];
bool taken[handledcount] = {};

void giveback() {
  for (int i = 0; i < handledcount; ++i) {
    if (taken[i]) ::sigaction(handledsignals[i], &previous[i], nullptr);
    taken[i] = false;
  }
}

void onsignal(int number) {
  if (pending) {
    // Asked again while the first request is still being handled: end now, as by default.
    ::signal(number, SIG_DFL);
    ::raise(number);
    return;
  }
  pending = 1;
  const int saved = errno;
  const char byte = static_cast<char>(number);
  [[maybe_unused]] const ssize_t written = ::write(pipeends[1], &byte, 1);
  errno = saved;
}

struct Watch {
  QPointer<QSocketNotifier> notifier;
  std::function<void()> handler;
};

Watch& watch() {
  static Watch w;
  return w;
}

}  // namespace

void onterminationrequest(QObject* context, std::function<void()> handler) {
  if (pipeends[0] < 0 && ::pipe2(pipeends, O_CLOEXEC | O_NONBLOCK) != 0) {
    pipeends[0] = pipeends[1] = -1;
    return;  // without a pipe the signals keep their default: end at once
  }
  Watch& w = watch();
  delete w.notifier;
  // A request that came before this handler was one for no handler at all.
  char stale = 0;
  while (::read(pipeends[0], &stale, 1) == 1) {
  }
  pending = 0;
  w.handler = std::move(handler);
  w.notifier = new QSocketNotifier(pipeends[0], QSocketNotifier::Read, context);
  QObject::connect(w.notifier, &QSocketNotifier::activated, w.notifier, [] {
    char byte = 0;
    while (::read(pipeends[0], &byte, 1) == 1) {
    }
    if (watch().handler) watch().handler();
    pending = 0;
  });
  QObject::connect(w.notifier, &QObject::destroyed, [] {
    watch().handler = nullptr;
    giveback();
  });

  struct sigaction action {};
  action.sa_handler = onsignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int i = 0; i < handledcount; ++i) {
    struct sigaction before {};
    if (::sigaction(handledsignals[i], nullptr, &before) != 0 || before.sa_handler == SIG_IGN)
      continue;
    if (::sigaction(handledsignals[i], &action, nullptr) != 0) continue;
    previous[i] = before;
    taken[i] = true;
  }
}
