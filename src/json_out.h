// The header blocks and writers that every response is built from. All of
// them write straight to standard output; nothing is assembled in memory.
#pragma once

#include <cstddef>

#include "number_text.h"
#include "platform/platform.h"

/// Writes the `n` bytes at `bytes`, escaped while out_in_string is on.
void out_bytes(const char *bytes, std::size_t n);

/// Writes the single byte `c`: a separator, a bracket, a quote.
void out_byte(char c);

/// Writes a literal fragment with its exact length (no terminator).
template <std::size_t N>
inline void out_lit(const char (&text)[N]) {
  out_bytes(text, N - 1);
}

/// While on, everything the writers write goes out as the content of one
/// JSON string literal, escaped as json_text's exact form escapes it: a
/// whole JSON or CSV text can so be written inside a document's string.
void out_in_string(bool on);

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

/// The shape of a query answer's rows: `arrays`, the grid's JSON arrays of
/// values (`rows`); or the lines of a downloaded file, written as one string
/// (`lines`): `csv_lines` (format=csv) or `json_lines` (format=jsonl), one
/// JSON object per row.
enum class row_shape { arrays, csv_lines, json_lines };

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

/// Writes the `n` bytes at `s` as json_text does, without the quotes: a
/// part of a string literal.
void json_chars(const char *s, std::size_t n, value_form form);

/// Writes a complete error response: header block, then
/// {"ok":false,"error":code[,"detail":detail]} and LF. The detail member is
/// left out when `detail` is empty.
void json_error(const char *code, const char *detail);

/// Writes the UTC time `secs` as a JSON string "YYYY-MM-DDTHH:MM:SSZ", in
/// the form format_utc gives it.
void json_utc(long long secs);

/// Writes "true" or "false".
void json_bool(bool value);
