// The actions. Each writes one complete response, header block
// included, and returns.
#pragma once

#include "json_out.h"

constexpr int MAX_ROWS = 500;  // rows the query action writes; info reports it

/// Lists the database files under the allowlisted roots.
void action_dbs();

/// Lists the tables and views of the database `db`.
void action_schema(const char *db);

/// Runs the one read-only statement `sql` against the database `db`, its
/// rows written in `shape`, their values in `form` (always exact for the
/// lines of a download).
void action_query(const char *db, const char *sql, value_form form, row_shape shape);

/// Reports the program's build, the library version and the fixed limits.
void action_info();

/// Serves the bundled browser library whose served name is `name`
/// ("<name>-<hash>.js"), to be cached for good; any other name gets the
/// "unknown_asset" error document.
void action_asset(const char *name);
