// Visits every position of a sheet's grid row by row, handing each to the
// caller with its cell or none, without a lookup per position.
#pragma once

#include "biff/workbook.hpp"

namespace sheetdump {

class GridWalk {
 public:
  explicit GridWalk(const Sheet& sheet)
      : next_(sheet.cells.data()), end_(sheet.cells.data() + sheet.cells.size()) {}
  // Over the cells [begin, end), in the order a sheet stores them.
  GridWalk(const Cell* begin, const Cell* end) : next_(begin), end_(end) {}

  // The cell at (row, col), or none; positions must be asked in order.
  const Cell* at(int32_t row, int32_t col) {
    if (next_ != end_ && next_->row == row && next_->col == col) return next_++;
    return nullptr;
  }

 private:
  const Cell* next_;
  const Cell* end_;
};

}  // namespace sheetdump
