// The header blocks and writers that every response is built from. All of
// them write straight to standard output; nothing is assembled in memory.
#pragma once

#include <cstddef>

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

/// Room for any number that format_int or format_double writes:
/// "-9223372036854775808" is 20 bytes, "-2.22507385850720e-308" 22.
constexpr std::size_t NUMBER_CAP = 24;

/// Writes `value` in plain decimal with a leading minus when negative (the
/// bytes of printf's "%lld") to `out`, NUMBER_CAP bytes, without a
/// terminator. Returns the number of bytes written.
std::size_t format_int(long long value, char *out);

/// Writes `value` with at most 15 significant digits, trailing zeros and a
/// trailing point dropped, in exponent form ("1e+20", "1e-05") when the
/// decimal exponent is below -4 or at least 15 (the bytes of printf's
/// "%.15g" in the "C" locale) to `out`, NUMBER_CAP bytes, without a
/// terminator. Returns the number of bytes written. `value` must be finite:
/// JSON has no number for the others.
std::size_t format_double(double value, char *out);

/// Writes `value` as format_int forms it.
void json_int(long long value);

/// Writes `value` as format_double forms it.
void json_double(double value);

/// Writes the JSON header block (107 bytes, ends with the empty line).
void json_header();

/// Writes the HTML header block (100 bytes, ends with the empty line).
void html_header();

/// Writes `s` as a JSON string literal, quotes included; null writes "".
/// Quote, backslash, LF, CR and TAB are escaped, other bytes below 0x20 are
/// dropped, every byte from 0x20 up passes unchanged.
void json_str(const char *s);

/// Writes a complete error response: header block, then
/// {"ok":false,"error":code[,"detail":detail]} and LF. The detail member is
/// left out when `detail` is empty.
void json_error(const char *code, const char *detail);

/// Writes the UTC time `secs` as a JSON string "YYYY-MM-DDTHH:MM:SSZ". A
/// time the platform cannot convert is formatted from an all-zero calendar.
void json_utc(long long secs);

/// Writes "true" or "false".
void json_bool(bool value);
