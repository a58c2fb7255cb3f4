// pipshift-server: the reference score and update server. See server/README.md.
#include <httplib.h>

#include <csignal>
#include <iostream>
#include <thread>

#include "server/scoredb.h"
#include "server/serverapp.h"

int main(int argc, char** argv) {
  using namespace pipshiftserver;
  const ParsedOptions parsed = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
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
  // cleanly (database closed) from outside a signal handler.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  try {
    ScoreDb db(o.db);
    httplib::Server server;
    installRoutes(server, db, o.root);

    int port = o.port;
    if (port == 0) {
      port = server.bind_to_any_port(o.host);
      if (port <= 0) port = -1;
    } else if (!server.bind_to_port(o.host, port)) {
      port = -1;
    }
    if (port < 0) {
      std::cerr << "pipshift-server: cannot listen on " << o.host << ":" << o.port << "\n";
      return 1;
    }

    std::thread stopper([&server, stopSignals] {
      int signal = 0;
      sigwait(&stopSignals, &signal);
      server.stop();
    });
    std::cout << "listening on " << o.host << ":" << port << std::endl;
    const bool ok = server.listen_after_bind();
    // Wake the stopper if listening ended for another reason.
    if (stopper.joinable()) {
      pthread_kill(stopper.native_handle(), SIGTERM);
      stopper.join();
    }
    return ok ? 0 : 1;
  } catch (const std::exception& e) {
    std::cerr << "pipshift-server: " << e.what() << "\n";
    return 1;
  }
}
