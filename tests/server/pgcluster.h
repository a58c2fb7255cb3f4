// A throw-away PostgreSQL server for one test process (or the benchmark): its own data folder,
// copied from a template that initdb makes once per machine, its own port on 127.0.0.1 and its
// own socket folder, run as the postgres user when we are root. It is stopped when the object
// goes, and, should the process die first (a crash, a kill by the test runner), by a guard
// process that notices its pipe close.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

namespace servertest {

class PgCluster {
 public:
  // durable: keep PostgreSQL's own disk flushes (for figures worth quoting); tests leave them
  // out, since a killed pipshift-server does not take the database down with it.
  explicit PgCluster(bool durable = false) { ok_ = start(durable); }
  ~PgCluster() { shutdown(); }
  PgCluster(const PgCluster&) = delete;
  PgCluster& operator=(const PgCluster&) = delete;

  bool ok() const { return ok_; }
  // Why it could not be started, for the skip message.
  const std::string& why() const { return why_; }
  int port() const { return port_; }

  // The address pipshift-server takes with --db.
  std::string address(const std::string& db = "pipshift") const {
    return "postgresql://postgres@127.0.0.1:" + std::to_string(port_) + "/" + db;
  }

  bool createdatabase(const std::string& name) {
    PGconn* c = PQconnectdb(address("postgres").c_str());
    bool done = PQstatus(c) == CONNECTION_OK;
    if (done) {
      PGresult* r = PQexec(c, ("CREATE DATABASE " + name).c_str());
      done = PQresultStatus(r) == PGRES_COMMAND_OK;
      if (!done) why_ = PQresultErrorMessage(r);
      PQclear(r);
    } else {
      why_ = PQerrorMessage(c);
    }
    PQfinish(c);
    return done;
  }

  // Stops the server for a while, as an outage would, and starts it again on the same port.
  bool halt() {
    return started_ &&
           run({bin_ + "/pg_ctl", "-D", data(), "-m", "fast", "-w", "-t", "60", "stop"});
  }
  bool resume() {
    return started_ && run({bin_ + "/pg_ctl", "-D", data(), "-l", scratch_ + "/server.log", "-w",
                            "-t", "60", "-o", settings_, "start"});
  }

  // Stops (SIGSTOP) or resumes (SIGCONT) every process of the server: a database that has hung,
  // or that a broken network hides, while its connections stay open.
  bool freeze() { return signalall(SIGSTOP); }
  bool thaw() { return signalall(SIGCONT); }

  // Restarts the server as an administrator would: every client connection is ended.
  bool restart() {
    return started_ &&
           run({bin_ + "/pg_ctl", "-D", data(), "-m", "fast", "-w", "-t", "60", "restart"});
  }

  // Stops the server now (also done by the destructor).
  void shutdown() {
    if (started_) {
      signalall(SIGCONT);  // a test that froze it may have failed before it thawed it
      run({bin_ + "/pg_ctl", "-D", data(), "-m", "immediate", "-w", "stop"});
      started_ = false;
    }
    if (guardpipe_ >= 0) {
      // Tell the guard all is well: it only removes the scratch folder.
      [[maybe_unused]] const ssize_t n = ::write(guardpipe_, "done\n", 5);
      ::close(guardpipe_);
      guardpipe_ = -1;
      int status = 0;
      waitpid(guard_, &status, 0);
    }
  }

 private:
  std::string data() const { return scratch_ + "/data"; }

