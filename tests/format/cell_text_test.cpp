// Cell text rendering: dates through the UTC calendar with truncated
// seconds, the date override, the general rule as the fallback, and texts.
#include "format/cell_text.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "format/builtin_codes.hpp"
#include "format/builtin_formats.hpp"
#include "format/date_text.hpp"
#include "format/exact_text.hpp"
#include "support/model_builder.hpp"

namespace {

using sheetdump::cell_text;
using sheetdump::kNoFormatIndex;
using sheetdump::TextBuffer;
using testsupport::ModelBuilder;

constexpr const char* kIso = "%Y-%m-%d %H:%M:%S";

class CellText : public ::testing::Test {
 protected:
  // The run's options: date_pattern is SQL's --isodate.
  sheetdump::RenderOptions options_;

  // One number cell with built-in format index `format_index`, rendered.
  std::string render(double value, int32_t format_index) {
    ModelBuilder mb;
    mb.sheet("S", 1, 1).number(0, 0, value, format_index);
    sheetdump::Workbook wb = mb.build();
    TextBuffer buf;
    auto text = cell_text(wb, wb.sheets[0], 0, 0, buf, options_);
    return text ? std::string(*text) : std::string("<none>");
  }
  std::string iso(double serial) {
    options_.date_pattern = kIso;
    std::string s = render(serial, 14);
    options_.date_pattern = nullptr;
    return s;
  }
  static std::string c_printf(const char* pattern, double v) {
    char buf[1024];
    int n = std::snprintf(buf, sizeof buf, pattern, v);
    return std::string(buf, size_t(n));
  }
};

TEST_F(CellText, DateExamples) {
  EXPECT_EQ(render(25569, 14), "01/01/70");
  EXPECT_EQ(render(27738.14929398148, 22), "12/10/75 03:34");
  EXPECT_EQ(iso(27738.14929398148), "1975-12-10 03:34:59");
  // The double nearest to 00:00:01 gives a product of 0.99999992, and the
  // seconds are truncated, so this whole second comes out one early.
  EXPECT_EQ(iso(25569.000011574073), "1970-01-01 00:00:00");
  // Truncation toward zero, not down: -0.864 seconds are 0.
  EXPECT_EQ(iso(25568.99999), "1970-01-01 00:00:00");
  EXPECT_EQ(iso(25568.5), "1969-12-31 12:00:00");
  EXPECT_EQ(iso(25568.75), "1969-12-31 18:00:00");
  EXPECT_EQ(render(0.5, 20), "12:00");
}

TEST_F(CellText, OverrideReplacesEveryDatePatternButNoNumberPattern) {
  options_.date_pattern = kIso;
  // Time-only patterns too.
  EXPECT_EQ(render(0.5, 20), "1899-12-30 12:00:00");
  for (const sheetdump::FormatInfo& f : sheetdump::builtin_formats()) {
    if (f.kind != sheetdump::FORMAT_DATE) continue;
    EXPECT_EQ(render(27738.14929398148, f.index), "1975-12-10 03:34:59") << f.index;
  }
  EXPECT_EQ(render(1234.56, 2), "1234.56");
  EXPECT_EQ(render(1234.56, 0), "1234.56000");
  options_.date_pattern = nullptr;
  EXPECT_EQ(render(27738.14929398148, 14), "12/10/75");
}

TEST_F(CellText, SerialsAroundTheStartOfTheDayCount) {
  // 25569 is always 1970-01-01: the leap day that 1900 never had is not
  // reproduced, so serial 60 is 28 February and 61 is 1 March.
  EXPECT_EQ(iso(0), "1899-12-30 00:00:00");
  EXPECT_EQ(iso(60), "1900-02-28 00:00:00");
  EXPECT_EQ(iso(61), "1900-03-01 00:00:00");
  EXPECT_EQ(iso(-1), "1899-12-29 00:00:00");
  EXPECT_EQ(render(60, 15), "28-Feb-00");
  EXPECT_EQ(render(61, 17), "Mar-00");
}

TEST_F(CellText, NegativeAndHugeSerialsStayOnTheCalendar) {
  EXPECT_EQ(iso(-693593), "1-01-01 00:00:00");
  EXPECT_EQ(iso(-700000), "-17-06-18 00:00:00");
  EXPECT_EQ(iso(-1e9), "-2736008-12-27 00:00:00");
  EXPECT_EQ(iso(2958465), "9999-12-31 00:00:00");
  EXPECT_EQ(iso(2958466), "10000-01-01 00:00:00");
  EXPECT_EQ(iso(1e9), "2739807-01-02 00:00:00");
  EXPECT_EQ(iso(7e11), "1916536804-11-20 00:00:00");
  EXPECT_EQ(render(2958466, 14), "01/01/00");
  EXPECT_EQ(render(-693593, 165), "01/01/01 12:00 AM");
}

TEST_F(CellText, DatesThatCannotBeBrokenDownRenderByTheGeneralRule) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // Seconds inside +-2^63, but the year does not fit the broken-down time.
  // Beyond +-2^63 seconds, or not a number at all.
  const double serials[] = {8e11, 1e12, -1e12, 1.5e14, 1e15, -1e15, 1e300, -1e300, inf, -inf, nan,
                            -nan,
                            // Seconds of exactly 2^63 (the product rounds
                            // to it), and just inside on both sides.
                            25569 + 9223372036854775808.0 / 86400,
                            std::nextafter(25569 + 9223372036854775808.0 / 86400, 0.0),
                            25569 - 9223372036854775808.0 / 86400,
                            std::nextafter(25569 - 9223372036854775808.0 / 86400, 0.0)};
  for (double serial : serials) {
    TextBuffer expected;
    sheetdump::append_general(expected, serial);
    std::string general(expected.view());
    EXPECT_EQ(render(serial, 14), general) << serial;
    options_.date_pattern = kIso;
    EXPECT_EQ(render(serial, 22), general) << serial;
    options_.date_pattern = nullptr;
  }
  EXPECT_EQ(render(1e12, 14), "1000000000000");
  EXPECT_EQ(render(-1e12 - 0.5, 14), "-1000000000000.5");
  EXPECT_EQ(render(inf, 20), "inf");
  EXPECT_EQ(render(-inf, 20), "-inf");
}

