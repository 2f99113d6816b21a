// The schema action: the tables and views of one database in name order,
// each with its row count, columns and indexes, written as the table list
// is stepped.
#include <sqlite3.h>

#include <algorithm>
#include <cstring>

#include "action_open.h"
#include "actions.h"
#include "db_guard.h"
#include "json_out.h"

constexpr int MAX_TABLES = 200;  // tables and views written
// Room for the generated statements: the longest prefix, "PRAGMA
// index_list(", and its ")" around a quoted name stay well inside.
constexpr std::size_t STATEMENT_CAP = 608;

// The LIKE is case-insensitive and "_" matches any byte: every name that
// begins with "sqlite" in any case and goes on is left out, while a table
// named just "sqlite" is listed.
static const char TABLE_LIST_SQL[] =
    "SELECT name, type FROM sqlite_master WHERE type IN ('table','view') AND name NOT LIKE "
    "'sqlite_%' ORDER BY name";

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
  sqlite3_stmt *stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) return nullptr;
  return stmt;
}

static const char *text_or_empty(sqlite3_stmt *stmt, int column) {
  const unsigned char *text = sqlite3_column_text(stmt, column);
  return text != nullptr ? reinterpret_cast<const char *>(text) : "";
}

// A view's count runs its query, under the same budget as everything else.
static void write_row_count(sqlite3 *db, const char *quoted_name) {
  sqlite3_stmt *stmt = prepare_for_table(db, "SELECT count(*) FROM ", quoted_name, "");
  if (stmt != nullptr && sqlite3_step(stmt) == SQLITE_ROW) {
    out_lit(",\"rows\":");
    json_int(sqlite3_column_int64(stmt, 0));
  } else {
    out_lit(",\"rows\":null");
  }
  sqlite3_finalize(stmt);
}

// A PRAGMA that fails, at compile time or part way, leaves its list short.
static void write_columns(sqlite3 *db, const char *quoted_name) {
  out_lit(",\"columns\":[");
  sqlite3_stmt *stmt = prepare_for_table(db, "PRAGMA table_info(", quoted_name, ")");
  for (int j = 0; stmt != nullptr && sqlite3_step(stmt) == SQLITE_ROW; ++j) {
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

static void write_indexes(sqlite3 *db, const char *quoted_name) {
  out_lit(",\"indexes\":[");
  sqlite3_stmt *stmt = prepare_for_table(db, "PRAGMA index_list(", quoted_name, ")");
  for (int j = 0; stmt != nullptr && sqlite3_step(stmt) == SQLITE_ROW; ++j) {
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

/// Writes one table object. Its three statements run one after another, so
/// at most one is open beside the table list.
static void write_table(sqlite3 *db, const char *name, const char *type) {
  char quoted_name[IDENT_CAP];
  quote_ident(name, quoted_name);
  out_lit("{\"name\":");
  json_str(name);
  out_lit(",\"type\":");
  json_str(type != nullptr ? type : "table");
  write_row_count(db, quoted_name);
  write_columns(db, quoted_name);
  write_indexes(db, quoted_name);
  out_byte('}');
}

struct table_list_end {
  int written;     // table objects written
  bool truncated;  // a table or view beyond MAX_TABLES was left out
};

/// Steps the table list and writes a table object for each name, up to
/// MAX_TABLES. A list stopped by an error or by the budget ends like one
/// that ran out of rows.
static table_list_end write_tables(sqlite3 *db, sqlite3_stmt *list) {
  table_list_end end{0, false};
  while (sqlite3_step(list) == SQLITE_ROW) {
    // Cut only when one more really exists: exactly MAX_TABLES is complete.
    if (end.written == MAX_TABLES) {
      end.truncated = true;
      break;
    }
    const char *name = reinterpret_cast<const char *>(sqlite3_column_text(list, 0));
    if (name == nullptr) continue;
    const char *type = reinterpret_cast<const char *>(sqlite3_column_text(list, 1));
    if (end.written > 0) out_byte(',');
    write_table(db, name, type);
    ++end.written;
  }
  return end;
}

void action_schema(const char *db) {
  char path[PATH_CAP];
  std::memset(path, 0, sizeof path);
  if (!resolve_or_refuse(db, path)) return;
  sqlite3 *conn = open_or_refuse(path);
  if (conn == nullptr) return;
  budget_state budget{};
  guard_connection(conn, &budget);
  json_header();
  out_lit("{\"ok\":true,\"action\":\"schema\",\"readonly\":true,\"db\":");
  json_str(path);
  out_lit(",\"tables\":[");
  sqlite3_stmt *list = nullptr;
  if (sqlite3_prepare_v2(conn, TABLE_LIST_SQL, -1, &list, nullptr) != SQLITE_OK) {
    sqlite3_close(conn);
    out_lit("],\"error\":\"schema_query_failed\"}\n");
    return;
  }
  const table_list_end end = write_tables(conn, list);
  sqlite3_finalize(list);
  out_lit("],\"table_count\":");
  json_int(end.written);
  out_lit(",\"truncated\":");
  json_bool(end.truncated);
  out_lit(",\"budget_ms\":");
  json_int(BUDGET_MS);
  out_lit("}\n");
  sqlite3_close(conn);
}
