// The exact rendering: shortest round-trip numbers in the ECMAScript
// layout, checked against an independent reference built from printf's
// digits and strtod, and ISO dates, times and durations of day serials.
#include "format/exact_text.hpp"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

using sheetdump::append_elapsed;
using sheetdump::append_iso;
using sheetdump::append_shortest;
using sheetdump::Elapsed;
using sheetdump::FormatShows;
using sheetdump::TextBuffer;

std::string shortest(double v) {
  TextBuffer b;
  append_shortest(b, v);
  return std::string(b.view());
}

uint64_t bits(double v) {
  uint64_t u;
  std::memcpy(&u, &v, sizeof u);
  return u;
}

double from_bits(uint64_t u) {
  double v;
  std::memcpy(&v, &u, sizeof v);
  return v;
}

// The value rounded to `k` significant digits by printf, as "d.ddde+XX".
std::string printf_e(double v, int k) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*e", k - 1, v);
  return buf;
}

// A k-digit decimal "d.ddde+XX" that strtod reads back as v, or "" when
// there is none: printf's correctly rounded one, else its neighbour one
// unit of the last digit away, which can be the only one that reads back
// where the gap below v is half the gap above (v a power of two).
std::string k_digits_reading_back(double v, int k) {
  std::string e = printf_e(v, k);
  if (std::strtod(e.c_str(), nullptr) == v) return e;
  size_t epos = e.find('e');
  std::string digits;
  for (size_t i = 0; i < epos; ++i)
    if (e[i] != '.') digits += e[i];
  int exponent = std::atoi(e.c_str() + epos + 1);
  uint64_t n = std::stoull(digits);
  for (int step : {1, -1}) {
    uint64_t m = n + uint64_t(int64_t(step));
    std::string md = std::to_string(m);
    int me = exponent + int(md.size()) - int(digits.size());
    if (int(md.size()) > k) md.pop_back();  // 99..9 + 1: the last digit is a zero
    if (m == 0 || int(md.size()) < k) continue;
    std::string cand = md.substr(0, 1) + (k > 1 ? "." + md.substr(1) : "") + "e" +
                       std::to_string(me);
    if (std::strtod(cand.c_str(), nullptr) == v) return cand;
  }
  return "";
}

// The ECMAScript layout of digits and exponent written out from its rule,
// from a "d.ddde+XX" text.
std::string reference_layout(bool negative, const std::string& e) {
  size_t epos = e.find('e');
  std::string digits;
  for (size_t i = 0; i < epos; ++i)
    if (e[i] != '.') digits += e[i];
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  int kk = int(digits.size());
  int n = std::atoi(e.c_str() + epos + 1) + 1;
  std::string s = negative ? "-" : "";
  if (kk <= n && n <= 21) {
    s += digits + std::string(size_t(n - kk), '0');
  } else if (0 < n && n <= 21) {
    s += digits.substr(0, size_t(n)) + "." + digits.substr(size_t(n));
  } else if (-6 < n && n <= 0) {
    s += "0." + std::string(size_t(-n), '0') + digits;
  } else {
    s += digits.substr(0, 1);
    if (kk > 1) s += "." + digits.substr(1);
    s += "e";
    s += n - 1 < 0 ? "-" : "+";
    s += std::to_string(std::abs(n - 1));
  }
  return s;
}

// The number of significant digits of a plain or exponent text.
int significant_digits(const std::string& s) {
  std::string d;
  for (char c : s) {
    if (c == 'e') break;
    if (c >= '0' && c <= '9') d += c;
  }
  size_t first = d.find_first_not_of('0');
  if (first == std::string::npos) return 1;
  d = d.substr(first);
  while (d.size() > 1 && d.back() == '0') d.pop_back();
  return int(d.size());
}

// Every property of the shortest text, for a finite nonzero v; returns
// the number of failures so that loops can stop early.
int check_shortest(double v) {
  std::string s = shortest(v);
  double back = std::strtod(s.c_str(), nullptr);
  int k = significant_digits(s);
  int failures = 0;
  if (bits(back) != bits(v)) {
    ADD_FAILURE() << s << " reads back as " << printf_e(back, 17) << " not " << printf_e(v, 17);
    ++failures;
  }
  if (k > 1 && !k_digits_reading_back(std::fabs(v), k - 1).empty()) {
    ADD_FAILURE() << s << " is not shortest: " << k_digits_reading_back(std::fabs(v), k - 1)
                  << " reads back too";
    ++failures;
  }
  std::string digits = k_digits_reading_back(std::fabs(v), k);
  if (digits.empty()) {
    ADD_FAILURE() << "no " << k << "-digit decimal reads back as " << printf_e(v, 17);
    return failures + 1;
  }
  std::string want = reference_layout(v < 0, digits);
  if (s != want) {
    ADD_FAILURE() << "layout of " << printf_e(v, 17) << ": got " << s << " want " << want;
    ++failures;
  }
  return failures;
}

