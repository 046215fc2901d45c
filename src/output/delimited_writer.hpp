// CSV and TAB-delimited output: one line per grid row of every sheet, in
// sheet order, with nothing between sheets or workbooks.
#pragma once

#include "biff/workbook.hpp"
#include "format/cell_text.hpp"
#include "format/render_options.hpp"
#include "output/output_stream.hpp"

namespace sheetdump {

// Every field between double quotes, separated by commas; a double quote
// inside a text is doubled. With `helper`, a second renderer of the
// workbook (each thread needs one of its own), the second half of the
// sheet's rows is written at the same time on a second thread; the output
// is the same bytes.
void write_csv_sheet(CellRenderer& render, const Sheet& sheet, OutputStream& out,
                     CellRenderer* helper = nullptr);
void write_csv(const Workbook& wb, OutputStream& out, const RenderOptions& options = {});

// Fields separated by TABs, texts unchanged; `helper` as for CSV.
void write_tab_sheet(CellRenderer& render, const Sheet& sheet, OutputStream& out,
                     CellRenderer* helper = nullptr);
void write_tab(const Workbook& wb, OutputStream& out, const RenderOptions& options = {});

}  // namespace sheetdump
