#include "db_guard.h"

#include <sqlite3.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "budget.h"
#include "guarded_vfs.h"
#include "heap_bound.h"
#include "page_cache.h"
#include "platform/platform.h"
#include "request.h"

// ---------------------------------------------------------------------------
// Allowlisted roots and path resolution

static bool is_directory(const char *path) {
  plat_status st{};
  return plat_stat(path, &st) && st.kind == PLAT_DIR;
}

static const char *home_dir() {
  const char *home = plat_getenv("HOME");
  if (home != nullptr && home[0] != '\0') return home;
  const char *profile = plat_getenv("USERPROFILE");
  return profile != nullptr && profile[0] != '\0' ? profile : nullptr;
}

static void fill_root(root_entry *entry, const char *path, const char *label) {
  copy_str(entry->path, PATH_CAP, path);
  copy_str(entry->label, LABEL_CAP, label);
  entry->exists = is_directory(entry->path) ? 1 : 0;
}

int collect_roots(root_entry *table) {
  const char *allowed = plat_getenv("SQLITE_ALLOWED_ROOT");
  const char *home = home_dir();
  std::memset(table, 0, sizeof(root_entry) * MAX_ROOTS);
  int count = 0;
  if (allowed != nullptr && allowed[0] != '\0') fill_root(&table[count++], allowed, "allowed");
  if (home != nullptr) fill_root(&table[count++], home, "home");
  return count;
}

bool root_contains(const char *root, const char *path) {
  std::size_t n = std::strlen(root);
  while (n > 1 && plat_is_separator(root[n - 1])) --n;
  // A root that is a lone separator holds every path that starts with one.
  if (n == 1 && plat_is_separator(root[0])) return plat_is_separator(path[0]);
  if (std::strlen(path) < n) return false;
  return (path[n] == '\0' || plat_is_separator(path[n])) && plat_same_path_prefix(root, path, n);
}

// Writes the real location of `path` (links followed) to `real_path` and
// tells whether it lies inside the real location of `root`.
static bool real_path_inside(const char *root, const char *path, char *real_path) {
  char real_root[PATH_CAP];
  return plat_realpath(real_root, root, PATH_CAP) != nullptr &&
         plat_realpath(real_path, path, PATH_CAP) != nullptr && root_contains(real_root, real_path);
}

bool real_location_inside(const char *root, const char *path) {
  char real_path[PATH_CAP];
  return real_path_inside(root, path, real_path);
}

static bool is_separator(char c) { return c == '/' || c == '\\'; }

// True when the text holds a ".." component, "/" and "\" both separating.
static bool has_parent_component(const char *s) {
  for (const char *p = s; (p = std::strstr(p, "..")) != nullptr; ++p) {
    const bool starts = p == s || is_separator(p[-1]);
    const bool ends = p[2] == '\0' || is_separator(p[2]);
    if (starts && ends) return true;
  }
  return false;
}

// What tolower does in the "C" locale the program runs in, without a
// library call per byte: discovery tests the extension of every name it
// meets, and the calls were most of its work.
static char fold_ascii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

static bool equals_ci(const char *a, const char *b) {
  for (; *a && *b; ++a, ++b) {
    if (fold_ascii(*a) != fold_ascii(*b)) return false;
  }
  return *a == *b;
}

bool has_db_extension(const char *name) {
  const char *dot = std::strrchr(name, '.');
  if (dot == nullptr) return false;
  // The letter after the dot turns most names away after one test.
  switch (fold_ascii(dot[1])) {
    case 'd': return equals_ci(dot, ".db") || equals_ci(dot, ".db3");
    case 's': return equals_ci(dot, ".sqlite") || equals_ci(dot, ".sqlite3");
    default: return false;
  }
}

// The final component, after the last "/" or "\", must carry a database
// extension whose dot is not its first byte.
static bool final_component_is_database(const char *s) {
  const std::size_t len = std::strlen(s);
  if (len == 0 || is_separator(s[len - 1])) return false;
  const char *name = s;
  for (const char *p = s; *p; ++p) {
    if (is_separator(*p)) name = p + 1;
  }
  return std::strrchr(name, '.') != name && has_db_extension(name);
}

// The textual rules that refuse a requested path before it is resolved.
static bool acceptable_text(const char *s) {
  const std::size_t len = std::strlen(s);
  return len > 3 && len < PATH_CAP && !ci_prefix(s, "file:") && std::strstr(s, "://") == nullptr &&
         std::strpbrk(s, "?#") == nullptr && !has_parent_component(s) &&
         final_component_is_database(s);
}

static bool is_absolute(const char *s) {
  return s[0] == '/' || (std::isalpha(static_cast<unsigned char>(s[0])) && s[1] == ':');
}

