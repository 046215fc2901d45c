// The records of one worksheet substream that fill its cell grid.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>

#include "base/le.hpp"
#include "biff/cell_records.hpp"
#include "biff/record_ids.hpp"
#include "biff/record_reader.hpp"
#include "biff/workbook.hpp"

namespace sheetdump {

class TextDecoder;

// What the loader of one worksheet knows while it reads its records.
struct SheetContext {
  explicit SheetContext(Sheet& s) : sheet(s) {}

  Sheet& sheet;
  // Read every kind of cell (inline texts, booleans, errors, formula
  // results), not only numbers and shared strings.
  bool all = false;
  // BIFF5 layouts: byte-counted texts in the workbook's code page.
  bool biff5 = false;
  const TextDecoder* decoder = nullptr;
  // Bytes of the substream's data after the current record: bounds the
  // room reserved from a DIMENSIONS claim.
  int64_t bytes_left = 0;
  // A string FORMULA whose text is still to come in a STRING record.
  std::optional<CellRef> pending_string;
  // Whether the cells so far came in position order, and the least key the
  // next one may have for them to stay so: writers store cells by row and
  // column, and then the store needs no sorting.
  bool ordered = true;
  uint32_t next_key = 0;
  // Room that DIMENSIONS reserves beyond its guess, for cells and for
  // doubles, while a watch may begin (see SheetWatch).
  size_t extra_cells = 0;
  size_t extra_numbers = 0;

  void add(const Cell& c) {
    const uint32_t key = c.key();
    ordered &= key >= next_key;
    next_key = key + 1;
    sheet.cells.push_back(c);
  }
};

// Whether the handler reads the data of a record with this id. Called for
// every record of the worksheet, in order: any record that cannot stand
// between a string FORMULA and its STRING ends the wait for that STRING.
bool wants_sheet_record(SheetContext& ctx, int32_t id);

// Handles one record of a worksheet; false for its EOF record (stop).
bool load_sheet_record(SheetContext& ctx, int32_t id, std::span<const uint8_t> data);

// A STRING record's data and the data of the CONTINUE records after it:
// the text of the FORMULA waiting for it, if any.
void load_string_result(SheetContext& ctx, std::span<const std::span<const uint8_t>> pieces);

// A MULRK record's RK cells: a row, a first column, 6 bytes (XF index and
// RK value) per cell, and the last column, from which the count is taken;
// only entries that lie wholly before that last field are there.
inline void load_mulrk(SheetContext& ctx, std::span<const uint8_t> d) {
  if (d.size() < 6) return;
  const int32_t row = le16(d[0], d[1]);
  const int32_t first = le16(d[2], d[3]);
  const int32_t last = le16(d[d.size() - 2], d[d.size() - 1]);
  Sheet& sheet = ctx.sheet;
  if (last < first || row >= sheet.rows) return;
  const size_t present = (d.size() - 6) / 6;
  const size_t count = std::min(size_t(last - first) + 1, present);
  const int32_t inside = std::clamp<int32_t>(sheet.cols - first, 0, int32_t(count));
  const uint8_t* e = d.data() + 4;
  if (inside <= 0) return;
  // The entries name consecutive columns of one row.
  const uint32_t key = (uint32_t(row) << 8) | uint32_t(first);
  ctx.ordered &= key >= ctx.next_key;
  ctx.next_key = key + uint32_t(inside);
  for (int32_t i = 0; i < inside; ++i, e += 6)
    sheet.cells.push_back(Cell::make(uint16_t(row), uint8_t(first + i), Cell::Kind::Rk,
                                     uint16_t(le16(e[0], e[1])), le32u(e[2], e[3], e[4], e[5])));
}

// The records that make up most of a worksheet (RK, MULRK, LABELSST and
// NUMBER with their whole data, and the records between them that make no
// cell), handled inline: the same as wants_sheet_record and
// load_sheet_record together. False for any other record, left to those.
inline bool load_common_cell(SheetContext& ctx, int32_t id, std::span<const uint8_t> d) {
  if (id == record_id::kMulRk) {
    ctx.pending_string.reset();
    load_mulrk(ctx, d);
    return true;
  }
  Cell::Kind kind;
  if (id == record_id::kRk)
    kind = Cell::Kind::Rk;
  else if (id == record_id::kLabelSst)
    kind = Cell::Kind::SharedString;
  else if (id == record_id::kNumber)
    kind = Cell::Kind::Double;
  else if (id == record_id::kRow || id == record_id::kDbCell || id == record_id::kBlank ||
           id == record_id::kMulBlank) {
    // Between the cells of most files; they make none, and like any other
    // record they end a wait for a formula's text.
    ctx.pending_string.reset();
    return true;
  } else {
    return false;
  }
  if (d.size() < (kind == Cell::Kind::Double ? 14u : 10u)) return false;
  ctx.pending_string.reset();
  int32_t row = le16(d[0], d[1]);
  int32_t col = le16(d[2], d[3]);
  Sheet& sheet = ctx.sheet;
  if (row >= sheet.rows || col >= sheet.cols) return true;
  uint32_t value;
  if (kind == Cell::Kind::Double) {
    if (sheet.numbers.size() >= UINT32_MAX) return true;
    value = uint32_t(sheet.numbers.size());
    sheet.numbers.push_back(le_double(d, 6));
  } else {
    value = le32u(d[6], d[7], d[8], d[9]);
  }
  ctx.add(Cell::make(uint16_t(row), uint8_t(col), kind, uint16_t(le16(d[4], d[5])), value));
  return true;
}

void load_string_result(SheetContext& ctx, std::span<const uint8_t> first, RecordReader& reader);

// Puts the cells gathered while the worksheet was read in position order,
// keeping the last record's cell where several name one position. With
// `ordered` the caller knows they already are (each key above the last).
// Room of up to `slack` cells reserved beyond the grid's guess is kept.
void finish_sheet(Sheet& sheet, bool ordered, size_t slack = 0);
void finish_sheet(Sheet& sheet);
// Whether finish_sheet gives back reserved room, which moves the cells.
bool finish_moves_cells(const Sheet& sheet, size_t slack = 0);

}  // namespace sheetdump
