#include "json_out.h"

#include <charconv>
#include <cstring>
#include <ctime>

#include "platform/platform.h"

void json_header() {
  out_lit(
      "Content-Type: application/json; charset=utf-8\r\n"
      "Cache-Control: no-store\r\n"
      "X-Content-Type-Options: nosniff\r\n"
      "\r\n");
}

void html_header() {
  out_lit(
      "Content-Type: text/html; charset=utf-8\r\n"
      "Cache-Control: no-store\r\n"
      "X-Content-Type-Options: nosniff\r\n"
      "\r\n");
}

static bool passes_unchanged(unsigned char c) { return c >= 0x20 && c != '"' && c != '\\'; }

void out_text(const char *s) { out_bytes(s, std::strlen(s)); }

// The standard defines to_chars with a precision as printf with that
// conversion in the "C" locale; it formats without printf's parsing of a
// format, its locale and its arbitrary-precision arithmetic.
std::size_t format_int(long long value, char *out) {
  return static_cast<std::size_t>(std::to_chars(out, out + NUMBER_CAP, value).ptr - out);
}

std::size_t format_double(double value, char *out) {
  constexpr int SIGNIFICANT_DIGITS = 15;
  const std::to_chars_result end =
      std::to_chars(out, out + NUMBER_CAP, value, std::chars_format::general, SIGNIFICANT_DIGITS);
  return static_cast<std::size_t>(end.ptr - out);
}

void json_int(long long value) {
  char text[NUMBER_CAP];
  out_bytes(text, format_int(value, text));
}

void json_double(double value) {
  char text[NUMBER_CAP];
  out_bytes(text, format_double(value, text));
}

void json_str(const char *s) {
  out_byte('"');
  const unsigned char *p = reinterpret_cast<const unsigned char *>(s ? s : "");
  while (*p) {
    // Plain runs go out in one write; only the bytes that need care are
    // handled one at a time.
    const unsigned char *run = p;
    while (*p && passes_unchanged(*p)) ++p;
    if (p > run) out_bytes(reinterpret_cast<const char *>(run), static_cast<std::size_t>(p - run));
    if (!*p) break;
    switch (*p) {
      case '"': out_lit("\\\""); break;
      case '\\': out_lit("\\\\"); break;
      case '\n': out_lit("\\n"); break;
      case '\r': out_lit("\\r"); break;
      case '\t': out_lit("\\t"); break;
      default: break;  // every other control byte is dropped
    }
    ++p;
  }
  out_byte('"');
}

void json_error(const char *code, const char *detail) {
  json_header();
  out_lit("{\"ok\":false,\"error\":");
  json_str(code);
  if (detail[0] != '\0') {
    out_lit(",\"detail\":");
    json_str(detail);
  }
  out_lit("}\n");
}

void json_utc(long long secs) {
  constexpr std::size_t UTC_CAP = 40;
  char text[UTC_CAP];
  std::tm fields{};
  if (!plat_gmtime(secs, &fields)) fields = std::tm{};
  if (std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &fields) == 0) text[0] = '\0';
  json_str(text);
}

void json_bool(bool value) {
  if (value) {
    out_lit("true");
  } else {
    out_lit("false");
  }
}
