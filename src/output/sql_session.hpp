// SQL output that loads into an empty database in one step (--create):
// each sheet's INSERT statements follow a CREATE TABLE statement with
// repaired column names and inferred column types, each workbook is one
// transaction, and the tables made earlier in the run are remembered so
// that a later sheet of the same layout loads into the same table.
// Without --create the session writes exactly what write_sql_sheet writes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "biff/workbook.hpp"
#include "format/cell_text.hpp"
#include "output/output_stream.hpp"
#include "output/sql_writer.hpp"

namespace sheetdump {

enum class SqlType : uint8_t { Text, Integer, BigInt, Double, Date, Time, Timestamp, Boolean };

std::string_view sql_type_name(SqlType type);

// What one rendered value can be loaded as.
enum class ValueClass : uint8_t { Int32, Int64, Double, Date, Time, Timestamp, Boolean, Other };

// The class of a value's text. Numbers are judged from the text of any
// cell: a whole number without leading zeros that fits 64 bits, or a
// decimal number (optional exponent) that is finite as a double. Dates
// and times come only from number cells (`number_cell`) and must be valid
// YYYY-MM-DD, HH:MM:SS[.f] or YYYY-MM-DD HH:MM:SS[.f]; booleans only from
// boolean cells. Everything else is Other.
ValueClass classify_value(std::string_view text, bool number_cell, bool boolean_cell);

// The classes seen in one column, and the type they give.
struct ColumnGuess {
  uint32_t seen = 0;           // bit per ValueClass
  bool beyond_double = false;  // a whole number of magnitude above 2^53
  void add(ValueClass c, std::string_view text);
  SqlType type() const;
  bool empty() const { return seen == 0; }
};

// Whether values that made `incoming` also load into a column of type
// `existing` and read back the same (an empty column fits anything).
bool column_fits(SqlType existing, const ColumnGuess& incoming);

// A column's letter as the spreadsheet shows it: 0 -> A, 25 -> Z, 26 -> AA.
std::string column_letter(int32_t col);

// A name as both databases compare it: ASCII letters folded to lower case,
// cut to PostgreSQL's 63 bytes on a UTF-8 character boundary.
std::string name_key(std::string_view name);

// The first row's texts repaired into usable column names: an empty one
// becomes its column letter, a repeated one (by name_key) gets _2, _3 ...
std::vector<std::string> repair_column_names(const std::vector<std::string>& names);

class SqlSession {
 public:
  SqlSession(QuoteStyle style, bool create) : style_(style), create_(create) {}

  // Before the first workbook: under --create with --postgres the session
  // settings that the backslash escapes need.
  void start(OutputStream& out);
  void begin_workbook(OutputStream& out);
  // One sheet's statements; `helper` as for write_sql_sheet.
  void write_sheet(CellRenderer& render, const Sheet& sheet, OutputStream& out,
                   CellRenderer* helper = nullptr);
  void end_workbook(OutputStream& out);

 private:
  struct Table {
    std::string key;
    std::vector<std::string> column_keys;
    std::vector<SqlType> types;
  };
  QuoteStyle style_;
  bool create_;
  int32_t sheet_number_ = 0;  // of the current workbook, from 1
  std::vector<Table> tables_;
};

}  // namespace sheetdump
