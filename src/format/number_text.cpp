#include "format/number_text.hpp"

#include <bit>
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

// "00" to "99": two digits per division.
constexpr char kTwoDigits[201] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// The digits of n below 100^Pairs, front to back, from one fixed-point
// product: y = n * 2^S / 100^(Pairs-1) holds the leading pair in its
// integer part, and each multiplication of the fraction by 100 brings the
// next pair up. M rounds 2^S / 100^(Pairs-1) up by less than 1, so the
// error n * (M - 2^S / 100^(Pairs-1)) stays below 2^S / 100^(Pairs-1)
// after the last multiplication as long as 2^S > n * 100^(Pairs-1), which
// S is chosen for (and y stays below 2^64). With `trim`, a leading pair
// below 10 is written as one digit.
template <int Pairs>
[[gnu::always_inline]] inline char* write_pairs(char* p, uint32_t n, bool trim) {
  constexpr int kShift = Pairs == 2 ? 32 : Pairs == 3 ? 40 : 50;
  constexpr uint64_t kDiv = Pairs == 2 ? 100 : Pairs == 3 ? 10000 : 1000000;
  constexpr uint64_t kMul = (uint64_t(1) << kShift) / kDiv + 1;
  constexpr uint64_t kMask = (uint64_t(1) << kShift) - 1;
  uint64_t y = uint64_t(n) * kMul;
  uint32_t lead = uint32_t(y >> kShift);
  if (trim && lead < 10) {
    *p++ = char('0' + lead);
  } else {
    std::memcpy(p, kTwoDigits + lead * 2, 2);
    p += 2;
  }
  for (int i = 1; i < Pairs; ++i) {
    y = (y & kMask) * 100;
    std::memcpy(p, kTwoDigits + (y >> kShift) * 2, 2);
    p += 2;
  }
  return p;
}

// The decimal digits of n below 10^8, without leading zeros.
[[gnu::always_inline]] inline char* write_below_1e8(char* p, uint32_t n) {
  if (n < 100) {
    if (n < 10) {
      *p = char('0' + n);
      return p + 1;
    }
    std::memcpy(p, kTwoDigits + n * 2, 2);
    return p + 2;
  }
  if (n < 10000) return write_pairs<2>(p, n, true);
  if (n < 1000000) return write_pairs<3>(p, n, true);
  return write_pairs<4>(p, n, true);
}

// Exactly eight digits of n below 10^8, zeros in front.
[[gnu::always_inline]] inline char* write_8_digits(char* p, uint32_t n) {
  return write_pairs<4>(p, n, false);
}

// Exactly `count` digits of v (below 10^count), zeros in front, at p.
[[gnu::always_inline]] inline void write_fixed_width(char* p, uint64_t v, int count) {
  if (count == 2) {
    std::memcpy(p, kTwoDigits + v * 2, 2);
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
  for (; p < end; p += 8) std::memcpy(p, "00000000", 8);
  return end;
}

constexpr uint64_t kPow10u[] = {1,
                                10,
                                100,
                                1000,
                                10000,
                                100000,
                                1000000,
                                10000000,
                                100000000,
                                1000000000,
                                10000000000,
                                100000000000,
                                1000000000000,
                                10000000000000,
                                100000000000000,
                                1000000000000000,
                                10000000000000000,
                                100000000000000000};

// Room a scaled decimal can need: sign, 20 digits, point, 17 decimals,
// and the zeros' overshoot.
static_assert(kScaledRoom >= 1 + 20 + 1 + 17 + 7);

}  // namespace

char* write_decimal(char* p, uint64_t v) {
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

// "%.0f" for |v| below 2^52: the fraction a - trunc(a) is exact there, so
// rounding half to even can be decided without any decimal expansion.
void append_rounded_integer(TextBuffer& out, double v) {
  double a = std::fabs(v);
  double whole = std::trunc(a);
  double frac = a - whole;
  uint64_t n = uint64_t(whole);
  if (frac > 0.5 || (frac == 0.5 && (n & 1) != 0)) ++n;
  append_scaled(out, std::signbit(v), n, 0, 0);
}

// "%.Nf" by exact integer arithmetic, for |v| below 2^31 and N up to 9:
// v is m * 2^-s exactly, so v * 10^N is the integer m * 10^N (below 2^83)
// shifted right by s, and the bits shifted out decide the rounding, half
// to even on the exact value as printf does. False outside that range.
bool append_fixed_exact(TextBuffer& out, double v, int precision) {
  if (precision < 0 || precision > 9 || !(std::fabs(v) < 2147483648.0)) return false;
  uint64_t bits = std::bit_cast<uint64_t>(v);
  const bool negative = (bits >> 63) != 0;
  const int biased = int((bits >> 52) & 0x7FF);
  uint64_t mantissa = bits & ((uint64_t(1) << 52) - 1);
  int shift = 1074;  // subnormals: m * 2^-1074
  if (biased != 0) {
    mantissa |= uint64_t(1) << 52;
    shift = 1075 - biased;  // at least 22 below 2^31
  }
  uint64_t q = 0;
  if (shift < 100) {  // from 2^100 on, m * 10^N < 2^83 rounds to 0
    using u128 = unsigned __int128;
    const u128 product = u128(mantissa) * kPow10u[precision];
    q = uint64_t(product >> shift);
    const u128 rest = product & ((u128(1) << shift) - 1);
    const u128 half = u128(1) << (shift - 1);
    if (rest > half || (rest == half && (q & 1) != 0)) ++q;
  }
  append_scaled(out, negative, q, precision, precision);
  return true;
}

}  // namespace

void append_fixed(TextBuffer& out, double v, int precision) {
  constexpr double kTwoPow52 = 4503599627370496.0;
  double a = std::fabs(v);
  if (a < kTwoPow52 && (precision == 0 || v == std::trunc(v))) {
    // Whole numbers, and anything rounded to a whole number, are exact in
    // 64-bit integer arithmetic.
    if (precision == 0) {
      append_rounded_integer(out, v);
    } else {
      append_scaled(out, std::signbit(v), uint64_t(a), 0, precision);
    }
    return;
  }
  if (append_fixed_exact(out, v, precision)) return;
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
