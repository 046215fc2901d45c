// A reader of a worksheet's cells while the loader is still adding to
// them, so that a writer on another thread can render the rows that are
// complete while later records are read.
//
// The loader's promise, from begin() until stop() or done(): the cells it
// has reported, and the doubles they name, stay where they are and as they
// are, and the storage of the cells and of the doubles does not move. It
// calls stop() before it would break that promise (a cell out of position
// order, a second DIMENSIONS, the reserved room running short), and only
// watches sheets whose cells come from numbers and shared strings (no
// texts of their own).
#pragma once

#include <cstddef>
#include <cstdint>

#include "biff/workbook.hpp"

namespace sheetdump {

class SheetWatch {
 public:
  SheetWatch() = default;
  SheetWatch(const SheetWatch&) = delete;
  SheetWatch& operator=(const SheetWatch&) = delete;
  virtual ~SheetWatch() = default;

  // Bytes of records between two reports.
  size_t step = size_t(64) << 10;

  // The grid of `sheet` is made and its room reserved, no cell stored yet:
  // whether to watch it. `sheet` is the loader's own, which it moves on
  // return: keep its storage, not the object.
  virtual bool begin(const Sheet& sheet) = 0;
  // The first `cells` cells are in position order and final.
  virtual void progress(size_t cells) = 0;
  // The sheet is read: its `cells` cells are all final.
  virtual void done(size_t cells) = 0;
  // The promise ends: the storage must not be read from now on.
  virtual void stop() noexcept = 0;
};

}  // namespace sheetdump
