// Rows written by two threads in turns: blocks cut at row boundaries, the
// same bytes as one thread's for any block size and sheet shape, and a
// second part that can be ended before the first has run.
#include "output/row_turns.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "biff/workbook.hpp"
#include "output/output_stream.hpp"

namespace sheetdump {
namespace {

// Cells in position order for `cols_of_row[r]` cells in row r.
std::vector<Cell> cells_of(const std::vector<int>& cols_of_row) {
  std::vector<Cell> cells;
  for (size_t r = 0; r < cols_of_row.size(); ++r)
    for (int c = 0; c < cols_of_row[r]; ++c)
      cells.push_back(Cell::make(uint16_t(r), uint8_t(c), Cell::Kind::Rk, 0, uint32_t(r * 7 + c)));
  return cells;
}

// Writes each row of [first, stop) as a line of its number and its
// cells' values, so that a block lost, repeated or out of place shows.
struct LineWriter {
  const Cell* write(const Cell* next, const Cell* last, int32_t first, int32_t stop,
                    OutputStream& out) {
    for (int32_t r = first; r < stop; ++r) {
      std::string line = std::to_string(r) + ":";
      for (; next != last && next->row == r; ++next) line += " " + std::to_string(next->value);
      out.write(line + "\n");
    }
    return next;
  }
};

std::string one_thread(const std::vector<Cell>& cells, int32_t first, int32_t stop) {
  std::string text;
  {
    OutputStream out(text);
    const Cell* const end = cells.data() + cells.size();
    LineWriter().write(first_cell_of_row(cells.data(), end, first), end, first, stop, out);
  }
  return text;
}

// Rows [first, stop) of `cells` written by two threads through `turns`.
std::string in_turns(RowTurns& turns, const std::vector<Cell>& cells, int32_t first, int32_t stop,
                     size_t block_cells, size_t* blocks = nullptr) {
  turns.reset();
  const size_t n = turns.plan(cells.data(), cells.data() + cells.size(), first, stop, block_cells);
  if (blocks != nullptr) *blocks = n;
  std::string text;
  {
    OutputStream out(text);
    LineWriter mine, other;
    std::thread second([&] { turns.second(other); });
    turns.first(out, mine);
    second.join();
  }
  return text;
}

TEST(RowTurns, BlocksStartAtRowsOfEveryNthCell) {
  struct Case {
    const char* name;
    std::vector<int> rows;  // cells per row
    int32_t first, stop;
    size_t block_cells;
    size_t blocks;
  };
  const Case cases[] = {
      {"nothing to write", {3, 3}, 2, 2, 4, 0},
      {"one block", {3, 3, 3}, 0, 3, 100, 1},
      {"a block per row", {2, 2, 2, 2}, 0, 4, 2, 4},
      {"rows of one cell, blocks of three", std::vector<int>(10, 1), 0, 10, 3, 4},
      {"a wide row stays whole", {1, 50, 1, 1}, 0, 4, 5, 2},
      {"empty rows go with the block before", {2, 0, 0, 2, 0, 2}, 0, 6, 2, 3},
      {"from a later row", {2, 2, 2, 2, 2}, 2, 5, 2, 3},
      {"no cells from the first row on", {2, 2}, 2, 9, 1, 1},
      {"cells past the stop row", {2, 2, 2, 2}, 0, 2, 2, 2},
  };
  for (const Case& c : cases) {
    const std::vector<Cell> cells = cells_of(c.rows);
    size_t blocks = 99;
    RowTurns turns;
    EXPECT_EQ(in_turns(turns, cells, c.first, c.stop, c.block_cells, &blocks),
              c.first < c.stop ? one_thread(cells, c.first, c.stop) : "")
        << c.name;
    EXPECT_EQ(blocks, c.blocks) << c.name;
  }
}

TEST(RowTurns, ManyBlocksGiveOneThreadsBytes) {
  // Rows of 0 to 12 cells, blocks of 1 cell to more than the sheet has:
  // the second thread waits for texts to come back again and again.
  std::vector<int> rows;
  uint32_t x = 7;
  for (int r = 0; r < 3000; ++r) {
    x = x * 1103515245u + 12345u;
    rows.push_back(int((x >> 16) % 13));
  }
  const std::vector<Cell> cells = cells_of(rows);
  for (size_t block_cells :
       {size_t(1), size_t(2), size_t(5), size_t(64), size_t(4096), size_t(1) << 20}) {
    for (int32_t first : {0, 1, 1777}) {
      RowTurns turns;
      EXPECT_EQ(in_turns(turns, cells, first, 3000, block_cells), one_thread(cells, first, 3000))
          << block_cells << " " << first;
    }
  }
}

TEST(RowTurns, QuitEndsTheSecondPartBeforeTheFirstRuns) {
  // The second thread renders two blocks, then waits for the first thread
  // to take them, which it never does: quit() ends the wait.
  const std::vector<Cell> cells = cells_of(std::vector<int>(100, 2));
  RowTurns turns;
  turns.reset();
  ASSERT_EQ(turns.plan(cells.data(), cells.data() + cells.size(), 0, 100, 2), 100u);
  LineWriter waiting;
  std::thread second([&] { turns.second(waiting); });
  turns.quit();
  second.join();
  // Ready again after reset(): a whole run in turns.
  size_t blocks = 0;
  EXPECT_EQ(in_turns(turns, cells, 0, 100, 10, &blocks), one_thread(cells, 0, 100));
  EXPECT_EQ(blocks, 20u);
}

}  // namespace
}  // namespace sheetdump
