// SQL output: each sheet is a table named after the sheet, its first row
// gives the column names, every later row one INSERT statement.
#pragma once

#include <string>
#include <string_view>

#include "biff/workbook.hpp"
#include "format/cell_text.hpp"
#include "format/render_options.hpp"
#include "output/output_stream.hpp"

namespace sheetdump {

enum QuoteStyle : int32_t {
  QUOTE_ORACLE = 1,    // a quote in a value is doubled
  QUOTE_POSTGRES = 2,  // quotes and backslashes get a backslash before them
};

// One sheet's INSERT statements (none for a sheet of fewer than 2 rows).
// With `helper`, a second renderer of the workbook (each thread needs one
// of its own), the second half of the rows is written at the same time on
// a second thread; the output is the same bytes.
void write_sql_sheet(CellRenderer& render, const Sheet& sheet, QuoteStyle style, OutputStream& out,
                     CellRenderer* helper = nullptr);

// The statements of rows 1 .. rows-1, each `head` (INSERT INTO t (a,b)
// values ( ) followed by the row's values; `helper` as above.
void write_sql_rows(CellRenderer& render, const Sheet& sheet, std::string_view head,
                    QuoteStyle style, OutputStream& out, CellRenderer* helper = nullptr);

// Every sheet of a workbook; `date_pattern` (or none) replaces every date
// format's pattern, column names included.
void write_sql(const Workbook& wb, const char* date_pattern, QuoteStyle style, OutputStream& out,
               RenderOptions options = {});

// A table or column name as it goes into a statement: unchanged when it is
// a plain identifier (a letter, underscore or byte >= 0x80 first, then also
// digits and dollar signs) that is not a reserved word (sql_reserved.hpp),
// else between double quotes with every double quote doubled. An empty name
// stays empty.
void append_identifier(std::string& out, std::string_view name);

// One value between single quotes, escaped for the quote style.
void append_sql_value(std::string& out, std::string_view text, QuoteStyle style);

}  // namespace sheetdump
