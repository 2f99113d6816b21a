// The database guard: which paths may be opened, and what a guarded
// connection lets a statement do.
#include "db_guard.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "test_support.h"

namespace {

const char *const ROOT_VARS[] = {"SQLITE_ALLOWED_ROOT", "HOME", "USERPROFILE"};

// Each test starts with no root configured and leaves none behind.
class Guard : public testing::Test {
 protected:
  void SetUp() override {
    for (const char *v : ROOT_VARS) unset_env(v);
  }
  void TearDown() override { SetUp(); }
  static void set(const char *name, const std::string &value) { set_env(name, value); }
  static int resolve(const std::string &requested, std::string *out = nullptr) {
    char buf[PATH_CAP] = "untouched";
    const int r = resolve_db_path(requested.c_str(), buf);
    if (out) *out = buf;
    return r;
  }
  scratch_dir dir;
};

TEST_F(Guard, CollectRootsFromTheEnvironment) {
  write_file(dir.at("file"), "");
  root_entry table[MAX_ROOTS];
  EXPECT_EQ(collect_roots(table), 0);

  set("HOME", "");
  set("USERPROFILE", dir.path());
  set("SQLITE_ALLOWED_ROOT", dir.at("file"));  // a file is not a root directory
  ASSERT_EQ(collect_roots(table), 2);
  EXPECT_STREQ(table[0].label, "allowed");
  EXPECT_EQ(table[0].exists, 0);
  EXPECT_STREQ(table[1].label, "home");
  EXPECT_EQ(table[1].path, dir.path());
  EXPECT_EQ(table[1].exists, 1);
  EXPECT_EQ(table[2].path[0], '\0');

  unset_env("SQLITE_ALLOWED_ROOT");
  ASSERT_EQ(collect_roots(table), 1);
  EXPECT_STREQ(table[0].label, "home");  // the home root moves up to the first slot
}

TEST_F(Guard, TextRulesAndExtensions) {
  set("HOME", dir.path());
  make_dirs(dir.at("dir"));
  make_dirs(dir.at("a/..b"));
  make_dirs(dir.at("old.db"));
  // Every one of these exists, so a refusal is the rule's doing.
  for (const char *name : {"profile.db", "..x.db", "a/..b/x.db", "a.db", "x.DB", "x.Sqlite3",
                           "y.db3", "x.db-wal", "x.dbf", "x.sqlite-journal", "x.txt", "noext",
                           "dir/.sqlite", ".sqlite", "dir/a.b.db", ".db", "x.db#1"})
    write_file(dir.at(name), "");
  const struct {
    std::string requested;
    int result;
  } cases[] = {
      {"", 0},
      {"file:x.db", 0},
      {"FILE:" + dir.at("a.db"), 0},
      {"profile.db", 1},
      {dir.at("a.db") + "?mode=ro", 0},
      {"x.db#1", 0},
      {"a://b.db", 0},
      {"../x.db", 0},
      {"a/../x.db", 0},
      {"a/..", 0},
      {"a\\..\\x.db", 0},
      {dir.path() + "/dir/../a.db", 0},
      {"..x.db", 1},
      {"a/..b/x.db", 1},
      {"a.db", 1},
      {".db", 0},
      {"x.DB", 1},
      {"x.Sqlite3", 1},
      {"y.db3", 1},
      {"x.db-wal", 0},
      {"x.dbf", 0},
      {"x.sqlite-journal", 0},
      {"x.txt", 0},
      {"noext", 0},
      {"dir/.sqlite", 0},
      {".sqlite", 0},
      {"dir/a.b.db", 1},
      {"dir/", 0},
      {"a.db/", 0},
      {"a.db\\", 0},
      {"gone.db", -1},
      {"old.db", 0},  // a directory
      {"C:/x.db", 0},
      {"./dir//a.b.db", 1},
  };
  for (const auto &c : cases) EXPECT_EQ(resolve(c.requested), c.result) << c.requested;
  EXPECT_EQ(resolve(std::string(PATH_CAP, 'a')), 0);
}

TEST_F(Guard, RelativePathsJoinHomeThenUserProfile) {
  write_file(dir.at("x.db"), "");
  // A leading "\" does not make a path absolute. On POSIX it is part of a
  // file name; on Windows it separates, and the path lies in "data".
  const bool backslash_separates = plat_is_separator('\\');
  if (backslash_separates) make_dirs(dir.at("data"));
  const std::string joined = backslash_separates ? dir.at("data/x.db") : dir.at("\\data\\x.db");
  write_file(joined, "");
  std::string out;
  set("HOME", dir.path());
  ASSERT_EQ(resolve("\\data\\x.db", &out), 1);
  EXPECT_EQ(out, joined);

  set("HOME", "");
  set("USERPROFILE", dir.path());
  ASSERT_EQ(resolve("x.db", &out), 1);
  EXPECT_EQ(out, dir.at("x.db"));

  unset_env("USERPROFILE");
  set("SQLITE_ALLOWED_ROOT", dir.path());
  EXPECT_EQ(resolve("x.db"), 0);  // no base for a relative path
  EXPECT_EQ(resolve(dir.at("x.db")), 1);
}

TEST_F(Guard, RootBoundaries) {
  // Windows: "\" separates, names ignore letter case, and the file
  // system's root is a drive.
  const bool windows_rules = plat_is_separator('\\');
  make_dirs(dir.at("data/sub"));
  make_dirs(dir.at("database"));
  write_file(dir.at("data/sub/x.db"), "");
  write_file(dir.at("data/x.db"), "");
  write_file(dir.at("database/x.db"), "");
  if (!windows_rules) write_file(dir.at("data\\x.db"), "");  // a file beside the root, not in it
  std::string out;
  for (const std::string &root : {dir.at("data"), dir.at("data/"), dir.at("data//")}) {
    set("SQLITE_ALLOWED_ROOT", root);
    EXPECT_EQ(resolve(dir.at("data/sub/x.db"), &out), 1) << root;
    EXPECT_EQ(out, dir.at("data/sub/x.db"));
    EXPECT_EQ(resolve(dir.at("data/x.db")), 1) << root;
    EXPECT_EQ(resolve(dir.at("database/x.db")), 0) << root;
    if (!windows_rules) EXPECT_EQ(resolve(dir.at("data\\x.db")), 0) << root;
    EXPECT_EQ(resolve(dir.at("data/gone.db")), -1) << root;
    EXPECT_EQ(resolve(dir.at("database/gone.db")), 0) << root;  // missing outside: refused
  }
  // Other letter case names another folder on POSIX, the same one on Windows.
  set("SQLITE_ALLOWED_ROOT", dir.at("DATA"));
  EXPECT_EQ(resolve(dir.at("data/x.db"), &out), windows_rules ? 1 : 0);
  if (windows_rules) EXPECT_EQ(out, dir.at("data/x.db"));
  set("SQLITE_ALLOWED_ROOT", dir.at("missing"));
  EXPECT_EQ(resolve(dir.at("missing/x.db")), 0);
  const std::string fs_root = windows_rules ? dir.path().substr(0, 3) : "/";
  set("SQLITE_ALLOWED_ROOT", fs_root);
  EXPECT_EQ(resolve(dir.at("database/x.db"), &out), 1);
  EXPECT_EQ(out, dir.at("database/x.db"));

  unset_env("SQLITE_ALLOWED_ROOT");
  set("HOME", fs_root);
  EXPECT_EQ(resolve(dir.at("data/x.db").substr(fs_root.size()), &out), 1);  // root + relative
  EXPECT_EQ(out, dir.at("data/x.db"));
}

TEST_F(Guard, LinksMayNotLeadOutOfTheRoot) {
  make_dirs(dir.at("root/inner"));
  make_dirs(dir.at("outside"));
  write_file(dir.at("root/inner/real.db"), "");
  write_file(dir.at("outside/secret.db"), "");
  MAKE_SYMLINK_OR_SKIP(dir.at("outside/secret.db"), dir.at("root/out.db"));
  MAKE_SYMLINK_OR_SKIP(dir.at("outside"), dir.at("root/outdir"));
  MAKE_SYMLINK_OR_SKIP(native_path("inner/real.db"), dir.at("root/in.db"));
  MAKE_SYMLINK_OR_SKIP(dir.at("root"), dir.at("rootlink"));
  set("SQLITE_ALLOWED_ROOT", dir.at("root"));
  std::string out;
  EXPECT_EQ(resolve(dir.at("root/out.db")), 0);
  EXPECT_EQ(resolve(dir.at("root/outdir/secret.db")), 0);
  ASSERT_EQ(resolve(dir.at("root/in.db"), &out), 1);
  EXPECT_EQ(out, dir.at("root/inner/real.db"));  // the real location is what gets opened
  EXPECT_TRUE(real_location_inside(dir.at("root").c_str(), dir.at("root/in.db").c_str()));
  EXPECT_FALSE(real_location_inside(dir.at("root").c_str(), dir.at("root/out.db").c_str()));

  // A root reached through a link admits what really lies inside it.
  set("SQLITE_ALLOWED_ROOT", dir.at("rootlink"));
  EXPECT_EQ(resolve(dir.at("rootlink/inner/real.db")), 1);
  EXPECT_EQ(resolve(dir.at("rootlink/out.db")), 0);
}

TEST_F(Guard, OverlongPaths) {
  set("HOME", dir.path());
  const std::string tail = "/x.db";
  const std::string absolute =
      dir.path() + "/" + std::string(4095 - dir.path().size() - 1 - tail.size(), 'n') + tail;
  ASSERT_EQ(absolute.size(), 4095u);
  EXPECT_EQ(resolve(absolute), -1);  // inside the root, and no such file can exist
  EXPECT_EQ(resolve(absolute + "x"), 0);
  EXPECT_EQ(resolve(std::string(4090, 'r') + ".db"), -1);  // joined to HOME and cut
  EXPECT_EQ(resolve("\xff\xfe.db"), -1);
}

// --- the connection -------------------------------------------------------

class Connection : public testing::Test {
 protected:
  void SetUp() override {
    path = dir.at("t.db");
    make_db(path,
            "CREATE TABLE t(x INTEGER PRIMARY KEY, y TEXT UNIQUE); INSERT INTO t VALUES(1,'a');"
            "CREATE VIRTUAL TABLE f USING fts4(body); INSERT INTO f VALUES('hello world');"
            "CREATE VIRTUAL TABLE g USING fts5(body); INSERT INTO g VALUES('hello there');"
            "CREATE VIRTUAL TABLE r USING rtree(id, x0, x1); INSERT INTO r VALUES(7, 0, 1);"
            "CREATE TABLE plain_node(x); INSERT INTO plain_node VALUES(1);");
    int rc = -1;
    db = open_ro(path.c_str(), &rc);
    ASSERT_NE(db, nullptr);
    EXPECT_EQ(rc, 0);
    ASSERT_EQ(is_database(db), 1);
    guard_connection(db, &budget);
  }
  void TearDown() override { sqlite3_close(db); }
  // Prepares and, when that works, steps `sql` to its end. Returns the
  // prepare result, or the first failing step result.
  int run(const std::string &sql) {
    sqlite3_stmt *stmt = nullptr;
    int rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr);
    if (rc == SQLITE_OK) {
      while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
      }
      if (rc == SQLITE_DONE) rc = SQLITE_OK;
    }
    sqlite3_finalize(stmt);
    return rc;
  }
  scratch_dir dir;
  std::string path;
  sqlite3 *db = nullptr;
  budget_state budget{};
};

