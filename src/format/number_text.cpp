#include "format/number_text.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace sheetdump {

using digits::kTwoDigits;

void TextBuffer::append(std::string_view s) {
  size_t n = std::min(s.size(), data.size() - len);
  std::memcpy(data.data() + len, s.data(), n);
  len += n;
}

namespace {

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
  // From 2^52 on every double is whole; below it the conversion truncates.
  const double whole = a < 4503599627370496.0 ? double(int64_t(a)) : a;
  return fraction_places(a - whole);
}

namespace {

// The careful form of append_scaled, for a buffer nearly full: every
// byte through the bounded append.
void append_scaled_slow(TextBuffer& out, bool negative, uint64_t m, int scale, int precision) {
  char digits[24];
  auto [end, ec] = std::to_chars(digits, digits + sizeof digits, m);
  (void)ec;  // 24 bytes hold any 64-bit value
  std::string_view d(digits, size_t(end - digits));
  if (negative) out.append('-');
  if (int(d.size()) <= scale) {
    out.append("0.");
    for (int i = int(d.size()); i < scale; ++i) out.append('0');
    out.append(d);
  } else {
    out.append(d.substr(0, d.size() - size_t(scale)));
    if (scale > 0) {
      out.append('.');
      out.append(d.substr(d.size() - size_t(scale)));
    }
  }
  if (precision > 0 && scale == 0) out.append('.');
  for (int i = scale; i < precision; ++i) out.append('0');
}

// Exactly `count` digits of v (below 10^count), zeros in front, at p.
[[gnu::always_inline]] inline void write_fixed_width(char* p, uint64_t v, int count) {
  if (count == 2) {
    std::memcpy(p, digits::pair(size_t(v)), 2);
    return;
  }
  if (count <= 8) {
    // Eight digits of v * 10^(8 - count), whose first `count` are v's: the
    // bytes after them are overwritten by what follows (the caller's room
    // covers them).
    digits::write_8_digits(p, uint32_t(v * digits::kPow10u[8 - count]));
    return;
  }
  char* end = p + count;
  for (; count >= 2; count -= 2) {
    unsigned i = unsigned(v % 100) * 2;
    v /= 100;
    end -= 2;
    std::memcpy(end, kTwoDigits + i, 2);
  }
  if (count == 1) end[-1] = char('0' + v);
}

// Writes `count` zeros (0 to 17) at p, eight at a time: may write up to
// seven bytes beyond them.
[[gnu::always_inline]] inline char* write_zeros(char* p, int count) {
  char* end = p + (count > 0 ? count : 0);
  for (; p < end; p += 8) std::fill_n(p, 8, '0');
  return end;
}

using digits::kPow10u;

// Room a scaled decimal can need: sign, 20 digits, point, 17 decimals,
// and the zeros' overshoot.
static_assert(kScaledRoom >= 1 + 20 + 1 + 17 + 7);

}  // namespace

char* write_decimal(char* p, uint64_t v) {
  using digits::write_8_digits;
  using digits::write_below_1e8;
  if (v < 100000000) return write_below_1e8(p, uint32_t(v));
  // Eight digits at a time from the back of the number.
  uint64_t high = v / 100000000;
  uint32_t low = uint32_t(v - high * 100000000);
  if (high < 100000000) {
    p = write_below_1e8(p, uint32_t(high));
  } else {
    uint64_t top = high / 100000000;  // at most 1844
    p = write_below_1e8(p, uint32_t(top));
    p = write_8_digits(p, uint32_t(high - top * 100000000));
  }
  return write_8_digits(p, low);
}

char* write_scaled(char* p, bool negative, uint64_t m, int scale, int precision) {
  *p = '-';
  p += negative;
  if (scale == 0) {
    p = write_decimal(p, m);
    if (precision > 0) *p++ = '.';
  } else {
    uint64_t unit = kPow10u[scale];
    uint64_t whole = m / unit;
    p = write_decimal(p, whole);
    *p++ = '.';
    write_fixed_width(p, m - whole * unit, scale);
    p += scale;
  }
  return write_zeros(p, precision - scale);
}

