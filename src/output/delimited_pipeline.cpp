#include "output/delimited_pipeline.hpp"

#include <algorithm>
#include <system_error>

#include "output/delimited_rows.hpp"

namespace sheetdump {

namespace {

// Rows rendered between two looks at what the loading thread said, so
// that a new boundary is seen soon.
constexpr int32_t kRowsAtOnce = 16;
// Text reserved per cell: address space only until written.
constexpr size_t kBytesPerCell = 24;
constexpr size_t kSqlBytesPerCell = 32;
constexpr size_t kPage = size_t(2) << 20;
// Memory of the process besides a watched sheet's cells and text: the
// program and its libraries, the doubles' table, the shared strings, the
// buffers, and the pages of all of them rounded up (measured: 8 MiB on a
// workbook of 10 MB), with some to spare.
constexpr size_t kOtherMemory = size_t(10) << 20;
// Room past the budget for the batch of kRowsAtOnce rows that crosses it
// (most batches are far smaller; a larger one only takes another page).
constexpr size_t kBatchRoom = size_t(256) << 10;

// The statements of the second thread. Their head is made from row 0 at
// the first call, which only comes once that row is complete.
class SqlRows {
 public:
  SqlRows(CellRenderer& render, SheetValues values, int32_t cols,
          const std::optional<std::string>& name, QuoteStyle style, const Cell* cells)
      : render_(render), values_(values), cols_(cols), name_(name), style_(style), cells_(cells) {}
  const Cell* write(const Cell* next, const Cell* last, int32_t first, int32_t stop,
                    OutputStream& out) {
    if (!rows_) {
      const Cell* row0_end = cells_;
      while (row0_end != last && row0_end->row == 0) ++row0_end;
      rows_.emplace(render_, values_, cols_,
                    statement_head(render_, name_, values_, cols_, cells_, row0_end), style_);
    }
    return rows_->write(next, last, first, stop, out);
  }