TEST(ExactShortest, Examples) {
  const std::pair<double, const char*> cases[] = {
      {0.1, "0.1"},
      {123.456, "123.456"},
      {1234567, "1234567"},
      {100, "100"},
      {1e21, "1e+21"},
      {1.5e300, "1.5e+300"},
      {1e-7, "1e-7"},
      {1.25e-7, "1.25e-7"},
      {0.000001, "0.000001"},
      {0.0000015, "0.0000015"},
      {123456789012345680000.0, "123456789012345680000"},
      {1e20, "100000000000000000000"},
      {0, "0"},
      {-0.0, "0"},
      {-1.5, "-1.5"},
      {-1e21, "-1e+21"},
      {0.30000000000000004, "0.30000000000000004"},
      {9007199254740991, "9007199254740991"},
      {9007199254740992, "9007199254740992"},
      {-9007199254740991, "-9007199254740991"},
      {5e-324, "5e-324"},
      {DBL_MAX, "1.7976931348623157e+308"},
      {DBL_MIN, "2.2250738585072014e-308"},
      {std::numeric_limits<double>::quiet_NaN(), "NaN"},
      {std::numeric_limits<double>::infinity(), "Infinity"},
      {-std::numeric_limits<double>::infinity(), "-Infinity"},
  };
  for (auto [v, want] : cases) EXPECT_EQ(shortest(v), want) << printf_e(v, 17);
}

TEST(ExactShortest, AppendsToWhatIsThere) {
  TextBuffer b;
  b.append("x=");
  append_shortest(b, 2.5);
  b.append(';');
  append_shortest(b, -7);
  EXPECT_EQ(b.view(), "x=2.5;-7");
}

TEST(ExactShortest, LayoutBoundaries) {
  int failures = 0;
  for (double p : {1e-7, 1e-6, 1e-5, 0.1, 1.0, 10.0, 1e15, 1e16, 1e17, 1e20, 1e21, 1e22}) {
    double v = p;
    for (int i = 0; i < 40; ++i) v = std::nextafter(v, 0.0);
    for (int i = 0; i < 81 && failures < 10; ++i, v = std::nextafter(v, INFINITY)) {
      failures += check_shortest(v);
      failures += check_shortest(-v);
    }
  }
  EXPECT_EQ(shortest(std::nextafter(1e21, 0.0)), "999999999999999900000");
  EXPECT_EQ(shortest(std::nextafter(1e-6, 0.0)), "9.999999999999997e-7");
}

TEST(ExactShortest, SpecialRanges) {
  int failures = 0;
  // Integers near 2^53 and beyond, where the integer fast path ends.
  for (double base : {9007199254740992.0, 4503599627370496.0, 18014398509481984.0})
    for (int d = -300; d <= 300 && failures < 10; ++d) failures += check_shortest(base + d);
  // Every power of two, where the gap below is half the gap above.
  for (int e = -1074; e <= 1023 && failures < 10; ++e)
    failures += check_shortest(std::ldexp(1.0, e));
  // Subnormals, DBL_MIN, DBL_MAX and their neighbours.
  for (uint64_t u = 1; u < 2000 && failures < 10; ++u) failures += check_shortest(from_bits(u));
  for (uint64_t u = 0x000FFFFFFFFFF000ull; u < 0x0010000000001000ull && failures < 10; ++u)
    failures += check_shortest(from_bits(u));
  for (uint64_t u = 0x7FEFFFFFFFFFF000ull; u <= 0x7FEFFFFFFFFFFFFFull && failures < 10; ++u)
    failures += check_shortest(from_bits(u));
  // Powers of ten and their neighbours.
  for (int e = -323; e <= 308 && failures < 10; ++e) {
    double p = std::strtod(("1e" + std::to_string(e)).c_str(), nullptr);
    failures += check_shortest(p);
    failures += check_shortest(std::nextafter(p, 0.0));
    failures += check_shortest(std::nextafter(p, INFINITY));
  }
}

