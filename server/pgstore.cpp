#include "server/pgstore.h"

#include <libpq-fe.h>

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <random>

namespace pipshiftserver {

namespace {

// Any fixed number: the servers that create the table at the same moment take turns on it.
constexpr const char* kSchemaLock = "SELECT pg_advisory_xact_lock(7034711)";

}  // namespace

void PgStore::ResultDeleter::operator()(pg_result* r) const {
  PQclear(r);
}

std::string withoutpassword(const std::string& address) {
  const std::size_t scheme = address.find("://");
  if (scheme == std::string::npos) return address;
  const std::size_t start = scheme + 3;
  const std::size_t at = address.find('@', start);
  const std::size_t slash = address.find('/', start);
  if (at == std::string::npos || (slash != std::string::npos && slash < at)) return address;
  const std::size_t colon = address.find(':', start);
  if (colon == std::string::npos || colon > at) return address;
  return address.substr(0, colon) + address.substr(at);
}

std::string newsourcename() {
  std::random_device random;
  return std::to_string(getpid()) + "-" + std::to_string(random()) + std::to_string(random());
}

PgStore::PgStore(const std::string& address, bool listen, std::string source)
    : address_(address), listen_(listen), source_(source.empty() ? newsourcename() : source) {
  connect();
}

PgStore::~PgStore() {
  PQfinish(conn_);
}

void PgStore::connect() {
  // A database that does not answer must not hold a server up for ever; the address may still
  // name a connect_timeout of its own, which comes later and wins. TCP keepalives find a database
  // machine that vanished while the connection was idle (the watcher's connection mostly is),
  // within about a minute instead of the system's two hours. The encoding comes last, so names
  // are stored as the UTF-8 they were checked as, whatever the address says.
  const char* keywords[] = {
      "connect_timeout",  "keepalives", "keepalives_idle", "keepalives_interval",
      "keepalives_count", "dbname",     "client_encoding", nullptr};
  const char* values[] = {"10", "1", "30", "10", "3", address_.c_str(), "UTF8", nullptr};
  conn_ = PQconnectdbParams(keywords, values, 1);
  if (PQstatus(conn_) != CONNECTION_OK) {
    std::string message = PQerrorMessage(conn_);
    while (!message.empty() && message.back() == '\n') message.pop_back();
    PQfinish(conn_);
    conn_ = nullptr;
    throw DbError("cannot open score database " + withoutpassword(address_) + ": " + message);
  }
  try {
    preparesession();
    sessionready_ = true;
    exec("BEGIN");
    exec(kSchemaLock);
    exec(
        "CREATE TABLE IF NOT EXISTS scores ("
        " id BIGSERIAL PRIMARY KEY,"
        " name TEXT NOT NULL,"
        " date TEXT NOT NULL,"
        " score INTEGER NOT NULL,"
        " received TIMESTAMPTZ NOT NULL DEFAULT now())");
    exec("CREATE INDEX IF NOT EXISTS scores_rank ON scores (score DESC, id ASC)");
    // What a table made by an older server lacks. Its rows are unverified, and servers not yet
    // upgraded insert without these columns and get the same.
    exec("ALTER TABLE scores ADD COLUMN IF NOT EXISTS verified BOOLEAN NOT NULL DEFAULT false");
    exec("ALTER TABLE scores ADD COLUMN IF NOT EXISTS deal INTEGER");
    exec("ALTER TABLE scores ADD COLUMN IF NOT EXISTS verifiedday TEXT");
    exec(
        "CREATE INDEX IF NOT EXISTS scores_verified ON scores (score DESC, id ASC) WHERE verified");
    exec(
        "CREATE INDEX IF NOT EXISTS scores_daily ON scores (verifiedday, deal, score DESC, id ASC) "
        "WHERE verified");
    exec("COMMIT");
  } catch (...) {
    PQfinish(conn_);
    conn_ = nullptr;
    throw;
  }
}

void PgStore::preparesession() {
  // "Already exists, skipping" and the like are no news.
  exec("SET client_min_messages TO warning");
  // An answered post must be durable whatever the database's own default says.
  exec("SET synchronous_commit TO on");
  // A post that cannot be stored in this time is answered as not stored rather than left waiting.
  exec("SET statement_timeout TO '10s'");
  if (listen_) exec("LISTEN pipshift_scores");
}

bool PgStore::stillopen() {
  // The database says why before it hangs up; the hang-up itself is the next read.
  for (int reads = 0; reads < 4; ++reads) {
    pollfd waiting{PQsocket(conn_), POLLIN, 0};
    if (::poll(&waiting, 1, 0) <= 0) break;
    if (PQconsumeInput(conn_) == 0) return false;
  }
  return PQstatus(conn_) == CONNECTION_OK;
}

void PgStore::ensureconnected() {
  // A connection the database has ended meanwhile (a restart, an administrator) is noticed here,
  // by reading what it sent, before a post goes out on it: a post sent and then failed cannot be
  // sent again without the risk of storing it twice.
  if (conn_ && !abandoned_ && PQstatus(conn_) == CONNECTION_OK && stillopen() && sessionready_) {
    return;
  }
  if (!conn_) {
    connect();
  } else {
    if (abandoned_ || PQstatus(conn_) != CONNECTION_OK) {
      sessionready_ = false;
      abandoned_ = false;
      PQreset(conn_);
      if (PQstatus(conn_) != CONNECTION_OK) {
        throw DbError(std::string("score database unreachable: ") + PQerrorMessage(conn_));
      }
    }
    // Not before the session is set up as a post needs it (durable commits above all).
    preparesession();
    sessionready_ = true;
  }
  missed_ = true;
}

PgStore::Result PgStore::run(const char* sql, const std::vector<const char*>* values,
                             const std::vector<int>* lengths) {
  const int sent = values ? PQsendQueryParams(conn_, sql, static_cast<int>(values->size()), nullptr,
                                              values->data(), lengths->data(), nullptr, 0)
                          : PQsendQuery(conn_, sql);
  if (!sent) throw DbError(std::string("score database: ") + PQerrorMessage(conn_));
  // The database's own statement_timeout ends a slow statement first; this is for a database
  // that does not answer at all.
  const auto deadline = std::chrono::steady_clock::now() + answertimeout_;
  while (PQisBusy(conn_)) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd readable{PQsocket(conn_), POLLIN, 0};
    const int ready = left.count() > 0 ? ::poll(&readable, 1, static_cast<int>(left.count())) : 0;
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) {
      // The statement may still be carried out; the caller reports it as not done, and the
      // connection, still busy with it, is replaced before its next use.
      abandoned_ = true;
      throw DbError("score database: no answer within " + std::to_string(answertimeout_.count()) +
                    " ms");
    }
    if (PQconsumeInput(conn_) == 0) break;  // PQgetResult says what went wrong
  }
  // Several results come only for several statements; the first failure is the one to report.
  Result result;
  while (PGresult* next = PQgetResult(conn_)) {
    const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_COMMAND_OK;
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) {
      result.reset(next);
    } else {
      PQclear(next);
    }
  }
  if (!result) throw DbError(std::string("score database: ") + PQerrorMessage(conn_));
  return result;
}

