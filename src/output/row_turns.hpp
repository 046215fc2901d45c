// Rows of a sheet written by two threads in turns, so that the text held
// in memory is that of two blocks of rows whatever the size of the sheet:
// the rows are cut into blocks of about kBlockCells cells; the first thread
// writes the even blocks straight to its stream and, each in its place
// between them, the odd ones, which the second thread renders meanwhile
// into one of two texts. The bytes are those of one thread writing every
// row in order. Each thread writes through a row writer of its own:
// `rows.write(next, last, first, stop, out)`, as RowWriter and SqlRowWriter
// have, which writes rows `first` to before `stop` whose cells start at
// `next` and lie before `last`.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "biff/workbook.hpp"
#include "output/output_stream.hpp"

namespace sheetdump {

// The first of the cells [begin, end) (sorted by row) whose row is `row`
// or later.
inline const Cell* first_cell_of_row(const Cell* begin, const Cell* end, int32_t row) {
  return std::lower_bound(begin, end, row, [](const Cell& c, int32_t r) { return c.row < r; });
}

class RowTurns {
 public:
  static constexpr size_t kBlockCells = size_t(1) << 13;

  // Readies the turns for another run; only while neither part runs.
  void reset();
  // Cuts rows `first` to before `stop` of the cells [begin, end) (sorted
  // by row) into blocks, at the rows of every `block_cells`-th cell from
  // the first of row `first` on; returns how many blocks there are (none
  // when first >= stop). Called before either part starts, by the thread
  // that then publishes it to the other.
  size_t plan(const Cell* begin, const Cell* end, int32_t first, int32_t stop,
              size_t block_cells = kBlockCells);
  size_t blocks() const { return starts_.empty() ? 0 : starts_.size() - 1; }

  // The second thread's part: the odd blocks through `rows`, each into a
  // text that the first thread has written out already. Returns early
  // once quit() is called.
  template <class Rows>
  void second(Rows& rows) {
    for (uint32_t k = 0; size_t(2) * k + 1 < blocks(); ++k) {
      // Text k % 2 is free once odd block k - 2 is written out.
      for (;;) {
        const uint32_t taken = taken_.load(std::memory_order_acquire);
        if (quit_.load(std::memory_order_relaxed)) return;
        if (k < taken + 2) break;
        taken_.wait(taken, std::memory_order_acquire);
      }
      MemoryText& text = texts_[k % 2];
      text.clear();
      {
        OutputStream part(text);
        write_block(rows, 2 * k + 1, part);
      }
      ready_.store(k + 1, std::memory_order_release);
      ready_.notify_one();
    }
  }

  // The first thread's part: every block in order onto `out`, the even
  // ones through `rows`.
  template <class Rows>
  void first(OutputStream& out, Rows& rows) {
    for (size_t b = 0; b < blocks(); ++b) {
      if (b % 2 == 0) {
        write_block(rows, b, out);
        continue;
      }
      const auto k = uint32_t(b / 2);
      for (uint32_t ready = ready_.load(std::memory_order_acquire); ready <= k;
           ready = ready_.load(std::memory_order_acquire))
        ready_.wait(ready, std::memory_order_acquire);
      out.write_block(texts_[k % 2].view());
      taken_.store(k + 1, std::memory_order_release);
      taken_.notify_one();
    }
  }

  // Ends the second part early, from another thread (a run that stops
  // before the first part has run); it stays ended until reset().
  void quit();

 private:
  template <class Rows>
  void write_block(Rows& rows, size_t b, OutputStream& out) const {
    rows.write(first_cell_of_row(begin_, end_, starts_[b]), end_, starts_[b], starts_[b + 1], out);
  }

  const Cell* begin_ = nullptr;  // the cells planned
  const Cell* end_ = nullptr;
  std::vector<int32_t> starts_;  // the first row of each block, then `stop`
  MemoryText texts_[2];
  std::atomic<uint32_t> ready_{0};  // odd blocks rendered
  std::atomic<uint32_t> taken_{0};  // odd blocks written out
  std::atomic<bool> quit_{false};
};

}  // namespace sheetdump