void append_scaled(TextBuffer& out, bool negative, uint64_t m, int scale, int precision) {
  if (out.len + kScaledRoom > out.data.size() || scale < 0 || scale > 17 || precision > 17)
    return append_scaled_slow(out, negative, m, scale, precision);
  char* p = out.data.data() + out.len;
  out.len = size_t(write_scaled(p, negative, m, scale, precision) - out.data.data());
}

void append_integer(TextBuffer& out, int64_t n) {
  bool negative = n < 0;
  uint64_t m = negative ? uint64_t(0) - uint64_t(n) : uint64_t(n);
  if (out.len + kScaledRoom > out.data.size()) return append_scaled_slow(out, negative, m, 0, 0);
  char* p = out.data.data() + out.len;
  if (negative) *p++ = '-';
  out.len = size_t(write_decimal(p, m) - out.data.data());
}

namespace {

// v * 10^precision rounded to an integer as printf rounds it, half to even
// on the exact value, for |v| below 2^31 and precision up to 9: v is
// m * 2^-s exactly, so v * 10^N is the integer m * 10^N (below 2^83)
// shifted right by s, and the bits shifted out decide the rounding.
uint64_t scaled_rounded(uint64_t bits, int precision) {
  const int biased = int((bits >> 52) & 0x7FF);
  uint64_t mantissa = bits & ((uint64_t(1) << 52) - 1);
  int shift = 1074;  // subnormals: m * 2^-1074
  if (biased != 0) {
    mantissa |= uint64_t(1) << 52;
    shift = 1075 - biased;  // at least 22 below 2^31
  }
  if (shift >= 100) return 0;  // m * 10^N below 2^83 is below half of 2^100
  using Uint128 = unsigned __int128;
  const Uint128 product = Uint128(mantissa) * kPow10u[precision];
  if (shift < 64) {
    // From 2^-11 on (a shift of 22 to 63) the bits shifted out all lie in
    // the low word.
    const uint64_t low = uint64_t(product);
    uint64_t q = (uint64_t(product >> 64) << (64 - shift)) | (low >> shift);
    const uint64_t rest = low & ((uint64_t(1) << shift) - 1);
    const uint64_t half = uint64_t(1) << (shift - 1);
    if (rest > half || (rest == half && (q & 1) != 0)) ++q;
    return q;
  }
  uint64_t q = uint64_t(product >> shift);
  const Uint128 rest = product & ((Uint128(1) << shift) - 1);
  const Uint128 half = Uint128(1) << (shift - 1);
  if (rest > half || (rest == half && (q & 1) != 0)) ++q;
  return q;
}

// The common case of write_fixed: |v| below 2^31, whose whole part `whole`
// fits 32 bits, so the conversions to and from an integer truncate exactly
// and the fraction `frac` = |v| - whole is exact; up to 9 decimals.
[[gnu::always_inline]] inline char* write_fixed_below_2_31(char* p, double v, uint32_t whole,
                                                           double frac, int precision) {
  const bool negative = std::signbit(v);
  if (precision == 0 || frac == 0) {
    const uint32_t n = whole + (frac > 0.5 || (frac == 0.5 && (whole & 1) != 0));
    return write_scaled(p, negative, n, 0, precision);
  }
  // |v| * 10^N rounded lies between whole * 10^N and (whole + 1) * 10^N:
  // at the top the rounding carries into the whole part.
  const uint64_t unit = kPow10u[precision];
  uint64_t q = scaled_rounded(std::bit_cast<uint64_t>(v), precision) - uint64_t(whole) * unit;
  uint64_t shown = whole;
  if (q >= unit) {
    q -= unit;
    ++shown;
  }
  *p = '-';
  p = write_decimal(p + negative, shown);
  *p++ = '.';
  write_fixed_width(p, q, precision);
  return p + precision;
}

// The general rule's text of a double that is the one nearest to c / 100
// (c hundredths, as a 2-decimal amount is stored), from 20.48 to 2^31:
// there it departs from c by less than 2^-22, so the digits printf shows are
// the whole part and the cents, and only whether the double lies just below
// c / 100 (its fifth decimal then reads 9, and five places are shown) is
// read from the double. The same rule renders RK cents; below 20.48 the
// double's digits differ from the cents' (0.41, 15.92).
[[gnu::always_inline]] inline char* write_cents(char* p, bool negative, uint64_t c, double frac) {
  const auto whole = uint32_t(c / 100);
  const digits::CentsTail& tail = digits::kCentsTails[c - uint64_t(whole) * 100];
  *p = '-';
  p = write_u32(p + negative, whole);
  std::memcpy(p, tail.text, 8);
  return p + (digit_after(frac, 10000) ? 6 : tail.shown);
}

}  // namespace

