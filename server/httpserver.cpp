#include "server/httpserver.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <unordered_map>

namespace pipshiftserver::http {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kListenTag = 0;
constexpr std::uint64_t kWakeTag = 1;
// One connection may send this much of a file before the others get their turn.
constexpr std::uint64_t kSendBudget = 4u << 20;
constexpr std::size_t kFileChunk = 1u << 20;
// What a refused client may still send while we wait for it to read our answer and hang up.
constexpr std::size_t kMaxLingerBytes = 64u << 20;
constexpr auto kSweepInterval = std::chrono::milliseconds(250);
// The input buffer an idle connection may keep for its next request.
constexpr std::size_t kKeptInput = 4096;

char lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool iequals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

bool istarts(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && iequals(text.substr(0, prefix.size()), prefix);
}

bool istchar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

bool istoken(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c != 0 && istchar(c); });
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// A decimal number of at most 19 digits, nothing else.
std::optional<std::uint64_t> number(std::string_view s) {
  if (s.empty() || s.size() > 19) return std::nullopt;
  std::uint64_t v = 0;
  for (const char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return v;
}

int hexvalue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = lower(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Whether a Connection header lists `token`.
bool connectionhas(const Request& r, std::string_view token) {
  for (const Header& h : r.headers) {
    if (!iequals(h.name, "Connection")) continue;
    std::string_view rest = h.value;
    while (!rest.empty()) {
      const std::size_t comma = rest.find(',');
      if (iequals(trim(rest.substr(0, comma)), token)) return true;
      if (comma == std::string_view::npos) break;
      rest.remove_prefix(comma + 1);
    }
  }
  return false;
}

// The connections the process's descriptors allow. Each may hold a file it is sending besides its
// socket, and the process keeps some for itself (the database, the event loops): a connection
// taken beyond that would leave a file it asks for, or the database, without a descriptor.
std::size_t connectionsdescriptorsallow() {
  constexpr rlim_t kOwn = 32;
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur == RLIM_INFINITY) return SIZE_MAX;
  return files.rlim_cur > kOwn + 2 ? static_cast<std::size_t>((files.rlim_cur - kOwn) / 2) : 1;
}

std::string peeraddress(const sockaddr_storage& addr) {
  char text[INET6_ADDRSTRLEN] = "";
  if (addr.ss_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(addr).sin_addr, text, sizeof text);
  } else if (addr.ss_family == AF_INET6) {
    const auto& a6 = reinterpret_cast<const sockaddr_in6&>(addr).sin6_addr;
    if (IN6_IS_ADDR_V4MAPPED(&a6)) {
      inet_ntop(AF_INET, &a6.s6_addr[12], text, sizeof text);
    } else {
      inet_ntop(AF_INET6, &a6, text, sizeof text);
    }
  }
  return text;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Plain pieces

FileBody& FileBody::operator=(FileBody&& o) noexcept {
  if (this != &o) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = o.fd_;
    offset_ = o.offset_;
    length_ = o.length_;
    o.fd_ = -1;
    o.length_ = 0;
  }
  return *this;
}

FileBody::~FileBody() {
  if (fd_ >= 0) ::close(fd_);
}

Response Response::text(int status, std::string body, std::string contenttype) {
  Response r;
  r.status = status;
  r.contenttype = std::move(contenttype);
  r.body = std::make_shared<const std::string>(std::move(body));
  return r;
}

const std::string* Request::header(std::string_view name) const {
  for (const Header& h : headers) {
    if (iequals(h.name, name)) return &h.value;
  }
  return nullptr;
}

const char* reasonphrase(int status) {
  switch (status) {
    case 100:
      return "Continue";
    case 200:
      return "OK";
    case 206:
      return "Partial Content";
    case 400:
      return "Bad Request";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 408:
      return "Request Timeout";
    case 409:
      return "Conflict";
    case 411:
      return "Length Required";
    case 413:
      return "Payload Too Large";
    case 414:
      return "URI Too Long";
    case 416:
      return "Range Not Satisfiable";
    case 422:
      return "Unprocessable Content";
    case 429:
      return "Too Many Requests";
    case 431:
      return "Request Header Fields Too Large";
    case 500:
      return "Internal Server Error";
    case 501:
      return "Not Implemented";
    case 503:
      return "Service Unavailable";
    case 505:
      return "HTTP Version Not Supported";
    default:
      return "Unknown";
  }
}

