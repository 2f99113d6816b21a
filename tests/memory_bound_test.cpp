// Statements that take memory without end, black-box: SQLite's memory is
// bounded by what it costs the process, so each answers "out of memory"
// inside its document (or is stopped by the budget first) and the process
// never holds more than the promised peak of resident memory.
#include <gtest/gtest.h>

#include <string>

#include "db_action_fixture.h"

namespace {

// The promise: 64 MiB for SQLite and what the program needs besides.
constexpr long long PEAK_BOUND_KIB = 80 * 1024;

TEST(MemoryBound, StatementsThatTakeMemoryWithoutEndStayUnderThePeak) {
  db_root root;
  const std::string db = root.make("t.db", "CREATE TABLE t(x);");
  // Millions of small sort records, and a chain of views of them.
  std::string chain = "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM c)";
  std::string last = "c";
  for (int i = 1; i <= 30; ++i) {
    const std::string name = "d" + std::to_string(i);
    chain += ", " + name + " AS (SELECT x FROM " + last + ")";
    last = name;
  }
  const std::string statements[] = {
      "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM c) SELECT x FROM c ORDER BY x "
      "DESC",
      chain + " SELECT x FROM " + last + " ORDER BY x DESC",
  };
  for (const std::string &sql : statements) {
    const run_result r = run_plugin(
        {"SQLITE_ALLOWED_ROOT=" + root.at(""),
         "QUERY_STRING=action=query&db=" + uri_component(db) + "&sql=" + uri_component(sql)},
        {}, run_limits{20000, 0});
    EXPECT_FALSE(r.timed_out) << sql;
    EXPECT_EQ(r.err, "") << sql;
    const bool out_of_memory = r.out.find("],\"error\":\"out of memory\",") != std::string::npos;
    const bool budget_spent = r.out.find(",\"aborted\":true,\"types\":[]}\n") != std::string::npos;
    EXPECT_TRUE(out_of_memory || budget_spent) << r.out;
    RecordProperty(out_of_memory ? "out_of_memory" : "budget_spent", sql.substr(0, 40));
#if defined(SANITIZED_BUILD)
    // The sanitizers' own allocator and shadow memory are most of the peak.
    RecordProperty("peak_kib_under_sanitizers", std::to_string(r.max_rss_kib));
#else
    if (r.max_rss_kib >= 0) {
      EXPECT_LE(r.max_rss_kib, PEAK_BOUND_KIB) << sql;
      RecordProperty("peak_kib", std::to_string(r.max_rss_kib));
    }
#endif
  }
}

}  // namespace
