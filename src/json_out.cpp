#include "json_out.h"

#include <cstring>

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

void script_header() {
  out_lit(
      "Content-Type: text/javascript; charset=utf-8\r\n"
      "Cache-Control: public, max-age=31536000, immutable\r\n"
      "X-Content-Type-Options: nosniff\r\n"
      "\r\n");
}

static bool passes_unchanged(unsigned char c) { return c >= 0x20 && c != '"' && c != '\\'; }

static bool g_in_string = false;  // out_in_string

// The escape of one byte that does not pass unchanged, into `escape` (at
// least 6 bytes); returns its length, 0 for a byte that is dropped.
static std::size_t escape_of(unsigned char c, value_form form, char *escape) {
  static const char HEX_DIGITS[] = "0123456789abcdef";
  switch (c) {
    case '"': std::memcpy(escape, "\\\"", 2); return 2;
    case '\\': std::memcpy(escape, "\\\\", 2); return 2;
    case '\n': std::memcpy(escape, "\\n", 2); return 2;
    case '\r': std::memcpy(escape, "\\r", 2); return 2;
    case '\t': std::memcpy(escape, "\\t", 2); return 2;
    default:
      // The plain form drops the control bytes other than NUL.
      if (c != 0 && form == value_form::plain) return 0;
      std::memcpy(escape, "\\u00", 4);
      escape[4] = HEX_DIGITS[c >> 4];
      escape[5] = HEX_DIGITS[c & 0x0f];
      return 6;
  }
}

// Writes `n` bytes escaped for the inside of a JSON string to `sink`.
// Plain runs go out in one write; only the bytes that need care are
// handled one at a time.
static void write_escaped(const char *s, std::size_t n, value_form form,
                          void (*sink)(const char *, std::size_t)) {
  const unsigned char *p = reinterpret_cast<const unsigned char *>(s);
  const unsigned char *end = p + n;
  while (p < end) {
    const unsigned char *run = p;
    while (p < end && passes_unchanged(*p)) ++p;
    if (p > run) sink(reinterpret_cast<const char *>(run), static_cast<std::size_t>(p - run));
    if (p == end) break;
    char escape[6];
    const std::size_t length = escape_of(*p, form, escape);
    if (length > 0) sink(escape, length);
    ++p;
  }
}

void out_bytes(const char *bytes, std::size_t n) {
  if (g_in_string) {
    write_escaped(bytes, n, value_form::exact, plat_out);
  } else {
    plat_out(bytes, n);
  }
}

void out_byte(char c) {
  if (g_in_string) {
    write_escaped(&c, 1, value_form::exact, plat_out);
  } else {
    plat_out_byte(c);
  }
}

void out_in_string(bool on) { g_in_string = on; }

void out_text(const char *s) { out_bytes(s, std::strlen(s)); }

void json_int(long long value) {
  char text[NUMBER_CAP];
  out_bytes(text, format_int(value, text));
}

void json_double(double value, value_form form) {
  char text[NUMBER_CAP];
  out_bytes(text, form == value_form::exact ? format_double_exact(value, text)
                                            : format_double(value, text));
}

// Inside out_in_string the text is escaped twice: first as the JSON text
// it is part of, then by out_bytes as the content of the outer string.
void json_chars(const char *s, std::size_t n, value_form form) {
  write_escaped(s, n, form, out_bytes);
}

void json_text(const char *s, std::size_t n, value_form form) {
  out_byte('"');
  json_chars(s, n, form);
  out_byte('"');
}

void json_str(const char *s) {
  const char *text = s != nullptr ? s : "";
  json_text(text, std::strlen(text), value_form::plain);
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
  char text[UTC_CAP];
  format_utc(secs, text);
  json_str(text);
}

void json_bool(bool value) {
  if (value) {
    out_lit("true");
  } else {
    out_lit("false");
  }
}
