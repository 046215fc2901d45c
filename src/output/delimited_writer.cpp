#include "output/delimited_writer.hpp"

#include <cstring>
#include <string>

#include "format/cell_text.hpp"
#include "output/grid_walk.hpp"

namespace sheetdump {

namespace {

void append_csv_field(std::string& line, std::string_view text) {
  for (;;) {
    const void* q = std::memchr(text.data(), '"', text.size());
    if (q == nullptr) {
      line += text;
      return;
    }
    size_t n = size_t(static_cast<const char*>(q) - text.data()) + 1;
    line += text.substr(0, n);
    line += '"';
    text.remove_prefix(n);
  }
}

void append_raw(std::string& line, std::string_view text) { line += text; }

// Writes every row of every sheet, one line at a time: `before`, the
// fields with `separator` between them, `after` and a line feed.
template <class Field>
void write_delimited(const Workbook& wb, OutputStream& out, std::string_view before,
                     std::string_view separator, std::string_view after, Field field) {
  TextBuffer buf;
  std::string line;
  for (const Sheet& sheet : wb.sheets) {
    if (sheet.rows <= 0) continue;
    GridWalk walk(sheet);
    for (int32_t r = 0; r < sheet.rows; ++r) {
      line.clear();
      line += before;
      for (int32_t c = 0; c < sheet.cols; ++c) {
        if (c > 0) line += separator;
        if (const Cell* cell = walk.at(r, c))
          if (auto text = cell_text(wb, sheet, *cell, buf)) field(line, *text);
      }
      line += after;
      line += '\n';
      out.write_line(line);
    }
  }
}

}  // namespace

void write_csv(const Workbook& wb, OutputStream& out) {
  write_delimited(wb, out, "\"", "\",\"", "\"", append_csv_field);
}

void write_tab(const Workbook& wb, OutputStream& out) {
  write_delimited(wb, out, "", "\t", "", append_raw);
}

}  // namespace sheetdump
