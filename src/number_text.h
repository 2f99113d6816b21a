// The text of numbers, formed without printf: the same bytes as printf's
// conversions in the "C" locale, into a caller's fixed buffer.
#pragma once

#include <cstddef>

/// Room for any number that format_int, format_double or
/// format_double_exact writes: "-9223372036854775808" is 20 bytes,
/// "-2.22507385850720e-308" 22, "-2.2250738585072014e-308" 24.
constexpr std::size_t NUMBER_CAP = 32;

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

/// Writes `value` with the fewest significant digits that read back as the
/// same double, in plain form when its decimal exponent is from -4 to 15
/// and in exponent form otherwise ("1e+16", "1e-05", "5e-324"), with ".0"
/// after a plain number without a point ("100.0", "-0.0"), so that a reader
/// takes it for a real, to `out`, NUMBER_CAP bytes, without a terminator.
/// Returns the number of bytes written. `value` must be finite.
std::size_t format_double_exact(double value, char *out);

/// Room for format_utc's text and its terminator.
constexpr std::size_t UTC_CAP = 40;

/// Writes the UTC time `secs` (seconds since 1970-01-01 00:00:00 UTC) as
/// "YYYY-MM-DDTHH:MM:SSZ" with a terminator to `out`, UTC_CAP bytes: the
/// year in plain decimal (no padding, a minus before year 0), every other
/// field in two digits. A time whose year lies more than the range of an
/// int away from 1900, which the C library's calendar cannot hold, is
/// written from an all-zero calendar: "1900-01-00T00:00:00Z". Returns the
/// length of the text.
std::size_t format_utc(long long secs, char *out);
