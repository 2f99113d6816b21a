// The query-string lookup and the request fields under arbitrary input.
// Input: the query string, a NUL byte, then the request body. Each lookup
// is compared with a plain reference reading of the lookup rules, and the
// fields read from the environment must stay within their capacities.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "request.h"

namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The lookup rules read plainly, with std::string: found or not, and the
// decoded value (up to its first NUL, as a C string holds it).
bool reference_lookup(const std::string &text, const std::string &key, std::size_t cap,
                      std::string *value, std::size_t *raw_len = nullptr,
                      bool *held_nul = nullptr) {
  value->clear();
  std::size_t seg = 0;
  while (true) {
    if (text.compare(seg, key.size(), key) == 0 && seg + key.size() < text.size() &&
        text[seg + key.size()] == '=') {
      const std::size_t start = seg + key.size() + 1;
      std::size_t end = text.find('&', start);
      if (end == std::string::npos) end = text.size();
      if (raw_len != nullptr) *raw_len = end - start;
      const std::string raw = text.substr(start, std::min(end - start, cap - 1));
      for (std::size_t i = 0; i < raw.size(); ++i) {
        const int hi = raw[i] == '%' && i + 2 < raw.size() ? hex_value(raw[i + 1]) : -1;
        const int lo = hi >= 0 ? hex_value(raw[i + 2]) : -1;
        if (lo >= 0) {
          value->push_back(static_cast<char>(hi * 16 + lo));
          i += 2;
        } else {
          value->push_back(raw[i] == '+' ? ' ' : raw[i]);
        }
      }
      if (held_nul != nullptr) *held_nul = std::strlen(value->c_str()) != value->size();
      value->resize(std::strlen(value->c_str()));
      return true;
    }
    const std::size_t amp = text.find('&', seg);
    if (amp == std::string::npos || amp + 1 == text.size()) return false;
    seg = amp + 1;
  }
}

void check_lookup(const std::string &text, const char *key, std::size_t cap) {
  static char buf[SQL_CAP];
  std::memset(buf, 'X', cap);
  const int found = get_query_val(text.c_str(), key, buf, cap);
  if (std::memchr(buf, '\0', cap) == nullptr) fail("lookup left no terminator", key);
  std::string expected;
  const bool expected_found = !text.empty() && reference_lookup(text, key, cap, &expected);
  if ((found == 1) != expected_found) fail("lookup found/not found differs", key);
  if (expected != buf) fail("lookup value differs", std::string(key) + " -> " + buf);
}

void check_capacity(const char *field, std::size_t cap, const char *name) {
  if (std::memchr(field, '\0', cap) == nullptr) fail("field overflows its buffer", name);
}

std::string body_path() {
  static const std::string path = scratch_folder("fields") + "/body";
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  const char *bytes = reinterpret_cast<const char *>(data);
  const void *nul = std::memchr(data, 0, size);
  const std::size_t query_len =
      nul ? static_cast<std::size_t>(static_cast<const uint8_t *>(nul) - data) : size;
  const std::string query(bytes, query_len);
  for (const char *key : {"action", "db", "sql", "format", "pwd", "a"}) {
    for (std::size_t cap : {std::size_t{2}, std::size_t{7}, ACTION_CAP, SQL_CAP})
      check_lookup(query, key, cap);
  }

  // The fields, with the rest of the input as the body file.
  const std::size_t body_at = nul ? query_len + 1 : size;
  write_bytes(body_path(), data + body_at, size - body_at);
  setenv("QUERY_STRING", query.c_str(), 1);
  setenv("HTTP_BODY_FILE", body_path().c_str(), 1);
  unsetenv("CONTENT_LENGTH");
  static request_fields fields;
  std::memset(&fields, 'X', sizeof fields);
  read_request_fields(&fields);
  check_capacity(fields.action, ACTION_CAP, "action");
  check_capacity(fields.db, DB_CAP, "db");
  check_capacity(fields.sql, SQL_CAP, "sql");
  check_capacity(fields.format, FORMAT_CAP, "format");
  if ((fields.sql_state == STATEMENT_WHOLE) !=
      (incomplete_statement_detail(fields.sql_state) == nullptr))
    fail("statement state without its refusal", "");
  // Which statement was cut follows from the lengths alone, and a NUL byte
  // in the text that was kept outranks the cut: either way it is refused.
  std::string query_sql;
  std::size_t raw_len = 0;
  bool query_nul = false;
  const bool in_query = !query.empty() &&
                        reference_lookup(query, "sql", SQL_CAP, &query_sql, &raw_len, &query_nul);
  const bool query_cut = in_query && raw_len >= SQL_CAP;
  const statement_state query_state =
      query_nul ? STATEMENT_NUL : query_cut ? STATEMENT_CUT : STATEMENT_WHOLE;
  if ((!query_sql.empty() || query_nul) && fields.sql_state != query_state)
    fail("state of a statement from the query string", std::to_string(raw_len));
  const std::size_t body_len = size - body_at;
  const bool kept_body_nul =
      std::memchr(data + body_at, 0, body_len < BODY_CAP ? body_len : BODY_CAP - 1) != nullptr;
  if (query_sql.empty() && !query_nul && body_len >= BODY_CAP &&
      fields.sql_state != (kept_body_nul ? STATEMENT_NUL : BODY_CUT))
    fail("an overlong body is not told", std::to_string(body_len));
  return 0;
}
