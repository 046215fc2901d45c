// Display texts of number-format codes, one table per feature of the code
// language, with the texts the spreadsheet application shows. Cases marked
// UNSURE are decided rules where the application's output was not certain.
#include "format/number_format.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

namespace sheetdump {
namespace {

struct Case {
  const char* code;
  double value;
  const char* expected;
};

std::string fmt(std::string_view code, double v, bool date1904 = false) {
  CompiledFormat f = compile_format(code);
  std::string out = "<";
  render_number(f, v, date1904, out);
  return out.substr(1);
}

void run(const std::vector<Case>& cases, bool date1904 = false) {
  for (const Case& c : cases)
    EXPECT_EQ(fmt(c.code, c.value, date1904), c.expected)
        << "code " << c.code << " value " << c.value;
}

TEST(NumberFormat, General) {
  run({
      {"General", 0, "0"},
      {"General", 1, "1"},
      {"General", -1.5, "-1.5"},
      {"General", 0.1 + 0.2, "0.3"},
      {"General", 123456789012, "1.23457E+11"},
      {"General", 12345678901, "12345678901"},
      {"General", 100000000000, "1E+11"},
      {"General", 1e-10, "1E-10"},
      {"General", 1234567890.5, "1234567891"},
      {"General", 1.23456789012, "1.23456789"},
      {"General", 0.0001, "0.0001"},
      {"General", 0.000123456789, "0.000123457"},
      {"General", 0.00001, "1E-05"},
      {"General", 1e100, "1E+100"},
      {"General", 99999999999.5, "1E+11"},
      {"", 42, "42"},
      {"general", 3.25, "3.25"},
      {"General;-General", -2, "-2"},
      {"\"x\"General", 5, "x5"},
  });
  EXPECT_EQ(fmt("0", std::numeric_limits<double>::infinity()), "#NUM!");
  EXPECT_EQ(fmt("0", std::nan("")), "#NUM!");
}

TEST(NumberFormat, Digits) {
  run({
      {"0", 0, "0"},
      {"0", 2.5, "3"},
      {"0", -2.5, "-3"},
      {"0.00", 2.675, "2.68"},
      {"0.00", 1.005, "1.01"},
      {"0.00", 0.125, "0.13"},
      {"0.00", 1234.5, "1234.50"},
      {"#,##0.00", 1234.5, "1,234.50"},
      {"#,##0", 1234567.4, "1,234,567"},
      {"#,##0", 0, "0"},
      {"#,###", 0, ""},
      {"#.##", 0.5, ".5"},
      {"0.#", 1, "1."},
      {"0.0#", 1.5, "1.5"},
      {"0.0#", 1.567, "1.57"},
      {"00000", 42, "00042"},
      {"???.??", 1.5, "  1.5 "},
      {".00", 12.5, "12.50"},
      {"0,000,000", 42, "0,000,042"},
      {"0", 1e20, "100000000000000000000"},
      {"0", 123456789012345678.0, "123456789012346000"},
      {"0.00", 0.004, "0.00"},
      {"0", -0.4, "-0"},  // UNSURE: the application keeps the sign of a value rounding to 0
      {"\"$\"#,##0.00", 1234.5, "$1,234.50"},
      {"\"$\"#,##0", -5, "-$5"},
      {"$#,##0", 12, "$12"},
      {"0.0.0", 1.25, "1.2.5"},  // UNSURE: a second point is a literal,
  });
}

TEST(NumberFormat, ScalingAndPercent) {
  run({
      {"0%", 0.5, "50%"},
      {"0.0%", 0.125, "12.5%"},
      {"0.00%", 1, "100.00%"},
      {"0%%", 0.01, "100%%"},
      {"#,##0,", 1234567, "1,235"},
      {"0.0,,", 1234567, "1.2"},
      {"0,\"K\"", 1500, "2K"},
      {"#,##0.0,,\" M\"", 12345678, "12.3 M"},
  });
}

TEST(NumberFormat, LiteralsAndPlacement) {
  run({
      {"000-00-0000", 123456789, "123-45-6789"},
      {"(###) ###-####", 5551234567, "(555) 123-4567"},
      {"(###) ###-####", 5551234, "() 555-1234"},
      {"0\" units\"", 3, "3 units"},
      {"\\#0", 3, "#3"},
      {"+0;-0;0", 3, "+3"},
      {"0_)", 3, "3 "},
      {"_(0_)", 3, " 3 "},
      {"**0", 3, "3"},  // fill prints nothing
      {"0*-", 3, "3"},
      {"[Red]0", 3, "3"},
      {"[color12]0", 3, "3"},
      {"[BLUE]0.0", 3, "3.0"},
      {"[$\xE2\x82\xAC-407]#,##0.00", 1234.5,
       "\xE2\x82\xAC"
       "1,234.50"},
      {"[$USD] 0", 4, "USD 4"},
      {"[$-409]0", 4, "4"},
      {"[DBNum1]0", 4, "4"},
      {"0 ~!^&'{}<>=", 1, "1 ~!^&'{}<>="},
  });
}

TEST(NumberFormat, Sections) {
  run({
      {"#,##0_);(#,##0)", 1234, "1,234 "},
      {"#,##0_);(#,##0)", -1234, "(1,234)"},
      {"#,##0_);(#,##0)", 0, "0 "},
      {"0;-0;\"zero\"", 0, "zero"},
      {"0;-0;\"zero\"", -3, "-3"},
      {"0;\"neg\"", -3, "neg"},
      {"0;;", -3, ""},
      {"0;;", 0, ""},
      {";;;", 5, ""},
      {"0;0;0;@", -2, "2"},
      {"\"$\"#,##0_);[Red]\\(\"$\"#,##0\\)", -1234.4, "($1,234)"},
      {"_(* #,##0.00_);_(* \\(#,##0.00\\);_(* \"-\"??_);_(@_)", 0, " -   "},
      {"_(\"$\"* #,##0.00_);_(\"$\"* \\(#,##0.00\\);_(\"$\"* \"-\"??_);_(@_)", 1234.5,
       " $1,234.50 "},
      {"_(\"$\"* #,##0.00_);_(\"$\"* \\(#,##0.00\\);_(\"$\"* \"-\"??_);_(@_)", -1234.5,
       " $(1,234.50)"},
  });
}

TEST(NumberFormat, Conditions) {
  run({
      {"[>100]\"big\";\"small\"", 150, "big"},
      {"[>100]\"big\";\"small\"", 5, "small"},
      {"[>100]\"big\";\"small\"", -5, "-small"},  // UNSURE: "else" keeps the sign
      {"[<=100]0;\"big\"", 50, "50"},
      {"[Red][<=100]0;[Blue][>100]0", 150, "150"},
      {"[<0]\"n\"0;0", -4, "n4"},  // UNSURE: [<0] shows the magnitude
      {"[<-10]0;[>10]0;\"mid\"0", -20, "20"},
      {"[<-10]0;[>10]0;\"mid\"0", 20, "20"},
      {"[<-10]0;[>10]0;\"mid\"0", -5, "-mid5"},  // UNSURE
      {"[=1]\"one\";0", 1, "one"},
      {"[=1]\"one\";0", 2, "2"},
      {"[<>5]0;\"five\"", 5, "five"},
      {"[>=10]0.0;0", 10, "10.0"},
      {"[>100]0", 5, "5"},          // no section matches: General
      {"[>100]0;[>200]0", 5, "5"},  // no section matches: General
      {"[>100]0;0;\"z\"", -7, "7"},
      {"[>100]0;0;\"z\"", 7, "z"},
  });
}

TEST(NumberFormat, Scientific) {
  run({
      {"0.00E+00", 12345, "1.23E+04"},
      {"0.00E+00", 0.00012345, "1.23E-04"},
      {"0.00E-00", 12345, "1.23E04"},
      {"0.00e+00", 12345, "1.23e+04"},
      {"0.00E+00", 0, "0.00E+00"},
      {"0.00E+00", 1e100, "1.00E+100"},
      {"0.00E+00", 9.999, "1.00E+01"},
      {"0.00E+00", -12345, "-1.23E+04"},
      {"##0.0E+0", 12345, "12.3E+3"},
      {"##0.0E+0", 1234567, "1.2E+6"},
      {"##0.0E+0", 0.001234, "1.2E-3"},
      {"##0.0E+0", 123456, "123.5E+3"},
      {"##0.0E+0", 999999, "1.0E+6"},
      {"0E+0", 5, "5E+0"},
      {"00.00E+00", 12345, "01.23E+04"},  // UNSURE: exponent a multiple of 2
  });
}

TEST(NumberFormat, Fractions) {
  run({
      {"# ?/?", 1.25, "1 1/4"},
      {"# ?/?", 0.5, " 1/2"},
      {"# ?/?", 2, "2    "},
      {"# ?/?", 0, "0    "},  // UNSURE
      {"# ?/?", 1.333, "1 1/3"},
      {"# ?/?", -1.25, "-1 1/4"},
      {"# ?\?/??", 1.25, "1  1/4 "},
      {"# ?\?/??", 3.14159, "3 14/99"},
      {"# ??\?/???", 3.14159, "3  16/113"},
      {"?/?", 1.25, "5/4"},
      {"?\?/??", 0.75, " 3/4 "},
      {"?/8", 0.5, "4/8"},
      {"# ?/8", 2.3, "2 2/8"},
      {"#/100", 0.25, "25/100"},
      {"0/4", 1.5, "6/4"},
      {"# ?/4", 1.99, "2    "},
      {"0 ?/?", 0.5, "0 1/2"},
      {"?/?", 0, "0/1"},  // UNSURE
  });
}

TEST(NumberFormat, Dates1900) {
  run({
      {"m/d/yyyy", 1, "1/1/1900"},
      {"m/d/yyyy", 0, "1/0/1900"},
      {"m/d/yyyy", 59, "2/28/1900"},
      {"m/d/yyyy", 60, "2/29/1900"},
      {"m/d/yyyy", 61, "3/1/1900"},
      {"m/d/yyyy", 45000, "3/15/2023"},
      {"d-mmm-yyyy", 27738, "10-Dec-1975"},
      {"d-mmm-yy", 27738, "10-Dec-75"},
      {"dd/mm/yy", 27738.75, "10/12/75"},
      {"dddd, mmmm d, yyyy", 27738, "Wednesday, December 10, 1975"},
      {"ddd", 1, "Sun"},
      {"ddd", 0, "Sat"},
      {"ddd", 61, "Thu"},
      {"mmmmm", 27738, "D"},
      {"mmm-yy", 45000, "Mar-23"},
      {"y", 45000, "23"},
      {"yyy", 45000, "2023"},
      {"YYYY-MM-DD", 45000, "2023-03-15"},
      {"m/d/yyyy", 2958465, "12/31/9999"},
      {"m/d/yyyy", 2958466, "2958466"},  // beyond 9999-12-31: General
      {"m/d/yyyy", -1, "-1"},            // negative serial: General
      {"m/d/yyyy;\"neg\"", -1, "neg"},
  });
}

TEST(NumberFormat, Dates1904) {
  run(
      {
          {"m/d/yyyy", 0, "1/1/1904"},
          {"m/d/yyyy", 1, "1/2/1904"},
          {"dddd", 0, "Friday"},
          {"yyyy-mm-dd", 26276, "1975-12-10"},
          {"m/d/yyyy", 2957003, "12/31/9999"},
          {"m/d/yyyy", 2957004, "2957004"},
      },
      true);
}

TEST(NumberFormat, Times) {
  run({
      {"h:mm", 0.5, "12:00"},
      {"h:mm AM/PM", 0.5, "12:00 PM"},
      {"h:mm AM/PM", 0, "12:00 AM"},
      {"h:mm:ss AM/PM", 0.75, "6:00:00 PM"},
      {"hh:mm am/pm", 0.25, "06:00 AM"},  // UNSURE: am/pm prints upper case
      {"h A/P", 0.75, "6 P"},
      {"h a/p", 0.25, "6 a"},
      {"h:mm:ss", 0.5 + 1.0 / 86400 * 0.6, "12:00:01"},
      {"h:mm", 0.999999, "0:00"},  // seconds round up into the next day
      {"h:mm", 10.0 / 24 + 29.0 / 1440 + 50.0 / 86400, "10:29"},
      {"mm:ss", 1.0 / 1440 * 2.5, "02:30"},
      {"mm:ss.0", 1.0 / 86400 * 62.25, "01:02.3"},
      {"h:mm:ss.000", 1.0 / 86400 * 1.2345, "0:00:01.235"},  // UNSURE: last digit
      {"ss.00", 1.0 / 86400 * 59.999, "00.00"},
      {"m/d/yyyy h:mm", 45000.5, "3/15/2023 12:00"},
      {"h \"h\" m \"min\"", 0.5 + 5.0 / 1440, "12 h 5 min"},
      {"mm", 45000, "03"},
      {"yyyy E+", 45000, "2023 E+"},
      {"[h]:mm", 1.9999999, "48:00"},
      {"[h]:mm:ss", 1.5, "36:00:00"},
      {"[hh]:mm", 0.25, "06:00"},
      {"[m]:ss", 0.5, "720:00"},
      {"[s]", 1, "86400"},
      {"[mm]:ss", 1.0 / 1440 * 3, "03:00"},
      {"[h]:mm", 1e12, "1E+12"},  // beyond the date range: General
  });
}

TEST(NumberFormat, TextSections) {
  struct TextCase {
    const char* code;
    const char* text;
    const char* expected;
  };
  const TextCase cases[] = {
      {"0;0;0;\"<\"@\">\"", "abc", "<abc>"},
      {"@", "abc", "abc"},
      {"\"Name: \"@", "Bob", "Name: Bob"},
      {"0.00", "abc", "abc"},
      {"_(* #,##0_);_(* \\(#,##0\\);_(* \"-\"_);_(@_)", "x", " x "},
      {"0;0;0;@@", "ab", "abab"},
      {"General", "t", "t"},
      {"0;0;0;", "t", ""},
  };
  for (const TextCase& c : cases) {
    std::string out;
    render_text(compile_format(c.code), c.text, out);
    EXPECT_EQ(out, c.expected) << c.code;
  }
  EXPECT_EQ(fmt("\"Name: \"@", 5), "5");  // number under an only text section
}

TEST(NumberFormat, BadCodesFallBackToGeneral) {
  run({
      {"\"abc", 1.5, "1.5"},
      {"[Red", 1.5, "1.5"},
      {"0\\", 1.5, "1.5"},
      {"0_", 1.5, "1.5"},
      {"0;0;0;0;0", 1.5, "1.5"},
      {"[>abc]0", 1.5, "2"},  // an unreadable condition is ignored
  });
  std::string many(5000, ';');
  EXPECT_EQ(fmt(many, 2.5), "2.5");
}

TEST(NumberFormat, BoundedOutput) {
  std::string zeros = "0." + std::string(10000, '0');
  std::string out = fmt(zeros, 1.5);
  ASSERT_EQ(out.size(), 10002u);
  EXPECT_EQ(out.substr(0, 4), "1.50");
  std::string huge(200000, 'x');
  EXPECT_EQ(fmt(huge, 1).size(), kMaxRenderedBytes);
  std::string at(100000, '@');
  std::string t;
  render_text(compile_format(at), std::string(1000, 'y'), t);
  EXPECT_EQ(t.size(), kMaxRenderedBytes);
  EXPECT_EQ(fmt("#,##0", 1e308).size(), 309u + 102u);
  EXPECT_EQ(fmt("0", -1e308).size(), 310u);
  std::string wide = fmt("# " + std::string(17, '?') + "/" + std::string(17, '?'), 0.1234567);
  EXPECT_NE(wide.find("1234567/10000000"), std::string::npos) << wide;
}

TEST(NumberFormat, AppendsToOutput) {
  CompiledFormat f = compile_format("0.0");
  std::string out = "a,";
  render_number(f, 1.25, false, out);
  out += ',';
  render_number(f, 2, false, out);
  EXPECT_EQ(out, "a,1.3,2.0");
}

// Fifteen significant digits in scientific form show the decimal digits the
// renderer works from: for short decimals (its fast path) and any double
// they are what printf's %.14E gives.
TEST(NumberFormatDigits, FifteenDigitsAgreeWithPrintf) {
  const CompiledFormat f = compile_format("0.00000000000000E+00");
  uint64_t x = 0x9E3779B97F4A7C15ull;
  std::string out;
  int failures = 0;
  for (int i = 0; i < 200000; ++i) {
    x ^= x << 13, x ^= x >> 7, x ^= x << 17;
    double v;
    if (i % 2 == 0) {
      static constexpr double kPow10[] = {1, 10, 100, 1000, 10000, 100000, 1000000};
      v = double(int64_t(x % 2000000000000) - 1000000000000) / kPow10[(x >> 50) % 7];
    } else {
      uint64_t bits = (x & 0x7FEFFFFFFFFFFFFFull) | (uint64_t(0x300 + (x >> 56) % 0x200) << 52);
      std::memcpy(&v, &bits, sizeof v);
      if (!std::isfinite(v) || v == 0) continue;
    }
    if (v == 0) continue;
    char want[64];
    std::snprintf(want, sizeof want, "%.14E", v);
    out.clear();
    render_number(f, v, false, out);
    if (out != want && ++failures <= 5) ADD_FAILURE() << v << ": " << out << " vs " << want;
  }
  EXPECT_EQ(failures, 0);
}

}  // namespace
}  // namespace sheetdump
