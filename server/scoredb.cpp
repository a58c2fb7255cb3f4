#include "server/scoredb.h"

#include <sqlite3.h>

namespace pipshiftserver {

namespace {

// Long enough to outlast another process's write, short enough to answer the player in time.
constexpr int kBusyTimeoutMs = 5000;

struct StatementDeleter {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

}  // namespace

ScoreDb::ScoreDb(const std::string& path) {
  const int rc =
      sqlite3_open_v2(path.c_str(), &db_,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    const std::string message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    sqlite3_close(db_);
    db_ = nullptr;
    throw DbError("cannot open score database " + path + ": " + message);
  }
  try {
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    exec("PRAGMA journal_mode=WAL");
    // An answered post must be on disk, not only in the operating system's cache: in WAL mode
    // FULL syncs the log at every commit, where NORMAL leaves the last commits to a power cut.
    // Posts are committed in groups, so the sync is paid once per group, not once per post.
    exec("PRAGMA synchronous=FULL");
    exec(
        "CREATE TABLE IF NOT EXISTS scores ("
        " id INTEGER PRIMARY KEY AUTOINCREMENT,"
        " name TEXT NOT NULL,"
        " date TEXT NOT NULL,"
        " score INTEGER NOT NULL,"
        " received TEXT NOT NULL DEFAULT CURRENT_TIMESTAMP)");
    exec("CREATE INDEX IF NOT EXISTS scores_rank ON scores (score DESC, id ASC)");
    upgrade();
    if (sqlite3_prepare_v3(db_, "INSERT INTO scores (name, date, score) VALUES (?, ?, ?)", -1,
                           SQLITE_PREPARE_PERSISTENT, &insert_, nullptr) != SQLITE_OK) {
      fail("prepare insert");
    }
    if (sqlite3_prepare_v3(db_,
                           "UPDATE scores SET verified = 1, deal = ?, verifiedday = ? WHERE id = ?",
                           -1, SQLITE_PREPARE_PERSISTENT, &mark_, nullptr) != SQLITE_OK) {
      fail("prepare mark");
    }
    dataversion_ = dataversion();
  } catch (...) {
    sqlite3_finalize(insert_);
    sqlite3_finalize(mark_);
    sqlite3_close(db_);
    db_ = nullptr;
    throw;
  }
}

ScoreDb::~ScoreDb() {
  sqlite3_finalize(insert_);
  sqlite3_finalize(mark_);
  sqlite3_close(db_);
}

void ScoreDb::exec(const char* sql) {
  char* message = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
    const std::string text = message ? message : "unknown error";
    sqlite3_free(message);
    throw DbError(std::string("score database: ") + text);
  }
}

void ScoreDb::fail(const std::string& what) {
  throw DbError("score database, " + what + ": " + sqlite3_errmsg(db_));
}

void ScoreDb::upgrade() {
  // Servers of the same file may start together: the look and the change are one transaction.
  exec("BEGIN IMMEDIATE");
  try {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db_, "SELECT 1 FROM pragma_table_info('scores') WHERE name = 'verified'",
                           -1, &raw, nullptr) != SQLITE_OK) {
      fail("prepare table_info");
    }
    Statement look(raw);
    const int rc = sqlite3_step(raw);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) fail("table_info");
    look.reset();
    if (rc == SQLITE_DONE) {
      // Rows of older servers are unverified; servers not yet upgraded insert without the
      // columns and get the same.
      exec("ALTER TABLE scores ADD COLUMN verified INTEGER NOT NULL DEFAULT 0");
      exec("ALTER TABLE scores ADD COLUMN deal INTEGER");
      exec("ALTER TABLE scores ADD COLUMN verifiedday TEXT");
    }
    exec(
        "CREATE INDEX IF NOT EXISTS scores_verified ON scores (score DESC, id ASC) "
        "WHERE verified = 1");
    exec(
        "CREATE INDEX IF NOT EXISTS scores_daily ON scores (verifiedday, deal, score DESC, id ASC) "
        "WHERE verified = 1");
    exec("COMMIT");
  } catch (...) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

