// Runs the built pipshift-server as a child process on 127.0.0.1 with a free port, the way a
// self-hoster would, and reads the port it announces.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/scratchdir.h"

extern char** environ;

namespace servertest {

inline std::filesystem::path serverbinary() {
#ifdef PIPSHIFT_SERVER_BINARY
  return PIPSHIFT_SERVER_BINARY;
#else
  const char* dir = std::getenv("PIPSHIFT_TEST_BIN_DIR");
  return std::filesystem::path(dir ? dir : ".") / "pipshift-server";
#endif
}

class ServerProcess {
 public:
  ~ServerProcess() { stop(SIGKILL); }

  // Starts the server with the given arguments; returns the announced line's port, or 0.
  // `wrapper` is a command that runs the server, e.g. {"/usr/bin/prlimit", "--nofile=64:64"}.
  int start(const std::vector<std::string>& args, const std::vector<std::string>& wrapper = {}) {
    int fds[2];
    if (pipe(fds) != 0) return 0;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    std::vector<std::string> all = wrapper;
    all.push_back(serverbinary().string());
    all.insert(all.end(), args.begin(), args.end());
    const std::string binary = all.front();
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = posix_spawn(&pid_, binary.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
      pid_ = -1;
      close(fds[0]);
      return 0;
    }
    firstline_ = readline(fds[0]);
    close(fds[0]);
    const std::string prefix = "listening on 127.0.0.1:";
    if (firstline_.rfind(prefix, 0) != 0) return 0;
    port_ = std::atoi(firstline_.c_str() + prefix.size());
    return port_;
  }

  // Sends the signal and waits for the process; returns its wait status.
  int stop(int signal = SIGTERM) {
    if (pid_ <= 0) return -1;
    kill(pid_, signal);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
  }

  // Waits for a process that is expected to end by itself (bad command line).
  int wait() {
    int status = 0;
    if (pid_ > 0) waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
  }

  int port() const { return port_; }
  pid_t pid() const { return pid_; }
  const std::string& firstline() const { return firstline_; }

 private:
  static std::string readline(int fd) {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 200) <= 0) continue;
      char c;
      if (read(fd, &c, 1) != 1 || c == '\n') break;
      line += c;
    }
    return line;
  }

  pid_t pid_ = -1;
  int port_ = 0;
  std::string firstline_;
};

// A connection to 127.0.0.1:port, or -1.
inline int connectto(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Everything that arrives on fd until the other end closes ("<closed>" is added then), or until
// `ms` pass in silence.
inline std::string readAll(int fd, int ms) {
  std::string got;
  char buffer[4096];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0) break;
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) return got + "<closed>";
    got.append(buffer, static_cast<std::size_t>(n));
  }
  return got;
}

// The bytes waiting unread at the server's end of its connection with `client` (or, with no
// client, the connections waiting to be taken in on its listening socket); -1 when none is found.
inline long unread(int serverPort, int client = -1) {
  unsigned clientPort = 0;
  if (client >= 0) {
    sockaddr_in mine{};
    socklen_t len = sizeof mine;
    getsockname(client, reinterpret_cast<sockaddr*>(&mine), &len);
    clientPort = ntohs(mine.sin_port);
  }
  std::ifstream tcp("/proc/net/tcp");
  std::string line;
  std::getline(tcp, line);
  while (std::getline(tcp, line)) {
    unsigned localPort = 0;
    unsigned remotePort = 0;
    unsigned state = 0;
    unsigned long queued = 0;
    if (std::sscanf(line.c_str(), " %*u: %*x:%x %*x:%x %x %*x:%lx", &localPort, &remotePort, &state,
                    &queued) == 4 &&
        localPort == static_cast<unsigned>(serverPort) && remotePort == clientPort &&
        (client >= 0) == (state != 0x0A)) {
      return static_cast<long>(queued);
    }
  }
  return -1;
}

// Sends raw request bytes to 127.0.0.1:port and returns everything the server answers.
inline std::string rawexchange(int port, const std::string& request) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return {};
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string reply;
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
          static_cast<ssize_t>(request.size())) {
    char buffer[4096];
    for (;;) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 20000) <= 0) break;
      const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      reply.append(buffer, static_cast<std::size_t>(n));
    }
  }
  close(fd);
  return reply;
}

}  // namespace servertest
