// The fixed table of number formats the program renders by default: for
// each known format index, a strftime pattern (dates and times) or a printf
// pattern (other numbers). An index missing here means the general rule.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace sheetdump {

enum FormatKind : int32_t {
  FORMAT_DATE = 1,    // pattern is a strftime pattern for a day serial
  FORMAT_NUMBER = 2,  // pattern is a printf pattern with the value as argument
};

struct FormatInfo {
  int32_t index;
  FormatKind kind;
  const char* pattern;
};

// The 33 rows, in table order.
std::span<const FormatInfo> builtin_formats();

// The table row of a format index (its position in builtin_formats()), or
// none for an index the table lacks.
std::optional<uint8_t> lookup_format(int32_t index);

}  // namespace sheetdump
