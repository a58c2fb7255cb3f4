#pragma once

// A test run once on a SQLite file and once on a PostgreSQL database of its own, skipped where no
// PostgreSQL can be started.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/server/pgcluster.h"
#include "tests/support/scratchdir.h"

namespace servertest {

enum class Kind { Sqlite, Postgres };

class EitherStore : public ::testing::TestWithParam<Kind> {
 protected:
  void SetUp() override {
    if (GetParam() == Kind::Postgres) {
      cluster = std::make_unique<PgCluster>();
      if (!cluster->ok()) GTEST_SKIP() << "no PostgreSQL here: " << cluster->why();
      address = cluster->address();
    } else {
      address = (dir.path() / "scores.db").string();
    }
  }
  ScratchDir dir;
  std::unique_ptr<PgCluster> cluster;
  // What --db would say: the SQLite file or the database's address.
  std::string address;
};

inline std::string kindname(const ::testing::TestParamInfo<Kind>& info) {
  return info.param == Kind::Sqlite ? "SQLite" : "PostgreSQL";
}

}  // namespace servertest
