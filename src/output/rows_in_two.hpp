// A loaded sheet's rows written on two threads in turns (RowTurns): the
// caller's thread writes every other block of rows to the stream and the
// blocks between them as a second thread renders them, so that the bytes
// are one thread's and the text held in memory is two blocks'. Where no
// thread can be started, the caller's thread writes them all.
#pragma once

#include <cstdint>
#include <system_error>
#include <thread>

#include "biff/workbook.hpp"
#include "output/output_stream.hpp"
#include "output/row_turns.hpp"

namespace sheetdump {

// Rows `first` to before sheet.rows through `mine`, a row writer of this
// thread (`write(next, last, first, stop, out)`, as RowWriter and
// SqlRowWriter have), and with `other` (a row writer of a second renderer
// of the workbook: each thread needs one of its own) on two threads.
template <class Rows>
void write_rows_in_two(Rows& mine, Rows* other, const Sheet& sheet, int32_t first,
                       OutputStream& out) {
  if (sheet.rows <= first) return;
  const Cell* const begin = sheet.cells.data();
  const Cell* const end = begin + sheet.cells.size();
  const auto alone = [&] {
    mine.write(first_cell_of_row(begin, end, first), end, first, sheet.rows, out);
  };
  RowTurns turns;
  if (other == nullptr || turns.plan(begin, end, first, sheet.rows) < 2) return alone();
  std::thread second;
  try {
    second = std::thread([&turns, other] { turns.second(*other); });
  } catch (const std::system_error&) {
    return alone();
  }
  turns.first(out, mine);
  second.join();
}

}  // namespace sheetdump
