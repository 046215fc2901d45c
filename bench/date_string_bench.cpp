// Micro-benchmarks of the date and shared-string fast paths: the
// multiplicative calendar against the reference one, whole-day serials
// against the double path, and plain 8-bit strings of the string table
// against strings that take the long way.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <span>
#include <vector>

#include "biff/shared_strings.hpp"
#include "format/civil_date.hpp"
#include "format/date_text.hpp"
#include "xorshift.hpp"

namespace {

using namespace sheetdump;

std::vector<int32_t> day_serials() {
  std::vector<int32_t> v;
  Xorshift random{0x9E3779B97F4A7C15ull};
  for (int i = 0; i < 4096; ++i) {
    const uint64_t x = random.next();
    v.push_back(int32_t(20000 + x % 30000));  // 1954 to 2036
  }
  return v;
}

void BM_CivilFromDaysFast(benchmark::State& state) {
  static const std::vector<int32_t> serials = day_serials();
  for (auto _ : state)
    for (int32_t s : serials) benchmark::DoNotOptimize(civil_from_days_fast(s - 25569));
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(serials.size()));
}
BENCHMARK(BM_CivilFromDaysFast);

void BM_CivilFromDaysReference(benchmark::State& state) {
  static const std::vector<int32_t> serials = day_serials();
  for (auto _ : state)
    for (int32_t s : serials) benchmark::DoNotOptimize(civil_from_days(s - 25569));
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(serials.size()));
}
BENCHMARK(BM_CivilFromDaysReference);

// Whole days under "m/d/yy": write_day against write_date of the same
// serial as a double.
void BM_WriteDay(benchmark::State& state) {
  static const std::vector<int32_t> serials = day_serials();
  const char* pattern = "%m/%d/%y";
  const DateLayout layout = date_layout(pattern);
  char buf[kDateRoom];
  for (auto _ : state)
    for (int32_t s : serials) benchmark::DoNotOptimize(write_day(buf, s, pattern, layout));
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(serials.size()));
}
BENCHMARK(BM_WriteDay);

void BM_WriteDateOfWholeDay(benchmark::State& state) {
  static const std::vector<int32_t> serials = day_serials();
  const char* pattern = "%m/%d/%y";
  const DateLayout layout = date_layout(pattern);
  char buf[kDateRoom];
  for (auto _ : state)
    for (int32_t s : serials) benchmark::DoNotOptimize(write_date(buf, double(s), pattern, layout));
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(serials.size()));
}
BENCHMARK(BM_WriteDateOfWholeDay);

// An SST record of 4096 strings of 4 to 19 characters. Arg 0: plain ASCII,
// taken as bytes; arg 1: each with an e-acute (Latin-1), the long way.
void BM_ReadSst(benchmark::State& state) {
  const bool latin = state.range(0) != 0;
  std::vector<uint8_t> rec = {0, 0, 0, 0, 0x00, 0x10, 0, 0};  // total, count 4096
  size_t chars = 0;
  for (int i = 0; i < 4096; ++i) {
    const size_t n = 4 + size_t(i % 16);
    rec.push_back(uint8_t(n));
    rec.push_back(0);
    rec.push_back(0);  // 8-bit characters, no runs or extended data
    for (size_t c = 0; c < n; ++c) rec.push_back(uint8_t(latin && c == 1 ? 0xE9 : 'a' + c));
    chars += n;
  }
  const std::span<const uint8_t> one[] = {rec};
  for (auto _ : state) benchmark::DoNotOptimize(read_sst(one));
  state.SetItemsProcessed(int64_t(state.iterations()) * 4096);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(chars));
}
BENCHMARK(BM_ReadSst)->Arg(0)->Arg(1);

}  // namespace
