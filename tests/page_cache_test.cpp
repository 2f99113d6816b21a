// The page cache grown by use: small for a statement that reads each page
// once, grown for one that comes back to its pages, never past the size
// SQLite asks for. The whole suite runs through it as well (test_main.cpp),
// so every other test checks that it returns the right pages.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>

#include "db_guard.h"
#include "test_support.h"

namespace {

constexpr long long PAGE_BYTES = 4096;
// SQLite's own cache, 2,000 KiB: what a connection holds at most.
constexpr long long OWN_CACHE_BYTES = 2000 * 1024;

class PageCache : public testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.at("pages.db");
    // `big` is about 1,000 pages, `mid` about 300, `ten` ten rows.
    make_db(path_,
            "PRAGMA page_size=4096;"
            "CREATE TABLE big(k INTEGER PRIMARY KEY, b BLOB);"
            "CREATE TABLE mid(k INTEGER PRIMARY KEY, b BLOB);"
            "CREATE TABLE ten(x INTEGER);"
            "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c LIMIT 8000)"
            "  INSERT INTO big SELECT x, randomblob(480) FROM c;"
            "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c LIMIT 2400)"
            "  INSERT INTO mid SELECT x, randomblob(480) FROM c;"
            "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c LIMIT 10)"
            "  INSERT INTO ten SELECT x FROM c;");
    db_ = open_writer(path_);
    mid_pages_ = single_value("SELECT count(*) FROM dbstat WHERE name = 'mid'");
    sqlite3_close(db_);
    ASSERT_GT(mid_pages_, 250);
    // The statement runs as a request's would: on a fresh connection that
    // has read only the schema.
    int rc = 0;
    db_ = open_ro(path_.c_str(), &rc);
    ASSERT_NE(db_, nullptr) << rc;
    ASSERT_EQ(probe_database(db_), SQLITE_OK);
  }
  void TearDown() override { sqlite3_close(db_); }

  long long single_value(const char *sql) {
    sqlite3_stmt *stmt = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db_, sql, -1, &stmt, nullptr), SQLITE_OK) << sql;
    EXPECT_EQ(sqlite3_step(stmt), SQLITE_ROW) << sqlite3_errmsg(db_);
    const long long value = sqlite3_column_int64(stmt, 0);
    sqlite3_finalize(stmt);
    return value;
  }

  long long status(int which, bool reset = false) {
    int now = 0;
    int peak = 0;
    sqlite3_db_status(db_, which, &now, &peak, reset ? 1 : 0);
    return now;
  }

  scratch_dir dir_;
  std::string path_;
  sqlite3 *db_ = nullptr;
  long long mid_pages_ = 0;
};

TEST_F(PageCache, AScanKeepsItSmall) {
  EXPECT_EQ(single_value("SELECT count(*) FROM big WHERE length(b) = 480"), 8000);
  // About a thousand pages went through a cache of a few dozen.
  EXPECT_LT(status(SQLITE_DBSTATUS_CACHE_USED), 100 * (PAGE_BYTES + 512));
}

TEST_F(PageCache, GrowsForAStatementThatComesBackToItsPages) {
  status(SQLITE_DBSTATUS_CACHE_MISS, true);
  // The subquery scans `mid` once for each of the ten rows of `ten`.
  EXPECT_EQ(single_value("SELECT sum((SELECT count(*) FROM mid WHERE k > ten.x)) FROM ten"),
            10 * 2400 - 55);
  // A cache that stayed small would load every page of `mid` ten times;
  // grown, it loads them about twice.
  EXPECT_LT(status(SQLITE_DBSTATUS_CACHE_MISS), 3 * mid_pages_);
  EXPECT_GT(status(SQLITE_DBSTATUS_CACHE_USED), mid_pages_ * PAGE_BYTES);
}

TEST_F(PageCache, NeverGrowsPastTheSizeSqliteAsksFor) {
  // `big` is larger than the whole cache; three scans of it make the cache
  // grow all the way.
  EXPECT_EQ(single_value("SELECT sum((SELECT count(*) FROM big WHERE k > ten.x)) FROM ten "
                         "WHERE x <= 3"),
            3 * 8000 - 6);
  EXPECT_GT(status(SQLITE_DBSTATUS_CACHE_USED), OWN_CACHE_BYTES / 2);
  EXPECT_LE(status(SQLITE_DBSTATUS_CACHE_USED), OWN_CACHE_BYTES + OWN_CACHE_BYTES / 10);
}

}  // namespace
