// The refusals shared by the two actions that open a database: the path
// check, and the open with its probe. Each step either hands back what the
// action needs or writes the complete error response itself.
#pragma once

#include <cstddef>

struct sqlite3;

/// Room for an error detail taken from SQLite; longer texts are cut.
constexpr std::size_t MESSAGE_CAP = 512;

/// Resolves the requested `db` into `path` (PATH_CAP bytes). Returns true
/// when the path may be opened. Otherwise writes the "forbidden_path" or
/// "not_found" error response and returns false.
bool resolve_or_refuse(const char *db, char *path);

/// Opens `path` read-only and probes it. Returns the connection, which the
/// caller guards and closes. Otherwise writes the "open_failed" or
/// "not_a_database" error response, with no connection left open, and
/// returns null.
sqlite3 *open_or_refuse(const char *path);
