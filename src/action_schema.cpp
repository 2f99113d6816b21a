// The schema action: the tables and views of one database in name order,
// each with its row count, columns and indexes, written as the table list
// is stepped.
#include <sqlite3.h>

#include <algorithm>
#include <cstring>

#include "action_open.h"
#include "actions.h"
#include "budget.h"
#include "db_guard.h"
#include "json_out.h"

constexpr int MAX_TABLES = 200;  // tables and views written
// Room for the generated statements: the longest prefix, "PRAGMA
// index_list(", and its ")" around a quoted name stay well inside.
constexpr std::size_t STATEMENT_CAP = 608;

// The LIKE is case-insensitive and "_" matches any byte: every name that
// begins with "sqlite" in any case and goes on is left out, while a table
// named just "sqlite" is listed.
#define LISTED_OBJECTS \
  "FROM sqlite_master WHERE type IN ('table','view') AND name NOT LIKE 'sqlite_%'"
static const char TABLE_LIST_SQL[] = "SELECT name, type " LISTED_OBJECTS " ORDER BY name";
// The same list without its first ?1 rows, to go on after a count was cut.
static const char TABLE_LIST_FROM_SQL[] =
    "SELECT name, type " LISTED_OBJECTS " ORDER BY name LIMIT -1 OFFSET ?1";
static const char TABLE_COUNT_SQL[] = "SELECT count(*) " LISTED_OBJECTS;

// PRAGMA table_info compiles about a dozen instructions per column, so the
// connection's limit on a statement's program, which a request's own
// statements keep, would leave the columns of a table of some 1,900 columns
// or more out. Its own two PRAGMAs get room for SQLite's largest tables.
constexpr int PRAGMA_VDBE_OPS = 100000;

// Listing the columns and indexes of every table comes first; counting gets
// what time that leaves. Each table not yet listed is reserved LISTING_SLACK
// times the listing time per table measured so far (at least 1 ms for the
// first, the clock's grain), and the closing of the document CLOSING_MS.
constexpr long long LISTING_SLACK = 2;
constexpr long long CLOSING_MS = 20;
// Every count is tried for at least this long while the deadline is ahead:
// a small table counts in far less, even on a loaded machine whose listing
// so far made the reserve look large.
constexpr long long MIN_COUNT_MS = 2;

// Where the document stands, for the end written after a hard stop: the
// opening of the database, the compiling of the table list, between two
// table objects, or inside one of them before its row count, inside its
// columns or inside its indexes.
enum class schema_stage { opening, listing, between_tables, before_rows, in_columns, in_indexes };

// One run of the action. It lives in action_schema's frame, so that the end
// of the document can still be written when the watchdog abandons the run.
struct schema_run {
  const char *path;
  budget_state budget;
  schema_stage stage;
  int written;           // table objects begun
  int to_list;           // tables and views the document will list, at most MAX_TABLES
  int list_rows;         // rows of the table list stepped so far
  long long listing_ms;  // time spent on the columns and indexes written so far
  bool short_list;       // a list ended before its last row: something is left out
};

static int step(sqlite3_stmt *stmt) {
  return inside_sqlite([&] { return sqlite3_step(stmt); });
}

static sqlite3_stmt *prepare(sqlite3 *db, const char *sql) {
  sqlite3_stmt *stmt = nullptr;
  const int rc = inside_sqlite([&] { return sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr); });
  if (rc == SQLITE_OK) return stmt;
  sqlite3_finalize(stmt);
  return nullptr;
}

/// Compiles the generated statement `head`, the quoted name, `tail`.
/// Returns it, or null when it does not compile.
static sqlite3_stmt *prepare_for_table(sqlite3 *db, const char *head, const char *quoted_name,
                                       const char *tail) {
  char sql[STATEMENT_CAP];
  std::size_t n = 0;
  // Joined by hand: a table costs three of these, and the formatting
  // machinery of snprintf was a tenth of the whole action for a plain join.
  for (const char *part : {head, quoted_name, tail}) {
    const std::size_t length = std::min(std::strlen(part), STATEMENT_CAP - 1 - n);
    std::memcpy(sql + n, part, length);
    n += length;
  }
  sql[n] = '\0';
  return prepare(db, sql);
}

/// Compiles one of the two PRAGMAs of a table, with room for the program
/// of a table of SQLite's most columns. Returns null when it does not
/// compile.
static sqlite3_stmt *prepare_pragma(sqlite3 *db, const char *head, const char *quoted_name) {
  const int kept = sqlite3_limit(db, SQLITE_LIMIT_VDBE_OP, PRAGMA_VDBE_OPS);
  sqlite3_stmt *stmt = prepare_for_table(db, head, quoted_name, ")");
  sqlite3_limit(db, SQLITE_LIMIT_VDBE_OP, kept);
  return stmt;
}

