// What starting Pipshift costs beside the least a Qt Widgets program with one window costs, on
// this machine and in the same run:
//
//  - start-up: from just before the process is created to the moment its window's first whole
//    frame reaches the window system, on the offscreen platform and on a private Xvfb;
//  - resident memory (VmRSS) at that moment, and, without a goal, 2 s later (offscreen), when the
//    update check and the sound player, both started after the paint, have been made;
//  - processor time (utime + stime) while the game sits idle with a game running, under Xvfb.
//
// The goals are judged beside that plain window (--minimal). A plain window draws no text and so
// never starts fontconfig, FreeType and HarfBuzz; a second yardstick (--text), a window with a
// menu bar and one line of text, takes turns with the other two, and the game's figures are also
// printed beside it, without a goal: the part of the game's start-up any text costs.
//
// How "shown and painted" is seen without touching the program: the paint probe library is
// preloaded into every program and reports every QBackingStore::flush, the call through which
// Qt Widgets hands a finished frame to the platform (the X server or the offscreen buffer).
// The first flush that covers the whole window is the moment the window is shown with all its
// contents drawn. Under Xvfb the X server's own MapNotify is recorded too, as a cross-check: a
// window is mapped first and painted after.
//
// The game is copied into a fresh folder for every start, as a player's folder holds it.
//
//   startup_bench --pipshift EXE --minimal EXE --text EXE --probe LIB [--runs N] [--idle-seconds S]
//
// Exit status: 0 measured (goals met or not: the figures say), 1 a measurement failed, 2 bad
// arguments.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

struct Options {
  std::string pipshift, minimal, text, probe;
  int runs = 10;
  int idleseconds = 60;
};

struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

double monotonic() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

std::string readfile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Resident memory in KiB, from /proc/<pid>/status.
long residentkib(pid_t pid) {
  std::istringstream status(readfile("/proc/" + std::to_string(pid) + "/status"));
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  throw Failure("no VmRSS for process " + std::to_string(pid));
}

// User plus system processor time in clock ticks, from /proc/<pid>/stat.
long long cputicks(pid_t pid) {
  const std::string stat = readfile("/proc/" + std::to_string(pid) + "/stat");
  // The command name is in parentheses and may hold blanks; the fields count from after it.
  const auto close = stat.rfind(')');
  if (close == std::string::npos)
    throw Failure("unreadable stat of process " + std::to_string(pid));
  std::istringstream fields(stat.substr(close + 2));
  std::vector<std::string> f;
  for (std::string word; fields >> word;) f.push_back(word);
  // Field 14 (utime) and 15 (stime) of the whole line are 12 and 13 after the name.
  if (f.size() < 14) throw Failure("short stat of process " + std::to_string(pid));
  return std::stoll(f[11]) + std::stoll(f[12]);
}