void PgStore::exec(const char* sql) {
  Result r = run(sql);
  const ExecStatusType status = PQresultStatus(r.get());
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
    throw DbError(std::string("score database: ") + PQresultErrorMessage(r.get()));
  }
}

std::vector<std::int64_t> PgStore::add(const std::vector<ScoreEntry>& entries, bool announce) {
  std::vector<std::int64_t> ids;
  if (entries.empty()) return ids;
  std::lock_guard lock(mutex_);
  ensureconnected();
  std::string sql = "INSERT INTO scores (name, date, score) VALUES ";
  std::vector<std::string> scores;
  std::vector<const char*> values;
  std::vector<int> lengths;
  scores.reserve(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::string n = std::to_string(3 * i + 1);
    sql += i ? ", " : "";
    sql += "($" + n + ", $" + std::to_string(3 * i + 2) + ", $" + std::to_string(3 * i + 3) +
           "::integer)";
    scores.push_back(std::to_string(entries[i].score));
  }
  for (std::size_t i = 0; i < entries.size(); ++i) {
    values.push_back(entries[i].name.c_str());
    values.push_back(entries[i].date.c_str());
    values.push_back(scores[i].c_str());
    lengths.push_back(static_cast<int>(entries[i].name.size()));
    lengths.push_back(static_cast<int>(entries[i].date.size()));
    lengths.push_back(static_cast<int>(scores[i].size()));
  }
  // One statement is its own transaction, and one round trip. The notice, when there is one, is
  // sent by the same statement, so it is delivered at commit and only if the rows are in.
  // The rows' ids come back too: the sequence numbers the rows in the order of the values, so
  // sorted they match the entries one by one.
  if (announce) {
    sql = "WITH added AS (" + sql + " RETURNING id) SELECT id, pg_notify('pipshift_scores', $" +
          std::to_string(values.size() + 1) + ") FROM added";
    values.push_back(source_.c_str());
    lengths.push_back(static_cast<int>(source_.size()));
  } else {
    sql += " RETURNING id";
  }
  Result r = run(sql.c_str(), &values, &lengths);
  const ExecStatusType status = PQresultStatus(r.get());
  if (status != PGRES_TUPLES_OK) {
    throw DbError(std::string("score database, insert: ") + PQresultErrorMessage(r.get()));
  }
  const int rows = PQntuples(r.get());
  for (int i = 0; i < rows; ++i) ids.push_back(std::stoll(PQgetvalue(r.get(), i, 0)));
  std::sort(ids.begin(), ids.end());
  if (ids.size() != entries.size()) throw DbError("score database, insert: rows missing");
  return ids;
}