TEST_F(CellText, TwelveHourClock) {
  EXPECT_EQ(render(27738.0, 18), "12:00 AM");
  EXPECT_EQ(render(27738.5, 18), "12:00 PM");
  EXPECT_EQ(render(27738.75, 19), "06:00:00 PM");
  EXPECT_EQ(render(27738.5 - 1.0 / 86400, 19), "11:59:59 AM");
}

// Day serials rendered through every date pattern and the ISO pattern must
// be exactly what gmtime and strftime give for the truncated seconds.
TEST_F(CellText, DatesMatchGmtimeAndStrftime) {
  std::vector<const char*> patterns = {kIso, "%%%Y%%"};
  for (const sheetdump::FormatInfo& f : sheetdump::builtin_formats())
    if (f.kind == sheetdump::FORMAT_DATE) patterns.push_back(f.pattern);

  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> near(-1000, 80000);
  std::uniform_real_distribution<double> wide(-1e9, 1e9);
  std::uniform_int_distribution<int> day(-800000, 3100000);
  int failures = 0;
  for (int i = 0; i < 40000; ++i) {
    double serial;
    switch (i % 4) {
      case 0:
        serial = near(rng);
        break;
      case 1:
        serial = wide(rng);
        break;
      case 2:
        serial = day(rng);
        break;
      default:
        serial = day(rng) + double(rng() % 86400) / 86400;
        break;
    }
    double seconds = (serial - 25569) * 86400;
    time_t t = time_t(int64_t(seconds));
    struct tm tm {};
    ASSERT_NE(gmtime_r(&t, &tm), nullptr) << serial;
    for (const char* pattern : patterns) {
      char expected[128];
      size_t n = std::strftime(expected, sizeof expected, pattern, &tm);
      TextBuffer buf;
      ASSERT_TRUE(sheetdump::append_date(buf, serial, pattern));
      if (buf.view() != std::string_view(expected, n) && ++failures <= 10)
        ADD_FAILURE() << "serial " << c_printf("%.17g", serial) << " pattern " << pattern
                      << ": got '" << buf.view() << "', strftime gives '" << expected << "'";
    }
  }
  EXPECT_EQ(failures, 0);
}