// ---------------------------------------------------------------------------------------------
// Parsing

std::optional<std::string> percentdecode(std::string_view s, bool plusisblank) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '+' && plusisblank) {
      out += ' ';
      continue;
    }
    if (s[i] != '%') {
      out += s[i];
      continue;
    }
    if (i + 2 >= s.size()) return std::nullopt;
    const int hi = hexvalue(s[i + 1]);
    const int lo = hexvalue(s[i + 2]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return out;
}

HeadParse findhead(std::string_view data, const Limits& limits) {
  HeadParse result;
  // Blank lines before a request are allowed and skipped.
  std::size_t start = 0;
  while (start < data.size() && (data[start] == '\r' || data[start] == '\n')) ++start;
  const std::size_t lineend = data.find('\n', start);
  if (lineend == std::string_view::npos) {
    if (data.size() - start > limits.maxrequestline) {
      result.kind = HeadParse::Refused;
      result.status = 414;
    } else if (data.size() > limits.maxhead) {
      result.kind = HeadParse::Refused;
      result.status = 431;
    }
    return result;
  }
  if (lineend - start > limits.maxrequestline + 1) {
    result.kind = HeadParse::Refused;
    result.status = 414;
    return result;
  }
  std::size_t pos = lineend;
  for (;;) {
    const std::size_t linestart = pos + 1;
    const std::size_t next = data.find('\n', linestart);
    if (next == std::string_view::npos) {
      if (data.size() > limits.maxhead) {
        result.kind = HeadParse::Refused;
        result.status = 431;
      }
      return result;
    }
    const std::size_t length = next - linestart;
    if (length == 0 || (length == 1 && data[linestart] == '\r')) {
      if (next + 1 > limits.maxhead) {
        result.kind = HeadParse::Refused;
        result.status = 431;
      } else {
        result.kind = HeadParse::Complete;
        result.length = next + 1;
      }
      return result;
    }
    pos = next;
  }
}

int parsehead(std::string_view head, const Limits& limits, Request& request) {
  std::vector<std::string_view> lines;
  while (!head.empty()) {
    const std::size_t nl = head.find('\n');
    std::string_view line = head.substr(0, nl);
    head = nl == std::string_view::npos ? std::string_view() : head.substr(nl + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) {
      if (lines.empty()) continue;  // blank lines before the request line
      break;
    }
    if (line.find('\r') != std::string_view::npos) return 400;
    lines.push_back(line);
  }
  if (lines.empty()) return 400;

  const std::string_view first = lines[0];
  const std::size_t sp1 = first.find(' ');
  const std::size_t sp2 = sp1 == std::string_view::npos ? sp1 : first.find(' ', sp1 + 1);
  if (sp2 == std::string_view::npos || first.find(' ', sp2 + 1) != std::string_view::npos) {
    return 400;
  }
  const std::string_view method = first.substr(0, sp1);
  const std::string_view target = first.substr(sp1 + 1, sp2 - sp1 - 1);
  const std::string_view version = first.substr(sp2 + 1);
  if (!istoken(method) || target.empty()) return 400;
  for (const char c : target) {
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) return 400;
  }
  if (version.size() != 8 || !istarts(version, "HTTP/") || version[6] != '.' || version[5] < '0' ||
      version[5] > '9' || version[7] < '0' || version[7] > '9') {
    return 400;
  }
  if (version[5] != '1') return 505;
  request.method = method;
  request.target = target;
  request.minorversion = version[7] == '0' ? 0 : 1;

  if (lines.size() - 1 > limits.maxheaders) return 431;
  request.headers.clear();
  request.headers.reserve(lines.size() - 1);
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    if (line.front() == ' ' || line.front() == '\t') return 400;  // folded lines are obsolete
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || !istoken(line.substr(0, colon))) return 400;
    const std::string_view value = trim(line.substr(colon + 1));
    for (const char c : value) {
      const auto u = static_cast<unsigned char>(c);
      if ((u < 0x20 && c != '\t') || u == 0x7F) return 400;
    }
    request.headers.push_back(Header{std::string(line.substr(0, colon)), std::string(value)});
  }

  // The target: a path, or an absolute address whose path we take.
  std::string_view rest = target;
  if (istarts(rest, "http://") || istarts(rest, "https://")) {
    rest.remove_prefix(rest.find("//") + 2);
    const std::size_t pathstart = rest.find_first_of("/?");
    rest = pathstart == std::string_view::npos ? std::string_view("/") : rest.substr(pathstart);
    if (rest.front() == '?') return 400;
  } else if (rest == "*") {
    request.path.assign(1, '*');
    request.query.clear();
    return 0;
  } else if (rest.front() != '/') {
    return 400;
  }
  const std::size_t hash = rest.find('#');
  if (hash != std::string_view::npos) rest = rest.substr(0, hash);
  const std::size_t question = rest.find('?');
  const auto path = percentdecode(rest.substr(0, question));
  if (!path) return 400;
  request.path = *path;
  request.query =
      question == std::string_view::npos ? std::string() : std::string(rest.substr(question + 1));
  return 0;
}