// Makes `requested` absolute in `out`: relative paths are taken from the
// home directory. False when a relative path has no home to join.
static bool make_absolute(const char *requested, char *out) {
  if (is_absolute(requested)) {
    copy_str(out, PATH_CAP, requested);
    return true;
  }
  const char *home = home_dir();
  if (home == nullptr) return false;
  std::snprintf(out, PATH_CAP, "%s/%s", home, requested);
  return true;
}

// The first existing root that contains `canonical` decides.
static int resolve_in_roots(const char *canonical, char *out) {
  root_entry roots[MAX_ROOTS];
  const int count = collect_roots(roots);
  for (int i = 0; i < count; ++i) {
    if (!roots[i].exists || !root_contains(roots[i].path, canonical)) continue;
    plat_status st{};
    if (!plat_stat(canonical, &st)) return -1;
    // A second hard link may name a file that lives outside every root.
    if (st.kind != PLAT_FILE || st.links != 1) return 0;
    // What is opened is the file's real location, and it must stay inside
    // the root's real location: a link may not lead out of the root.
    char real_path[PATH_CAP];
    if (!real_path_inside(roots[i].path, canonical, real_path)) return 0;
    copy_str(out, PATH_CAP, real_path);
    return 1;
  }
  return 0;
}

int resolve_db_path(const char *requested, char *out) {
  if (!acceptable_text(requested)) return 0;
  char absolute[PATH_CAP];
  char canonical[PATH_CAP];
  if (!make_absolute(requested, absolute)) return 0;
  if (plat_fullpath(canonical, absolute, PATH_CAP) == nullptr) return 0;
  return resolve_in_roots(canonical, out);
}

// ---------------------------------------------------------------------------
// The read-only connection

// NOFOLLOW: the path handed in is a real location with no link in it; should
// its last name have become a link since it was checked, the open fails.
constexpr int OPEN_FLAGS = SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW;
// The longest text or blob a statement may hold. Stored values up to this
// are read, so that one large value does not hide its row (the query action
// writes it as an object); what a statement computes is held to a tighter
// bound by the query action itself.
constexpr int MAX_VALUE_BYTES = 32 * 1024 * 1024;
constexpr int MAX_SQL_BYTES = 16384;
constexpr int BUSY_TIMEOUT_MS = 500;

// Tighter limits for untrusted SQL, each still far above what a reading
// statement written by a person needs.
constexpr int MAX_EXPR_DEPTH = 100;
constexpr int MAX_COMPOUND_SELECT = 50;
constexpr int MAX_VDBE_OPS = 25000;
constexpr int MAX_LIKE_PATTERN_BYTES = 1000;

// Applied once the probe has read the schema: SQLite holds the schema's
// own statements to the limits on length, depth and value size too, and
// long or deep ones (a trigger that checks data, a view over many tables)
// are ordinary in users' databases.
static void apply_limits(sqlite3 *db) {
  sqlite3_limit(db, SQLITE_LIMIT_ATTACHED, 0);
  sqlite3_limit(db, SQLITE_LIMIT_LENGTH, MAX_VALUE_BYTES);
  sqlite3_limit(db, SQLITE_LIMIT_SQL_LENGTH, MAX_SQL_BYTES);
  sqlite3_limit(db, SQLITE_LIMIT_EXPR_DEPTH, MAX_EXPR_DEPTH);
  sqlite3_limit(db, SQLITE_LIMIT_COMPOUND_SELECT, MAX_COMPOUND_SELECT);
  sqlite3_limit(db, SQLITE_LIMIT_VDBE_OP, MAX_VDBE_OPS);
  sqlite3_limit(db, SQLITE_LIMIT_LIKE_PATTERN_LENGTH, MAX_LIKE_PATTERN_BYTES);
}

// Defences for untrusted SQL on a file of unknown origin. The settings
// statements run here, before the authorizer exists to refuse them.
// Temporary storage needs no setting: the library is built to keep it in
// memory.
static void harden(sqlite3 *db) {
  sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
  sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, nullptr);
  sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_FTS3_TOKENIZER, 0, nullptr);
  sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, nullptr);
  // Closing the last connection to a WAL database would checkpoint it.
  sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  sqlite3_exec(db, "PRAGMA cell_size_check=ON;PRAGMA mmap_size=0", nullptr, nullptr, nullptr);
}

constexpr std::size_t HEADER_BYTES = 20;
constexpr std::size_t WAL_FLAG_AT = 19;  // header byte SQLite reads to choose WAL
constexpr unsigned char WAL_FORMAT = 2;

