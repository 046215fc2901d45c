// Turns a cell of a loaded sheet into the text that every writer prints:
// none for an empty position, the text of a text cell, and for a number
// cell its rendering through the format of its XF record, chosen once per
// workbook and run options (a built-in pattern, the general rule, the
// exact value or the spreadsheet's own display).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "biff/workbook.hpp"
#include "format/date_text.hpp"
#include "format/format_kind.hpp"
#include "format/number_format.hpp"
#include "format/number_text.hpp"
#include "format/render_options.hpp"

namespace sheetdump {

// How the cells of one XF record render: decided once per workbook.
struct FormatPlan {
  enum class Kind : uint8_t {
    General,   // as many decimals as the value needs (0 to 5)
    Printf,    // a built-in printf pattern
    Strftime,  // a strftime pattern for a day serial
    Shortest,  // the shortest round-trip decimal
    Iso,       // an ISO date/time of a day serial, by what the format shows
    Elapsed,   // a duration in the leading unit of an elapsed bracket
    Compiled,  // through the compiled format code
  };
  Kind kind = Kind::General;
  // A date kind counts serials from 1904-01-01 (the workbook says so and
  // the run reads it).
  bool date1904 = false;
  const char* pattern = nullptr;
  // For a Printf pattern "%.Nf" or "%.Nf%%": N, and whether the percent
  // sign follows; -1 for any other pattern.
  int8_t fixed = -1;
  bool percent = false;
  // write_rk renders its RK integers (General, a fixed pattern, Shortest).
  bool direct_rk = false;
  // write_double renders its numbers, where they are exact (General or a
  // fixed pattern).
  bool direct = false;
  // write_date renders its day serials (a Strftime pattern it knows).
  bool date_direct = false;
  DateLayout date_layout = DateLayout::Other;
  // write_number_fast renders its numbers (a Compiled code with a fast
  // path whose texts hold nothing a writer escapes).
  bool compiled_direct = false;
  // Texts under this XF print as they are stored, up to kMaxRenderedBytes
  // (only a format code with a text section, under --formatted, shows
  // them otherwise).
  bool text_as_stored = true;
  FormatShows shows;
  const CompiledFormat* compiled = nullptr;
};

class CellRenderer {
 public:
  CellRenderer(const Workbook& wb, const RenderOptions& options);
  ~CellRenderer();
  CellRenderer(const CellRenderer&) = delete;
  CellRenderer& operator=(const CellRenderer&) = delete;

  // The text of a cell of the sheet whose values are `values`; none where
  // it has none. The view stays valid until the next call.
  std::optional<std::string_view> text(const SheetValues& values, const Cell& cell);
  // The text of a number cell (RK or double), which always has one; the
  // view stays valid until the next call.
  std::string_view number(const SheetValues& values, const Cell& cell) {
    const FormatPlan& p = plan(cell.xf);
    if (cell.kind == Cell::Kind::Rk) {
      if (rk_direct(cell)) return rk_text(cell);
      return number_text(p, decode_rk(cell.value));
    }
    return number_text(p, cell_number(values, cell));
  }
  // Whether write_rk renders this RK number cell.
  bool rk_direct(const Cell& cell) const {
    return (cell.value & 2) != 0 && plan(cell.xf).direct_rk;
  }
  // The text of such a cell (see rk_direct), written at `p`, which has
  // room for kRkRoom bytes; returns the end.
  static constexpr size_t kRkRoom = kScaledRoom + 2;
  static_assert(kRkRoom >= kDateRoom);
  // Room that write_number needs.
  static constexpr size_t kNumberRoom = kFastRoom > kRkRoom ? kFastRoom : kRkRoom;
  char* write_rk(const Cell& cell, char* p) { return write_rk(plan(cell.xf), cell.value, p); }
  // The text of a number cell under the general rule, a fixed printf
  // pattern or (RK integers) the exact rendering, where that is exact, at
  // `p`, which has room for kNumberRoom bytes; returns the end. For any other
  // cell returns nullptr and writes nothing: number() or text() renders it.
  [[gnu::always_inline]] char* write_number(const SheetValues& values, const Cell& cell, char* p) {
    const FormatPlan& pl = plan(cell.xf);
    if (cell.kind == Cell::Kind::Rk) {
      const uint32_t rk = cell.value;
      if ((rk & 3) == 2 && pl.fixed < 0 && pl.direct_rk) {
        // An integer under the general rule or the exact rendering.
        const int32_t n = int32_t(rk) >> 2;
        *p = '-';
        return write_u32(p + (n < 0), n < 0 ? uint32_t(0) - uint32_t(n) : uint32_t(n));
      }
      if ((rk & 3) == 3 && pl.kind == FormatPlan::Kind::General) {
        // Hundredths under the general rule.
        const int32_t n = int32_t(rk) >> 2;
        const uint32_t m = n < 0 ? uint32_t(0) - uint32_t(n) : uint32_t(n);
        if (m >= kHundredthsByDigits) return write_general_hundredths(p, n < 0, m);
      }
      if (pl.compiled_direct) return write_number_fast(*pl.compiled, decode_rk(rk), pl.date1904, p);
      if (pl.date_direct) {
        if ((rk & 3) == 2) {
          // A whole day: the RK integer has at most 30 bits, so the 1904
          // shift stays inside 32.
          const int32_t day = (int32_t(rk) >> 2) + (pl.date1904 ? 1462 : 0);
          return write_day(p, day, pl.pattern, pl.date_layout);
        }
        return write_date(p, date_serial(pl, decode_rk(rk)), pl.pattern, pl.date_layout);
      }
      if ((rk & 2) != 0) return pl.direct_rk ? write_rk(pl, rk, p) : nullptr;
      return pl.direct ? write_double(pl, decode_rk(rk), p) : nullptr;
    }
    if (cell.kind == Cell::Kind::Double && cell.value < values.numbers.size()) {
      const double v = values.numbers[cell.value];
      if (pl.kind == FormatPlan::Kind::General) return write_general(p, v);
      if (pl.direct) return write_double(pl, v, p);
      if (pl.compiled_direct) return write_number_fast(*pl.compiled, v, pl.date1904, p);
      if (pl.date_direct) return write_date(p, date_serial(pl, v), pl.pattern, pl.date_layout);
    }
    return nullptr;
  }
  // The text at (row, col), or none for an empty position.
  std::optional<std::string_view> text_at(const Sheet& sheet, int32_t row, int32_t col);

