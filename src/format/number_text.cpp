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

[[gnu::always_inline]] inline int digit_count32(uint32_t v) {
  return 1 + (v >= 10) + (v >= 100) + (v >= 1000) + (v >= 10000) + (v >= 100000) + (v >= 1000000) +
         (v >= 10000000) + (v >= 100000000) + (v >= 1000000000);
}

// The digits of v, ending at `end`, written backwards two at a time.
template <class U>
[[gnu::always_inline]] inline void write_backwards(char* end, U v) {
  while (v >= 100) {
    unsigned i = unsigned(v % 100) * 2;
    v /= 100;
    end -= 2;
    end[0] = kTwoDigits[i];
    end[1] = kTwoDigits[i + 1];
  }
  if (v >= 10) {
    end[-2] = kTwoDigits[v * 2];
    end[-1] = kTwoDigits[v * 2 + 1];
  } else {
    end[-1] = char('0' + v);
  }
}

// Room a scaled decimal can need: sign, 20 digits, point, 17 decimals.
static_assert(kScaledRoom == 48);

}  // namespace

char* write_decimal(char* p, uint64_t v) {
  if (v <= UINT32_MAX) {
    char* end = p + digit_count32(uint32_t(v));
    write_backwards(end, uint32_t(v));
    return end;
  }
  // Above 2^32: the low nine digits apart, so that the rest fits 32 bits
  // but for values of 10^18 and more.
  uint64_t high = v / 1000000000;
  char* mid = high <= UINT32_MAX ? p + digit_count32(uint32_t(high)) : write_decimal(p, high);
  if (high <= UINT32_MAX) write_backwards(mid, uint32_t(high));
  uint32_t low = uint32_t(v % 1000000000);
  for (int i = 8; i >= 0; --i) {
    mid[i] = char('0' + low % 10);
    low /= 10;
  }
  return mid + 9;
}

char* write_scaled(char* p, bool negative, uint64_t m, int scale, int precision) {
  if (negative) *p++ = '-';
  if (scale == 0) {
    p = write_decimal(p, m);
    if (precision > 0) *p++ = '.';
  } else if (scale == 2 && m >= 100 && m <= UINT32_MAX) {
    // The common case, cents: whole part, point, two digits from the table.
    uint32_t whole = uint32_t(m) / 100;
    unsigned cents = (uint32_t(m) % 100) * 2;
    char* end = p + digit_count32(whole);
    write_backwards(end, whole);
    end[0] = '.';
    end[1] = kTwoDigits[cents];
    end[2] = kTwoDigits[cents + 1];
    p = end + 3;
  } else {
    char digits[24];
    int nd = int(write_decimal(digits, m) - digits);
    if (nd <= scale) {
      *p++ = '0';
      *p++ = '.';
      for (int i = nd; i < scale; ++i) *p++ = '0';
      std::memcpy(p, digits, size_t(nd));
      p += nd;
    } else {
      int whole = nd - scale;
      std::memcpy(p, digits, size_t(whole));
      p += whole;
      *p++ = '.';
      std::memcpy(p, digits + whole, size_t(scale));
      p += scale;
    }
  }
  for (int i = scale; i < precision; ++i) *p++ = '0';
  return p;
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

// "%.Nf" without a decimal expansion, where that is exact. If some decimal
// m / 10^k with k <= N reads back as `v` (the division is correctly
// rounded, so m / 10^k == v says exactly that), and `v` lies below 2^31,
// where doubles are closer together than 10^-6, then that decimal is the
// nearest N-digit one, which is what printf prints. False otherwise.
bool append_fixed_short(TextBuffer& out, double v, int precision) {
  static constexpr double kPow10[] = {1, 10, 100, 1000, 10000, 100000, 1000000};
  if (precision > 6 || !(std::fabs(v) < 2147483648.0)) return false;
  for (int k = 1; k <= precision; ++k) {
    double m = std::rint(v * kPow10[k]);
    if (m / kPow10[k] == v) {
      append_scaled(out, std::signbit(v), uint64_t(std::fabs(m)), k, precision);
      return true;
    }
  }
  return false;
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
  if (append_fixed_short(out, v, precision)) return;
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