static const char *text_or_empty(sqlite3_stmt *stmt, int column) {
  const unsigned char *text = sqlite3_column_text(stmt, column);
  return text != nullptr ? reinterpret_cast<const char *>(text) : "";
}

/// The moment the count of the next table must end: an equal share, among
/// the tables still to count, of the time left once the listing of every
/// table still to list has its reserve, and at least MIN_COUNT_MS. Returns
/// 0 when not even that is left before the deadline.
static long long count_end(const schema_run &run) {
  const long long left = run.to_list - run.written + 1;  // this table included
  const long long listed = run.written > 1 ? run.written - 1 : 1;
  const long long listing_reserve = LISTING_SLACK * (run.listing_ms + 1) * left / listed;
  const long long now = plat_ticks_ms();
  const long long share = (run.budget.deadline - CLOSING_MS - listing_reserve - now) / left;
  if (share >= MIN_COUNT_MS) return now + share;
  return now + MIN_COUNT_MS < run.budget.deadline - CLOSING_MS ? now + MIN_COUNT_MS : 0;
}

/// Writes the row count, or null when it cannot finish in its share of the
/// time (count_end). A view's count runs its query. Returns true when the
/// count was cut: the interrupt then stays on the connection while the
/// table list runs.
static bool write_row_count(sqlite3 *db, const char *quoted_name, schema_run *run) {
  const long long end = count_end(*run);
  sqlite3_stmt *stmt = nullptr;
  if (end != 0) stmt = prepare_for_table(db, "SELECT count(*) FROM ", quoted_name, "");
  if (stmt != nullptr) budget_cut_at(run->budget, db, end);
  if (stmt != nullptr && step(stmt) == SQLITE_ROW) {
    out_lit(",\"rows\":");
    json_int(sqlite3_column_int64(stmt, 0));
  } else {
    out_lit(",\"rows\":null");
  }
  sqlite3_finalize(stmt);
  return budget_cut_clear(run->budget, db);
}

/// Steps a list statement of the schema. A result that is neither a row nor
/// its end marks the document as leaving something out.
static bool next_row(sqlite3_stmt *stmt, schema_run *run) {
  const int rc = step(stmt);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) run->short_list = true;
  return rc == SQLITE_ROW;
}

// A PRAGMA that fails, at compile time or part way, leaves its list short.
static void write_columns(sqlite3 *db, const char *quoted_name, schema_run *run) {
  out_lit(",\"columns\":[");
  run->stage = schema_stage::in_columns;
  sqlite3_stmt *stmt = prepare_pragma(db, "PRAGMA table_info(", quoted_name);
  for (int j = 0; stmt != nullptr && next_row(stmt, run); ++j) {
    if (j > 0) out_byte(',');
    out_lit("{\"name\":");
    json_str(text_or_empty(stmt, 1));
    out_lit(",\"type\":");
    json_str(text_or_empty(stmt, 2));
    out_lit(",\"notnull\":");
    json_bool(sqlite3_column_int(stmt, 3) != 0);
    out_lit(",\"pk\":");
    json_int(sqlite3_column_int(stmt, 5));
    out_byte('}');
  }
  sqlite3_finalize(stmt);
  out_byte(']');
}

static void write_indexes(sqlite3 *db, const char *quoted_name, schema_run *run) {
  out_lit(",\"indexes\":[");
  run->stage = schema_stage::in_indexes;
  sqlite3_stmt *stmt = prepare_pragma(db, "PRAGMA index_list(", quoted_name);
  for (int j = 0; stmt != nullptr && next_row(stmt, run); ++j) {
    if (j > 0) out_byte(',');
    out_lit("{\"name\":");
    json_str(text_or_empty(stmt, 1));
    out_lit(",\"unique\":");
    json_bool(sqlite3_column_int(stmt, 2) != 0);
    out_byte('}');
  }
  sqlite3_finalize(stmt);
  out_byte(']');
}

/// Ends the table list and goes on with it where it stood on a statement
/// of its own: with no statement left running on the connection, SQLite
/// drops the interrupt of a cut count when the next statement is compiled.
/// Returns the new list, or null when it does not compile.
static sqlite3_stmt *list_again(sqlite3 *db, sqlite3_stmt *list, int rows_stepped) {
  sqlite3_finalize(list);
  sqlite3_stmt *again = prepare(db, TABLE_LIST_FROM_SQL);
  if (again != nullptr) sqlite3_bind_int(again, 1, rows_stepped);
  return again;
}

