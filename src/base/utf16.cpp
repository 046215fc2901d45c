#include "base/utf16.hpp"

namespace sheetdump {

namespace {

void append_code_point(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(char(cp));
  } else if (cp < 0x800) {
    out.push_back(char(0xC0 | (cp >> 6)));
    out.push_back(char(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(char(0xE0 | (cp >> 12)));
    out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(char(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(char(0xF0 | (cp >> 18)));
    out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(char(0x80 | (cp & 0x3F)));
  }
}

bool is_high(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

void append_utf16_as_utf8(std::string& out, std::span<const uint16_t> units) {
  constexpr uint32_t kReplacement = 0xFFFD;
  for (size_t i = 0; i < units.size(); ++i) {
    uint32_t u = units[i];
    if (is_high(u) && i + 1 < units.size() && is_low(units[i + 1])) {
      uint32_t cp = 0x10000 + ((u - 0xD800) << 10) + (uint32_t(units[i + 1]) - 0xDC00);
      append_code_point(out, cp);
      ++i;
    } else if (is_high(u) || is_low(u)) {
      append_code_point(out, kReplacement);
    } else {
      append_code_point(out, u);
    }
  }
}

}  // namespace sheetdump
