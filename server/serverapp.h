// The score and update server's routes and command line, apart from main() so tests can run
// them in-process.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "server/httpserver.h"
#include "server/ratelimit.h"
#include "server/recordcheck.h"

namespace pipshiftserver {

class ScoreBoard;

// Score posts one address may make in a minute, unless --post-limit says otherwise.
inline constexpr unsigned kDefaultPostLimit = 30;

struct Options {
  std::string host = "127.0.0.1";
  int port = 8080;
  std::string db;
  std::filesystem::path root;
  unsigned postlimit = kDefaultPostLimit;
  // Connections one address may hold at once (--conn-limit); 0 lifts the cap.
  std::size_t connlimit = http::Limits{}.maxperaddress;
};

struct ParsedOptions {
  std::optional<Options> options;
  std::string error;  // set when options is empty; empty for --help
};

ParsedOptions parseoptions(const std::vector<std::string>& args);
std::string usage();

// Serves the score post, the game record that follows it, the list pages and the files under
// root.
class Routes {
 public:
  Routes(ScoreBoard& board, std::filesystem::path root, unsigned postlimit,
         RecentPosts::Now now = RecentPosts::Clock::now);
  void handle(http::Request& request, http::Responder responder);
  // The page sent with a refusal the HTTP layer makes by itself.
  static http::Response errorpage(int status);

 private:
  void postscore(const http::Request& request, const http::Responder& responder);
  void postrecord(const http::Request& request, const http::Responder& responder);
  void servefile(const http::Request& request, const http::Responder& responder);

  ScoreBoard& board_;
  std::filesystem::path root_;
  PostLimiter limiter_;
  // Records are limited apart, so a record does not use up its player's posts.
  PostLimiter recordlimiter_;
  // Shared with the answers still to come, which may outlive the routes.
  std::shared_ptr<RecentPosts> recent_;
};

}  // namespace pipshiftserver
