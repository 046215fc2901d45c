#include "output/delimited_writer.hpp"

#include "output/delimited_rows.hpp"
#include "output/rows_in_two.hpp"

namespace sheetdump {

namespace {

using delimited::Csv;
using delimited::Tab;
using delimited::write_row_range;

// Room set aside per cell for the second thread's text.
constexpr size_t kBytesPerCell = 24;

template <class F>
void write_delimited(CellRenderer& render, const Sheet& sheet, OutputStream& out,
                     CellRenderer* helper) {
  write_rows_in_two(render, helper, sheet, 0, kBytesPerCell, out,
                    [&sheet](CellRenderer& r, int32_t from, int32_t to, OutputStream& o) {
                      write_row_range<F>(r, sheet, from, to, o);
                    });
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