TEST_F(CellText, AppendDateAddsToTheBufferOrLeavesItAlone) {
  TextBuffer buf;
  buf.append("at ");
  EXPECT_TRUE(sheetdump::append_date(buf, 27738.14929398148, "%H:%M"));
  EXPECT_EQ(buf.view(), "at 03:34");
  EXPECT_FALSE(sheetdump::append_date(buf, std::numeric_limits<double>::quiet_NaN(), "%H:%M"));
  EXPECT_FALSE(sheetdump::append_date(buf, 1e12, "%H:%M"));
  EXPECT_EQ(buf.view(), "at 03:34");
}

TEST_F(CellText, XfRecordsWithoutAFormatRenderByTheGeneralRule) {
  // Three XF records: format 14, one too short to name a format, format 2.
  sheetdump::Workbook wb;
  wb.xf_formats = {14, kNoFormatIndex, 2};
  EXPECT_EQ(sheetdump::xf_format(wb, 0), 14);
  EXPECT_EQ(sheetdump::xf_format(wb, 1), kNoFormatIndex);
  EXPECT_EQ(sheetdump::xf_format(wb, 2), 2);
  // Indices at and beyond the count of XF records.
  for (int32_t xf : {3, 4, 254, 255, 256, 4095, 65535, -1, std::numeric_limits<int32_t>::min(),
                     std::numeric_limits<int32_t>::max()})
    EXPECT_EQ(sheetdump::xf_format(wb, xf), kNoFormatIndex) << xf;

  // A cell whose XF names no format, or no XF record at all; and format
  // indices the built-in table lacks.
  for (uint16_t xf : {uint16_t(1), uint16_t(3), uint16_t(255), uint16_t(4095), uint16_t(65535)}) {
    ModelBuilder mb;
    mb.sheet("S", 1, 2).number_xf(0, 0, 27738.14929398148, xf).number_xf(0, 1, 1.5, xf);
    sheetdump::Workbook w = mb.build();
    w.xf_formats = {14, kNoFormatIndex, 2};
    TextBuffer buf;
    EXPECT_EQ(cell_text(w, w.sheets[0], 0, 0, buf).value_or("<none>"), "27738.14929") << xf;
    EXPECT_EQ(cell_text(w, w.sheets[0], 0, 1, buf).value_or("<none>"), "1.5") << xf;
  }
  for (int32_t index : {0, 23, 36, 49, 50, 163, 164, 166, 1000})
    EXPECT_EQ(render(27738.14929398148, index), "27738.14929") << index;
}

TEST_F(CellText, TextCells) {
  ModelBuilder mb;
  uint32_t hello = mb.add_string("hello");
  uint32_t empty = mb.add_string("");
  mb.sheet("S", 2, 4)
      .sst_index(0, 0, hello)
      .sst_index(0, 1, empty)
      .sst_index(0, 2, 2)  // one beyond the table
      .sst_index(0, 3, 0xFFFFFFFFu)
      .sst_index(1, 0, 0x80000000u)
      .sst_index(1, 1, 0x7FFFFFFFu);
  sheetdump::Workbook wb = mb.build();
  const sheetdump::Sheet& s = wb.sheets[0];
  TextBuffer buf;

  auto first = cell_text(wb, s, 0, 0, buf);
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(*first, "hello");
  // The shared string itself, not a copy: two calls give the same bytes.
  auto again = cell_text(wb, s, 0, 0, buf);
  EXPECT_EQ(again->data(), first->data());
  EXPECT_GE(first->data(), wb.sst.bytes.data());
  EXPECT_LE(first->data() + first->size(), wb.sst.bytes.data() + wb.sst.bytes.size());

  auto blank = cell_text(wb, s, 0, 1, buf);
  ASSERT_TRUE(blank.has_value());  // an empty text is a text, not none
  EXPECT_EQ(*blank, "");

  EXPECT_FALSE(cell_text(wb, s, 0, 2, buf).has_value());
  EXPECT_FALSE(cell_text(wb, s, 0, 3, buf).has_value());
  EXPECT_FALSE(cell_text(wb, s, 1, 0, buf).has_value());
  EXPECT_FALSE(cell_text(wb, s, 1, 1, buf).has_value());
}

