// Where the scores are kept, as the rest of the server sees it: one SQLite file by default, or a
// PostgreSQL database that several servers share. Every store commits before it returns, so an
// answered post is never lost. The two stores live in scoredb.* and pgstore.*; only
// openstore.* knows both.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "server/scoreform.h"

namespace pipshiftserver {

class DbError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An entry whose game record held up: its row, the deal it was played on and the day (UTC,
// "YYYY-MM-DD") the record was checked.
struct Verification {
  std::int64_t id = 0;
  int deal = 0;
  std::string day;
};

class ScoreStore {
 public:
  virtual ~ScoreStore() = default;
  // Stores the entries together in one transaction and returns once it is durable, with the
  // rows' ids in the order of the entries. `announce` tells other servers on the same database
  // that the best list may have changed. Throws DbError, and then nothing of the batch is stored.
  virtual std::vector<std::int64_t> add(const std::vector<ScoreEntry>& entries, bool announce) = 0;
  std::int64_t add(const ScoreEntry& entry) {
    return add(std::vector<ScoreEntry>{entry}, false).front();
  }
  // Marks the rows verified, in one transaction, and tells the other servers. Throws DbError.
  virtual void markverified(const std::vector<Verification>& marks) = 0;
  // The best entries, highest score first; among equal scores the earlier post ranks higher.
  virtual std::vector<ScoreEntry> best(std::size_t limit) = 0;
  // The same, of verified entries only.
  virtual std::vector<ScoreEntry> bestverified(std::size_t limit) = 0;
  // The verified entries of one deal checked on one day, in the same order.
  virtual std::vector<ScoreEntry> bestofday(int deal, const std::string& day,
                                            std::size_t limit) = 0;
  virtual std::size_t count() = 0;
  // Whether another process may have changed the scores since the last call. Cheap: no query
  // of the table.
  virtual bool changedelsewhere() = 0;
};

}  // namespace pipshiftserver
