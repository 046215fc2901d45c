#include "output/delimited_writer.hpp"

#include <cstring>

#include "format/cell_text.hpp"
#include "output/grid_walk.hpp"

namespace sheetdump {

namespace {

void write_csv_field(OutputStream& out, std::string_view text) {
  for (;;) {
    const void* q = std::memchr(text.data(), '"', text.size());
    if (q == nullptr) {
      out.write(text);
      return;
    }
    size_t n = size_t(static_cast<const char*>(q) - text.data()) + 1;
    out.write(text.substr(0, n));
    out.put('"');
    text.remove_prefix(n);
  }
}

// Writes every row of every sheet; `field` writes one position's text and
// `separator` comes between fields, `before`/`after` around each line.
template <class Field>
void write_delimited(const Workbook& wb, OutputStream& out, std::string_view before,
                     std::string_view separator, std::string_view after, Field field) {
  TextBuffer buf;
  for (const Sheet& sheet : wb.sheets) {
    if (sheet.rows <= 0) continue;
    GridWalk walk(sheet);
    for (int32_t r = 0; r < sheet.rows; ++r) {
      out.write(before);
      for (int32_t c = 0; c < sheet.cols; ++c) {
        if (c > 0) out.write(separator);
        if (const Cell* cell = walk.at(r, c))
          if (auto text = cell_text(wb, sheet, *cell, buf)) field(out, *text);
      }
      out.write(after);
      out.end_line();
    }
  }
}

}  // namespace

void write_csv(const Workbook& wb, OutputStream& out) {
  write_delimited(wb, out, "\"", "\",\"", "\"", write_csv_field);
}

void write_tab(const Workbook& wb, OutputStream& out) {
  write_delimited(wb, out, "", "\t", "",
                  [](OutputStream& o, std::string_view text) { o.write(text); });
}

}  // namespace sheetdump
