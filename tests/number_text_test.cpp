// The number forms against printf itself, the oracle whose bytes they
// promise: tables of edge values and millions of values from fixed seeds.
#include "number_text.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>
#include <string>

namespace {

double from_bits(std::uint64_t bits) {
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// Collects the values whose bytes differ from printf's, a few of them
// shown in full, so that one failure says what went wrong. Nothing is
// allocated for a value that matches: the loops below check millions of
// them under the sanitizers.
class mismatches {
 public:
  void check(const char *ours, std::size_t ours_length, const char *oracle) {
    if (std::strlen(oracle) == ours_length && std::memcmp(ours, oracle, ours_length) == 0) return;
    if (++count_ <= SHOWN) {
      shown_ += "  " + std::string(oracle) + " written as " + std::string(ours, ours_length) + "\n";
    }
  }
  int count() const { return count_; }
  const std::string &shown() const { return shown_; }

 private:
  static constexpr int SHOWN = 10;
  int count_ = 0;
  std::string shown_;
};

void check_double(mismatches &found, double value) {
  char ours[NUMBER_CAP];
  const std::size_t length = format_double(value, ours);
  char oracle[64];
  std::snprintf(oracle, sizeof oracle, "%.15g", value);
  found.check(ours, length, oracle);
}

void check_int(mismatches &found, long long value) {
  char ours[NUMBER_CAP];
  const std::size_t length = format_int(value, ours);
  char oracle[32];
  std::snprintf(oracle, sizeof oracle, "%lld", value);
  found.check(ours, length, oracle);
}

TEST(NumberText, DoublesMatchPrintfOnEdgeValues) {
  const double edges[] = {
      0.0, -0.0, 1.0, -1.0, 0.1, 0.2, 0.3, 100.0, 1e15, 1e16, 1e15 - 1, 1e15 + 1, 999999999999999.0,
      9999999999999998.0, 123456789012345678.0, DBL_MAX, -DBL_MAX, DBL_MIN, -DBL_MIN, DBL_TRUE_MIN,
      -DBL_TRUE_MIN, 2.2250738585072009e-308, 4.9406564584124654e-324, 1e-310, 0.0001, 0.00001,
      0.000099999999999999995, 0.00009999999999999999,
      // values that round at the 15th significant digit, up, down and onto a carry
      0.123456789012345, 0.1234567890123449, 0.1234567890123451, 1.000000000000005,
      9.999999999999995, 9.9999999999999953, 99999999999999.95, 999999999999999.5,
      0.99999999999999994, 1.2345678901234567e-5, 5e-324, 1.7976931348623157e308, 2.5, 0.5, 1.5e300,
      3.0000000000000004, 0.30000000000000004, 123.456, -987654.321e-20, 1e21, 1e22, 1e23,
      4503599627370496.5, 9007199254740993.0, 18014398509481986.0};
  mismatches found;
  for (double value : edges) check_double(found, value);
  for (int exponent = -323; exponent <= 308; ++exponent) {
    const double power = std::pow(10.0, exponent);
    for (double value : {power, -power, std::nextafter(power, 0.0), std::nextafter(power, DBL_MAX),
                         9.5 * power, 9.999999999999995 * power}) {
      if (std::isfinite(value)) check_double(found, value);
    }
  }
  EXPECT_EQ(found.count(), 0) << found.shown();
}

// Fixed seeds: a failure is repeatable, and the values are the same on
// every run.
TEST(NumberText, DoublesMatchPrintfOnRandomBitPatterns) {
  std::mt19937_64 random(0x5eed'0013);
  mismatches found;
  for (int i = 0; i < 1'000'000; ++i) {
    const double value = from_bits(random());
    if (std::isfinite(value)) check_double(found, value);
  }
  EXPECT_EQ(found.count(), 0) << found.shown();
}

// What a database mostly holds: few digits, sums and quotients of them,
// and magnitudes around the switch between the two notations.
TEST(NumberText, DoublesMatchPrintfOnRandomNiceValues) {
  std::mt19937_64 random(0x0013'5eed);
  std::uniform_int_distribution<long long> mantissa(-10'000'000'000'000'000,
                                                    10'000'000'000'000'000);
  std::uniform_int_distribution<int> digits(1, 18);
  std::uniform_int_distribution<int> exponent(-25, 25);
  mismatches found;
  // Three values per round: 1.5 million in all.
  for (int i = 0; i < 500'000; ++i) {
    const long long scale = static_cast<long long>(std::pow(10.0, digits(random)));
    const double whole = static_cast<double>(mantissa(random) % scale);
    const double value = whole * std::pow(10.0, exponent(random));
    check_double(found, value);
    check_double(found, whole / 7.0);
    check_double(found, whole * 0.01 + 0.1);
  }
  EXPECT_EQ(found.count(), 0) << found.shown();
}

// The significant digits of a number text: those of its mantissa from the
// first digit that is not 0 to the last.
int significant_digits(const std::string &text) {
  std::string digits;
  for (char c : text.substr(0, text.find('e'))) {
    if (c >= '0' && c <= '9') digits += c;
  }
  const std::size_t first = digits.find_first_not_of('0');
  if (first == std::string::npos) return 0;
  return static_cast<int>(digits.find_last_not_of('0') - first + 1);
}

// The exact form against the C library's reader: every text reads back as
// the very same double, with no more digits than the fewest %.Ng that does
// (found by trying each N), and with a point or an exponent, so that a JSON
// reader takes it for a real.
void check_exact_double(mismatches &found, double value) {
  char ours[NUMBER_CAP];
  const std::string text(ours, format_double_exact(value, ours));
  const double back = std::strtod(text.c_str(), nullptr);
  int fewest = 17;
  char shortest[64];
  for (int n = 1; n <= 17; ++n) {
    std::snprintf(shortest, sizeof shortest, "%.*g", n, value);
    if (std::strtod(shortest, nullptr) == value) {
      fewest = n;
      break;
    }
  }
  const bool reads_back = std::memcmp(&back, &value, sizeof value) == 0;
  const bool real_form = text.find_first_of(".e") != std::string::npos;
  const bool shortest_digits = significant_digits(text) <= fewest;
  found.check(text.c_str(), text.size(),
              reads_back && real_form && shortest_digits ? text.c_str() : shortest);
}

TEST(NumberText, ExactDoublesReadBackWithTheFewestDigits) {
  const struct {
    double value;
    const char *text;
  } forms[] = {
      {0.1 + 0.2, "0.30000000000000004"}, {100.0, "100.0"}, {1.0 / 3, "0.3333333333333333"},
      {-0.0, "-0.0"}, {0.0, "0.0"}, {1e20, "1e+20"}, {1e-5, "1e-05"}, {5e-324, "5e-324"},
      {DBL_MAX, "1.7976931348623157e+308"}, {9007199254740993.0, "9007199254740992.0"},
      {123456.0, "123456.0"}, {1e15, "1000000000000000.0"}, {1e16, "1e+16"},
      {3009430353536497152.0, "3.009430353536497e+18"}, {0.0001, "0.0001"},
  };
  for (const auto &f : forms) {
    char ours[NUMBER_CAP];
    EXPECT_EQ(std::string(ours, format_double_exact(f.value, ours)), f.text);
  }
  std::mt19937_64 random(0x5eed'0020);
  mismatches found;
  for (int i = 0; i < 200'000; ++i) {
    const double value = from_bits(random());
    if (std::isfinite(value)) check_exact_double(found, value);
  }
  for (int exponent = -323; exponent <= 308; ++exponent) {
    const double power = std::pow(10.0, exponent);
    for (double value : {power, -power, std::nextafter(power, 0.0), std::nextafter(power, DBL_MAX)}) {
      if (std::isfinite(value)) check_exact_double(found, value);
    }
  }
  EXPECT_EQ(found.count(), 0) << found.shown();
}

TEST(NumberText, IntegersMatchPrintf) {
  mismatches found;
  for (long long value : {0LL, 1LL, -1LL, 9LL, 10LL, -10LL, LLONG_MAX, LLONG_MIN, LLONG_MIN + 1,
                          LLONG_MAX - 1, 4294967295LL, 4294967296LL, -2147483648LL}) {
    check_int(found, value);
  }
  long long power = 1;
  for (int exponent = 0; exponent <= 18; ++exponent) {
    if (exponent > 0) power *= 10;
    for (long long value : {power, power - 1, power + 1, -power, 1 - power}) {
      check_int(found, value);
    }
  }
  std::mt19937_64 random(0x13);
  for (int i = 0; i < 1'000'000; ++i) {
    // Every magnitude equally often, not mostly 19-digit values.
    const long long value = static_cast<long long>(random()) >> (i % 64);
    check_int(found, value);
  }
  EXPECT_EQ(found.count(), 0) << found.shown();
}

std::string written_utc(long long secs) {
  char text[UTC_CAP];
  const std::size_t length = format_utc(secs, text);
  EXPECT_EQ(std::strlen(text), length) << secs;
  return text;
}

TEST(NumberText, UtcTimesAcrossTheCalendar) {
  const struct {
    long long secs;
    const char *text;
  } cases[] = {
      {0, "1970-01-01T00:00:00Z"},
      {-1, "1969-12-31T23:59:59Z"},
      {1714555800, "2024-05-01T09:30:00Z"},
      {951782400, "2000-02-29T00:00:00Z"},    // a leap day of a 400th year
      {-2203891200, "1900-03-01T00:00:00Z"},  // 1900 had no February 29
      {4107542400 - 1, "2100-02-28T23:59:59Z"},
      {-11670998400, "1600-02-29T00:00:00Z"},
      {-62135596800, "1-01-01T00:00:00Z"},  // the year is not padded
      {-62167219201, "-1-12-31T23:59:59Z"},
      {253402300800, "10000-01-01T00:00:00Z"},
      // The calendar ends where the C library's int for years from 1900
      // ends; past that, the all-zero calendar.
      {67767976233532800, "2147483648-01-01T00:00:00Z"},
      {67768036191676800 - 1, "2147485547-12-31T23:59:59Z"},
      {67768036191676800, "1900-01-00T00:00:00Z"},
      {-67768040609740800, "-2147481748-01-01T00:00:00Z"},
      {-67768040609740800 - 1, "1900-01-00T00:00:00Z"},
      {LLONG_MAX, "1900-01-00T00:00:00Z"},
      {LLONG_MIN, "1900-01-00T00:00:00Z"},
  };
  for (const auto &c : cases) EXPECT_EQ(written_utc(c.secs), c.text) << c.secs;
}

TEST(NumberText, UtcTimesMatchTheCLibrary) {
  std::mt19937_64 random(0x7153);
  // Ten thousand years either side of 1970, then a million either side.
  std::uniform_int_distribution<long long> near(-315'569'520'000, 315'569'520'000);
  std::uniform_int_distribution<long long> far(-31'556'952'000'000, 31'556'952'000'000);
  int mismatches = 0;
  int compared = 0;
  std::string first;
  for (int i = 0; i < 200'000; ++i) {
    const long long secs = i % 2 == 0 ? near(random) : far(random);
    const std::time_t t = static_cast<std::time_t>(secs);
    // Windows' C library converts only the years 1970 to 3000.
    const std::tm *fields = std::gmtime(&t);
    if (fields == nullptr) continue;
    char oracle[64];
    std::strftime(oracle, sizeof oracle, "%Y-%m-%dT%H:%M:%SZ", fields);
    const std::string ours = written_utc(secs);
    ++compared;
    if (ours != oracle && mismatches++ == 0) first = std::string(oracle) + " written as " + ours;
  }
  EXPECT_EQ(mismatches, 0) << first;
  EXPECT_GT(compared, 1000);  // the oracle answered for enough of the times
}

}  // namespace