TEST_F(Connection, AuthorizerAdmitsOnlyReading) {
  for (const char *sql :
       {"SELECT * FROM t",
        "PRAGMA table_info(t)",
        "PRAGMA TABLE_INFO(t)",
        "PRAGMA main.index_list(t)",
        "PRAGMA page_size=8192",
        "SELECT upper('x')",

        "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM c LIMIT 5) SELECT x FROM c",
        "PRAGMA table_xinfo(t)",
        "PRAGMA index_info(sqlite_autoindex_t_1)",
        "PRAGMA index_xinfo(sqlite_autoindex_t_1)",
        "PRAGMA foreign_key_list(t)",
        "PRAGMA database_list",
        "PRAGMA collation_list",
        "PRAGMA page_count",
        "PRAGMA page_size",
        "PRAGMA freelist_count",
        "PRAGMA compile_options",
        "PRAGMA quick_check",
        "PRAGMA integrity_check",
        "PRAGMA table_list"})
    EXPECT_EQ(run(sql), SQLITE_OK) << sql;
  for (const char *sql :
       {"PRAGMA journal_mode", "PRAGMA journal_mode=WAL", "PRAGMA user_version",
        "PRAGMA table_infox", "PRAGMA writable_schema=1", "SELECT load_extension('x')",
        "SELECT LOAD_EXTENSION('x')", "SELECT fts3_tokenizer('simple')",
        "SELECT FTS3_Tokenizer('simple', x'4141414141414141')", "SAVEPOINT s", "BEGIN",
        "ATTACH 'x.db' AS y", "INSERT INTO t VALUES(2,'b')", "CREATE TEMP TABLE t2(x)", "ANALYZE",
        "REINDEX", "VACUUM", "DETACH main"})
    EXPECT_NE(run(sql), SQLITE_OK) << sql;
  // Without the authorizer's word the one-argument form would hand out a code address.
  EXPECT_NE(run("SELECT fts3_tokenizer('simple')"), SQLITE_OK);
  EXPECT_STREQ(sqlite3_errmsg(db), "not authorized to use function: fts3_tokenizer");
  EXPECT_EQ(authorizer_cb(nullptr, SQLITE_PRAGMA, nullptr, nullptr, nullptr, nullptr), SQLITE_DENY);
  EXPECT_EQ(authorizer_cb(nullptr, SQLITE_FUNCTION, nullptr, nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_EQ(authorizer_cb(nullptr, 34, nullptr, nullptr, nullptr, nullptr), SQLITE_DENY);
  EXPECT_EQ(authorizer_cb(nullptr, -1, nullptr, nullptr, nullptr, nullptr), SQLITE_DENY);
}

// What reading a virtual table makes SQLite ask: FTS3/FTS4 the page size,
// FTS5 the data version, an R-Tree the compiling of its writes to its own
// shadow tables. Nothing else that writes is admitted.
TEST(Authorizer, AdmitsWhatVirtualTablesNeedToRead) {
  const struct {
    int action;
    const char *first;
    int expected;
  } cases[] = {
      {SQLITE_PRAGMA, "data_version", SQLITE_OK},
      {SQLITE_PRAGMA, "DATA_VERSION", SQLITE_OK},
      {SQLITE_PRAGMA, "page_size", SQLITE_OK},
      {SQLITE_INSERT, "places_geom_node", SQLITE_OK},
      {SQLITE_DELETE, "r_node", SQLITE_OK},
      {SQLITE_UPDATE, "r_rowid", SQLITE_OK},
      {SQLITE_INSERT, "r_parent", SQLITE_OK},
      {SQLITE_INSERT, "t", SQLITE_DENY},
      {SQLITE_INSERT, "r", SQLITE_DENY},
      {SQLITE_INSERT, "_node", SQLITE_DENY},
      {SQLITE_DELETE, "r_nodes", SQLITE_DENY},
      {SQLITE_UPDATE, "r_content", SQLITE_DENY},
      {SQLITE_UPDATE, "sqlite_master", SQLITE_DENY},
      {SQLITE_INSERT, nullptr, SQLITE_DENY},
      {SQLITE_CREATE_TABLE, "r_node", SQLITE_DENY},
      {SQLITE_DROP_TABLE, "r_node", SQLITE_DENY},
      {SQLITE_CREATE_VTABLE, "r_node", SQLITE_DENY},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(authorizer_cb(nullptr, c.action, c.first, nullptr, "main", nullptr), c.expected)
        << c.action << " " << (c.first ? c.first : "(null)");
  }
}

TEST_F(Connection, VirtualTablesReadAndRefuseWrites) {
  for (const char *sql :
       {"SELECT * FROM f WHERE f MATCH 'hello'", "SELECT count(*) FROM f",
        "SELECT snippet(f), offsets(f) FROM f WHERE f MATCH 'world'",
        "SELECT * FROM g WHERE g MATCH 'there' ORDER BY rank",
        "SELECT highlight(g, 0, '[', ']'), bm25(g) FROM g('hello')",
        "SELECT * FROM r WHERE x0 >= 0 AND x1 <= 1", "PRAGMA table_info(r)",
        "SELECT j.key, j.value FROM t, json_each('{\"a\":[1,2]}') j",
        "SELECT * FROM json_tree('[1,[2,3]]')", "SELECT name FROM pragma_table_info('t')",
        "SELECT * FROM pragma_index_list('t')", "SELECT * FROM dbstat", "PRAGMA data_version"})
    EXPECT_EQ(run(sql), SQLITE_OK) << sql << ": " << sqlite3_errmsg(db);
  const std::string before = read_file(path);
  for (const char *sql :
       {"INSERT INTO f VALUES('x')", "INSERT INTO f(f) VALUES('optimize')",
        "INSERT INTO g(g) VALUES('delete-all')", "DELETE FROM g", "INSERT INTO r VALUES(8, 2, 3)",
        "UPDATE r SET x1 = 5", "DELETE FROM r_node", "INSERT INTO r_rowid VALUES(9, 1)",
        "UPDATE r_parent SET parentnode = 1", "SELECT * FROM pragma_journal_mode",
        "SELECT * FROM pragma_user_version"})
    EXPECT_NE(run(sql), SQLITE_OK) << sql;
  EXPECT_EQ(read_file(path), before);
}

// The authorizer lets an ordinary table whose name ends like an R-Tree's
// shadow table through; SQLite's read-only verdict on the compiled
// statement is what refuses the write.
TEST_F(Connection, WriteToATableNamedLikeAShadowTableIsNotReadOnly) {
  sqlite3_stmt *stmt = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "DELETE FROM plain_node", -1, &stmt, nullptr), SQLITE_OK);
  EXPECT_EQ(sqlite3_stmt_readonly(stmt), 0);
  sqlite3_finalize(stmt);
}