 private:
  CellRenderer& render_;
  SheetValues values_;
  int32_t cols_;
  const std::optional<std::string>& name_;
  QuoteStyle style_;
  const Cell* cells_;
  std::optional<SqlRowWriter> rows_;
};

}  // namespace

DelimitedPipeline::DelimitedPipeline(Delimited format, CellRenderer& helper, size_t min_cells)
    : lines_(format == Delimited::Csv ? Lines::Csv : Lines::Tab),
      helper_(helper),
      min_cells_(min_cells) {}

DelimitedPipeline::DelimitedPipeline(QuoteStyle style, CellRenderer& helper, size_t min_cells)
    : lines_(Lines::Sql), style_(style), helper_(helper), min_cells_(min_cells) {}

DelimitedPipeline::~DelimitedPipeline() { stop(); }

bool DelimitedPipeline::begin(const Sheet& sheet) {
  stop();
  const size_t room = std::min(size_t(sheet.rows) * size_t(sheet.cols), sheet.cells.capacity());
  if (room < min_cells_ || room > UINT32_MAX) return false;
  // Statements start at row 1: a sheet of fewer rows has none.
  if (lines_ == Lines::Sql && sheet.rows < 2) return false;
  cells_ = sheet.cells.data();
  numbers_ = std::span<const double>(sheet.numbers.data(), sheet.numbers.capacity());
  rows_ = sheet.rows;
  cols_ = sheet.cols;
  name_ = sheet.name;
  room_ = room;
  published_.store(0, std::memory_order_relaxed);
  stop_.store(false, std::memory_order_relaxed);
  finished_.store(false, std::memory_order_relaxed);
  handoff_.store(-1, std::memory_order_relaxed);
  final_cells_ = 0;
  ahead_.clear();
  turns_.reset();
  try {
    thread_ = std::thread([this] {
      const SheetValues values(numbers_, nullptr);
      switch (lines_) {
        case Lines::Csv:
          run(delimited::RowWriter<delimited::Csv>(helper_, values, cols_), 0);
          break;
        case Lines::Tab:
          run(delimited::RowWriter<delimited::Tab>(helper_, values, cols_), 0);
          break;
        case Lines::Sql:
          run(SqlRows(helper_, values, cols_, name_, style_, cells_), 1);
          break;
      }
    });
  } catch (const std::system_error&) {
    return false;  // the usual writer then
  }
  return true;
}

void DelimitedPipeline::wake() {
  epoch_.fetch_add(1, std::memory_order_release);
  epoch_.notify_one();
}

void DelimitedPipeline::progress(size_t cells) {
  published_.store(uint32_t(cells), std::memory_order_release);
  wake();
}

void DelimitedPipeline::done(size_t cells) {
  final_cells_ = uint32_t(cells);
  finished_.store(true, std::memory_order_release);
  wake();
  loaded_ = true;
}

void DelimitedPipeline::stop() noexcept {
  loaded_ = false;
  if (!thread_.joinable()) return;
  stop_.store(true, std::memory_order_relaxed);
  wake();
  turns_.quit();
  thread_.join();
}

template <class Rows>
void DelimitedPipeline::run(Rows rows, int32_t first) {
  const size_t per_cell = lines_ == Lines::Sql ? kSqlBytesPerCell : kBytesPerCell;
  ahead_.reserve(room_ * per_cell);
  // Gone before the handoff: the first thread reads ahead_ from then on.
  std::optional<OutputStream> ahead(std::in_place, ahead_);
  // The text held until the sheet is read stays within the size of the
  // room of its cells, and within what keeps the process inside
  // memory_goal once that room and the rest of its memory are counted, so
  // that memory follows the sheet and the file: past that, this thread
  // waits for the sheet's end and its turns. Memory this large comes in
  // 2 MiB pages, so the budget is whole pages (one at least), less room
  // for the batch that crosses it.
  const size_t cells_bytes = room_ * sizeof(Cell);
  const size_t taken = cells_bytes + kOtherMemory;
  const size_t allowed = std::min(cells_bytes, memory_goal > taken ? memory_goal - taken : 0);
  const size_t budget = std::max(allowed / kPage * kPage, kPage) - kBatchRoom;
  int32_t r = first;
  const Cell* next = cells_;
  for (;;) {
    const uint32_t epoch = epoch_.load(std::memory_order_acquire);
    if (stop_.load(std::memory_order_relaxed)) return;
    // Once the sheet is read, the rows from here on go in turns.
    if (finished_.load(std::memory_order_acquire)) {
      ahead.reset();
      const Cell* const end = cells_ + final_cells_;
      turns_.plan(next, end, r, rows_);
      handoff_.store(r, std::memory_order_release);
      handoff_.notify_one();
      turns_.second(rows);
      return;
    }
    const Cell* const last = cells_ + published_.load(std::memory_order_acquire);
    // The rows before the last reported cell's are complete.
    const int32_t limit = last > cells_ ? int32_t(last[-1].row) : 0;
    if (r < limit && ahead->text_size() < budget) {
      const int32_t stop = std::min(limit, r + kRowsAtOnce);
      next = rows.write(next, last, r, stop, *ahead);
      r = stop;
      continue;
    }
    epoch_.wait(epoch, std::memory_order_acquire);
  }
}

void DelimitedPipeline::write(CellRenderer& render, const Sheet& sheet, OutputStream& out) {
  int32_t handoff = handoff_.load(std::memory_order_acquire);
  while (handoff < 0) {
    handoff_.wait(handoff, std::memory_order_acquire);
    handoff = handoff_.load(std::memory_order_acquire);
  }
  out.write_block(ahead_.view());
  switch (lines_) {
    case Lines::Csv:
      take_turns(delimited::RowWriter<delimited::Csv>(render, sheet, sheet.cols), out);
      break;
    case Lines::Tab:
      take_turns(delimited::RowWriter<delimited::Tab>(render, sheet, sheet.cols), out);
      break;
    case Lines::Sql: {
      const Cell* const cells = sheet.cells.data();
      take_turns(SqlRowWriter(render, sheet, sheet.cols,
                              statement_head(render, sheet.name, sheet, sheet.cols, cells,
                                             cells + sheet.cells.size()),
                              style_),
                 out);
      break;
    }
  }
  thread_.join();
  loaded_ = false;
}

}  // namespace sheetdump
