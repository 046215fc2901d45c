// Number rendering: the general rule's choice of decimals, and proof that
// the fast formatters print exactly what the C library's printf prints.
#include "format/number_text.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "format/builtin_formats.hpp"

namespace {

using sheetdump::append_fixed;
using sheetdump::append_general;
using sheetdump::append_printf;
using sheetdump::decimal_places;
using sheetdump::TextBuffer;

std::string general(double v) {
  TextBuffer b;
  append_general(b, v);
  return std::string(b.view());
}

std::string c_printf(const char* pattern, double v) {
  char buf[1024];
  int n = std::snprintf(buf, sizeof buf, pattern, v);
  return std::string(buf, size_t(n));
}

// True when `got` is exactly what snprintf prints for `pattern` and `v`;
// no allocation, as it runs millions of times.
bool same_as_snprintf(std::string_view got, const char* pattern, double v) {
  char buf[1024];
  int n = std::snprintf(buf, sizeof buf, pattern, v);
  return n >= 0 && got == std::string_view(buf, size_t(n));
}

struct GeneralCase {
  double value;
  int places;
  const char* text;
};

TEST(DecimalPlaces, GeneralRuleTable) {
  const GeneralCase cases[] = {
      {0, 0, "0"},
      {-1, 0, "-1"},
      {0.1, 1, "0.1"},
      {-1.25, 2, "-1.25"},
      {123.456, 3, "123.456"},
      {12345.6789, 4, "12345.6789"},
      {0.00001, 5, "0.00001"},
      {0.000001, 0, "0"},
      {0.123456, 5, "0.12346"},
      {0.99999999, 5, "1.00000"},
      {1.3, 1, "1.3"},
      {1.2, 5, "1.20000"},
      {10.1, 5, "10.10000"},
      {19.99, 5, "19.99000"},
      {1.005, 5, "1.00500"},
      {2147483647.5, 1, "2147483647.5"},
      // The procedure, not its summary: 0.9 x 10000 rounds to exactly 9000.
      {3.9, 4, "3.9000"},
      {0.29, 3, "0.290"},
      // The fraction is taken exactly, also beyond 32 bits.
      {3000000000.25, 2, "3000000000.25"},
      {-3000000000.25, 2, "-3000000000.25"},
      {4294967296.5, 1, "4294967296.5"},
      {1e15 + 0.5, 1, "1000000000000000.5"},
      {4503599627370495.5, 1, "4503599627370495.5"},  // 2^52 - 0.5
      {9007199254740993.0, 0, "9007199254740992"},    // beyond 2^53: no fraction
      {1e300, 0, nullptr},
      {-0.0, 0, "-0"},
      {0.5, 1, "0.5"},
      {2.5, 1, "2.5"},
      {-0.000004, 0, "-0"},
      {5e-324, 0, "0"},
  };
  for (const GeneralCase& c : cases) {
    SCOPED_TRACE(c_printf("%.17g", c.value));
    EXPECT_EQ(decimal_places(c.value), c.places);
    if (c.text != nullptr) {
      EXPECT_EQ(general(c.value), c.text);
    }
    EXPECT_EQ(general(c.value), c_printf(("%." + std::to_string(c.places) + "f").c_str(), c.value));
  }
}

TEST(DecimalPlaces, NotANumberAndInfinitiesPrintAsTheCLibraryDoes) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  for (double v : {nan, -nan, inf, -inf}) {
    EXPECT_EQ(decimal_places(v), 0);
    EXPECT_EQ(general(v), c_printf("%.0f", v));
  }
  EXPECT_EQ(general(inf), "inf");
  EXPECT_EQ(general(-inf), "-inf");
  EXPECT_EQ(general(nan), c_printf("%.0f", nan));
}

// The procedure of the general rule written out step by step, every
// operation a separately rounded double operation; only the fraction uses
// an exact truncation (so it holds beyond 32 bits too).
int reference_decimal_places(double v) {
  if (std::isnan(v) || std::isinf(v)) return 0;
  double a = v > -v ? v : -v;
  double f = a - std::trunc(a);
  if (f <= 0) return 0;
  const double multipliers[] = {10000, 1000, 100, 10, 1};
  int result = 5;
  for (double m : multipliers) {
    volatile double x = f * m;
    volatile double whole = double(int32_t(x));
    volatile double frac = x - whole;
    volatile double scaled = frac * 10;
    if (int32_t(scaled) > 0) return result;
    --result;
  }
  return 0;
}

