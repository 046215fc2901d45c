#include "base/utf8.hpp"

namespace sheetdump {

void append_code_point_as_utf8(std::string& out, uint32_t cp) {
  if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = kReplacementCharacter;
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

bool is_valid_utf8(std::string_view text) {
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    const uint8_t b0 = uint8_t(text[i]);
    if (b0 < 0x80) {
      ++i;
      continue;
    }
    size_t len;
    // Bounds for the second byte close off overlongs, surrogates and
    // values above U+10FFFF (table 3-7 of the Unicode standard).
    uint8_t lo = 0x80, hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
      len = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      len = 3;
      if (b0 == 0xE0) lo = 0xA0;
      if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      len = 4;
      if (b0 == 0xF0) lo = 0x90;
      if (b0 == 0xF4) hi = 0x8F;
    } else {
      return false;
    }
    if (n - i < len) return false;
    const uint8_t b1 = uint8_t(text[i + 1]);
    if (b1 < lo || b1 > hi) return false;
    for (size_t k = 2; k < len; ++k) {
      const uint8_t b = uint8_t(text[i + k]);
      if (b < 0x80 || b > 0xBF) return false;
    }
    i += len;
  }
  return true;
}

}  // namespace sheetdump