// Processor time in seconds, to the nanosecond: the scheduler's run time of every thread
// (/proc/<pid>/task/*/schedstat), where utime and stime only count whole clock ticks.
double cpuseconds(pid_t pid) {
  const fs::path tasks = "/proc/" + std::to_string(pid) + "/task";
  std::error_code error;
  long long nanos = 0;
  bool any = false;
  for (const auto& task : fs::directory_iterator(tasks, error)) {
    std::istringstream fields(readfile((task.path() / "schedstat").string()));
    long long run = 0;
    if (fields >> run) {
      nanos += run;
      any = true;
    }
  }
  if (!any) return double(cputicks(pid)) / double(sysconf(_SC_CLK_TCK));
  return double(nanos) * 1e-9;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// ---- A private X server ------------------------------------------------------------------

class Xvfb {
 public:
  Xvfb() {
    int fds[2];
    if (pipe(fds) != 0) throw Failure("pipe");
    pid_ = fork();
    if (pid_ == 0) {
      close(fds[0]);
      const int devnull = open("/dev/null", O_RDWR);
      dup2(devnull, 1);
      dup2(devnull, 2);
      const std::string fd = std::to_string(fds[1]);
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten",
             "tcp", "-noreset", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    std::string number;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (number.empty()) {
      stop();
      throw Failure("Xvfb did not start (is it installed?)");
    }
    display_ = ":" + number;
  }
  ~Xvfb() { stop(); }
  const std::string& display() const { return display_; }
  pid_t pid() const { return pid_; }

 private:
  void stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
  }
  pid_t pid_ = -1;
  std::string display_;
};

// Watches the X server for top-level windows being mapped.
class MapWatch {
 public:
  explicit MapWatch(const std::string& display) {
    connection_ = xcb_connect(display.c_str(), nullptr);
    if (xcb_connection_has_error(connection_)) throw Failure("cannot connect to " + display);
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection_, screen->root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection_);
  }
  ~MapWatch() { xcb_disconnect(connection_); }
  int fd() const { return xcb_get_file_descriptor(connection_); }

  // The time of the first top-level, non-override-redirect map seen since the last call.
  std::optional<double> drain() {
    std::optional<double> mapped;
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
      if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY) {
        const auto* map = reinterpret_cast<xcb_map_notify_event_t*>(event);
        if (!map->override_redirect && !mapped) mapped = monotonic();
      }
      std::free(event);
    }
    return mapped;
  }

 private:
  xcb_connection_t* connection_ = nullptr;
};

// ---- One started program -----------------------------------------------------------------

struct Environment {
  std::string platform;  // "offscreen" or "xcb"
  std::string display;
  std::string probe;
  std::string scratch;
};

class Started {
 public:
  // Starts exe in folder; records the moment just before the process is made.
  Started(const std::string& exe, const std::string& folder, const Environment& env) {
    int fds[2];
    if (pipe(fds) != 0) throw Failure("pipe");
    fcntl(fds[0], F_SETFD, FD_CLOEXEC);

    std::map<std::string, std::string> vars;
    for (char** e = environ; *e; ++e) {
      const std::string entry = *e;
      const auto eq = entry.find('=');
      if (eq != std::string::npos) vars[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    vars["QT_QPA_PLATFORM"] = env.platform;
    if (env.platform == "xcb") {
      vars["DISPLAY"] = env.display;
    } else {
      vars.erase("DISPLAY");
    }
    vars.erase("WAYLAND_DISPLAY");
    vars["LD_PRELOAD"] = env.probe;
    vars["PIPSHIFT_PAINTPROBE_FD"] = std::to_string(fds[1]);
    vars["XDG_RUNTIME_DIR"] = env.scratch + "/runtime";
    vars["HOME"] = env.scratch + "/home";
    std::vector<std::string> strings;
    for (const auto& [k, v] : vars) strings.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& s : strings) envp.push_back(s.data());
    envp.push_back(nullptr);

    begun_ = monotonic();
    pid_ = fork();
    if (pid_ == 0) {
      if (chdir(folder.c_str()) != 0) _exit(126);
      const int devnull = open("/dev/null", O_RDWR);
      dup2(devnull, 0);
      dup2(devnull, 1);
      dup2(devnull, 2);
      char* argv[] = {const_cast<char*>(exe.c_str()), nullptr};
      execve(exe.c_str(), argv, envp.data());
      _exit(127);
    }
    close(fds[1]);
    if (pid_ < 0) throw Failure("fork");
    reports_ = fds[0];
  }

  ~Started() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (reports_ >= 0) close(reports_);
  }

  pid_t pid() const { return pid_; }
  double begun() const { return begun_; }

