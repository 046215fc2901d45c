// --list: one line per sheet of a workbook, its fields separated by TABs
// so that a script can cut them: the file name as given, the sheet's
// 1-based position, its name, its kind, its rows and columns.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "biff/workbook.hpp"
#include "output/output_stream.hpp"

namespace sheetdump {

// `text` with each backslash, TAB, line feed and carriage return written
// as \\, \t, \n and \r.
void append_escaped_field(std::string& out, std::string_view text);

// "worksheet", "chart", "macro" or "other", after the BOF record's type.
const char* sheet_kind_word(const Sheet& sheet);

// FILE TAB POSITION TAB NAME TAB KIND TAB ROWS TAB COLS, and a line feed.
void write_list_line(OutputStream& out, std::string_view file, size_t position, const Sheet& sheet);

}  // namespace sheetdump