std::vector<std::int64_t> ScoreDb::add(const std::vector<ScoreEntry>& entries, bool) {
  std::vector<std::int64_t> ids;
  if (entries.empty()) return ids;
  ids.reserve(entries.size());
  std::lock_guard lock(mutex_);
  // IMMEDIATE takes the write lock at once, so a busy database waits here, not at COMMIT.
  exec("BEGIN IMMEDIATE");
  try {
    for (const ScoreEntry& entry : entries) {
      sqlite3_reset(insert_);
      sqlite3_bind_text(insert_, 1, entry.name.data(), static_cast<int>(entry.name.size()),
                        SQLITE_TRANSIENT);
      sqlite3_bind_text(insert_, 2, entry.date.data(), static_cast<int>(entry.date.size()),
                        SQLITE_TRANSIENT);
      sqlite3_bind_int(insert_, 3, entry.score);
      if (sqlite3_step(insert_) != SQLITE_DONE) fail("insert");
      ids.push_back(sqlite3_last_insert_rowid(db_));
    }
    sqlite3_reset(insert_);
    exec("COMMIT");
  } catch (...) {
    sqlite3_reset(insert_);
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
  return ids;
}

void ScoreDb::markverified(const std::vector<Verification>& marks) {
  if (marks.empty()) return;
  std::lock_guard lock(mutex_);
  exec("BEGIN IMMEDIATE");
  try {
    for (const Verification& mark : marks) {
      sqlite3_reset(mark_);
      sqlite3_bind_int(mark_, 1, mark.deal);
      sqlite3_bind_text(mark_, 2, mark.day.data(), static_cast<int>(mark.day.size()),
                        SQLITE_TRANSIENT);
      sqlite3_bind_int64(mark_, 3, mark.id);
      if (sqlite3_step(mark_) != SQLITE_DONE) fail("mark");
    }
    sqlite3_reset(mark_);
    exec("COMMIT");
  } catch (...) {
    sqlite3_reset(mark_);
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

std::vector<ScoreEntry> ScoreDb::list(const char* sql, std::size_t limit,
                                      const std::function<int(sqlite3_stmt*)>& bind) {
  std::lock_guard lock(mutex_);
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db_, sql, -1, &raw, nullptr) != SQLITE_OK) fail("prepare list");
  Statement select(raw);
  const int limitAt = bind(raw);
  sqlite3_bind_int64(raw, limitAt, static_cast<sqlite3_int64>(limit));
  std::vector<ScoreEntry> out;
  int rc;
  while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
    auto text = [raw](int col) {
      const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(raw, col));
      return std::string(p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(raw, col)));
    };
    out.push_back(
        ScoreEntry{text(0), text(1), sqlite3_column_int(raw, 2), sqlite3_column_int(raw, 3) != 0});
  }
  if (rc != SQLITE_DONE) fail("list");
  return out;
}

std::vector<ScoreEntry> ScoreDb::best(std::size_t limit) {
  return list("SELECT name, date, score, verified FROM scores ORDER BY score DESC, id ASC LIMIT ?",
              limit, [](sqlite3_stmt*) { return 1; });
}

std::vector<ScoreEntry> ScoreDb::bestverified(std::size_t limit) {
  return list(
      "SELECT name, date, score, verified FROM scores WHERE verified = 1 "
      "ORDER BY score DESC, id ASC LIMIT ?",
      limit, [](sqlite3_stmt*) { return 1; });
}

std::vector<ScoreEntry> ScoreDb::bestofday(int deal, const std::string& day, std::size_t limit) {
  return list(
      "SELECT name, date, score, verified FROM scores "
      "WHERE verified = 1 AND verifiedday = ? AND deal = ? ORDER BY score DESC, id ASC LIMIT ?",
      limit, [&](sqlite3_stmt* s) {
        sqlite3_bind_text(s, 1, day.data(), static_cast<int>(day.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int(s, 2, deal);
        return 3;
      });
}

std::size_t ScoreDb::count() {
  std::lock_guard lock(mutex_);
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db_, "SELECT COUNT(*) FROM scores", -1, &raw, nullptr) != SQLITE_OK) {
    fail("prepare count");
  }
  Statement select(raw);
  if (sqlite3_step(raw) != SQLITE_ROW) fail("count");
  return static_cast<std::size_t>(sqlite3_column_int64(raw, 0));
}

long long ScoreDb::dataversion() {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db_, "PRAGMA data_version", -1, &raw, nullptr) != SQLITE_OK) {
    fail("prepare data_version");
  }
  Statement select(raw);
  if (sqlite3_step(raw) != SQLITE_ROW) fail("data_version");
  return sqlite3_column_int64(raw, 0);
}

bool ScoreDb::changedelsewhere() {
  std::lock_guard lock(mutex_);
  // The version moves only for commits made through other connections, ours excluded.
  const long long now = dataversion();
  const bool changed = now != dataversion_;
  dataversion_ = now;
  return changed;
}

}  // namespace pipshiftserver
