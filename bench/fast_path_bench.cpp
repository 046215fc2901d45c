// Micro-benchmarks of the number fast paths: the two-digit writer, scaled
// decimals (cents), and RK cells through the renderer's direct path against
// the double path they replace.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "biff/workbook.hpp"
#include "format/cell_text.hpp"
#include "format/number_text.hpp"

namespace {

using namespace sheetdump;

std::vector<int32_t> rk_integers() {
  std::vector<int32_t> v;
  uint64_t x = 0x9E3779B97F4A7C15ull;
  for (int i = 0; i < 4096; ++i) {
    x ^= x << 13, x ^= x >> 7, x ^= x << 17;
    v.push_back(int32_t(x % 10000000) - 5000000);
  }
  return v;
}

void BM_WriteDecimal(benchmark::State& state) {
  static const std::vector<int32_t> ints = rk_integers();
  char buf[32];
  for (auto _ : state)
    for (int32_t n : ints) benchmark::DoNotOptimize(write_decimal(buf, uint64_t(n < 0 ? -n : n)));
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(ints.size()));
}
BENCHMARK(BM_WriteDecimal);

void BM_AppendScaledCents(benchmark::State& state) {
  static const std::vector<int32_t> ints = rk_integers();
  TextBuffer b;
  for (auto _ : state)
    for (int32_t n : ints) {
      b.clear();
      append_scaled(b, n < 0, uint64_t(n < 0 ? -n : n), 2, 2);
      benchmark::DoNotOptimize(b.len);
    }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(ints.size()));
}
BENCHMARK(BM_AppendScaledCents);

// RK cells: arg 0 general, arg 1 "%.2f" (format 2); direct path vs double.
void rk_cells(benchmark::State& state, bool direct) {
  static const std::vector<int32_t> ints = rk_integers();
  Workbook wb;
  wb.xf_formats = {kNoFormatIndex, 2};
  Sheet sheet;
  uint16_t xf = uint16_t(state.range(0));
  std::vector<Cell> cells;
  for (size_t i = 0; i < ints.size(); ++i)
    cells.push_back(Cell::make(0, 0, Cell::Kind::Rk, xf, (uint32_t(ints[i]) << 2) | 2 | (i & 1)));
  CellRenderer render(wb, {});
  TextBuffer b;
  char out[CellRenderer::kRkRoom];
  for (auto _ : state)
    for (const Cell& c : cells) {
      if (direct) {
        benchmark::DoNotOptimize(render.write_rk(c, out));
      } else {
        b.clear();
        double v = decode_rk(c.value);
        if (xf == 0)
          append_general(b, v);
        else
          append_printf(b, "%.2f", v);
        benchmark::DoNotOptimize(b.len);
      }
    }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(cells.size()));
}
void BM_RkDirect(benchmark::State& state) { rk_cells(state, true); }
void BM_RkThroughDouble(benchmark::State& state) { rk_cells(state, false); }
BENCHMARK(BM_RkDirect)->Arg(0)->Arg(1);
BENCHMARK(BM_RkThroughDouble)->Arg(0)->Arg(1);

}  // namespace