  // Ends the program at once and returns the processor time (user + system, all its threads)
  // it used in its whole life: taken right after the paint, that is what showing the window
  // cost, whatever else the machine was doing meanwhile.
  double stop() {
    kill(pid_, SIGKILL);
    int status = 0;
    rusage usage{};
    if (wait4(pid_, &status, 0, &usage) != pid_) throw Failure("wait4");
    pid_ = -1;
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) * 1e-6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
  }

  // Waits for the first whole-window flush; returns its time. Watches maps meanwhile.
  double painted(MapWatch* maps, double timeout = 30) {
    const double deadline = monotonic() + timeout;
    while (!firstwhole_) {
      const double left = deadline - monotonic();
      if (left <= 0) {
        throw Failure("no whole window was painted within " + std::to_string(int(timeout)) +
                      " s (" + std::to_string(flushes_) + " partial frames reported)");
      }
      pollonce(maps, left);
    }
    if (maps) {
      // The map reaches this process's X connection at about the same time; wait briefly.
      for (int i = 0; i < 200 && !mapped_; ++i) pollonce(maps, 0.01);
    }
    return *firstwhole_;
  }

  std::optional<double> mapped() const { return mapped_; }
  int flushes() const { return flushes_; }

  // Reads what arrives for a while, counting flushes.
  void drain(double seconds) {
    const double until = monotonic() + seconds;
    for (double left; (left = until - monotonic()) > 0;) pollonce(nullptr, left);
  }

 private:
  void pollonce(MapWatch* maps, double seconds) {
    pollfd fds[2] = {{reports_, POLLIN, 0}, {maps ? maps->fd() : -1, POLLIN, 0}};
    const int n = poll(fds, maps ? 2 : 1, std::max(1, int(seconds * 1000)));
    if (n < 0 && errno != EINTR) throw Failure("poll");
    if (maps) {
      if (auto at = maps->drain(); at && !mapped_) mapped_ = at;
    }
    if (fds[0].revents & (POLLIN | POLLHUP)) {
      char chunk[4096];
      const ssize_t got = read(reports_, chunk, sizeof chunk);
      if (got <= 0) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
          pid_ = -1;
          throw Failure("the program ended before its window was painted (status " +
                        std::to_string(status) + ")");
        }
        return;
      }
      pending_.append(chunk, size_t(got));
      for (size_t eol; (eol = pending_.find('\n')) != std::string::npos;) {
        const std::string line = pending_.substr(0, eol);
        pending_.erase(0, eol + 1);
        double at = 0;
        int whole = 0;
        if (std::sscanf(line.c_str(), "flush %lf %d", &at, &whole) == 2) {
          ++flushes_;
          if (whole && !firstwhole_) firstwhole_ = at;
        }
      }
    }
  }

  pid_t pid_ = -1;
  int reports_ = -1;
  double begun_ = 0;
  std::string pending_;
  std::optional<double> firstwhole_;
  std::optional<double> mapped_;
  int flushes_ = 0;
};

// ---- The measurements --------------------------------------------------------------------

struct Program {
  std::string name;
  std::string exe;
  bool isgame;
};

// A port on 127.0.0.1 that refuses connections: one the system just handed out and took back.
int closedport() {
  static const int port = [] {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    if (s < 0 || bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
      throw Failure("no loopback port for the update check");
    }
    close(s);
    return int(ntohs(a.sin_port));
  }();
  return port;
}

// A fresh program folder: the game gets a copy of itself there, as a player's folder would be, with
// the update check on as it is by default, but pointed at a port on this machine where nothing
// listens: the check costs what it costs at every start, and nothing leaves the machine.
std::string preparefolder(const Program& p, const std::string& scratch, int serial) {
  const std::string folder = scratch + "/run-" + std::to_string(serial);
  fs::create_directories(folder);
  if (!p.isgame) return folder;
  fs::copy_file(p.exe, folder + "/pipshift", fs::copy_options::overwrite_existing);
  const std::string nowhere = "http://127.0.0.1:" + std::to_string(closedport()) + "/";
  std::ofstream ini(folder + "/pipshift.ini");
  ini << "[pipshift]\r\nUpdateServer=" << nowhere << "\r\nScoreServer=" << nowhere << "\r\n";
  return folder;
}

std::string exefor(const Program& p, const std::string& folder) {
  return p.isgame ? folder + "/pipshift" : p.exe;
}

struct Figures {
  std::vector<double> startms, mapms, cpums;
  std::vector<double> rssmib, settledmib;
  int unsettled = 0;  // game runs that had not yet loaded what starts after the paint
};

