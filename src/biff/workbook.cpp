#include "biff/workbook.hpp"

#include <algorithm>
#include <cstring>
#include <limits>

namespace sheetdump {

bool TextTable::add(std::string_view text) {
  if (bytes.size() + text.size() > std::numeric_limits<uint32_t>::max()) return false;
  bytes.append(text);
  ends.push_back(uint32_t(bytes.size()));
  return true;
}

std::optional<std::string_view> sst_string(const Workbook& wb, int64_t index) {
  return wb.sst.at(index);
}

int32_t xf_format(const Workbook& wb, int32_t xf) {
  if (xf < 0 || size_t(xf) >= wb.xf_formats.size()) return kNoFormatIndex;
  return wb.xf_formats[size_t(xf)];
}

const Cell* find_cell(const Sheet& sheet, int32_t row, int32_t col) {
  if (row < 0 || col < 0 || row >= kMaxRows || col >= kMaxCols) return nullptr;
  uint32_t key = (uint32_t(row) << 8) | uint32_t(col);
  auto it = std::lower_bound(sheet.cells.begin(), sheet.cells.end(), key,
                             [](const Cell& c, uint32_t k) { return c.key() < k; });
  if (it == sheet.cells.end() || it->key() != key) return nullptr;
  return &*it;
}

double decode_rk(uint32_t v) {
  double d;
  if (v & 0x02) {
    d = double(int32_t(v) >> 2);
  } else {
    uint64_t bits = uint64_t(v & 0xFFFFFFFCu) << 32;
    std::memcpy(&d, &bits, sizeof d);
  }
  if (v & 0x01) d /= 100.0;
  return d;
}

double cell_number(const SheetValues& values, const Cell& cell) {
  if (cell.kind == Cell::Kind::Rk) return decode_rk(cell.value);
  if (cell.kind == Cell::Kind::Double && cell.value < values.numbers.size())
    return values.numbers[cell.value];
  return 0.0;
}

}  // namespace sheetdump
