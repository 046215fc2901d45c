#include "biff/sheet_records.hpp"

#include <algorithm>

#include "base/le.hpp"
#include "biff/record_ids.hpp"

namespace sheetdump {

namespace {

using namespace record_id;

// Smallest number of bytes a cell record takes in the stream; bounds how
// many cells the rest of the data can still hold.
constexpr int64_t kBytesPerCellGuess = 12;

void make_grid(Workbook& wb, Sheet& sheet, int64_t rows, int64_t cols) {
  sheet.rows = int32_t(std::clamp<int64_t>(rows, 0, kMaxRows));
  sheet.cols = int32_t(std::clamp<int64_t>(cols, 0, kMaxCols));
  sheet.cells.clear();
  sheet.numbers.clear();
  int64_t left = int64_t(wb.reader.data.size()) - wb.reader.pos;
  int64_t guess = std::min<int64_t>(int64_t(sheet.rows) * sheet.cols,
                                    std::max<int64_t>(left, 0) / kBytesPerCellGuess);
  sheet.cells.reserve(size_t(guess));
}

// Stores a cell if its position lies inside the grid; cells outside it
// (including any cell before DIMENSIONS) are dropped.
void store(Sheet& sheet, int32_t row, int32_t col, Cell::Kind kind, uint8_t format,
           uint32_t value) {
  if (row >= sheet.rows || col >= sheet.cols) return;
  sheet.cells.push_back(Cell::make(uint16_t(row), uint8_t(col), kind, format, value));
}

void store_double(Sheet& sheet, int32_t row, int32_t col, uint8_t format, double v) {
  if (row >= sheet.rows || col >= sheet.cols) return;
  if (sheet.numbers.size() >= UINT32_MAX) return;
  store(sheet, row, col, Cell::DOUBLE, format, uint32_t(sheet.numbers.size()));
  sheet.numbers.push_back(v);
}

void load_dimensions(Workbook& wb, Sheet& sheet, std::span<const uint8_t> d) {
  if (d.size() == 10)
    make_grid(wb, sheet, le16_at(d, 2), le16_at(d, 6));
  else if (d.size() >= 12)
    make_grid(wb, sheet, le32_at(d, 4), le16_at(d, 10));
}

void load_number(const Workbook& wb, Sheet& sheet, std::span<const uint8_t> d) {
  if (d.size() < 14) return;
  store_double(sheet, le16_at(d, 0), le16_at(d, 2), xf_format(wb, le16_at(d, 4)),
               le_double(d, 6));
}

void load_rk(const Workbook& wb, Sheet& sheet, std::span<const uint8_t> d) {
  if (d.size() < 10) return;
  store(sheet, le16_at(d, 0), le16_at(d, 2), Cell::RK, xf_format(wb, le16_at(d, 4)),
        le32u_at(d, 6));
}

void load_mulrk(const Workbook& wb, Sheet& sheet, std::span<const uint8_t> d) {
  if (d.size() < 6) return;
  int32_t row = le16_at(d, 0);
  int32_t first = le16_at(d, 2);
  int32_t last = le16_at(d, d.size() - 2);
  if (last < first) return;
  // Entries count from the column span, but only those whose 6 bytes lie
  // before the trailing column field are there.
  for (int32_t i = 0; i <= last - first; ++i) {
    size_t at = 4 + 6 * size_t(i);
    if (at + 6 > d.size() - 2) break;
    store(sheet, row, first + i, Cell::RK, xf_format(wb, le16_at(d, at)), le32u_at(d, at + 2));
  }
}

void load_formula(const Workbook& wb, Sheet& sheet, std::span<const uint8_t> d) {
  if (d.size() < 14) return;
  // A result marked FF FF in bytes 12-13 with type 0-3 in byte 6 is a
  // string, boolean, error or empty string: no number, no cell.
  if (d[12] == 0xFF && d[13] == 0xFF && d[6] <= 3) return;
  store_double(sheet, le16_at(d, 0), le16_at(d, 2), xf_format(wb, le16_at(d, 4)),
               le_double(d, 6));
}

void load_labelsst(Sheet& sheet, std::span<const uint8_t> d) {
  if (d.size() < 10) return;
  store(sheet, le16_at(d, 0), le16_at(d, 2), Cell::TEXT, kNoFormat, le32u_at(d, 6));
}

}  // namespace

bool load_sheet_record(Workbook& wb, Sheet& sheet, BiffRecord& rec) {
  switch (rec.id) {
    case kEof:
      return false;
    case kDimensions:
      load_dimensions(wb, sheet, record_data(wb.reader, rec));
      break;
    case kNumber:
      load_number(wb, sheet, record_data(wb.reader, rec));
      break;
    case kRk:
    case kRkOld:
      load_rk(wb, sheet, record_data(wb.reader, rec));
      break;
    case kMulRk:
      load_mulrk(wb, sheet, record_data(wb.reader, rec));
      break;
    case kFormula:
    case kFormulaOld:
      load_formula(wb, sheet, record_data(wb.reader, rec));
      break;
    case kLabelSst:
      load_labelsst(sheet, record_data(wb.reader, rec));
      break;
    default:
      break;
  }
  return true;
}

void finish_sheet(Sheet& sheet) {
  auto& cells = sheet.cells;
  // The room reserved from DIMENSIONS is a guess; give back what a sheet
  // that claimed more than it holds did not use.
  if (cells.capacity() > cells.size() + cells.size() / 4 + 1024) cells.shrink_to_fit();
  auto out_of_order = std::adjacent_find(cells.begin(), cells.end(), [](const Cell& a, const Cell& b) {
    return a.key() >= b.key();
  });
  if (out_of_order == cells.end()) return;
  std::stable_sort(cells.begin(), cells.end(),
                   [](const Cell& a, const Cell& b) { return a.key() < b.key(); });
  // Of equal positions the last one read wins.
  size_t kept = 0;
  for (size_t i = 0; i < cells.size(); ++i) {
    if (kept > 0 && cells[kept - 1].key() == cells[i].key())
      cells[kept - 1] = cells[i];
    else
      cells[kept++] = cells[i];
  }
  cells.resize(kept);
}

}  // namespace sheetdump
