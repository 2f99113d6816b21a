// The header blocks and writers that every response is built from. All of
// them write straight to standard output; nothing is assembled in memory.
#pragma once

#include <cstddef>

#include "number_text.h"
#include "platform/platform.h"

/// Writes a literal fragment with its exact length (no terminator).
template <std::size_t N>
inline void out_lit(const char (&text)[N]) {
  plat_out(text, N - 1);
}

/// Writes the `n` bytes at `bytes`.
inline void out_bytes(const char *bytes, std::size_t n) { plat_out(bytes, n); }

/// Writes the single byte `c`: a separator, a bracket, a quote.
inline void out_byte(char c) { plat_out_byte(c); }

/// Writes the NUL-terminated text `s` as it is, with no quotes or escapes.
void out_text(const char *s);

/// Writes `value` as format_int forms it.
void json_int(long long value);

/// How the values of a database are written. `plain`: reals with at most
/// 15 significant digits, a blob as its size and first bytes, control bytes
/// other than NUL, LF, CR and TAB dropped from text. `exact`: every value as
/// it is stored: reals that read back as the same double, blobs whole in
/// hex, every control byte escaped.
enum class value_form { plain, exact };

/// Writes `value` as format_double (plain) or format_double_exact (exact)
/// forms it.
void json_double(double value, value_form form = value_form::plain);

/// Writes the JSON header block (107 bytes, ends with the empty line).
void json_header();

/// Writes the HTML header block (100 bytes, ends with the empty line).
void html_header();

/// Writes the header block of a script whose name carries its content's
/// hash: it may be cached for a year and never asked for again.
void script_header();

/// Writes `s` as a JSON string literal, quotes included; null writes "".
/// Quote, backslash, LF, CR and TAB are escaped, other bytes below 0x20 are
/// dropped, every byte from 0x20 up passes unchanged.
void json_str(const char *s);

/// Writes the `n` bytes at `s` (which may hold NUL bytes) as a JSON string
/// literal, quotes included. Quote and backslash are escaped; LF, CR and TAB
/// get their two-character escapes; NUL is written \u0000; the other bytes
/// below 0x20 are dropped in the plain form and written \u00XX in the exact
/// one; every byte from 0x20 up passes unchanged.
void json_text(const char *s, std::size_t n, value_form form);

/// Writes a complete error response: header block, then
/// {"ok":false,"error":code[,"detail":detail]} and LF. The detail member is
/// left out when `detail` is empty.
void json_error(const char *code, const char *detail);

/// Writes the UTC time `secs` as a JSON string "YYYY-MM-DDTHH:MM:SSZ", in
/// the form format_utc gives it.
void json_utc(long long secs);

/// Writes "true" or "false".
void json_bool(bool value);
