#include "server/serverapp.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "server/scoreboard.h"
#include "server/scoreform.h"

namespace pipshiftserver {

namespace {

constexpr const char* kHtml = "text/html; charset=utf-8";
constexpr const char* kPostPath = "/cgi-bin/pipshift.cgi";
constexpr const char* kListPath = "/counter/pipshift.shtml";
constexpr const char* kRecordPath = "/cgi-bin/pipshiftgame.cgi";
constexpr const char* kVerifiedPath = "/counter/pipshiftverified.shtml";
constexpr const char* kDailyPath = "/counter/pipshiftdaily.shtml";

http::Response page(int status, const std::string& title, const std::string& message) {
  return http::Response::text(status, rendererrorpage(title, message), kHtml);
}

http::Response notallowed(const char* allow) {
  http::Response r = page(405, "Method Not Allowed", "This address does not take that request.");
  r.headers.push_back({"Allow", allow});
  return r;
}

bool isform(const http::Request& request) {
  const std::string* type = request.header("Content-Type");
  return type && type->rfind("application/x-www-form-urlencoded", 0) == 0;
}

}  // namespace

std::string usage() {
  return "usage: pipshift-server --port N --db DB --root DIR [--host ADDR] [--post-limit N]\n"
         "                       [--conn-limit N]\n"
         "  --port N        TCP port to listen on; 0 picks a free one (default 8080)\n"
         "  --db DB         SQLite file of posted scores (created when missing), or\n"
         "                  postgresql://user@host:port/dbname (table created when missing)\n"
         "  --root DIR      folder of published files, e.g. DIR/pipshift/pipshiftversion.txt\n"
         "  --host ADDR     address to bind (default 127.0.0.1)\n"
         "  --post-limit N  score posts one address may make in a minute (default 30; 0: no "
         "limit)\n"
         "  --conn-limit N  connections one address may hold at once (default 64; 0: no limit)\n";
}

ParsedOptions parseoptions(const std::vector<std::string>& args) {
  ParsedOptions parsed;
  Options o;
  bool haveRoot = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") return parsed;
    if (a != "--port" && a != "--db" && a != "--root" && a != "--host" && a != "--post-limit" &&
        a != "--conn-limit") {
      parsed.error = "unknown argument: " + a;
      return parsed;
    }
    if (i + 1 >= args.size() || args[i + 1].empty()) {
      parsed.error = a + " needs a value";
      return parsed;
    }
    const std::string& v = args[++i];
    const bool digits = v.find_first_not_of("0123456789") == std::string::npos;
    if (a == "--port") {
      const int port = digits && v.size() <= 5 ? std::stoi(v) : -1;
      if (port < 0 || port > 65535) {
        parsed.error = "--port must be a number from 0 to 65535";
        return parsed;
      }
      o.port = port;
    } else if (a == "--post-limit") {
      const long limit = digits && v.size() <= 7 ? std::stol(v) : -1;
      if (limit < 0 || limit > 1000000) {
        parsed.error = "--post-limit must be a number from 0 to 1000000";
        return parsed;
      }
      o.postlimit = static_cast<unsigned>(limit);
    } else if (a == "--conn-limit") {
      const long limit = digits && v.size() <= 7 ? std::stol(v) : -1;
      if (limit < 0 || limit > 1000000) {
        parsed.error = "--conn-limit must be a number from 0 to 1000000";
        return parsed;
      }
      o.connlimit = static_cast<std::size_t>(limit);
    } else if (a == "--db") {
      o.db = v;
    } else if (a == "--root") {
      o.root = v;
      haveRoot = true;
    } else {
      o.host = v;
    }
  }
  if (o.db.empty()) {
    parsed.error = "--db is required";
  } else if (!haveRoot) {
    parsed.error = "--root is required";
  } else if (!std::filesystem::is_directory(o.root)) {
    parsed.error = "--root is not a folder: " + o.root.string();
  } else {
    parsed.options = o;
  }
  return parsed;
}

Routes::Routes(ScoreBoard& board, std::filesystem::path root, unsigned postlimit,
               RecentPosts::Now now)
    : board_(board),
      root_(std::move(root)),
      limiter_(postlimit),
      recordlimiter_(postlimit),
      recent_(std::make_shared<RecentPosts>(std::move(now))) {}

http::Response Routes::errorpage(int status) {
  switch (status) {
    case 400:
      return page(400, "Bad Request", "The server could not understand the request.");
    case 408:
      return page(408, "Request Timeout", "The request did not arrive in time.");
    case 411:
      return page(411, "Length Required", "A request body must state its length.");
    case 413:
      return page(413, "Payload Too Large", "The request is larger than this server takes.");
    case 414:
      return page(414, "URI Too Long", "The request address is longer than this server takes.");
    case 431:
      return page(431, "Request Header Fields Too Large",
                  "The request headers are larger than this server takes.");
    case 500:
      return page(500, "Server error", "The server could not answer this request.");
    default:
      return page(status, "Error " + std::to_string(status),
                  "The server cannot answer this request.");
  }
}