std::optional<std::uint64_t> bodylength(const Request& request, int& status) {
  status = 0;
  // Score posts are a few dozen bytes; a chunked body is not worth taking apart.
  if (request.header("Transfer-Encoding")) {
    status = 411;
    return std::nullopt;
  }
  std::optional<std::uint64_t> length;
  for (const Header& h : request.headers) {
    if (!iequals(h.name, "Content-Length")) continue;
    const auto value = number(h.value);
    if (!value || (length && *length != *value)) {
      status = 400;
      return std::nullopt;
    }
    length = value;
  }
  return length.value_or(0);
}

RangeKind parserange(std::string_view header, std::uint64_t size, ByteRange& range) {
  std::string_view ranges = trim(header);
  if (!istarts(ranges, "bytes=")) return RangeKind::Whole;
  ranges.remove_prefix(6);
  // Several ranges at once are allowed to be answered with the whole file.
  if (ranges.find(',') != std::string_view::npos) return RangeKind::Whole;
  const std::size_t dash = ranges.find('-');
  if (dash == std::string_view::npos) return RangeKind::Whole;
  const std::string_view a = trim(ranges.substr(0, dash));
  const std::string_view b = trim(ranges.substr(dash + 1));
  if (a.empty()) {
    const auto suffix = number(b);
    if (!suffix) return RangeKind::Whole;
    if (*suffix == 0 || size == 0) return RangeKind::Unsatisfiable;
    range.length = std::min(*suffix, size);
    range.first = size - range.length;
    return RangeKind::Part;
  }
  const auto first = number(a);
  if (!first) return RangeKind::Whole;
  std::uint64_t last = size == 0 ? 0 : size - 1;
  if (!b.empty()) {
    const auto given = number(b);
    if (!given || *given < *first) return RangeKind::Whole;
    last = std::min(*given, last);
  }
  if (*first >= size) return RangeKind::Unsatisfiable;
  range.first = *first;
  range.length = last - *first + 1;
  return RangeKind::Part;
}

// ---------------------------------------------------------------------------------------------
// Answers handed back across threads

namespace {

struct Mailbox {
  std::mutex mutex;
  bool closed = false;
  std::thread::id owner;
  int wakefd = -1;
  std::vector<std::pair<std::uint64_t, std::optional<Response>>> items;
  // Set by the owning loop; used only on its own thread.
  std::function<void(std::uint64_t, std::optional<Response>)> deliverhere;

  void post(std::uint64_t conn, std::optional<Response> response) {
    std::unique_lock lock(mutex);
    if (closed) return;
    if (std::this_thread::get_id() == owner) {
      lock.unlock();
      deliverhere(conn, std::move(response));
      return;
    }
    const bool wake = items.empty();
    items.emplace_back(conn, std::move(response));
    lock.unlock();
    if (wake) {
      const std::uint64_t one = 1;
      [[maybe_unused]] const ssize_t n = ::write(wakefd, &one, sizeof one);
    }
  }
};

}  // namespace

struct Responder::Slot {
  Slot(std::shared_ptr<Mailbox> m, std::uint64_t c) : mailbox(std::move(m)), conn(c) {}
  ~Slot() {
    // Nobody answered: the client still gets one.
    if (!answered.exchange(true)) mailbox->post(conn, std::nullopt);
  }
  std::shared_ptr<Mailbox> mailbox;
  std::uint64_t conn;
  std::atomic<bool> answered{false};
};

void Responder::send(Response response) const {
  if (slot_->answered.exchange(true)) return;
  slot_->mailbox->post(slot_->conn, std::move(response));
}

// ---------------------------------------------------------------------------------------------
// The event loop