// The values of RK records: 30-bit integers, /100 of them, and doubles
// kept by their top 30 bits, also /100.
TEST(ExactShortest, RkForms) {
  int failures = 0;
  std::mt19937_64 rng(1);
  auto rk_integer = [](uint32_t x) { return double(int32_t(x << 2) >> 2); };
  for (int i = 0; i < 60000 && failures < 10; ++i) {
    uint32_t x = uint32_t(rng()) & 0x3FFFFFFF;
    if (i < 1000) x = uint32_t(i);                                   // small ones first
    if (i >= 1000 && i < 2000) x = 0x3FFFFFFF - uint32_t(i - 1000);  // small negatives
    double n = rk_integer(x);
    failures += check_shortest(n);
    failures += check_shortest(n / 100);
    double d = from_bits(uint64_t(x) << 34);
    double dn = from_bits((uint64_t(x) | 0x20000000u) << 34);  // the sign bit set
    if (std::isfinite(d) && d != 0)
      failures += check_shortest(d), failures += check_shortest(d / 100);
    if (std::isfinite(dn) && dn != 0)
      failures += check_shortest(dn), failures += check_shortest(dn / 100);
  }
  // Integer values print every digit; their /100 forms read as written.
  EXPECT_EQ(shortest(rk_integer(0x1FFFFFFF)), "536870911");
  EXPECT_EQ(shortest(rk_integer(0x20000000)), "-536870912");
  EXPECT_EQ(shortest(rk_integer(0x20000000) / 100), "-5368709.12");
  EXPECT_EQ(shortest(rk_integer(12345) / 100), "123.45");
  EXPECT_EQ(shortest(rk_integer(1) / 100), "0.01");
}

TEST(ExactShortest, RandomBitPatterns) {
  int failures = 0;
  std::mt19937_64 rng(2024);
  const char* env = std::getenv("EXACT_TEXT_RANDOM_COUNT");
  long count = env ? std::atol(env) : 1000000;
  for (long i = 0; i < count && failures < 10; ++i) {
    double v = from_bits(rng());
    if (!std::isfinite(v) || v == 0) continue;
    failures += check_shortest(v);
  }
  // Values of ordinary magnitudes, where most cells are.
  for (long i = 0; i < count / 4 && failures < 10; ++i) {
    int e = int(rng() % 60) - 30;
    double v = std::ldexp(double(rng() >> 11) / 9007199254740992.0, e);
    if (v != 0) failures += check_shortest(v);
  }
}

// Decimals of up to six places, the common cell, take a path of their own:
// every property must hold there too, at its edges (1e-6, 1e9, 15 and 16
// digits) and around them.
TEST(ExactShortest, ShortDecimals) {
  int failures = 0;
  std::mt19937_64 rng(6);
  std::vector<double> values = {1e-6,
                                1.5e-6,
                                9.99999e-7,
                                0.1,
                                0.2,
                                0.3,
                                0.1 + 0.2,
                                123456.789,
                                999999999.999999,
                                1e9 - 0.5,
                                1e9,
                                123456789.123456,
                                0.000123,
                                99999999.999999,
                                5e-324};
  for (int i = 0; i < 40000; ++i) {
    static constexpr double kScales[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 1e7};
    double m = double(int64_t(rng() % 2000000000000000) - 1000000000000000);
    values.push_back(m / kScales[rng() % 8]);
    values.push_back(double(int64_t(rng() % 20000000) - 10000000) / kScales[rng() % 8]);
  }
  for (double v : values)
    if (v != 0 && failures < 10) failures += check_shortest(v);
  EXPECT_EQ(failures, 0);
}

// --- Dates and times ---------------------------------------------------------

constexpr FormatShows kDate{true, false, Elapsed::None};
constexpr FormatShows kTime{false, true, Elapsed::None};
constexpr FormatShows kDateTime{true, true, Elapsed::None};
constexpr FormatShows kHours{false, true, Elapsed::Hours};
constexpr FormatShows kMinutes{false, true, Elapsed::Minutes};
constexpr FormatShows kSeconds{false, true, Elapsed::Seconds};

// The ISO text, or "#" when the value goes back to be printed as a number.
std::string iso(double serial, FormatShows shows, bool date1904 = false) {
  TextBuffer b;
  bool ok = append_iso(b, serial, date1904, shows);
  if (!ok) return b.len == 0 ? "#" : "# with text left behind";
  return std::string(b.view());
}

std::string elapsed(double serial, FormatShows shows) {
  TextBuffer b;
  bool ok = append_elapsed(b, serial, shows);
  if (!ok) return b.len == 0 ? "#" : "# with text left behind";
  return std::string(b.view());
}

// A serial of day `day` plus hours, minutes, seconds and milliseconds.
double at(double day, int h, int m, double s) { return day + ((h * 60 + m) * 60 + s) / 86400; }

