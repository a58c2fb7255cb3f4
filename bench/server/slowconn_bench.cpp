// The score server under a slow-connection attack: one address (127.0.0.2) opens a crowd of
// connections and sends each a byte every two seconds, opening a new one whenever the server
// closes one; meanwhile a player's browser on another address (127.0.0.3) asks for the list page
// again and again. Printed: the share of its pages that came whole within one second, and their
// p99, with the server's own descriptor limit and with 1,024 descriptors. Everything stays on
// the loopback and ends within a minute or so.
//
//   build/bench/server/slowconn_bench [--attackers N] [--pages N] [--conn-limit N]
//
// Exits 1 when fewer than 99 % of the pages came within a second in any run.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "tests/server/serverprocess.h"
#include "tests/support/scratchdir.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::uint32_t kAttacker = 0x7F000002;  // 127.0.0.2
constexpr std::uint32_t kPlayer = 0x7F000003;    // 127.0.0.3
constexpr char kSlowRequest[] = "GET /counter/pipshift.shtml HTTP/1.1\r\nHost: x\r\n";

int opensocket(std::uint32_t from, int port, bool blocking) {
  const int fd = socket(AF_INET, SOCK_STREAM | (blocking ? 0 : SOCK_NONBLOCK), 0);
  if (fd < 0) return -1;
  sockaddr_in source{};
  source.sin_family = AF_INET;
  source.sin_addr.s_addr = htonl(from);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<std::uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0 ||
      (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 && errno != EINPROGRESS)) {
    close(fd);
    return -1;
  }
  return fd;
}

// The crowd: up to `count` connections from one address, each fed a byte of a request every two
// seconds, and opened again (a few hundred every tenth of a second at most) once the server has
// closed it.
class Attack {
 public:
  Attack(int port, int count) : port_(port), slots_(static_cast<std::size_t>(count)) {
    thread_ = std::thread([this] { run(); });
  }
  ~Attack() {
    stop_ = true;
    thread_.join();
    for (Slot& s : slots_) {
      if (s.fd >= 0) close(s.fd);
    }
  }
  long opened() const { return opened_; }
  long closedbyserver() const { return closed_; }

 private:
  struct Slot {
    int fd = -1;
    Clock::time_point next;
    std::size_t sent = 0;
  };

  void run() {
    const auto start = Clock::now();
    std::size_t k = 0;
    for (Slot& s : slots_) s.next = start + std::chrono::milliseconds(k++ * 2000 / slots_.size());
    while (!stop_) {
      const auto now = Clock::now();
      int budget = 300;
      for (Slot& s : slots_) {
        if (now < s.next) continue;
        if (s.fd < 0) {
          if (budget-- <= 0) continue;
          s.fd = opensocket(kAttacker, port_, false);
          s.sent = 0;
          s.next = now + 100ms;
          if (s.fd >= 0) ++opened_;
          continue;
        }
        const char byte = kSlowRequest[s.sent % (sizeof kSlowRequest - 1)];
        const ssize_t n = send(s.fd, &byte, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n == 1) {
          ++s.sent;
          s.next = now + 2s;
        } else if (errno == EAGAIN || (errno == ENOTCONN && s.sent == 0)) {
          s.next = now + 200ms;
        } else {
          close(s.fd);
          s.fd = -1;
          ++closed_;
        }
      }
      std::this_thread::sleep_for(100ms);
    }
  }

  int port_;
  std::vector<Slot> slots_;
  std::atomic<bool> stop_{false};
  std::atomic<long> opened_{0};
  std::atomic<long> closed_{0};
  std::thread thread_;
};

// One page view as a browser makes it: connect, ask, read to the end. The time it took, or a
// negative value when no whole answer came within `limit`.
double pageview(int port, std::chrono::milliseconds limit) {
  const auto begun = Clock::now();
  const int fd = opensocket(kPlayer, port, false);
  if (fd < 0) return -1;
  const std::string ask = "GET /counter/pipshift.shtml HTTP/1.0\r\nHost: x\r\n\r\n";
  std::size_t sent = 0;
  std::string got;
  char buffer[16384];
  const auto deadline = begun + limit;
  bool ok = false;
  while (Clock::now() < deadline) {
    pollfd p{fd, static_cast<short>(sent < ask.size() ? POLLOUT : POLLIN), 0};
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (poll(&p, 1, static_cast<int>(std::max<long>(1, left.count()))) <= 0) continue;
    if (sent < ask.size()) {
      const ssize_t n = send(fd, ask.data() + sent, ask.size() - sent, MSG_NOSIGNAL);
      if (n < 0 && errno != EAGAIN) break;
      if (n > 0) sent += static_cast<std::size_t>(n);
      continue;
    }
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n > 0) {
      got.append(buffer, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EAGAIN) continue;
    ok = n == 0 && got.rfind("HTTP/1.1 200", 0) == 0 && got.find("</html>") != std::string::npos;
    break;
  }
  close(fd);
  if (!ok) return -1;
  return std::chrono::duration<double, std::milli>(Clock::now() - begun).count();
}

