// The schema action seen from outside: exact documents on standard output
// for small fixture databases, the name filter and order, the 200-table
// cap and the refusals.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "db_action_fixture.h"

namespace {

std::string doc_head(const std::string &path) {
  return JSON_HEAD + "{\"ok\":true,\"action\":\"schema\",\"readonly\":true,\"db\":\"" + path +
         "\",\"tables\":[";
}

std::string closing(int table_count, bool truncated) {
  return "],\"table_count\":" + std::to_string(table_count) +
         ",\"truncated\":" + (truncated ? "true" : "false") + ",\"budget_ms\":2000}\n";
}

// The object of a table with the one untyped column x and no index.
std::string plain_table(const std::string &json_name, int rows) {
  return "{\"name\":\"" + json_name + "\",\"type\":\"table\",\"rows\":" + std::to_string(rows) +
         ",\"columns\":[{\"name\":\"x\",\"type\":\"\",\"notnull\":false,\"pk\":0}],\"indexes\":[]}";
}

class SchemaAction : public ::testing::Test {
 protected:
  db_root root;
};

TEST_F(SchemaAction, SmallDatabaseIsByteExact) {
  const std::string db =
      root.make("shop.db",
                "CREATE TABLE item(id INTEGER PRIMARY KEY, label TEXT NOT NULL UNIQUE, misc);"
                "CREATE INDEX item_misc ON item(misc);"
                "INSERT INTO item VALUES(1,'pen',NULL),(2,'ink',3);"
                "CREATE VIEW cheap AS SELECT id, label FROM item WHERE id > 1;"
                "CREATE TABLE pair(a INT, b TEXT, PRIMARY KEY(b, a));");
  EXPECT_EQ(root.schema(db),
            doc_head(root.reported("shop.db")) +
                "{\"name\":\"cheap\",\"type\":\"view\",\"rows\":1,\"columns\":["
                "{\"name\":\"id\",\"type\":\"INTEGER\",\"notnull\":false,\"pk\":0},"
                "{\"name\":\"label\",\"type\":\"TEXT\",\"notnull\":false,\"pk\":0}],"
                "\"indexes\":[]},"
                "{\"name\":\"item\",\"type\":\"table\",\"rows\":2,\"columns\":["
                "{\"name\":\"id\",\"type\":\"INTEGER\",\"notnull\":false,\"pk\":1},"
                "{\"name\":\"label\",\"type\":\"TEXT\",\"notnull\":true,\"pk\":0},"
                "{\"name\":\"misc\",\"type\":\"\",\"notnull\":false,\"pk\":0}],"
                "\"indexes\":[{\"name\":\"item_misc\",\"unique\":false},"
                "{\"name\":\"sqlite_autoindex_item_1\",\"unique\":true}]},"
                "{\"name\":\"pair\",\"type\":\"table\",\"rows\":0,\"columns\":["
                "{\"name\":\"a\",\"type\":\"INT\",\"notnull\":false,\"pk\":2},"
                "{\"name\":\"b\",\"type\":\"TEXT\",\"notnull\":false,\"pk\":1}],"
                "\"indexes\":[{\"name\":\"sqlite_autoindex_pair_1\",\"unique\":true}]}" +
                closing(3, false));
}

TEST_F(SchemaAction, NamesInByteOrderWithoutInternalOnes) {
  // ANALYZE adds the internal sqlite_stat1; SQLiteStats falls under the same
  // case-insensitive filter, while a table named just sqlite stays.
  const std::string db = root.make("names.db",
                                   "CREATE TABLE a(x); CREATE TABLE B(x); CREATE TABLE sqlite(x);"
                                   "CREATE TABLE SQLiteStats(x); CREATE TABLE \"q\"\"t\"(x);"
                                   "INSERT INTO \"q\"\"t\" VALUES(1),(2);"
                                   "CREATE INDEX q_x ON \"q\"\"t\"(x); ANALYZE;");
  const std::string quoted =
      "{\"name\":\"q\\\"t\",\"type\":\"table\",\"rows\":2,\"columns\":["
      "{\"name\":\"x\",\"type\":\"\",\"notnull\":false,\"pk\":0}],"
      "\"indexes\":[{\"name\":\"q_x\",\"unique\":false}]}";
  EXPECT_EQ(root.schema(db), doc_head(root.reported("names.db")) + plain_table("B", 0) + "," +
                                 plain_table("a", 0) + "," + quoted + "," +
                                 plain_table("sqlite", 0) + closing(4, false));
}

TEST_F(SchemaAction, EmptyFileHasNoTables) {
  write_file(root.at("empty.db"), "");
  EXPECT_EQ(root.schema(root.at("empty.db")),
            doc_head(root.reported("empty.db")) + closing(0, false));
}

// `count` tables t000, t001, ... and the document part that lists the first
// `listed` of them.
std::string numbered_tables(int count, int listed, std::string *objects) {
  std::string sql;
  for (int i = 0; i < count; ++i) {
    char name[8];
    std::snprintf(name, sizeof name, "t%03d", i);
    sql += std::string("CREATE TABLE ") + name + "(x);";
    if (i < listed) *objects += (i > 0 ? "," : "") + plain_table(name, 0);
  }
  return sql;
}

TEST_F(SchemaAction, TruncatedOnlyWhenATableBeyond200Exists) {
  std::string listed;
  const std::string exactly = root.make("t200.db", numbered_tables(200, 200, &listed));
  EXPECT_EQ(root.schema(exactly),
            doc_head(root.reported("t200.db")) + listed + closing(200, false));
  const std::string more = root.make("t201.db", numbered_tables(201, 0, &listed));
  EXPECT_EQ(root.schema(more), doc_head(root.reported("t201.db")) + listed + closing(200, true));
}

TEST_F(SchemaAction, BudgetStopsAViewCountAndTheDocumentStillCloses) {
  const std::string db = root.make(
      "slow.db",
      "CREATE VIEW forever AS WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM c) "
      "SELECT x FROM c;"
      "CREATE TABLE later(x); INSERT INTO later VALUES(5);");
  EXPECT_EQ(root.schema(db), doc_head(root.reported("slow.db")) +
                                 "{\"name\":\"forever\",\"type\":\"view\",\"rows\":null,"
                                 "\"columns\":[{\"name\":\"x\",\"type\":\"\",\"notnull\":false,"
                                 "\"pk\":0}],\"indexes\":[]}," +
                                 plain_table("later", 1) + closing(2, false));
}

TEST_F(SchemaAction, TableOfTheMostColumnsSQLiteAllowsIsListedWhole) {
  std::string definition;
  std::string columns;
  for (int i = 0; i < 2000; ++i) {
    definition += (i > 0 ? ",c" : "c") + std::to_string(i) + " INT";
    columns += (i > 0 ? ",{\"name\":\"c" : "{\"name\":\"c") + std::to_string(i) +
               "\",\"type\":\"INT\",\"notnull\":false,\"pk\":0}";
  }
  const std::string db = root.make("wide.db", "CREATE TABLE w(" + definition + ");");
  EXPECT_EQ(root.schema(db), doc_head(root.reported("wide.db")) +
                                 "{\"name\":\"w\",\"type\":\"table\",\"rows\":0,\"columns\":[" +
                                 columns + "],\"indexes\":[]}" + closing(1, false));
}

TEST_F(SchemaAction, RefusalsComeInTheirOrder) {
  write_file(root.at("notes.db"), std::string(2048, 'n'));
  const struct {
    std::string query;
    std::vector<std::string> env;
    std::string expected;
  } cases[] = {
      {"action=schema",
       {},
       error_doc("forbidden_path", "path outside the allowlisted roots or not a database file")},
      {"action=schema&db=/nowhere/x.db",
       {},
       error_doc("forbidden_path", "path outside the allowlisted roots or not a database file")},
      {"action=schema&db=" + uri_component(root.at("gone.db")),
       {},
       error_doc("not_found", "database file does not exist")},
      {"action=schema&db=" + uri_component(root.at("notes.db")),
       {},
       error_doc("not_a_database", "file is not a SQLite database")},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(root.run(c.query, c.env), c.expected) << c.query;
  }
}

TEST_F(SchemaAction, RealLocationLongerThanTheLibraryTakesFailsInTheOpen) {
  SKIP_LONG_REAL_PATHS_UNDER_WINE();
  EXPECT_EQ(root.run("action=schema&db=x.db", {"HOME=" + root.deep_database("")}),
            error_doc("open_failed", "cannot open database (unable to open database file)"));
}

}  // namespace
