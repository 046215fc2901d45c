#include "output/delimited_writer.hpp"

#include <cstring>
#include <string>

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

// Writes every row of a sheet, one line at a time: `before`, the fields
// with `separator` between them, `after` and a line feed.
template <class Field>
void write_delimited(CellRenderer& render, const Sheet& sheet, OutputStream& out,
                     std::string_view before, std::string_view separator, std::string_view after,
                     Field field) {
  if (sheet.rows <= 0) return;
  std::string line;
  GridWalk walk(sheet);
  for (int32_t r = 0; r < sheet.rows; ++r) {
    line.clear();
    line += before;
    for (int32_t c = 0; c < sheet.cols; ++c) {
      if (c > 0) line += separator;
      if (const Cell* cell = walk.at(r, c))
        if (auto text = render.text(sheet, *cell)) field(line, *text);
    }
    line += after;
    line += '\n';
    out.write_line(line);
  }
}

}  // namespace

void write_csv_sheet(CellRenderer& render, const Sheet& sheet, OutputStream& out) {
  write_delimited(render, sheet, out, "\"", "\",\"", "\"", append_csv_field);
}

void write_tab_sheet(CellRenderer& render, const Sheet& sheet, OutputStream& out) {
  write_delimited(render, sheet, out, "", "\t", "", append_raw);
}

void write_csv(const Workbook& wb, OutputStream& out, const RenderOptions& options) {
  CellRenderer render(wb, options);
  for (const Sheet& sheet : wb.sheets) write_csv_sheet(render, sheet, out);
}

void write_tab(const Workbook& wb, OutputStream& out, const RenderOptions& options) {
  CellRenderer render(wb, options);
  for (const Sheet& sheet : wb.sheets) write_tab_sheet(render, sheet, out);
}

}  // namespace sheetdump
