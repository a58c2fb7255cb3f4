#include "server/openstore.h"

#include "server/pgstore.h"
#include "server/scoredb.h"

namespace pipshiftserver {

bool ispostgresaddress(std::string_view db) {
  return db.rfind("postgresql://", 0) == 0 || db.rfind("postgres://", 0) == 0;
}

std::unique_ptr<ScoreStore> openstore(const std::string& db) {
  if (ispostgresaddress(db)) return std::make_unique<PgStore>(db);
  return std::make_unique<ScoreDb>(db);
}

std::vector<std::unique_ptr<ScoreStore>> openwriters(const std::string& db) {
  constexpr int kDatabaseWriters = 4;
  std::vector<std::unique_ptr<ScoreStore>> stores;
  if (!ispostgresaddress(db)) {
    stores.push_back(std::make_unique<ScoreDb>(db));
    return stores;
  }
  const std::string source = newsourcename();
  for (int i = 0; i < kDatabaseWriters; ++i) {
    stores.push_back(std::make_unique<PgStore>(db, i == 0, source));
  }
  return stores;
}

}  // namespace pipshiftserver
