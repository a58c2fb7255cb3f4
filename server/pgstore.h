// The scores in a PostgreSQL database, so several servers can share one list. Each server
// listens on a notification channel; a server whose post changes the best list says so there,
// and the others reload their page.
#pragma once

#include <mutex>
#include <string>

#include "server/scoredb.h"

struct pg_conn;

namespace pipshiftserver {

class PgStore final : public ScoreStore {
 public:
  // Connects to "postgresql://user@host:port/dbname" and creates the table when it is missing.
  // Stores that share a `source` are one server's: they do not report each other's changes.
  // Only a store that listens reports changes at all. Throws DbError.
  explicit PgStore(const std::string& address, bool listen = true, std::string source = {});
  ~PgStore() override;
  PgStore(const PgStore&) = delete;
  PgStore& operator=(const PgStore&) = delete;

  using ScoreStore::add;
  void add(const std::vector<ScoreEntry>& entries, bool announce) override;
  std::vector<ScoreEntry> best(std::size_t limit) override;
  std::size_t count() override;
  bool changedElsewhere() override;

 private:
  void connect();
  void prepareSession();
  void ensureConnected();
  bool stillOpen();
  void exec(const char* sql);

  std::mutex mutex_;
  std::string address_;
  bool listen_;
  std::string source_;  // sent with each notice
  pg_conn* conn_ = nullptr;
  // Set after a reconnection: notifications may have been missed meanwhile.
  bool missed_ = false;
  // Whether the session settings took on the current connection.
  bool sessionReady_ = false;
};

// A name for one server process, unlike any other's.
std::string newSourceName();

// The address with any password left out, fit for a message.
std::string withoutPassword(const std::string& address);

}  // namespace pipshiftserver
