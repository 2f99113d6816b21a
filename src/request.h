// The parameters of one request, taken from the query string and the body
// file that the host hands over, and the node-password gate.
#pragma once

#include <cstddef>

constexpr std::size_t ACTION_CAP = 64;
constexpr std::size_t DB_CAP = 512;
constexpr std::size_t SQL_CAP = 16384;
constexpr std::size_t FORMAT_CAP = 16;
constexpr std::size_t ASSET_NAME_CAP = 128;

constexpr std::size_t BODY_CAP = 17408;  // at most 17407 bytes of request body

/// Whether `sql` holds the whole statement the client sent. A statement
/// that lost its end may still parse, and would then run as a different
/// statement, so anything but STATEMENT_WHOLE must be refused.
enum statement_state {
  STATEMENT_WHOLE = 0,  // as sent (or empty)
  STATEMENT_CUT,        // the "sql" value was longer than its buffer
  BODY_CUT,             // the request body was longer than its buffer
  BODY_SHORT,           // the body ended before the length announced for it
  STATEMENT_NUL,        // the statement holds a NUL byte, where its text would end
};

struct request_fields {
  char action[ACTION_CAP];
  char db[DB_CAP];
  char sql[SQL_CAP];
  char format[FORMAT_CAP];
  char name[ASSET_NAME_CAP];  // the browser library the asset action serves
  bool embed;                 // the page is framed by a host page: no back link
  bool exact;                 // values written exactly (exact=1)
  statement_state sql_state;  // whether `sql` is whole
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
/// the request body: the file named by HTTP_BODY_FILE when that variable is
/// present and GATEWAY_INTERFACE is not (a regular file reached without a
/// link, else no body), else standard input when CONTENT_LENGTH is a
/// decimal number above zero (at most that many bytes and at most
/// BODY_CAP - 1, waiting until the request's deadline at most; see
/// budget_begin). Never fails: what is missing is empty, what is too long
/// is cut, and `sql_state` tells whether the statement is whole.
void read_request_fields(request_fields *out);

/// The detail of the "sql_error" refusal of a statement that is not whole,
/// or null when `state` is STATEMENT_WHOLE.
const char *incomplete_statement_detail(statement_state state);

/// True when the client asked for JSON: `format` begins with "json".
bool wants_json(const request_fields &fields);

/// The node password, or null when the gate is off (ZINDO_PASSWORD absent
/// or empty).
const char *node_password();

/// Returns only when the request may be served. Without a node password
/// (ZINDO_PASSWORD absent or empty) every request passes; otherwise one of
/// the X-Zindo-Password header, an Authorization Bearer token or the "pwd"
/// field must match it, or a 401 refusal is written and the process ends
/// with status 0: the password page (HTML) to a browser that opened the
/// Explorer page (no action or JSON format asked for, text/html in
/// HTTP_ACCEPT), else the fixed JSON refusal.
void check_node_password();