/// Writes one table object. Its three statements run one after another, so
/// at most one is open beside the table list. `*list` is the table list
/// whose row is `name` and `type`; it may be replaced (list_again), and is
/// null when the list cannot go on.
static void write_table(sqlite3 *db, sqlite3_stmt **list, const char *name, const char *type,
                        schema_run *run) {
  char quoted_name[IDENT_CAP];
  quote_ident(name, quoted_name);
  out_lit("{\"name\":");
  json_str(name);
  out_lit(",\"type\":");
  json_str(type != nullptr ? type : "table");
  ++run->written;
  run->stage = schema_stage::before_rows;
  if (write_row_count(db, quoted_name, run)) *list = list_again(db, *list, run->list_rows);
  const long long listing_start = plat_ticks_ms();
  write_columns(db, quoted_name, run);
  write_indexes(db, quoted_name, run);
  run->listing_ms += plat_ticks_ms() - listing_start;
  out_byte('}');
  run->stage = schema_stage::between_tables;
}

/// How many tables and views the document will list, at most MAX_TABLES;
/// MAX_TABLES too when they cannot be counted.
static int tables_to_list(sqlite3 *db) {
  sqlite3_stmt *stmt = prepare(db, TABLE_COUNT_SQL);
  const bool counted = stmt != nullptr && step(stmt) == SQLITE_ROW;
  const long long n = counted ? sqlite3_column_int64(stmt, 0) : MAX_TABLES;
  sqlite3_finalize(stmt);
  return n < MAX_TABLES ? static_cast<int>(n) : MAX_TABLES;
}

/// Steps the table list and writes a table object for each name, up to
/// MAX_TABLES. Returns true when a table or view was left out: one beyond
/// MAX_TABLES, or any after a list that stopped early.
static bool write_tables(sqlite3 *db, sqlite3_stmt *list, schema_run *run) {
  bool beyond = false;
  while (list != nullptr && next_row(list, run)) {
    ++run->list_rows;
    // Cut only when one more really exists: exactly MAX_TABLES is complete.
    if (run->written == MAX_TABLES) {
      beyond = true;
      break;
    }
    const char *name = reinterpret_cast<const char *>(sqlite3_column_text(list, 0));
    if (name == nullptr) continue;
    const char *type = reinterpret_cast<const char *>(sqlite3_column_text(list, 1));
    if (run->written > 0) out_byte(',');
    write_table(db, &list, name, type, run);
    if (list == nullptr) run->short_list = true;
  }
  sqlite3_finalize(list);
  return beyond || run->short_list;
}

static void write_closing_fields(int written, bool truncated) {
  out_lit("],\"table_count\":");
  json_int(written);
  out_lit(",\"truncated\":");
  json_bool(truncated);
  out_lit(",\"budget_ms\":");
  json_int(BUDGET_MS);
  out_lit("}\n");
}

// The part of the run that the watchdog may abandon.
static void run_schema(void *arg) {
  schema_run *run = static_cast<schema_run *>(arg);
  sqlite3 *conn = open_or_refuse(run->path, &run->budget);
  if (conn == nullptr) return;
  json_header();
  out_lit("{\"ok\":true,\"action\":\"schema\",\"readonly\":true,\"db\":");
  json_str(run->path);
  out_lit(",\"tables\":[");
  run->stage = schema_stage::listing;
  sqlite3_stmt *list = prepare(conn, TABLE_LIST_SQL);
  if (list == nullptr) {
    sqlite3_close(conn);
    out_lit("],\"error\":\"schema_query_failed\"}\n");
    return;
  }
  run->stage = schema_stage::between_tables;
  run->to_list = tables_to_list(conn);
  const bool truncated = write_tables(conn, list, run);
  write_closing_fields(run->written, truncated);
  sqlite3_close(conn);
}

// The end of the response when the watchdog abandoned a call into SQLite
// that outlived the budget: the table object in progress is closed with
// what its count, columns or indexes did not reach left null or empty, as
// when the budget interrupts them, and the closing fields follow, with
// `truncated` true: whatever came after was left out. The connection is
// left as it is, and the process ends without unwinding.
[[noreturn]] static void finish_after_hard_stop(const schema_run &run) {
  switch (run.stage) {
    case schema_stage::opening: refuse_open_after_hard_stop(); break;
    case schema_stage::listing: out_lit("],\"error\":\"schema_query_failed\"}\n"); break;
    case schema_stage::before_rows: out_lit(",\"rows\":null,\"columns\":[],\"indexes\":[]}"); break;
    case schema_stage::in_columns: out_lit("],\"indexes\":[]}"); break;
    case schema_stage::in_indexes: out_lit("]}"); break;
    case schema_stage::between_tables: break;
  }
  if (run.stage != schema_stage::opening && run.stage != schema_stage::listing) {
    write_closing_fields(run.written, true);
  }
  plat_exit_now(0);
}

void action_schema(const char *db) {
  char path[PATH_CAP];
  std::memset(path, 0, sizeof path);
  if (!resolve_or_refuse(db, path)) return;
  schema_run run{path, budget_state{}, schema_stage::opening, 0, MAX_TABLES, 0, 0, false};
  budget_start(&run.budget);
  if (!plat_run_cuttable(run_schema, &run)) finish_after_hard_stop(run);
}
