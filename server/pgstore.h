// The scores in a PostgreSQL database, so several servers can share one list. Each server
// listens on a notification channel; a server whose post changes the best list says so there,
// and the others reload their page.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "server/scorestore.h"

struct pg_conn;
struct pg_result;

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
  std::vector<std::int64_t> add(const std::vector<ScoreEntry>& entries, bool announce) override;
  void markverified(const std::vector<Verification>& marks) override;
  std::vector<ScoreEntry> best(std::size_t limit) override;
  std::vector<ScoreEntry> bestverified(std::size_t limit) override;
  std::vector<ScoreEntry> bestofday(int deal, const std::string& day, std::size_t limit) override;
  std::size_t count() override;
  bool changedelsewhere() override;

  // The longest a statement's answer is waited for before the connection is given up (the
  // database may hang, or a broken network hide it): the post is then reported as not stored.
  void setAnswerTimeout(std::chrono::milliseconds timeout) { answertimeout_ = timeout; }

 private:
  struct ResultDeleter {
    void operator()(pg_result* r) const;
  };
  using Result = std::unique_ptr<pg_result, ResultDeleter>;

  // Sends one statement (with its parameters, when given) and waits for its result no longer
  // than answertimeout_. Throws DbError when there is none.
  Result run(const char* sql, const std::vector<const char*>* values = nullptr,
             const std::vector<int>* lengths = nullptr);
  void connect();
  void preparesession();
  void ensureconnected();
  bool stillopen();
  void exec(const char* sql);
  // A listing query: its parameters, the limit last.
  std::vector<ScoreEntry> list(const char* sql, const std::vector<std::string>& parameters);

  std::mutex mutex_;
  std::string address_;
  bool listen_;
  std::string source_;  // sent with each notice
  pg_conn* conn_ = nullptr;
  // Set after a reconnection: notifications may have been missed meanwhile.
  bool missed_ = false;
  // Whether the session settings took on the current connection.
  bool sessionready_ = false;
  std::chrono::milliseconds answertimeout_{15000};
  // Set when a statement's answer was given up on: the connection is still busy with it.
  bool abandoned_ = false;
};

// A name for one server process, unlike any other's.
std::string newsourcename();

// The address with any password left out, fit for a message.
std::string withoutpassword(const std::string& address);

}  // namespace pipshiftserver
