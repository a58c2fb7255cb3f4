// A small HTTP/1.1 server on epoll: a few event loops share the listening socket and every
// connection, so an idle or slow client costs a descriptor and a few bytes, never a thread.
// Answers may be given at once or later from another thread (a post waits for its commit).
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/httpdate.h"

namespace pipshiftserver::http {

struct Header {
  std::string name;
  std::string value;
};

struct Request {
  std::string method;  // "GET", "HEAD", "POST", ...
  std::string target;  // as sent: "/cgi-bin/pipshift.cgi?name=a"
  std::string path;    // the target's path, %-decoded
  std::string query;   // what follows '?', still encoded
  int minorversion = 1;
  std::vector<Header> headers;
  std::string body;
  std::string remoteaddress;  // the peer's address, e.g. "127.0.0.1"

  // The first header of that name (names compare without case), or nothing.
  const std::string* header(std::string_view name) const;
};

// An open file to be sent from `offset`, `length` bytes; closed when the answer is done.
class FileBody {
 public:
  FileBody() = default;
  FileBody(int fd, std::uint64_t offset, std::uint64_t length)
      : fd_(fd), offset_(offset), length_(length) {}
  FileBody(FileBody&& o) noexcept { *this = std::move(o); }
  FileBody& operator=(FileBody&& o) noexcept;
  ~FileBody();
  FileBody(const FileBody&) = delete;
  FileBody& operator=(const FileBody&) = delete;

  bool open() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  std::uint64_t offset() const { return offset_; }
  std::uint64_t length() const { return length_; }
  void select(std::uint64_t offset, std::uint64_t length) {
    offset_ = offset;
    length_ = length;
  }
  void advance(std::uint64_t n) {
    offset_ += n;
    length_ -= n;
  }

 private:
  int fd_ = -1;
  std::uint64_t offset_ = 0;
  std::uint64_t length_ = 0;
};

struct Response {
  int status = 200;
  std::string contenttype;
  // Shared, so that a page kept in memory is sent without a copy.
  std::shared_ptr<const std::string> body;
  FileBody file;  // sent instead of body when open
  std::vector<Header> headers;
  bool close = false;  // end the connection after this answer

  static Response text(int status, std::string body, std::string contenttype);
};

// What the loops allow a client. Every limit ends in a clear answer or a closed connection,
// never in memory or a thread held for as long as the client likes.
struct Limits {
  std::size_t maxrequestline = 8192;                // longer: 414
  std::size_t maxhead = 16384;                      // request line and headers together; more: 431
  std::size_t maxheaders = 100;                     // more: 431
  std::size_t maxbody = 16384;                      // more: 413
  std::chrono::milliseconds idletimeout{5000};      // waiting for a request to begin
  std::chrono::milliseconds requesttimeout{10000};  // first byte of a request to its last
  std::chrono::milliseconds sendtimeout{30000};     // an answer making no progress
  std::chrono::milliseconds lingertimeout{2000};    // reading what is left after a refusal
  std::chrono::milliseconds draintimeout{10000};    // after stop(), for the answers under way
  unsigned maxrequestsperconnection = 1000;
  std::size_t maxconnections = 10000;  // or what the descriptor limit allows
  // Connections one address (IPv6: one /64) may hold at once; further ones are closed at once,
  // so a crowd of slow connections from one place leaves room for everybody else. 0: no cap.
  std::size_t maxperaddress = 64;
};

// The address a connection counts against: the address itself, or its /64 for IPv6, which a
// client usually owns whole.
std::string addresskey(const std::string& address);

class Responder;
using Handler = std::function<void(Request& request, Responder responder)>;
// Renders the page sent with a refusal the server makes itself (400, 413, 414, ...).
using ErrorPage = std::function<Response(int status)>;

const char* reasonphrase(int status);

// A moment as HTTP dates are written (platform/httpdate.h), shared with the download client.
using ::httpdate;

// The hand-back of one request's answer. Copies share one answer: the first send() counts, and
// a request nobody answered gets 500 when the last copy goes. send() may be called from any
// thread.
class Responder {
 public:
  struct Slot;
  explicit Responder(std::shared_ptr<Slot> slot) : slot_(std::move(slot)) {}
  void send(Response response) const;

 private:
  std::shared_ptr<Slot> slot_;
};

class Server {
 public:
  Server(Handler handler, ErrorPage errorpage, Limits limits = {});
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds and listens; port 0 picks a free one. Returns the port; throws std::runtime_error.
  int listen(const std::string& host, int port);
  // Serves with `loops` event loops until stop(); returns when they have all ended.
  void run(unsigned loops);
  // Ends run(); callable from any thread, also before run() has started. No connection or
  // request is taken after it, idle connections are closed, and run() returns once the answers
  // under way are sent (or limits().draintimeout has passed).
  void stop();

  const Limits& limits() const { return limits_; }

 private:
  class Loop;
  friend class Loop;

  Handler handler_;
  ErrorPage errorpage_;
  Limits limits_;
  int listenfd_ = -1;
  std::atomic<bool> stopping_{false};
  std::mutex loopsmutex_;
  std::vector<std::unique_ptr<Loop>> loops_;
  std::atomic<std::size_t> connections_{0};
  // Open connections by addresskey(); only addresses with one open are kept.
  bool takeaddress(const std::string& key);
  void releaseaddress(const std::string& key);
  std::mutex addressesmutex_;
  std::unordered_map<std::string, std::size_t> addresses_;
  // limits_.maxconnections, or fewer when the descriptors the process may open allow fewer.
  std::size_t connectioncap_ = 0;
};

// Parsing, apart so it can be tested on its own.

// Decodes %XX escapes (and '+' as a blank where plusisblank: in a form); nothing when an escape
// is malformed. The one decoder for paths and forms alike.
std::optional<std::string> percentdecode(std::string_view s, bool plusisblank = false);

struct HeadParse {
  enum Kind { Incomplete, Complete, Refused } kind = Incomplete;
  std::size_t length = 0;  // bytes of the head, blank line included, when Complete
  int status = 0;          // the refusal's status when Refused
};

// Looks for a whole request head at the start of `data` and checks its size limits.
HeadParse findhead(std::string_view data, const Limits& limits);
// Parses a complete head into request; returns 0 or the status of the refusal.
int parsehead(std::string_view head, const Limits& limits, Request& request);
// The body length the head announces: nothing when none, or a refusal status in `status`.
std::optional<std::uint64_t> bodylength(const Request& request, int& status);

struct ByteRange {
  std::uint64_t first = 0;
  std::uint64_t length = 0;
};
enum class RangeKind { Whole, Part, Unsatisfiable };
// A single "bytes=" range of a file of `size` bytes; anything not understood means the whole.
RangeKind parserange(std::string_view header, std::uint64_t size, ByteRange& range);

}  // namespace pipshiftserver::http