// True for a file that SQLite can only read correctly, without touching
// side files, when it is opened as immutable:
// - a database that SQLite would read in WAL mode while nobody is writing
//   it: header byte 19 is 2 (SQLite's own test, whatever byte 18 says) and
//   no -wal file stands beside it;
// - an empty file: SQLite deletes a -wal file that stands beside a database
//   of zero pages, even on a read-only connection.
static bool reads_as_immutable(const char *path) {
  unsigned char header[HEADER_BYTES];
  const long n = plat_read_head(path, header, HEADER_BYTES);
  if (n == 0) return true;
  if (n != static_cast<long>(HEADER_BYTES)) return false;
  if (std::memcmp(header, "SQLite format 3", 16) != 0 || header[WAL_FLAG_AT] != WAL_FORMAT) {
    return false;
  }
  char wal[PATH_CAP + 4];
  std::snprintf(wal, sizeof wal, "%s-wal", path);
  plat_status st{};
  return !plat_stat(wal, &st);
}

// Bytes that stand for themselves in the path of a "file:" URI; every other
// byte ("?", "#", "%", "&", "=" and the rest) is written as "%HH", so the
// path always names itself and can carry no parameter.
static bool uri_plain(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' ||
         c == '.' || c == '-' || c == '_';
}

// "file:" + `path` escaped + "?immutable=1".
constexpr std::size_t URI_CAP = 5 + 3 * PATH_CAP + 12;
static void immutable_uri(const char *path, char *uri) {
  static const char HEX_DIGITS[] = "0123456789ABCDEF";
  std::size_t n = 0;
  std::memcpy(uri, "file:", 5);
  n += 5;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(path); *p; ++p) {
    if (uri_plain(static_cast<char>(*p))) {
      uri[n++] = static_cast<char>(*p);
    } else {
      uri[n++] = '%';
      uri[n++] = HEX_DIGITS[*p >> 4];
      uri[n++] = HEX_DIGITS[*p & 0x0f];
    }
  }
  copy_str(uri + n, URI_CAP - n, "?immutable=1");
}

// A database whose header says WAL but that has no -wal file beside it
// would make SQLite create one; every committed page is in the main file,
// so it is read as immutable: no lock, no side file. An empty file is read
// as immutable too, since SQLite removes a -wal file beside a database of
// no pages. Every other database goes through the guarded file layer,
// which reads a leftover log without touching the files beside it and
// shares the -wal and -shm of a database another program is writing.
static int open_read_only(const char *path, const char *vfs, sqlite3 **db) {
  if (!reads_as_immutable(path)) return sqlite3_open_v2(path, db, OPEN_FLAGS, vfs);
  char uri[URI_CAP];
  immutable_uri(path, uri);
  return sqlite3_open_v2(uri, db, OPEN_FLAGS | SQLITE_OPEN_URI, vfs);
}

// Replaces the system calls of SQLite's file layer by the platform's guarded
// ones (see plat_sqlite_syscalls). False when any of them could not be
// installed: then no database may be opened. Installed again before every
// open, so that nothing in the process that gave SQLite back its own calls
// (a test's fixture writer) leaves an open unguarded.
static bool guard_sqlite_files() {
  sqlite3_vfs *vfs = sqlite3_vfs_find(plat_sqlite_vfs_name());
  if (vfs == nullptr || vfs->iVersion < 3 || vfs->xSetSystemCall == nullptr) return false;
  for (const plat_sqlite_syscall *call = plat_sqlite_syscalls(); call->name; ++call) {
    if (vfs->xSetSystemCall(vfs, call->name, call->call) != SQLITE_OK) return false;
  }
  return true;
}

sqlite3 *open_ro(const char *path, int *rc) {
  *rc = 0;
  // The first open is where SQLite starts in this program, so the page
  // cache and the bound on its memory are put in place here, once.
  install_page_cache();
  // One request may not take the node's memory: past the bound, SQLite
  // fails the statement with its out-of-memory error. The bound counts what
  // the memory costs the process; the heap limit, which counts only the
  // bytes SQLite asked for, stays for a process where SQLite started before
  // the bound could be put in place.
  install_heap_bound();
  sqlite3_hard_heap_limit64(HEAP_BOUND_BYTES);
  const char *vfs = guarded_vfs_name();
  if (vfs == nullptr || !guard_sqlite_files()) {
    *rc = SQLITE_CANTOPEN;
    return nullptr;
  }
  sqlite3 *db = nullptr;
  const int opened = open_read_only(path, vfs, &db);
  if (opened != SQLITE_OK) {
    if (db != nullptr) sqlite3_close(db);
    *rc = opened;
    return nullptr;
  }
  sqlite3_extended_result_codes(db, 1);
  sqlite3_busy_timeout(db, BUSY_TIMEOUT_MS);
  harden(db);
  return db;
}

int probe_database(sqlite3 *db) {
  sqlite3_stmt *stmt = nullptr;
  const int prepared =
      sqlite3_prepare_v2(db, "SELECT count(*) FROM sqlite_master", -1, &stmt, nullptr);
  if (prepared != SQLITE_OK) {
    sqlite3_finalize(stmt);
    return prepared;
  }
  const int step = sqlite3_step(stmt);
  sqlite3_finalize(stmt);
  return step == SQLITE_ROW || step == SQLITE_DONE ? SQLITE_OK : step;
}