TEST_F(CellText, EmptyPositionsAreNone) {
  ModelBuilder mb;
  mb.sheet("S", 3, 3).text(1, 1, "x");
  sheetdump::Workbook wb = mb.build();
  TextBuffer buf;
  for (int32_t r = 0; r < 3; ++r)
    for (int32_t c = 0; c < 3; ++c)
      EXPECT_EQ(cell_text(wb, wb.sheets[0], r, c, buf).has_value(), r == 1 && c == 1);
}

TEST_F(CellText, RkValues) {
  ModelBuilder mb;
  mb.sheet("S", 1, 6)
      .rk(0, 0, (42u << 2) | 2)                    // integer
      .rk(0, 1, (uint32_t(-7) << 2) | 2)           // negative integer
      .rk(0, 2, (1234u << 2) | 3)                  // integer / 100
      .rk(0, 3, 0x3FF80000u)                       // 1.5 as a double's high bits
      .rk(0, 4, (27738u << 2) | 2, 14)             // a date
      .rk(0, 5, (uint32_t(-123456) << 2) | 3, 2);  // -1234.56 with format 2
  sheetdump::Workbook wb = mb.build();
  TextBuffer buf;
  const char* expected[] = {"42", "-7", "12.34000", "1.5", "12/10/75", "-1234.56"};
  for (int32_t c = 0; c < 6; ++c)
    EXPECT_EQ(cell_text(wb, wb.sheets[0], 0, c, buf).value_or("<none>"), expected[c]) << c;
}

TEST_F(CellText, NumberTextsAreReusedBufferViews) {
  ModelBuilder mb;
  mb.sheet("S", 1, 2).number(0, 0, 1.25).number(0, 1, 27738.14929398148, 22);
  sheetdump::Workbook wb = mb.build();
  TextBuffer buf;
  auto a = cell_text(wb, wb.sheets[0], 0, 0, buf);
  EXPECT_EQ(*a, "1.25");
  auto b = cell_text(wb, wb.sheets[0], 0, 1, buf);
  EXPECT_EQ(*b, "12/10/75 03:34");
  // Each rendering starts afresh in the buffer.
  EXPECT_EQ(std::string(*cell_text(wb, wb.sheets[0], 0, 0, buf)), "1.25");
}

}  // namespace

