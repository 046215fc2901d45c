#include "support/model_builder.hpp"

#include <algorithm>

#include "format/builtin_formats.hpp"

namespace testsupport {

using sheetdump::Cell;

uint8_t format_slot(int32_t format_index) {
  return sheetdump::lookup_format(format_index).value_or(sheetdump::kNoFormat);
}

sheetdump::Sheet& SheetBuilder::sheet() { return owner_.wb_.sheets[index_]; }

SheetBuilder& SheetBuilder::text(uint16_t row, uint8_t col, std::string_view text) {
  return sst_index(row, col, owner_.add_string(text));
}

SheetBuilder& SheetBuilder::sst_index(uint16_t row, uint8_t col, uint32_t index) {
  sheet().cells.push_back(Cell::make(row, col, Cell::TEXT, 0, index));
  return *this;
}

SheetBuilder& SheetBuilder::number(uint16_t row, uint8_t col, double value,
                                   int32_t format_index) {
  return number_slot(row, col, value, format_slot(format_index));
}

SheetBuilder& SheetBuilder::number_slot(uint16_t row, uint8_t col, double value, uint8_t slot) {
  sheetdump::Sheet& s = sheet();
  s.cells.push_back(Cell::make(row, col, Cell::DOUBLE, slot, uint32_t(s.numbers.size())));
  s.numbers.push_back(value);
  return *this;
}

SheetBuilder& SheetBuilder::rk(uint16_t row, uint8_t col, uint32_t rk_value,
                               int32_t format_index) {
  sheet().cells.push_back(Cell::make(row, col, Cell::RK, format_slot(format_index), rk_value));
  return *this;
}

SheetBuilder ModelBuilder::sheet(std::optional<std::string> name, int32_t rows, int32_t cols) {
  sheetdump::Sheet s;
  s.name = std::move(name);
  s.kind = sheetdump::SUBSTREAM_SHEET_BIFF8;
  s.rows = rows;
  s.cols = cols;
  wb_.sheets.push_back(std::move(s));
  return SheetBuilder(*this, wb_.sheets.size() - 1);
}

uint32_t ModelBuilder::add_string(std::string_view text) {
  wb_.sst.bytes.append(text);
  wb_.sst.ends.push_back(uint32_t(wb_.sst.bytes.size()));
  return uint32_t(wb_.sst.ends.size() - 1);
}

sheetdump::Workbook ModelBuilder::build() {
  for (sheetdump::Sheet& s : wb_.sheets) {
    // Stable, so that of several cells at one position the last one added
    // comes last and survives the dedup below.
    std::stable_sort(s.cells.begin(), s.cells.end(),
                     [](const Cell& a, const Cell& b) { return a.key() < b.key(); });
    std::vector<Cell> unique;
    for (const Cell& c : s.cells) {
      if (!unique.empty() && unique.back().key() == c.key())
        unique.back() = c;
      else
        unique.push_back(c);
    }
    s.cells = std::move(unique);
    if (s.name) wb_.sheet_names.push_back(*s.name);
  }
  return std::move(wb_);
}

}  // namespace testsupport