int is_database(sqlite3 *db) { return probe_database(db) == SQLITE_OK ? 1 : 0; }

// The PRAGMAs a request may run: all of them only read. The same names
// serve the pragma table functions (pragma_table_info('t') and the like).
// FTS3/FTS4 ask for page_size when a table connects, and FTS5 reads
// data_version, a change counter, before it trusts what it has cached.
static const char *const READ_PRAGMAS[] = {
    "table_info",  "table_xinfo",      "index_list",     "index_info",
    "index_xinfo", "foreign_key_list", "database_list",  "collation_list",
    "page_count",  "page_size",        "freelist_count", "compile_options",
    "quick_check", "integrity_check",  "table_list",     "data_version",
    nullptr};

static bool is_read_pragma(const char *name) {
  for (const char *const *ok = READ_PRAGMAS; *ok; ++ok) {
    if (equals_ci(name, *ok)) return true;
  }
  return false;
}

// Functions that reach outside SQL: loading code, and installing a
// full-text tokenizer at an arbitrary address (its one-argument form leaks
// a code address).
static bool is_denied_function(const char *name) {
  return equals_ci(name, "load_extension") || equals_ci(name, "fts3_tokenizer");
}

static bool ends_with(const char *name, const char *suffix) {
  const std::size_t n = std::strlen(name);
  const std::size_t k = std::strlen(suffix);
  return n > k && std::strcmp(name + n - k, suffix) == 0;
}

// An R-Tree table, when it connects, compiles all the statements it would
// ever write its shadow tables <name>_node, _rowid and _parent with; it
// runs them only for a write to the R-Tree itself, which is refused. The
// admission is for compiling only: a request's statement that writes is
// refused by the read-only check after it compiles, these shadow tables
// may not be written by SQL at all (defensive mode), and the file is open
// read-only.
static bool is_rtree_shadow_table(const char *name) {
  return name != nullptr &&
         (ends_with(name, "_node") || ends_with(name, "_rowid") || ends_with(name, "_parent"));
}

int authorizer_cb(void *, int action, const char *first, const char *second, const char *,
                  const char *) {
  switch (action) {
    case SQLITE_PRAGMA: return first != nullptr && is_read_pragma(first) ? SQLITE_OK : SQLITE_DENY;
    case SQLITE_READ:
    case SQLITE_SELECT:
    case SQLITE_RECURSIVE: return SQLITE_OK;
    case SQLITE_FUNCTION:
      return second != nullptr && is_denied_function(second) ? SQLITE_DENY : SQLITE_OK;
    case SQLITE_INSERT:
    case SQLITE_UPDATE:
    case SQLITE_DELETE: return is_rtree_shadow_table(first) ? SQLITE_OK : SQLITE_DENY;
    default: return SQLITE_DENY;
  }
}

int progress_cb(void *state) {
  if (state == nullptr) return 0;
  budget_state *budget = static_cast<budget_state *>(state);
  if (plat_ticks_ms() <= budget->deadline) return 0;
  budget->aborted = 1;
  return 1;
}

// Waits for a lock a writer holds, a millisecond at a time, for as long as
// the budget lasts: a short poll finds the gaps between a busy writer's
// transactions.
static int wait_within_budget(void *state, int) {
  budget_state *budget = static_cast<budget_state *>(state);
  budget_note_lock_wait();
  if (plat_ticks_ms() >= budget->deadline) return 0;
  sqlite3_sleep(1);
  return 1;
}

void watch_budget(sqlite3 *db, budget_state *budget) {
  sqlite3_progress_handler(db, PROGRESS_OPS, progress_cb, budget);
  sqlite3_busy_handler(db, wait_within_budget, budget);
}

void guard_statements(sqlite3 *db) {
  apply_limits(db);
  sqlite3_set_authorizer(db, authorizer_cb, nullptr);
}

void guard_connection(sqlite3 *db, budget_state *budget) {
  guard_statements(db);
  budget->deadline = plat_ticks_ms() + BUDGET_MS;
  budget->aborted = 0;
  watch_budget(db, budget);
}

void quote_ident(const char *name, char *out) {
  constexpr std::size_t LAST_NAME_POS = IDENT_CAP - 4;  // 512: room for "" and a NUL
  std::size_t pos = 0;
  out[pos++] = '"';
  for (const char *p = name ? name : ""; *p && pos <= LAST_NAME_POS; ++p) {
    if (*p == '"') out[pos++] = '"';
    out[pos++] = *p;
  }
  out[pos++] = '"';
  out[pos] = '\0';
}