  // Runs a program as the database's user, output into the scratch folder's log; returns
  // whether it exited with 0.
  bool run(const std::vector<std::string>& argv, const std::string& cwd = {}) {
    // Everything the child needs is made before fork: a forked child of a threaded process may
    // only make async-signal-safe calls.
    const std::string log = scratch_.empty() ? "/dev/null" : scratch_ + "/commands.log";
    const std::string dir = cwd.empty() ? (scratch_.empty() ? "/" : scratch_) : cwd;
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
      becomeuser();
      const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
      if (out >= 0) {
        dup2(out, 1);
        dup2(out, 2);
      }
      const int in = ::open("/dev/null", O_RDONLY);
      if (in >= 0) dup2(in, 0);
      if (chdir(dir.c_str()) != 0) _exit(126);
      execv(args[0], args.data());
      _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

  // Sends `signal` to the server's main process and to every process it started.
  bool signalall(int signal) const {
    std::ifstream pidFile(data() + "/postmaster.pid");
    pid_t main = 0;
    if (!started_ || !(pidFile >> main) || main <= 0) return false;
    bool all = ::kill(main, signal) == 0;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
      const std::string name = entry.path().filename().string();
      if (name.find_first_not_of("0123456789") != std::string::npos) continue;
      std::ifstream stat(entry.path() / "stat");
      std::string line;
      std::getline(stat, line);
      // "pid (command) state ppid ...": the command may hold spaces, so count from its end.
      const std::size_t close = line.rfind(')');
      if (close == std::string::npos) continue;
      std::istringstream rest(line.substr(close + 1));
      char state = 0;
      pid_t parent = 0;
      if (rest >> state >> parent && parent == main) {
        all = ::kill(static_cast<pid_t>(std::stol(name)), signal) == 0 && all;
      }
    }
    return all;
  }

  void becomeuser() const {
    if (!asroot_) return;
    if (setgroups(0, nullptr) != 0 || setgid(gid_) != 0 || setuid(uid_) != 0) _exit(125);
  }

  static std::string findbindir() {
    namespace fs = std::filesystem;
    if (const char* given = std::getenv("PIPSHIFT_PG_BINDIR")) return given;
    std::vector<std::string> candidates;
    if (FILE* p = popen("pg_config --bindir 2>/dev/null", "r")) {
      char line[512] = "";
      if (fgets(line, sizeof line, p)) {
        std::string dir(line);
        while (!dir.empty() && (dir.back() == '\n' || dir.back() == '\r')) dir.pop_back();
        candidates.push_back(dir);
      }
      pclose(p);
    }
    std::error_code ec;
    std::vector<std::string> versions;
    for (const auto& e : fs::directory_iterator("/usr/lib/postgresql", ec)) {
      versions.push_back(e.path().string() + "/bin");
    }
    std::sort(versions.begin(), versions.end(), [](const std::string& a, const std::string& b) {
      return std::atoi(a.c_str() + 20) > std::atoi(b.c_str() + 20);
    });
    candidates.insert(candidates.end(), versions.begin(), versions.end());
    for (const std::string& dir : candidates) {
      if (access((dir + "/initdb").c_str(), X_OK) == 0 &&
          access((dir + "/pg_ctl").c_str(), X_OK) == 0) {
        return dir;
      }
    }
    return {};
  }

