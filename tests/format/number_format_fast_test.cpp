// The fast paths of the common codes (General, plain fixed and percent
// codes, bounded date sections) against the token walk they stand in for:
// the same bytes for every value, and a hand-over wherever rounding,
// notation or range would make them differ.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "format/number_format.hpp"

namespace sheetdump {
namespace {

// The text through the token walk and General body only.
std::string walked(const CompiledFormat& f, double v, bool date1904 = false) {
  CompiledFormat slow = f;
  slow.fast = FastPath::kNone;
  std::string out;
  render_number(slow, v, date1904, out);
  return out;
}

// The fast text, or "(none)" where it hands over.
std::string fast(const CompiledFormat& f, double v, bool date1904 = false) {
  char buf[kFastRoom];
  const char* end = write_number_fast(f, v, date1904, buf);
  return end == nullptr ? "(none)" : std::string(buf, size_t(end - buf));
}

TEST(NumberFormatFast, DecidedPerCode) {
  struct Row {
    const char* code;
    FastPath fast;
  };
  const Row rows[] = {
      {"General", FastPath::kGeneral},
      {"", FastPath::kGeneral},
      {"0", FastPath::kFixed},
      {"0.00", FastPath::kFixed},
      {"#,##0", FastPath::kFixed},
      {"#,##0.00", FastPath::kFixed},
      {"0%", FastPath::kFixed},
      {"0.00%", FastPath::kFixed},
      {"0.000000000", FastPath::kFixed},
      {"0.0000000000", FastPath::kNone},
      {"0.", FastPath::kNone},
      {"#,##0.00;-#,##0.00", FastPath::kNone},
      {"#0.00", FastPath::kNone},
      {"0.0#", FastPath::kNone},
      {"[Red]0.00", FastPath::kNone},
      {"0.00E+00", FastPath::kNone},
      {"m/d/yy", FastPath::kDate},
      {"m/d/yyyy h:mm", FastPath::kDate},
      {"[h]:mm:ss", FastPath::kDate},
      {"dddd, mmmm d, yyyy", FastPath::kDate},
      {"[<1]h:mm", FastPath::kNone},
      {"m/d/yy;@", FastPath::kNone},
      {"General;-General", FastPath::kNone},
  };
  for (const Row& r : rows) EXPECT_EQ(compile_format(r.code).fast, r.fast) << r.code;
  // A date section with General in it, or a text longer than the room.
  EXPECT_EQ(compile_format("d General").fast, FastPath::kNone);
  EXPECT_EQ(compile_format("d \"" + std::string(kFastRoom, 'x') + "\"").fast, FastPath::kNone);
}

TEST(NumberFormatFast, GeneralBoundaries) {
  const CompiledFormat g = compile_format("General");
  struct Row {
    double v;
    const char* fast;  // "(none)": hands over
  };
  const Row rows[] = {
      {0, "0"},
      {-0.0, "0"},
      {7, "7"},
      {-99999, "-99999"},
      {12345678901, "12345678901"},  // 11 characters
      {99999999999, "99999999999"},
      {100000000000, "1E+11"},  // 1e11: scientific
      {123456789012, "1.23457E+11"},
      {-999999500000, "-1E+12"},  // six digits carried into a new one
      {999999999999999, "1E+15"},
      {1e15, "(none)"},
      {1234567890.5, "1234567891"},  // ten significant digits, half up
      {123456789.12, "123456789.1"},
      {99999999999.5, "1E+11"},  // rounded past 11 characters
      {9999999999.5, "10000000000"},
      {0.125, "0.125"},
      {-1.5, "-1.5"},
      {0.0001, "0.0001"},
      {0.000123, "0.000123"},
      {0.00001, "1E-05"},
      {0.000012, "1.2E-05"},
      {0.000001, "1E-06"},
      {0.0000001, "(none)"},  // more than six decimals
      {0.1 + 0.2, "(none)"},  // not a short decimal
      {1e100, "(none)"},
      {std::numeric_limits<double>::infinity(), "(none)"},
      {std::nan(""), "(none)"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(fast(g, r.v), r.fast) << r.v;
    EXPECT_EQ(walked(g, r.v), std::string(r.fast) == "(none)" ? walked(g, r.v) : r.fast) << r.v;
  }
}

TEST(NumberFormatFast, FixedBoundaries) {
  struct Row {
    const char* code;
    double v;
    const char* fast;
  };
  const Row rows[] = {
      {"0.00", 2.675, "2.68"},  // the decimal, not the double, rounds
      {"0.00", -2.675, "-2.68"},
      {"0.00", 0.005, "0.01"},
      {"0.00", 0.0049, "0.00"},
      {"0.00", -0.001, "-0.00"},  // the sign of the value stays
      {"0.00", -0.0, "0.00"},
      {"0", 0.5, "1"},
      {"0", 1e14, "100000000000000"},
      {"0.0", 0.95, "1.0"},
      {"#,##0", 0, "0"},
      {"#,##0", 999, "999"},
      {"#,##0", -1000, "-1,000"},
      {"#,##0", 999999.5, "1,000,000"},
      {"#,##0.00", 1234567.891, "1,234,567.89"},
      {"#,##0.00", 0.5, "0.50"},
      {"0%", 0.125, "13%"},
      {"0%", 7, "700%"},
      {"0.00%", 0.00005, "0.01%"},
      {"0.00%", 999999999999999, "99999999999999900.00%"},
      {"0.000000000", 0.000001, "0.000001000"},
      {"0.00", 0.1 + 0.2, "(none)"},
      {"0.00", 1e15, "(none)"},
      {"0.00", std::nan(""), "(none)"},
      {"#,##0", -std::numeric_limits<double>::infinity(), "(none)"},
  };
  for (const Row& r : rows) {
    const CompiledFormat f = compile_format(r.code);
    EXPECT_EQ(fast(f, r.v), r.fast) << r.code << " " << r.v;
    if (std::string(r.fast) != "(none)") {
      EXPECT_EQ(walked(f, r.v), r.fast) << r.code << " " << r.v;
    }
  }
}

TEST(NumberFormatFast, DatesHandOverOutOfRange) {
  const CompiledFormat f = compile_format("m/d/yyyy h:mm");
  EXPECT_EQ(fast(f, 45000.75), "3/15/2023 18:00");
  EXPECT_EQ(fast(f, 0), "1/0/1900 0:00");
  EXPECT_EQ(fast(f, 60), "2/29/1900 0:00");
  EXPECT_EQ(fast(f, 2958465.99), "12/31/9999 23:45");
  EXPECT_EQ(fast(f, 2958465.9999999), "(none)");  // rounds into the year 10000
  EXPECT_EQ(fast(f, 2958466), "(none)");
  EXPECT_EQ(fast(f, -1), "(none)");
  EXPECT_EQ(fast(f, std::nan("")), "(none)");
  EXPECT_EQ(fast(f, 1, true), "1/2/1904 0:00");
}

// Every value of a wide spread renders the same bytes through the fast
// path as through the token walk.
TEST(NumberFormatFast, AgreesWithTokenWalk) {
  const char* codes[] = {"General",       "0",
                         "0.00",          "#,##0",
                         "#,##0.00",      "0%",
                         "0.00%",         "0.0000",
                         "0.000000000",   "m/d/yy",
                         "m/d/yyyy h:mm", "h:mm:ss.00 AM/PM",
                         "[h]:mm:ss",     "dddd mmmm d yyyy"};
  std::vector<double> values = {0.5,     1.5,      2.5,  0.05,      0.15,          0.25,
                                0.35,    0.45,     0.55, 99999.995, 9999999999.95, 999999999.995,
                                0.00015, 0.000015, 5e-5, 5e-7};
  static constexpr double kPow10[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 1e7};
  uint64_t x = 0x2545F4914F6CDD1Dull;
  for (int i = 0; i < 60000; ++i) {
    x ^= x << 13, x ^= x >> 7, x ^= x << 17;
    const uint64_t digits = kPow10[1 + x % 7] * (1 + (x >> 8) % 1000);
    double v = double((x >> 20) % digits) / kPow10[(x >> 40) % 8];
    if (i % 5 == 0) v = v * 1e6;                     // large values near the limits
    if (i % 7 == 0) v = double(x >> 12) / 1e4;       // up to 10^11 with four decimals
    if (i % 11 == 0) v = double(x >> 11) * 0x1p-40;  // not short decimals
    if ((x >> 60) & 1) v = -v;
    values.push_back(v);
  }
  int failures = 0;
  for (const char* code : codes) {
    const CompiledFormat f = compile_format(code);
    ASSERT_NE(f.fast, FastPath::kNone) << code;
    int handled = 0;
    for (double v : values) {
      char buf[kFastRoom];
      const char* end = write_number_fast(f, v, false, buf);
      if (end == nullptr) continue;
      ++handled;
      std::string want = walked(f, v);
      if (std::string_view(buf, size_t(end - buf)) != want && ++failures <= 10)
        ADD_FAILURE() << code << " " << v << ": " << std::string_view(buf, size_t(end - buf))
                      << " vs " << want;
      std::string through;
      render_number(f, v, false, through);
      if (through != want && ++failures <= 10) ADD_FAILURE() << code << " " << v;
    }
    EXPECT_GT(handled, int(values.size()) / 4) << code;
  }
  EXPECT_EQ(failures, 0);
}

}  // namespace
}  // namespace sheetdump