void PgStore::markverified(const std::vector<Verification>& marks) {
  if (marks.empty()) return;
  std::lock_guard lock(mutex_);
  ensureconnected();
  std::string sql = "WITH marks(id, deal, day) AS (VALUES ";
  std::vector<std::string> numbers;
  numbers.reserve(2 * marks.size());
  std::vector<const char*> values;
  std::vector<int> lengths;
  for (std::size_t i = 0; i < marks.size(); ++i) {
    sql += i ? ", " : "";
    sql += "($" + std::to_string(3 * i + 1) + "::bigint, $" + std::to_string(3 * i + 2) +
           "::integer, $" + std::to_string(3 * i + 3) + ")";
    numbers.push_back(std::to_string(marks[i].id));
    numbers.push_back(std::to_string(marks[i].deal));
  }
  for (std::size_t i = 0; i < marks.size(); ++i) {
    values.push_back(numbers[2 * i].c_str());
    values.push_back(numbers[2 * i + 1].c_str());
    values.push_back(marks[i].day.c_str());
    lengths.push_back(static_cast<int>(numbers[2 * i].size()));
    lengths.push_back(static_cast<int>(numbers[2 * i + 1].size()));
    lengths.push_back(static_cast<int>(marks[i].day.size()));
  }
  // A mark changes what the pages show, so the other servers hear of it in the same statement.
  sql +=
      "), marked AS (UPDATE scores SET verified = true, deal = marks.deal, verifiedday = "
      "marks.day FROM marks WHERE scores.id = marks.id RETURNING 1) SELECT pg_notify("
      "'pipshift_scores', $" +
      std::to_string(values.size() + 1) +
      ") FROM (SELECT count(*) AS n FROM marked) AS batch WHERE batch.n > 0";
  values.push_back(source_.c_str());
  lengths.push_back(static_cast<int>(source_.size()));
  Result r = run(sql.c_str(), &values, &lengths);
  const ExecStatusType status = PQresultStatus(r.get());
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
    throw DbError(std::string("score database, mark: ") + PQresultErrorMessage(r.get()));
  }
}

std::vector<ScoreEntry> PgStore::list(const char* sql, const std::vector<std::string>& parameters) {
  std::lock_guard lock(mutex_);
  ensureconnected();
  std::vector<const char*> values;
  std::vector<int> lengths;
  for (const std::string& p : parameters) {
    values.push_back(p.c_str());
    lengths.push_back(static_cast<int>(p.size()));
  }
  Result r = run(sql, &values, &lengths);
  if (PQresultStatus(r.get()) != PGRES_TUPLES_OK) {
    throw DbError(std::string("score database, list: ") + PQresultErrorMessage(r.get()));
  }
  std::vector<ScoreEntry> out;
  const int rows = PQntuples(r.get());
  out.reserve(static_cast<std::size_t>(rows));
  for (int i = 0; i < rows; ++i) {
    auto text = [&](int col) {
      return std::string(PQgetvalue(r.get(), i, col),
                         static_cast<std::size_t>(PQgetlength(r.get(), i, col)));
    };
    out.push_back(
        ScoreEntry{text(0), text(1), std::atoi(PQgetvalue(r.get(), i, 2)), text(3) == "t"});
  }
  return out;
}

std::vector<ScoreEntry> PgStore::best(std::size_t limit) {
  return list(
      "SELECT name, date, score, verified FROM scores ORDER BY score DESC, id ASC "
      "LIMIT $1::bigint",
      {std::to_string(limit)});
}

std::vector<ScoreEntry> PgStore::bestverified(std::size_t limit) {
  return list(
      "SELECT name, date, score, verified FROM scores WHERE verified "
      "ORDER BY score DESC, id ASC LIMIT $1::bigint",
      {std::to_string(limit)});
}

std::vector<ScoreEntry> PgStore::bestofday(int deal, const std::string& day, std::size_t limit) {
  return list(
      "SELECT name, date, score, verified FROM scores WHERE verified AND verifiedday = $1 "
      "AND deal = $2::integer ORDER BY score DESC, id ASC LIMIT $3::bigint",
      {day, std::to_string(deal), std::to_string(limit)});
}

std::size_t PgStore::count() {
  std::lock_guard lock(mutex_);
  ensureconnected();
  Result r = run("SELECT count(*) FROM scores");
  if (PQresultStatus(r.get()) != PGRES_TUPLES_OK) {
    throw DbError(std::string("score database, count: ") + PQresultErrorMessage(r.get()));
  }
  return static_cast<std::size_t>(std::stoull(PQgetvalue(r.get(), 0, 0)));
}

bool PgStore::changedelsewhere() {
  std::lock_guard lock(mutex_);
  ensureconnected();
  if (PQconsumeInput(conn_) == 0) {
    // The connection broke; the next call reconnects and reports the change it may have missed.
    return false;
  }
  bool changed = missed_;
  missed_ = false;
  while (PGnotify* note = PQnotifies(conn_)) {
    if (source_ != note->extra) changed = true;
    PQfreemem(note);
  }
  return changed;
}

}  // namespace pipshiftserver
