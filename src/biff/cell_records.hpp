// Parsers of the worksheet records that carry cells: each takes a record's
// bytes and gives its fields, or none when the record is shorter than its
// fields. They know nothing of sheets or workbooks.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace sheetdump {

// The position and XF index every cell record starts with.
struct CellRef {
  int32_t row = 0;
  int32_t col = 0;
  uint16_t xf = 0;
};

// DIMENSIONS: the grid's size (first unused row and column).
struct GridSize {
  int64_t rows = 0;
  int64_t cols = 0;
};
std::optional<GridSize> parse_dimensions(std::span<const uint8_t> d);

struct NumberRecord {
  CellRef ref;
  double value = 0;
};
std::optional<NumberRecord> parse_number(std::span<const uint8_t> d);

struct RkRecord {
  CellRef ref;
  uint32_t rk = 0;
};
std::optional<RkRecord> parse_rk(std::span<const uint8_t> d);

// MULRK: one RK value per column of a span, each with its own XF index.
// Calls `each(RkRecord)` for every entry the record holds.
template <class Each>
void parse_mulrk(std::span<const uint8_t> d, Each each);

// FORMULA: the cached result. A number, or (marked by FF FF in bytes 12-13)
// a string whose text follows in a STRING record, a boolean, an error, or
// the empty string.
struct FormulaRecord {
  enum class Result : uint8_t { Number, String, Boolean, Error, EmptyString };
  CellRef ref;
  Result result = Result::Number;
  double number = 0;
  uint8_t code = 0;  // the boolean or error code
};
std::optional<FormulaRecord> parse_formula(std::span<const uint8_t> d);

struct LabelSstRecord {
  CellRef ref;
  uint32_t index = 0;
};
std::optional<LabelSstRecord> parse_labelsst(std::span<const uint8_t> d);

// BOOLERR: a boolean value or an error code.
struct BoolErrRecord {
  CellRef ref;
  uint8_t value = 0;
  bool is_error = false;
};
std::optional<BoolErrRecord> parse_boolerr(std::span<const uint8_t> d);

// LABEL and RSTRING: the position, and the bytes of the text from offset 6
// (a BIFF8 unicode string or a BIFF5 byte-counted string).
struct LabelRecord {
  CellRef ref;
  std::span<const uint8_t> text;
};
std::optional<LabelRecord> parse_label(std::span<const uint8_t> d);

// ---------------------------------------------------------------------------

inline CellRef cell_ref_at(std::span<const uint8_t> d);

}  // namespace sheetdump

#include "biff/cell_records_inl.hpp"
