// Download speed and memory of THttpCli beside the curl command, both fetching the same body from
// the same loopback server in the same run.
//
// The server is a child process that answers "GET /<bytes>" with that many bytes from one fixed
// buffer, as fast as the socket takes them. The client writes into /dev/null through an
// unbuffered file, as curl -o /dev/null does. Peak memory (VmHWM) is read after the 50 MB and the
// 200 MB downloads: a client that streams keeps it flat.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>
#include <QCoreApplication>
#include <QFile>
#include <QString>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "online/httpprot.h"

namespace {

constexpr qint64 MB = 1000 * 1000;
int serverport = 0;

struct Tally {
  double bytes = 0;
  double seconds = 0;
  double best = 0;  // MB/s of the fastest run
  void add(double b, double s) {
    bytes += b;
    seconds += s;
    best = std::max(best, b / MB / s);
  }
  double rate() const { return seconds > 0 ? bytes / MB / seconds : 0; }
};
Tally clienttally;
Tally curltally;
long hwm50 = 0;
long hwm200 = 0;

long vmhwm() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

void sendall(int fd, const char* data, size_t length) {
  while (length > 0) {
    const ssize_t n = ::send(fd, data, length, MSG_NOSIGNAL);
    if (n <= 0) return;
    data += n;
    length -= size_t(n);
  }
}

[[noreturn]] void serve(int listener) {
  static std::vector<char> block(1 << 20, 'p');
  for (;;) {
    const int fd = ::accept(listener, nullptr, nullptr);
    if (fd < 0) continue;
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      request.append(buffer, size_t(n));
    }
    long long size = 0;
    if (request.rfind("GET /", 0) == 0) size = std::atoll(request.c_str() + 5);
    const std::string header =
        "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(size) + "\r\n\r\n";
    sendall(fd, header.data(), header.size());
    while (size > 0) {
      const size_t n = size_t(std::min<long long>(size, (long long)block.size()));
      sendall(fd, block.data(), n);
      size -= (long long)n;
    }
    ::close(fd);
  }
}

pid_t startserver() {
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  const int on = 1;
  ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener, 16) != 0) {
    std::perror("server");
    std::exit(1);
  }
  socklen_t length = sizeof address;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  serverport = ntohs(address.sin_port);
  const pid_t child = ::fork();
  if (child == 0) serve(listener);
  ::close(listener);
  return child;
}

QString url(qint64 bytes) {
  return QStringLiteral("http://127.0.0.1:%1/%2").arg(serverport).arg(bytes);
}

// One download by the client into /dev/null; the seconds it took, or a negative number.
double clientdownload(qint64 bytes) {
  THttpCli client;
  QFile sink(QStringLiteral("/dev/null"));
  sink.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
  client.setBodyStream(&sink);
  client.setRequestUrl(url(bytes));
  const auto start = std::chrono::steady_clock::now();
  client.Get();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return client.RcvdCount() == bytes ? seconds : -1;
}

// One download by curl; the transfer time curl reports itself, so its start-up is not counted.
double curldownload(qint64 bytes) {
  const std::string command =
      "curl -s -o /dev/null -w '%{time_total} %{size_download}' '" + url(bytes).toStdString() + "'";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return -1;
  double seconds = 0;
  long long size = 0;
  const int fields = std::fscanf(pipe, "%lf %lld", &seconds, &size);
  const int status = ::pclose(pipe);
  return fields == 2 && status == 0 && size == bytes && seconds > 0 ? seconds : -1;
}

void BM_httpcli(benchmark::State& state) {
  const qint64 bytes = state.range(0) * MB;
  for (auto _ : state) {
    const double seconds = clientdownload(bytes);
    if (seconds < 0) {
      state.SkipWithError("short download");
      return;
    }
    state.SetIterationTime(seconds);
  }
  const long hwm = vmhwm();
  (state.range(0) == 50 ? hwm50 : hwm200) = hwm;
  state.counters["VmHWM_kB"] = double(hwm);
}

// curl and the client take turns, so a busy machine slows both alike.
void BM_sidebyside(benchmark::State& state) {
  const qint64 bytes = state.range(0) * MB;
  for (auto _ : state) {
    const double theirs = curldownload(bytes);
    const double ours = clientdownload(bytes);
    if (theirs < 0 || ours < 0) {
      state.SkipWithError(theirs < 0 ? "curl failed" : "short download");
      return;
    }
    curltally.add(double(bytes), theirs);
    clienttally.add(double(bytes), ours);
    state.SetIterationTime(ours);
  }
  state.counters["client_MBps"] = clienttally.rate();
  state.counters["curl_MBps"] = curltally.rate();
}

BENCHMARK(BM_httpcli)->Arg(50)->Arg(200)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_sidebyside)->Arg(200)->Iterations(10)->Unit(benchmark::kMillisecond)->UseManualTime();

}  // namespace

int main(int argc, char** argv) {
  // The server is forked before Qt starts any thread of its own.
  const pid_t server = startserver();
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  ::kill(server, SIGTERM);
  ::waitpid(server, nullptr, 0);

  std::printf("\n200 MB over loopback, taking turns; mean of all runs (best run in brackets):\n");
  std::printf("  THttpCli  %8.1f MB/s  (%.1f)\n", clienttally.rate(), clienttally.best);
  std::printf("  curl      %8.1f MB/s  (%.1f)\n", curltally.rate(), curltally.best);
  if (curltally.rate() > 0) {
    std::printf("  ratio     %8.2f       (%.2f)   goal >= 0.80\n",
                clienttally.rate() / curltally.rate(), clienttally.best / curltally.best);
  }
  std::printf("Peak memory (VmHWM) after 50 MB: %ld kB, after 200 MB: %ld kB\n", hwm50, hwm200);
  return 0;
}
