#include "support/model_builder.hpp"

#include <algorithm>

namespace testsupport {

using sheetdump::Cell;
using Kind = sheetdump::Cell::Kind;

// An XF index that no workbook built here reaches.
constexpr uint16_t kNoXf = 0xFFFF;

sheetdump::Sheet& SheetBuilder::sheet() { return owner_.wb_.sheets[index_]; }

SheetBuilder& SheetBuilder::text(uint16_t row, uint8_t col, std::string_view text) {
  return sst_index(row, col, owner_.add_string(text));
}

SheetBuilder& SheetBuilder::sst_index(uint16_t row, uint8_t col, uint32_t index) {
  sheet().cells.push_back(Cell::make(row, col, Kind::SharedString, 0, index));
  return *this;
}

SheetBuilder& SheetBuilder::number(uint16_t row, uint8_t col, double value, int32_t format_index) {
  return number_xf(row, col, value, owner_.xf_for(format_index));
}

SheetBuilder& SheetBuilder::number_xf(uint16_t row, uint8_t col, double value, uint16_t xf) {
  sheetdump::Sheet& s = sheet();
  s.cells.push_back(Cell::make(row, col, Kind::Double, xf, uint32_t(s.numbers.size())));
  s.numbers.push_back(value);
  return *this;
}

SheetBuilder& SheetBuilder::inline_text(uint16_t row, uint8_t col, std::string_view text) {
  sheetdump::Sheet& s = sheet();
  s.texts.add(text);
  s.cells.push_back(Cell::make(row, col, Kind::Text, 0, uint32_t(s.texts.count() - 1)));
  return *this;
}

SheetBuilder& SheetBuilder::boolean(uint16_t row, uint8_t col, bool value) {
  sheet().cells.push_back(Cell::make(row, col, Kind::Boolean, 0, value ? 1 : 0));
  return *this;
}

SheetBuilder& SheetBuilder::error(uint16_t row, uint8_t col, uint8_t code) {
  sheet().cells.push_back(Cell::make(row, col, Kind::Error, 0, code));
  return *this;
}

SheetBuilder& SheetBuilder::rk(uint16_t row, uint8_t col, uint32_t rk_value, int32_t format_index) {
  sheet().cells.push_back(Cell::make(row, col, Kind::Rk, owner_.xf_for(format_index), rk_value));
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

uint16_t ModelBuilder::xf_for(int32_t format_index) {
  if (format_index < 0) return kNoXf;
  auto& xfs = wb_.xf_formats;
  for (size_t i = 0; i < xfs.size(); ++i)
    if (xfs[i] == format_index) return uint16_t(i);
  xfs.push_back(format_index);
  return uint16_t(xfs.size() - 1);
}

ModelBuilder& ModelBuilder::format(int32_t index, std::string code) {
  wb_.formats.push_back({index, std::move(code)});
  return *this;
}

ModelBuilder& ModelBuilder::date1904(bool on) {
  wb_.date1904 = on;
  return *this;
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
  }
  return std::move(wb_);
}

}  // namespace testsupport