TEST_F(Connection, HostileStatementsChangeNothingOnDisk) {
  const std::string before = read_file(path);
  const std::set<std::string> names = list_names(dir.path());
  for (const std::string &sql :
       {std::string("ATTACH '") + dir.at("new.db") + "' AS n", std::string("VACUUM"),
        std::string("VACUUM INTO '") + dir.at("copy.db") + "'",
        std::string("PRAGMA writable_schema=1"), std::string("WITH x AS (SELECT 1) DELETE FROM t"),
        std::string("CREATE TEMP TABLE tt(x)"), std::string("BEGIN"), std::string("SAVEPOINT s"),
        std::string("REINDEX"), std::string("ANALYZE"), std::string("PRAGMA journal_mode=WAL"),
        std::string("UPDATE t SET y = 'z'"), std::string("DROP TABLE t")})
    EXPECT_NE(run(sql), SQLITE_OK) << sql;
  EXPECT_EQ(run("SELECT * FROM t ORDER BY y DESC"), SQLITE_OK);
  EXPECT_EQ(read_file(path), before);
  EXPECT_EQ(list_names(dir.path()), names);
}

TEST_F(Connection, LimitsOfLengthAndHeap) {
  EXPECT_NE(run("SELECT '" + std::string(16400, 'a') + "'"), SQLITE_OK);
  // Values up to 32 MiB, the longest stored value the query action reads.
  EXPECT_EQ(run("SELECT length(zeroblob(33554432))"), SQLITE_OK);
  EXPECT_EQ(run("SELECT zeroblob(33554433)") & 0xff, SQLITE_TOOBIG);
  // A sort of about 100 MB in memory passes the 64 MiB ceiling.
  budget.deadline = plat_ticks_ms() + 600000;
  EXPECT_EQ(run("WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM c LIMIT 500000) "
                "SELECT x, randomblob(200) AS r FROM c ORDER BY r") &
                0xff,
            SQLITE_NOMEM);
  EXPECT_EQ(run("SELECT count(*) FROM t"), SQLITE_OK);  // the connection goes on working
}

