// Databases made by other programs, read through the schema and query
// actions: a GeoPackage written by GDAL's ogr2ogr, full-text indexes,
// JSON documents, a schema with statements beyond a request's limits and a
// legacy view, all made with the sqlite3 shell. Every table is counted and
// reads, the content that needs a virtual table answers, writes through
// the virtual tables are refused, and the file stays as it was. Hostile
// schemas answer an error or read, and change nothing either.
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "db_action_fixture.h"

namespace {

const std::string OK_QUERY = JSON_HEAD + "{\"ok\":true,\"action\":\"query\"";

// Runs `command` through the shell and tells whether it succeeded.
bool shell(const std::string &command) { return std::system(command.c_str()) == 0; }

// Makes `path` with the sqlite3 shell from `sql`, stopping at the first error.
bool sqlite3_shell(const std::string &path, const std::string &sql) {
  write_file(path + ".sql", sql);
  const bool made = shell("sqlite3 -batch -bail '" + path + "' < '" + path + ".sql'");
  std::remove((path + ".sql").c_str());
  return made;
}

// "ok" for a complete success document; "ok+error" for a begun document
// that ended with an error; else the error code of the error document.
std::string outcome(const std::string &out) {
  const std::string key = "\"error\":\"";
  const std::size_t at = out.find(key);
  const bool begun = out.compare(0, OK_QUERY.size(), OK_QUERY) == 0;
  if (begun) return at == std::string::npos ? "ok" : "ok+error";
  if (at == std::string::npos) return "unreadable: " + out;
  const std::size_t start = at + key.size();
  return out.substr(start, out.find('"', start) - start);
}

// The text of the `rows` array of a success document of the query action.
std::string rows_of(const std::string &out) {
  const std::size_t start = out.find("\"rows\":[");
  const std::size_t end = out.find("],\"row_count\":");
  if (start == std::string::npos || end == std::string::npos) return "no rows in: " + out;
  return out.substr(start + 8, end - start - 8);
}

struct table_entry {
  std::string name, rows;
  bool has_columns;
};

// The table objects of a schema document, in order.
std::vector<table_entry> tables_of(const std::string &doc) {
  static const std::regex TABLE(
      R"re(\{"name":"((?:[^"\\]|\\.)*)","type":"(?:table|view)","rows":(-?[0-9]+|null),"columns":\[(.))re");
  std::vector<table_entry> tables;
  for (std::sregex_iterator it(doc.begin(), doc.end(), TABLE), end; it != end; ++it) {
    tables.push_back({(*it)[1], (*it)[2], (*it)[3] != "]"});
  }
  return tables;
}

std::string quoted(const std::string &name) { return "\"" + name + "\""; }

struct made_elsewhere {
  std::string file;                 // the database's name in the root
  std::string what;                 // what it is, for the failure messages
  std::string probe, probe_rows;    // a statement over the content, and its rows
  std::vector<std::string> writes;  // writes through its virtual tables
};

class ForeignDatabases : public ::testing::Test {
 protected:
  // Every table and view: counted, with columns, and readable.
  void expect_every_table_reads(const made_elsewhere &c) {
    const std::string doc = root.schema(root.at(c.file));
    const std::string head = JSON_HEAD +
                             "{\"ok\":true,\"action\":\"schema\",\"readonly\":true,\"db\":\"" +
                             root.reported(c.file) + "\",\"tables\":[";
    ASSERT_EQ(doc.compare(0, head.size(), head), 0) << c.what << ": " << doc;
    const std::vector<table_entry> tables = tables_of(doc);
    EXPECT_FALSE(tables.empty()) << c.what << ": " << doc;
    for (const table_entry &t : tables) {
      EXPECT_NE(t.rows, "null") << c.what << ": " << t.name;
      EXPECT_TRUE(t.has_columns) << c.what << ": " << t.name;
      const std::string out =
          root.query(root.at(c.file), "SELECT * FROM " + quoted(t.name) + " LIMIT 3");
      EXPECT_EQ(outcome(out), "ok") << c.what << ": " << t.name << "\n" << out;
    }
  }

  db_root root;
};

TEST_F(ForeignDatabases, EveryTableReadsAndVirtualTablesRefuseWrites) {
  // GDAL's GeoPackage: its spatial index is an R-Tree, kept up to date by
  // triggers that call GDAL's own functions.
  write_file(
      root.at("places.geojson"),
      R"({"type":"FeatureCollection","features":[)"
      R"({"type":"Feature","properties":{"name":"well"},"geometry":{"type":"Point","coordinates":[1,2]}},)"
      R"({"type":"Feature","properties":{"name":"mill"},"geometry":{"type":"Point","coordinates":[3,4]}}]})");
  ASSERT_TRUE(shell("ogr2ogr -f GPKG '" + root.at("places.db") + "' '" + root.at("places.geojson") +
                    "' -nln places 2>/dev/null"))
      << "ogr2ogr (Debian's gdal-bin, installed by scripts/install-deps.sh) made no GeoPackage";
  ASSERT_TRUE(sqlite3_shell(
      root.at("search.db"),
      "CREATE VIRTUAL TABLE notes USING fts5(title, body, tokenize='porter');"
      "INSERT INTO notes VALUES('Monday', 'running late again'), ('Tuesday', 'on time');"
      "CREATE VIRTUAL TABLE old_notes USING fts4(body);"
      "INSERT INTO old_notes VALUES('the (quick) brown fox'), ('a lazy dog');"
      "CREATE VIRTUAL TABLE older_notes USING fts3(body);"
      "INSERT INTO older_notes VALUES('jumped over');"));
  ASSERT_TRUE(
      sqlite3_shell(root.at("docs.db"),
                    "CREATE TABLE docs(id INTEGER PRIMARY KEY, doc TEXT);"
                    "INSERT INTO docs VALUES(1, '{\"title\":\"a\",\"tags\":[\"red\",\"blue\"]}'),"
                    "(2, '{\"title\":\"b\",\"tags\":[],\"meta\":{\"n\":3}}');"));
  std::string checks;
  for (int i = 0; i < 300; ++i) {
    checks += "SELECT RAISE(ABORT, 'code " + std::to_string(i) +
              " is reserved for the importer') WHERE NEW.code = " + std::to_string(i) + ";\n";
  }
  ASSERT_GT(checks.size(), 16384u);
  ASSERT_TRUE(sqlite3_shell(root.at("checked.db"),
                            "CREATE TABLE item(code INTEGER, label TEXT);"
                            "INSERT INTO item VALUES(400, 'kept'), (401, 'also kept');"
                            "CREATE TRIGGER item_codes BEFORE INSERT ON item BEGIN\n" +
                                checks + "END;"));
  // Double-quoted strings in a view, as old versions of SQLite accepted.
  ASSERT_TRUE(
      sqlite3_shell(root.at("legacy.db"),
                    "CREATE TABLE person(name TEXT, kind TEXT);"
                    "INSERT INTO person VALUES('ada', 'staff'), ('bob', 'guest');"
                    "CREATE VIEW staff AS SELECT name FROM person WHERE kind = \"staff\";"));

  const made_elsewhere cases[] = {
      {"places.db",
       "GeoPackage from ogr2ogr",
       "SELECT p.name FROM places p JOIN rtree_places_geom r ON r.id = p.fid WHERE r.minx > 2",
       "[\"mill\"]",
       {"WITH w AS (SELECT 1) INSERT INTO rtree_places_geom VALUES(9, 0, 1, 0, 1)",
        "WITH w AS (SELECT 1) DELETE FROM rtree_places_geom",
        "WITH w AS (SELECT 1) UPDATE rtree_places_geom SET maxx = 0",
        "WITH w AS (SELECT 1) DELETE FROM rtree_places_geom_node",
        "WITH w AS (SELECT 1) INSERT INTO places(name) VALUES('new')"}},
      {"search.db",
       "FTS5, FTS4 and FTS3 indexes",
       "SELECT title FROM notes WHERE notes MATCH 'run' UNION ALL "
       "SELECT body FROM old_notes WHERE old_notes MATCH '(quick OR lazy) NOT dog' UNION ALL "
       "SELECT body FROM older_notes WHERE older_notes MATCH 'jump*'",
       "[\"Monday\"],[\"the (quick) brown fox\"],[\"jumped over\"]",
       {"WITH w AS (SELECT 1) INSERT INTO notes VALUES('x', 'y')",
        "WITH w AS (SELECT 1) INSERT INTO notes(notes) VALUES('delete-all')",
        "WITH w AS (SELECT 1) DELETE FROM notes",
        "WITH w AS (SELECT 1) INSERT INTO old_notes(old_notes) VALUES('optimize')",
        "WITH w AS (SELECT 1) UPDATE older_notes SET body = ''",
        "WITH w AS (SELECT 1) DELETE FROM notes_data"}},
      {"docs.db",
       "JSON documents",
       "SELECT d.id, j.value FROM docs d, json_each(d.doc, '$.tags') j UNION ALL "
       "SELECT d.id, t.fullkey FROM docs d, json_tree(d.doc) t WHERE t.key = 'n'",
       "[1,\"red\"],[1,\"blue\"],[2,\"$.meta.n\"]",
       {}},
      {"checked.db",
       "a trigger of more than 16 KB",
       "SELECT label FROM item ORDER BY code",
       "[\"kept\"],[\"also kept\"]",
       {"WITH w AS (SELECT 1) INSERT INTO item VALUES(1, 'x')"}},
      {"legacy.db", "a view with double-quoted strings", "SELECT * FROM staff", "[\"ada\"]", {}},
  };
  for (const made_elsewhere &c : cases) {
    const std::string before = read_file(root.at(c.file));
    ASSERT_FALSE(before.empty()) << c.what;
    expect_every_table_reads(c);
    const std::string out = root.query(root.at(c.file), c.probe);
    EXPECT_EQ(rows_of(out), c.probe_rows) << c.what << "\n" << out;
    for (const std::string &write : c.writes) {
      const std::string refused = outcome(root.query(root.at(c.file), write));
      EXPECT_TRUE(refused == "sql_error" || refused == "read_only")
          << c.what << ": " << write << " gave " << refused;
    }
    EXPECT_EQ(read_file(root.at(c.file)), before) << c.what;
  }
}

// Schemas written to do harm, or damaged: views that call functions the
// guard refuses or that do not exist, virtual tables declared with odd
// arguments, full-text and R-Tree shadow tables with corrupt content.
TEST_F(ForeignDatabases, HostileSchemasAnswerAnErrorOrRead) {
  ASSERT_TRUE(sqlite3_shell(
      root.at("hostile.db"),
      "CREATE TABLE t(x); INSERT INTO t VALUES(1);"
      "CREATE VIEW v_load AS SELECT load_extension('/tmp/evil.so') AS r;"
      "CREATE VIEW v_tokenizer AS SELECT fts3_tokenizer('simple') AS r;"
      "CREATE VIEW v_unknown AS SELECT st_isempty(x) AS r FROM t;"
      "CREATE VIEW v_huge AS SELECT zeroblob(2000000) AS r;"
      "CREATE VIEW v_json AS SELECT value FROM json_each('[1,2]');"
      "CREATE TRIGGER t_load AFTER INSERT ON t BEGIN SELECT load_extension('/tmp/evil.so'); END;"
      "CREATE VIRTUAL TABLE words USING fts5(a); INSERT INTO words VALUES('one two');"
      "CREATE VIEW v_match AS SELECT * FROM words WHERE words MATCH 'one';"
      "CREATE VIRTUAL TABLE broken_fts5 USING fts5(a); INSERT INTO broken_fts5 VALUES('one');"
      "UPDATE broken_fts5_data SET block = x'ffffffffffffffffffff' WHERE id > 10;"
      "CREATE VIRTUAL TABLE future_fts5 USING fts5(a); INSERT INTO future_fts5 VALUES('one');"
      "UPDATE future_fts5_config SET v = 99 WHERE k = 'version';"
      "CREATE VIRTUAL TABLE broken_fts4 USING fts4(a); INSERT INTO broken_fts4 VALUES('one');"
      "UPDATE broken_fts4_segdir SET root = x'ff0102';"
      "CREATE VIRTUAL TABLE broken_rtree USING rtree(id, a, b);"
      "INSERT INTO broken_rtree VALUES(1, 0, 1);"
      "UPDATE broken_rtree_node SET data = x'00ff00ff';"
      "PRAGMA writable_schema = ON;"
      "INSERT INTO sqlite_master VALUES('table', 'odd_tokenizer', 'odd_tokenizer', 0,"
      " 'CREATE VIRTUAL TABLE odd_tokenizer USING fts5(a, tokenize=''nonexistent'')');"
      "INSERT INTO sqlite_master VALUES('table', 'odd_rtree', 'odd_rtree', 0,"
      " 'CREATE VIRTUAL TABLE odd_rtree USING rtree(id)');"
      "INSERT INTO sqlite_master VALUES('table', 'odd_module', 'odd_module', 0,"
      " 'CREATE VIRTUAL TABLE odd_module USING nosuchmodule(a, b)');"
      "INSERT INTO sqlite_master VALUES('table', 'odd_content', 'odd_content', 0,"
      " 'CREATE VIRTUAL TABLE odd_content USING fts5(a, content=''missing'')');"
      "INSERT INTO sqlite_master VALUES('table', 'odd_json', 'odd_json', 0,"
      " 'CREATE VIRTUAL TABLE odd_json USING json_each(''[1]'')');"));
  const std::string db = root.at("hostile.db");
  const std::string before = read_file(db);

  // The document lists every table and view and closes; the sound ones
  // among them are counted.
  const std::string doc = root.schema(db);
  const std::vector<table_entry> tables = tables_of(doc);
  const std::string closing = "],\"table_count\":" + std::to_string(tables.size()) +
                              ",\"truncated\":false,\"budget_ms\":2000}\n";
  EXPECT_EQ(tables.size(), 40u) << doc;
  ASSERT_GE(doc.size(), closing.size());
  EXPECT_EQ(doc.substr(doc.size() - closing.size()), closing);
  for (const table_entry &t : tables) {
    if (t.name == "t" || t.name == "words" || t.name == "v_json" || t.name == "v_huge") {
      EXPECT_NE(t.rows, "null") << t.name;
    }
  }

  const struct {
    std::string sql, expected;
  } cases[] = {
      {"SELECT * FROM v_load", "sql_error"},
      {"SELECT * FROM v_tokenizer", "sql_error"},
      {"SELECT * FROM v_unknown", "sql_error"},
      {"SELECT * FROM v_huge", "ok+error"},
      {"SELECT * FROM v_json", "ok"},
      {"SELECT * FROM v_match", "sql_error"},
      {"SELECT * FROM words WHERE words MATCH 'one'", "ok"},
      {"SELECT * FROM broken_fts5 WHERE broken_fts5 MATCH 'one'", "ok+error"},
      {"SELECT * FROM future_fts5 WHERE future_fts5 MATCH 'one'", "sql_error"},
      {"SELECT * FROM broken_fts4 WHERE broken_fts4 MATCH 'one'", "ok+error"},
      {"SELECT * FROM broken_rtree WHERE a > 0", "sql_error"},
      {"SELECT * FROM odd_tokenizer", "sql_error"},
      {"SELECT * FROM odd_rtree", "sql_error"},
      {"SELECT * FROM odd_module", "sql_error"},
      {"SELECT * FROM odd_content", "sql_error"},
      {"SELECT * FROM odd_json", "sql_error"},
      {"WITH w AS (SELECT 1) INSERT INTO t VALUES(2)", "sql_error"},
  };
  for (const auto &c : cases) {
    const std::string out = root.query(db, c.sql);
    EXPECT_EQ(outcome(out), c.expected) << c.sql << "\n" << out;
  }
  EXPECT_EQ(read_file(db), before);
}

}  // namespace
