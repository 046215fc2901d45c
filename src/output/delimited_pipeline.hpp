// A large worksheet written while it loads, as CSV or TAB lines or as SQL
// statements (a line per row too): a second thread renders its rows into
// memory as the loader completes them, and once the sheet is read the two
// threads write the rows left in turns (RowTurns). The text is the same
// bytes as that of the loaded sheet: the loader stops the watch wherever
// its cells could still move or change (then the sheet is written from
// its loaded cells as usual).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <thread>

#include "biff/sheet_watch.hpp"
#include "biff/workbook.hpp"
#include "format/cell_text.hpp"
#include "output/output_stream.hpp"
#include "output/row_turns.hpp"
#include "output/sql_writer.hpp"

namespace sheetdump {

enum class Delimited : uint8_t { Csv, Tab };

class DelimitedPipeline final : public SheetWatch {
 public:
  // `helper` renders on the second thread (a renderer of the workbook of
  // its own); sheets with room for fewer than `min_cells` cells are left
  // to the usual writer.
  DelimitedPipeline(Delimited format, CellRenderer& helper, size_t min_cells);
  // The same for the INSERT statements of write_sql_sheet in `style`.
  DelimitedPipeline(QuoteStyle style, CellRenderer& helper, size_t min_cells);
  ~DelimitedPipeline() override;

  bool begin(const Sheet& sheet) override;
  void progress(size_t cells) override;
  void done(size_t cells) override;
  void stop() noexcept override;

  // The memory the process should stay within, where the second thread
  // can keep it so by waiting (its text held until a sheet is read is the
  // part that can wait): none by default.
  size_t memory_goal = SIZE_MAX;

  // Whether the sheet just loaded was watched to its end: then write()
  // writes it.
  bool ready() const { return loaded_; }
  // Writes that sheet, `sheet`, to `out`: the rows the second thread
  // rendered while it loaded, then the rest in turns with it, this
  // thread's blocks rendered by `render`.
  void write(CellRenderer& render, const Sheet& sheet, OutputStream& out);

 private:
  enum class Lines : uint8_t { Csv, Tab, Sql };
  // The second thread: `rows` writes runs of rows, from row `first` on.
  template <class Rows>
  void run(Rows rows, int32_t first);
  // This thread's turns through `rows`, a row writer of the sheet.
  template <class Rows>
  void take_turns(Rows rows, OutputStream& out) {
    turns_.first(out, rows);
  }
  void wake();

  Lines lines_;
  QuoteStyle style_ = QUOTE_ORACLE;
  CellRenderer& helper_;
  size_t min_cells_;

  // The watched sheet's storage and grid, as begin() found them.
  const Cell* cells_ = nullptr;
  std::span<const double> numbers_;
  int32_t rows_ = 0;
  int32_t cols_ = 0;
  std::optional<std::string> name_;  // for the statements' table
  size_t room_ = 0;                  // cells it has room for

  // Changed by the loading thread, each change followed by a new epoch
  // that the second thread waits for.
  std::atomic<uint32_t> epoch_{0};
  std::atomic<uint32_t> published_{0};  // cells final
  std::atomic<bool> stop_{false};
  std::atomic<bool> finished_{false};  // the sheet is read
  // The row the second thread stood at when it saw the sheet read, from
  // which the turns go on (-1 before).
  std::atomic<int32_t> handoff_{-1};
  uint32_t final_cells_ = 0;  // the sheet's cells, set before finished_
  bool loaded_ = false;

  MemoryText ahead_;  // rows rendered while the sheet loaded
  RowTurns turns_;    // the rows after them
  std::thread thread_;
};

}  // namespace sheetdump