TEST(DecimalPlaces, FollowsTheProcedureForRandomDecimals) {
  std::mt19937_64 rng(12345);
  int mismatches = 0;
  for (int i = 0; i < 300000 && mismatches < 10; ++i) {
    int digits = int(rng() % 8);
    int64_t mantissa = int64_t(rng() % 100000000000ULL) - 50000000000LL;
    char text[64];
    std::snprintf(text, sizeof text, "%lld.%0*lld", static_cast<long long>(mantissa / 1000),
                  digits == 0 ? 1 : digits,
                  static_cast<long long>(rng() % static_cast<uint64_t>(std::pow(10, digits))));
    double v = std::strtod(text, nullptr);
    if (decimal_places(v) != reference_decimal_places(v)) {
      ADD_FAILURE() << text << ": " << decimal_places(v) << " vs " << reference_decimal_places(v);
      ++mismatches;
    }
  }
}

TEST(NumberText, AppendAddsToWhatTheBufferHolds) {
  TextBuffer b;
  b.append("x=");
  append_fixed(b, 1.5, 2);
  b.append(';');
  append_general(b, 0.25);
  append_printf(b, "[%.0f%%]", 2.5);
  EXPECT_EQ(b.view(), "x=1.50;0.25[2%]");
  b.clear();
  EXPECT_EQ(b.view(), "");
}

TEST(NumberText, PatternWithoutConversionPrintsOnlyItself) {
  TextBuffer b;
  append_printf(b, "##0.0E0", 1234.56);
  EXPECT_EQ(b.view(), "##0.0E0");
  for (const char* pattern : {"%f", "%e", "%.3e", "%.0e", "100%%"}) {
    TextBuffer c;
    append_printf(c, pattern, -0.5);
    EXPECT_EQ(c.view(), c_printf(pattern, -0.5)) << pattern;
  }
}

TEST(NumberText, LongestRenderingsFitTheBuffer) {
  const double max = std::numeric_limits<double>::max();
  for (const sheetdump::FormatInfo& f : sheetdump::builtin_formats()) {
    if (f.kind != sheetdump::FORMAT_NUMBER) continue;
    for (double v : {max, -max}) {
      TextBuffer b;
      append_printf(b, f.pattern, v);
      EXPECT_EQ(b.view(), c_printf(f.pattern, v)) << f.pattern;
    }
  }
  TextBuffer b;
  append_fixed(b, -max, 17);
  EXPECT_EQ(b.view(), c_printf("%.17f", -max));
}

// ---------------------------------------------------------------------
// The fast formatters against snprintf over a large, varied set of values.

