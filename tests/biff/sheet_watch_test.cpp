// The loader's promise to a SheetWatch: every cell it reports is in place
// and final (the same as in the loaded sheet), the storage does not move
// while watched, and the watch stops wherever that could not hold (cells
// out of order, a second DIMENSIONS, room running short), or is never
// begun (texts of the sheet's own); a watched sheet keeps its room.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "biff/sheet_watch.hpp"
#include "biff/workbook.hpp"
#include "biff/workbook_loader.hpp"
#include "support/xls_writer.hpp"

namespace sheetdump {
namespace {

using xlsw::Bytes;

// Records what the loader says and checks, at each report, that the
// storage has not moved; keeps a copy of the cells reported.
class RecordingWatch final : public SheetWatch {
 public:
  explicit RecordingWatch(size_t report_step, bool accept = true) : accept_(accept) {
    step = report_step;
  }
  bool begin(const Sheet& sheet) override {
    ++begun;
    EXPECT_TRUE(sheet.cells.empty());
    cells_ = sheet.cells.data();
    numbers_ = sheet.numbers.data();
    sheet_ = &sheet;
    return accept_;
  }
  void progress(size_t cells) override {
    EXPECT_EQ(sheet_->cells.data(), cells_);
    EXPECT_EQ(sheet_->numbers.data(), numbers_);
    EXPECT_GE(cells, reported.size());
    EXPECT_LE(cells, sheet_->cells.size());
    reported.assign(cells_, cells_ + cells);
    ++reports;
  }
  void done(size_t cells) override {
    EXPECT_EQ(sheet_->cells.data(), cells_);
    reported.assign(cells_, cells_ + cells);
    finished = true;
  }
  void stop() noexcept override { ++stopped; }

  int begun = 0;
  int reports = 0;
  int stopped = 0;
  bool finished = false;
  std::vector<Cell> reported;
  const Cell* cells_ = nullptr;

