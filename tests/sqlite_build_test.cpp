// The SQLite that is compiled in: the amalgamation's version, built with
// the options the viewer relies on, and none of the options that would
// quietly break a promise.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>

#include "test_support.h"

namespace {

constexpr char EXPECTED_VERSION[] = "3.53.2";

TEST(CompiledInSqlite, IsTheVerifiedAmalgamationVersion) {
  EXPECT_STREQ(sqlite3_libversion(), EXPECTED_VERSION);
  EXPECT_STREQ(SQLITE_VERSION, EXPECTED_VERSION);  // the header matches the library
  const run_result r = run_plugin({}, {"--version"});
  EXPECT_EQ(r.out, std::string("plugin_sqlite 1.0.2 (sqlite ") + EXPECTED_VERSION + ")\n");
}

TEST(CompiledInSqlite, HasTheFeaturesAndGuardsUsersDatabasesNeed) {
  for (const char *option :
       {"THREADSAFE=0", "OMIT_LOAD_EXTENSION", "TEMP_STORE=3", "OMIT_DEPRECATED",
        "OMIT_SHARED_CACHE", "ENABLE_FTS3", "ENABLE_FTS3_PARENTHESIS", "ENABLE_FTS4", "ENABLE_FTS5",
        "ENABLE_RTREE", "ENABLE_MATH_FUNCTIONS", "ENABLE_DBSTAT_VTAB"}) {
    EXPECT_EQ(sqlite3_compileoption_used(option), 1) << option;
  }
  EXPECT_EQ(sqlite3_threadsafe(), 0);
}

// Memory statistics off would switch the hard heap limit off; strings in
// double quotes must still read as strings in legacy schemas; LIKE must
// still match blobs as the sqlite3 shell does. (The behaviours themselves
// are tested with the guard and with legacy databases.)
TEST(CompiledInSqlite, LeavesOutOptionsThatBreakPromises) {
  for (const char *option : {"DEFAULT_MEMSTATUS=0", "DQS=0", "LIKE_DOESNT_MATCH_BLOBS"}) {
    EXPECT_EQ(sqlite3_compileoption_used(option), 0) << option;
  }
}

}  // namespace