class Server::Loop {
 public:
  explicit Loop(Server& server) : server_(server), limits_(server.limits_) {
    epollfd_ = epoll_create1(EPOLL_CLOEXEC);
    wakefd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (epollfd_ < 0 || wakefd_ < 0) throw std::runtime_error("cannot make an event loop");
    mailbox_ = std::make_shared<Mailbox>();
    mailbox_->wakefd = wakefd_;
    mailbox_->deliverhere = [this](std::uint64_t id, std::optional<Response> r) {
      deliver(id, std::move(r));
    };
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = kWakeTag;
    epoll_ctl(epollfd_, EPOLL_CTL_ADD, wakefd_, &ev);
    listenevents_.events = EPOLLIN | EPOLLEXCLUSIVE;
    listenevents_.data.u64 = kListenTag;
    epoll_ctl(epollfd_, EPOLL_CTL_ADD, server_.listenfd_, &listenevents_);
  }

  ~Loop() {
    {
      std::lock_guard lock(mailbox_->mutex);
      mailbox_->closed = true;
      mailbox_->items.clear();
      mailbox_->deliverhere = nullptr;
    }
    for (auto& [id, c] : conns_) kill(*c);
    ::close(wakefd_);
    ::close(epollfd_);
  }

  void wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakefd_, &one, sizeof one);
  }

  void run() {
    {
      std::lock_guard lock(mailbox_->mutex);
      mailbox_->owner = std::this_thread::get_id();
    }
    epoll_event events[64];
    auto nextsweep = Clock::now() + kSweepInterval;
    Clock::time_point drainend;
    for (;;) {
      if (server_.stopping_ && !draining_) {
        drainend = Clock::now() + limits_.draintimeout;
        drain();
      }
      if (draining_ && (conns_.empty() || now_ >= drainend)) break;
      int timeout = 0;
      if (again_.empty()) {
        const auto wait =
            std::chrono::duration_cast<std::chrono::milliseconds>(nextsweep - Clock::now());
        timeout = static_cast<int>(std::max<std::int64_t>(wait.count(), 0) + 1);
      }
      const int n = epoll_wait(epollfd_, events, 64, timeout);
      now_ = Clock::now();
      for (int i = 0; i < n; ++i) {
        const std::uint64_t tag = events[i].data.u64;
        if (tag == kListenTag) {
          acceptall();
        } else if (tag == kWakeTag) {
          takemail();
        } else {
          const auto it = conns_.find(tag);
          if (it == conns_.end()) continue;
          Conn& c = *it->second;
          if (events[i].events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) c.mayread = true;
          if (events[i].events & (EPOLLOUT | EPOLLHUP | EPOLLERR)) c.maywrite = true;
          drive(c);
          if (c.dead) conns_.erase(it);
        }
      }
      if (!again_.empty()) {
        std::vector<std::uint64_t> ids;
        ids.swap(again_);
        for (const std::uint64_t id : ids) {
          const auto it = conns_.find(id);
          if (it == conns_.end()) continue;
          drive(*it->second);
          if (it->second->dead) conns_.erase(it);
        }
      }
      if (now_ >= nextsweep) {
        sweep();
        nextsweep = now_ + kSweepInterval;
      }
    }
    {
      std::lock_guard lock(mailbox_->mutex);
      mailbox_->closed = true;
      mailbox_->items.clear();
    }
    for (auto& [id, c] : conns_) kill(*c);
    conns_.clear();
  }

  std::thread thread;

 private:
  enum class State { Reading, Handling, Sending, Lingering };
  enum class Flush { Done, Blocked, Yield, Failed };

  struct Conn {
    std::uint64_t id = 0;
    int fd = -1;
    std::string peer;
    std::string addresskey;
    State state = State::Reading;
    bool mayread = true;
    bool maywrite = true;
    bool peereof = false;
    bool dead = false;
    Clock::time_point deadline;
    // Reading
    std::string in;
    bool requestbegun = false;
    std::optional<Request> head;  // parsed, waiting for its body
    std::uint64_t bodyneeded = 0;
    unsigned served = 0;
    // Handling
    bool keepalive = false;
    bool headonly = false;
    int minorversion = 1;
    bool dispatching = false;
    std::optional<Response> pending;
    // Sending
    bool closeafter = false;
    std::string out;
    std::size_t outsent = 0;
    std::shared_ptr<const std::string> body;
    std::size_t bodysent = 0;
    FileBody file;
    // Lingering
    std::size_t lingered = 0;
  };

  void takemail() {
    std::uint64_t count;
    [[maybe_unused]] const ssize_t r = ::read(wakefd_, &count, sizeof count);
    std::vector<std::pair<std::uint64_t, std::optional<Response>>> items;
    {
      std::lock_guard lock(mailbox_->mutex);
      items.swap(mailbox_->items);
    }
    for (auto& [id, response] : items) deliver(id, std::move(response));
  }

  void deliver(std::uint64_t id, std::optional<Response> response) {
    const auto it = conns_.find(id);
    if (it == conns_.end()) return;
    Conn& c = *it->second;
    if (c.state != State::Handling || c.pending) return;
    c.pending = response ? std::move(*response) : server_.errorpage_(500);
    if (c.dispatching) return;
    now_ = Clock::now();
    drive(c);
    if (c.dead) conns_.erase(it);
  }

  // Asked to stop: take no more connections or requests, but send the answers under way (a post
  // being committed is answered, not cut off) before the loop ends.
  void drain() {
    draining_ = true;
    if (!listenpaused_) epoll_ctl(epollfd_, EPOLL_CTL_DEL, server_.listenfd_, nullptr);
    listenpaused_ = true;
    now_ = Clock::now();
    for (auto it = conns_.begin(); it != conns_.end();) {
      Conn& c = *it->second;
      if (c.state == State::Reading) {
        if (c.requestbegun) {
          refuse(c, 503);
          drive(c);
        } else {
          kill(c);
        }
      }
      it = c.dead ? conns_.erase(it) : std::next(it);
    }
  }

  void acceptall() {
    if (draining_) return;
    for (int i = 0; i < 64; ++i) {
      sockaddr_storage addr{};
      socklen_t len = sizeof addr;
      const int fd = accept4(server_.listenfd_, reinterpret_cast<sockaddr*>(&addr), &len,
                             SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) {
        if (errno == EINTR || errno == ECONNABORTED) continue;
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
          // Out of descriptors: stop listening until the next sweep instead of spinning.
          epoll_ctl(epollfd_, EPOLL_CTL_DEL, server_.listenfd_, nullptr);
          listenpaused_ = true;
        }
        return;
      }
      if (server_.connections_.load() >= server_.connectioncap_) {
        ::close(fd);
        continue;
      }
      std::string peer = peeraddress(addr);
      std::string key = addresskey(peer);
      if (!server_.takeaddress(key)) {
        ::close(fd);
        continue;
      }
      const int one = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      auto c = std::make_unique<Conn>();
      c->id = nextid_++;
      c->fd = fd;
      c->peer = std::move(peer);
      c->addresskey = std::move(key);
      c->deadline = now_ + limits_.idletimeout;
      epoll_event ev{};
      ev.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;
      ev.data.u64 = c->id;
      if (epoll_ctl(epollfd_, EPOLL_CTL_ADD, fd, &ev) != 0) {
        server_.releaseaddress(c->addresskey);
        ::close(fd);
        continue;
      }
      ++server_.connections_;
      conns_.emplace(c->id, std::move(c));
    }
  }

  void kill(Conn& c) {
    if (c.dead) return;
    ::close(c.fd);
    c.dead = true;
    --server_.connections_;
    server_.releaseaddress(c.addresskey);
  }

  // Runs the connection's state machine as far as it can go without waiting.
  void drive(Conn& c) {
    while (!c.dead) {
      switch (c.state) {
        case State::Reading:
          if (!readrequest(c)) return;
          if (c.state == State::Reading) dispatch(c);
          break;
        case State::Handling:
          if (!c.pending) return;
          startanswer(c);
          break;
        case State::Sending:
          switch (flush(c)) {
            case Flush::Blocked:
              return;
            case Flush::Yield:
              again_.push_back(c.id);
              return;
            case Flush::Failed:
              kill(c);
              return;
            case Flush::Done:
              finishanswer(c);
              break;
          }
          break;
        case State::Lingering:
          linger(c);
          return;
      }
    }
  }

  void refuse(Conn& c, int status) {
    c.head.reset();
    c.state = State::Handling;
    c.keepalive = false;
    c.headonly = false;
    c.pending = server_.errorpage_(status);
    c.pending->close = true;
  }

  // Reads until a whole request is in hand (true, state still Reading), or a refusal is pending
  // (true, state Handling), or more input is needed or the connection is gone (false).
  bool readrequest(Conn& c) {
    for (;;) {
      if (!c.head && !c.in.empty()) {
        if (!c.requestbegun) {
          c.requestbegun = true;
          c.deadline = now_ + limits_.requesttimeout;
        }
        const HeadParse found = findhead(c.in, limits_);
        if (found.kind == HeadParse::Refused) {
          refuse(c, found.status);
          return true;
        }
        if (found.kind == HeadParse::Complete) {
          Request request;
          int status = parsehead(std::string_view(c.in).substr(0, found.length), limits_, request);
          std::optional<std::uint64_t> length;
          if (status == 0) length = bodylength(request, status);
          if (status == 0 && *length > limits_.maxbody) status = 413;
          if (status != 0) {
            c.minorversion = request.minorversion;
            refuse(c, status);
            return true;
          }
          c.in.erase(0, found.length);
          c.bodyneeded = *length;
          const std::string* expect = request.header("Expect");
          if (expect && c.in.size() < c.bodyneeded && iequals(*expect, "100-continue") &&
              request.minorversion >= 1) {
            static constexpr char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
            [[maybe_unused]] const ssize_t n =
                ::send(c.fd, kContinue, sizeof kContinue - 1, MSG_NOSIGNAL);
          }
          c.head = std::move(request);
        }
      }
      if (c.head && c.in.size() >= c.bodyneeded) return true;
      if (!c.mayread) return false;
      // No more than the request being read may still take (a head one byte past its limit is
      // refused): what a client sends ahead waits in the kernel's buffer, not in ours.
      const std::size_t room =
          c.head ? c.bodyneeded - c.in.size()
                 : std::max<std::size_t>(limits_.maxhead + 1, c.in.size() + 1) - c.in.size();
      const ssize_t n = ::recv(c.fd, buffer_, std::min(sizeof buffer_, room), 0);
      if (n > 0) {
        c.in.append(buffer_, static_cast<std::size_t>(n));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        c.mayread = false;
        return false;
      }
      // The client hung up (or failed) before a whole request: nothing to answer.
      kill(c);
      return false;
    }
  }

  void dispatch(Conn& c) {
    Request request = std::move(*c.head);
    c.head.reset();
    request.body.assign(c.in, 0, c.bodyneeded);
    c.in.erase(0, c.bodyneeded);
    request.remoteaddress = c.peer;
    ++c.served;
    c.requestbegun = false;
    c.minorversion = request.minorversion;
    c.headonly = request.method == "HEAD";
    c.keepalive = request.minorversion >= 1 ? !connectionhas(request, "close")
                                            : connectionhas(request, "keep-alive");
    c.state = State::Handling;
    c.dispatching = true;
    {
      auto slot = std::make_shared<Responder::Slot>(mailbox_, c.id);
      try {
        server_.handler_(request, Responder(slot));
      } catch (...) {
        Responder(slot).send(server_.errorpage_(500));
      }
    }
    c.dispatching = false;
  }

  void startanswer(Conn& c) {
    Response r = std::move(*c.pending);
    c.pending.reset();
    c.closeafter = r.close || !c.keepalive || c.peereof || server_.stopping_ ||
                   c.served >= limits_.maxrequestsperconnection;
    const std::uint64_t length = r.file.open() ? r.file.length() : (r.body ? r.body->size() : 0);
    std::string& out = c.out;
    out.clear();
    out += "HTTP/1.1 ";
    out += std::to_string(r.status);
    out += ' ';
    out += reasonphrase(r.status);
    out += "\r\n";
    // Every answer is dated, as an origin server with a clock must; the text changes once a
    // second, so it is made once a second.
    if (const std::time_t second = std::time(nullptr); second != dateof_) {
      dateof_ = second;
      dateline_ = "Date: " + httpdate(second) + "\r\n";
    }
    out += dateline_;
    if (c.closeafter) {
      out += "Connection: close\r\n";
    } else if (c.minorversion == 0) {
      out += "Connection: keep-alive\r\n";
    }
    out += "Content-Length: ";
    out += std::to_string(length);
    out += "\r\n";
    if (!r.contenttype.empty()) {
      out += "Content-Type: ";
      out += r.contenttype;
      out += "\r\n";
    }
    for (const Header& h : r.headers) {
      out += h.name;
      out += ": ";
      out += h.value;
      out += "\r\n";
    }
    out += "\r\n";
    c.outsent = 0;
    c.bodysent = 0;
    c.body.reset();
    c.file = FileBody();
    if (!c.headonly) {
      if (r.file.open()) {
        c.file = std::move(r.file);
      } else {
        c.body = std::move(r.body);
      }
    }
    c.state = State::Sending;
    c.deadline = now_ + limits_.sendtimeout;
  }

  // After a write to the peer that failed: how the flush ends, or nothing when a signal merely
  // cut in and the write is to be tried again.
  static std::optional<Flush> afterfailedwrite(Conn& c) {
    if (errno == EINTR) return std::nullopt;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      c.maywrite = false;
      return Flush::Blocked;
    }
    return Flush::Failed;
  }

  Flush flush(Conn& c) {
    std::uint64_t budget = kSendBudget;
    for (;;) {
      const bool headleft = c.outsent < c.out.size();
      const bool bodyleft = c.body && c.bodysent < c.body->size();
      std::size_t sent = 0;
      if (headleft || bodyleft) {
        if (!c.maywrite) return Flush::Blocked;
        iovec iov[2];
        int count = 0;
        if (headleft) iov[count++] = {c.out.data() + c.outsent, c.out.size() - c.outsent};
        if (bodyleft) {
          iov[count++] = {const_cast<char*>(c.body->data()) + c.bodysent,
                          c.body->size() - c.bodysent};
        }
        msghdr msg{};
        msg.msg_iov = iov;
        msg.msg_iovlen = static_cast<std::size_t>(count);
        // With a file to follow, the head waits for its first bytes: one segment, not two.
        const bool more = c.file.open() && c.file.length() > 0;
        const ssize_t n = ::sendmsg(c.fd, &msg, MSG_NOSIGNAL | (more ? MSG_MORE : 0));
        if (n < 0) {
          if (const auto end = afterfailedwrite(c)) return *end;
          continue;
        }
        sent = static_cast<std::size_t>(n);
        const std::size_t fromhead = std::min(sent, c.out.size() - c.outsent);
        c.outsent += fromhead;
        c.bodysent += sent - fromhead;
      } else if (c.file.open() && c.file.length() > 0) {
        if (!c.maywrite) return Flush::Blocked;
        off_t offset = static_cast<off_t>(c.file.offset());
        const std::size_t chunk =
            static_cast<std::size_t>(std::min<std::uint64_t>(c.file.length(), kFileChunk));
        const ssize_t n = ::sendfile(c.fd, c.file.fd(), &offset, chunk);
        if (n < 0) {
          if (const auto end = afterfailedwrite(c)) return *end;
          continue;
        }
        // A file cut short under us cannot keep the length we promised: end the connection, so
        // the client sees a short body rather than a wrong one.
        if (n == 0) return Flush::Failed;
        sent = static_cast<std::size_t>(n);
        c.file.advance(sent);
      } else {
        return Flush::Done;
      }
      c.deadline = now_ + limits_.sendtimeout;
      if (sent >= budget) return Flush::Yield;
      budget -= sent;
    }
  }

  void finishanswer(Conn& c) {
    c.out.clear();
    c.body.reset();
    c.file = FileBody();
    if (c.closeafter || draining_) {
      // Closing with unread input would reset the connection and could destroy the answer on
      // its way; say we are done and read until the client hangs up.
      ::shutdown(c.fd, SHUT_WR);
      c.in.clear();
      c.state = State::Lingering;
      c.deadline = now_ + limits_.lingertimeout;
      return;
    }
    c.state = State::Reading;
    c.deadline = now_ + limits_.idletimeout;
    // An idle connection keeps no buffer a long request left behind.
    if (c.in.empty() && c.in.capacity() > kKeptInput) std::string().swap(c.in);
  }

  void linger(Conn& c) {
    for (;;) {
      if (!c.mayread) return;
      const ssize_t n = ::recv(c.fd, buffer_, sizeof buffer_, 0);
      if (n > 0) {
        c.lingered += static_cast<std::size_t>(n);
        if (c.lingered > kMaxLingerBytes) break;
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        c.mayread = false;
        return;
      }
      break;
    }
    kill(c);
  }

  void sweep() {
    if (listenpaused_ && !draining_) {
      epoll_ctl(epollfd_, EPOLL_CTL_ADD, server_.listenfd_, &listenevents_);
      listenpaused_ = false;
    }
    for (auto it = conns_.begin(); it != conns_.end();) {
      Conn& c = *it->second;
      if (c.state != State::Handling && now_ >= c.deadline) {
        if (c.state == State::Reading && c.requestbegun) {
          refuse(c, 408);
          drive(c);
        } else {
          kill(c);
        }
      }
      if (c.dead) {
        it = conns_.erase(it);
      } else {
        ++it;
      }
    }
  }

  Server& server_;
  const Limits& limits_;
  int epollfd_ = -1;
  int wakefd_ = -1;
  epoll_event listenevents_{};
  bool listenpaused_ = false;
  bool draining_ = false;
  std::shared_ptr<Mailbox> mailbox_;
  std::unordered_map<std::uint64_t, std::unique_ptr<Conn>> conns_;
  std::vector<std::uint64_t> again_;
  std::uint64_t nextid_ = 2;
  Clock::time_point now_ = Clock::now();
  std::time_t dateof_ = -1;
  std::string dateline_;
  char buffer_[65536];
};

