#include "output/row_turns.hpp"

#include <algorithm>

namespace sheetdump {

size_t RowTurns::plan(const Cell* begin, const Cell* end, int32_t first, int32_t stop,
                      size_t block_cells) {
  begin_ = begin;
  end_ = end;
  starts_.clear();
  if (first >= stop) return 0;
  starts_.push_back(first);
  const Cell* c = first_cell_of_row(begin, end, first);
  const size_t step = std::max<size_t>(block_cells, 1);
  while (size_t(end - c) > step) {
    c += step;
    if (c->row >= stop) break;
    if (c->row > starts_.back()) starts_.push_back(c->row);
  }
  starts_.push_back(stop);
  return blocks();
}

void RowTurns::reset() {
  starts_.clear();
  ready_.store(0, std::memory_order_relaxed);
  taken_.store(0, std::memory_order_relaxed);
  quit_.store(false, std::memory_order_relaxed);
}

void RowTurns::quit() {
  quit_.store(true, std::memory_order_relaxed);
  // A changed count wakes the second thread, which then sees the flag.
  taken_.fetch_add(1, std::memory_order_release);
  taken_.notify_all();
}

}  // namespace sheetdump
