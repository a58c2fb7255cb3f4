// The scores in one SQLite file, which several servers on one machine may share.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "server/scorestore.h"

struct sqlite3;
struct sqlite3_stmt;

namespace pipshiftserver {

// The SQLite file.
class ScoreDb final : public ScoreStore {
 public:
  // Opens or creates the database; throws DbError when it cannot be used.
  explicit ScoreDb(const std::string& path);
  ~ScoreDb() override;
  ScoreDb(const ScoreDb&) = delete;
  ScoreDb& operator=(const ScoreDb&) = delete;

  using ScoreStore::add;
  std::vector<std::int64_t> add(const std::vector<ScoreEntry>& entries, bool announce) override;
  void markverified(const std::vector<Verification>& marks) override;
  std::vector<ScoreEntry> best(std::size_t limit) override;
  std::vector<ScoreEntry> bestverified(std::size_t limit) override;
  std::vector<ScoreEntry> bestofday(int deal, const std::string& day, std::size_t limit) override;
  std::size_t count() override;
  bool changedelsewhere() override;

 private:
  void exec(const char* sql);
  // Adds what a database made by an older server lacks: the verified mark and its deal and day.
  void upgrade();
  // Runs a listing query whose last parameter is the limit; `bind` binds the others.
  std::vector<ScoreEntry> list(const char* sql, std::size_t limit,
                               const std::function<int(sqlite3_stmt*)>& bind);
  [[noreturn]] void fail(const std::string& what);
  long long dataversion();

  std::mutex mutex_;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
  sqlite3_stmt* mark_ = nullptr;
  long long dataversion_ = 0;
};

}  // namespace pipshiftserver