void Routes::handle(http::Request& request, http::Responder responder) {
  const std::string& method = request.method;
  if (request.path == kPostPath) {
    // HEAD must not store anything, so only the two methods that post are taken.
    if (method != "GET" && method != "POST") return responder.send(notallowed("GET, POST"));
    return postscore(request, responder);
  }
  if (request.path == kRecordPath) {
    if (method != "POST") return responder.send(notallowed("POST"));
    return postrecord(request, responder);
  }
  if (method != "GET" && method != "HEAD") return responder.send(notallowed("GET, HEAD"));
  if (request.path == kListPath || request.path == kVerifiedPath || request.path == kDailyPath) {
    http::Response r;
    r.contenttype = kHtml;
    r.body = request.path == kListPath       ? board_.page()
             : request.path == kVerifiedPath ? board_.verifiedpage()
                                             : board_.dailypage();
    return responder.send(std::move(r));
  }
  servefile(request, responder);
}

namespace {

// The 429 for an address past its limit, or nothing when the request may go on.
std::optional<http::Response> toomany(PostLimiter& limiter, const http::Request& request,
                                      const char* title, const char* what) {
  int retryafter = 0;
  if (limiter.admit(request.remoteaddress, &retryafter)) return std::nullopt;
  http::Response r =
      page(429, title,
           std::string("This address has sent too many ") + what +
               " in the last minute; try again in " + std::to_string(retryafter) + " seconds.");
  r.headers.push_back({"Retry-After", std::to_string(retryafter)});
  return r;
}

}  // namespace

void Routes::postscore(const http::Request& request, const http::Responder& responder) {
  if (auto refusal = toomany(limiter_, request, "Too many scores", "scores")) {
    return responder.send(std::move(*refusal));
  }
  // The fields may come in the query, as the program sends them, or as a posted form.
  std::string text = request.query;
  if (request.method == "POST" && isform(request) && !request.body.empty()) {
    if (!text.empty()) text += '&';
    text += request.body;
  }
  const auto fields = parseform(text);
  if (!fields) {
    return responder.send(page(400, "Score refused", "The request holds a malformed %-escape."));
  }
  Checked checked = checkentry(*fields);
  if (!checked.entry) return responder.send(page(400, "Score refused", checked.error));
  // The post is remembered for the game record that may follow it, before it is answered.
  ScoreEntry entry = *checked.entry;
  board_.postnumbered(
      std::move(*checked.entry), [recent = recent_, responder, address = request.remoteaddress,
                                  entry = std::move(entry)](bool stored, std::int64_t id) {
        if (stored) {
          recent->note(address, entry, id);
          responder.send(
              http::Response::text(200, "Score received.\n", "text/plain; charset=utf-8"));
        } else {
          responder.send(page(500, "Score not stored",
                              "The server could not store the score; try again later."));
        }
      });
}

void Routes::postrecord(const http::Request& request, const http::Responder& responder) {
  if (auto refusal = toomany(recordlimiter_, request, "Too many records", "game records")) {
    return responder.send(std::move(*refusal));
  }
  RecordClaim claim = checkrecordpost(request.body);
  if (claim.status != 0) return responder.send(page(claim.status, "Record refused", claim.error));
  const std::optional<std::int64_t> id = recent_->claim(request.remoteaddress, claim.entry);
  if (!id) {
    return responder.send(page(409, "Record refused",
                               "No score post from this address in the last few minutes has "
                               "this name, date and score, or its record came already."));
  }
  Verification mark{*id, claim.record.deal, board_.today()};
  board_.markverified(std::move(mark), [recent = recent_, responder,
                                        address = request.remoteaddress, entry = claim.entry,
                                        row = *id](bool stored) {
    if (stored) {
      responder.send(http::Response::text(200, "Record verified.\n", "text/plain; charset=utf-8"));
    } else {
      recent->giveback(address, entry, row);
      responder.send(page(500, "Record not stored",
                          "The server could not store the verified mark; try again later."));
    }
  });
}

void Routes::servefile(const http::Request& request, const http::Responder& responder) {
  const auto path = resolvestatic(root_, request.path);
  // Owns the descriptor from here on, whichever answer goes out.
  http::FileBody file(path ? ::open(path->c_str(), O_RDONLY | O_CLOEXEC) : -1, 0, 0);
  if (path && !file.open() && (errno == EMFILE || errno == ENFILE || errno == ENOMEM)) {
    // The file is there; the server is short of descriptors for a moment.
    return responder.send(page(503, "Service Unavailable", "The server is busy; try again soon."));
  }
  struct stat st {};
  if (!file.open() || ::fstat(file.fd(), &st) != 0 || !S_ISREG(st.st_mode)) {
    return responder.send(page(404, "Not Found", "There is no such file here."));
  }
  const auto size = static_cast<std::uint64_t>(st.st_size);
  http::Response r;
  r.contenttype = contenttypefor(*path);
  r.headers.push_back({"Accept-Ranges", "bytes"});
  http::ByteRange range{0, size};
  const std::string* asked = request.header("Range");
  const http::RangeKind kind =
      asked ? http::parserange(*asked, size, range) : http::RangeKind::Whole;
  if (kind == http::RangeKind::Unsatisfiable) {
    http::Response refused =
        page(416, "Range Not Satisfiable", "The file has no bytes in the range asked for.");
    refused.headers.push_back({"Content-Range", "bytes */" + std::to_string(size)});
    return responder.send(std::move(refused));
  }
  if (kind == http::RangeKind::Part) {
    r.status = 206;
    r.headers.push_back({"Content-Range", "bytes " + std::to_string(range.first) + "-" +
                                              std::to_string(range.first + range.length - 1) + "/" +
                                              std::to_string(size)});
  }
  // Streamed from the file as the client reads, never held in memory whole.
  file.select(range.first, range.length);
  r.file = std::move(file);
  responder.send(std::move(r));
}

}  // namespace pipshiftserver
