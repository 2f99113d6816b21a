#include "number_text.h"

#include <charconv>
#include <climits>

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

// Plain form from 1e-4 to below 1e16, exponent form outside: the forms of
// Python's repr of a float, which many readers of these answers use.
std::size_t format_double_exact(double value, char *out) {
  constexpr int LOWEST_PLAIN_EXPONENT = -4;
  constexpr int FIRST_EXPONENT_FORM = 16;
  char *end = std::to_chars(out, out + NUMBER_CAP, value, std::chars_format::scientific).ptr;
  int exponent = 0;
  for (const char *p = out; p < end; ++p) {
    if (*p == 'e') std::from_chars(p + (p[1] == '+' ? 2 : 1), end, exponent);
  }
  if (exponent < LOWEST_PLAIN_EXPONENT || exponent >= FIRST_EXPONENT_FORM) {
    return static_cast<std::size_t>(end - out);
  }
  end = std::to_chars(out, out + NUMBER_CAP, value, std::chars_format::fixed).ptr;
  bool has_point = false;
  for (const char *p = out; p < end; ++p) has_point = has_point || *p == '.';
  if (!has_point) {
    *end++ = '.';
    *end++ = '0';
  }
  return static_cast<std::size_t>(end - out);
}

// The calendar is computed here rather than asked of the C library: its
// gmtime first reads the zone database from disk, though UTC needs none.

// Floor division, for days and eras before 1970.
static long long floor_div(long long a, long long b) { return a / b - (a % b < 0 ? 1 : 0); }

struct utc_fields {
  long long year;
  int month;  // 1 to 12; 1 also in the all-zero calendar, whose tm_mon is 0
  int day;    // 1 to 31; 0 in the all-zero calendar
  int hour, minute, second;
};

// Proleptic Gregorian calendar from a count of days since 1970-01-01,
// counted in eras of 400 years that begin on March 1, so that the leap day
// is the last day of a year.
static utc_fields civil_from_seconds(long long secs) {
  constexpr long long SECONDS_PER_DAY = 86400;
  constexpr long long DAYS_FROM_ERA_START_TO_1970 = 719468;
  constexpr long long DAYS_PER_ERA = 146097;
  const long long days = floor_div(secs, SECONDS_PER_DAY);
  // The remainder itself, not secs - days * 86400, which overflows near the
  // ends of the range.
  const long long remainder = secs % SECONDS_PER_DAY;
  const int second_of_day =
      static_cast<int>(remainder < 0 ? remainder + SECONDS_PER_DAY : remainder);
  const long long shifted = days + DAYS_FROM_ERA_START_TO_1970;
  const long long era = floor_div(shifted, DAYS_PER_ERA);
  const long long day_of_era = shifted - era * DAYS_PER_ERA;
  const long long year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const long long day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const long long month_from_march = (5 * day_of_year + 2) / 153;
  utc_fields f{};
  f.day = static_cast<int>(day_of_year - (153 * month_from_march + 2) / 5 + 1);
  f.month = static_cast<int>(month_from_march < 10 ? month_from_march + 3 : month_from_march - 9);
  f.year = year_of_era + era * 400 + (f.month <= 2 ? 1 : 0);
  f.hour = second_of_day / 3600;
  f.minute = second_of_day / 60 % 60;
  f.second = second_of_day % 60;
  return f;
}

static char *two_digits(int value, char *p) {
  p[0] = static_cast<char>('0' + value / 10);
  p[1] = static_cast<char>('0' + value % 10);
  return p + 2;
}

std::size_t format_utc(long long secs, char *out) {
  constexpr long long CALENDAR_BASE_YEAR = 1900;
  utc_fields f = civil_from_seconds(secs);
  if (f.year - CALENDAR_BASE_YEAR > INT_MAX || f.year - CALENDAR_BASE_YEAR < INT_MIN) {
    f = utc_fields{CALENDAR_BASE_YEAR, 1, 0, 0, 0, 0};
  }
  char *p = std::to_chars(out, out + UTC_CAP, f.year).ptr;
  *p++ = '-';
  p = two_digits(f.month, p);
  *p++ = '-';
  p = two_digits(f.day, p);
  *p++ = 'T';
  p = two_digits(f.hour, p);
  *p++ = ':';
  p = two_digits(f.minute, p);
  *p++ = ':';
  p = two_digits(f.second, p);
  *p++ = 'Z';
  *p = '\0';
  return static_cast<std::size_t>(p - out);
}