TEST(ExactIso, The1900Calendar) {
  const std::pair<double, const char*> cases[] = {
      {1, "1900-01-01"},       {2, "1900-01-02"},     {31, "1900-01-31"},    {32, "1900-02-01"},
      {59, "1900-02-28"},      {60, "1900-02-29"},    {61, "1900-03-01"},    {366, "1900-12-31"},
      {367, "1901-01-01"},     {25569, "1970-01-01"}, {36526, "2000-01-01"}, {36585, "2000-02-29"},
      {36586, "2000-03-01"},   {73109, "2100-02-28"}, {73110, "2100-03-01"}, {45292, "2024-01-01"},
      {2958465, "9999-12-31"}, {1.999, "1900-01-01"}, {60.5, "1900-02-29"},
  };
  for (auto [serial, want] : cases) EXPECT_EQ(iso(serial, kDate), want) << serial;
  EXPECT_EQ(iso(60.75, kDateTime), "1900-02-29 18:00:00");
  EXPECT_EQ(iso(2958466, kDate), "#");
  EXPECT_EQ(iso(at(2958465, 23, 59, 59.999), kDateTime), "9999-12-31 23:59:59.999");
  EXPECT_EQ(iso(std::nextafter(at(2958465, 23, 59, 59.9995), INFINITY), kDateTime), "#");
  EXPECT_EQ(iso(std::nextafter(at(2958465, 23, 59, 59.9995), INFINITY), kDate), "#");
  EXPECT_EQ(iso(1e300, kDate), "#");
}

TEST(ExactIso, The1904Calendar) {
  const std::pair<double, const char*> cases[] = {
      {0, "1904-01-01"},     {59, "1904-02-29"},      {60, "1904-03-01"},    {366, "1905-01-01"},
      {24107, "1970-01-01"}, {2957003, "9999-12-31"}, {35064, "2000-01-01"}, {35123, "2000-02-29"},
  };
  for (auto [serial, want] : cases) EXPECT_EQ(iso(serial, kDate, true), want) << serial;
  EXPECT_EQ(iso(0.5, kDateTime, true), "1904-01-01 12:00:00");
  EXPECT_EQ(iso(2957004, kDate, true), "#");
  EXPECT_EQ(iso(-1, kDate, true), "#");
  EXPECT_EQ(iso(-0.25, kTime, true), "#");
}

TEST(ExactIso, DayZeroOfThe1900System) {
  EXPECT_EQ(iso(0, kDate), "#");
  EXPECT_EQ(iso(0.5, kDate), "#");
  EXPECT_EQ(iso(0.5, kDateTime), "12:00:00");
  EXPECT_EQ(iso(0, kDateTime), "00:00:00");
  EXPECT_EQ(iso(0.5, kTime), "12:00:00");
  EXPECT_EQ(iso(-0.0, kDateTime), "00:00:00");
  // A value that rounds up to day 1 is day 1.
  EXPECT_EQ(iso(std::nextafter(1.0, 0.0), kDate), "1900-01-01");
}

TEST(ExactIso, TimesAndRounding) {
  EXPECT_EQ(iso(0.25, kTime), "06:00:00");
  EXPECT_EQ(iso(at(45000, 13, 45, 30), kTime), "13:45:30");
  EXPECT_EQ(iso(at(45000, 13, 45, 30), kDateTime), "2023-03-15 13:45:30");
  EXPECT_EQ(iso(at(45000, 13, 45, 30.25), kDateTime), "2023-03-15 13:45:30.250");
  EXPECT_EQ(iso(at(45000, 13, 45, 30.001), kTime), "13:45:30.001");
  EXPECT_EQ(iso(at(45000, 13, 45, 30.0004), kTime), "13:45:30");
  EXPECT_EQ(iso(at(45000, 13, 45, 59.9996), kTime), "13:46:00");
  // Half a millisecond before midnight carries into the next day. Halves
  // are decided on the stored double, so the value is taken just above.
  double late = std::nextafter(at(45000, 23, 59, 59.9995), INFINITY);
  EXPECT_EQ(iso(late, kDateTime), "2023-03-16 00:00:00");
  EXPECT_EQ(iso(late, kTime), "00:00:00");
  EXPECT_EQ(iso(late, kDate), "2023-03-16");
  double early = std::nextafter(at(45000, 23, 59, 59.9995), 0.0);
  EXPECT_EQ(iso(std::nextafter(early, 0.0), kDateTime), "2023-03-15 23:59:59.999");
  EXPECT_EQ(iso(std::nextafter(at(0, 23, 59, 59.9995), INFINITY), kTime), "00:00:00");
  // One ulp below a whole second prints the whole second.
  for (double day : {0.0, 1.0, 61.0, 45000.0, 2958465.0}) {
    for (int s : {1, 59, 3600, 43200, 86399}) {
      double v = std::nextafter(day + s / 86400.0, 0.0);
      std::string t = iso(v, kTime);
      char want[16];
      std::snprintf(want, sizeof want, "%02d:%02d:%02d", s / 3600, s / 60 % 60, s % 60);
      EXPECT_EQ(t, want) << day << " + " << s;
    }
  }
  EXPECT_EQ(iso(1e300, kTime), "00:00:00");
}

