#include "format/cell_text.hpp"

#include <algorithm>
#include <unordered_map>
#include <cmath>
#include <cstring>

#include "format/builtin_formats.hpp"
#include "format/date_text.hpp"
#include "format/builtin_codes.hpp"
#include "format/exact_text.hpp"
#include "format/number_format.hpp"

namespace sheetdump {

namespace {

// Workbooks number the format codes they define from here on.
constexpr int32_t kFirstWorkbookFormat = 164;
// Days from 1900-01-00 to 1904-01-01 in the spreadsheet's calendar.
constexpr double kDays1904 = 1462;

const char* iso_pattern(const FormatShows& shows) {
  if (shows.date && shows.time) return "%Y-%m-%d %H:%M:%S";
  if (shows.date) return "%Y-%m-%d";
  return "%H:%M:%S";
}

// What the built-in date formats show, for the exact rendering.
FormatShows builtin_shows(int32_t index) {
  FormatShows s;
  if ((index >= 14 && index <= 17)) {
    s.date = true;
  } else if ((index >= 18 && index <= 21) || index == 45 || index == 47) {
    s.time = true;
  } else if (index == 22 || index == 165) {
    s.date = s.time = true;
  } else if (index == 46) {
    s.time = true;
    s.elapsed = Elapsed::Hours;
  }
  return s;
}

// The workbook's own codes by format index (of several FORMAT records for
// one index the last one read counts), looked up once per distinct index:
// a hostile file may hold hundreds of thousands of XF and FORMAT records.
using CodeMap = std::unordered_map<int32_t, const std::string*>;

CodeMap workbook_codes(const Workbook& wb) {
  CodeMap codes;
  for (const WorkbookFormat& f : wb.formats) codes[f.index] = &f.code;
  return codes;
}

const std::string* workbook_code(const CodeMap& codes, int32_t index) {
  auto it = codes.find(index);
  return it == codes.end() ? nullptr : it->second;
}

// The workbook's code where it decides: for the indices workbooks number
// their own formats in (164 on), and for indices the built-in table does
// not know (some writers number their own codes from 50). Indices of the
// table keep it, however a workbook repeats them.
const std::string* deciding_code(const CodeMap& codes, int32_t index) {
  if (index < kFirstWorkbookFormat && lookup_format(index)) return nullptr;
  return workbook_code(codes, index);
}

FormatPlan default_plan(const Workbook& wb, const CodeMap& codes, const RenderOptions& o,
                        int32_t index) {
  FormatPlan p;
  if (index == kNoFormatIndex) return p;
  if (o.all) {
    if (const std::string* code = deciding_code(codes, index)) {
      FormatShows shows = classify_format_code(*code);
      if (shows.is_date_or_time()) {
        p.kind = FormatPlan::Kind::Strftime;
        p.pattern = o.date_pattern != nullptr ? o.date_pattern : iso_pattern(shows);
        p.date1904 = wb.date1904;
      }
      return p;
    }
  }
  auto row = lookup_format(index);
  if (!row) return p;
  const FormatInfo& f = builtin_formats()[*row];
  if (f.kind == FORMAT_NUMBER) {
    p.kind = FormatPlan::Kind::Printf;
    p.pattern = f.pattern;
  } else {
    p.kind = FormatPlan::Kind::Strftime;
    p.pattern = o.date_pattern != nullptr ? o.date_pattern : f.pattern;
    p.date1904 = o.all && wb.date1904;
  }
  return p;
}

FormatPlan exact_plan(const Workbook& wb, const CodeMap& codes, int32_t index) {
  FormatPlan p;
  p.kind = FormatPlan::Kind::Shortest;
  FormatShows shows;
  const std::string* code = deciding_code(codes, index);
  if (code != nullptr)
    shows = classify_format_code(*code);
  else if (index >= 0)
    shows = builtin_shows(index);
  if (shows.is_date_or_time()) {
    p.kind = shows.elapsed != Elapsed::None ? FormatPlan::Kind::Elapsed : FormatPlan::Kind::Iso;
    p.shows = shows;
    p.date1904 = wb.date1904;
  }
  return p;
}

// Marks a printf plan whose pattern is one fixed conversion, optionally
// with a percent sign after it: those render RK integers without a double.
void mark_fixed(FormatPlan& p) {
  if (p.kind != FormatPlan::Kind::Printf || p.pattern == nullptr) return;
  std::string_view s(p.pattern);
  if (s.size() < 4 || s[0] != '%' || s[1] != '.' || s[2] < '0' || s[2] > '9' || s[3] != 'f') return;
  std::string_view rest = s.substr(4);
  if (!rest.empty() && rest != "%%") return;
  p.fixed = int8_t(s[2] - '0');
  p.percent = !rest.empty();
}

// Marks the plans whose numbers write_rk and write_double render.
void mark_direct(FormatPlan& p) {
  p.direct = p.kind == FormatPlan::Kind::General || p.fixed >= 0;
  p.direct_rk = p.direct || p.kind == FormatPlan::Kind::Shortest;
  p.date_direct = p.kind == FormatPlan::Kind::Strftime && date_pattern_direct(p.pattern);
  if (p.date_direct) p.date_layout = date_layout(p.pattern);
}

// The code that decides format `index` as the spreadsheet shows it: the
// workbook's own FORMAT record for that index, else the built-in code.
std::string_view display_code(const CodeMap& codes, int32_t index) {
  if (const std::string* code = workbook_code(codes, index)) return *code;
  return builtin_format_code(index);
}

}  // namespace

std::string_view error_text(uint32_t code) {
  switch (code) {
    case 0x00:
      return "#NULL!";
    case 0x07:
      return "#DIV/0!";
    case 0x0F:
      return "#VALUE!";
    case 0x17:
      return "#REF!";
    case 0x1D:
      return "#NAME?";
    case 0x24:
      return "#NUM!";
    default:
      return "#N/A";
  }
}

CellRenderer::CellRenderer(const Workbook& wb, const RenderOptions& options)
    : wb_(wb), options_(options) {
  if (options_.rendering != Rendering::Default) options_.all = true;
  general_.kind = options_.rendering == Rendering::Default ? FormatPlan::Kind::General
                                                           : FormatPlan::Kind::Shortest;
  plans_.reserve(wb.xf_formats.size());
  const CodeMap codes = workbook_codes(wb);
  // One plan per distinct format index, however many XF records name it;
  // under --formatted each distinct code is compiled once.
  std::unordered_map<int32_t, FormatPlan> by_index;
  if (options_.rendering == Rendering::Formatted) {
    for (int32_t index : wb.xf_formats) by_index.emplace(index, FormatPlan{});
    compiled_.reserve(by_index.size() + 1);
    for (auto& [index, p] : by_index) {
      compiled_.push_back(compile_format(display_code(codes, index)));
      p.kind = FormatPlan::Kind::Compiled;
      p.date1904 = wb.date1904;
      p.compiled = &compiled_.back();
      p.compiled_direct = p.compiled->fast != FastPath::kNone && p.compiled->plain;
      p.text_as_stored = shows_text_as_is(*p.compiled);
    }
    compiled_.push_back(compile_format("General"));
    general_.kind = FormatPlan::Kind::Compiled;
    general_.compiled = &compiled_.back();
    general_.compiled_direct = true;
    general_.date1904 = wb.date1904;
  }
  // After the switch to the compiled General: its numbers are not the
  // built-in general rule's, so write_rk and write_double must not take them.
  mark_direct(general_);
  for (int32_t index : wb.xf_formats) {
    auto it = by_index.find(index);
    if (it == by_index.end()) {
      FormatPlan p = options_.rendering == Rendering::Exact
                         ? exact_plan(wb, codes, index)
                         : default_plan(wb, codes, options_, index);
      mark_fixed(p);
      mark_direct(p);
      it = by_index.emplace(index, p).first;
    }
    plans_.push_back(it->second);
  }
  plans_data_ = plans_.data();
  plan_count_ = plans_.size();
}

CellRenderer::~CellRenderer() = default;

std::string_view CellRenderer::number_text(const FormatPlan& plan, double v) {
  buf_.clear();
  switch (plan.kind) {
    case FormatPlan::Kind::General:
      break;
    case FormatPlan::Kind::Printf:
      append_printf(buf_, plan.pattern, v);
      return buf_.view();
    case FormatPlan::Kind::Strftime:
      if (append_date(buf_, plan.date1904 ? v + kDays1904 : v, plan.pattern)) return buf_.view();
      buf_.clear();
      break;
    case FormatPlan::Kind::Shortest:
      append_shortest(buf_, v);
      return buf_.view();
    case FormatPlan::Kind::Iso:
      if (append_iso(buf_, v, plan.date1904, plan.shows)) return buf_.view();
      append_shortest(buf_, v);
      return buf_.view();
    case FormatPlan::Kind::Elapsed:
      if (append_elapsed(buf_, v, plan.shows)) return buf_.view();
      append_shortest(buf_, v);
      return buf_.view();
    case FormatPlan::Kind::Compiled: {
      // The common codes straight into the cell buffer.
      static_assert(kFastRoom <= std::tuple_size_v<decltype(buf_.data)>);
      char* begin = buf_.data.data();
      if (char* end = write_number_fast(*plan.compiled, v, plan.date1904, begin)) {
        buf_.len = size_t(end - begin);
        return buf_.view();
      }
      long_text_.clear();
      render_number(*plan.compiled, v, plan.date1904, long_text_);
      return long_text_;
    }
  }
  append_general(buf_, v);
  return buf_.view();
}

// RK integers (the common number cell) without a double where the result
// is exact: an integer under the general rule is its digits; an integer
// divided by 100 is n / 100 correctly rounded, |n| < 2^29, so it lies
// within 2^-30 of the decimal n / 100, and for 2 to 6 decimals that
// decimal is the nearest, which is what printf prints.
char* CellRenderer::write_rk(const FormatPlan& plan, uint32_t rk, char* p) {
  const int32_t n = int32_t(rk) >> 2;
  const bool cents = (rk & 1) != 0;
  const bool negative = n < 0;
  const uint32_t m = negative ? uint32_t(0) - uint32_t(n) : uint32_t(n);
  if (!cents) {
    // The digits, and for a fixed pattern its point and zeros.
    p = write_scaled(p, negative, m, 0, plan.fixed > 0 ? plan.fixed : 0);
    if (plan.percent) *p++ = '%';
    return p;
  }
  if (plan.kind == FormatPlan::Kind::Shortest) return write_shortest_hundredths(n, p);
  const uint32_t whole = m / 100;
  const uint32_t hundredths = m - whole * 100;
  int precision = plan.fixed;  // NOLINT(bugprone-signed-char-misuse): a small count
  if (plan.kind == FormatPlan::Kind::General) {
    // |n| / 100 has the whole part m / 100 and its fraction exactly.
    const double a = double(m) / 100.0;
    const double fraction = a - double(whole);
    if (m < kHundredthsByDigits) {
      precision = fraction_places(fraction);
      if (precision < 2) return write_fixed(p, negative ? -a : a, precision);
    } else if (digit_after(fraction, 10000)) {
      precision = 5;
    } else {
      // From 20.48 on, where the fifth decimal of the double reads zero,
      // the fourth and third do too, and the first two are the cents'
      // own digits (checked for every RK value), which "%.1f" and "%.0f"
      // print as they stand.
      precision = hundredths % 10 != 0 ? 2 : hundredths != 0 ? 1 : 0;
      if (precision < 2) {
        *p = '-';
        p = write_u32(p + negative, whole);
        *p = '.';
        p[1] = char('0' + hundredths / 10);
        return p + ptrdiff_t(2) * precision;
      }
    }
  } else if (precision < 2 || precision > 6) {
    p = write_fixed(p, double(n) / 100.0, precision);
    if (plan.percent) *p++ = '%';
    return p;
  }
  // The whole part, the point, the two digits of the cents and zeros.
  *p = '-';
  p = write_u32(p + negative, whole);
  *p = '.';
  std::memcpy(p + 1, digits::pair(hundredths), 2);
  std::fill_n(p + 3, 4, '0');
  p += 3 + (precision - 2);
  if (plan.percent) *p++ = '%';
  return p;
}

// Kept out of write_rk, whose common paths then need fewer registers.
// The shortest round trip of n / 100 (|n| < 2^29) is n / 100 with its
// trailing zeros dropped (see append_shortest_hundredths), from 0.01 to
// below 10^7, where no exponent is written.
[[gnu::noinline]] char* CellRenderer::write_shortest_hundredths(int32_t n, char* p) {
  const bool negative = n < 0;
  const uint32_t m = negative ? uint32_t(0) - uint32_t(n) : uint32_t(n);
  const uint32_t whole = m / 100;
  const uint32_t hundredths = m - whole * 100;
  *p = '-';
  p = write_u32(p + negative, whole);
  if (hundredths == 0) return p;
  *p = '.';
  if (hundredths % 10 == 0) {
    p[1] = char('0' + hundredths / 10);
    return p + 2;
  }
  std::memcpy(p + 1, digits::pair(hundredths), 2);
  return p + 3;
}

// Numbers under the general rule or a fixed pattern, where write_fixed
// renders them exactly.
char* CellRenderer::write_double(const FormatPlan& plan, double v, char* p) {
  if (plan.kind == FormatPlan::Kind::General) return write_general(p, v);
  char* end = write_fixed(p, v, plan.fixed);
  if (end != nullptr && plan.percent) *end++ = '%';
  return end;
}

std::string_view CellRenderer::rk_text(const Cell& cell) {
  char* begin = buf_.data.data();
  buf_.len = size_t(write_rk(cell, begin) - begin);
  return buf_.view();
}

std::optional<std::string_view> CellRenderer::shown_text(const FormatPlan& plan,
                                                         std::optional<std::string_view> text) {
  // A format with a text section shows texts through it.
  if (!text || plan.kind != FormatPlan::Kind::Compiled || plan.compiled->general) return text;
  long_text_.clear();
  render_text(*plan.compiled, *text, long_text_);
  return std::string_view(long_text_);
}

std::optional<std::string_view> CellRenderer::text(const SheetValues& values, const Cell& cell) {
  switch (cell.kind) {
    case Cell::Kind::Rk:
    case Cell::Kind::Double:
      return number(values, cell);
    case Cell::Kind::SharedString:
      return shown_text(plan(cell.xf), sst_string(wb_, cell.value));
    case Cell::Kind::Text:
      if (values.texts == nullptr) return std::nullopt;
      return shown_text(plan(cell.xf), values.texts->at(cell.value));
    case Cell::Kind::Boolean:
      if (!options_.all) return std::nullopt;
      return std::string_view(cell.value != 0 ? "TRUE" : "FALSE");
    case Cell::Kind::Error:
      if (!options_.all) return std::nullopt;
      return error_text(cell.value);
  }
  return std::nullopt;
}

std::optional<std::string_view> CellRenderer::text_at(const Sheet& sheet, int32_t row,
                                                      int32_t col) {
  const Cell* cell = find_cell(sheet, row, col);
  if (cell == nullptr) return std::nullopt;
  return text(sheet, *cell);
}

std::optional<std::string_view> cell_text(const Workbook& wb, const Sheet& sheet, const Cell& cell,
                                          TextBuffer& buf, const RenderOptions& options) {
  CellRenderer r(wb, options);
  auto t = r.text(sheet, cell);
  if (!t) return std::nullopt;
  bool borrowed = cell.kind == Cell::Kind::SharedString || cell.kind == Cell::Kind::Text;
  if (borrowed && options.rendering != Rendering::Formatted) return t;
  buf.clear();
  buf.append(*t);
  return buf.view();
}

std::optional<std::string_view> cell_text(const Workbook& wb, const Sheet& sheet, int32_t row,
                                          int32_t col, TextBuffer& buf,
                                          const RenderOptions& options) {
  const Cell* cell = find_cell(sheet, row, col);
  if (cell == nullptr) return std::nullopt;
  return cell_text(wb, sheet, *cell, buf, options);
}

}  // namespace sheetdump
