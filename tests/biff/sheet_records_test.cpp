// Worksheet records and the cell grid: DIMENSIONS, the number and text cell
// records, and what happens to records that are short, late, misplaced or
// hostile. Each test writes a small workbook and loads it whole.
#include "biff/sheet_records.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "base/le.hpp"
#include "biff/workbook.hpp"
#include "biff/workbook_loader.hpp"
#include "format/builtin_formats.hpp"
#include "format/cell_text.hpp"
#include "format/number_text.hpp"
#include "support/xls_writer.hpp"

namespace sheetdump {
namespace {

using xlsw::Bytes;

constexpr uint16_t kDimensions = 0x0200;
constexpr uint16_t kNumber = 0x0203;
constexpr uint16_t kRk = 0x027E;
constexpr uint16_t kRkOld = 0x007E;
constexpr uint16_t kMulRk = 0x00BD;
constexpr uint16_t kFormula = 0x0006;
constexpr uint16_t kFormulaOld = 0x0406;
constexpr uint16_t kFormula3 = 0x0206;
constexpr uint16_t kLabelSst = 0x00FD;
constexpr uint16_t kBlank = 0x0201;
constexpr uint16_t kBoolErr = 0x0205;

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
Bytes le16b(uint16_t v) { return {uint8_t(v), uint8_t(v >> 8)}; }
Bytes le32b(uint32_t v) {
  return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}
Bytes le_doubleb(double v) {
  Bytes b;
  xlsw::put_double(b, v);
  return b;
}

// The data of a record made by the writer (its 4-byte header dropped).
Bytes data_of(const Bytes& rec) { return Bytes(rec.begin() + 4, rec.end()); }
// The same record cut (or padded) to `size` data bytes, header adjusted.
Bytes resized(const Bytes& rec, size_t size, uint8_t pad = 0) {
  Bytes d = data_of(rec);
  d.resize(size, pad);
  return xlsw::record(uint16_t(rec[0] | (rec[1] << 8)), d);
}

// XF 0 general, XF 1 format 2 ("0.00"), XF 2 format 14 (a date): three
// distinct format slots.
std::vector<Bytes> three_xfs() { return {xlsw::xf(0), xlsw::xf(2), xlsw::xf(14)}; }

// One worksheet named "S" whose substream is BOF, `records`, EOF (no
// DIMENSIONS unless `records` holds one).
Workbook load_raw(const std::vector<Bytes>& records, std::vector<Bytes> globals = three_xfs()) {
  Bytes ws = xlsw::bof(xlsw::kBiff8, xlsw::kWorksheet);
  for (const Bytes& r : records) ws = ws + r;
  ws = ws + xlsw::eof();
  return load_workbook(xlsw::with_filler(xlsw::workbook_stream({"S"}, globals, {ws})));
}

// One worksheet with DIMENSIONS(rows, cols) and `cells`.
Workbook load_cells(const std::vector<Bytes>& cells, int32_t rows = 10, uint16_t cols = 10,
                    std::vector<Bytes> globals = three_xfs()) {
  std::vector<Bytes> records{xlsw::dimensions(rows, cols)};
  records.insert(records.end(), cells.begin(), cells.end());
  return load_raw(records, std::move(globals));
}

const Sheet& only_sheet(const Workbook& wb) {
  EXPECT_EQ(wb.sheets.size(), 1u);
  return wb.sheets.at(0);
}

std::optional<double> number_at(const Sheet& s, int32_t row, int32_t col) {
  const Cell* c = find_cell(s, row, col);
  if (!c || c->type() != CELL_NUMBER) return std::nullopt;
  return cell_number(s, *c);
}

std::string text_at(const Workbook& wb, const Sheet& s, int32_t row, int32_t col) {
  TextBuffer buf;
  auto t = cell_text(wb, s, row, col, buf);
  return t ? std::string(*t) : std::string("<none>");
}

// ---------------------------------------------------------------- RK values

struct RkCase {
  const char* name;
  uint8_t bytes[4];
  double value;
};
std::ostream& operator<<(std::ostream& os, const RkCase& c) { return os << c.name; }

class DecodeRk : public ::testing::TestWithParam<RkCase> {};

TEST_P(DecodeRk, Value) {
  const RkCase& c = GetParam();
  uint32_t v = uint32_t(c.bytes[0]) | uint32_t(c.bytes[1]) << 8 | uint32_t(c.bytes[2]) << 16 |
               uint32_t(c.bytes[3]) << 24;
  EXPECT_EQ(decode_rk(v), c.value);

  // The same bytes in an RK record (both ids) and in a MULRK entry.
  for (uint16_t id : {kRk, kRkOld}) {
    Bytes rec = xlsw::record(id, le16b(1) + le16b(2) + le16b(0) + Bytes(c.bytes, c.bytes + 4));
    Workbook wb = load_cells({rec});
    EXPECT_EQ(number_at(only_sheet(wb), 1, 2), c.value) << "record id " << id;
  }
  Workbook wb = load_cells({xlsw::mulrk(3, 4, {{0, v}})});
  EXPECT_EQ(number_at(only_sheet(wb), 3, 4), c.value) << "MULRK";
}

INSTANTIATE_TEST_SUITE_P(
    Examples, DecodeRk,
    ::testing::Values(RkCase{"int_one", {0x06, 0x00, 0x00, 0x00}, 1.0},
                      RkCase{"int_minus_one", {0xFE, 0xFF, 0xFF, 0xFF}, -1.0},
                      RkCase{"int_cents_12_34", {0x4B, 0x13, 0x00, 0x00}, 1234 / 100.0},
                      RkCase{"double_one", {0x00, 0x00, 0xF0, 0x3F}, 1.0},
                      // The flag bits are cleared before the division: exactly 1.0 / 100.
                      RkCase{"double_one_cents", {0x01, 0x00, 0xF0, 0x3F}, 1.0 / 100.0},
                      RkCase{"zero", {0x00, 0x00, 0x00, 0x00}, 0.0},
                      RkCase{"int_largest", {0xFE, 0xFF, 0xFF, 0x7F}, 536870911.0},
                      RkCase{"int_smallest", {0x02, 0x00, 0x00, 0x80}, -536870912.0},
                      RkCase{"int_cents_negative", {0xFF, 0xFF, 0xFF, 0xFF}, -1 / 100.0},
                      RkCase{"double_minus_two_and_a_half", {0x00, 0x00, 0x04, 0xC0}, -2.5}),
    [](const auto& p) { return std::string(p.param.name); });

// ---------------------------------------------------------------- DIMENSIONS

struct DimCase {
  const char* name;
  std::vector<Bytes> records;  // the substream's records before any cell
  int32_t rows;
  int32_t cols;
};
std::ostream& operator<<(std::ostream& os, const DimCase& c) { return os << c.name; }

class Dimensions : public ::testing::TestWithParam<DimCase> {};

TEST_P(Dimensions, GridSize) {
  const DimCase& c = GetParam();
  Workbook wb = load_raw(c.records);
  const Sheet& s = only_sheet(wb);
  EXPECT_EQ(s.rows, c.rows);
  EXPECT_EQ(s.cols, c.cols);
}

// Bytes not read by a layout are 0xEE so that a wrong offset shows.
Bytes dim10(uint16_t rows, uint16_t cols) {
  return xlsw::record(kDimensions, Bytes{0xEE, 0xEE} + le16b(rows) + Bytes{0xEE, 0xEE} +
                                       le16b(cols) + Bytes{0xEE, 0xEE});
}
Bytes dim_wide(int32_t rows, uint16_t cols, size_t size) {
  Bytes d = Bytes(4, 0xEE) + le32b(uint32_t(rows)) + Bytes{0xEE, 0xEE} + le16b(cols);
  d.resize(size, 0xEE);
  return xlsw::record(kDimensions, d);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, Dimensions,
    ::testing::Values(
        DimCase{"ten_bytes", {dim10(5, 3)}, 5, 3},
        DimCase{"twelve_bytes", {dim_wide(5, 3, 12)}, 5, 3},
        DimCase{"fourteen_bytes", {dim_wide(5, 3, 14)}, 5, 3},
        DimCase{"longer_than_usual", {dim_wide(5, 3, 40)}, 5, 3},
        DimCase{"writer_biff8", {xlsw::dimensions(7, 4)}, 7, 4},
        DimCase{"writer_biff5", {xlsw::dimensions5(7, 4)}, 7, 4},
        DimCase{"ten_bytes_all_rows", {dim10(65535, 256)}, 65535, 256},
        DimCase{"zero_rows", {dim_wide(0, 3, 14)}, 0, 3},
        DimCase{"zero_cols", {dim_wide(4, 0, 14)}, 4, 0},
        DimCase{"negative_rows", {dim_wide(-5, 3, 14)}, 0, 3},
        DimCase{"most_negative_rows", {dim_wide(INT32_MIN, 3, 14)}, 0, 3},
        DimCase{"none", {}, 0, 0},
        // Sizes that hold neither layout are ignored.
        DimCase{"size_0", {xlsw::record(kDimensions, {})}, 0, 0},
        DimCase{"size_8", {dim_wide(5, 3, 8)}, 0, 0},
        DimCase{"size_9", {resized(dim10(5, 3), 9)}, 0, 0},
        DimCase{"size_11", {dim_wide(5, 3, 11)}, 0, 0},
        DimCase{"bad_size_keeps_earlier_grid", {dim10(5, 3), dim_wide(9, 9, 11)}, 5, 3},
        DimCase{"second_replaces_first", {dim10(5, 3), dim_wide(2, 8, 14)}, 2, 8},
        // Hostile claims are cut to 65,536 rows and 256 columns.
        DimCase{"huge_rows", {dim_wide(INT32_MAX, 10, 14)}, 65536, 10},
        DimCase{"huge_cols", {dim_wide(10, 65535, 14)}, 10, 256},
        DimCase{"one_past_the_limits", {dim_wide(65537, 257, 14)}, 65536, 256},
        DimCase{"at_the_limits", {dim_wide(65536, 256, 14)}, 65536, 256}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(DimensionsGrid, SecondDimensionsStartsOver) {
  Workbook wb = load_raw({xlsw::dimensions(5, 5), xlsw::number(1, 1, 0, 11.0),
                          xlsw::number(4, 4, 0, 44.0), xlsw::dimensions(3, 3),
                          xlsw::number(2, 2, 0, 22.0)});
  const Sheet& s = only_sheet(wb);
  EXPECT_EQ(s.rows, 3);
  EXPECT_EQ(s.cols, 3);
  EXPECT_EQ(number_at(s, 1, 1), std::nullopt);
  EXPECT_EQ(number_at(s, 2, 2), 22.0);
  EXPECT_EQ(s.cells.size(), 1u);
}

TEST(DimensionsGrid, WithoutDimensionsNoCellIsKept) {
  Workbook wb = load_raw(
      {xlsw::number(0, 0, 0, 1.0), xlsw::rk(0, 1, 0, xlsw::rk_int(2)), xlsw::labelsst(0, 2, 0, 0)});
  const Sheet& s = only_sheet(wb);
  EXPECT_EQ(s.rows, 0);
  EXPECT_EQ(s.cols, 0);
  EXPECT_TRUE(s.cells.empty());
}

TEST(DimensionsGrid, NegativeRowsHoldNoCells) {
  Workbook wb = load_raw({dim_wide(-1, 5, 14), xlsw::number(0, 0, 0, 1.0)});
  const Sheet& s = only_sheet(wb);
  EXPECT_EQ(s.rows, 0);
  EXPECT_TRUE(s.cells.empty());
}

// A 40-byte record may claim 2^31-1 rows and 65535 columns: the grid is cut
// to the largest a worksheet can fill, and nothing is reserved for the
// positions it claims, only for what the file can hold.
TEST(DimensionsGrid, HostileClaimTakesLittleMemory) {
  Workbook wb = load_raw({dim_wide(INT32_MAX, 65535, 40), xlsw::number(65535, 255, 0, 7.0),
                          xlsw::number(0, 0, 0, 1.0), xlsw::number(3, 256, 0, 9.0)});
  const Sheet& s = only_sheet(wb);
  EXPECT_EQ(s.rows, 65536);
  EXPECT_EQ(s.cols, 256);
  EXPECT_EQ(number_at(s, 65535, 255), 7.0);
  EXPECT_EQ(number_at(s, 0, 0), 1.0);
  EXPECT_EQ(s.cells.size(), 2u);  // column 256 lies outside the grid
  EXPECT_LE(s.cells.capacity(), 256u);
  EXPECT_LE(s.numbers.capacity(), 256u);
}

TEST(DimensionsGrid, HostileClaimInEverySheet) {
  std::vector<Bytes> sheets;
  std::vector<std::string> names;
  for (int i = 0; i < 50; ++i) {
    names.push_back("S" + std::to_string(i));
    sheets.push_back(xlsw::bof(xlsw::kBiff8, xlsw::kWorksheet) + dim_wide(INT32_MAX, 65535, 14) +
                     xlsw::eof());
  }
  Workbook wb = load_workbook(xlsw::with_filler(xlsw::workbook_stream(names, {}, sheets)));
  ASSERT_EQ(wb.sheets.size(), 50u);
  size_t reserved = 0;
  for (const Sheet& s : wb.sheets) {
    EXPECT_EQ(s.rows, 65536);
    EXPECT_EQ(s.cols, 256);
    reserved += s.cells.capacity();
  }
  EXPECT_LE(reserved, 50u * 256u);
}

// Empty sheets with hostile DIMENSIONS in front of a large part of the file
// (here a worksheet of 60,000 cells): what the loaded workbook holds must
// stay in proportion to the cells present, not to the number of empty
// sheets times the size of the rest of the file.
TEST(DimensionsGrid, HostileClaimsBeforeALargeSheetTakeLittleMemory) {
  std::vector<Bytes> sheets;
  std::vector<std::string> names;
  for (int i = 0; i < 40; ++i) {
    names.push_back("S" + std::to_string(i));
    sheets.push_back(xlsw::bof(xlsw::kBiff8, xlsw::kWorksheet) + dim_wide(INT32_MAX, 65535, 14) +
                     xlsw::eof());
  }
  std::vector<Bytes> cells;
  for (uint16_t r = 0; r < 60000; ++r) cells.push_back(xlsw::rk(r, 0, 0, xlsw::rk_int(r)));
  names.push_back("Big");
  sheets.push_back(xlsw::worksheet(60000, 1, cells));
  Bytes file = xlsw::with_filler(xlsw::workbook_stream(names, {}, sheets));
  Workbook wb = load_workbook(file);
  ASSERT_EQ(wb.sheets.size(), 41u);
  EXPECT_EQ(wb.sheets.back().cells.size(), 60000u);
  size_t reserved = 0;
  for (const Sheet& s : wb.sheets) reserved += s.cells.capacity();
  // 60,000 cells are present; allow twice that, plus a little per sheet.
  EXPECT_LE(reserved, 2u * 60000u + 41u * 256u);
}

// ---------------------------------------------------------------- cell records

TEST(CellRecords, NumberKeepsValueAndFormatOfItsXf) {
  Workbook wb = load_cells({xlsw::number(0, 0, 0, 3.25), xlsw::number(1, 1, 1, -0.5),
                            xlsw::number(2, 2, 2, 40000.0), xlsw::number(3, 3, 99, 1e300)});
  const Sheet& s = only_sheet(wb);
  ASSERT_EQ(wb.xf_formats.size(), 3u);
  ASSERT_NE(wb.xf_formats[1], wb.xf_formats[2]);
  EXPECT_EQ(number_at(s, 0, 0), 3.25);
  EXPECT_EQ(number_at(s, 1, 1), -0.5);
  EXPECT_EQ(number_at(s, 2, 2), 40000.0);
  EXPECT_EQ(number_at(s, 3, 3), 1e300);
  EXPECT_EQ(find_cell(s, 0, 0)->xf, 0);
  EXPECT_EQ(find_cell(s, 1, 1)->xf, 1);
  EXPECT_EQ(find_cell(s, 2, 2)->xf, 2);
  EXPECT_EQ(find_cell(s, 3, 3)->xf, 99);
  EXPECT_EQ(xf_format(wb, 99), kNoFormatIndex);  // XF beyond the records read
  EXPECT_EQ(s.cells.size(), 4u);
}

TEST(CellRecords, NumberKeepsEveryBitOfItsDouble) {
  const double values[] = {0.1, -0.0, 5e-324, 1.7976931348623157e308, 123456789.123456789};
  std::vector<Bytes> cells;
  for (uint16_t i = 0; i < 5; ++i) cells.push_back(xlsw::number(i, 0, 0, values[i]));
  Workbook wb = load_cells(cells);
  const Sheet& s = only_sheet(wb);
  for (uint16_t i = 0; i < 5; ++i) {
    auto v = number_at(s, i, 0);
    ASSERT_TRUE(v.has_value()) << i;
    EXPECT_EQ(std::memcmp(&*v, &values[i], sizeof(double)), 0) << i;
  }
}

TEST(CellRecords, MulRkFillsItsSpanEachWithItsOwnXf) {
  Workbook wb = load_cells({xlsw::mulrk(
      5, 2, {{0, xlsw::rk_int(10)}, {1, xlsw::rk_int(11)}, {2, xlsw::rk_int_cents(1234)}})});
  const Sheet& s = only_sheet(wb);
  EXPECT_EQ(number_at(s, 5, 1), std::nullopt);
  EXPECT_EQ(number_at(s, 5, 2), 10.0);
  EXPECT_EQ(number_at(s, 5, 3), 11.0);
  EXPECT_EQ(number_at(s, 5, 4), 12.34);
  EXPECT_EQ(number_at(s, 5, 5), std::nullopt);
  EXPECT_EQ(find_cell(s, 5, 2)->xf, 0);
  EXPECT_EQ(find_cell(s, 5, 3)->xf, 1);
  EXPECT_EQ(find_cell(s, 5, 4)->xf, 2);
  EXPECT_EQ(s.cells.size(), 3u);
}

// MULRK data: row, first column, 6-byte entries, last column.
Bytes mulrk_raw(uint16_t row, uint16_t first, int entries, uint16_t last, size_t extra = 0) {
  Bytes d = le16b(row) + le16b(first);
  for (int i = 0; i < entries; ++i) d = d + le16b(0) + le32b(xlsw::rk_int(100 + i));
  d = d + Bytes(extra, 0x55) + le16b(last);
  return xlsw::record(kMulRk, d);
}

struct MulRkCase {
  const char* name;
  Bytes record;
  std::vector<int32_t> cols;  // columns of row 1 that hold a cell, in order
};
std::ostream& operator<<(std::ostream& os, const MulRkCase& c) { return os << c.name; }

class MulRkSpans : public ::testing::TestWithParam<MulRkCase> {};

TEST_P(MulRkSpans, Columns) {
  const MulRkCase& c = GetParam();
  Workbook wb = load_cells({c.record});
  const Sheet& s = only_sheet(wb);
  std::vector<int32_t> cols;
  for (const Cell& cell : s.cells) {
    EXPECT_EQ(cell.row, 1);
    cols.push_back(cell.col);
    // Entry i of the record holds the value 100 + i.
    Bytes d = data_of(c.record);
    int32_t first = le16_at(std::span<const uint8_t>(d), 2);
    EXPECT_EQ(cell_number(s, cell), 100.0 + (cell.col - first)) << "column " << int(cell.col);
  }
  EXPECT_EQ(cols, c.cols);
}

INSTANTIATE_TEST_SUITE_P(
    Records, MulRkSpans,
    ::testing::Values(MulRkCase{"three_entries", mulrk_raw(1, 2, 3, 4), {2, 3, 4}},
                      MulRkCase{"one_entry", mulrk_raw(1, 2, 1, 2), {2}},
                      MulRkCase{"last_below_first", mulrk_raw(1, 2, 3, 1), {}},
                      // The span counts, not the size: extra entries are not stored.
                      MulRkCase{"more_entries_than_span", mulrk_raw(1, 2, 4, 3), {2, 3}},
                      // Fewer entries than the span: only whole entries before the last
                      // column field are stored.
                      MulRkCase{"fewer_entries_than_span", mulrk_raw(1, 2, 2, 6), {2, 3}},
                      MulRkCase{"partial_entry_not_stored", mulrk_raw(1, 2, 2, 6, 5), {2, 3}},
                      MulRkCase{"no_entries", mulrk_raw(1, 2, 0, 4), {}},
                      MulRkCase{"size_5", resized(mulrk_raw(1, 2, 0, 2), 5), {}},
                      MulRkCase{"size_4", resized(mulrk_raw(1, 2, 0, 2), 4), {}},
                      MulRkCase{"size_0", xlsw::record(kMulRk, {}), {}},
                      // Columns beyond the grid (10 wide) are dropped, the rest kept.
                      MulRkCase{"span_past_the_grid", mulrk_raw(1, 8, 4, 11), {8, 9}},
                      MulRkCase{"first_past_the_grid", mulrk_raw(1, 12, 2, 13), {}},
                      MulRkCase{"first_past_255", mulrk_raw(1, 300, 2, 301), {}},
                      MulRkCase{"row_past_the_grid", mulrk_raw(10, 2, 2, 3), {}},
                      // A span of the whole 16-bit range in one short record.
                      MulRkCase{"huge_span_short_record", mulrk_raw(1, 0, 1, 65535), {0}}),
    [](const auto& p) { return std::string(p.param.name); });

// FORMULA data: row, column, XF, 8 result bytes, then options and tokens.
Bytes formula_raw(uint16_t id, const Bytes& result) {
  return xlsw::record(id, le16b(1) + le16b(1) + le16b(1) + result + Bytes(8, 0));
}
Bytes marked_result(uint8_t type, uint8_t b12 = 0xFF, uint8_t b13 = 0xFF) {
  return Bytes{type, 0, 0x41, 0x42, 0, 0, b12, b13};
}

struct FormulaCase {
  const char* name;
  Bytes record;
  bool has_cell;
};
std::ostream& operator<<(std::ostream& os, const FormulaCase& c) { return os << c.name; }

class FormulaResults : public ::testing::TestWithParam<FormulaCase> {};

TEST_P(FormulaResults, CellOrNot) {
  const FormulaCase& c = GetParam();
  Workbook wb = load_cells({c.record});
  const Sheet& s = only_sheet(wb);
  const Cell* cell = find_cell(s, 1, 1);
  ASSERT_EQ(cell != nullptr, c.has_cell);
  if (cell) {
    EXPECT_EQ(cell->type(), CELL_NUMBER);
    EXPECT_EQ(cell->xf, 1);
    // The value is the 8 result bytes as a double, whatever they hold.
    Bytes d = data_of(c.record);
    double expected = le_double(std::span<const uint8_t>(d), 6);
    double got = cell_number(s, *cell);
    EXPECT_EQ(std::memcmp(&got, &expected, sizeof got), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Records, FormulaResults,
    ::testing::Values(
        FormulaCase{"number", formula_raw(kFormula, le_doubleb(2.5)), true},
        FormulaCase{"number_old_id", formula_raw(kFormulaOld, le_doubleb(-7.0)), true},
        FormulaCase{"id_0206_skipped", formula_raw(kFormula3, le_doubleb(1.0)), false},
        FormulaCase{"string", formula_raw(kFormula, marked_result(0)), false},
        FormulaCase{"boolean", formula_raw(kFormula, marked_result(1)), false},
        FormulaCase{"error", formula_raw(kFormula, marked_result(2)), false},
        FormulaCase{"empty_string", formula_raw(kFormula, marked_result(3)), false},
        // Only types 0-3 with the FF FF mark are not numbers.
        FormulaCase{"type_4_is_a_number", formula_raw(kFormula, marked_result(4)), true},
        FormulaCase{"type_255_is_a_number", formula_raw(kFormula, marked_result(0xFF)), true},
        FormulaCase{"byte_12_only", formula_raw(kFormula, marked_result(0, 0xFF, 0x00)), true},
        FormulaCase{"byte_13_only", formula_raw(kFormula, marked_result(0, 0x00, 0xFF)), true},
        FormulaCase{"writer_number", xlsw::formula_number(1, 1, 1, 99.5), true},
        FormulaCase{"writer_string", xlsw::formula_other(1, 1, 1, 0), false},
        FormulaCase{"writer_boolean", xlsw::formula_other(1, 1, 1, 1), false},
        FormulaCase{"writer_error", xlsw::formula_other(1, 1, 1, 2), false},
        FormulaCase{"writer_empty", xlsw::formula_other(1, 1, 1, 3), false},
        FormulaCase{"exactly_14_bytes", resized(formula_raw(kFormula, le_doubleb(3.0)), 14), true},
        FormulaCase{"13_bytes", resized(formula_raw(kFormula, le_doubleb(3.0)), 13), false}),
    [](const auto& p) { return std::string(p.param.name); });

// Records shorter than the fields they need make no cell; at exactly the
// size needed they do.
struct ShortCase {
  const char* name;
  Bytes record;
  bool has_cell;
};
std::ostream& operator<<(std::ostream& os, const ShortCase& c) { return os << c.name; }

class ShortRecords : public ::testing::TestWithParam<ShortCase> {};

TEST_P(ShortRecords, CellOrNot) {
  const ShortCase& c = GetParam();
  Workbook wb = load_cells({c.record}, 10, 10, {xlsw::sst({xlsw::s8("t")})});
  const Sheet& s = only_sheet(wb);
  EXPECT_EQ(find_cell(s, 1, 2) != nullptr, c.has_cell);
  EXPECT_EQ(s.cells.size(), c.has_cell ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Records, ShortRecords,
    ::testing::Values(
        ShortCase{"number_14", resized(xlsw::number(1, 2, 0, 1.0), 14), true},
        ShortCase{"number_13", resized(xlsw::number(1, 2, 0, 1.0), 13), false},
        ShortCase{"number_4", resized(xlsw::number(1, 2, 0, 1.0), 4), false},
        ShortCase{"number_0", resized(xlsw::number(1, 2, 0, 1.0), 0), false},
        ShortCase{"rk_10", resized(xlsw::rk(1, 2, 0, xlsw::rk_int(1)), 10), true},
        ShortCase{"rk_9", resized(xlsw::rk(1, 2, 0, xlsw::rk_int(1)), 9), false},
        ShortCase{"rk_0", resized(xlsw::rk(1, 2, 0, xlsw::rk_int(1)), 0), false},
        ShortCase{"formula_14", resized(xlsw::formula_number(1, 2, 0, 1.0), 14), true},
        ShortCase{"formula_13", resized(xlsw::formula_number(1, 2, 0, 1.0), 13), false},
        ShortCase{"formula_0", resized(xlsw::formula_number(1, 2, 0, 1.0), 0), false},
        ShortCase{"labelsst_10", resized(xlsw::labelsst(1, 2, 0, 0), 10), true},
        ShortCase{"labelsst_9", resized(xlsw::labelsst(1, 2, 0, 0), 9), false},
        ShortCase{"labelsst_0", resized(xlsw::labelsst(1, 2, 0, 0), 0), false},
        // Longer than needed is fine.
        ShortCase{"number_20", resized(xlsw::number(1, 2, 0, 1.0), 20), true},
        ShortCase{"rk_12", resized(xlsw::rk(1, 2, 0, xlsw::rk_int(1)), 12), true}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(CellRecords, TextCellsTakeTheirSharedString) {
  Workbook wb = load_cells(
      {xlsw::labelsst(0, 0, 0, 0), xlsw::labelsst(0, 1, 0, 1), xlsw::labelsst(1, 0, 0, 2),
       xlsw::labelsst(1, 1, 0, 3), xlsw::labelsst(2, 0, 0, -1), xlsw::labelsst(2, 1, 0, INT32_MAX)},
      10, 10, {xlsw::sst({xlsw::s8("id"), xlsw::s8("name"), xlsw::s16(u"\u00e9t\u00e9")})});
  const Sheet& s = only_sheet(wb);
  EXPECT_EQ(text_at(wb, s, 0, 0), "id");
  EXPECT_EQ(text_at(wb, s, 0, 1), "name");
  EXPECT_EQ(text_at(wb, s, 1, 0), "\xC3\xA9t\xC3\xA9");
  // Index equal to the count, negative, or far beyond: a text cell without
  // text, which renders like an empty position.
  for (auto [r, c] : {std::pair{1, 1}, std::pair{2, 0}, std::pair{2, 1}}) {
    const Cell* cell = find_cell(s, r, c);
    ASSERT_NE(cell, nullptr) << r << "," << c;
    EXPECT_EQ(cell->type(), CELL_TEXT);
    EXPECT_EQ(text_at(wb, s, r, c), "<none>") << r << "," << c;
  }
}

TEST(CellRecords, WithoutSstEveryTextCellIsWithoutText) {
  Workbook wb = load_cells({xlsw::labelsst(0, 0, 0, 0), xlsw::labelsst(0, 1, 0, 1)}, 10, 10, {});
  const Sheet& s = only_sheet(wb);
  EXPECT_EQ(wb.sst.count(), 0u);
  ASSERT_EQ(s.cells.size(), 2u);
  for (int c = 0; c < 2; ++c) {
    EXPECT_EQ(find_cell(s, 0, c)->type(), CELL_TEXT);
    EXPECT_EQ(text_at(wb, s, 0, c), "<none>");
  }
}

TEST(CellRecords, LabelBlankBoolErrLeaveTheirSlotsEmpty) {
  Bytes blank = xlsw::record(kBlank, le16b(0) + le16b(1) + le16b(0));
  Bytes boolerr = xlsw::record(kBoolErr, le16b(0) + le16b(2) + le16b(0) + Bytes{1, 0});
  Workbook wb = load_cells(
      {xlsw::label(0, 0, 0, "inline"), blank, boolerr, xlsw::number(0, 3, 0, 4.0)});
  const Sheet& s = only_sheet(wb);
  ASSERT_EQ(s.cells.size(), 1u);
  EXPECT_EQ(number_at(s, 0, 3), 4.0);
}

struct LaterCase {
  const char* name;
  std::vector<Bytes> records;  // all at (1, 1)
  std::string text;            // what (1, 1) renders as at the end
};
std::ostream& operator<<(std::ostream& os, const LaterCase& c) { return os << c.name; }

class LaterRecordWins : public ::testing::TestWithParam<LaterCase> {};

TEST_P(LaterRecordWins, Slot) {
  const LaterCase& c = GetParam();
  Workbook wb = load_cells(c.records, 10, 10, {xlsw::sst({xlsw::s8("txt")})});
  const Sheet& s = only_sheet(wb);
  EXPECT_EQ(s.cells.size(), 1u);
  EXPECT_EQ(text_at(wb, s, 1, 1), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Records, LaterRecordWins,
    ::testing::Values(
        LaterCase{"number_then_number", {xlsw::number(1, 1, 0, 1), xlsw::number(1, 1, 0, 2)}, "2"},
        LaterCase{"number_then_rk",
                  {xlsw::number(1, 1, 0, 1), xlsw::rk(1, 1, 0, xlsw::rk_int(3))},
                  "3"},
        LaterCase{"rk_then_number",
                  {xlsw::rk(1, 1, 0, xlsw::rk_int(3)), xlsw::number(1, 1, 0, 4)},
                  "4"},
        LaterCase{"number_then_text",
                  {xlsw::number(1, 1, 0, 1), xlsw::labelsst(1, 1, 0, 0)},
                  "txt"},
        LaterCase{"text_then_formula",
                  {xlsw::labelsst(1, 1, 0, 0), xlsw::formula_number(1, 1, 0, 5)},
                  "5"},
        LaterCase{"mulrk_then_number",
                  {xlsw::mulrk(1, 1, {{0, xlsw::rk_int(7)}}), xlsw::number(1, 1, 0, 6)},
                  "6"},
        LaterCase{"number_then_mulrk",
                  {xlsw::number(1, 1, 0, 6), xlsw::mulrk(1, 1, {{0, xlsw::rk_int(8)}})},
                  "8"},
        LaterCase{"text_without_text_wins",
                  {xlsw::number(1, 1, 0, 1), xlsw::labelsst(1, 1, 0, 9)},
                  "<none>"},
        // Records that make no cell leave the earlier cell in place.
        LaterCase{"non_number_formula_keeps_cell",
                  {xlsw::number(1, 1, 0, 1), xlsw::formula_other(1, 1, 0, 0)},
                  "1"},
        LaterCase{"label_keeps_cell", {xlsw::number(1, 1, 0, 1), xlsw::label(1, 1, 0, "x")}, "1"},
        LaterCase{"many_rewrites",
                  {xlsw::number(1, 1, 0, 1), xlsw::number(1, 1, 0, 2), xlsw::number(1, 1, 0, 3),
                   xlsw::rk(1, 1, 0, xlsw::rk_int(4)), xlsw::number(1, 1, 0, 5)},
                  "5"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(CellRecords, UnsortedRecordsEndUpSortedLastOneWinning) {
  Workbook wb = load_cells({xlsw::number(2, 0, 0, 20), xlsw::number(0, 1, 0, 1),
                            xlsw::number(1, 1, 0, 11), xlsw::number(0, 0, 0, 0),
                            xlsw::rk(0, 1, 0, xlsw::rk_int(-1)), xlsw::number(2, 0, 0, 21),
                            xlsw::number(1, 9, 0, 19), xlsw::number(1, 0, 0, 10)});
  const Sheet& s = only_sheet(wb);
  std::vector<std::pair<int, int>> order;
  for (const Cell& c : s.cells) order.emplace_back(c.row, c.col);
  EXPECT_EQ(order,
            (std::vector<std::pair<int, int>>{{0, 0}, {0, 1}, {1, 0}, {1, 1}, {1, 9}, {2, 0}}));
  EXPECT_EQ(number_at(s, 0, 1), -1.0);
  EXPECT_EQ(number_at(s, 2, 0), 21.0);
  EXPECT_EQ(number_at(s, 1, 9), 19.0);
}

// The loader notes while it reads whether the cells come in position order
// and sorts only when they do not; a MULRK counts as its run of columns.
TEST(CellRecords, OrderNotedWhileReadingMatchesThePositions) {
  struct Case {
    const char* name;
    std::vector<Bytes> records;
    std::vector<std::tuple<int, int, double>> cells;  // in position order
  };
  const auto mulrk = [](uint16_t row, uint16_t first, std::vector<int32_t> ints) {
    std::vector<std::pair<uint16_t, uint32_t>> e;
    for (int32_t n : ints) e.emplace_back(0, xlsw::rk_int(n));
    return xlsw::mulrk(row, first, e);
  };
  const Case cases[] = {
      {"in_order",
       {xlsw::number(0, 0, 0, 1), mulrk(0, 1, {2, 3}), xlsw::number(1, 0, 0, 4)},
       {{0, 0, 1}, {0, 1, 2}, {0, 2, 3}, {1, 0, 4}}},
      {"mulrk_then_cell_inside_it",
       {mulrk(0, 1, {2, 3, 4}), xlsw::number(0, 2, 0, 9)},
       {{0, 1, 2}, {0, 2, 9}, {0, 3, 4}}},
      {"cell_then_mulrk_over_it",
       {xlsw::number(0, 2, 0, 9), mulrk(0, 1, {2, 3, 4})},
       {{0, 1, 2}, {0, 2, 3}, {0, 3, 4}}},
      {"mulrk_right_after_mulrk",
       {mulrk(0, 0, {1, 2}), mulrk(0, 2, {3})},
       {{0, 0, 1}, {0, 1, 2}, {0, 2, 3}}},
      {"mulrk_overlapping_mulrk", {mulrk(0, 0, {1, 2}), mulrk(0, 1, {3})}, {{0, 0, 1}, {0, 1, 3}}},
      {"same_position_twice", {xlsw::number(0, 0, 0, 1), xlsw::number(0, 0, 0, 2)}, {{0, 0, 2}}},
      {"row_goes_back",
       {xlsw::number(1, 0, 0, 1), xlsw::number(0, 5, 0, 2)},
       {{0, 5, 2}, {1, 0, 1}}},
      {"dropped_cell_leaves_order_alone",
       {xlsw::number(0, 1, 0, 1), xlsw::number(0, 12, 0, 7), xlsw::number(0, 2, 0, 2)},
       {{0, 1, 1}, {0, 2, 2}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Workbook wb = load_cells(c.records);
    const Sheet& s = only_sheet(wb);
    std::vector<std::tuple<int, int, double>> got;
    for (const Cell& cell : s.cells) got.emplace_back(cell.row, cell.col, cell_number(s, cell));
    EXPECT_EQ(got, c.cells);
  }
}

TEST(CellRecords, CellsOutsideTheGridAreDropped) {
  Workbook wb = load_cells({xlsw::number(3, 0, 0, 1), xlsw::number(0, 2, 0, 2),
                            xlsw::number(2, 1, 0, 3), xlsw::rk(3, 1, 0, xlsw::rk_int(4)),
                            xlsw::labelsst(0, 5, 0, 0), xlsw::formula_number(65535, 0, 0, 5),
                            xlsw::mulrk(0, 1, {{0, xlsw::rk_int(6)}, {0, xlsw::rk_int(7)}})},
                           3, 2);
  const Sheet& s = only_sheet(wb);
  std::vector<std::pair<int, int>> kept;
  for (const Cell& c : s.cells) kept.emplace_back(c.row, c.col);
  EXPECT_EQ(kept, (std::vector<std::pair<int, int>>{{0, 1}, {2, 1}}));
  EXPECT_EQ(number_at(s, 0, 1), 6.0);
  EXPECT_EQ(number_at(s, 2, 1), 3.0);
}

TEST(CellRecords, CellsBeforeDimensionsAreDropped) {
  Workbook wb = load_raw({xlsw::number(0, 0, 0, 1), xlsw::labelsst(0, 1, 0, 0),
                          xlsw::mulrk(1, 0, {{0, xlsw::rk_int(1)}}), xlsw::dimensions(5, 5),
                          xlsw::number(2, 2, 0, 2)});
  const Sheet& s = only_sheet(wb);
  ASSERT_EQ(s.cells.size(), 1u);
  EXPECT_EQ(number_at(s, 2, 2), 2.0);
}

// The handler answers false for EOF alone.
TEST(LoadSheetRecord, StopsAtEofOnly) {
  Bytes stream = xlsw::dimensions(2, 2) + xlsw::record(0x1234, {1, 2, 3}) +
                 xlsw::number(1, 1, 0, 5.0) + xlsw::eof() + xlsw::number(0, 0, 0, 6.0);
  RecordReader reader;
  reader.data = stream;
  Sheet sheet;
  SheetContext ctx(sheet);
  std::vector<bool> answers;
  while (auto rec = read_record(reader))
    answers.push_back(load_sheet_record(ctx, rec->id, record_data(reader, *rec)));
  EXPECT_EQ(answers, (std::vector<bool>{true, true, true, false, true}));
  finish_sheet(sheet);
  EXPECT_EQ(sheet.cells.size(), 2u);
}

}  // namespace
}  // namespace sheetdump
