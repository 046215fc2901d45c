#include "format/cell_text.hpp"

#include <cmath>
#include <ctime>

#include "format/builtin_formats.hpp"

namespace sheetdump {

namespace {

// The one process-wide setting that output depends on; only the SQL writer
// sets it.
const char* g_date_override = nullptr;

constexpr double kUnixEpochSerial = 25569;
constexpr double kSecondsPerDay = 86400;

}  // namespace

void set_date_override(const char* pattern) { g_date_override = pattern; }
const char* date_override() { return g_date_override; }

bool append_date(TextBuffer& out, double serial, const char* pattern) {
  double seconds = (serial - kUnixEpochSerial) * kSecondsPerDay;
  constexpr double kLimit = 9223372036854775808.0;  // 2^63
  if (!(seconds > -kLimit && seconds < kLimit)) return false;
  time_t t = time_t(int64_t(seconds));
  struct tm tm {};
  if (gmtime_r(&t, &tm) == nullptr) return false;
  size_t room = out.data.size() - out.len;
  size_t n = std::strftime(out.data.data() + out.len, room, pattern, &tm);
  out.len += n;
  return true;
}

std::optional<std::string_view> cell_text(const Workbook& wb, const Sheet& sheet,
                                          const Cell& cell, TextBuffer& buf) {
  if (cell.kind() == Cell::TEXT) return sst_string(wb, int32_t(cell.value));
  double v = cell_number(sheet, cell);
  buf.clear();
  uint8_t slot = cell.format();
  if (slot != kNoFormat && slot < builtin_formats().size()) {
    const FormatInfo& f = builtin_formats()[slot];
    if (f.kind == FORMAT_NUMBER) {
      append_printf(buf, f.pattern, v);
      return buf.view();
    }
    const char* pattern = g_date_override ? g_date_override : f.pattern;
    if (append_date(buf, v, pattern)) return buf.view();
    buf.clear();
  }
  append_general(buf, v);
  return buf.view();
}

std::optional<std::string_view> cell_text(const Workbook& wb, const Sheet& sheet, int32_t row,
                                          int32_t col, TextBuffer& buf) {
  const Cell* cell = find_cell(sheet, row, col);
  if (cell == nullptr) return std::nullopt;
  return cell_text(wb, sheet, *cell, buf);
}

}  // namespace sheetdump
