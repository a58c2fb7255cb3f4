#include "server/serverapp.h"

#include <httplib.h>

#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "server/scoredb.h"
#include "server/scoreform.h"

namespace pipshiftserver {

namespace {

constexpr const char* kHtml = "text/html; charset=utf-8";
// A score post is a few dozen bytes; anything far larger is not one.
constexpr std::size_t kMaxPostBytes = 16 * 1024;

void refuse(httplib::Response& res, int status, const std::string& title,
            const std::string& message) {
  res.status = status;
  res.set_content(renderErrorPage(title, message), kHtml);
}

void postScore(ScoreDb& db, const httplib::Request& req, httplib::Response& res) {
  // The fields may come in the query, as the program sends them, or as a posted form.
  const std::size_t question = req.target.find('?');
  std::string text =
      question == std::string::npos ? std::string() : req.target.substr(question + 1);
  const bool formBody =
      req.method == "POST" &&
      req.get_header_value("Content-Type").rfind("application/x-www-form-urlencoded", 0) == 0;
  if (formBody && !req.body.empty()) {
    if (!text.empty()) text += '&';
    text += req.body;
  }
  const auto fields = parseForm(text);
  if (!fields) {
    refuse(res, 400, "Score refused", "The request holds a malformed %-escape.");
    return;
  }
  const Checked checked = checkEntry(*fields);
  if (!checked.entry) {
    refuse(res, 400, "Score refused", checked.error);
    return;
  }
  try {
    db.add(*checked.entry);
  } catch (const DbError& e) {
    std::cerr << "pipshift-server: " << e.what() << std::endl;
    refuse(res, 500, "Score not stored", "The server could not store the score; try again later.");
    return;
  }
  res.set_content("Score received.\n", "text/plain; charset=utf-8");
}

void showList(ScoreDb& db, httplib::Response& res) {
  try {
    res.set_content(renderScorePage(db.best(kListLength)), kHtml);
  } catch (const DbError& e) {
    std::cerr << "pipshift-server: " << e.what() << std::endl;
    refuse(res, 500, "List unavailable", "The server could not read the score list.");
  }
}

void serveFile(const std::filesystem::path& root, const httplib::Request& req,
               httplib::Response& res) {
  const auto file = resolveStatic(root, req.path);
  if (!file) {
    refuse(res, 404, "Not Found", "There is no such file here.");
    return;
  }
  std::ifstream in(*file, std::ios::binary);
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in && !in.eof()) {
    refuse(res, 500, "Unreadable", "The file could not be read.");
    return;
  }
  res.set_content(std::move(content), contentTypeFor(*file).c_str());
}

}  // namespace

std::string usage() {
  return "usage: pipshift-server --port N --db FILE --root DIR [--host ADDR]\n"
         "  --port N     TCP port to listen on; 0 picks a free one (default 8080)\n"
         "  --db FILE    SQLite database of posted scores (created when missing)\n"
         "  --root DIR   folder of published files, e.g. DIR/pipshift/pipshiftversion.txt\n"
         "  --host ADDR  address to bind (default 127.0.0.1)\n";
}

ParsedOptions parseOptions(const std::vector<std::string>& args) {
  ParsedOptions parsed;
  Options o;
  bool haveRoot = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") return parsed;
    if (a != "--port" && a != "--db" && a != "--root" && a != "--host") {
      parsed.error = "unknown argument: " + a;
      return parsed;
    }
    if (i + 1 >= args.size() || args[i + 1].empty()) {
      parsed.error = a + " needs a value";
      return parsed;
    }
    const std::string& v = args[++i];
    if (a == "--port") {
      const bool digits = v.size() <= 5 && v.find_first_not_of("0123456789") == std::string::npos;
      const int port = digits ? std::stoi(v) : -1;
      if (port < 0 || port > 65535) {
        parsed.error = "--port must be a number from 0 to 65535";
        return parsed;
      }
      o.port = port;
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

void installRoutes(httplib::Server& server, ScoreDb& db, const std::filesystem::path& root) {
  server.set_payload_max_length(kMaxPostBytes);
  server.Get("/cgi-bin/pipshift.cgi", [&db](const httplib::Request& req, httplib::Response& res) {
    postScore(db, req, res);
  });
  server.Post("/cgi-bin/pipshift.cgi", [&db](const httplib::Request& req, httplib::Response& res) {
    postScore(db, req, res);
  });
  server.Get("/counter/pipshift.shtml",
             [&db](const httplib::Request&, httplib::Response& res) { showList(db, res); });
  server.Get(".*", [root](const httplib::Request& req, httplib::Response& res) {
    serveFile(root, req, res);
  });
  // Whatever else goes wrong (unknown method, oversized body) still gets a readable page.
  server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (res.body.empty()) {
      res.set_content(renderErrorPage("Error " + std::to_string(res.status),
                                      "The server cannot answer this request."),
                      kHtml);
    }
  });
  server.set_exception_handler(
      [](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        refuse(res, 500, "Server error", "The server could not answer this request.");
      });
}

}  // namespace pipshiftserver
