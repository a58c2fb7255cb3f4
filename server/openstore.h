#pragma once

// Picks the store a --db value names; the one place that knows both kinds.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "server/scorestore.h"

namespace pipshiftserver {

// "postgresql://..." or "postgres://..." names a PostgreSQL database; anything else a SQLite file.
bool ispostgresaddress(std::string_view db);
// Opens the store the --db value names, creating the table when it is missing and bringing an
// older one up to date. Throws DbError.
std::unique_ptr<ScoreStore> openstore(const std::string& db);
// The stores one server writes through: a SQLite file takes one writer at a time, a database
// server several (the first of them watches for other servers' changes).
std::vector<std::unique_ptr<ScoreStore>> openwriters(const std::string& db);

}  // namespace pipshiftserver
