// libFuzzer target for the number-format compiler and renderer: the first
// eight bytes of an input are a double, the ninth picks the date system,
// the rest is the format code. The code is compiled once and renders that
// value, a few fixed values and a text, as a workbook's cells would be.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "format/number_format.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace sheetdump;
  double value = 0;
  bool date1904 = false;
  if (size >= 9) {
    std::memcpy(&value, data, sizeof value);
    date1904 = (data[8] & 1) != 0;
    data += 9;
    size -= 9;
  }
  std::string_view code(reinterpret_cast<const char*>(data), size);
  CompiledFormat f = compile_format(code);
  std::string out;
  const double values[] = {value, 0, -1.5, 1234.5678, 45000.75, 1e300, 2.675, 0.999999999};
  for (double v : values) {
    out.clear();
    render_number(f, v, date1904, out);
    if (out.size() > kMaxRenderedBytes) std::abort();
  }
  out.clear();
  render_text(f, code.substr(0, 64), out);
  if (out.size() > kMaxRenderedBytes) std::abort();
  return 0;
}
