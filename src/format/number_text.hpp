// Number-to-text conversions with exactly the bytes that the C library's
// printf gives, without its per-call cost: std::to_chars with a fixed or
// scientific precision is specified to match printf in the C locale.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace sheetdump {

// A reusable buffer for one rendered cell; large enough for any double in
// any pattern of the built-in table.
struct TextBuffer {
  std::array<char, 640> data;
  size_t len = 0;

  std::string_view view() const { return {data.data(), len}; }
  void clear() { len = 0; }
  void append(std::string_view s);
  void append(char c) {
    if (len < data.size()) data[len++] = c;
  }
};

// How many decimals (0 to 5) the general rule prints for `v`: the position
// of the last nonzero digit among the first five decimals of its fraction,
// taken from the double itself. NaN and infinities give 0.
int decimal_places(double v);

// Whether the first digit of the fraction of f * scale (0 <= f < 1, scale
// a power of ten up to 10^4) is nonzero: one step of fraction_places.
inline bool digit_after(double f, double scale) {
  const double x = f * scale;
  return int32_t((x - double(int32_t(x))) * 10) > 0;
}

// decimal_places of a value whose fraction |v| - trunc(|v|) is `f`
// (0 <= f < 1): digit by digit from the fifth, each taken as the first
// digit of the fraction of f * 10^k.
inline int fraction_places(double f) {
  if (!(f > 0)) return 0;
  if (digit_after(f, 10000)) return 5;
  if (digit_after(f, 1000)) return 4;
  if (digit_after(f, 100)) return 3;
  if (digit_after(f, 10)) return 2;
  return digit_after(f, 1) ? 1 : 0;
}

// The general rule: "%.*f" with decimal_places(v).
void append_general(TextBuffer& out, double v);

namespace digits {

// "00" to "99": two digits per table entry.
inline constexpr char kTwoDigits[201] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// 10^0 to 10^19: every power of ten a 64-bit integer holds.
inline constexpr uint64_t kPow10u[] = {1,
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
                                       100000000000000000,
                                       1000000000000000000,
                                       10000000000000000000u};

// The two digits of v (below 100) in kTwoDigits.
[[gnu::always_inline]] inline const char* pair(size_t v) { return kTwoDigits + 2 * v; }

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
    std::memcpy(p, pair(lead), 2);
    p += 2;
  }
  for (int i = 1; i < Pairs; ++i) {
    y = (y & kMask) * 100;
    std::memcpy(p, pair(size_t(y >> kShift)), 2);
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
    std::memcpy(p, pair(n), 2);
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

}  // namespace digits

// The decimal digits of `v` below 2^32, written at `p`; returns the end.
// At most 10 bytes.
[[gnu::always_inline]] inline char* write_u32(char* p, uint32_t v) {
  if (v < 100000000) return digits::write_below_1e8(p, v);
  uint32_t high = v / 100000000;  // 1 to 42
  p = digits::write_below_1e8(p, high);
  return digits::write_8_digits(p, v - high * 100000000);
}

// From this many hundredths (20.48) on, the general rule's text of an RK
// hundredths value is its whole part and cents; below it the double's own
// digits differ from the cents' (0.41, 15.92).
inline constexpr uint32_t kHundredthsByDigits = 2048;

namespace digits {

// ".hh000" and two bytes to spare for each h below 100, and how many of
// its bytes the general rule shows when the double reads as h itself.
struct CentsTail {
  char text[8];
  uint8_t shown;
};
inline constexpr auto kCentsTails = [] {
  std::array<CentsTail, 100> t{};
  for (uint32_t h = 0; h < 100; ++h) {
    t[h] = {{'.', char('0' + h / 10), char('0' + h % 10), '0', '0', '0', 0, 0},
            uint8_t(h % 10 != 0 ? 3
                    : h != 0    ? 2
                                : 0)};
  }
  return t;
}();

}  // namespace digits

// The general rule's text of the hundredths m / 100, m an RK integer
// (below 2^29) from kHundredthsByDigits on: the whole part, then the cents
// with a trailing zero dropped, or five places where the double nearest
// m / 100 lies just below it (its fifth decimal then reads 9). At most 14
// bytes, of which it may write 16. Kept out of line: inlined into a row
// loop it costs that loop's other cells more than the call saves. The
// doubles' write_cents writes its tail the same way; one helper for both
// made this path 6 instructions a value dearer (the compiler lays it out
// worse), so each keeps its few lines.
[[gnu::noinline]] inline char* write_general_hundredths(char* p, bool negative, uint32_t m) {
  const uint32_t whole = m / 100;
  const digits::CentsTail& tail = digits::kCentsTails[m - whole * 100];
  const double fraction = double(m) / 100.0 - double(whole);
  *p = '-';
  p = write_u32(p + negative, whole);
  std::memcpy(p, tail.text, 8);
  return p + (digit_after(fraction, 10000) ? 6 : tail.shown);
}

// The decimal digits of `v`, written at `p` through a two-digit table;
// returns the end. At most 20 bytes.
char* write_decimal(char* p, uint64_t v);

// The integer `n` as "%.0f" prints it.
void append_integer(TextBuffer& out, int64_t n);

// Room that write_scaled may need: sign, 20 digits, point, 17 decimals.
inline constexpr size_t kScaledRoom = 48;

// append_scaled into raw room of at least kScaledRoom bytes (scale and
// precision 0 to 17); returns the end.
char* write_scaled(char* p, bool negative, uint64_t m, int scale, int precision);

// "%.*f" with `precision` (at least `scale`) of the decimal m / 10^scale
// (scale 0 to 17), with a minus sign when `negative`: the digits of m
// with a point before its last `scale` digits, then zeros.
void append_scaled(TextBuffer& out, bool negative, uint64_t m, int scale, int precision);

// "%.*f" with the given precision (0 to 17), into raw room of at least
// kScaledRoom bytes, where that is exact in integer arithmetic: whole
// numbers below 2^52, and below 2^31 up to 9 decimals. Returns the end,
// or nullptr (nothing written) for any other value.
char* write_fixed(char* p, double v, int precision);

// The general rule (write_fixed with decimal_places(v)) into raw room of
// at least kScaledRoom bytes; nullptr where write_fixed gives it.
char* write_general(char* p, double v);

// "%.*f" with the given precision (0 to 17).
void append_fixed(TextBuffer& out, double v, int precision);

// A printf pattern with `v` as its only argument, as snprintf renders it.
// Knows the conversions that the format table uses: "%.Nf", "%f", "%.Ne",
// "%e" and "%%".
void append_printf(TextBuffer& out, const char* pattern, double v);

}  // namespace sheetdump
