// Where the scores are kept: one SQLite file by default, or a PostgreSQL database that several
// servers share. Every store commits before it returns, so an answered post is never lost.
#pragma once

#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "server/scoreform.h"

struct sqlite3;
struct sqlite3_stmt;

namespace pipshiftserver {

class DbError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ScoreStore {
 public:
  virtual ~ScoreStore() = default;
  // Stores the entries together in one transaction and returns once it is durable. `announce`
  // tells other servers on the same database that the best list may have changed. Throws
  // DbError, and then nothing of the batch is stored.
  virtual void add(const std::vector<ScoreEntry>& entries, bool announce) = 0;
  void add(const ScoreEntry& entry) { add(std::vector<ScoreEntry>{entry}, false); }
  // The best entries, highest score first; among equal scores the earlier post ranks higher.
  virtual std::vector<ScoreEntry> best(std::size_t limit) = 0;
  virtual std::size_t count() = 0;
  // Whether another process may have changed the scores since the last call. Cheap: no query
  // of the table.
  virtual bool changedelsewhere() = 0;
};

// "postgresql://..." or "postgres://..." names a PostgreSQL database; anything else a SQLite file.
bool ispostgresaddress(std::string_view db);
// Opens the store the --db value names, creating the table when it is missing. Throws DbError.
std::unique_ptr<ScoreStore> openstore(const std::string& db);
// The stores one server writes through: a SQLite file takes one writer at a time, a database
// server several (the first of them watches for other servers' changes).
std::vector<std::unique_ptr<ScoreStore>> openwriters(const std::string& db);

// The SQLite file.
class ScoreDb final : public ScoreStore {
 public:
  // Opens or creates the database; throws DbError when it cannot be used.
  explicit ScoreDb(const std::string& path);
  ~ScoreDb() override;
  ScoreDb(const ScoreDb&) = delete;
  ScoreDb& operator=(const ScoreDb&) = delete;

  using ScoreStore::add;
  void add(const std::vector<ScoreEntry>& entries, bool announce) override;
  std::vector<ScoreEntry> best(std::size_t limit) override;
  std::size_t count() override;
  bool changedelsewhere() override;

 private:
  void exec(const char* sql);
  [[noreturn]] void fail(const std::string& what);
  long long dataversion();

  std::mutex mutex_;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
  long long dataversion_ = 0;
};

}  // namespace pipshiftserver