// Users' schemas hold statements far beyond the limits set for a request's
// statement: a trigger of more than 16 KB, an expression deeper than 100,
// a view of more than 50 compound terms. They load, and the request's
// statements are still held to the limits.
TEST(OpenRo, SchemaBeyondTheStatementLimitsLoads) {
  scratch_dir dir;
  std::string checks, deep, terms;
  for (int i = 0; i < 300; ++i) {
    checks += "SELECT RAISE(ABORT, 'value " + std::to_string(i) +
              " is reserved for the importer') WHERE NEW.x = " + std::to_string(i) + ";";
  }
  for (int i = 0; i < 150; ++i) deep += (i > 0 ? " AND x <> " : "x <> ") + std::to_string(i);
  for (int i = 0; i < 60; ++i)
    terms += (i > 0 ? " UNION ALL SELECT " : "SELECT ") + std::to_string(i);
  ASSERT_GT(checks.size(), 16384u);
  const std::string path = dir.at("big.db");
  make_db(path,
          "CREATE TABLE t(x); INSERT INTO t VALUES(1);"
          "CREATE TRIGGER t_check BEFORE INSERT ON t BEGIN " +
              checks +
              " END;"
              "CREATE TRIGGER t_deep BEFORE UPDATE ON t WHEN " +
              deep +
              " BEGIN SELECT 1; END;"
              "CREATE VIEW many AS " +
              terms + ";");
  int rc = -1;
  sqlite3 *db = open_ro(path.c_str(), &rc);
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(is_database(db), 1);
  budget_state budget{};
  guard_connection(db, &budget);
  sqlite3_stmt *stmt = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT count(*) FROM many", -1, &stmt, nullptr), SQLITE_OK);
  EXPECT_EQ(sqlite3_step(stmt), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(stmt, 0), 60);
  sqlite3_finalize(stmt);
  stmt = nullptr;
  const std::string long_statement = "SELECT '" + std::string(16400, 'a') + "'";
  EXPECT_EQ(sqlite3_prepare_v2(db, long_statement.c_str(), -1, &stmt, nullptr) & 0xff,
            SQLITE_TOOBIG);
  sqlite3_finalize(stmt);
  stmt = nullptr;
  EXPECT_NE(sqlite3_prepare_v2(db, ("SELECT 1 FROM t WHERE " + deep).c_str(), -1, &stmt, nullptr),
            SQLITE_OK);
  sqlite3_finalize(stmt);
  sqlite3_close(db);
}

