// libFuzzer target: one input is one workbook file. It goes through the
// whole path of the program (compound-file layer, loader, every writer in
// every mode) in-process, with the output written to /dev/null.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "biff/workbook_loader.hpp"
#include "cli/options.hpp"
#include "format/cell_text.hpp"
#include "output/delimited_writer.hpp"
#include "output/output_stream.hpp"
#include "output/sql_writer.hpp"

namespace {

std::FILE* sink() {
  static std::FILE* f = [] {
    std::FILE* s = std::fopen("/dev/null", "w");
    if (s == nullptr) std::abort();
    return s;
  }();
  return f;
}

// Grid positions the writers visit for this workbook.
uint64_t grid_positions(const sheetdump::Workbook& wb) {
  uint64_t n = 0;
  for (const sheetdump::Sheet& s : wb.sheets)
    if (s.rows > 0 && s.cols > 0) n += uint64_t(s.rows) * uint64_t(s.cols);
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace sheetdump;
  // The input's length chooses what is read and how it is rendered, so
  // that every reading scope and rendering is searched while seed files
  // stay whole workbooks.
  const size_t mode = size % 4;
  LoadOptions load;
  load.all = mode != 0;
  RenderOptions render;
  render.all = load.all;
  if (mode == 2) render.rendering = Rendering::Exact;
  if (mode == 3) render.rendering = Rendering::Formatted;
  Workbook wb = load_workbook(std::vector<uint8_t>(data, data + size), load);

  // A DIMENSIONS record of a few bytes may claim a grid of 65,536 x 256
  // positions, and an input can hold thousands of them. Output that large
  // is what the rules ask for, but under coverage instrumentation every
  // position costs a few hundred nanoseconds, and printing big grids six
  // times per input would only slow the search down. Small grids go
  // through every writer in every mode, larger ones through one writer of
  // each family, huge ones through none (the hostile-input tests print
  // those in full with the real binary).
  const uint64_t positions = grid_positions(wb);
  OutputStream out(sink());
  if (positions <= (uint64_t(1) << 10)) {
    write_csv(wb, out, render);
    write_tab(wb, out, render);
    write_sql(wb, nullptr, QUOTE_ORACLE, out, render);
    write_sql(wb, nullptr, QUOTE_POSTGRES, out, render);
    write_sql(wb, kIsoDatePattern, QUOTE_ORACLE, out, render);
    write_sql(wb, kIsoDatePattern, QUOTE_POSTGRES, out, render);
  } else if (positions <= (uint64_t(1) << 13)) {
    write_csv(wb, out, render);
    write_sql(wb, kIsoDatePattern, QUOTE_POSTGRES, out, render);
  }
  out.flush();
  return 0;
}
