// pipshift-server: the reference score and update server. See server/README.md.
#include <pthread.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <iostream>
#include <thread>

#include "server/httpserver.h"
#include "server/openstore.h"
#include "server/scoreboard.h"
#include "server/serverapp.h"

int main(int argc, char** argv) {
  using namespace pipshiftserver;
  const ParsedOptions parsed = parseoptions(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.options) {
    if (parsed.error.empty()) {
      std::cout << usage();
      return 0;
    }
    std::cerr << "pipshift-server: " << parsed.error << "\n" << usage();
    return 2;
  }
  const Options& o = *parsed.options;

  // Termination requests are taken by a thread of their own, so the server can be stopped
  // cleanly (queued posts committed, database closed) from outside a signal handler.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  // The soft descriptor limit is often 1024, kept low for programs that use select(); this one
  // does not, and every connection costs a descriptor. The hard limit is the administrator's.
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }

  try {
    ScoreBoard board(openwriters(o.db));
    Routes routes(board, o.root, o.postlimit);
    http::Limits limits;
    limits.maxperaddress = o.connlimit;
    http::Server server(
        [&routes](http::Request& request, http::Responder responder) {
          routes.handle(request, std::move(responder));
        },
        &Routes::errorpage, limits);

    int port = 0;
    try {
      port = server.listen(o.host, o.port);
    } catch (const std::exception& e) {
      std::cerr << "pipshift-server: " << e.what() << "\n";
      return 1;
    }

    std::thread stopper([&server, stopSignals] {
      int signal = 0;
      sigwait(&stopSignals, &signal);
      server.stop();
    });
    std::cout << "listening on " << o.host << ":" << port << std::endl;
    const unsigned loops = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
    server.run(loops);
    // Wake the stopper if serving ended for another reason.
    pthread_kill(stopper.native_handle(), SIGTERM);
    stopper.join();
    board.stop();
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "pipshift-server: " << e.what() << "\n";
    return 1;
  }
}
