// The in-memory model of one loaded workbook: its globals (the format
// index of each XF record, the workbook's own format codes, the date
// system, the shared strings) and one cell grid per sheet. Plain data: it
// knows nothing of files, compound files or records.
//
// Grids are stored sparsely: a sheet keeps the cells that its records
// gave, sorted by position, and every other position of its rows x cols
// grid is empty. Memory grows with the cells present, never with the size
// that a DIMENSIONS record claims.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

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

// A format index meaning "no format": the XF record was too short to name
// one, so the general rule applies.
constexpr int32_t kNoFormatIndex = -1;

// One cell in 12 bytes: its position, the XF record it names, its kind and
// a 32-bit value whose meaning follows the kind.
struct Cell {
  enum class Kind : uint8_t {
    Rk,            // value: the 4 bytes of an RK number
    Double,        // value: index into the sheet's table of doubles
    SharedString,  // value: index into the workbook's shared strings
    Text,          // value: index into the sheet's own texts
    Boolean,       // value: 0 or 1
    Error,         // value: the error code
  };

  uint32_t value = 0;
  uint16_t row = 0;
  uint16_t xf = 0;
  uint8_t col = 0;
  Kind kind = Kind::Rk;

  static Cell make(uint16_t row, uint8_t col, Kind kind, uint16_t xf, uint32_t value) {
    Cell c;
    c.value = value;
    c.row = row;
    c.xf = xf;
    c.col = col;
    c.kind = kind;
    return c;
  }
  bool is_number() const { return kind == Kind::Rk || kind == Kind::Double; }
  uint8_t type() const { return is_number() ? CELL_NUMBER : CELL_TEXT; }
  uint32_t key() const { return (uint32_t(row) << 8) | col; }
};
static_assert(sizeof(Cell) == 12);

// Texts in one buffer, each cut at its first NUL byte.
struct TextTable {
  std::string bytes;
  std::vector<uint32_t> ends;  // end offset of text i in `bytes`

  size_t count() const { return ends.size(); }
  std::optional<std::string_view> at(int64_t index) const {
    if (index < 0 || size_t(index) >= ends.size()) return std::nullopt;
    return text(size_t(index));
  }
  // Text `index`, which must be below count(): add() keeps the ends rising
  // and within the bytes.
  std::string_view text(size_t index) const {
    const size_t begin = index == 0 ? 0 : ends[index - 1];
    return std::string_view(bytes.data() + begin, ends[index] - begin);
  }
  // Adds a text; false (and nothing added) when the table is full.
  bool add(std::string_view text);
};

// The shared string table.
using SharedStrings = TextTable;

struct Sheet {
  std::optional<std::string> name;  // none when there are fewer names than sheets
  SubstreamKind kind = SUBSTREAM_OTHER;
  uint16_t bof_type = 0;  // the BOF record's substream type (worksheet 0x10, chart 0x20 ...)
  int32_t rows = 0;
  int32_t cols = 0;
  // The cells inside the grid, sorted by row, then column, one per position
  // (of several records for one position the last one read is kept).
  std::vector<Cell> cells;
  // Values of number cells that are not stored as RK values.
  std::vector<double> numbers;
  // Texts of the sheet's own text cells (inline texts, formula results).
  TextTable texts;
};

// What the cells of a sheet refer to besides the workbook: its table of
// doubles and its own texts. A view, so that a writer on another thread
// can hold one of a sheet that is still being loaded, whose vectors it must
// not ask for their size (see SheetWatch).
struct SheetValues {
  std::span<const double> numbers;
  const TextTable* texts = nullptr;

  // Not explicit: a loaded sheet is passed wherever its values are asked.
  SheetValues(const Sheet& sheet) : numbers(sheet.numbers), texts(&sheet.texts) {}
  SheetValues(std::span<const double> n, const TextTable* t) : numbers(n), texts(t) {}
};

// A format code that the workbook defines itself (a FORMAT record).
struct WorkbookFormat {
  int32_t index = 0;
  std::string code;  // UTF-8
};

struct Workbook {
  SharedStrings sst;
  // Per XF record, in stream order: the format index it names, or
  // kNoFormatIndex.
  std::vector<int32_t> xf_formats;
  // FORMAT records, in stream order.
  std::vector<WorkbookFormat> formats;
  // DATEMODE: serials count from 1904-01-01.
  bool date1904 = false;
  // The code page of 8-bit texts (CODEPAGE, 1252 when absent).
  uint16_t codepage = 1252;
  std::vector<Sheet> sheets;
};

// The shared string at `index`, or none outside the table.
std::optional<std::string_view> sst_string(const Workbook& wb, int64_t index);

// The format index of XF record `xf`: kNoFormatIndex beyond the XF records
// read.
int32_t xf_format(const Workbook& wb, int32_t xf);

// The cell at (row, col), or none for an empty position.
const Cell* find_cell(const Sheet& sheet, int32_t row, int32_t col);

// The value of a number cell.
double cell_number(const SheetValues& values, const Cell& cell);

// The RK encoding: a 30-bit integer or the high 30 bits of a double,
// optionally divided by 100.
double decode_rk(uint32_t v);

}  // namespace sheetdump
