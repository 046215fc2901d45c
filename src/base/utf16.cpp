#include "base/utf16.hpp"

#include "base/utf8.hpp"

namespace sheetdump {

namespace {

bool is_high(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

void append_utf16_as_utf8(std::string& out, std::span<const uint16_t> units) {
  for (size_t i = 0; i < units.size(); ++i) {
    uint32_t u = units[i];
    if (is_high(u) && i + 1 < units.size() && is_low(units[i + 1])) {
      uint32_t cp = 0x10000 + ((u - 0xD800) << 10) + (uint32_t(units[i + 1]) - 0xDC00);
      append_code_point_as_utf8(out, cp);
      ++i;
    } else if (is_high(u) || is_low(u)) {
      append_code_point_as_utf8(out, kReplacementCharacter);
    } else {
      append_code_point_as_utf8(out, u);
    }
  }
}

}  // namespace sheetdump
