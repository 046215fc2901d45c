#include "output/delimited_writer.hpp"

#include <algorithm>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace sheetdump {

namespace {

// A CSV field: every double quote doubled.
void write_csv_quoted(OutputStream& out, std::string_view text) {
  for (;;) {
    const void* q = std::memchr(text.data(), '"', text.size());
    if (q == nullptr) {
      out.write(text);
      return;
    }
    size_t n = size_t(static_cast<const char*>(q) - text.data()) + 1;
    out.write(text.substr(0, n));
    out.put('"');
    text.remove_prefix(n);
  }
}

// Whether each shared string holds a double quote, learnt at its first use
// in a sheet, so that a string used a thousand times is searched once.
class QuoteMemo {
 public:
  explicit QuoteMemo(size_t count) : state_(count, kUnknown) {}
  bool plain(uint32_t index, std::string_view text) {
    uint8_t& s = state_[index];
    if (s == kUnknown) s = std::memchr(text.data(), '"', text.size()) ? kQuoted : kPlain;
    return s == kPlain;
  }
  void write(OutputStream& out, uint32_t index, std::string_view text) {
    if (plain(index, text))
      out.write(text);
    else
      write_csv_quoted(out, text);
  }

 private:
  static constexpr uint8_t kUnknown = 0, kPlain = 1, kQuoted = 2;
  std::vector<uint8_t> state_;
};

// The punctuation of one delimited format.
struct Csv {
  static constexpr std::string_view kBefore = "\"", kSeparator = "\",\"", kAfter = "\"";
  static constexpr bool kQuoted = true;
};
struct Tab {
  static constexpr std::string_view kBefore = "", kSeparator = "\t", kAfter = "";
  static constexpr bool kQuoted = false;
};

template <class F>
void write_separators(OutputStream& out, int32_t count) {
  for (int32_t i = 0; i < count; ++i) out.write(F::kSeparator);
}

// Writes the rows of a sheet from `first` to before `stop`, one line at a
// time: the opening text, the fields with the separator between them, the
// closing text and a line feed. The cells are visited in their stored
// order (by row, then column, all inside the grid), so an empty position
// costs only its separator; numbers are written straight into the output
// buffer where that is exact.
// kStringsAsStored: no XF shows shared strings otherwise (only format codes
// under --formatted may), so the loop need not ask each cell's plan.
template <class F, bool kStringsAsStored>
void write_rows(CellRenderer& render, const Sheet& sheet, int32_t first, int32_t stop,
                OutputStream& out) {
  const Workbook& wb = render.workbook();
  QuoteMemo memo(F::kQuoted ? wb.sst.count() : 0);
  const Cell* const last = sheet.cells.data() + sheet.cells.size();
  const Cell* next = std::lower_bound(sheet.cells.data(), last, first,
                                      [](const Cell& c, int32_t row) { return c.row < row; });
  constexpr size_t kSep = F::kSeparator.size();
  // Shared strings up to this long are copied in with their separator.
  constexpr size_t kShortText = 4096;
  static_assert(kSep + kShortText <= OutputStream::kMaxRoom);
  const size_t string_count = wb.sst.count();
  // Read once: the compiler cannot tell that writing the output leaves them.
  const int32_t cols = sheet.cols;
  for (int32_t r = first; r < stop; ++r) {
    out.write(F::kBefore);
    int32_t col = 0;  // the position the output stands in
    for (; next != last && next->row == r; ++next) {
      const Cell& cell = *next;
      if (cell.col >= cols) continue;
      int32_t gap = int32_t(cell.col) - col;
      col = cell.col;
      if (gap <= 1 && cell.kind == Cell::Kind::SharedString &&
          (kStringsAsStored || render.text_as_stored(cell.xf)) && cell.value < string_count) {
        const std::string_view text = wb.sst.text(cell.value);
        if (text.size() <= kShortText && (!F::kQuoted || memo.plain(cell.value, text))) {
          char* p = out.room(kSep + kShortText);
          std::memcpy(p, F::kSeparator.data(), kSep);
          p += gap == 1 ? kSep : 0;
          std::memcpy(p, text.data(), text.size());
          out.commit(p + text.size());
          continue;
        }
      }
      if (gap <= 1) {
        char* p = out.room(kSep + CellRenderer::kNumberRoom);
        std::memcpy(p, F::kSeparator.data(), kSep);
        p += gap == 1 ? kSep : 0;
        if (char* end = render.write_number(sheet, cell, p)) {
          out.commit(end);
          continue;
        }
        out.commit(p);  // the separator; the cell takes the general path
        gap = 0;
      }
      write_separators<F>(out, gap);
      if (cell.is_number() &&
          (!F::kQuoted || render.plan(cell.xf).kind != FormatPlan::Kind::Compiled ||
           render.plan(cell.xf).compiled->plain)) {
        // Number texts of the built-in patterns, the general rule and the
        // exact rendering never hold a quote; a format code's may.
        out.write(render.number(sheet, cell));
        continue;
      }
      if (cell.kind == Cell::Kind::SharedString && cell.value < wb.sst.count() &&
          render.plan(cell.xf).kind != FormatPlan::Kind::Compiled) {
        std::string_view text = *wb.sst.at(cell.value);
        if (F::kQuoted)
          memo.write(out, cell.value, text);
        else
          out.write(text);
        continue;
      }
      if (auto text = render.text(sheet, cell)) {
        if (F::kQuoted)
          write_csv_quoted(out, *text);
        else
          out.write(*text);
      }
    }
    write_separators<F>(out, cols - 1 - col);
    char* p = out.room(F::kAfter.size() + 1);
    std::memcpy(p, F::kAfter.data(), F::kAfter.size());
    p[F::kAfter.size()] = '\n';
    out.commit(p + F::kAfter.size() + 1);
  }
}

template <class F>
void write_row_range(CellRenderer& render, const Sheet& sheet, int32_t first, int32_t stop,
                     OutputStream& out) {
  if (render.strings_as_stored())
    write_rows<F, true>(render, sheet, first, stop, out);
  else
    write_rows<F, false>(render, sheet, first, stop, out);
}

// With a helper, the rows from the middle cell's on are written by it on a
// thread of its own into memory while this thread writes the rows before
// them to `out`; then that text follows. Where no thread can be started,
// this thread writes the whole sheet: nothing of it has reached `out` then.
template <class F>
void write_delimited(CellRenderer& render, const Sheet& sheet, OutputStream& out,
                     CellRenderer* helper) {
  if (sheet.rows <= 0) return;
  const int32_t split = helper == nullptr || sheet.cells.empty()
                            ? 0
                            : sheet.cells[sheet.cells.size() / 2].row;
  if (split <= 0) {
    write_row_range<F>(render, sheet, 0, sheet.rows, out);
    return;
  }
  // Room for the usual text of the helper's cells, so that it seldom grows
  // by copies; what is not written costs address space only.
  std::string text;
  text.reserve((sheet.cells.size() - sheet.cells.size() / 2) * 24);
  try {
    std::thread other([&] {
      OutputStream part(text);
      write_row_range<F>(*helper, sheet, split, sheet.rows, part);
      part.flush();
    });
    write_row_range<F>(render, sheet, 0, split, out);
    other.join();
  } catch (const std::system_error&) {
    write_row_range<F>(render, sheet, 0, sheet.rows, out);
    return;
  }
  out.write_block(text);
}

}  // namespace

void write_csv_sheet(CellRenderer& render, const Sheet& sheet, OutputStream& out,
                     CellRenderer* helper) {
  write_delimited<Csv>(render, sheet, out, helper);
}

void write_tab_sheet(CellRenderer& render, const Sheet& sheet, OutputStream& out,
                     CellRenderer* helper) {
  write_delimited<Tab>(render, sheet, out, helper);
}

void write_csv(const Workbook& wb, OutputStream& out, const RenderOptions& options) {
  CellRenderer render(wb, options);
  for (const Sheet& sheet : wb.sheets) write_csv_sheet(render, sheet, out);
}

void write_tab(const Workbook& wb, OutputStream& out, const RenderOptions& options) {
  CellRenderer render(wb, options);
  for (const Sheet& sheet : wb.sheets) write_tab_sheet(render, sheet, out);
}

}  // namespace sheetdump
