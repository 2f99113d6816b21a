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

void out_text(const char *s) { out_bytes(s, std::strlen(s)); }

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