namespace {

// RK integers take a path without a double for the general rule and the
// fixed patterns; it must print what the double's own path prints.
TEST(CellTextRk, DirectPathMatchesTheDoublePath) {
  const int32_t formats[] = {0, 1, 2, 3, 4, 9, 10, 11, 48};
  std::mt19937 rng(7);
  std::vector<int32_t> ints = {0, 1, -1, 29, -29, 100, -100, 1234, (1 << 29) - 1, -(1 << 29)};
  for (int i = 0; i < 3000; ++i) ints.push_back(int32_t(rng() % (1u << 30)) - (1 << 29));
  // Every value up to 25.00 as cents: below 20.48 the general rule reads
  // the double's digits, and some (0.41, 15.92) read differently.
  for (int32_t i = 2; i <= 2500; ++i) ints.push_back(i % 7 == 0 ? -i : i);
  ModelBuilder mb;
  auto s = mb.sheet("S", int32_t(ints.size()), 2 * int32_t(std::size(formats)));
  for (size_t r = 0; r < ints.size(); ++r)
    for (size_t f = 0; f < std::size(formats); ++f) {
      uint32_t rk = (uint32_t(ints[r]) << 2) | 2;
      s.rk(int32_t(r), int32_t(2 * f), rk, formats[f]);
      s.rk(int32_t(r), int32_t(2 * f + 1), rk | 1, formats[f]);
    }
  sheetdump::Workbook wb = mb.build();
  sheetdump::CellRenderer render(wb, {});
  const sheetdump::Sheet& sheet = wb.sheets[0];
  for (const sheetdump::Cell& cell : sheet.cells) {
    const sheetdump::FormatPlan& plan = render.plan(cell.xf);
    double v = sheetdump::decode_rk(cell.value);
    TextBuffer want;
    if (plan.kind == sheetdump::FormatPlan::Kind::Printf)
      sheetdump::append_printf(want, plan.pattern, v);
    else if (plan.kind == sheetdump::FormatPlan::Kind::General)
      sheetdump::append_general(want, v);
    else
      continue;
    std::string got(*render.text(sheet, cell));
    EXPECT_EQ(got, want.view()) << v << " xf " << cell.xf;
    char direct[sheetdump::CellRenderer::kRkRoom];
    if (render.rk_direct(cell)) {
      EXPECT_EQ(std::string_view(direct, size_t(render.write_rk(cell, direct) - direct)), got);
    }
  }
}

// The writers' entry, write_number, renders RK hundredths under the general
// rule without asking the plan's other paths: every value up to 40,000.00
// and past 20.48 (where that path begins) by a margin, values drawn from
// every magnitude an RK integer holds, and the neighbours of powers of two,
// where the double's spacing doubles; both signs, each as append_general
// prints the double.
TEST(CellTextRk, WriteNumberOfHundredthsMatchesTheGeneralRule) {
  sheetdump::Workbook wb;
  wb.xf_formats = {0};
  const sheetdump::Sheet sheet;
  sheetdump::CellRenderer render(wb, {});
  std::vector<uint32_t> magnitudes;
  for (uint32_t m = 0; m <= 4000000; ++m) magnitudes.push_back(m);
  std::mt19937 rng(20261211);
  for (int i = 0; i < 200000; ++i) magnitudes.push_back(rng() % (1u << (12 + rng() % 18)));
  for (int k = 11; k < 29; ++k)
    for (int32_t d = -200; d <= 200; ++d) magnitudes.push_back(uint32_t((int32_t(1) << k) + d));
  magnitudes.push_back((1u << 29) - 1);
  int failures = 0;
  for (uint32_t m : magnitudes) {
    for (int32_t n : {int32_t(m), -int32_t(m)}) {
      const auto cell = sheetdump::Cell::make(0, 0, sheetdump::Cell::Kind::Rk, 0,
                                              (uint32_t(n) << 2) | 3);
      char room[sheetdump::CellRenderer::kNumberRoom];
      char* end = render.write_number(sheet, cell, room);
      TextBuffer want;
      sheetdump::append_general(want, sheetdump::decode_rk(cell.value));
      if ((end == nullptr || std::string_view(room, size_t(end - room)) != want.view()) &&
          ++failures <= 10)
        ADD_FAILURE() << n << " hundredths: got '"
                      << (end ? std::string(room, size_t(end - room)) : "(none)") << "', want '"
                      << want.view() << "'";
    }
  }
  EXPECT_EQ(failures, 0) << "of " << magnitudes.size() << " magnitudes";
}
}  // namespace

namespace {

// Under --formatted a cell whose XF index lies past the records takes the
// compiled General, not the built-in general rule's direct RK path (which
// knows no compiled plan and gave no text at all for cents).
TEST(CellTextRk, FormattedCellWithoutXfRecordUsesTheCompiledGeneral) {
  ModelBuilder mb;
  mb.sheet("S", 1, 4)
      .rk(0, 0, (uint32_t(1234) << 2) | 3)
      .rk(0, 1, (uint32_t(-5) << 2) | 3)
      .rk(0, 2, (uint32_t(42) << 2) | 2)
      .rk(0, 3, (uint32_t(250) << 2) | 3);
  sheetdump::Workbook wb = mb.build();
  sheetdump::RenderOptions o;
  o.rendering = sheetdump::Rendering::Formatted;
  sheetdump::CellRenderer render(wb, o);
  const char* const want[] = {"12.34", "-0.05", "42", "2.5"};
  for (size_t i = 0; i < 4; ++i) {
    const sheetdump::Cell& cell = wb.sheets[0].cells[i];
    EXPECT_FALSE(render.rk_direct(cell));
    EXPECT_EQ(render.text(wb.sheets[0], cell).value_or("<none>"), want[i]) << i;
    char room[sheetdump::CellRenderer::kNumberRoom];
    char* end = render.write_number(wb.sheets[0], cell, room);
    ASSERT_NE(end, nullptr) << i;
    EXPECT_EQ(std::string_view(room, size_t(end - room)), want[i]) << i;
  }
}

TEST(CellTextRk, ExactDirectPathMatchesShortest) {
  std::mt19937 rng(11);
  std::vector<int32_t> ints = {0,         1, -1, 5, -5, 10, 100, -100, 1230, 120000, (1 << 29) - 1,
                               -(1 << 29)};
  for (int i = 0; i < 5000; ++i) ints.push_back(int32_t(rng() % (1u << 30)) - (1 << 29));
  for (int i = 0; i < 2000; ++i) ints.push_back(int32_t(rng() % 2000) - 1000);
  ModelBuilder mb;
  auto s = mb.sheet("S", int32_t(ints.size()), 2);
  for (size_t r = 0; r < ints.size(); ++r) {
    uint32_t rk = (uint32_t(ints[r]) << 2) | 2;
    s.rk(uint16_t(r), 0, rk);
    s.rk(uint16_t(r), 1, rk | 1);
  }
  sheetdump::Workbook wb = mb.build();
  sheetdump::RenderOptions o;
  o.rendering = sheetdump::Rendering::Exact;
  sheetdump::CellRenderer render(wb, o);
  for (const sheetdump::Cell& cell : wb.sheets[0].cells) {
    TextBuffer want;
    sheetdump::append_shortest(want, sheetdump::decode_rk(cell.value));
    EXPECT_EQ(*render.text(wb.sheets[0], cell), want.view()) << cell.value;
    char direct[sheetdump::CellRenderer::kRkRoom];
    ASSERT_TRUE(render.rk_direct(cell));
    EXPECT_EQ(std::string_view(direct, size_t(render.write_rk(cell, direct) - direct)), want.view())
        << cell.value;
  }
}

}  // namespace

