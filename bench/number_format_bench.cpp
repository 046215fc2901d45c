// Micro-benchmarks of the number-format renderer: nanoseconds per cell for
// each family of codes (General, fixed, grouped, currency with sections,
// percent, scientific, fraction, date, time, elapsed time, text), over a
// spread of values so that no single digit path dominates. Linked into
// micro_bench; run with --benchmark_filter=BM_Format.
#include <benchmark/benchmark.h>

#include <array>
#include <string>

#include "format/number_format.hpp"

namespace {

using namespace sheetdump;

constexpr std::array<double, 8> kNumbers = {1234.5,     -98765.4321, 0.125,   42,
                                            3.14159265, 1e7 / 3,     -0.0042, 27738.5625};

void run_format(benchmark::State& state, const char* code, bool as_dates) {
  const CompiledFormat f = compile_format(code);
  std::string out;
  out.reserve(256);
  size_t i = 0;
  for (auto _ : state) {
    out.clear();
    double v = kNumbers[i++ & 7];
    if (as_dates) v = v < 0 ? -v : v;
    render_number(f, v, false, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_FormatGeneral(benchmark::State& s) { run_format(s, "General", false); }
void BM_FormatFixed(benchmark::State& s) { run_format(s, "0.00", false); }
void BM_FormatGrouped(benchmark::State& s) { run_format(s, "#,##0.00", false); }
void BM_FormatCurrency(benchmark::State& s) {
  run_format(s, "_(\"$\"* #,##0.00_);_(\"$\"* \\(#,##0.00\\);_(\"$\"* \"-\"??_);_(@_)", false);
}
void BM_FormatPercent(benchmark::State& s) { run_format(s, "0.00%", false); }
void BM_FormatScientific(benchmark::State& s) { run_format(s, "0.00E+00", false); }
void BM_FormatEngineering(benchmark::State& s) { run_format(s, "##0.0E+0", false); }
void BM_FormatFraction(benchmark::State& s) { run_format(s, "# ?\?/??", false); }
void BM_FormatConditional(benchmark::State& s) {
  run_format(s, "[>=1000000]0.0,,\"M\";[>=1000]0.0,\"K\";0", false);
}
void BM_FormatDate(benchmark::State& s) { run_format(s, "m/d/yyyy", true); }
void BM_FormatDateLong(benchmark::State& s) {
  run_format(s, "dddd, mmmm d, yyyy h:mm AM/PM", true);
}
void BM_FormatTime(benchmark::State& s) { run_format(s, "h:mm:ss.00", true); }
void BM_FormatElapsed(benchmark::State& s) { run_format(s, "[h]:mm:ss", true); }

void BM_FormatText(benchmark::State& state) {
  const CompiledFormat f = compile_format("0;0;0;\"<\"@\">\"");
  std::string out;
  out.reserve(256);
  for (auto _ : state) {
    out.clear();
    render_text(f, "some text", out);
    benchmark::DoNotOptimize(out.data());
  }
}

void BM_FormatCompile(benchmark::State& state) {
  for (auto _ : state) {
    CompiledFormat f = compile_format(
        "_(\"$\"* #,##0.00_);_(\"$\"* \\(#,##0.00\\);_(\"$\"* \"-\"??_);_(@_)");
    benchmark::DoNotOptimize(f.tokens.data());
  }
}

BENCHMARK(BM_FormatGeneral);
BENCHMARK(BM_FormatFixed);
BENCHMARK(BM_FormatGrouped);
BENCHMARK(BM_FormatCurrency);
BENCHMARK(BM_FormatPercent);
BENCHMARK(BM_FormatScientific);
BENCHMARK(BM_FormatEngineering);
BENCHMARK(BM_FormatFraction);
BENCHMARK(BM_FormatConditional);
BENCHMARK(BM_FormatDate);
BENCHMARK(BM_FormatDateLong);
BENCHMARK(BM_FormatTime);
BENCHMARK(BM_FormatElapsed);
BENCHMARK(BM_FormatText);
BENCHMARK(BM_FormatCompile);

}  // namespace