TEST(ExactIso, NumbersInstead) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  for (FormatShows s : {kDate, kTime, kDateTime}) {
    EXPECT_EQ(iso(nan, s), "#");
    EXPECT_EQ(iso(inf, s), "#");
    EXPECT_EQ(iso(-inf, s), "#");
    EXPECT_EQ(iso(-1, s), "#");
    EXPECT_EQ(iso(-1e-300, s), "#");
  }
  EXPECT_EQ(iso(45000, FormatShows{}), "#");
}

TEST(ExactIso, ElapsedCodesAreDurations) {
  EXPECT_EQ(iso(1.5, kHours), "36:00:00");
  EXPECT_EQ(iso(-1.5, kHours), "-36:00:00");
}

// Ordinary dates against the C library's calendar.
TEST(ExactIso, AgreesWithGmtime) {
  std::mt19937_64 rng(7);
  for (int64_t day = 61; day <= 2958465; day += 1 + int64_t(rng() % 13)) {
    int sec = int(rng() % 86400);
    for (bool date1904 : {false, true}) {
      double serial = day + sec / 86400.0;
      double serial1900 = date1904 ? serial + 1462 : serial;
      if (date1904 && serial1900 > 2958466) continue;
      time_t t = time_t(std::llround((serial1900 - 25569) * 86400));
      struct tm tm {};
      ASSERT_NE(gmtime_r(&t, &tm), nullptr);
      char want[32];
      std::strftime(want, sizeof want, "%Y-%m-%d %H:%M:%S", &tm);
      ASSERT_EQ(iso(serial, kDateTime, date1904), want) << serial << (date1904 ? " (1904)" : "");
    }
  }
}

TEST(ExactElapsed, Durations) {
  EXPECT_EQ(elapsed(1.5, kHours), "36:00:00");
  EXPECT_EQ(elapsed(0.5, kHours), "12:00:00");
  EXPECT_EQ(elapsed(0.25, kHours), "06:00:00");
  EXPECT_EQ(elapsed(0, kHours), "00:00:00");
  EXPECT_EQ(elapsed(100, kHours), "2400:00:00");
  EXPECT_EQ(elapsed(at(3, 1, 2, 3.5), kHours), "73:02:03.500");
  EXPECT_EQ(elapsed(1.5, kMinutes), "2160:00");
  EXPECT_EQ(elapsed(at(0, 0, 1, 5), kMinutes), "01:05");
  EXPECT_EQ(elapsed(1.5, kSeconds), "129600");
  EXPECT_EQ(elapsed(at(0, 0, 0, 5.25), kSeconds), "05.250");
  EXPECT_EQ(elapsed(-1.5, kHours), "-36:00:00");
  EXPECT_EQ(elapsed(-0.25, kMinutes), "-360:00");
  EXPECT_EQ(elapsed(-1e-12, kHours), "00:00:00");  // rounds to zero: no sign
  EXPECT_EQ(elapsed(std::nextafter(at(0, 23, 59, 59.9995), INFINITY), kHours), "24:00:00");
  EXPECT_EQ(elapsed(std::nextafter(1.0 / 86400, 0.0), kSeconds), "01");
  EXPECT_EQ(elapsed(2958465.5, kHours), "71003172:00:00");
}

TEST(ExactElapsed, NumbersInstead) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  for (FormatShows s : {kHours, kMinutes, kSeconds}) {
    EXPECT_EQ(elapsed(nan, s), "#");
    EXPECT_EQ(elapsed(inf, s), "#");
    EXPECT_EQ(elapsed(-inf, s), "#");
    EXPECT_EQ(elapsed(1e300, s), "#");
    EXPECT_EQ(elapsed(-1e300, s), "#");
    EXPECT_EQ(elapsed(2958466, s), "#");
    EXPECT_EQ(elapsed(-2958466, s), "#");
  }
  EXPECT_EQ(elapsed(1.5, kTime), "#");
}

}  // namespace