namespace {

// The writer's fast path (write_number, straight into the output buffer)
// must print exactly what the general path (text) prints, for every kind
// of number cell, every plan it takes on and every rendering: where it
// declines (nullptr) the general path prints the cell instead.
struct DirectCase {
  const char* name;
  sheetdump::RenderOptions options;
  bool date1904;
};

class CellTextDirect : public ::testing::TestWithParam<DirectCase> {};

std::vector<double> direct_values() {
  std::mt19937_64 rng(99);
  std::vector<double> v = {0.0,
                           -0.0,
                           0.5,
                           -1.005,
                           1e-7,
                           2147483647.995,
                           2147483648.5,
                           4503599627370497.0,
                           1e300,
                           -1e300,
                           std::numeric_limits<double>::infinity(),
                           std::numeric_limits<double>::quiet_NaN(),
                           std::numeric_limits<double>::denorm_min(),
                           -657434.0,  // 1000-01-01 and one day before
                           -657435.0,
                           2958465.99999,  // 9999-12-31 and one day after
                           2958466.0,
                           59.0,
                           60.0,
                           61.0,
                           27738.14929398148};
  for (int i = 0; i < 3000; ++i) {
    uint64_t bits = rng();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    v.push_back(d);
    v.push_back(double(int64_t(rng() % 200000000) - 100000000) / 10000.0);
    v.push_back(double(rng() % 3000000) / 100.0 + double(rng() % 1440) / 1440.0);
    v.push_back(double(int64_t(rng() >> 20)) * ((rng() & 1) != 0 ? 1 : -1));
  }
  return v;
}

TEST_P(CellTextDirect, WriteNumberPrintsWhatTextPrints) {
  const int32_t formats[] = {-1, 0, 1, 2, 3, 4, 9, 10, 11, 14, 15, 18, 20, 22, 45, 46, 47, 165};
  const std::vector<double> values = direct_values();
  ModelBuilder mb;
  mb.date1904(GetParam().date1904);
  auto s = mb.sheet("S", int32_t(values.size()), int32_t(2 * std::size(formats)));
  std::mt19937 rng(5);
  for (size_t r = 0; r < values.size(); ++r)
    for (size_t f = 0; f < std::size(formats); ++f) {
      s.number(uint16_t(r), uint8_t(2 * f), values[r], formats[f]);
      // An RK of every form: integer, integer / 100, and the high 30 bits
      // of a double, with and without the / 100.
      uint32_t rk = uint32_t(rng());
      s.rk(uint16_t(r), uint8_t(2 * f + 1), rk, formats[f]);
    }
  sheetdump::Workbook wb = mb.build();
  sheetdump::CellRenderer render(wb, GetParam().options);
  const sheetdump::Sheet& sheet = wb.sheets[0];
  int failures = 0;
  size_t direct = 0;
  for (const sheetdump::Cell& cell : sheet.cells) {
    char room[sheetdump::CellRenderer::kRkRoom];
    char* end = render.write_number(sheet, cell, room);
    if (end == nullptr) continue;
    ++direct;
    ASSERT_LE(size_t(end - room), sizeof room);
    std::string got(room, size_t(end - room));
    std::string want(render.text(sheet, cell).value_or("<none>"));
    if (got != want && ++failures <= 10)
      ADD_FAILURE() << sheetdump::cell_number(sheet, cell) << " xf " << cell.xf << ": direct '"
                    << got << "', text '" << want << "'";
  }
  EXPECT_EQ(failures, 0);
  EXPECT_GT(direct, 0u);  // the fast path is taken at all
}

sheetdump::RenderOptions with_all() {
  sheetdump::RenderOptions o;
  o.all = true;
  return o;
}
sheetdump::RenderOptions exact() {
  sheetdump::RenderOptions o;
  o.rendering = sheetdump::Rendering::Exact;
  return o;
}
sheetdump::RenderOptions iso_dates() {
  sheetdump::RenderOptions o;
  o.date_pattern = "%Y-%m-%d %H:%M:%S";
  return o;
}
sheetdump::RenderOptions long_pattern() {
  sheetdump::RenderOptions o;
  o.date_pattern = "%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y%Y (%b %p)";  // past the direct room
  return o;
}

INSTANTIATE_TEST_SUITE_P(Renderings, CellTextDirect,
                         ::testing::Values(DirectCase{"default", {}, false},
                                           DirectCase{"default_1904", {}, true},
                                           DirectCase{"all", with_all(), false},
                                           DirectCase{"all_1904", with_all(), true},
                                           DirectCase{"exact", exact(), false},
                                           DirectCase{"iso_pattern", iso_dates(), false},
                                           DirectCase{"long_pattern", long_pattern(), false}),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace

namespace {

// Under --formatted a number cell of a common code renders through the
// fast path into the cell buffer, any other value through the token walk;
// both give the walk's bytes.
TEST(CellTextFormatted, FastAndWalkedCellsAgree) {
  // Built-in codes and the workbook's own.
  std::vector<std::pair<int32_t, std::string>> codes = {{0, ""},
                                                        {2, ""},
                                                        {3, ""},
                                                        {10, ""},
                                                        {14, ""},
                                                        {22, ""},
                                                        {164, "m/d/yyyy h:mm"},
                                                        {165, "0.00E+00"},
                                                        {166, "#,##0.00;[Red]-#,##0.00"}};
  for (auto& [index, code] : codes)
    if (index < 164) code = std::string(sheetdump::builtin_format_code(index));
  const std::vector<double> values = {0,        -0.0,         1,         -1.5,      2.675,
                                      0.125,    123456789.12, 1e11,      1e300,     -1e-300,
                                      45000.75, std::nan(""), 0.1 + 0.2, 99999.995, 1234567.891};
  ModelBuilder mb;
  mb.format(164, "m/d/yyyy h:mm").format(165, "0.00E+00").format(166, "#,##0.00;[Red]-#,##0.00");
  auto s = mb.sheet("S", int32_t(values.size()), int32_t(codes.size()));
  for (size_t r = 0; r < values.size(); ++r)
    for (size_t c = 0; c < codes.size(); ++c)
      s.number(uint16_t(r), uint8_t(c), values[r], codes[c].first);
  sheetdump::Workbook wb = mb.build();
  sheetdump::RenderOptions o;
  o.rendering = sheetdump::Rendering::Formatted;
  sheetdump::CellRenderer render(wb, o);
  for (const sheetdump::Cell& cell : wb.sheets[0].cells) {
    sheetdump::CompiledFormat walk = sheetdump::compile_format(codes[cell.col].second);
    walk.fast = sheetdump::FastPath::kNone;
    std::string want;
    sheetdump::render_number(walk, values[size_t(cell.row)], false, want);
    std::string got(*render.text(wb.sheets[0], cell));
    EXPECT_EQ(got, want) << codes[cell.col].second << " " << values[size_t(cell.row)];
  }
}

}  // namespace