// ---------------------------------------------------------------------------------------------
// The server

Server::Server(Handler handler, ErrorPage errorpage, Limits limits)
    : handler_(std::move(handler)), errorpage_(std::move(errorpage)), limits_(limits) {
  if (!errorpage_) {
    errorpage_ = [](int status) {
      return Response::text(status, std::string(reasonphrase(status)) + "\n",
                            "text/plain; charset=utf-8");
    };
  }
}

Server::~Server() {
  stop();
  for (auto& loop : loops_) {
    if (loop->thread.joinable()) loop->thread.join();
  }
  loops_.clear();
  if (listenfd_ >= 0) ::close(listenfd_);
}

int Server::listen(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  const int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
  if (rc != 0) {
    throw std::runtime_error("cannot listen on " + host + ":" + service + ": " + gai_strerror(rc));
  }
  std::string error = "no address";
  for (addrinfo* ai = found; ai; ai = ai->ai_next) {
    const int fd = ::socket(ai->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) continue;
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd, ai->ai_addr, ai->ai_addrlen) == 0 && ::listen(fd, SOMAXCONN) == 0) {
      sockaddr_storage bound{};
      socklen_t len = sizeof bound;
      getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len);
      listenfd_ = fd;
      freeaddrinfo(found);
      return bound.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6&>(bound).sin6_port)
                                         : ntohs(reinterpret_cast<sockaddr_in&>(bound).sin_port);
    }
    error = std::strerror(errno);
    ::close(fd);
  }
  freeaddrinfo(found);
  throw std::runtime_error("cannot listen on " + host + ":" + service + ": " + error);
}

