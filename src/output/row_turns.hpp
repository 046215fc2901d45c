// Rows of a sheet written by two threads in turns, so that the text held
// in memory is that of two blocks of rows whatever the size of the sheet:
// the rows are cut into blocks of about kBlockCells cells; the first thread
// writes the even blocks straight to its stream and, each in its place
// between them, the odd ones, which the second thread renders meanwhile
// into one of two texts. The bytes are those of one thread writing every
// row in order.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "biff/workbook.hpp"
#include "output/output_stream.hpp"

namespace sheetdump {

class RowTurns {
 public:
  static constexpr size_t kBlockCells = size_t(1) << 13;

  // Readies the turns for another run; only while neither part runs.
  void reset();
  // Cuts rows `first` to before `stop` into blocks, at the rows of every
  // `block_cells`-th of the cells [begin, end) (sorted by row) from the
  // first of row `first` on; returns how many blocks there are (none when
  // first >= stop). Called before either part starts, by the thread that
  // then publishes it to the other.
  size_t plan(const Cell* begin, const Cell* end, int32_t first, int32_t stop,
              size_t block_cells = kBlockCells);
  size_t blocks() const { return starts_.empty() ? 0 : starts_.size() - 1; }

  // The second thread's part: the odd blocks, each through
  // `write_range(from, to, out)` into a text that the first thread has
  // written out already. Returns early once quit() is called.
  template <class WriteRange>
  void second(WriteRange&& write_range) {
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
        write_range(starts_[2 * k + 1], starts_[2 * k + 2], part);
      }
      ready_.store(k + 1, std::memory_order_release);
      ready_.notify_one();
    }
  }

  // The first thread's part: every block in order onto `out`, the even
  // ones through `write_range(from, to, out)`.
  template <class WriteRange>
  void first(OutputStream& out, WriteRange&& write_range) {
    for (size_t b = 0; b < blocks(); ++b) {
      if (b % 2 == 0) {
        write_range(starts_[b], starts_[b + 1], out);
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
  std::vector<int32_t> starts_;  // the first row of each block, then `stop`
  MemoryText texts_[2];
  std::atomic<uint32_t> ready_{0};  // odd blocks rendered
  std::atomic<uint32_t> taken_{0};  // odd blocks written out
  std::atomic<bool> quit_{false};
};

}  // namespace sheetdump