double from_bits(uint64_t bits) {
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

std::vector<double> make_comparison_values() {
  std::vector<double> values;
  std::mt19937_64 rng(20261209);

  // Special values and neighbours of rounding boundaries.
  const double inf = std::numeric_limits<double>::infinity();
  const double specials[] = {0.0,
                             -0.0,
                             inf,
                             -inf,
                             std::numeric_limits<double>::quiet_NaN(),
                             -std::numeric_limits<double>::quiet_NaN(),
                             from_bits(0x7FF0000000000001ULL),  // signalling NaN
                             from_bits(0xFFF8DEADBEEF0001ULL),  // NaN with a payload
                             std::numeric_limits<double>::max(),
                             std::numeric_limits<double>::min(),
                             std::numeric_limits<double>::denorm_min(),
                             -std::numeric_limits<double>::denorm_min(),
                             1e22,
                             1e23,
                             -1e22,
                             9007199254740992.0,
                             9007199254740993.0,
                             4503599627370495.5,
                             0.5,
                             1.5,
                             2.5,
                             -2.5,
                             0.125,
                             0.375,
                             1.005,
                             0.045,
                             1234.56,
                             0.99999999,
                             9.9999949999999,
                             999999.5,
                             0.000005,
                             0.0000049999999999999996,
                             2147483647.5,
                             3000000000.25};
  for (double v : specials) values.push_back(v);

  // Random bit patterns: every magnitude, subnormals and NaNs included.
  for (int i = 0; i < 15000; ++i) values.push_back(from_bits(rng()));

  // Subnormals.
  for (int i = 0; i < 2000; ++i) values.push_back(from_bits((rng() & 0x800FFFFFFFFFFFFFULL)));

  // Magnitudes of everyday data, 1e-8 to 1e17, evenly over the exponents.
  std::uniform_real_distribution<double> exponent(-8, 17);
  for (int i = 0; i < 60000; ++i) {
    double v = std::pow(10.0, exponent(rng));
    values.push_back(rng() & 1 ? -v : v);
  }

  // Decimals with 0 to 6 digits, as a workbook's cells typically hold them.
  for (int i = 0; i < 150000; ++i) {
    int digits = int(rng() % 7);
    uint64_t scale = 1;
    for (int d = 0; d < digits; ++d) scale *= 10;
    int64_t whole = int64_t(rng() % 2000000) - 1000000;
    if (rng() % 4 == 0) whole = int64_t(rng() % 100);
    char text[64];
    std::snprintf(text, sizeof text, "%lld.%0*llu", static_cast<long long>(whole),
                  digits == 0 ? 1 : digits, static_cast<unsigned long long>(rng() % scale));
    values.push_back(std::strtod(text, nullptr));
  }

  // Integers, small and large.
  for (int i = 0; i < 10000; ++i) {
    values.push_back(double(int64_t(rng() % 20001) - 10000));
    values.push_back(double(int64_t(rng())));
  }

  // Exact ties at every precision the patterns use: odd multiples of
  // 2^-k, which printf rounds to even on the exact value.
  for (int k = 1; k <= 20; ++k) {
    for (int i = 0; i < 1000; ++i) {
      double odd = double(2 * int64_t(rng() % 1000000) + 1);
      double v = std::ldexp(odd, -k);
      values.push_back(rng() & 1 ? -v : v);
    }
  }
  // Ties of the decimal kind that are not exact in binary.
  for (int i = 0; i < 10000; ++i) {
    char text[64];
    std::snprintf(text, sizeof text, "%llu.%llu5", static_cast<unsigned long long>(rng() % 10000),
                  static_cast<unsigned long long>(rng() % 10000));
    values.push_back(std::strtod(text, nullptr));
  }
  // Powers of ten and two and their neighbours.
  for (int e = -30; e <= 30; ++e) {
    double p = std::pow(10.0, e);
    values.push_back(p);
    values.push_back(std::nextafter(p, 0.0));
    values.push_back(std::nextafter(p, inf));
  }
  for (int e = -1074; e <= 1023; e += 7) values.push_back(std::ldexp(1.0, e));
  // Around 2^31, where the writer changes from 32-bit to 64-bit whole
  // parts, and fractions that round up into the whole part.
  for (double edge : {2147483647.0, 2147483648.0, 4294967295.0, 4294967296.0}) {
    for (double d : {-0.5, -0.0049, -1e-7, 0.0, 1e-7, 0.0049, 0.5}) {
      values.push_back(edge + d);
      values.push_back(-(edge + d));
    }
    values.push_back(std::nextafter(edge, 0.0));
    values.push_back(std::nextafter(edge, inf));
  }
  for (int k = 1; k <= 9; ++k) {
    double nines = 1.0 - std::pow(10.0, -k);
    for (double whole : {0.0, 1.0, 9.0, 99.0, 2147483646.0}) values.push_back(whole + nines);
  }
  return values;
}

const std::vector<double>& comparison_values() {
  static const std::vector<double> values = make_comparison_values();
  return values;
}

TEST(NumberText, FixedPrecisionsMatchSnprintfByteForByte) {
  const std::vector<double>& values = comparison_values();
  // 6 to 9 decimals: the exact integer path goes that far.
  const char* const patterns[] = {"%.0f", "%.1f", "%.2f", "%.3f", "%.4f",
                                  "%.5f", "%.6f", "%.7f", "%.8f", "%.9f"};
  int failures = 0;
  for (double v : values) {
    for (int p = 0; p <= 9; ++p) {
      TextBuffer b;
      append_fixed(b, v, p);
      if (!same_as_snprintf(b.view(), patterns[p], v) && ++failures <= 10)
        ADD_FAILURE() << patterns[p] << " of " << c_printf("%a", v) << ": got '" << b.view()
                      << "', snprintf gives '" << c_printf(patterns[p], v) << "'";
    }
    TextBuffer g;
    append_general(g, v);
    if (!same_as_snprintf(g.view(), patterns[decimal_places(v)], v) && ++failures <= 10)
      ADD_FAILURE() << "general of " << c_printf("%a", v) << ": got '" << g.view()
                    << "', snprintf gives '" << c_printf(patterns[decimal_places(v)], v) << "'";
  }
  EXPECT_EQ(failures, 0) << "of " << values.size() << " values";
}

// 2-decimal amounts, the doubles nearest to c / 100, take a path of their
// own from 20.48 on: every c up to 40,000.00 and past 20.48 by a margin,
// then c drawn from every magnitude up to 2^31 (beyond which the general
// path takes over), and the neighbours of powers of two, where the
// double's spacing doubles.
TEST(NumberText, GeneralRuleOfHundredthsMatchesSnprintf) {
  const char* const patterns[] = {"%.0f", "%.1f", "%.2f", "%.3f", "%.4f", "%.5f"};
  std::vector<uint64_t> hundredths;
  for (uint64_t c = 1; c <= 4000000; ++c) hundredths.push_back(c);
  std::mt19937_64 rng(20261210);
  const uint64_t top = (uint64_t(1) << 31) * 100 + 100;
  for (int i = 0; i < 400000; ++i) {
    const int bits = 12 + int(rng() % 27);  // 2^12 to 2^38 hundredths
    hundredths.push_back((rng() % (uint64_t(1) << bits)) % top);
  }
  for (int k = 4; k <= 31; ++k)
    for (int64_t d = -300; d <= 300; ++d) hundredths.push_back(uint64_t((int64_t(100) << k) + d));
  int failures = 0;
  for (uint64_t c : hundredths) {
    for (double v : {double(c) / 100.0, -(double(c) / 100.0)}) {
      TextBuffer g;
      append_general(g, v);
      const char* pattern = patterns[decimal_places(v)];
      if (!same_as_snprintf(g.view(), pattern, v) && ++failures <= 10)
        ADD_FAILURE() << "general of " << c << " hundredths (" << c_printf("%a", v) << "): got '"
                      << g.view() << "', snprintf gives '" << c_printf(pattern, v) << "'";
    }
  }
  EXPECT_EQ(failures, 0) << "of " << hundredths.size() << " amounts";
}

TEST(NumberText, FixedRoundingCarriesAndTies) {
  struct Case {
    double v;
    int precision;
    const char* text;
  };
  const Case cases[] = {
      {9.9999999, 2, "10.00"},
      {9.995, 2, "9.99"},
      {0.5, 0, "0"},
      {1.5, 0, "2"},
      {2.5, 0, "2"},
      {-0.0, 2, "-0.00"},
      {-0.4, 0, "-0"},
      {0.125, 2, "0.12"},
      {0.375, 2, "0.38"},
      {99.9999999995, 9, "100.000000000"},
      {2147483647.999, 2, "2147483648.00"},
      {2147483647.5, 0, "2147483648"},
      {-1.05, 1, "-1.1"},
      {1e-10, 9, "0.000000000"},
      {0.0000000005, 9, "0.000000001"},
  };
  for (const Case& c : cases) {
    TextBuffer b;
    append_fixed(b, c.v, c.precision);
    EXPECT_EQ(b.view(), c.text) << c.v << " to " << c.precision;
  }
}

TEST(NumberText, EveryTablePatternMatchesSnprintfByteForByte) {
  const std::vector<double>& values = comparison_values();
  std::set<std::string> patterns;
  for (const sheetdump::FormatInfo& f : sheetdump::builtin_formats())
    if (f.kind == sheetdump::FORMAT_NUMBER) patterns.insert(f.pattern);
  ASSERT_EQ(patterns.size(), 14u);  // 20 rows share 14 distinct patterns
  int failures = 0;
  size_t step = 0;
  for (const std::string& pattern : patterns) {
    // Each pattern sees every fourth value, a different quarter each, plus
    // all specials at the front.
    ++step;
    for (size_t i = 0; i < values.size(); ++i) {
      if (i >= 64 && (i + step) % 4 != 0) continue;
      TextBuffer b;
      append_printf(b, pattern.c_str(), values[i]);
      if (!same_as_snprintf(b.view(), pattern.c_str(), values[i]) && ++failures <= 10)
        ADD_FAILURE() << pattern << " of " << c_printf("%a", values[i]) << ": got '" << b.view()
                      << "', snprintf gives '" << c_printf(pattern.c_str(), values[i]) << "'";
    }
  }
  EXPECT_EQ(failures, 0);
}

}  // namespace

