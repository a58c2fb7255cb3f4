// The score list on disk: SQLite in write-ahead-log mode, so readers never wait for a post and
// a killed server loses no score it has acknowledged.
#pragma once

#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "server/scoreform.h"

struct sqlite3;

namespace pipshiftserver {

class DbError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ScoreDb {
 public:
  // Opens or creates the database; throws DbError when it cannot be used.
  explicit ScoreDb(const std::string& path);
  ~ScoreDb();
  ScoreDb(const ScoreDb&) = delete;
  ScoreDb& operator=(const ScoreDb&) = delete;

  // Stores one entry; returns once it is committed. Throws DbError.
  void add(const ScoreEntry& entry);
  // The best entries, highest score first; among equal scores the earlier post ranks higher.
  std::vector<ScoreEntry> best(std::size_t limit);
  std::size_t count();

 private:
  void exec(const char* sql);
  [[noreturn]] void fail(const std::string& what);

  std::mutex mutex_;
  sqlite3* db_ = nullptr;
};

}  // namespace pipshiftserver
