#include "output/delimited_writer.hpp"

#include <system_error>
#include <thread>

#include "output/delimited_rows.hpp"

namespace sheetdump {

namespace {

using delimited::Csv;
using delimited::Tab;
using delimited::write_row_range;

// With a helper, the rows from the middle cell's on are written by it on a
// thread of its own into memory while this thread writes the rows before
// them to `out`; then that text follows. Where no thread can be started,
// this thread writes the whole sheet: nothing of it has reached `out` then.
template <class F>
void write_delimited(CellRenderer& render, const Sheet& sheet, OutputStream& out,
                     CellRenderer* helper) {
  if (sheet.rows <= 0) return;
  const int32_t split = helper == nullptr || sheet.cells.empty()
                            ? 0
                            : sheet.cells[sheet.cells.size() / 2].row;
  if (split <= 0) {
    write_row_range<F>(render, sheet, 0, sheet.rows, out);
    return;
  }
  // Room for the usual text of the helper's cells, so that it seldom grows
  // by copies; what is not written costs address space only.
  MemoryText text;
  text.reserve((sheet.cells.size() - sheet.cells.size() / 2) * 24);
  try {
    std::thread other([&] {
      OutputStream part(text);
      write_row_range<F>(*helper, sheet, split, sheet.rows, part);
      part.flush();
    });
    write_row_range<F>(render, sheet, 0, split, out);
    other.join();
  } catch (const std::system_error&) {
    write_row_range<F>(render, sheet, 0, sheet.rows, out);
    return;
  }
  out.write_block(text.view());
}

}  // namespace

void write_csv_sheet(CellRenderer& render, const Sheet& sheet, OutputStream& out,
                     CellRenderer* helper) {
  write_delimited<Csv>(render, sheet, out, helper);
}

void write_tab_sheet(CellRenderer& render, const Sheet& sheet, OutputStream& out,
                     CellRenderer* helper) {
  write_delimited<Tab>(render, sheet, out, helper);
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