TEST(OpenRo, ProbeAndOpenFailures) {
  scratch_dir dir;
  int rc = -1;
  EXPECT_EQ(open_ro(dir.at("missing.db").c_str(), &rc), nullptr);
  EXPECT_EQ(rc & 0xff, SQLITE_CANTOPEN);
  EXPECT_EQ(list_names(dir.path()).count("missing.db"), 0u);  // never created

  write_file(dir.at("notes.db"), "These are my notes, not a database.\n");
  write_file(dir.at("empty.db"), "");
  make_db(dir.at("real.db"), "CREATE TABLE t(x)");
  std::string corrupt = read_file(dir.at("real.db")).substr(0, 100);
  corrupt += std::string(8192, '\xa5');
  write_file(dir.at("corrupt.db"), corrupt);
  const struct {
    const char *name;
    int is_db;
  } cases[] = {{"notes.db", 0}, {"empty.db", 1}, {"real.db", 1}, {"corrupt.db", 0}};
  for (const auto &c : cases) {
    sqlite3 *db = open_ro(dir.at(c.name).c_str(), &rc);
    ASSERT_NE(db, nullptr) << c.name;
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(is_database(db), c.is_db) << c.name;
    sqlite3_close(db);
  }

  // What is opened is a real location; a name that has become a link since
  // it was checked is not followed.
  make_db(dir.at("target.db"), "CREATE TABLE t(x)");
  MAKE_SYMLINK_OR_SKIP(dir.at("target.db"), dir.at("link.db"));
  EXPECT_EQ(open_ro(dir.at("link.db").c_str(), &rc), nullptr);
  EXPECT_EQ(rc & 0xff, SQLITE_CANTOPEN);
}

