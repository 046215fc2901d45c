#include "format/number_text.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace sheetdump {

void TextBuffer::append(std::string_view s) {
  size_t n = std::min(s.size(), data.size() - len);
  std::memcpy(data.data() + len, s.data(), n);
  len += n;
}

namespace {

// x truncated toward zero to a 32-bit integer, back as a double. Only
// called with |x| below 2^31.
double trunc32(double x) { return double(int32_t(x)); }

void append_chars(TextBuffer& out, double v, std::chars_format fmt, int precision) {
  char* first = out.data.data() + out.len;
  char* last = out.data.data() + out.data.size();
  auto [end, ec] = std::to_chars(first, last, v, fmt, precision);
  if (ec == std::errc()) out.len = size_t(end - out.data.data());
}

}  // namespace

int decimal_places(double v) {
  if (!std::isfinite(v)) return 0;
  double a = v > -v ? v : -v;
  double f = a - std::trunc(a);
  if (f <= 0) return 0;
  static constexpr double kMultipliers[] = {10000, 1000, 100, 10, 1};
  int places = 5;
  for (double m : kMultipliers) {
    double x = f * m;
    double frac = x - trunc32(x);
    double scaled = frac * 10;
    if (int32_t(scaled) > 0) return places;
    --places;
  }
  return 0;
}

void append_fixed(TextBuffer& out, double v, int precision) {
  append_chars(out, v, std::chars_format::fixed, precision);
}

void append_general(TextBuffer& out, double v) { append_fixed(out, v, decimal_places(v)); }

void append_printf(TextBuffer& out, const char* pattern, double v) {
  bool converted = false;
  for (const char* p = pattern; *p != '\0'; ++p) {
    if (*p != '%') {
      out.append(*p);
      continue;
    }
    const char* spec = p + 1;
    if (*spec == '%') {
      out.append('%');
      p = spec;
      continue;
    }
    int precision = 6;
    if (*spec == '.' && spec[1] >= '0' && spec[1] <= '9' && (spec[2] == 'f' || spec[2] == 'e')) {
      precision = spec[1] - '0';
      spec += 2;
    }
    if (!converted && (*spec == 'f' || *spec == 'e')) {
      append_chars(out, v,
                   *spec == 'f' ? std::chars_format::fixed : std::chars_format::scientific,
                   precision);
      converted = true;
      p = spec;
      continue;
    }
    out.append('%');  // not a conversion of the table: printed as it stands
  }
}

}  // namespace sheetdump
