#include "action_open.h"

#include <sqlite3.h>

#include <cstdio>

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

sqlite3 *open_or_refuse(const char *path) {
  int rc = 0;
  sqlite3 *db = open_ro(path, &rc);
  if (db == nullptr) {
    char message[MESSAGE_CAP];
    std::snprintf(message, MESSAGE_CAP, "cannot open database (%s)", sqlite3_errstr(rc));
    json_error("open_failed", message);
    return nullptr;
  }
  if (!is_database(db)) {
    sqlite3_close(db);
    json_error("not_a_database", "file is not a SQLite database");
    return nullptr;
  }
  return db;
}