TEST(OpenRo, OpensOnlyAFileWithOneNameThatIsNoDevice) {
  scratch_dir dir;
  make_db(dir.at("one.db"), "CREATE TABLE t(x)");
  make_db(dir.at("first.db"), "CREATE TABLE t(x)");
  make_hardlink(dir.at("first.db"), dir.at("second.db"));
  make_dirs(dir.at("folder.db"));
  write_file(dir.at("notes.txt"), "");
  std::vector<std::string> refused = {"first.db", "second.db", "folder.db"};
  if (plat_is_separator('\\')) {
    // Windows takes these names for devices in every folder, and a ":" after
    // the drive for a stream of another file.
    for (const char *name : {"NUL.db", "con.db", "COM1.sqlite", "lpt9.db", "notes.txt:hidden.db"})
      refused.push_back(name);
  }
  int rc = -1;
  for (const std::string &name : refused) {
    EXPECT_EQ(open_ro(dir.at(name).c_str(), &rc), nullptr) << name;
    EXPECT_EQ(rc & 0xff, SQLITE_CANTOPEN) << name;
  }
  sqlite3 *db = open_ro(dir.at("one.db").c_str(), &rc);
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(is_database(db), 1);
  sqlite3_close(db);
}

TEST(Budget, InterruptsStrictlyAfterTheDeadline) {
  EXPECT_EQ(progress_cb(nullptr), 0);
  budget_state budget{};
  for (int attempt = 0; attempt < 1000; ++attempt) {  // until a call lands in the same millisecond
    const long long now = plat_ticks_ms();
    budget.deadline = now;
    const int r = progress_cb(&budget);
    if (plat_ticks_ms() != now) continue;
    EXPECT_EQ(r, 0);
    EXPECT_EQ(budget.aborted, 0);
    break;
  }
  budget.deadline = plat_ticks_ms() - 1;
  EXPECT_EQ(progress_cb(&budget), 1);
  EXPECT_EQ(budget.aborted, 1);
}

