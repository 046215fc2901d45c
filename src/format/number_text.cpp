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

namespace {

void append_digits(TextBuffer& out, bool negative, uint64_t magnitude) {
  if (negative) out.append('-');
  char* first = out.data.data() + out.len;
  auto [end, ec] = std::to_chars(first, out.data.data() + out.data.size(), magnitude);
  if (ec == std::errc()) out.len = size_t(end - out.data.data());
}

// "%.0f" for |v| below 2^52: the fraction a - trunc(a) is exact there, so
// rounding half to even can be decided without any decimal expansion.
void append_rounded_integer(TextBuffer& out, double v) {
  double a = std::fabs(v);
  double whole = std::trunc(a);
  double frac = a - whole;
  uint64_t n = uint64_t(whole);
  if (frac > 0.5 || (frac == 0.5 && (n & 1) != 0)) ++n;
  append_digits(out, std::signbit(v), n);
}

// "%.Nf" through the shortest decimal that reads back as `v`. Below 2^31
// a double's spacing is under 10^-6, so when that decimal has at most N
// digits after the point it is also the nearest N-digit decimal, which is
// what printf prints; padded with zeros it is the answer. False when the
// shortest form needs more digits than N.
bool append_fixed_from_shortest(TextBuffer& out, double v, int precision) {
  char tmp[64];
  auto [end, ec] = std::to_chars(tmp, tmp + sizeof tmp, v, std::chars_format::fixed);
  if (ec != std::errc()) return false;
  std::string_view shortest(tmp, size_t(end - tmp));
  size_t dot = shortest.find('.');
  int decimals = dot == std::string_view::npos ? 0 : int(shortest.size() - dot - 1);
  if (decimals > precision) return false;
  out.append(shortest);
  if (precision > 0 && decimals == 0) out.append('.');
  for (int i = decimals; i < precision; ++i) out.append('0');
  return true;
}

}  // namespace

void append_fixed(TextBuffer& out, double v, int precision) {
  double a = std::fabs(v);
  if (precision == 0 && a < 4503599627370496.0) {  // 2^52
    append_rounded_integer(out, v);
    return;
  }
  if (precision <= 6 && a < 2147483648.0 && append_fixed_from_shortest(out, v, precision))
    return;
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
      if (*spec == 'f')
        append_fixed(out, v, precision);
      else
        append_chars(out, v, std::chars_format::scientific, precision);
      converted = true;
      p = spec;
      continue;
    }
    out.append('%');  // not a conversion of the table: printed as it stands
  }
}

}  // namespace sheetdump
