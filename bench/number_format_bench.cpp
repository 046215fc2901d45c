// Micro-benchmarks of the number-format renderer: nanoseconds per cell for
// each family of codes (General, fixed, grouped, currency with sections,
// percent, scientific, fraction, date, time, elapsed time, text), over a
// spread of values so that no single digit path dominates; and each fast
// path of the common codes against the token walk it stands in for, over
// the values workbooks hold (whole numbers, cents, four decimals, serials).
// Linked into micro_bench; run with --benchmark_filter=BM_Format.
#include <benchmark/benchmark.h>

#include <array>
#include <string>

#include "format/number_format.hpp"
#include "xorshift.hpp"

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

// Values as cells hold them: whole numbers (some above 10^11), cents (some
// rounded to ten digits by General), four decimals, fractions of one, and
// day serials with a time.
enum class Spread { kWhole, kCents, kFour, kFraction, kSerial };

std::array<double, 64> spread_values(Spread spread) {
  std::array<double, 64> v{};
  Xorshift random{0x9E3779B97F4A7C15ull};
  for (double& d : v) {
    const uint64_t x = random.next();
    const int64_t r = int64_t(x >> 11);
    switch (spread) {
      case Spread::kWhole:
        d = double(x % 20 == 0 ? r % 1000000000000 : r % 100000);
        break;
      case Spread::kCents:
        d = double(x % 5 == 0 ? r % 100000000000 : r % 10000000) / 100.0;
        break;
      case Spread::kFour:
        d = double(r % 200000000 - 100000000) / 10000.0;
        break;
      case Spread::kFraction:
        d = double(r % 10001) / 10000.0;
        break;
      case Spread::kSerial:
        d = double(20000 + r % 30000) + double(r % 1440) / 1440.0;
        break;
    }
  }
  return v;
}

// The code through its fast path (as compiled), or through the token walk
// alone (`walk`).
void run_spread(benchmark::State& state, const char* code, Spread spread, bool walk) {
  CompiledFormat f = compile_format(code);
  if (walk) f.fast = FastPath::kNone;
  const std::array<double, 64> values = spread_values(spread);
  std::string out;
  out.reserve(256);
  size_t i = 0;
  for (auto _ : state) {
    out.clear();
    render_number(f, values[i++ & 63], false, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations());
}

// write_number_fast into raw room, as the cell renderer calls it.
void run_direct(benchmark::State& state, const char* code, Spread spread) {
  const CompiledFormat f = compile_format(code);
  const std::array<double, 64> values = spread_values(spread);
  char room[kFastRoom];
  size_t i = 0;
  for (auto _ : state) {
    char* end = write_number_fast(f, values[i++ & 63], false, room);
    benchmark::DoNotOptimize(end);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_FormatFastGeneralWhole(benchmark::State& s) { run_direct(s, "General", Spread::kWhole); }
void BM_FormatFastGeneralCents(benchmark::State& s) { run_direct(s, "General", Spread::kCents); }
void BM_FormatFastGeneralFour(benchmark::State& s) { run_direct(s, "General", Spread::kFour); }
void BM_FormatFastFixed0(benchmark::State& s) { run_direct(s, "0", Spread::kCents); }
void BM_FormatFastFixed2(benchmark::State& s) { run_direct(s, "0.00", Spread::kFour); }
void BM_FormatFastGrouped0(benchmark::State& s) { run_direct(s, "#,##0", Spread::kWhole); }
void BM_FormatFastGrouped2(benchmark::State& s) { run_direct(s, "#,##0.00", Spread::kCents); }
void BM_FormatFastPercent0(benchmark::State& s) { run_direct(s, "0%", Spread::kFraction); }
void BM_FormatFastPercent2(benchmark::State& s) { run_direct(s, "0.00%", Spread::kFraction); }
void BM_FormatFastDate(benchmark::State& s) { run_direct(s, "m/d/yy", Spread::kSerial); }
void BM_FormatFastDateTime(benchmark::State& s) { run_direct(s, "m/d/yyyy h:mm", Spread::kSerial); }
void BM_FormatSpreadGeneralCents(benchmark::State& s) {
  run_spread(s, "General", Spread::kCents, false);
}
void BM_FormatWalkGeneralCents(benchmark::State& s) {
  run_spread(s, "General", Spread::kCents, true);
}
void BM_FormatSpreadFixed2(benchmark::State& s) { run_spread(s, "0.00", Spread::kFour, false); }
void BM_FormatWalkFixed2(benchmark::State& s) { run_spread(s, "0.00", Spread::kFour, true); }
void BM_FormatSpreadPercent2(benchmark::State& s) {
  run_spread(s, "0.00%", Spread::kFraction, false);
}
void BM_FormatWalkPercent2(benchmark::State& s) { run_spread(s, "0.00%", Spread::kFraction, true); }
void BM_FormatSpreadDateTime(benchmark::State& s) {
  run_spread(s, "m/d/yyyy h:mm", Spread::kSerial, false);
}
void BM_FormatWalkDateTime(benchmark::State& s) {
  run_spread(s, "m/d/yyyy h:mm", Spread::kSerial, true);
}

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
BENCHMARK(BM_FormatFastGeneralWhole);
BENCHMARK(BM_FormatFastGeneralCents);
BENCHMARK(BM_FormatFastGeneralFour);
BENCHMARK(BM_FormatFastFixed0);
BENCHMARK(BM_FormatFastFixed2);
BENCHMARK(BM_FormatFastGrouped0);
BENCHMARK(BM_FormatFastGrouped2);
BENCHMARK(BM_FormatFastPercent0);
BENCHMARK(BM_FormatFastPercent2);
BENCHMARK(BM_FormatFastDate);
BENCHMARK(BM_FormatFastDateTime);
BENCHMARK(BM_FormatSpreadGeneralCents);
BENCHMARK(BM_FormatWalkGeneralCents);
BENCHMARK(BM_FormatSpreadFixed2);
BENCHMARK(BM_FormatWalkFixed2);
BENCHMARK(BM_FormatSpreadPercent2);
BENCHMARK(BM_FormatWalkPercent2);
BENCHMARK(BM_FormatSpreadDateTime);
BENCHMARK(BM_FormatWalkDateTime);
BENCHMARK(BM_FormatText);
BENCHMARK(BM_FormatCompile);

}  // namespace
