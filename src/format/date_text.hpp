// Day serials rendered through strftime patterns, as the built-in date
// formats and the ISO pattern print them.
#pragma once

#include "format/number_text.hpp"

namespace sheetdump {

// Renders day serial `serial` through a strftime pattern: seconds since
// 1970 are (serial - 25569) x 86400, truncated toward zero, broken down as
// UTC. False when the value cannot be broken down (NaN, out of range).
bool append_date(TextBuffer& out, double serial, const char* pattern);

// Whether write_date can render `pattern`: literal characters and the
// conversions of the format table and the ISO pattern, in at most
// kDateRoom bytes.
inline constexpr size_t kDateRoom = 40;
bool date_pattern_direct(const char* pattern);

// append_date into raw room of kDateRoom bytes, for a pattern that
// date_pattern_direct accepts: returns the end, or nullptr (nothing
// written) where the date needs append_date (years outside 1000 to 9999,
// values out of range). `layout` (date_layout of the pattern, decided once
// per format) lets the common patterns skip the reading of the pattern.
enum class DateLayout : uint8_t { Other, Mdy, MdyHm, Ymd, YmdHms };
DateLayout date_layout(const char* pattern);
char* write_date(char* p, double serial, const char* pattern, DateLayout layout);
// write_date of a whole day serial, without the double.
char* write_day(char* p, int32_t serial, const char* pattern, DateLayout layout);

}  // namespace sheetdump