int serial = 0;  // numbers the scratch program folders

void startups(const std::vector<Program>& programs, Environment env, MapWatch* maps, int runs,
              std::map<std::string, Figures>& out) {
  // One warm-up round loads the libraries into the page cache for all alike; then the programs
  // take turns, so a busy moment of the machine falls on each.
  for (int round = -1; round < runs; ++round) {
    for (const Program& p : programs) {
      const std::string folder = preparefolder(p, env.scratch, ++serial);
      double painted = 0;
      long rss = 0;
      std::optional<double> mapped;
      double begun = 0;
      double cpu = 0;
      {
        if (maps) maps->drain();
        Started started(exefor(p, folder), folder, env);
        painted = started.painted(maps);
        rss = residentkib(started.pid());
        cpu = started.stop();
        mapped = started.mapped();
        begun = started.begun();
      }
      fs::remove_all(folder);
      if (round < 0) continue;
      Figures& f = out[p.name];
      f.startms.push_back((painted - begun) * 1000);
      f.rssmib.push_back(double(rss) / 1024);
      f.cpums.push_back(cpu * 1000);
      if (mapped) f.mapms.push_back((*mapped - begun) * 1000);
    }
  }
}

// The game asks for the version (loading libcurl) and makes its sound player only once its window
// is on screen, so the memory when painted leaves them out. Two seconds on both are done (the
// update check's port is closed, so it ends at once): the resident memory then is what the program
// settles at. Each program is started afresh for this, taking turns as above; the page cache is
// warm by now. libcurl in the memory map shows the late work has run; the sound player leaves no
// such mark (Qt Multimedia is part of the program).
constexpr double kSettleSeconds = 2;

void settled(const std::vector<Program>& programs, const Environment& env, int runs,
             std::map<std::string, Figures>& out) {
  for (int round = 0; round < runs; ++round) {
    for (const Program& p : programs) {
      const std::string folder = preparefolder(p, env.scratch, ++serial);
      long rss = 0;
      {
        Started started(exefor(p, folder), folder, env);
        started.painted(nullptr);
        started.drain(kSettleSeconds);
        rss = residentkib(started.pid());
        if (p.isgame) {
          const std::string maps = readfile("/proc/" + std::to_string(started.pid()) + "/maps");
          if (maps.find("/libcurl.so") == std::string::npos) {
            ++out[p.name].unsettled;
          }
        }
      }
      fs::remove_all(folder);
      out[p.name].settledmib.push_back(double(rss) / 1024);
    }
  }
}

