// The en-US built-in codes by index and what they display.
#include "format/builtin_codes.hpp"

#include <gtest/gtest.h>

#include <string>

#include "format/number_format.hpp"

namespace sheetdump {
namespace {

std::string show(int index, double v) {
  std::string out;
  render_number(compile_format(builtin_format_code(index)), v, false, out);
  return out;
}

TEST(BuiltinCodes, CodesByIndex) {
  EXPECT_EQ(builtin_format_code(0), "General");
  EXPECT_EQ(builtin_format_code(4), "#,##0.00");
  EXPECT_EQ(builtin_format_code(14), "m/d/yyyy");
  EXPECT_EQ(builtin_format_code(13), "# ?\?/??");
  EXPECT_EQ(builtin_format_code(44),
            "_(\"$\"* #,##0.00_);_(\"$\"* \\(#,##0.00\\);_(\"$\"* \"-\"?\?_);_(@_)");
  EXPECT_EQ(builtin_format_code(49), "@");
  for (int unknown : {-1, 23, 30, 36, 50, 164, 1000000})
    EXPECT_EQ(builtin_format_code(unknown), "") << unknown;
}

TEST(BuiltinCodes, Display) {
  struct Row {
    int index;
    double value;
    const char* expected;
  };
  const Row rows[] = {
      {0, 1234.5, "1234.5"},
      {1, 1234.5, "1235"},
      {2, 1234.5, "1234.50"},
      {3, 1234.5, "1,235"},
      {4, 1234.5, "1,234.50"},
      {5, 1234.5, "$1,235 "},
      {5, -1234.5, "($1,235)"},
      {6, -1, "($1)"},
      {7, 1234.5, "$1,234.50 "},
      {8, -0.5, "($0.50)"},
      {9, 0.125, "13%"},
      {10, 0.125, "12.50%"},
      {11, 1234.5, "1.23E+03"},
      {12, 1.25, "1 1/4"},
      {13, 1.25, "1  1/4 "},
      {14, 27738, "12/10/1975"},
      {15, 27738, "10-Dec-75"},
      {16, 27738, "10-Dec"},
      {17, 27738, "Dec-75"},
      {18, 0.5625, "1:30 PM"},
      {19, 0.5625, "1:30:00 PM"},
      {20, 0.5625, "13:30"},
      {21, 0.5625, "13:30:00"},
      {22, 27738.5625, "12/10/1975 13:30"},
      {37, -1234, "(1,234)"},
      {38, 1234, "1,234 "},
      {39, -1, "(1.00)"},
      {40, 1, "1.00 "},
      {41, 1234, " 1,234 "},
      {41, 0, " - "},
      {41, -1234, " (1,234)"},
      {42, 1234, " $1,234 "},
      {43, 0, " -   "},
      {44, 0, " $-   "},
      {45, 1.0 / 1440 * 2.5, "02:30"},
      {46, 1.5, "36:00:00"},
      {47, 1.0 / 86400 * 62.25, "01:02.3"},
      {48, 12345, "12.3E+3"},
      {49, 3, "3"},
      {30, 2.5, "2.5"},
  };
  for (const Row& r : rows) EXPECT_EQ(show(r.index, r.value), r.expected) << r.index;
}

}  // namespace
}  // namespace sheetdump
