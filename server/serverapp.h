// The score and update server's routes and command line, apart from main() so tests can run
// them in-process.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace httplib {
class Server;
}

namespace pipshiftserver {

class ScoreDb;

struct Options {
  std::string host = "127.0.0.1";
  int port = 8080;
  std::string db;
  std::filesystem::path root;
};

struct ParsedOptions {
  std::optional<Options> options;
  std::string error;  // set when options is empty; empty for --help
};

ParsedOptions parseOptions(const std::vector<std::string>& args);
std::string usage();

// Serves the score post, the list page and the files under root.
void installRoutes(httplib::Server& server, ScoreDb& db, const std::filesystem::path& root);

}  // namespace pipshiftserver
