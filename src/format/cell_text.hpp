// Turns a position of a loaded sheet into the text that every writer
// prints: none for an empty position, the shared string for a text cell,
// and for a number cell its rendering through the built-in format of its
// XF record (a date, a printf pattern, or the general rule).
#pragma once

#include <optional>
#include <string_view>

#include "biff/workbook.hpp"
#include "format/number_text.hpp"

namespace sheetdump {

// While set, this strftime pattern replaces the pattern of every date
// format. The caller keeps the text alive while it is set.
void set_date_override(const char* pattern);
const char* date_override();

// The text of a cell; number renderings go into `buf` and the view points
// there. A text cell's view points into the shared string table.
std::optional<std::string_view> cell_text(const Workbook& wb, const Sheet& sheet,
                                          const Cell& cell, TextBuffer& buf);

// The text at (row, col) of the sheet, or none for an empty position.
std::optional<std::string_view> cell_text(const Workbook& wb, const Sheet& sheet, int32_t row,
                                          int32_t col, TextBuffer& buf);

// Renders day serial `serial` through a strftime pattern: seconds since
// 1970 are (serial - 25569) x 86400, truncated toward zero, broken down as
// UTC. False when the value cannot be broken down (NaN, out of range).
bool append_date(TextBuffer& out, double serial, const char* pattern);

}  // namespace sheetdump