struct Result {
  int pages = 0;
  int fast = 0;  // whole within a second
  double p99ms = 0;
  long opened = 0;
  long closed = 0;
};

bool run(const std::string& label, int attackers, int pages, const std::vector<std::string>& extra,
         const std::vector<std::string>& wrapper) {
  ScratchDir dir;
  const auto root = dir.path() / "root";
  std::filesystem::create_directories(root / "pipshift");
  std::ofstream(root / "pipshift" / "pipshiftversion.txt") << "1.0.0";
  std::vector<std::string> args{"--port", "0",          "--db", (dir.path() / "scores.db").string(),
                                "--root", root.string()};
  args.insert(args.end(), extra.begin(), extra.end());
  servertest::ServerProcess server;
  const int port = server.start(args, wrapper);
  if (port <= 0) {
    std::cout << label << ": the server did not start: " << server.firstline() << std::endl;
    return false;
  }
  Result r;
  std::vector<double> times;
  {
    Attack attack(port, attackers);
    // Long enough for the whole crowd to have been opened and to be holding on.
    std::this_thread::sleep_for(
        std::chrono::milliseconds(std::max(3000, 100 * (attackers / 300 + 1) + 2000)));
    for (int i = 0; i < pages; ++i) {
      const double ms = pageview(port, 3000ms);
      ++r.pages;
      if (ms >= 0 && ms < 1000) ++r.fast;
      times.push_back(ms < 0 ? 3000 : ms);
      std::this_thread::sleep_for(20ms);
    }
    r.opened = attack.opened();
    r.closed = attack.closedbyserver();
  }
  std::sort(times.begin(), times.end());
  r.p99ms = times.empty() ? 0 : times[std::min(times.size() - 1, times.size() * 99 / 100)];
  const double share = r.pages ? 100.0 * r.fast / r.pages : 0;
  std::cout << std::left << std::setw(26) << label << std::right << std::setw(10) << attackers
            << std::setw(9) << r.pages << std::setw(11) << std::fixed << std::setprecision(1)
            << share << " %" << std::setw(10) << std::setprecision(1) << r.p99ms << " ms"
            << "   (attacker opened " << r.opened << ", closed by the server " << r.closed << ")"
            << std::endl;
  return share >= 99.0;
}

}  // namespace

int main(int argc, char** argv) {
  int attackers = 12000;
  int pages = 300;
  std::vector<std::string> extra;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    if (a == "--attackers") attackers = std::max(1, std::atoi(argv[i + 1]));
    if (a == "--pages") pages = std::max(1, std::atoi(argv[i + 1]));
    if (a == "--conn-limit") extra = {"--conn-limit", argv[i + 1]};
  }
  // The crowd needs a descriptor a connection here too.
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
    if (files.rlim_cur != RLIM_INFINITY && static_cast<rlim_t>(attackers) + 64 > files.rlim_cur) {
      attackers = static_cast<int>(files.rlim_cur) - 64;
    }
  }
  std::cout << "pipshift-server under a slow-connection attack from 127.0.0.2 (a byte every 2 s),\n"
            << "list pages asked for from 127.0.0.3, one at a time\n"
            << std::left << std::setw(26) << "server descriptors" << std::right << std::setw(10)
            << "crowd" << std::setw(9) << "pages" << std::setw(13) << "under 1 s" << std::setw(13)
            << "p99" << std::endl;
  bool good = run("its own limit", attackers, pages, extra, {});
  const char* prlimit = "/usr/bin/prlimit";
  if (access(prlimit, X_OK) == 0) {
    good = run("1,024", std::min(attackers, 600), pages, extra, {prlimit, "--nofile=1024:1024"}) &&
           good;
    good = run("1,024", attackers, pages, extra, {prlimit, "--nofile=1024:1024"}) && good;
  } else {
    std::cout << "1,024: skipped, no " << prlimit << " here" << std::endl;
  }
  std::cout << (good ? "goal met" : "goal missed")
            << " (99 % of the pages whole within 1 s in every run)" << std::endl;
  return good ? 0 : 1;
}
