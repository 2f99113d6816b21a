#include "request.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "budget.h"
#include "json_out.h"
#include "page/page.h"
#include "platform/platform.h"

constexpr std::size_t PWD_CAP = 256;  // at most 255 raw bytes of "pwd"

void copy_str(char *dst, std::size_t cap, const char *src) {
  if (dst == nullptr || cap == 0) return;
  std::size_t n = 0;
  if (src != nullptr) {
    while (n + 1 < cap && src[n] != '\0') ++n;
    std::memcpy(dst, src, n);
  }
  dst[n] = '\0';
}

int ci_prefix(const char *s, const char *prefix) {
  for (; *prefix; ++s, ++prefix) {
    if (*s == '\0') return 0;
    if (std::tolower(static_cast<unsigned char>(*s)) !=
        std::tolower(static_cast<unsigned char>(*prefix)))
      return 0;
  }
  return 1;
}

static int hex_value(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes "%hh" and "+" in place; a "%" without two hex digits stays.
// Returns the length of the decoded text, which is longer than its string
// when it holds a NUL byte ("%00").
static std::size_t url_decode(char *buf) {
  char *out = buf;
  for (const char *in = buf; *in;) {
    const int hi = in[0] == '%' ? hex_value(static_cast<unsigned char>(in[1])) : -1;
    const int lo = hi >= 0 ? hex_value(static_cast<unsigned char>(in[2])) : -1;
    if (lo >= 0) {
      *out++ = static_cast<char>(hi * 16 + lo);
      in += 3;
    } else {
      *out++ = *in == '+' ? ' ' : *in;
      ++in;
    }
  }
  *out = '\0';
  return static_cast<std::size_t>(out - buf);
}

// The segment starting at `seg` matches when it begins with `key` and "=".
static const char *value_if_key(const char *seg, const char *key, std::size_t key_len) {
  if (std::strncmp(seg, key, key_len) != 0 || seg[key_len] != '=') return nullptr;
  return seg + key_len + 1;
}

// get_query_val, also telling through `state` whether the value is whole:
// STATEMENT_CUT when the raw value was longer than cap - 1 bytes,
// STATEMENT_NUL when it decodes to text with a NUL byte.
static int lookup_value(const char *text, const char *key, char *buf, std::size_t cap,
                        statement_state *state) {
  buf[0] = '\0';
  *state = STATEMENT_WHOLE;
  if (text == nullptr || text[0] == '\0') return 0;
  const std::size_t key_len = std::strlen(key);
  const char *seg = text;
  for (;;) {
    if (const char *value = value_if_key(seg, key, key_len)) {
      std::size_t n = 0;
      while (n + 1 < cap && value[n] != '\0' && value[n] != '&') ++n;
      std::memcpy(buf, value, n);
      buf[n] = '\0';
      if (value[n] != '\0' && value[n] != '&') *state = STATEMENT_CUT;
      if (url_decode(buf) != std::strlen(buf)) *state = STATEMENT_NUL;
      return 1;
    }
    const char *amp = std::strchr(seg, '&');
    if (amp == nullptr || amp[1] == '\0') return 0;
    seg = amp + 1;
  }
}

int get_query_val(const char *text, const char *key, char *buf, std::size_t cap) {
  statement_state state = STATEMENT_WHOLE;
  return lookup_value(text, key, buf, cap, &state);
}

bool wants_json(const request_fields &fields) { return ci_prefix(fields.format, "json") != 0; }

// A switch such as "embed=1" or "embed=true" anywhere in the query string.
static bool has_flag(const char *query, const char *on, const char *true_word) {
  return std::strstr(query, on) != nullptr || std::strstr(query, true_word) != nullptr;
}

// Keeps the `n` bytes read into `body` (BODY_CAP bytes): one byte more
// than is kept tells a body that did not fit, and a NUL byte a body whose
// text would end before it.
static void keep_body(char *body, std::size_t n, statement_state *state) {
  if (n == BODY_CAP) {
    *state = BODY_CUT;
    n = BODY_CAP - 1;
  }
  if (std::memchr(body, '\0', n) != nullptr) *state = STATEMENT_NUL;
  body[n] = '\0';
}

// Reads the body file the host names into `body`. Returns false when there
// is none to read: the file is opened as the guarded open does (no link
// followed, no FIFO or device waited on, a regular file with one name or
// nothing), so that a name that leads anywhere else reads as no body, the
// same whether or not something exists there.
static bool read_body_file(const char *path, char *body, statement_state *state) {
  const long n = plat_read_head(path, body, BODY_CAP);
  if (n < 0) return false;
  keep_body(body, static_cast<std::size_t>(n), state);
  return true;
}

// CONTENT_LENGTH as a count of bytes: 0 unless it is a decimal number above
// zero; any number beyond the body buffer counts as BODY_CAP.
static std::size_t announced_length(const char *text) {
  if (text == nullptr || text[0] == '\0') return 0;
  std::size_t value = 0;
  for (const char *p = text; *p; ++p) {
    if (*p < '0' || *p > '9') return 0;
    value = value * 10 + static_cast<std::size_t>(*p - '0');
    if (value >= BODY_CAP) value = BODY_CAP;  // saturates: no overflow
  }
  return value;
}

// Reads the body a standard CGI server hands over on standard input, until
// the request's deadline at most. Returns false when no body was
// announced, and then reads nothing.
static bool read_body_stdin(char *body, statement_state *state) {
  const std::size_t announced = announced_length(plat_getenv("CONTENT_LENGTH"));
  if (announced == 0) return false;
  if (announced == BODY_CAP) {
    // Longer than the buffer: refused whole, so there is nothing to read.
    *state = BODY_CUT;
    body[0] = '\0';
    return true;
  }
  const std::size_t n = plat_read_stdin(body, announced, budget_deadline());
  keep_body(body, n, state);
  if (n < announced) *state = BODY_SHORT;
  return true;
}

// Fills `body` from the body file or from standard input. Returns false
// when the request has no body to read. A CGI server (it sets
// GATEWAY_INTERFACE) turns every request header into a variable, so behind
// one HTTP_BODY_FILE may come from the client's "Body-File" header: it is
// then never looked at, and the body is standard input.
static bool read_body(char *body, statement_state *state) {
  const char *path = plat_getenv("HTTP_BODY_FILE");
  if (path != nullptr && plat_getenv("GATEWAY_INTERFACE") == nullptr) {
    return path[0] != '\0' && read_body_file(path, body, state);
  }
  return read_body_stdin(body, state);
}

// Takes the statement from the request body: its "sql" field when it has a
// non-empty one, else the raw body text itself.
static void read_body_sql(char *sql, statement_state *state) {
  char body[BODY_CAP];
  if (!read_body(body, state)) return;
  statement_state field = STATEMENT_WHOLE;
  lookup_value(body, "sql", sql, SQL_CAP, &field);
  if (sql[0] == '\0' && field != STATEMENT_NUL) {
    copy_str(sql, SQL_CAP, body);
    field = std::strlen(body) >= SQL_CAP ? STATEMENT_CUT : STATEMENT_WHOLE;
  }
  if (*state == STATEMENT_WHOLE) *state = field;
}

void read_request_fields(request_fields *out) {
  out->action[0] = out->db[0] = out->sql[0] = out->format[0] = out->name[0] = '\0';
  out->embed = false;
  out->exact = false;
  out->sql_state = STATEMENT_WHOLE;
  if (const char *query = plat_getenv("QUERY_STRING")) {
    get_query_val(query, "action", out->action, ACTION_CAP);
    get_query_val(query, "db", out->db, DB_CAP);
    lookup_value(query, "sql", out->sql, SQL_CAP, &out->sql_state);
    get_query_val(query, "format", out->format, FORMAT_CAP);
    get_query_val(query, "name", out->name, ASSET_NAME_CAP);
    out->embed = has_flag(query, "embed=1", "embed=true");
    out->exact = has_flag(query, "exact=1", "exact=true");
  }
  // A statement that starts with "%00" is empty as a string, yet was sent.
  if (out->sql[0] == '\0' && out->sql_state == STATEMENT_WHOLE) {
    read_body_sql(out->sql, &out->sql_state);
  }
}

static_assert(SQL_CAP == 16384 && BODY_CAP == 17408, "the refusal texts below name these limits");

const char *incomplete_statement_detail(statement_state state) {
  switch (state) {
    case STATEMENT_CUT: return "statement longer than 16383 bytes";
    case BODY_CUT: return "request body longer than 17407 bytes";
    case BODY_SHORT: return "request body shorter than its announced length";
    case STATEMENT_NUL: return "statement contains a NUL byte";
    default: return nullptr;
  }
}

// Compares a presented credential with the node password in time that
// depends only on the password's length, so that the time taken tells an
// attacker nothing about where a guess goes wrong.
static bool matches_password(const char *presented, const char *password) {
  const std::size_t len = std::strlen(password);
  const std::size_t presented_len = std::strlen(presented);
  unsigned diff = presented_len == len ? 0u : 1u;
  for (std::size_t i = 0; i < len; ++i) {
    const unsigned char p = i < presented_len ? static_cast<unsigned char>(presented[i]) : 0;
    diff |= p ^ static_cast<unsigned char>(password[i]);
  }
  return diff == 0;
}

static const char *skip_blanks(const char *s) {
  while (*s == ' ') ++s;  // blanks only: a tab is part of the value
  return s;
}

static bool bearer_matches(const char *authorization, const char *password) {
  const char *s = skip_blanks(authorization);
  if (!ci_prefix(s, "Bearer ")) return false;
  return matches_password(skip_blanks(s + 7), password);
}

static bool pwd_field_matches(const char *query, const char *password) {
  char pwd[PWD_CAP];
  return get_query_val(query, "pwd", pwd, PWD_CAP) && matches_password(pwd, password);
}

static bool request_presents(const char *password) {
  const char *header = plat_getenv("HTTP_X_ZINDO_PASSWORD");
  if (header != nullptr && matches_password(header, password)) return true;
  const char *authorization = plat_getenv("HTTP_AUTHORIZATION");
  if (authorization != nullptr && bearer_matches(authorization, password)) return true;
  const char *query = plat_getenv("QUERY_STRING");
  return query != nullptr && pwd_field_matches(query, password);
}

const char *node_password() {
  const char *password = plat_getenv("ZINDO_PASSWORD");
  return password != nullptr && password[0] != '\0' ? password : nullptr;
}

// Whether `text` holds `word`, ASCII letter case ignored.
static bool ci_contains(const char *text, const char *word) {
  for (; *text != '\0'; ++text) {
    if (ci_prefix(text, word)) return true;
  }
  return false;
}

// A browser opening the Explorer page: the request names no action and no
// JSON format (so an admitted one would get the page), and the browser
// accepts text/html. Scripts and programs are answered in JSON, as is a
// host that does not pass the Accept header on. All of this comes from the
// client, so it chooses only which refusal is written, never whether one is.
static bool asks_for_page() {
  const char *query = plat_getenv("QUERY_STRING");
  char field[ACTION_CAP];
  if (get_query_val(query, "action", field, sizeof field)) return false;
  if (get_query_val(query, "format", field, FORMAT_CAP) && ci_prefix(field, "json")) return false;
  const char *accept = plat_getenv("HTTP_ACCEPT");
  return accept != nullptr && ci_contains(accept, "text/html");
}

void check_node_password() {
  const char *password = node_password();
  if (password == nullptr || request_presents(password)) return;
  out_lit("Status: 401 Unauthorized\r\n");
  if (asks_for_page()) {
    write_password_page();
  } else {
    json_header();
    out_lit("{\"ok\":false,\"error\":\"invalid node password\"}\n");
  }
  std::exit(0);
}
