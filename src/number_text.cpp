#include "number_text.h"

#include <charconv>

// The standard defines to_chars with a precision as printf with that
// conversion in the "C" locale; it forms the digits without printf's
// parsing of a format, its locale and its arbitrary-precision arithmetic.
std::size_t format_int(long long value, char *out) {
  return static_cast<std::size_t>(std::to_chars(out, out + NUMBER_CAP, value).ptr - out);
}

std::size_t format_double(double value, char *out) {
  constexpr int SIGNIFICANT_DIGITS = 15;
  const std::to_chars_result end =
      std::to_chars(out, out + NUMBER_CAP, value, std::chars_format::general, SIGNIFICANT_DIGITS);
  return static_cast<std::size_t>(end.ptr - out);
}
