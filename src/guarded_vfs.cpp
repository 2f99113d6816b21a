#include "guarded_vfs.h"

#include <sqlite3.h>

#include <cstdio>

#include "budget.h"
#include "db_guard.h"
#include "platform/platform.h"

namespace {

constexpr char VFS_NAME[] = "plugin_sqlite";

// A request opens one database; the tests open a few at a time in one
// process. A database file beyond this many open at once shares its -shm
// as usual.
constexpr int MAX_WATCHED = 8;

enum class log_index { undecided, shared, in_private };

// A database file opened through this layer, with where its log's index
// lives. `name` is SQLite's, valid until the file is closed.
struct watched_file {
  sqlite3_file *file;
  const char *name;
  log_index index;
};

watched_file g_watched[MAX_WATCHED];
sqlite3_vfs *g_base = nullptr;
sqlite3_vfs g_vfs;
// The base layer's methods for a database file, and the same with the
// shared-memory methods and xClose replaced.
const sqlite3_io_methods *g_base_methods = nullptr;
sqlite3_io_methods g_methods;

watched_file *watched(sqlite3_file *file) {
  for (watched_file &w : g_watched) {
    if (w.file == file) return &w;
  }
  return nullptr;
}

// True when the log of `file` is indexed in private memory. Decided at the
// first use of the index, just before SQLite would open the -shm file: a
// program that has the database open holds a lock on the -shm file's
// "dead man" byte, and without one the -shm file (if there is one at all)
// is a leftover that SQLite would rewrite.
bool in_private(sqlite3_file *file) {
  watched_file *w = watched(file);
  if (w == nullptr) return false;
  if (w->index == log_index::undecided) {
    char shm[PATH_CAP + 8];
    std::snprintf(shm, sizeof shm, "%s-shm", w->name);
    w->index = plat_shm_in_use(shm) ? log_index::shared : log_index::in_private;
  }
  return w->index == log_index::in_private;
}

// SQLITE_READONLY_CANTINIT tells SQLite that no shared index can be
// trusted: it then reads the whole log into an index in its own memory
// and checks it against the -wal file at every read transaction.
int shm_map(sqlite3_file *file, int page, int page_bytes, int extend, void volatile **out) {
  if (in_private(file)) {
    *out = nullptr;
    return SQLITE_READONLY_CANTINIT;
  }
  return g_base_methods->xShmMap(file, page, page_bytes, extend, out);
}

// The locks of a private index guard nothing another process could see.
int shm_lock(sqlite3_file *file, int offset, int n, int flags) {
  if (in_private(file)) return SQLITE_OK;
  return g_base_methods->xShmLock(file, offset, n, flags);
}

void shm_barrier(sqlite3_file *file) {
  if (!in_private(file)) g_base_methods->xShmBarrier(file);
}

int shm_unmap(sqlite3_file *file, int delete_flag) {
  if (in_private(file)) return SQLITE_OK;
  return g_base_methods->xShmUnmap(file, delete_flag);
}

int close_file(sqlite3_file *file) {
  if (watched_file *w = watched(file)) *w = watched_file{nullptr, nullptr, log_index::undecided};
  return g_base_methods->xClose(file);
}

// The base layer's open; a database file is watched, with the methods
// above in place of its own. It is the same file object: the base layer's
// methods go on working on it.
int open_file(sqlite3_vfs *, const char *name, sqlite3_file *file, int flags, int *out_flags) {
  const int rc = g_base->xOpen(g_base, name, file, flags, out_flags);
  if (rc != SQLITE_OK || (flags & SQLITE_OPEN_MAIN_DB) == 0 || name == nullptr) return rc;
  if (g_base_methods == nullptr) {
    g_base_methods = file->pMethods;
    g_methods = *file->pMethods;
    g_methods.xClose = close_file;
    g_methods.xShmMap = shm_map;
    g_methods.xShmLock = shm_lock;
    g_methods.xShmBarrier = shm_barrier;
    g_methods.xShmUnmap = shm_unmap;
  }
  // Another kind of file object, or no slot left: the base layer's as it is.
  if (file->pMethods != g_base_methods || g_methods.iVersion < 2) return rc;
  watched_file *slot = watched(nullptr);
  if (slot == nullptr) return rc;
  *slot = watched_file{file, name, log_index::undecided};
  file->pMethods = &g_methods;
  return rc;
}

// SQLite sleeps only while it waits for a lock: in the busy handler, and
// between its tries at the read locks of a WAL database.
int sleep_noting(sqlite3_vfs *, int microseconds) {
  budget_note_lock_wait();
  return g_base->xSleep(g_base, microseconds);
}

bool register_vfs() {
  g_base = sqlite3_vfs_find(plat_sqlite_vfs_name());
  if (g_base == nullptr) return false;
  g_vfs = *g_base;
  g_vfs.zName = VFS_NAME;
  g_vfs.pNext = nullptr;
  g_vfs.xOpen = open_file;
  g_vfs.xSleep = sleep_noting;
  return sqlite3_vfs_register(&g_vfs, 0) == SQLITE_OK;
}

}  // namespace

const char *guarded_vfs_name() {
  static const bool registered = register_vfs();
  return registered ? VFS_NAME : nullptr;
}
