// The rows of a sheet as CSV or TAB-delimited lines, written straight into
// an output stream: shared by the writer of a loaded sheet and the writer
// that renders a sheet's rows while it is still being loaded.
#pragma once

#include <cstring>
#include <string_view>
#include <vector>

#include "biff/workbook.hpp"
#include "format/cell_text.hpp"
#include "output/output_stream.hpp"

namespace sheetdump::delimited {

// A CSV field: every double quote doubled.
inline void write_csv_quoted(OutputStream& out, std::string_view text) {
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

// Writes rows `first` to before `stop` of a sheet, whose cells of those
// rows start at `next` and lie before `last`, one line at a time: the opening text, the fields with the separator between them, the
// closing text and a line feed. The cells are visited in their stored
// order (by row, then column, all inside the grid), so an empty position
// costs only its separator; numbers are written straight into the output
// buffer where that is exact.
// kStringsAsStored: no XF shows shared strings otherwise (only format codes
// under --formatted may), so the loop need not ask each cell's plan.
// Returns the cell after those rows'.
template <class F, bool kStringsAsStored>
const Cell* write_rows(CellRenderer& render, const SheetValues& values, int32_t cols,
                       const Cell* next, const Cell* const last, int32_t first, int32_t stop,
                       QuoteMemo& memo, OutputStream& out) {
  const Workbook& wb = render.workbook();
  constexpr size_t kSep = F::kSeparator.size();
  // Shared strings up to this long are copied in with their separator.
  constexpr size_t kShortText = 4096;
  static_assert(kSep + kShortText <= OutputStream::kMaxRoom);
  const size_t string_count = wb.sst.count();
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
        if (char* end = render.write_number(values, cell, p)) {
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
        out.write(render.number(values, cell));
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
      if (auto text = render.text(values, cell)) {
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
  return next;
}

// Writes runs of rows of one sheet in one delimited format, with what it
// learns of the shared strings kept from run to run.
template <class F>
class RowWriter {
 public:
  RowWriter(CellRenderer& render, const SheetValues& values, int32_t cols)
      : render_(render),
        values_(values),
        cols_(cols),
        memo_(F::kQuoted ? render.workbook().sst.count() : 0) {}

  // Rows `first` to before `stop`, whose cells start at `next` and lie
  // before `last`; returns the cell after them.
  const Cell* write(const Cell* next, const Cell* last, int32_t first, int32_t stop,
                    OutputStream& out) {
    if (render_.strings_as_stored())
      return write_rows<F, true>(render_, values_, cols_, next, last, first, stop, memo_, out);
    return write_rows<F, false>(render_, values_, cols_, next, last, first, stop, memo_, out);
  }

 private:
  CellRenderer& render_;
  SheetValues values_;
  int32_t cols_;
  QuoteMemo memo_;
};

}  // namespace sheetdump::delimited
