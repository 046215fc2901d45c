// The format codes that the en-US application means by the built-in format
// indexes, which a workbook may reference without a FORMAT record.
#pragma once

#include <string_view>

namespace sheetdump {

// The en-US code of a built-in index, or "" (General) for an index that has
// none (negative, unused or locale-specific indexes).
std::string_view builtin_format_code(int index);

}  // namespace sheetdump
