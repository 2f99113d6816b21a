// The query action: one read-only statement against one database, its
// result streamed to standard output row by row as SQLite steps it, cut at
// MAX_ROWS rows and stopped by the wall-clock budget.
#include <sqlite3.h>

#include <cctype>
#include <cfloat>
#include <cmath>
#include <cstring>

#include "action_open.h"
#include "actions.h"
#include "budget.h"
#include "db_guard.h"
#include "json_out.h"
#include "platform/platform.h"
#include "request.h"

constexpr int MAX_TYPED_COLUMNS = 128;    // columns whose storage class is reported
constexpr std::size_t TYPE_NAME_CAP = 8;  // "float" and its terminator fit
constexpr int BLOB_HEX_BYTES = 48;        // leading blob bytes shown in hex
// Text and blobs the statement computes may be this long; a longer one
// fails the statement as SQLite's own limit on values did.
constexpr int COMPUTED_VALUE_BYTES = 1000000;
// The longest text written whole in the plain form; longer ones, which only
// a stored value can be, are written as an object with the first
// TEXT_HEAD_BYTES. Blobs are always an object in the plain form.
constexpr int PLAIN_TEXT_BYTES = 1000000;
constexpr int TEXT_HEAD_BYTES = 1024;
// The longest text or blob written whole in the exact form.
constexpr int EXACT_VALUE_BYTES = 16 * 1024 * 1024;
constexpr std::size_t HEX_CHUNK_BYTES = 2048;  // blob bytes turned into hex per write
// A download answer (CSV or JSON lines) takes rows for DOWNLOAD_SLICE_MS
// after compiling, then stops at a row and says it was cut, so that the
// next request can go on from there well inside its own budget; at most
// DOWNLOAD_ROWS, which keeps one answer a few tens of MB.
constexpr int DOWNLOAD_ROWS = 100000;
constexpr int DOWNLOAD_SLICE_MS = 1000;
// The most columns a result can have (SQLite's default limit): the columns
// whose keys a JSON line numbers when their names repeat.
constexpr int KEYED_COLUMNS = 2000;
constexpr std::size_t KEYWORD_CAP = 32;   // no accepted keyword comes near 31 letters
constexpr char READ_ONLY_DETAIL[] = "only SELECT / WITH / PRAGMA / EXPLAIN statements are accepted";

