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

void json_double(double value, value_form form) {
  char text[NUMBER_CAP];
  out_bytes(text, form == value_form::exact ? format_double_exact(value, text)
                                            : format_double(value, text));
}

// The \u00XX escape of a control byte.
static void out_control_escape(unsigned char c) {
  static const char HEX_DIGITS[] = "0123456789abcdef";
  char escape[] = "\\u0000";
  escape[4] = HEX_DIGITS[c >> 4];
  escape[5] = HEX_DIGITS[c & 0x0f];
  out_bytes(escape, 6);
}

void json_text(const char *s, std::size_t n, value_form form) {
  out_byte('"');
  const unsigned char *p = reinterpret_cast<const unsigned char *>(s);
  const unsigned char *end = p + n;
  while (p < end) {
    // Plain runs go out in one write; only the bytes that need care are
    // handled one at a time.
    const unsigned char *run = p;
    while (p < end && passes_unchanged(*p)) ++p;
    if (p > run) out_bytes(reinterpret_cast<const char *>(run), static_cast<std::size_t>(p - run));
    if (p == end) break;
    switch (*p) {
      case '"': out_lit("\\\""); break;
      case '\\': out_lit("\\\\"); break;
      case '\n': out_lit("\\n"); break;
      case '\r': out_lit("\\r"); break;
      case '\t': out_lit("\\t"); break;
      case '\0': out_control_escape(*p); break;
      default:
        if (form == value_form::exact) out_control_escape(*p);
        break;  // the plain form drops the other control bytes
    }
    ++p;
  }
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
