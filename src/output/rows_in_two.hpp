// A loaded sheet's rows written on two threads: a second renderer writes
// the rows from the middle cell's on into memory on a thread of its own
// while the caller's thread writes the rows before them to the stream, and
// then that text follows, so that the bytes are one thread's. Where no
// thread can be started, the caller's thread writes them all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <system_error>
#include <thread>

#include "biff/workbook.hpp"
#include "format/cell_text.hpp"
#include "output/output_stream.hpp"

namespace sheetdump {

// Rows `first` to before sheet.rows, through `write_range(renderer, from,
// to, out)`; with `helper` (a second renderer of the workbook: each thread
// needs one of its own) the rows from the middle cell's on go to a second
// thread. `bytes_per_cell` sizes the memory set aside for its text, which
// costs address space only until written.
template <class WriteRange>
void write_rows_in_two(CellRenderer& render, CellRenderer* helper, const Sheet& sheet,
                       int32_t first, size_t bytes_per_cell, OutputStream& out,
                       WriteRange&& write_range) {
  if (sheet.rows <= first) return;
  const size_t cells = sheet.cells.size();
  const int32_t split = helper == nullptr || cells == 0 ? first : sheet.cells[cells / 2].row;
  if (split <= first) {
    write_range(render, first, sheet.rows, out);
    return;
  }
  MemoryText text;
  text.reserve((cells - cells / 2) * bytes_per_cell);
  try {
    std::thread other([&] {
      OutputStream part(text);
      write_range(*helper, split, sheet.rows, part);
      part.flush();
    });
    write_range(render, first, split, out);
    other.join();
  } catch (const std::system_error&) {
    write_range(render, first, sheet.rows, out);
    return;
  }
  out.write_block(text.view());
}

}  // namespace sheetdump