void run(const Options& o) {
  const std::string scratch =
      fs::temp_directory_path() / ("pipshift-startup-" + std::to_string(getpid()));
  fs::create_directories(scratch + "/home");
  fs::create_directories(scratch + "/runtime");
  fs::permissions(scratch + "/runtime", fs::perms::owner_all, fs::perm_options::replace);
  struct Cleanup {
    std::string dir;
    ~Cleanup() { fs::remove_all(dir); }
  } cleanup{scratch};

  const std::vector<Program> programs = {
      {"pipshift", o.pipshift, true}, {"minimal", o.minimal, false}, {"text", o.text, false}};
  Environment env{"offscreen", "", o.probe, scratch};

  std::cout << "Start-up of " << o.pipshift << "\nbeside " << o.minimal << "\nand " << o.text
            << " (a window that draws text), " << o.runs
            << " runs each after one warm-up, taking turns.\n"
            << std::flush;

  std::map<std::string, Figures> offscreen, xcb;
  startups(programs, env, nullptr, o.runs, offscreen);
  settled(programs, env, o.runs, offscreen);

  Xvfb x;
  env.platform = "xcb";
  env.display = x.display();
  MapWatch maps(x.display());
  startups(programs, env, &maps, o.runs, xcb);

  // The goals are judged beside the plain window. Beside the window with a menu bar and a line of
  // text, without a goal: what is left is the game's own, the rest any window that says
  // something pays (fontconfig, FreeType, HarfBuzz and the fonts).
  auto besidetext = [](std::map<std::string, Figures>& f) {
    auto line = [](const char* what, double game, double text, double minimal, const char* unit) {
      std::printf("  %-34s %9.1f %s %9.1f %s   %5.2fx   %9.2fx\n", what, game, unit, text, unit,
                  game / text, text / minimal);
    };
    std::printf("  Beside a window that draws text: the part of start-up that any text costs\n");
    std::printf("%-36s %12s %12s %8s %13s\n", "", "pipshift", "text window", "ratio",
                "text/minimal");
    line("start to window painted", median(f["pipshift"].startms), median(f["text"].startms),
         median(f["minimal"].startms), "ms ");
    line("resident memory when painted", median(f["pipshift"].rssmib), median(f["text"].rssmib),
         median(f["minimal"].rssmib), "MiB");
    line("processor time to window painted", median(f["pipshift"].cpums), median(f["text"].cpums),
         median(f["minimal"].cpums), "ms ");
    if (!f["pipshift"].settledmib.empty()) {
      line("resident memory 2 s after painted", median(f["pipshift"].settledmib),
           median(f["text"].settledmib), median(f["minimal"].settledmib), "MiB");
    }
  };
  auto row = [](const char* what, double game, double minimal, double goal, const char* unit) {
    const double ratio = game / minimal;
    std::printf("  %-34s %9.1f %s %9.1f %s   %5.2fx   goal <= %.1fx  %s\n", what, game, unit,
                minimal, unit, ratio, goal, ratio <= goal ? "met" : "MISSED");
  };
  // The same beside each other without a goal: where the time goes when the machine is busy.
  auto info = [](const char* what, double game, double minimal, const char* unit) {
    std::printf("  %-34s %9.1f %s %9.1f %s   %5.2fx\n", what, game, unit, minimal, unit,
                game / minimal);
  };
  std::printf("\n%-36s %12s %12s %8s\n", "", "pipshift", "minimal", "ratio");
  std::printf("Offscreen platform (median of %d)\n", o.runs);
  row("start to window painted", median(offscreen["pipshift"].startms),
      median(offscreen["minimal"].startms), 1.5, "ms ");
  row("resident memory when painted", median(offscreen["pipshift"].rssmib),
      median(offscreen["minimal"].rssmib), 1.3, "MiB");
  info("processor time to window painted", median(offscreen["pipshift"].cpums),
       median(offscreen["minimal"].cpums), "ms ");
  info("resident memory 2 s after painted", median(offscreen["pipshift"].settledmib),
       median(offscreen["minimal"].settledmib), "MiB");
  if (const int n = offscreen["pipshift"].unsettled) {
    std::printf("    (in %d of %d runs pipshift had not yet loaded libcurl for its update check)\n",
                n, o.runs);
  }
  besidetext(offscreen);
  std::printf("Xvfb (median of %d)\n", o.runs);
  if (xcb["pipshift"].mapms.size() == size_t(o.runs) &&
      xcb["minimal"].mapms.size() == size_t(o.runs)) {
    std::printf("  %-34s %9.1f ms  %9.1f ms    (the X server's MapNotify, for comparison)\n",
                "start to window mapped", median(xcb["pipshift"].mapms),
                median(xcb["minimal"].mapms));
  }
  row("start to window painted", median(xcb["pipshift"].startms), median(xcb["minimal"].startms),
      1.5, "ms ");
  row("resident memory when painted", median(xcb["pipshift"].rssmib), median(xcb["minimal"].rssmib),
      1.3, "MiB");
  info("processor time to window painted", median(xcb["pipshift"].cpums),
       median(xcb["minimal"].cpums), "ms ");
  for (const char* name : {"pipshift", "minimal"}) {
    const auto& s = xcb[name].startms;
    std::printf("  %s start-up spread under Xvfb: %.1f to %.1f ms\n", name,
                *std::min_element(s.begin(), s.end()), *std::max_element(s.begin(), s.end()));
  }
  besidetext(xcb);
  std::cout << std::flush;

  // Idle: both programs shown, a game running in Pipshift, nothing touched for a while.
  const std::string gamefolder = preparefolder(programs[0], scratch, 9001);
  const std::string minimalfolder = preparefolder(programs[1], scratch, 9002);
  Started game(exefor(programs[0], gamefolder), gamefolder, env);
  Started minimal(exefor(programs[1], minimalfolder), minimalfolder, env);
  game.painted(nullptr);
  minimal.painted(nullptr);
  // The game starts the way a player starts one from the keyboard: Ctrl+S on the focused window.
  const std::string command = "DISPLAY=" + x.display() +
                              " xdotool search --sync --onlyvisible --pid " +
                              std::to_string(game.pid()) +
                              " --name '^Pipshift$' windowfocus --sync key --clearmodifiers ctrl+s";
  if (std::system(command.c_str()) != 0) throw Failure("xdotool could not start a game");
  // A running game redraws its clock every second; without those frames no game is running.
  const int before = game.flushes();
  game.drain(3.5);
  if (game.flushes() - before < 3) {
    throw Failure("no game seems to run: " + std::to_string(game.flushes() - before) +
                  " frames in 3.5 s after Ctrl+S");
  }

  const long hz = sysconf(_SC_CLK_TCK);
  const long long ticks0 = cputicks(game.pid());
  const double game0 = cpuseconds(game.pid()), minimal0 = cpuseconds(minimal.pid()),
               x0 = cpuseconds(x.pid());
  const int frames0 = game.flushes();
  const double t0 = monotonic();
  game.drain(o.idleseconds);
  const double elapsed = monotonic() - t0;
  const long long ticks1 = cputicks(game.pid());
  const double game1 = cpuseconds(game.pid()), minimal1 = cpuseconds(minimal.pid()),
               x1 = cpuseconds(x.pid());
  auto percent = [&](double a, double b) { return (b - a) / elapsed * 100; };
  const double gamepercent = percent(game0, game1);
  std::printf(
      "\nIdle for %.0f s with a game running (Xvfb), processor time as a share of one "
      "core\n",
      elapsed);
  std::printf(
      "  pipshift %.3f %% (%.1f ms; utime+stime %lld ticks of 1/%ld s; %d frames drawn)"
      "   goal < 0.2 %%  %s\n",
      gamepercent, (game1 - game0) * 1000, ticks1 - ticks0, hz, game.flushes() - frames0,
      gamepercent < 0.2 ? "met" : "MISSED");
  std::printf("  minimal  %.3f %% (%.1f ms)   Xvfb drawing for both %.3f %% (%.1f ms)\n",
              percent(minimal0, minimal1), (minimal1 - minimal0) * 1000, percent(x0, x1),
              (x1 - x0) * 1000);
  fs::remove_all(gamefolder);
  fs::remove_all(minimalfolder);
}

int usage() {
  std::cerr << "usage: startup_bench --pipshift EXE --minimal EXE --text EXE --probe LIB "
               "[--runs N] [--idle-seconds S]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (i + 1 >= argc) return usage();
    const std::string v = argv[++i];
    if (a == "--pipshift") {
      o.pipshift = v;
    } else if (a == "--minimal") {
      o.minimal = v;
    } else if (a == "--text") {
      o.text = v;
    } else if (a == "--probe") {
      o.probe = v;
    } else if (a == "--runs") {
      o.runs = std::atoi(v.c_str());
    } else if (a == "--idle-seconds") {
      o.idleseconds = std::atoi(v.c_str());
    } else {
      return usage();
    }
  }
  if (o.pipshift.empty() || o.minimal.empty() || o.text.empty() || o.probe.empty() || o.runs < 1 ||
      o.idleseconds < 1) {
    return usage();
  }
  // The programs run in folders of their own: every path must hold from there.
  for (std::string* path : {&o.pipshift, &o.minimal, &o.text, &o.probe}) {
    *path = fs::absolute(*path);
  }
  signal(SIGPIPE, SIG_IGN);
  try {
    run(o);
  } catch (const std::exception& e) {
    std::cerr << "startup_bench: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
