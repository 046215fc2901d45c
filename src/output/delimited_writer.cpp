#include "output/delimited_writer.hpp"

#include <optional>

#include "output/delimited_rows.hpp"
#include "output/rows_in_two.hpp"

namespace sheetdump {

namespace {

using delimited::Csv;
using delimited::Tab;

template <class F>
void write_delimited(CellRenderer& render, const Sheet& sheet, OutputStream& out,
                     CellRenderer* helper) {
  delimited::RowWriter<F> mine(render, sheet, sheet.cols);
  std::optional<delimited::RowWriter<F>> other;
  if (helper != nullptr) other.emplace(*helper, sheet, sheet.cols);
  write_rows_in_two(mine, other ? &*other : nullptr, sheet, 0, out);
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
