// Micro-benchmarks of the number fast paths: the two-digit writer, scaled
// decimals (cents), RK cells through the renderer's direct path and the
// writers' entry against the double path they replace, and doubles under a fixed pattern and the
// general rule against snprintf.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "biff/workbook.hpp"
#include "format/cell_text.hpp"
#include "format/number_text.hpp"
#include "xorshift.hpp"

namespace {

using namespace sheetdump;

std::vector<int32_t> rk_integers() {
  std::vector<int32_t> v;
  Xorshift random{0x9E3779B97F4A7C15ull};
  for (int i = 0; i < 4096; ++i) {
    const uint64_t x = random.next();
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

// RK cells: arg 0 general, arg 1 "%.2f" (format 2); the direct path, the
// writers' entry (write_number, which takes hundredths under the general
// rule on a path of their own) and the double path.
enum class RkPath { Direct, WriteNumber, ThroughDouble };
void rk_cells(benchmark::State& state, RkPath path) {
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
  char out[CellRenderer::kNumberRoom];
  for (auto _ : state)
    for (const Cell& c : cells) {
      if (path == RkPath::Direct) {
        benchmark::DoNotOptimize(render.write_rk(c, out));
      } else if (path == RkPath::WriteNumber) {
        benchmark::DoNotOptimize(render.write_number(sheet, c, out));
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
void BM_RkDirect(benchmark::State& state) { rk_cells(state, RkPath::Direct); }
void BM_RkWriteNumber(benchmark::State& state) { rk_cells(state, RkPath::WriteNumber); }
void BM_RkThroughDouble(benchmark::State& state) { rk_cells(state, RkPath::ThroughDouble); }
BENCHMARK(BM_RkDirect)->Arg(0)->Arg(1);
BENCHMARK(BM_RkWriteNumber)->Arg(0)->Arg(1);
BENCHMARK(BM_RkThroughDouble)->Arg(0)->Arg(1);

// Doubles with one to four decimals, as NUMBER records hold them.
std::vector<double> decimals() {
  std::vector<double> v;
  Xorshift random{0x2545F4914F6CDD1Dull};
  for (int i = 0; i < 4096; ++i) {
    const uint64_t x = random.next();
    const double scale[] = {10, 100, 1000, 10000};
    v.push_back(double(int64_t(x % 200000000) - 100000000) / scale[(x >> 40) % 4]);
  }
  return v;
}

// 2-decimal amounts from 20.48 to ten million, as a money column stores
// them in NUMBER records.
std::vector<double> amounts() {
  std::vector<double> v;
  Xorshift random{0x6A09E667F3BCC909ull};
  for (int i = 0; i < 4096; ++i) {
    const uint64_t x = random.next();
    const double a = double(2048 + int64_t(x % 1000000000)) / 100.0;
    v.push_back((x >> 63) != 0 ? -a : a);
  }
  return v;
}

// Arg 0: decimals of 1 to 4 places; 1: 2-decimal amounts.
const std::vector<double>& general_values(int64_t arg) {
  static const std::vector<double> mixed = decimals(), money = amounts();
  return arg == 0 ? mixed : money;
}

// Arg: the precision of "%.Nf" (2 as in "0.00", 5 as the general rule
// gives most decimals); write_fixed's 32-bit whole part against snprintf.
void BM_WriteFixed(benchmark::State& state) {
  static const std::vector<double> values = decimals();
  const int precision = int(state.range(0));
  char buf[kScaledRoom];
  for (auto _ : state)
    for (double v : values) benchmark::DoNotOptimize(write_fixed(buf, v, precision));
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(values.size()));
}
BENCHMARK(BM_WriteFixed)->Arg(2)->Arg(5);

void BM_SnprintfFixed(benchmark::State& state) {
  static const std::vector<double> values = decimals();
  const int precision = int(state.range(0));
  char buf[64];
  for (auto _ : state)
    for (double v : values)
      benchmark::DoNotOptimize(std::snprintf(buf, sizeof buf, "%.*f", precision, v));
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(values.size()));
}
BENCHMARK(BM_SnprintfFixed)->Arg(2)->Arg(5);

// The general rule: write_general reads the whole part and fraction once
// (and takes amounts by their hundredths); against decimal_places and
// write_fixed apart, and against snprintf.
void BM_WriteGeneral(benchmark::State& state) {
  const std::vector<double>& values = general_values(state.range(0));
  char buf[kScaledRoom];
  for (auto _ : state)
    for (double v : values) benchmark::DoNotOptimize(write_general(buf, v));
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(values.size()));
}
BENCHMARK(BM_WriteGeneral)->Arg(0)->Arg(1);

void BM_GeneralInTwoSteps(benchmark::State& state) {
  const std::vector<double>& values = general_values(state.range(0));
  char buf[kScaledRoom];
  for (auto _ : state)
    for (double v : values) benchmark::DoNotOptimize(write_fixed(buf, v, decimal_places(v)));
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(values.size()));
}
BENCHMARK(BM_GeneralInTwoSteps)->Arg(0)->Arg(1);

void BM_GeneralSnprintf(benchmark::State& state) {
  const std::vector<double>& values = general_values(state.range(0));
  char buf[64];
  for (auto _ : state)
    for (double v : values)
      benchmark::DoNotOptimize(std::snprintf(buf, sizeof buf, "%.*f", decimal_places(v), v));
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(values.size()));
}
BENCHMARK(BM_GeneralSnprintf)->Arg(0)->Arg(1);

}  // namespace
