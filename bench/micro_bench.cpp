// Micro-benchmarks of the hot paths, over workbooks built in memory by the
// benchmark generator: record scanning, loading, the rendering of one cell
// (general rule, each number pattern, each date pattern) and each writer.
//
//   micro_bench [--benchmark_filter=REGEX] [--benchmark_min_time=0.01]

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "biff/record_reader.hpp"
#include "biff/workbook.hpp"
#include "biff/workbook_loader.hpp"
#include "cfb/compound_file.hpp"
#include "format/builtin_formats.hpp"
#include "format/cell_text.hpp"
#include "format/number_text.hpp"
#include "output/delimited_writer.hpp"
#include "output/output_stream.hpp"
#include "output/sql_writer.hpp"
#include "workbook_gen.hpp"
#include "xorshift.hpp"

namespace {

using namespace sheetdump;

// Full-size workbooks unless SHEETDUMP_BENCH_SCALE says otherwise; each is
// generated once per process.
double bench_scale() {
  const char* s = std::getenv("SHEETDUMP_BENCH_SCALE");
  double v = s ? std::atof(s) : 1.0;
  return v > 0 && v <= 1.0 ? v : 1.0;
}

const benchgen::Bytes& workbook_file(const std::string& name) {
  static std::map<std::string, benchgen::Bytes> files;
  auto it = files.find(name);
  if (it == files.end())
    it = files.emplace(name, benchgen::make_workbook(name, bench_scale())).first;
  return it->second;
}

const Workbook& loaded_workbook(const std::string& name) {
  static std::map<std::string, Workbook> books;
  auto it = books.find(name);
  if (it == books.end()) it = books.emplace(name, load_workbook(workbook_file(name))).first;
  return it->second;
}

std::FILE* dev_null() {
  static std::FILE* f = [] {
    std::FILE* nf = std::fopen("/dev/null", "w");
    if (!nf) std::abort();
    static std::vector<char> buffer(1 << 20);
    std::setvbuf(nf, buffer.data(), _IOFBF, buffer.size());
    return nf;
  }();
  return f;
}

// --- Records ----------------------------------------------------------------

// Walks every record header of the workbook stream, as the loader's first
// look at a substream does.
void BM_RecordScan(benchmark::State& state, const std::string& name) {
  std::vector<uint8_t> file = workbook_file(name);
  // The stream laid out as the loader lays it out: the header's 512 bytes
  // right in front of it.
  auto extents = find_stream(file, "Workbook");
  StreamLayout laid;
  laid.end = file.size();
  if (extents) laid = lay_out_stream(file, *extents, 512);
  if (laid.copied) {
    file = std::move(laid.copy);
    laid.begin = 0;
    laid.end = file.size();
  }
  std::span<const uint8_t> seq = std::span<const uint8_t>(file).subspan(laid.begin,
                                                                        laid.end - laid.begin);
  int64_t records = 0;
  for (auto _ : state) {
    RecordReader r{seq, 0, false};
    seek_to(r, 512);
    int64_t sum = 0;
    while (auto rec = read_record(r)) {
      sum += rec->id;
      ++records;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(seq.size()));
  state.counters["records"] = benchmark::Counter(double(records), benchmark::Counter::kIsRate);
}

// The whole load: compound file, globals, shared strings, every cell.
void BM_LoadWorkbook(benchmark::State& state, const std::string& name) {
  const benchgen::Bytes& file = workbook_file(name);
  for (auto _ : state) {
    Workbook wb = load_workbook(std::vector<uint8_t>(file));
    benchmark::DoNotOptimize(wb.sheets.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(file.size()));
}

// --- One cell ---------------------------------------------------------------

// A sheet of 4096 number cells in one format (an XF naming format index
// `format_index`, or none), with values of the kinds
// real sheets hold: integers, cents, long fractions, large and small
// magnitudes, negatives; dates get day serials with times of day.
struct CellSheet {
  Workbook wb;
  Sheet sheet;
};

CellSheet number_sheet(int32_t format_index, bool dates) {
  CellSheet cs;
  cs.wb.xf_formats = {format_index};
  Xorshift random{0x9E3779B97F4A7C15ull};
  for (uint32_t i = 0; i < 4096; ++i) {
    const uint64_t x = random.next();
    double v;
    if (dates) {
      v = 20000.0 + double(x % 30000) + double((x >> 20) % 1440) / 1440.0;
    } else {
      switch (i % 6) {
        case 0:
          v = double(x % 100000);
          break;
        case 1:
          v = double(int64_t(x % 2000000) - 1000000) / 100.0;
          break;
        case 2:
          v = double(x % 1000000007) / 7.0;
          break;
        case 3:
          v = double(x % 1000) * 1e12;
          break;
        case 4:
          v = 1.0 / double(x % 100000 + 1);
          break;
        default:
          v = -double(x % 100000000) / 1000.0;
          break;
      }
    }
    cs.sheet.numbers.push_back(v);
    cs.sheet.cells.push_back(Cell::make(uint16_t(i / 8), uint8_t(i % 8), Cell::Kind::Double, 0, i));
  }
  cs.sheet.rows = 512;
  cs.sheet.cols = 8;
  return cs;
}

void run_cells(benchmark::State& state, const CellSheet& cs) {
  CellRenderer render(cs.wb, RenderOptions{});
  size_t bytes = 0;
  for (auto _ : state) {
    for (const Cell& c : cs.sheet.cells) {
      auto text = render.text(cs.sheet, c);
      bytes += text ? text->size() : 0;
      benchmark::DoNotOptimize(text);
    }
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(cs.sheet.cells.size()));
  state.counters["out_bytes"] = benchmark::Counter(double(bytes), benchmark::Counter::kIsRate);
}

void BM_CellTextGeneral(benchmark::State& state) {
  static const CellSheet cs = number_sheet(kNoFormatIndex, false);
  run_cells(state, cs);
}

// One benchmark per row of the built-in format table.
void BM_CellTextFormat(benchmark::State& state, uint8_t slot) {
  static std::map<uint8_t, CellSheet> sheets;
  auto it = sheets.find(slot);
  if (it == sheets.end())
    it = sheets
             .emplace(slot, number_sheet(builtin_formats()[slot].index,
                                         builtin_formats()[slot].kind == FORMAT_DATE))
             .first;
  run_cells(state, it->second);
}

// Shared-string cells only: the view into the string table.
void BM_CellTextShared(benchmark::State& state) {
  const Workbook& wb = loaded_workbook("mixed");
  const Sheet& sheet = wb.sheets.at(0);
  std::vector<Cell> texts;
  for (const Cell& c : sheet.cells)
    if (c.kind == Cell::Kind::SharedString) texts.push_back(c);
  CellRenderer render(wb, RenderOptions{});
  for (auto _ : state)
    for (const Cell& c : texts) benchmark::DoNotOptimize(render.text(sheet, c));
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(texts.size()));
}

// --- Writers ----------------------------------------------------------------

enum Mode { CSV, TAB, SQL, SQL_POSTGRES_ISO };

void BM_Writer(benchmark::State& state, const std::string& name, Mode mode) {
  const Workbook& wb = loaded_workbook(name);
  OutputStream out(dev_null());
  for (auto _ : state) {
    switch (mode) {
      case CSV:
        write_csv(wb, out);
        break;
      case TAB:
        write_tab(wb, out);
        break;
      case SQL:
        write_sql(wb, nullptr, QUOTE_ORACLE, out);
        break;
      case SQL_POSTGRES_ISO:
        write_sql(wb, "%Y-%m-%d %H:%M:%S", QUOTE_POSTGRES, out);
        break;
    }
    out.flush();
  }
  // Throughput in bytes of the input file, as bench/run.sh reports it.
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(workbook_file(name).size()));
}

void register_all() {
  for (const std::string& name : benchgen::workbook_names()) {
    benchmark::RegisterBenchmark(("BM_RecordScan/" + name).c_str(), BM_RecordScan, name)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("BM_LoadWorkbook/" + name).c_str(), BM_LoadWorkbook, name)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("BM_CellTextGeneral", BM_CellTextGeneral);
  auto formats = builtin_formats();
  for (size_t slot = 0; slot < formats.size(); ++slot) {
    std::string label = std::string(formats[slot].kind == FORMAT_DATE ? "BM_CellTextDate/"
                                                                      : "BM_CellTextNumber/") +
                        std::to_string(formats[slot].index);
    benchmark::RegisterBenchmark(label.c_str(), BM_CellTextFormat, uint8_t(slot));
  }
  benchmark::RegisterBenchmark("BM_CellTextShared", BM_CellTextShared);
  const std::pair<Mode, const char*> modes[] = {
      {CSV, "csv"}, {TAB, "tab"}, {SQL, "sql"}, {SQL_POSTGRES_ISO, "sql_postgres_isodate"}};
  for (const std::string& name : benchgen::workbook_names())
    for (auto [mode, label] : modes)
      benchmark::RegisterBenchmark(("BM_Writer/" + name + "/" + label).c_str(), BM_Writer, name,
                                   mode)
          ->Unit(benchmark::kMillisecond);
}

}  // namespace

int main(int argc, char** argv) {
  register_all();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
