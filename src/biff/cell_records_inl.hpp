// Inline parts of the cell record parsers: the ones the loader calls once
// per cell.
#pragma once

#include "base/byte_cursor.hpp"
#include "biff/cell_records.hpp"

namespace sheetdump {

inline CellRef cell_ref_at(std::span<const uint8_t> d) {
  ByteCursor c(d);
  CellRef r;
  r.row = c.u16();
  r.col = c.u16();
  r.xf = c.u16();
  return r;
}

template <class Each>
void parse_mulrk(std::span<const uint8_t> d, Each each) {
  if (d.size() < 6) return;
  ByteCursor c(d);
  int32_t row = c.u16();
  int32_t first = c.u16();
  int32_t last = le16_at(d, d.size() - 2);
  if (last < first) return;
  // Entries count from the column span, but only those whose 6 bytes lie
  // before the trailing column field are there.
  const size_t end = d.size() - 2;
  for (int32_t i = 0; i <= last - first; ++i) {
    size_t at = 4 + 6 * size_t(i);
    if (at + 6 > end) break;
    ByteCursor e(d, at);
    RkRecord r;
    r.ref.row = row;
    r.ref.col = first + i;
    r.ref.xf = e.u16();
    r.rk = e.u32();
    each(r);
  }
}

}  // namespace sheetdump
