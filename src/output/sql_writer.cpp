#include "output/sql_writer.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

#include "output/grid_walk.hpp"
#include "output/rows_in_two.hpp"
#include "output/sql_reserved.hpp"

namespace sheetdump {

namespace {

bool is_letter(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool is_plain_identifier(std::string_view name) {
  if (name.empty()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    bool ok = is_letter(c) || c == '_' || c >= 0x80 ||
              (i > 0 && ((c >= '0' && c <= '9') || c == '$'));
    if (!ok) return false;
  }
  return true;
}

std::string statement_head(CellRenderer& render, const Sheet& sheet) {
  std::string head = "INSERT INTO ";
  if (sheet.name)
    append_identifier(head, *sheet.name);
  else
    head += "?TABLE?";
  head += " (";
  GridWalk walk(sheet);
  for (int32_t c = 0; c < sheet.cols; ++c) {
    if (c > 0) head += ',';
    if (const Cell* cell = walk.at(0, c))
      if (auto text = render.text(sheet, *cell)) append_identifier(head, *text);
  }
  head += ") values (";
  return head;
}

}  // namespace

void append_identifier(std::string& out, std::string_view name) {
  if (name.empty() || (is_plain_identifier(name) && !is_reserved_word(name))) {
    out += name;
    return;
  }
  out += '"';
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

void append_sql_value(std::string& out, std::string_view text, QuoteStyle style) {
  out += '\'';
  for (char c : text) {
    if (c == '\'')
      out += style == QUOTE_POSTGRES ? '\\' : '\'';
    else if (c == '\\' && style == QUOTE_POSTGRES)
      out += '\\';
    out += c;
  }
  out += '\'';
}

void write_sql_sheet(CellRenderer& render, const Sheet& sheet, QuoteStyle style, OutputStream& out,
                     CellRenderer* helper) {
  if (sheet.rows < 2) return;
  write_sql_rows(render, sheet, statement_head(render, sheet), style, out, helper);
}

namespace {

// One value between single quotes, escaped for the quote style, straight
// into the stream: the runs between quotes (and backslashes) in one copy.
void write_sql_value(OutputStream& out, std::string_view text, QuoteStyle style) {
  out.put('\'');
  const bool backslashes = style == QUOTE_POSTGRES;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\'' || (backslashes && c == '\\')) {
      out.write(text.substr(start, i - start));
      out.put(backslashes ? '\\' : '\'');
      start = i;  // the character itself opens the next run
    }
  }
  out.write(text.substr(start));
  out.put('\'');
}

// Whether each shared string needs escaping for the quote style, learnt at
// its first use in a sheet, so that a string used a thousand times is
// searched once and then copied whole.
class EscapeMemo {
 public:
  EscapeMemo(size_t count, QuoteStyle style) : state_(count, kUnknown), style_(style) {}
  void write(OutputStream& out, uint32_t index, std::string_view text) {
    uint8_t& s = state_[index];
    if (s == kUnknown) s = needs_escape(text) ? kEscaped : kPlain;
    if (s == kEscaped || text.size() + 2 > OutputStream::kMaxRoom)
      return write_sql_value(out, text, style_);
    char* p = out.room(text.size() + 2);
    *p = '\'';
    std::memcpy(p + 1, text.data(), text.size());
    p[text.size() + 1] = '\'';
    out.commit(p + text.size() + 2);
  }

 private:
  bool needs_escape(std::string_view text) const {
    if (std::memchr(text.data(), '\'', text.size()) != nullptr) return true;
    return style_ == QUOTE_POSTGRES && std::memchr(text.data(), '\\', text.size()) != nullptr;
  }
  static constexpr uint8_t kUnknown = 0, kPlain = 1, kEscaped = 2;
  std::vector<uint8_t> state_;
  QuoteStyle style_;
};

// `count` NULL values, each after a comma but for one at column 0.
void write_nulls(OutputStream& out, int32_t from, int32_t to) {
  for (int32_t c = from; c < to; ++c) out.write(c > 0 ? std::string_view(",NULL") : "NULL");
}

// Room set aside per cell for a second thread's statements.
constexpr size_t kBytesPerCell = 32;

// The statements of rows `first` to before `stop`.
void write_sql_row_range(CellRenderer& render, const Sheet& sheet, std::string_view head,
                         QuoteStyle style, int32_t first, int32_t stop, OutputStream& out) {
  const Workbook& wb = render.workbook();
  EscapeMemo memo(wb.sst.count(), style);
  const Cell* const last = sheet.cells.data() + sheet.cells.size();
  const Cell* next = std::lower_bound(sheet.cells.data(), last, first,
                                      [](const Cell& c, int32_t r) { return c.row < r; });
  for (int32_t r = first; r < stop; ++r) {
    out.write(head);
    int32_t col = 0;  // the next position to fill
    for (; next != last && next->row == r; ++next) {
      const Cell& cell = *next;
      if (cell.col >= sheet.cols) continue;
      write_nulls(out, col, cell.col);
      col = cell.col + 1;
      // The comma, the quote, the number and its closing quote in one room.
      char* p = out.room(CellRenderer::kNumberRoom + 3);
      *p = ',';
      p += cell.col > 0;
      *p = '\'';
      if (char* end = render.write_number(sheet, cell, p + 1)) {
        *end = '\'';
        out.commit(end + 1);
        continue;
      }
      out.commit(p);  // the comma; the cell takes the general path
      if (cell.kind == Cell::Kind::SharedString && cell.value < wb.sst.count()) {
        const std::string_view text = wb.sst.text(cell.value);
        if (render.shows_as_stored(cell.xf, text.size())) {
          memo.write(out, cell.value, text);
          continue;
        }
      }
      std::optional<std::string_view> text = render.text(sheet, cell);
      if (!text) {
        out.write("NULL");
      } else if (cell.is_number() && (render.plan(cell.xf).kind != FormatPlan::Kind::Compiled ||
                                      render.plan(cell.xf).compiled->plain)) {
        // Number texts of the built-in patterns, the general rule and the
        // exact rendering hold no quote and no backslash.
        out.put('\'');
        out.write(*text);
        out.put('\'');
      } else {
        write_sql_value(out, *text, style);
      }
    }
    write_nulls(out, col, sheet.cols);
    out.write(");\n");
  }
}

}  // namespace

void write_sql_rows(CellRenderer& render, const Sheet& sheet, std::string_view head,
                    QuoteStyle style, OutputStream& out, CellRenderer* helper) {
  // Row 0 gave the column names; its cells are passed over.
  write_rows_in_two(render, helper, sheet, 1, kBytesPerCell, out,
                    [&](CellRenderer& r, int32_t from, int32_t to, OutputStream& o) {
                      write_sql_row_range(r, sheet, head, style, from, to, o);
                    });
}

void write_sql(const Workbook& wb, const char* date_pattern, QuoteStyle style, OutputStream& out,
               RenderOptions options) {
  options.date_pattern = date_pattern;
  CellRenderer render(wb, options);
  for (const Sheet& sheet : wb.sheets) write_sql_sheet(render, sheet, style, out);
}

}  // namespace sheetdump
