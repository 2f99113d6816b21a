// The refusals shared by the two actions that open a database: the path
// check, and the open with its probe. Each step either hands back what the
// action needs or writes the complete error response itself.
#pragma once

#include <cstddef>

struct sqlite3;
struct budget_state;

/// Room for an error detail taken from SQLite; longer texts are cut.
constexpr std::size_t MESSAGE_CAP = 512;

/// Resolves the requested `db` into `path` (PATH_CAP bytes). Returns true
/// when the path may be opened. Otherwise writes the "forbidden_path" or
/// "not_found" error response and returns false.
bool resolve_or_refuse(const char *db, char *path);

/// Opens `path` read-only under the started `budget` (its progress and busy
/// handlers installed), probes it and installs the authorizer. Returns the
/// connection, which the caller closes. Otherwise writes the error response, with no connection
/// left open, and returns null: "open_failed" for a failed open or a probe
/// that failed for any reason but "not a database" (a lock held past the
/// budget reads "cannot open database (database is locked)"), else
/// "not_a_database". Call it inside plat_run_cuttable.
sqlite3 *open_or_refuse(const char *path, budget_state *budget);

/// Writes the "open_failed" error response for the SQLite result code `rc`.
void refuse_open(int rc);

/// Writes the "open_failed" error response of an open or probe that the
/// hard stop abandoned: "database is locked" when a writer's lock was being
/// waited for (a slow machine can reach the hard stop inside that wait),
/// else "interrupted".
void refuse_open_after_hard_stop();
