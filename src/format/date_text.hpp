// Day serials rendered through strftime patterns, as the built-in date
// formats and the ISO pattern print them.
#pragma once

#include "format/number_text.hpp"

namespace sheetdump {

// Renders day serial `serial` through a strftime pattern: seconds since
// 1970 are (serial - 25569) x 86400, truncated toward zero, broken down as
// UTC. False when the value cannot be broken down (NaN, out of range).
bool append_date(TextBuffer& out, double serial, const char* pattern);

}  // namespace sheetdump