void Server::run(unsigned loops) {
  if (listenfd_ < 0) throw std::logic_error("run() before listen()");
  connectioncap_ = std::min(limits_.maxconnections, connectionsdescriptorsallow());
  {
    std::lock_guard lock(loopsmutex_);
    if (stopping_) return;
    for (unsigned i = 0; i < std::max(1u, loops); ++i) {
      loops_.push_back(std::make_unique<Loop>(*this));
    }
    for (auto& loop : loops_) loop->thread = std::thread([l = loop.get()] { l->run(); });
  }
  for (auto& loop : loops_) loop->thread.join();
}

bool Server::takeaddress(const std::string& key) {
  if (limits_.maxperaddress == 0) return true;
  std::lock_guard lock(addressesmutex_);
  std::size_t& open = addresses_[key];
  if (open >= limits_.maxperaddress) return false;
  ++open;
  return true;
}

void Server::releaseaddress(const std::string& key) {
  if (limits_.maxperaddress == 0) return;
  std::lock_guard lock(addressesmutex_);
  const auto it = addresses_.find(key);
  if (it == addresses_.end()) return;
  if (--it->second == 0) addresses_.erase(it);
}

std::string addresskey(const std::string& address) {
  in6_addr a6{};
  if (address.find(':') == std::string::npos || inet_pton(AF_INET6, address.c_str(), &a6) != 1) {
    return address;
  }
  std::memset(&a6.s6_addr[8], 0, 8);
  char text[INET6_ADDRSTRLEN];
  inet_ntop(AF_INET6, &a6, text, sizeof text);
  return std::string(text) + "/64";
}

void Server::stop() {
  std::lock_guard lock(loopsmutex_);
  stopping_ = true;
  for (auto& loop : loops_) loop->wake();
}

}  // namespace pipshiftserver::http
