// Which database paths may be opened, and the guarded read-only connection
// that every statement of a request runs on.
#pragma once

#include <cstddef>

struct sqlite3;

constexpr std::size_t PATH_CAP = 4096;  // at most 4095 bytes of path
constexpr std::size_t LABEL_CAP = 32;
constexpr int MAX_ROOTS = 8;

constexpr int BUDGET_MS = 2000;         // wall-clock budget of one action
constexpr int PROGRESS_OPS = 20000;     // VM steps between budget checks
constexpr std::size_t IDENT_CAP = 516;  // room for quote_ident's result

struct root_entry {
  char path[PATH_CAP];    // as configured, not canonicalised
  char label[LABEL_CAP];  // "allowed" or "home"
  int exists;             // 1 when `path` named a directory at collection
};

/// Fills `table` (MAX_ROOTS entries, zero-filled first) from
/// SQLITE_ALLOWED_ROOT ("allowed") and HOME, else USERPROFILE ("home").
/// Returns the number of entries filled, 0 to 2.
int collect_roots(root_entry *table);

/// True when `path` (a canonical absolute path) lies inside `root`, the
/// root's path as configured: trailing separators ignored, component
/// boundaries respected, names compared as the file system compares them,
/// a root of "/" containing every absolute path.
bool root_contains(const char *root, const char *path);

/// True when the text from the last "." of `name` is ".db", ".db3",
/// ".sqlite" or ".sqlite3", ASCII letter case ignored.
bool has_db_extension(const char *name);

/// The single gate for a requested database path. Returns 1 and writes the
/// path to open into `out` (PATH_CAP bytes) when it is accepted; 0 when it
/// is refused; -1 when it lies inside an existing root but does not exist.
/// A path whose real location (links followed) leaves its root is refused,
/// and so is a file with more than one hard link.
int resolve_db_path(const char *requested, char *out);

/// True when the real location of `path` (links followed) lies inside the
/// real location of `root`. Used for every path that is opened or listed.
bool real_location_inside(const char *root, const char *path);

/// Opens `path` read-only with the connection's hardening; its limits come
/// with guard_connection, after the probe.
/// Returns the connection, or null with SQLite's result code in `*rc`
/// (`*rc` is 0 on success).
sqlite3 *open_ro(const char *path, int *rc);

/// Reads the schema of the open file: SQLITE_OK when it is a SQLite
/// database, else the result code that stopped the read (SQLITE_NOTADB for
/// a file that is not a database, SQLITE_BUSY for a lock held past the
/// budget, ...). Leaves no statement open. Runs before the authorizer is
/// installed.
int probe_database(sqlite3 *db);

/// 1 when probe_database finds a SQLite database, else 0.
int is_database(sqlite3 *db);

/// Admits only reading: SELECT, READ, RECURSIVE, functions other than
/// extension loading and the tokenizer hook, a fixed list of PRAGMAs, and
/// the compiling of an R-Tree's statements on its own shadow tables.
/// Returns SQLITE_OK or SQLITE_DENY.
int authorizer_cb(void *user_data, int action, const char *first, const char *second,
                  const char *db_name, const char *trigger);

struct budget_state {
  long long deadline;  // monotonic ms after which statements are interrupted
  int aborted;         // set to 1 by progress_cb when it interrupts
};

/// Returns 1 (interrupt) once the clock is strictly past the deadline and
/// marks the state aborted; else 0. A null state never interrupts.
int progress_cb(void *state);

/// Installs the progress handler with `budget` and a busy handler that
/// waits for a writer's lock while the budget's deadline has not passed.
/// `budget` must outlive the connection's last statement.
void watch_budget(sqlite3 *db, budget_state *budget);

/// Called after the probe: applies the limits on statements and values and
/// installs the authorizer.
void guard_statements(sqlite3 *db);

/// Called after the probe: guard_statements, then arms `budget` (deadline
/// now + BUDGET_MS) with watch_budget on `db`. `budget` must outlive the
/// connection's last statement.
void guard_connection(sqlite3 *db, budget_state *budget);

/// Writes `name` as a double-quoted SQL identifier into `out` (IDENT_CAP
/// bytes), doubling inner quotes; at most 512 name bytes are taken, and a
/// doubled quote is never split. A null name gives "".
void quote_ident(const char *name, char *out);
