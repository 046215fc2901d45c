// Micro-benchmarks of the exact rendering against the default one on the
// same values: shortest round-trip numbers against the general rule, and
// ISO dates against the strftime-style date patterns. Linked into
// micro_bench; its benchmarks register themselves.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "format/cell_text.hpp"
#include "format/date_text.hpp"
#include "format/exact_text.hpp"
#include "format/format_kind.hpp"
#include "format/number_text.hpp"
#include "xorshift.hpp"

namespace {

using namespace sheetdump;

// The value mix of the number-cell benchmarks: integers, cents, long
// fractions, large round numbers, reciprocals and negative decimals.
const std::vector<double>& mixed_values() {
  static const std::vector<double> values = [] {
    std::vector<double> v;
    Xorshift random{0x9E3779B97F4A7C15ull};
    for (uint32_t i = 0; i < 4096; ++i) {
      const uint64_t x = random.next();
      switch (i % 6) {
        case 0:
          v.push_back(double(x % 100000));
          break;
        case 1:
          v.push_back(double(int64_t(x % 2000000) - 1000000) / 100.0);
          break;
        case 2:
          v.push_back(double(x % 1000000007) / 7.0);
          break;
        case 3:
          v.push_back(double(x % 1000) * 1e12);
          break;
        case 4:
          v.push_back(1.0 / double(x % 100000 + 1));
          break;
        default:
          v.push_back(-double(x % 100000000) / 1000.0);
          break;
      }
    }
    return v;
  }();
  return values;
}

const std::vector<double>& integer_values() {
  static const std::vector<double> values = [] {
    std::vector<double> v;
    Xorshift random{0x2545F4914F6CDD1Dull};
    for (uint32_t i = 0; i < 4096; ++i) {
      const uint64_t x = random.next();
      v.push_back(double(int64_t(x % 20000000) - 10000000));
    }
    return v;
  }();
  return values;
}

const std::vector<double>& date_values() {
  static const std::vector<double> values = [] {
    std::vector<double> v;
    Xorshift random{0x9E3779B97F4A7C15ull};
    for (uint32_t i = 0; i < 4096; ++i) {
      const uint64_t x = random.next();
      v.push_back(20000.0 + double(x % 30000) + double((x >> 20) % 1440) / 1440.0);
    }
    return v;
  }();
  return values;
}

template <typename Render>
void run(benchmark::State& state, const std::vector<double>& values, Render render) {
  TextBuffer buf;
  size_t bytes = 0;
  for (auto _ : state) {
    for (double v : values) {
      buf.clear();
      render(buf, v);
      bytes += buf.len;
      benchmark::DoNotOptimize(buf.data);
    }
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(values.size()));
  state.counters["out_bytes"] = benchmark::Counter(double(bytes), benchmark::Counter::kIsRate);
}

void BM_ExactShortest_Mixed(benchmark::State& state) {
  run(state, mixed_values(), [](TextBuffer& b, double v) { append_shortest(b, v); });
}
void BM_DefaultGeneral_Mixed(benchmark::State& state) {
  run(state, mixed_values(), [](TextBuffer& b, double v) { append_general(b, v); });
}
void BM_ExactShortest_Integers(benchmark::State& state) {
  run(state, integer_values(), [](TextBuffer& b, double v) { append_shortest(b, v); });
}
void BM_DefaultGeneral_Integers(benchmark::State& state) {
  run(state, integer_values(), [](TextBuffer& b, double v) { append_general(b, v); });
}
void BM_ExactIso_DateTime(benchmark::State& state) {
  const FormatShows shows = classify_format_code("m/d/yyyy h:mm");
  run(state, date_values(), [shows](TextBuffer& b, double v) { append_iso(b, v, false, shows); });
}
void BM_DefaultDate_DateTime(benchmark::State& state) {
  run(state, date_values(),
      [](TextBuffer& b, double v) { append_date(b, v, "%Y-%m-%d %H:%M:%S"); });
}
void BM_ClassifyFormatCode(benchmark::State& state) {
  static const char* const kCodes[] = {
      "General",          "0.00", "m/d/yyyy", "[h]:mm:ss", "\"$\"#,##0_);[Red](\"$\"#,##0)",
      "[$-409]h:mm AM/PM"};
  for (auto _ : state)
    for (const char* c : kCodes) benchmark::DoNotOptimize(classify_format_code(c));
  state.SetItemsProcessed(int64_t(state.iterations()) * 6);
}

BENCHMARK(BM_ExactShortest_Mixed);
BENCHMARK(BM_DefaultGeneral_Mixed);
BENCHMARK(BM_ExactShortest_Integers);
BENCHMARK(BM_DefaultGeneral_Integers);
BENCHMARK(BM_ExactIso_DateTime);
BENCHMARK(BM_DefaultDate_DateTime);
BENCHMARK(BM_ClassifyFormatCode);

}  // namespace
