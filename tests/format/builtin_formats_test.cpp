// The built-in format table: its rows in order, the lookup by format index,
// and what every row renders.
#include "format/builtin_formats.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "format/cell_text.hpp"
#include "support/model_builder.hpp"

namespace {

using sheetdump::FORMAT_DATE;
using sheetdump::FORMAT_NUMBER;
using sheetdump::FormatKind;

struct Row {
  int32_t index;
  FormatKind kind;
  const char* pattern;
  const char* example;  // serial 27738.14929398148 for dates, 1234.56 for numbers
};

// The table as users see it documented, with each row's rendering.
constexpr Row kExpected[] = {
    {14, FORMAT_DATE, "%m/%d/%y", "12/10/75"},
    {15, FORMAT_DATE, "%d-%b-%y", "10-Dec-75"},
    {16, FORMAT_DATE, "%d-%b", "10-Dec"},
    {17, FORMAT_DATE, "%b-%y", "Dec-75"},
    {18, FORMAT_DATE, "%I:%M %p", "03:34 AM"},
    {19, FORMAT_DATE, "%I:%M:%S %p", "03:34:59 AM"},
    {20, FORMAT_DATE, "%H:%M", "03:34"},
    {21, FORMAT_DATE, "%H:%M:%S", "03:34:59"},
    {22, FORMAT_DATE, "%m/%d/%y %H:%M", "12/10/75 03:34"},
    {45, FORMAT_DATE, "%M:%S", "34:59"},
    {46, FORMAT_DATE, "%H:%M:%S", "03:34:59"},
    {47, FORMAT_DATE, "%M:%S", "34:59"},
    {165, FORMAT_DATE, "%m/%d/%y %I:%M %p", "12/10/75 03:34 AM"},
    {1, FORMAT_NUMBER, "%.0f", "1235"},
    {2, FORMAT_NUMBER, "%.2f", "1234.56"},
    {3, FORMAT_NUMBER, "#,##%.0f", "#,##1235"},
    {4, FORMAT_NUMBER, "#,##%.2f", "#,##1234.56"},
    {5, FORMAT_NUMBER, "$#,##%.0f", "$#,##1235"},
    {6, FORMAT_NUMBER, "$#,##%.0f", "$#,##1235"},
    {7, FORMAT_NUMBER, "$#,##%.2f", "$#,##1234.56"},
    {8, FORMAT_NUMBER, "$#,##%.2f", "$#,##1234.56"},
    {9, FORMAT_NUMBER, "%.0f%%", "1235%"},
    {10, FORMAT_NUMBER, "%.2f%%", "1234.56%"},
    {11, FORMAT_NUMBER, "%e", "1.234560e+03"},
    {37, FORMAT_NUMBER, "#,##%.0f;(#,##0)", "#,##1235;(#,##0)"},
    {38, FORMAT_NUMBER, "#,##%.0f;(#,##0)", "#,##1235;(#,##0)"},
    {39, FORMAT_NUMBER, "#,##%.2f;(#,##0.00)", "#,##1234.56;(#,##0.00)"},
    {40, FORMAT_NUMBER, "#,##%.2f;(#,##0.00)", "#,##1234.56;(#,##0.00)"},
    {41, FORMAT_NUMBER, "#,##%.0f;(#,##0)", "#,##1235;(#,##0)"},
    {42, FORMAT_NUMBER, "$#,##%.0f;($#,##0)", "$#,##1235;($#,##0)"},
    {43, FORMAT_NUMBER, "#,##%.2f;(#,##0.00)", "#,##1234.56;(#,##0.00)"},
    {44, FORMAT_NUMBER, "$#,##%.2f;($#,##0.00)", "$#,##1234.56;($#,##0.00)"},
    {48, FORMAT_NUMBER, "##0.0E0", "##0.0E0"},
};

// Renders one number cell through format index `format_index`.
std::string render(double value, int32_t format_index) {
  testsupport::ModelBuilder mb;
  mb.sheet("S", 1, 1).number(0, 0, value, format_index);
  sheetdump::Workbook wb = mb.build();
  sheetdump::TextBuffer buf;
  auto text = sheetdump::cell_text(wb, wb.sheets[0], 0, 0, buf);
  return text ? std::string(*text) : std::string("<none>");
}

TEST(BuiltinFormats, TableHasTheThirtyThreeRowsInOrder) {
  auto table = sheetdump::builtin_formats();
  ASSERT_EQ(table.size(), std::size(kExpected));
  for (size_t i = 0; i < table.size(); ++i) {
    SCOPED_TRACE("row " + std::to_string(i));
    EXPECT_EQ(table[i].index, kExpected[i].index);
    EXPECT_EQ(table[i].kind, kExpected[i].kind);
    EXPECT_STREQ(table[i].pattern, kExpected[i].pattern);
  }
}

TEST(BuiltinFormats, LookupFindsEachIndexInItsRow) {
  for (size_t i = 0; i < std::size(kExpected); ++i) {
    auto row = sheetdump::lookup_format(kExpected[i].index);
    ASSERT_TRUE(row.has_value()) << kExpected[i].index;
    EXPECT_EQ(*row, i) << kExpected[i].index;
  }
}

TEST(BuiltinFormats, LookupOfTheDocumentedIndices) {
  auto table = sheetdump::builtin_formats();
  auto date = sheetdump::lookup_format(14);
  ASSERT_TRUE(date.has_value());
  EXPECT_EQ(table[*date].kind, FORMAT_DATE);
  EXPECT_STREQ(table[*date].pattern, "%m/%d/%y");

  auto scientific = sheetdump::lookup_format(48);
  ASSERT_TRUE(scientific.has_value());
  EXPECT_EQ(table[*scientific].kind, FORMAT_NUMBER);
  EXPECT_STREQ(table[*scientific].pattern, "##0.0E0");

  // 165 lies in the range of a workbook's own formats, yet it is a date here.
  auto custom = sheetdump::lookup_format(165);
  ASSERT_TRUE(custom.has_value());
  EXPECT_EQ(table[*custom].kind, FORMAT_DATE);
  EXPECT_STREQ(table[*custom].pattern, "%m/%d/%y %I:%M %p");

  for (int32_t missing :
       {0, 12, 13, 23, 30, 36, 49, 100, 163, 164, 166, 255, 256, 65535, -1, -14, 14 + 65536})
    EXPECT_FALSE(sheetdump::lookup_format(missing).has_value()) << missing;
}

TEST(BuiltinFormats, EveryRowRendersItsExample) {
  for (const Row& row : kExpected) {
    double value = row.kind == FORMAT_DATE ? 27738.14929398148 : 1234.56;
    EXPECT_EQ(render(value, row.index), row.example) << "format " << row.index;
  }
}

TEST(BuiltinFormats, NumberPatternsAreTemplatesNotFormatCodes) {
  // No scaling for percent formats.
  EXPECT_EQ(render(0.25, 10), "0.25%");
  EXPECT_EQ(render(0.25, 9), "0%");
  // A negative value keeps its sign; the text of the negative section is
  // printed as it stands.
  EXPECT_EQ(render(-1234.56, 39), "#,##-1234.56;(#,##0.00)");
  EXPECT_EQ(render(-1234.56, 44), "$#,##-1234.56;($#,##0.00)");
  EXPECT_EQ(render(-1234.56, 11), "-1.234560e+03");
  // No thousands grouping, rounding by printf.
  EXPECT_EQ(render(1234567.125, 4), "#,##1234567.12");
  EXPECT_EQ(render(2.5, 1), "2");
  EXPECT_EQ(render(3.5, 1), "4");
  // Index 48 prints only its pattern, whatever the value.
  EXPECT_EQ(render(0, 48), "##0.0E0");
  EXPECT_EQ(render(-1e300, 48), "##0.0E0");
}

TEST(BuiltinFormats, IndicesOutsideTheTableRenderByTheGeneralRule) {
  for (int32_t missing : {0, 12, 49, 164, 166})
    EXPECT_EQ(render(1234.56, missing), "1234.56000") << missing;
  EXPECT_EQ(render(0.25, 0), "0.25");
}

TEST(BuiltinFormats, SharedPatternsRenderAlike) {
  const int32_t same[][2] = {{5, 6},   {7, 8},   {21, 46}, {45, 47},
                             {37, 38}, {38, 41}, {39, 40}, {40, 43}};
  for (auto [a, b] : same) {
    EXPECT_EQ(render(-98765.4321, a), render(-98765.4321, b)) << a << " " << b;
    EXPECT_EQ(render(40000.75, a), render(40000.75, b)) << a << " " << b;
  }
}

}  // namespace