TEST(QuoteIdent, DoublesQuotesAndCutsLongNames) {
  const struct {
    std::string name;
    std::string quoted;
  } cases[] = {
      {"users", "\"users\""},
      {"a\"b", "\"a\"\"b\""},
      {std::string(600, 'n'), "\"" + std::string(512, 'n') + "\""},
      {std::string(511, 'n') + "\"x", "\"" + std::string(511, 'n') + "\"\"\""},
      {std::string(600, '"'), "\"" + std::string(512, '"') + "\""},
  };
  for (const auto &c : cases) {
    char out[IDENT_CAP];
    quote_ident(c.name.c_str(), out);
    EXPECT_EQ(std::string(out), c.quoted) << c.name.size();
  }
  char out[IDENT_CAP];
  quote_ident(nullptr, out);
  EXPECT_STREQ(out, "\"\"");
}

}  // namespace

namespace {

long long count_rows(const std::string &path) {
  int rc = -1;
  sqlite3 *db = open_ro(path.c_str(), &rc);
  if (db == nullptr) return -1;
  sqlite3_stmt *stmt = nullptr;
  long long n = -1;
  if (sqlite3_prepare_v2(db, "SELECT count(*) FROM t", -1, &stmt, nullptr) == SQLITE_OK &&
      sqlite3_step(stmt) == SQLITE_ROW)
    n = sqlite3_column_int64(stmt, 0);
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return n;
}

TEST(OpenRo, WalDatabasesAreReadWithoutSideFiles) {
  scratch_dir dir;
  const std::string path = dir.at("w.db");
  make_db(path, "PRAGMA journal_mode=WAL; CREATE TABLE t(x); INSERT INTO t VALUES(1);");
  const std::set<std::string> names = list_names(dir.path());
  ASSERT_EQ(names.count("w.db-wal"), 0u);
  EXPECT_EQ(count_rows(path), 1);
  EXPECT_EQ(list_names(dir.path()), names);  // no -wal or -shm appeared

  // A writer holding rows in its -wal: the reader sees them too.
  sqlite3 *writer = open_writer(path);
  ASSERT_EQ(sqlite3_exec(writer, "PRAGMA wal_autocheckpoint=0; INSERT INTO t VALUES(2);", nullptr,
                         nullptr, nullptr),
            SQLITE_OK);
  EXPECT_EQ(count_rows(path), 2);
  sqlite3_close(writer);
}

TEST(OpenRo, AnEmptyFileLeavesTheLogBesideItAlone) {
  // SQLite deletes a -wal file that stands beside a database of zero pages,
  // even on a read-only connection.
  scratch_dir dir;
  write_file(dir.at("e.db"), "");
  const std::string log = "leftover log bytes";
  write_file(dir.at("e.db-wal"), log);
  int rc = -1;
  sqlite3 *db = open_ro(dir.at("e.db").c_str(), &rc);
  ASSERT_NE(db, nullptr) << rc;
  EXPECT_EQ(is_database(db), 1);
  sqlite3_close(db);
  EXPECT_EQ(read_file(dir.at("e.db-wal")), log);
  EXPECT_EQ(list_names(dir.path()), (std::set<std::string>{".", "..", "e.db", "e.db-wal"}));
}

}  // namespace
