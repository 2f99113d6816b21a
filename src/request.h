// The parameters of one request, taken from the query string and the body
// file that the host hands over, and the node-password gate.
#pragma once

#include <cstddef>

constexpr std::size_t ACTION_CAP = 64;
constexpr std::size_t DB_CAP = 512;
constexpr std::size_t SQL_CAP = 16384;
constexpr std::size_t FORMAT_CAP = 16;

struct request_fields {
  char action[ACTION_CAP];
  char db[DB_CAP];
  char sql[SQL_CAP];
  char format[FORMAT_CAP];
  bool embed;  // the page is framed by a host page: no back link
};

/// Looks up `key` in an "&"-separated text of key=value segments. The first
/// segment whose raw key equals `key` wins; its raw value is cut to cap - 1
/// bytes and then URL-decoded in place ("%hh", "+" as a blank). Returns 1
/// when such a segment exists (its value may be empty), else 0. `buf` always
/// ends up NUL-terminated: the decoded value or "". `cap` must be at least 2.
int get_query_val(const char *text, const char *key, char *buf, std::size_t cap);

/// 1 when `s` begins with `prefix`, ASCII letter case ignored; else 0.
int ci_prefix(const char *s, const char *prefix);

/// Copies at most cap - 1 bytes of `src` into `dst` and NUL-terminates.
/// A null `dst` does nothing; a null `src` leaves `dst` empty.
void copy_str(char *dst, std::size_t cap, const char *src);

/// Fills `out` from QUERY_STRING and, when that gives no statement, from
/// the body file named by HTTP_BODY_FILE. Never fails: what is missing is
/// empty, what is too long is cut.
void read_request_fields(request_fields *out);

/// True when the client asked for JSON: `format` begins with "json".
bool wants_json(const request_fields &fields);

/// The node password, or null when the gate is off (ZINDO_PASSWORD absent
/// or empty).
const char *node_password();

/// Returns only when the request may be served. Without a node password
/// (ZINDO_PASSWORD absent or empty) every request passes; otherwise one of
/// the X-Zindo-Password header, an Authorization Bearer token or the "pwd"
/// field must match it, or the 401 refusal is written and the process ends
/// with status 0.
void check_node_password();