  const FormatPlan& plan(uint16_t xf) const {
    return xf < plan_count_ ? plans_data_[xf] : general_;
  }
  const RenderOptions& options() const { return options_; }
  const Workbook& workbook() const { return wb_; }
  // Whether shared strings print as they are stored, whatever their XF
  // (only format codes, under --formatted, give texts a section of their
  // own).
  bool strings_as_stored() const { return options_.rendering != Rendering::Formatted; }
  bool text_as_stored(uint16_t xf) const { return plan(xf).text_as_stored; }
  // Whether text() shows a text of `size` bytes under `xf` as it stands.
  bool shows_as_stored(uint16_t xf, size_t size) const {
    const FormatPlan& p = plan(xf);
    return p.kind != FormatPlan::Kind::Compiled || p.compiled->general ||
           (p.text_as_stored && size <= kMaxRenderedBytes);
  }

 private:
  std::string_view number_text(const FormatPlan& plan, double v);
  // The serial a date plan renders: counted from 1900 whatever the workbook
  // counts from.
  static double date_serial(const FormatPlan& plan, double v) {
    return plan.date1904 ? v + 1462 : v;
  }
  char* write_double(const FormatPlan& plan, double v, char* p);
  char* write_rk(const FormatPlan& plan, uint32_t rk, char* p);
  char* write_shortest_hundredths(int32_t n, char* p);
  std::string_view rk_text(const Cell& cell);
  std::optional<std::string_view> shown_text(const FormatPlan& plan,
                                             std::optional<std::string_view> text);

  const Workbook& wb_;
  RenderOptions options_;
  std::vector<FormatPlan> plans_;
  const FormatPlan* plans_data_ = nullptr;  // plans_, for the lookup per cell
  size_t plan_count_ = 0;
  FormatPlan general_;
  std::vector<CompiledFormat> compiled_;
  TextBuffer buf_;
  std::string long_text_;
};

// The text of one cell with the given options (builds a renderer per call:
// for tests and one-off uses).
std::optional<std::string_view> cell_text(const Workbook& wb, const Sheet& sheet, const Cell& cell,
                                          TextBuffer& buf, const RenderOptions& options = {});
std::optional<std::string_view> cell_text(const Workbook& wb, const Sheet& sheet, int32_t row,
                                          int32_t col, TextBuffer& buf,
                                          const RenderOptions& options = {});

// The text of an error code, as the spreadsheet shows it.
std::string_view error_text(uint32_t code);

}  // namespace sheetdump
