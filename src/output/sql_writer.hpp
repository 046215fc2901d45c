// SQL output: each sheet is a table named after the sheet, its first row
// gives the column names, every later row one INSERT statement.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// The head of every statement of a sheet called `name` (none: ?TABLE?)
// whose first row's cells are those of [begin, end) in row 0: INSERT INTO
// t (a,b) values (
std::string statement_head(CellRenderer& render, const std::optional<std::string>& name,
                           const SheetValues& values, int32_t cols, const Cell* begin,
                           const Cell* end);

// Writes the statements of runs of rows of one sheet, with what it learns
// of the shared strings (whether each needs escaping) kept from run to
// run.
class SqlRowWriter {
 public:
  SqlRowWriter(CellRenderer& render, const SheetValues& values, int32_t cols, std::string head,
               QuoteStyle style);
  // Rows `first` to before `stop`, whose cells lie before `last` and start
  // at `next` or after it (cells of earlier rows are passed over); returns
  // the cell after them.
  const Cell* write(const Cell* next, const Cell* last, int32_t first, int32_t stop,
                    OutputStream& out);

 private:
  void write_shared(OutputStream& out, uint32_t index, std::string_view text);

  static constexpr uint8_t kUnknown = 0, kPlain = 1, kEscaped = 2;
  CellRenderer& render_;
  SheetValues values_;
  int32_t cols_;
  std::string head_;
  QuoteStyle style_;
  std::vector<uint8_t> escape_;  // per shared string
};

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