char* write_general(char* p, double v) {
  const double a = std::fabs(v);
  if (a < 2147483648.0) {
    // decimal_places and write_fixed on the one whole part and fraction.
    const uint32_t whole = uint32_t(a);
    const double frac = a - double(whole);
    if (a >= 20.48 && frac != 0) {
      // A candidate only, checked at once: a rounding off by one means
      // the path is not taken.
      const auto c = uint64_t(a * 100.0 + 0.5);  // NOLINT(bugprone-incorrect-roundings)
      if (double(c) / 100.0 == a) return write_cents(p, std::signbit(v), c, frac);
    }
    return write_fixed_below_2_31(p, v, whole, frac, fraction_places(frac));
  }
  return write_fixed(p, v, decimal_places(v));
}

char* write_fixed(char* p, double v, int precision) {
  constexpr double kTwoPow52 = 4503599627370496.0;
  if (precision < 0 || precision > 17) return nullptr;
  const double a = std::fabs(v);
  if (a < 2147483648.0 && precision <= 9) {
    const uint32_t whole = uint32_t(a);
    return write_fixed_below_2_31(p, v, whole, a - double(whole), precision);
  }
  if (a < kTwoPow52 && (precision == 0 || v == std::trunc(v))) {
    // Whole numbers, and anything rounded to a whole number, are exact in
    // 64-bit integer arithmetic: the fraction a - trunc(a) is exact below
    // 2^52, so rounding half to even needs no decimal expansion.
    const double whole = std::trunc(a);
    const double frac = a - whole;
    uint64_t n = uint64_t(whole);
    if (frac > 0.5 || (frac == 0.5 && (n & 1) != 0)) ++n;
    return write_scaled(p, std::signbit(v), n, 0, precision);
  }
  if (precision > 9 || !(a < 2147483648.0)) return nullptr;
  const uint64_t bits = std::bit_cast<uint64_t>(v);
  return write_scaled(p, (bits >> 63) != 0, scaled_rounded(bits, precision), precision, precision);
}

void append_fixed(TextBuffer& out, double v, int precision) {
  if (out.len + kScaledRoom <= out.data.size()) {
    if (char* end = write_fixed(out.data.data() + out.len, v, precision)) {
      out.len = size_t(end - out.data.data());
      return;
    }
  } else {
    char room[kScaledRoom];
    if (char* end = write_fixed(room, v, precision)) {
      out.append(std::string_view(room, size_t(end - room)));
      return;
    }
  }
  append_chars(out, v, std::chars_format::fixed, precision);
}

void append_general(TextBuffer& out, double v) {
  if (out.len + kScaledRoom <= out.data.size()) {
    if (char* end = write_general(out.data.data() + out.len, v)) {
      out.len = size_t(end - out.data.data());
      return;
    }
  }
  append_fixed(out, v, decimal_places(v));
}

void append_printf(TextBuffer& out, const char* pattern, double v) {
  bool converted = false;
  for (const char* p = pattern; *p != '\0'; ++p) {
    if (*p != '%') {
      out.append(*p);
      continue;
    }
    const char* conv = p + 1;
    if (*conv == '%') {
      out.append('%');
      p = conv;
      continue;
    }
    int precision = 6;
    if (*conv == '.' && conv[1] >= '0' && conv[1] <= '9' && (conv[2] == 'f' || conv[2] == 'e')) {
      precision = conv[1] - '0';
      conv += 2;
    }
    if (!converted && (*conv == 'f' || *conv == 'e')) {
      if (*conv == 'f')
        append_fixed(out, v, precision);
      else
        append_chars(out, v, std::chars_format::scientific, precision);
      converted = true;
      p = conv;
      continue;
    }
    out.append('%');  // not a conversion of the table: printed as it stands
  }
}

}  // namespace sheetdump
