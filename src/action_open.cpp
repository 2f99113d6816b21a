#include "action_open.h"

#include <sqlite3.h>

#include <cstdio>

#include "budget.h"
#include "db_guard.h"
#include "json_out.h"

bool resolve_or_refuse(const char *db, char *path) {
  const int resolved = resolve_db_path(db, path);
  if (resolved == 0) {
    json_error("forbidden_path", "path outside the allowlisted roots or not a database file");
    return false;
  }
  if (resolved < 0) {
    json_error("not_found", "database file does not exist");
    return false;
  }
  return true;
}

void refuse_open(int rc) {
  char message[MESSAGE_CAP];
  std::snprintf(message, MESSAGE_CAP, "cannot open database (%s)", sqlite3_errstr(rc));
  json_error("open_failed", message);
}

void refuse_open_after_hard_stop() {
  refuse_open(budget_lock_waited() ? SQLITE_BUSY : SQLITE_INTERRUPT);
}

sqlite3 *open_or_refuse(const char *path, budget_state *budget) {
  int rc = 0;
  sqlite3 *db = inside_sqlite([&] { return open_ro(path, &rc); });
  if (db == nullptr) {
    refuse_open(rc);
    return nullptr;
  }
  watch_budget(db, budget);
  // A file that is no database, and a probe stopped by anything else (a
  // writer's lock held past the budget, a journal that cannot be read), are
  // told apart: only the first is "not a database".
  const int probed = inside_sqlite([&] { return probe_database(db); });
  if (probed != SQLITE_OK) {
    sqlite3_close(db);
    if ((probed & 0xff) == SQLITE_NOTADB) {
      json_error("not_a_database", "file is not a SQLite database");
    } else {
      refuse_open(probed);
    }
    return nullptr;
  }
  guard_statements(db);
  return db;
}