 private:
  bool accept_;
  const double* numbers_ = nullptr;
  const Sheet* sheet_ = nullptr;
};

Sheet load_one(const Bytes& sheet_stream, SheetWatch* watch, LoadOptions options = {}) {
  const Bytes stream = xlsw::workbook_stream({"s"}, {}, {sheet_stream});
  WorkbookLoader loader(FileBytes(xlsw::with_filler(stream)), options);
  Workbook wb;
  loader.load_globals(wb);
  auto sheet = loader.next_sheet(watch);
  EXPECT_TRUE(sheet.has_value());
  return sheet ? std::move(*sheet) : Sheet{};
}

void expect_same_cells(const std::vector<Cell>& got, const std::vector<Cell>& want, size_t n) {
  ASSERT_LE(n, want.size());
  ASSERT_EQ(got.size(), n);
  for (size_t i = 0; i < n; ++i) {
    EXPECT_EQ(got[i].key(), want[i].key()) << i;
    EXPECT_EQ(got[i].kind, want[i].kind) << i;
    EXPECT_EQ(got[i].value, want[i].value) << i;
    EXPECT_EQ(got[i].xf, want[i].xf) << i;
  }
}

// Rows of RK, NUMBER, MULRK and LABELSST cells in position order.
std::vector<Bytes> ordered_cells(int32_t rows, uint16_t cols) {
  std::vector<Bytes> cells;
  for (int32_t r = 0; r < rows; ++r) {
    const uint16_t row = uint16_t(r);
    if (r % 7 == 3) continue;  // a row without cells
    cells.push_back(xlsw::rk(row, 0, 0, xlsw::rk_int(r)));
    cells.push_back(xlsw::number(row, 1, 0, r + 0.25));
    std::vector<std::pair<uint16_t, uint32_t>> run;
    for (uint16_t c = 2; c + 1 < cols; ++c) run.push_back({0, xlsw::rk_int_cents(r * c)});
    if (!run.empty()) cells.push_back(xlsw::mulrk(row, 2, run));
    cells.push_back(xlsw::formula_number(row, uint16_t(cols - 1), 0, r * 0.5));
  }
  return cells;
}

TEST(SheetWatch, ReportedCellsAreFinalAtEveryStep) {
  const Bytes sheet = xlsw::worksheet(400, 9, ordered_cells(400, 9));
  for (size_t step : {size_t(1), size_t(37), size_t(500), size_t(4096), size_t(1) << 20}) {
    RecordingWatch watch(step);
    Sheet loaded = load_one(sheet, &watch);
    EXPECT_EQ(watch.begun, 1) << step;
    EXPECT_EQ(watch.stopped, 0) << step;
    EXPECT_TRUE(watch.finished) << step;
    EXPECT_EQ(loaded.cells.data(), watch.cells_) << step;
    expect_same_cells(watch.reported, loaded.cells, loaded.cells.size());
    if (step < 1000) {
      EXPECT_GT(watch.reports, 10) << step;
    }
  }
}

TEST(SheetWatch, StopsBeforeAnythingCouldChangeAReportedCell) {
  std::vector<Bytes> late = ordered_cells(300, 6);
  late.push_back(xlsw::rk(5, 0, 0, xlsw::rk_int(-1)));  // goes back to row 5
  std::vector<Bytes> twice = ordered_cells(300, 6);
  twice.push_back(xlsw::rk(299, 0, 0, xlsw::rk_int(-2)));  // a position seen already
  std::vector<Bytes> regrid = ordered_cells(300, 6);
  regrid.insert(regrid.begin() + 200, xlsw::dimensions(400, 6));  // clears the cells
  struct Case {
    const char* name;
    Bytes sheet;
  };
  const Case cases[] = {
      {"a cell out of order", xlsw::worksheet(300, 6, late)},
      {"a position twice", xlsw::worksheet(300, 6, twice)},
      {"a second DIMENSIONS", xlsw::worksheet(300, 6, regrid)},
  };
  for (const Case& c : cases) {
    for (size_t step : {size_t(64), size_t(1) << 20}) {
      RecordingWatch watch(step);
      Sheet loaded = load_one(c.sheet, &watch);
      EXPECT_EQ(watch.begun, 1) << c.name;
      EXPECT_EQ(watch.stopped, 1) << c.name << " " << step;
      EXPECT_FALSE(watch.finished) << c.name;
      // Whatever was reported before the stop was still in place.
      Sheet fresh = load_one(c.sheet, nullptr);
      EXPECT_EQ(loaded.cells.size(), fresh.cells.size()) << c.name;
      for (size_t i = 0; i < loaded.cells.size() && i < fresh.cells.size(); ++i)
        ASSERT_EQ(loaded.cells[i].key(), fresh.cells[i].key()) << c.name << " " << i;
    }
  }
}

TEST(SheetWatch, AWatchedSheetKeepsTheRoomItClaimed) {
  // Unwatched, a sheet that claimed far more room than it holds gives the
  // rest back, which moves its cells; watched, it keeps it.
  std::vector<Bytes> sparse = ordered_cells(15, 6);
  for (int i = 0; i < 2000; ++i) sparse.push_back(xlsw::record(0x1234, Bytes(60, 0)));
  const Bytes sheet = xlsw::worksheet(65536, 200, sparse);
  const Sheet alone = load_one(sheet, nullptr);
  EXPECT_LT(alone.cells.capacity(), 2000u);
  RecordingWatch watch(64);
  Sheet loaded = load_one(sheet, &watch);
  EXPECT_TRUE(watch.finished);
  EXPECT_EQ(watch.stopped, 0);
  EXPECT_EQ(loaded.cells.data(), watch.cells_);
  EXPECT_GT(loaded.cells.capacity(), 8000u);
  expect_same_cells(watch.reported, alone.cells, alone.cells.size());
}

TEST(SheetWatch, StopsWhenTheReservedRoomRunsShort) {
  // MULRK entries take 6 bytes a cell, half of what the room from the
  // bytes left allows for: past the margin the room would have to grow.
  std::vector<Bytes> cells;
  for (uint16_t r = 0; r < 400; ++r) {
    std::vector<std::pair<uint16_t, uint32_t>> run(250, {0, xlsw::rk_int(r)});
    cells.push_back(xlsw::mulrk(r, 0, run));
  }
  const Bytes sheet = xlsw::worksheet(400, 256, cells);
  RecordingWatch watch(4096);
  Sheet loaded = load_one(sheet, &watch);
  EXPECT_EQ(watch.begun, 1);
  EXPECT_EQ(watch.stopped, 1);
  EXPECT_FALSE(watch.finished);
  EXPECT_EQ(loaded.cells.size(), 400u * 250u);
  // Everything reported lay where the loaded sheet has it.
  ASSERT_FALSE(watch.reported.empty());
  for (size_t i = 0; i < watch.reported.size(); ++i)
    ASSERT_EQ(watch.reported[i].key(), loaded.cells[i].key()) << i;
}

TEST(SheetWatch, OnlyTheFirstGridOfANumbersSheetIsOffered) {
  const Bytes sheet = xlsw::worksheet(50, 6, ordered_cells(50, 6));
  {
    // Texts of the sheet's own grow by copies: not watched at all.
    RecordingWatch watch(64);
    LoadOptions all;
    all.all = true;
    load_one(sheet, &watch, all);
    EXPECT_EQ(watch.begun, 0);
    EXPECT_EQ(watch.stopped, 0);
  }
  {
    // Declined: no more calls, and a second grid is not offered again.
    std::vector<Bytes> regrid = ordered_cells(50, 6);
    regrid.push_back(xlsw::dimensions(60, 6));
    RecordingWatch watch(64, false);
    load_one(xlsw::worksheet(50, 6, regrid), &watch);
    EXPECT_EQ(watch.begun, 1);
    EXPECT_EQ(watch.reports, 0);
    EXPECT_EQ(watch.stopped, 0);
    EXPECT_FALSE(watch.finished);
  }
  {
    // A sheet cut short (no EOF) is done with what it holds.
    std::vector<Bytes> parts = {xlsw::bof(xlsw::kBiff8, xlsw::kWorksheet), xlsw::dimensions(50, 6)};
    for (const Bytes& c : ordered_cells(50, 6)) parts.push_back(c);
    const Bytes cut = xlsw::concat(parts);
    RecordingWatch watch(64);
    Sheet loaded = load_one(cut, &watch);
    EXPECT_TRUE(watch.finished);
    expect_same_cells(watch.reported, loaded.cells, loaded.cells.size());
  }
}

}  // namespace
}  // namespace sheetdump
