// The in-memory model of one loaded workbook: its sheet names, the format
// of each XF record, the shared strings, and one cell grid per sheet.
//
// Grids are stored sparsely: a sheet keeps the cells that its records
// gave, sorted by position, and every other position of its rows x cols
// grid is empty. Memory grows with the cells present, never with the size
// that a DIMENSIONS record claims.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "biff/record_reader.hpp"
#include "base/file_bytes.hpp"

namespace sheetdump {

enum SubstreamKind : int32_t {
  SUBSTREAM_NONE = 0,
  SUBSTREAM_OTHER = 1,
  SUBSTREAM_SHEET_BIFF5 = 7,
  SUBSTREAM_SHEET_BIFF8 = 8,
  SUBSTREAM_GLOBALS_BIFF5 = 14,
  SUBSTREAM_GLOBALS_BIFF8 = 16,
};

enum CellType : uint8_t { CELL_TEXT = 2, CELL_NUMBER = 3 };

// The largest grid a BIFF8 worksheet can fill: row numbers in cell
// records are 16-bit, and no writer goes beyond column 255.
constexpr int32_t kMaxRows = 65536;
constexpr int32_t kMaxCols = 256;

// A format slot meaning "no built-in format": the general rule applies.
constexpr uint8_t kNoFormat = 0x3F;

// One cell in 8 bytes. A number cell carries the built-in format of its XF
// record (looked up once, when the cell is loaded) instead of the XF index,
// and its value either as the 4 bytes of an RK record or as an index into
// the sheet's table of doubles; a text cell carries the index of its shared
// string.
struct Cell {
  enum Kind : uint8_t { TEXT = 0, RK = 1, DOUBLE = 2 };

  uint16_t row = 0;
  uint8_t col = 0;
  uint8_t tag = 0;  // kind in the top two bits, format slot in the low six
  uint32_t value = 0;

  static Cell make(uint16_t row, uint8_t col, Kind kind, uint8_t format, uint32_t value) {
    Cell c;
    c.row = row;
    c.col = col;
    c.tag = uint8_t((kind << 6) | (format & kNoFormat));
    c.value = value;
    return c;
  }
  Kind kind() const { return Kind(tag >> 6); }
  uint8_t type() const { return kind() == TEXT ? CELL_TEXT : CELL_NUMBER; }
  uint8_t format() const { return tag & kNoFormat; }
  uint32_t key() const { return (uint32_t(row) << 8) | col; }
};
static_assert(sizeof(Cell) == 8);

struct Sheet {
  std::optional<std::string> name;  // none when there are fewer names than sheets
  int64_t start_pos = 0;            // position of the first record after the BOF
  SubstreamKind kind = SUBSTREAM_OTHER;
  int32_t rows = 0;
  int32_t cols = 0;
  // The cells inside the grid, sorted by row, then column, one per position
  // (of several records for one position the last one read is kept).
  std::vector<Cell> cells;
  // Values of number cells that are not stored as RK values.
  std::vector<double> numbers;
};

// The shared string table: every text in one buffer, each cut at its first
// NUL byte, as texts of the program are zero-terminated.
struct SharedStrings {
  std::string bytes;
  std::vector<uint32_t> ends;  // end offset of string i in `bytes`

  size_t count() const { return ends.size(); }
  std::optional<std::string_view> at(int32_t index) const {
    if (index < 0 || size_t(index) >= ends.size()) return std::nullopt;
    size_t begin = index == 0 ? 0 : ends[size_t(index) - 1];
    return std::string_view(bytes).substr(begin, ends[size_t(index)] - begin);
  }
};

struct Workbook {
  // The file being read (released once loading is done), where in it the
  // reader's byte sequence begins, and the reader's position.
  FileBytes file;
  size_t file_offset = 0;
  RecordReader reader;

  SharedStrings sst;
  // Per XF record, in stream order: the row of the built-in format table
  // that its format index names, or kNoFormat.
  std::vector<uint8_t> xf_formats;
  std::vector<Sheet> sheets;
  std::vector<std::string> sheet_names;
  // The globals substream's BOF said BIFF5 (version 0x0500).
  bool biff5 = false;
};

// The shared string at `index`, or none outside the table.
std::optional<std::string_view> sst_string(const Workbook& wb, int32_t index);

// The format slot of XF index `xf`: kNoFormat beyond the XF records read.
uint8_t xf_format(const Workbook& wb, int32_t xf);

// The cell at (row, col), or none for an empty position.
const Cell* find_cell(const Sheet& sheet, int32_t row, int32_t col);

// The value of a number cell.
double cell_number(const Sheet& sheet, const Cell& cell);

// The RK encoding: a 30-bit integer or the high 30 bits of a double,
// optionally divided by 100.
double decode_rk(uint32_t v);

}  // namespace sheetdump