namespace {

// ---------------------------------------------------------------------
// The digit writers under the fast paths, against snprintf.

TEST(DigitWriters, WriteDecimalMatchesSnprintf) {
  std::vector<uint64_t> values = {0,
                                  9,
                                  10,
                                  99,
                                  100,
                                  101,
                                  UINT32_MAX,
                                  uint64_t(UINT32_MAX) + 1,
                                  999999999,
                                  1000000000,
                                  1000000000000000000ull,
                                  UINT64_MAX};
  for (uint64_t p = 1; p <= 1000000000000000000ull; p *= 10) {
    values.push_back(p - 1);
    values.push_back(p);
    values.push_back(p + 1);
  }
  std::mt19937_64 rng(17);
  for (int i = 0; i < 20000; ++i) values.push_back(rng() >> (rng() % 64));
  for (uint64_t v : values) {
    char got[24];
    char* end = sheetdump::write_decimal(got, v);
    char want[32];
    int n = std::snprintf(want, sizeof want, "%llu", static_cast<unsigned long long>(v));
    EXPECT_EQ(std::string_view(got, size_t(end - got)), std::string_view(want, size_t(n))) << v;
  }
}

// m / 10^scale as printf prints the nearest double with `precision`
// decimals: exact for scale 0 below 2^53 and for scale 2 below 2^29 (the
// RK range), which is all the fast paths use.
TEST(DigitWriters, ScaledDecimalsMatchSnprintf) {
  std::mt19937_64 rng(42);
  std::vector<int64_t> values = {0,
                                 1,
                                 -1,
                                 5,
                                 -5,
                                 99,
                                 100,
                                 -100,
                                 101,
                                 12345,
                                 -12345,
                                 (int64_t(1) << 29) - 1,
                                 -(int64_t(1) << 29)};
  for (int i = 0; i < 20000; ++i)
    values.push_back(int64_t(rng() % (uint64_t(1) << 30)) - (int64_t(1) << 29));
  for (int64_t n : values) {
    bool negative = n < 0;
    uint64_t m = negative ? uint64_t(-n) : uint64_t(n);
    for (int precision = 0; precision <= 6; ++precision) {
      TextBuffer b;
      sheetdump::append_scaled(b, negative, m, 0, precision);
      EXPECT_EQ(b.view(), c_printf(("%." + std::to_string(precision) + "f").c_str(), double(n)))
          << n;
      if (precision < 2 || m == 0) continue;
      b.clear();
      sheetdump::append_scaled(b, negative, m, 2, precision);
      EXPECT_EQ(b.view(),
                c_printf(("%." + std::to_string(precision) + "f").c_str(), double(n) / 100.0))
          << n << " " << precision;
    }
    TextBuffer i;
    sheetdump::append_integer(i, n);
    EXPECT_EQ(i.view(), c_printf("%.0f", double(n))) << n;
  }
}

TEST(DigitWriters, ScaledDecimalsNearTheBufferEndStayInside) {
  TextBuffer b;
  b.len = b.data.size() - 3;
  sheetdump::append_scaled(b, true, 123456789, 2, 6);
  EXPECT_EQ(b.len, b.data.size());
  EXPECT_EQ(std::string_view(b.data.data() + b.data.size() - 3, 3), "-12");
}

}  // namespace