// The six bytes the C library's isspace accepts in the "C" locale.
static bool is_white(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

static bool is_word_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Past one comment that starts at `s`: "--" to the end of its line, or
// "/*" to its "*/". A comment left open runs to the end of the text, as
// SQLite reads it. Returns `s` itself when no comment starts there.
static const char *skip_comment(const char *s) {
  if (s[0] == '-' && s[1] == '-') {
    const char *end = std::strchr(s, '\n');
    return end != nullptr ? end + 1 : s + std::strlen(s);
  }
  if (s[0] == '/' && s[1] == '*') {
    const char *end = std::strstr(s + 2, "*/");
    return end != nullptr ? end + 2 : s + std::strlen(s);
  }
  return s;
}

// Past white space and comments; with `semicolons`, past empty statements
// too.
static const char *skip_blanks(const char *s, bool semicolons) {
  for (;;) {
    while (is_white(*s) || (semicolons && *s == ';')) ++s;
    const char *after = skip_comment(s);
    if (after == s) return s;
    s = after;
  }
}

// A cheap first filter that turns away obvious writes before anything is
// opened; the authorizer is what really keeps them out.
static bool starts_with_reading_keyword(const char *sql) {
  char keyword[KEYWORD_CAP];
  std::size_t n = 0;
  for (const char *p = skip_blanks(sql, false); n + 1 < KEYWORD_CAP && is_word_char(*p); ++p) {
    keyword[n++] = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
  }
  keyword[n] = '\0';
  static const char *const READING_KEYWORDS[] = {"select", "with", "pragma", "explain", "values"};
  for (const char *accepted : READING_KEYWORDS) {
    if (std::strcmp(keyword, accepted) == 0) return true;
  }
  return false;
}

/// Compiles the statement of `sql`. Returns it when it compiled, only
/// reads, and nothing but white space, comments and semicolons follows it.
/// Otherwise returns null, with no statement left open, and sets `code` and
/// `detail` (MESSAGE_CAP bytes) to the refusal; the detail is taken while
/// the connection still exists.
static sqlite3_stmt *compile_one_statement(sqlite3 *db, const char *sql, const char **code,
                                           char *detail) {
  sqlite3_stmt *stmt = nullptr;
  const char *tail = nullptr;
  if (inside_sqlite([&] { return sqlite3_prepare_v2(db, sql, -1, &stmt, &tail); }) != SQLITE_OK) {
    *code = "sql_error";
    copy_str(detail, MESSAGE_CAP, sqlite3_errmsg(db));
    return nullptr;
  }
  // Behind the authorizer: SQLite's own verdict on the compiled program
  // refuses whatever writes that an admitted request could still make.
  if (stmt != nullptr && !sqlite3_stmt_readonly(stmt)) {
    sqlite3_finalize(stmt);
    *code = "read_only";
    copy_str(detail, MESSAGE_CAP, READ_ONLY_DETAIL);
    return nullptr;
  }
  if (tail != nullptr && *skip_blanks(tail, true) != '\0') {
    sqlite3_finalize(stmt);
    *code = "multiple_statements";
    copy_str(detail, MESSAGE_CAP, "submit one statement at a time");
    return nullptr;
  }
  return stmt;
}

// Opens the rows: an array, or the one string of a download's lines.
static void begin_rows(row_shape shape) {
  if (shape == row_shape::arrays) {
    out_lit(",\"rows\":[");
    return;
  }
  out_lit(",\"lines\":\"");
  out_in_string(true);
}

static void end_rows(row_shape shape) {
  out_in_string(false);
  out_byte(shape == row_shape::arrays ? ']' : '"');
}

static void write_columns(sqlite3_stmt *stmt, int n, row_shape shape) {
  out_lit(",\"columns\":[");
  for (int i = 0; i < n; ++i) {
    if (i > 0) out_byte(',');
    out_lit("{\"name\":");
    json_str(sqlite3_column_name(stmt, i));
    out_lit(",\"decl\":");
    json_str(sqlite3_column_decltype(stmt, i));
    out_byte('}');
  }
  out_byte(']');
  begin_rows(shape);
}

// JSON has no non-finite numbers, so those go out as strings.
static void write_double(double value, value_form form) {
  if (std::isnan(value)) {
    out_lit("\"NaN\"");
  } else if (value > DBL_MAX || value < -DBL_MAX) {
    if (value > 0.0) {
      out_lit("\"Infinity\"");
    } else {
      out_lit("\"-Infinity\"");
    }
  } else {
    json_double(value, form);
  }
}

// Lower-case hex of `n` bytes, a chunk at a time.
static void write_hex(const unsigned char *bytes, int n) {
  static const char HEX_DIGITS[] = "0123456789abcdef";
  char hex[2 * HEX_CHUNK_BYTES];
  for (int done = 0; done < n;) {
    const int chunk = n - done < static_cast<int>(HEX_CHUNK_BYTES) ? n - done
                                                                   : static_cast<int>(HEX_CHUNK_BYTES);
    for (int i = 0; i < chunk; ++i) {
      hex[2 * i] = HEX_DIGITS[bytes[done + i] >> 4];
      hex[2 * i + 1] = HEX_DIGITS[bytes[done + i] & 0x0f];
    }
    out_bytes(hex, static_cast<std::size_t>(2 * chunk));
    done += chunk;
  }
}

// The size and the bytes in lower-case hex: all of them in the exact form
// up to EXACT_VALUE_BYTES, else the first BLOB_HEX_BYTES, with dots when
// the blob goes on.
static void write_blob(sqlite3_stmt *stmt, int k, value_form form) {
  const unsigned char *bytes = static_cast<const unsigned char *>(sqlite3_column_blob(stmt, k));
  const int length = sqlite3_column_bytes(stmt, k);
  const int limit = form == value_form::exact && length <= EXACT_VALUE_BYTES ? length : BLOB_HEX_BYTES;
  const int shown = length < limit ? length : limit;
  out_lit("{\"blob_bytes\":");
  json_int(length);
  out_lit(",\"hex\":\"");
  write_hex(bytes, shown);
  if (length > shown) {
    out_lit("...\"}");
  } else {
    out_lit("\"}");
  }
}

// How many of the first `limit` bytes of `text` end on a whole UTF-8
// character: a character is not split.
static int whole_characters(const unsigned char *text, int limit) {
  int n = limit;
  while (n > 0 && (text[n] & 0xc0) == 0x80) --n;
  return n;
}

// Text by its length, NUL bytes too. A text too long for its form is an
// object with its size and first bytes, as a blob is.
static void write_text(sqlite3_stmt *stmt, int k, value_form form) {
  const unsigned char *text = sqlite3_column_text(stmt, k);
  const int length = sqlite3_column_bytes(stmt, k);
  const char *chars = reinterpret_cast<const char *>(text != nullptr ? text : reinterpret_cast<const unsigned char *>(""));
  if (length <= (form == value_form::exact ? EXACT_VALUE_BYTES : PLAIN_TEXT_BYTES)) {
    json_text(chars, static_cast<std::size_t>(length), form);
    return;
  }
  out_lit("{\"text_bytes\":");
  json_int(length);
  out_lit(",\"text\":");
  json_text(chars, static_cast<std::size_t>(whole_characters(text, TEXT_HEAD_BYTES)), form);
  out_byte('}');
}

static void write_value(sqlite3_stmt *stmt, int k, int storage_class, value_form form) {
  switch (storage_class) {
    case SQLITE_INTEGER: json_int(sqlite3_column_int64(stmt, k)); break;
    case SQLITE_FLOAT: write_double(sqlite3_column_double(stmt, k), form); break;
    case SQLITE_TEXT: write_text(stmt, k, form); break;
    case SQLITE_BLOB: write_blob(stmt, k, form); break;
    default: out_lit("null"); break;
  }
}

/// True when the current row holds a text or blob longer than
/// COMPUTED_VALUE_BYTES that the statement computed: one that does not come
/// straight from a table's column. The connection lets values through up to
/// the size of the longest stored value it reads; a computed one stays held
/// to the old limit.
static bool has_computed_value_too_big(sqlite3_stmt *stmt, int n) {
  for (int k = 0; k < n; ++k) {
    const int storage_class = sqlite3_column_type(stmt, k);
    if (storage_class != SQLITE_TEXT && storage_class != SQLITE_BLOB) continue;
    if (sqlite3_column_bytes(stmt, k) > COMPUTED_VALUE_BYTES &&
        sqlite3_column_table_name(stmt, k) == nullptr) {
      return true;
    }
  }
  return false;
}

static const char *storage_class_name(int storage_class) {
  switch (storage_class) {
    case SQLITE_INTEGER: return "int";
    case SQLITE_FLOAT: return "float";
    case SQLITE_TEXT: return "text";
    case SQLITE_BLOB: return "blob";
    default: return "null";
  }
}

using type_slots = char[MAX_TYPED_COLUMNS][TYPE_NAME_CAP];

struct row_stream_end {
  int step_rc;   // the result of the last sqlite3_step
  int rows;      // rows written; the last may be short when `stopped`
  bool capped;   // a row beyond MAX_ROWS was produced and left out
  bool stopped;  // the deadline passed while rows were written
  bool too_big;  // a row held a computed value over COMPUTED_VALUE_BYTES
};

// How far one run has come: the end written after a hard stop depends on it.
enum class query_phase { opening, compiling, streaming };

// One run of the action. It lives in action_query's frame, so that the end
// of the response can still be written when the watchdog abandons the run.
struct query_run {
  const char *path;
  const char *sql;
  value_form form;
  row_shape shape;
  bool has_computed;  // a result column does not come straight from a table
  budget_state budget;
  query_phase phase;
  long long start_ms;  // just before compiling
  int n;               // result columns
  row_stream_end end;
  type_slots types;
  // For a JSON line: 0 for a column whose name is the first of its kind,
  // else its place among the columns of that name (2, 3, ...).
  unsigned short key_number[KEYED_COLUMNS];
};

/// Records the storage class of each of the first MAX_TYPED_COLUMNS values
/// of the current row.
static void record_types(sqlite3_stmt *stmt, int n, type_slots *types) {
  for (int k = 0; k < n && k < MAX_TYPED_COLUMNS; ++k) {
    copy_str((*types)[k], TYPE_NAME_CAP, storage_class_name(sqlite3_column_type(stmt, k)));
  }
}

// A CSV field: quoted when it holds a quote, a comma or a line break, with
// its quotes doubled.
static void write_csv_text(const char *text, int length) {
  const char *end = text + length;
  bool quoted = false;
  for (const char *p = text; p < end && !quoted; ++p) {
    quoted = *p == '"' || *p == ',' || *p == '\n' || *p == '\r';
  }
  if (!quoted) {
    out_bytes(text, static_cast<std::size_t>(length));
    return;
  }
  out_byte('"');
  for (const char *p = text; p < end;) {
    const char *quote = static_cast<const char *>(std::memchr(p, '"', static_cast<std::size_t>(end - p)));
    const char *stop = quote != nullptr ? quote + 1 : end;
    out_bytes(p, static_cast<std::size_t>(stop - p));
    if (quote != nullptr) out_byte('"');
    p = stop;
  }
  out_byte('"');
}

// A value as a CSV field, exactly: nothing for NULL, a real that reads back
// as the same double, text as it is, a blob as all its bytes in hex.
static void write_csv_value(sqlite3_stmt *stmt, int k) {
  switch (sqlite3_column_type(stmt, k)) {
    case SQLITE_INTEGER: json_int(sqlite3_column_int64(stmt, k)); break;
    case SQLITE_FLOAT: {
      const double value = sqlite3_column_double(stmt, k);
      if (value > DBL_MAX) {
        out_lit("Infinity");
      } else if (value < -DBL_MAX) {
        out_lit("-Infinity");
      } else {
        json_double(value, value_form::exact);
      }
      break;
    }
    case SQLITE_TEXT: {
      const unsigned char *text = sqlite3_column_text(stmt, k);
      write_csv_text(reinterpret_cast<const char *>(text != nullptr ? text : reinterpret_cast<const unsigned char *>("")),
                     sqlite3_column_bytes(stmt, k));
      break;
    }
    case SQLITE_BLOB: {
      const unsigned char *bytes = static_cast<const unsigned char *>(sqlite3_column_blob(stmt, k));
      write_hex(bytes, sqlite3_column_bytes(stmt, k));
      break;
    }
    default: break;
  }
}

// The key of column k in a JSON line: its name, with ":2", ":3"... after a
// name that an earlier column has too.
static void write_key(sqlite3_stmt *stmt, int k, const query_run &run) {
  const char *name = sqlite3_column_name(stmt, k);
  if (name == nullptr) name = "";
  out_byte('"');
  json_chars(name, std::strlen(name), value_form::exact);
  if (k < KEYED_COLUMNS && run.key_number[k] > 0) {
    out_byte(':');
    json_int(run.key_number[k]);
  }
  out_lit("\":");
}

/// Writes the current row in the run's shape: a JSON array, a CSV line, or
/// a JSON object of the column keys. Returns false when the deadline
/// passed between two values: the row then ends where it stopped.
static bool write_row(sqlite3_stmt *stmt, const query_run &run) {
  static const char OPENING[] = {'[', '\0', '{'};
  static const char CLOSING[] = {']', '\n', '}'};
  const int shape = static_cast<int>(run.shape);
  if (OPENING[shape] != '\0') out_byte(OPENING[shape]);
  bool whole = true;
  for (int k = 0; k < run.n; ++k) {
    // A row of many large values takes long to write: check between them.
    if (k > 0 && budget_expired(run.budget)) {
      whole = false;
      break;
    }
    if (k > 0) out_byte(',');
    if (run.shape == row_shape::csv_lines) {
      write_csv_value(stmt, k);
      continue;
    }
    if (run.shape == row_shape::json_lines) write_key(stmt, k, run);
    write_value(stmt, k, sqlite3_column_type(stmt, k), run.form);
  }
  out_byte(CLOSING[shape]);
  return whole;
}

// Between two rows: a comma between arrays, a comma and a line break
// between JSON lines; a CSV line has ended with its own line break.
static void write_row_separator(row_shape shape) {
  if (shape == row_shape::arrays) out_byte(',');
  if (shape == row_shape::json_lines) out_lit(",\n");
}

/// Steps the statement and writes each row as it comes, the first row's
/// storage classes into the run's type slots. Stops at the first result that
/// is not a row, when a row beyond MAX_ROWS is produced, or when the
/// deadline has passed.
static void stream_rows(sqlite3_stmt *stmt, query_run *run) {
  row_stream_end &end = run->end;
  const bool download = run->shape != row_shape::arrays;
  const int cap = download ? DOWNLOAD_ROWS : MAX_ROWS;
  const long long slice_end = run->start_ms + DOWNLOAD_SLICE_MS;
  for (;;) {
    if (budget_expired(run->budget)) {
      end.stopped = true;
      break;
    }
    end.step_rc = inside_sqlite([&] { return sqlite3_step(stmt); });
    if (end.step_rc != SQLITE_ROW) break;
    if (end.rows == cap || (download && end.rows > 0 && plat_ticks_ms() >= slice_end)) {
      end.capped = true;
      break;
    }
    if (run->has_computed && has_computed_value_too_big(stmt, run->n)) {
      end.too_big = true;
      break;
    }
    if (end.rows == 0) record_types(stmt, run->n, &run->types);
    if (end.rows > 0) write_row_separator(run->shape);
    const bool whole = write_row(stmt, *run);
    ++end.rows;
    if (!whole) {
      end.stopped = true;
      break;
    }
  }
}

static void write_closing_fields(const row_stream_end &end, bool truncated, long long ms,
                                 bool aborted, const query_run &run) {
  const int n = run.n;
  const type_slots &types = run.types;
  end_rows(run.shape);
  out_lit(",\"row_count\":");
  json_int(end.rows);
  out_lit(",\"truncated\":");
  json_bool(truncated);
  out_lit(",\"limit\":");
  json_int(run.shape == row_shape::arrays ? MAX_ROWS : DOWNLOAD_ROWS);
  out_lit(",\"ms\":");
  json_int(ms);
  out_lit(",\"aborted\":");
  json_bool(aborted);
  out_lit(",\"types\":[");
  if (end.rows > 0) {
    for (int k = 0; k < n && k < MAX_TYPED_COLUMNS; ++k) {
      if (k > 0) out_byte(',');
      json_str(types[k]);
    }
  }
  out_lit("]}\n");
}

// A statement that failed while stepping: the rows already written stay,
// the counts are left out.
static void write_error_tail(const char *message, bool aborted, row_shape shape) {
  end_rows(shape);
  out_lit(",\"error\":");
  json_str(message != nullptr ? message : "statement failed");
  out_lit(",\"aborted\":");
  json_bool(aborted);
  out_lit("}\n");
}

// Fills the run's key numbers: the second column named "a" is "a:2".
static void number_repeated_names(sqlite3_stmt *stmt, query_run *run) {
  for (int k = 0; k < run->n && k < KEYED_COLUMNS; ++k) {
    const char *name = sqlite3_column_name(stmt, k);
    int same = 1;
    for (int j = 0; j < k; ++j) {
      const char *earlier = sqlite3_column_name(stmt, j);
      if (name != nullptr && earlier != nullptr && std::strcmp(name, earlier) == 0) ++same;
    }
    run->key_number[k] = static_cast<unsigned short>(same > 1 ? same : 0);
  }
}

/// Writes the success document of the compiled `stmt`, from the header
/// block to the closing fields or the error tail.
static void write_result(sqlite3 *db, sqlite3_stmt *stmt, query_run *run) {
  run->n = sqlite3_column_count(stmt);
  for (int k = 0; k < run->n; ++k) {
    if (sqlite3_column_table_name(stmt, k) == nullptr) run->has_computed = true;
  }
  if (run->shape == row_shape::json_lines) number_repeated_names(stmt, run);
  run->phase = query_phase::streaming;
  json_header();
  out_lit("{\"ok\":true,\"action\":\"query\",\"readonly\":true,\"db\":");
  json_str(run->path);
  write_columns(stmt, run->n, run->shape);
  stream_rows(stmt, run);
  const row_stream_end &end = run->end;
  // Only the budget interrupts a statement: by the progress handler, by the
  // watchdog, or by the row writer's own check.
  const bool aborted = run->budget.aborted != 0 || end.step_rc == SQLITE_INTERRUPT || end.stopped;
  if (end.capped || aborted) {
    write_closing_fields(end, true, plat_ticks_ms() - run->start_ms, aborted, *run);
  } else if (end.step_rc == SQLITE_DONE) {
    write_closing_fields(end, false, plat_ticks_ms() - run->start_ms, false, *run);
  } else if (end.too_big) {
    write_error_tail(sqlite3_errstr(SQLITE_TOOBIG), false, run->shape);
  } else {
    write_error_tail(sqlite3_errmsg(db), false, run->shape);
  }
}

// The part of the run that the watchdog may abandon.
static void run_statement(void *arg) {
  query_run *run = static_cast<query_run *>(arg);
  sqlite3 *conn = open_or_refuse(run->path, &run->budget);
  if (conn == nullptr) return;
  run->phase = query_phase::compiling;
  // The clock starts just before compiling, a moment after the budget was
  // armed, so a statement that the budget stops reports about BUDGET_MS.
  run->start_ms = plat_ticks_ms();
  const char *code = "";
  char detail[MESSAGE_CAP];
  sqlite3_stmt *stmt = compile_one_statement(conn, run->sql, &code, detail);
  if (stmt == nullptr) {
    sqlite3_close(conn);
    json_error(code, detail);
    return;
  }
  write_result(conn, stmt, run);
  sqlite3_finalize(stmt);
  sqlite3_close(conn);
}

// The end of the response when the watchdog abandoned a call into SQLite
// that outlived the budget. Only the response is finished: the connection
// is left as it is, and the process ends without unwinding.
[[noreturn]] static void finish_after_hard_stop(const query_run &run) {
  switch (run.phase) {
    case query_phase::opening: refuse_open_after_hard_stop(); break;
    case query_phase::compiling: json_error("sql_error", sqlite3_errstr(SQLITE_INTERRUPT)); break;
    case query_phase::streaming:
      write_closing_fields(run.end, true, plat_ticks_ms() - run.start_ms, true, run);
      break;
  }
  plat_exit_now(0);
}

void action_query(const char *db, const char *sql, value_form form, row_shape shape) {
  if (sql[0] == '\0') {
    json_error("missing_sql", "pass ?sql=SELECT ... or POST sql=...");
    return;
  }
  char path[PATH_CAP];
  if (!resolve_or_refuse(db, path)) return;
  if (!starts_with_reading_keyword(sql)) {
    json_error("read_only", READ_ONLY_DETAIL);
    return;
  }
  query_run run{path,
                sql,
                shape == row_shape::arrays ? form : value_form::exact,
                shape,
                false,
                budget_state{},
                query_phase::opening,
                0,
                0,
                row_stream_end{SQLITE_OK, 0, false, false, false},
                {},
                {}};
  budget_start(&run.budget);
  if (!plat_run_cuttable(run_statement, &run)) finish_after_hard_stop(run);
}
