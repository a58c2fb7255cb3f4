// pipshift-server under a crowd, measured with the tools a self-hoster would use: ab for
// one-shot HTTP/1.0 page views, wrk for page views and posts over kept-alive connections. The
// server is started with 1,000 scores stored; after the post run it is killed with SIGKILL at
// once and every post wrk saw answered must be in the table.
//
//   build/bench/server/server_bench [--seconds N] [--connections N] [--only SQLite|PostgreSQL]
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iomanip>
#include <iostream>
#include <random>
#include <sstream>

#include "server/openstore.h"
#include "server/recordcheck.h"
#include "server/scoredb.h"
#include "tests/server/pgcluster.h"
#include "tests/server/recordpost.h"
#include "tests/server/serverprocess.h"
#include "tests/support/scratchdir.h"

namespace {

struct Figures {
  double rate = 0;    // answers a second
  double p99ms = -1;  // 99th percentile latency
  long failed = 0;    // answers that were errors, or none
  std::string output;
};

std::string capture(const std::string& command) {
  std::string out;
  if (FILE* p = popen((command + " 2>&1").c_str(), "r")) {
    char buffer[4096];
    std::size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
    pclose(p);
  }
  return out;
}

bool onpath(const char* tool) {
  return capture(std::string("command -v ") + tool).find(tool) != std::string::npos;
}

// The number after `label` on the first line that holds it.
double after(const std::string& text, const std::string& label, std::string* unit = nullptr) {
  const std::size_t at = text.find(label);
  if (at == std::string::npos) return -1;
  std::istringstream in(text.substr(at + label.size()));
  double value = -1;
  in >> value;
  if (unit) {
    std::string u;
    in >> std::noskipws;
    char c;
    while (in.get(c) && c != '\n' && c != ' ') u += c;
    *unit = u;
  }
  return value;
}

double toms(double value, const std::string& unit) {
  if (unit == "us") return value / 1000;
  if (unit == "s") return value * 1000;
  if (unit == "m") return value * 60000;
  return value;
}

Figures ab(const std::string& url, int connections, int requests) {
  Figures f;
  f.output = capture("ab -q -c " + std::to_string(connections) + " -n " + std::to_string(requests) +
                     " " + url);
  f.rate = after(f.output, "Requests per second:");
  f.p99ms = after(f.output, "  99%");
  const double failed = after(f.output, "Failed requests:");
  const double non2xx = after(f.output, "Non-2xx responses:");
  f.failed = static_cast<long>(std::max(0.0, failed) + std::max(0.0, non2xx));
  return f;
}

Figures wrk(const std::string& url, int connections, int seconds, const std::string& script) {
  Figures f;
  std::string command =
      "wrk -t2 -c" + std::to_string(connections) + " -d" + std::to_string(seconds) + "s --latency ";
  if (!script.empty()) command += "-s " + script + " ";
  f.output = capture(command + url);
  f.rate = after(f.output, "Requests/sec:");
  std::string unit;
  const std::size_t dist = f.output.find("Latency Distribution");
  if (dist != std::string::npos) {
    f.p99ms = toms(after(f.output.substr(dist), "99%", &unit), unit);
  }
  const double non2xx = after(f.output, "Non-2xx or 3xx responses:");
  const double errors = after(f.output, "Socket errors:");
  f.failed = static_cast<long>(std::max(0.0, non2xx)) + (errors >= 0 ? 1 : 0);
  return f;
}

void row(const std::string& store, const std::string& what, const Figures& f,
         const std::string& note = {}) {
  std::cout << std::left << std::setw(11) << store << std::setw(30) << what << std::right
            << std::setw(10) << std::fixed << std::setprecision(0) << f.rate << std::setw(10)
            << std::setprecision(2) << f.p99ms << " ms";
  if (f.failed) std::cout << "  (" << f.failed << " failed)";
  if (!note.empty()) std::cout << "  " << note;
  std::cout << std::endl;
}

// Returns false when a figure misses its goal or a post was lost.
bool runstore(const std::string& name, const std::string& db, int seconds, int connections) {
  ScratchDir dir;
  const auto root = dir.path() / "root";
  std::filesystem::create_directories(root / "pipshift");
  std::ofstream(root / "pipshift" / "pipshiftversion.txt") << "1.0.0";
  servertest::ServerProcess server;
  const int port =
      server.start({"--port", "0", "--db", db, "--root", root.string(), "--post-limit", "0"});
  if (port <= 0) {
    std::cout << name << ": the server did not start: " << server.firstline() << std::endl;
    return false;
  }
  const std::size_t before = pipshiftserver::openstore(db)->count();
  {
    httplib::Client client("127.0.0.1", port);
    client.set_keep_alive(true);
    std::mt19937 random(1234);
    for (int i = 0; i < 1000; ++i) {
      const std::string target = "/cgi-bin/pipshift.cgi?name=seed" + std::to_string(i) +
                                 "&date=1/1/26&score=" + std::to_string(random() % 801);
      const auto res = client.Get(target.c_str());
      if (!res || res->status != 200) {
        std::cout << name << ": seeding failed" << std::endl;
        return false;
      }
    }
  }
  const std::string base = "http://127.0.0.1:" + std::to_string(port);
  const std::string page = base + "/counter/pipshift.shtml";
  bool good = true;

  const Figures oneShot = ab(page, connections, std::max(5000, 4000 * seconds));
  row(name, "page, one-shot (ab)", oneShot);
  const Figures kept = wrk(page, connections, seconds, {});
  row(name, "page, keep-alive (wrk)", kept);
  good = good && oneShot.rate >= 5000 && kept.rate >= 5000 && kept.rate >= oneShot.rate &&
         !oneShot.failed && !kept.failed;

  const Figures posts = wrk(base + "/", connections, seconds, PIPSHIFT_POST_SCRIPT);
  server.stop(SIGKILL);  // straight after the load: nothing gets to finish its work
  const double acknowledged = after(posts.output, "acknowledged ");
  const std::size_t rows = pipshiftserver::openstore(db)->count() - before - 1000;
  const bool none = acknowledged >= 0 && rows >= static_cast<std::size_t>(acknowledged);
  std::ostringstream note;
  note << "answered " << static_cast<long>(acknowledged) << ", in the table after kill -9 " << rows
       << (none ? " (none lost)" : " (POSTS LOST)");
  row(name, "posts (wrk)", posts, note.str());
  good = good && none && posts.rate >= 2000;
  if (acknowledged < 0) std::cout << posts.output << std::endl;
  return good;
}

// The check a game record gets at the server, on one core: decoded, replayed placement by
// placement and tick by tick from its deal, its score compared. Real won games of 50 deals.
bool recordchecks(int seconds) {
  std::vector<std::string> bodies;
  for (int deal = 1; deal <= 50; ++deal) {
    const servertest::PlayedGame played = servertest::playgame(deal, 3);
    bodies.push_back(servertest::recordbody("Bench", "12/9/26", played.score, played.record));
  }
  using Clock = std::chrono::steady_clock;
  const auto began = Clock::now();
  const auto until = began + std::chrono::seconds(seconds);
  long refused = 0;
  std::vector<double> times;
  while (Clock::now() < until) {
    for (const std::string& body : bodies) {
      const auto start = Clock::now();
      refused += pipshiftserver::checkrecordpost(body).status != 0 ? 1 : 0;
      times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
  }
  const double elapsed = std::chrono::duration<double>(Clock::now() - began).count();
  Figures f;
  f.rate = static_cast<double>(times.size()) / elapsed;
  std::sort(times.begin(), times.end());
  f.p99ms = times[times.size() * 99 / 100];
  f.failed = refused;
  row("in-process", "record checks, one core", f, f.rate >= 2000 ? "" : "below 2000/s");
  return f.rate >= 2000 && refused == 0;
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = 5;
  int connections = 16;
  std::string only;  // "SQLite" or "PostgreSQL": run that store alone
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    if (a == "--only") only = argv[i + 1];
    if (a == "--seconds") seconds = std::max(1, std::atoi(argv[i + 1]));
    if (a == "--connections") connections = std::max(1, std::atoi(argv[i + 1]));
  }
  if (!onpath("ab") || !onpath("wrk")) {
    std::cerr << "server_bench needs ab (apache2-utils) and wrk: scripts/install-deps\n";
    return 2;
  }
  std::cout << "pipshift-server, 1000 scores stored, " << connections << " connections, " << seconds
            << " s a run\n"
            << std::left << std::setw(11) << "store" << std::setw(30) << "what" << std::right
            << std::setw(10) << "per s" << std::setw(13) << "p99" << std::endl;
  ScratchDir dir;
  bool good = recordchecks(seconds);
  if (only.empty() || only == "SQLite") {
    good = runstore("SQLite", (dir.path() / "scores.db").string(), seconds, connections);
  }
  if (!only.empty() && only != "PostgreSQL") {
    // nothing more
  } else if (servertest::PgCluster cluster(/*durable=*/true); cluster.ok()) {
    good = runstore("PostgreSQL", cluster.address(), seconds, connections) && good;
  } else {
    std::cout << "PostgreSQL  skipped: " << cluster.why() << std::endl;
  }
  std::cout << (good ? "all goals met" : "a goal was missed") << " (pages >= 5000/s, keep-alive >= "
            << "one-shot, posts >= 2000/s, none lost, record checks >= 2000/s)" << std::endl;
  return good ? 0 : 1;
}
