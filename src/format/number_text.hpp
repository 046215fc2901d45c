// Number-to-text conversions with exactly the bytes that the C library's
// printf gives, without its per-call cost: std::to_chars with a fixed or
// scientific precision is specified to match printf in the C locale.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
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

// The general rule: "%.*f" with decimal_places(v).
void append_general(TextBuffer& out, double v);

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

// "%.*f" with the given precision (0 to 17).
void append_fixed(TextBuffer& out, double v, int precision);

// A printf pattern with `v` as its only argument, as snprintf renders it.
// Knows the conversions that the format table uses: "%.Nf", "%f", "%.Ne",
// "%e" and "%%".
void append_printf(TextBuffer& out, const char* pattern, double v);

}  // namespace sheetdump