  static int freeport() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
      port = ntohs(addr.sin_port);
    }
    close(fd);
    return port;
  }

  bool ownedbyus(const std::string& path) const {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == uid_ &&
           (st.st_mode & 077) == 0;
  }

  std::string makefolder(const std::string& pattern) const {
    std::string path = pattern;
    if (!mkdtemp(path.data())) return {};
    if (asroot_ && chown(path.c_str(), uid_, gid_) != 0) return {};
    return path;
  }

  // The initdb'd data folder every cluster starts from, made once and then reused: initdb
  // takes seconds, a copy a fraction of one.
  std::string templatefolder() {
    const std::string tmp = std::filesystem::temp_directory_path().string();
    std::string tag = std::to_string(std::hash<std::string>{}(bin_));
    const std::string path = tmp + "/pipshift-pgtemplate-" + std::to_string(uid_) + "-" + tag;
    if (ownedbyus(path) && access((path + "/complete").c_str(), F_OK) == 0) return path;
    const std::string fresh = makefolder(tmp + "/pipshift-pgtemplate-new-XXXXXX");
    if (fresh.empty()) return {};
    chmod(fresh.c_str(), 0700);
    if (!run({bin_ + "/initdb", "-D", fresh + "/data", "-U", "postgres", "-A", "trust", "-E",
              "UTF8", "--locale=C", "-N"},
             fresh) ||
        !run({"/bin/touch", fresh + "/complete"}, fresh)) {
      run({"/bin/rm", "-rf", fresh});
      return {};
    }
    if (std::rename(fresh.c_str(), path.c_str()) != 0) {
      // Another process made it meanwhile, or a stale one is in the way.
      run({"/bin/rm", "-rf", fresh});
      if (!(ownedbyus(path) && access((path + "/complete").c_str(), F_OK) == 0)) return {};
    }
    return path;
  }

  bool start(bool durable) {
    bin_ = findbindir();
    if (bin_.empty()) {
      why_ = "PostgreSQL is not installed (no initdb found)";
      return false;
    }
    asroot_ = geteuid() == 0;
    uid_ = geteuid();
    gid_ = getegid();
    if (asroot_) {
      const passwd* pw = getpwnam("postgres");
      if (!pw) {
        why_ = "running as root and there is no postgres user to run PostgreSQL as";
        return false;
      }
      uid_ = pw->pw_uid;
      gid_ = pw->pw_gid;
    }
    scratch_ = makefolder(std::filesystem::temp_directory_path().string() + "/pipshift-pg-XXXXXX");
    if (scratch_.empty()) {
      why_ = "cannot make a scratch folder for PostgreSQL";
      return false;
    }
    chmod(scratch_.c_str(), 0700);
    startguard();
    const std::string base = templatefolder();
    if (base.empty() || !run({"/bin/cp", "-a", base + "/data", data()})) {
      why_ = "initdb failed; see " + scratch_ + "/commands.log";
      return false;
    }
    for (int attempt = 0; attempt < 5; ++attempt) {
      port_ = freeport();
      std::string& settings = settings_;
      settings = "-p " + std::to_string(port_) +
                 " -c listen_addresses=127.0.0.1 -c unix_socket_directories=" + scratch_ +
                 " -c max_connections=40 -c shared_buffers=16MB";
      if (!durable) settings += " -c fsync=off -c full_page_writes=off";
      if (run({bin_ + "/pg_ctl", "-D", data(), "-l", scratch_ + "/server.log", "-w", "-t", "60",
               "-o", settings, "start"})) {
        started_ = true;
        if (!createdatabase("pipshift")) return false;
        return true;
      }
      // Most likely the port was taken between our look and its bind: try another.
      run({bin_ + "/pg_ctl", "-D", data(), "-m", "immediate", "-w", "stop"});
    }
    why_ = "PostgreSQL would not start; see " + scratch_ + "/server.log";
    return false;
  }

  // A process of its own that waits on a pipe only we hold: if we die without saying "done",
  // it stops the server; either way it removes the scratch folder.
  void startguard() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    const std::string pgctl = bin_ + "/pg_ctl";
    const pid_t pid = fork();
    if (pid < 0) {
      close(fds[0]);
      close(fds[1]);
      return;
    }
    if (pid == 0) {
      setsid();
      dup2(fds[0], 0);
      const int devnull = ::open("/dev/null", O_WRONLY);
      if (devnull >= 0) {
        dup2(devnull, 1);
        dup2(devnull, 2);
      }
      becomeuser();
      if (chdir("/") != 0) _exit(126);
      const char* script =
          "read line; if [ \"$line\" != done ]; then "
          "kill -CONT \"$(head -n 1 \"$2/data/postmaster.pid\")\" 2>/dev/null; "
          "\"$1\" -D \"$2/data\" -m immediate -w stop; fi; rm -rf \"$2\"";
      execl("/bin/sh", "sh", "-c", script, "sh", pgctl.c_str(), scratch_.c_str(), nullptr);
      _exit(127);
    }
    close(fds[0]);
    guardpipe_ = fds[1];
    guard_ = pid;
  }

  bool ok_ = false;
  bool started_ = false;
  bool asroot_ = false;
  uid_t uid_ = 0;
  gid_t gid_ = 0;
  std::string bin_;
  std::string scratch_;
  std::string why_;
  std::string settings_;  // the server's command line options
  int port_ = 0;
  int guardpipe_ = -1;
  pid_t guard_ = -1;
};

}  // namespace servertest
