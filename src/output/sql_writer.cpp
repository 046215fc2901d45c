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

}  // namespace

std::string statement_head(CellRenderer& render, const std::optional<std::string>& name,
                           const SheetValues& values, int32_t cols, const Cell* begin,
                           const Cell* end) {
  std::string head = "INSERT INTO ";
  if (name)
    append_identifier(head, *name);
  else
    head += "?TABLE?";
  head += " (";
  GridWalk walk(begin, end);
  for (int32_t c = 0; c < cols; ++c) {
    if (c > 0) head += ',';
    if (const Cell* cell = walk.at(0, c))
      if (auto text = render.text(values, *cell)) append_identifier(head, *text);
  }
  head += ") values (";
  return head;
}

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
  const Cell* const cells = sheet.cells.data();
  write_sql_rows(
      render, sheet,
      statement_head(render, sheet.name, sheet, sheet.cols, cells, cells + sheet.cells.size()),
      style, out, helper);
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

// `count` NULL values, each after a comma but for one at column 0.
void write_nulls(OutputStream& out, int32_t from, int32_t to) {
  for (int32_t c = from; c < to; ++c) out.write(c > 0 ? std::string_view(",NULL") : "NULL");
}

}  // namespace

SqlRowWriter::SqlRowWriter(CellRenderer& render, const SheetValues& values, int32_t cols,
                           std::string head, QuoteStyle style)
    : render_(render),
      values_(values),
      cols_(cols),
      head_(std::move(head)),
      style_(style),
      escape_(render.workbook().sst.count(), kUnknown) {}

void SqlRowWriter::write_shared(OutputStream& out, uint32_t index, std::string_view text) {
  uint8_t& s = escape_[index];
  if (s == kUnknown) {
    const bool quote = std::memchr(text.data(), '\'', text.size()) != nullptr;
    const bool backslash = style_ == QUOTE_POSTGRES &&
                           std::memchr(text.data(), '\\', text.size()) != nullptr;
    s = quote || backslash ? kEscaped : kPlain;
  }
  if (s == kEscaped || text.size() + 2 > OutputStream::kMaxRoom)
    return write_sql_value(out, text, style_);
  char* p = out.room(text.size() + 2);
  *p = '\'';
  std::memcpy(p + 1, text.data(), text.size());
  p[text.size() + 1] = '\'';
  out.commit(p + text.size() + 2);
}

const Cell* SqlRowWriter::write(const Cell* next, const Cell* const last, int32_t first,
                                int32_t stop, OutputStream& out) {
  CellRenderer& render = render_;
  const Workbook& wb = render.workbook();
  while (next != last && next->row < first) ++next;
  for (int32_t r = first; r < stop; ++r) {
    out.write(head_);
    int32_t col = 0;  // the next position to fill
    for (; next != last && next->row == r; ++next) {
      const Cell& cell = *next;
      if (cell.col >= cols_) continue;
      write_nulls(out, col, cell.col);
      col = cell.col + 1;
      // The comma, the quote, the number and its closing quote in one room.
      char* p = out.room(CellRenderer::kNumberRoom + 3);
      *p = ',';
      p += cell.col > 0;
      *p = '\'';
      if (char* end = render.write_number(values_, cell, p + 1)) {
        *end = '\'';
        out.commit(end + 1);
        continue;
      }
      out.commit(p);  // the comma; the cell takes the general path
      if (cell.kind == Cell::Kind::SharedString && cell.value < wb.sst.count()) {
        const std::string_view text = wb.sst.text(cell.value);
        if (render.shows_as_stored(cell.xf, text.size())) {
          write_shared(out, cell.value, text);
          continue;
        }
      }
      std::optional<std::string_view> text = render.text(values_, cell);
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
        write_sql_value(out, *text, style_);
      }
    }
    write_nulls(out, col, cols_);
    out.write(");\n");
  }
  return next;
}

void write_sql_rows(CellRenderer& render, const Sheet& sheet, std::string_view head,
                    QuoteStyle style, OutputStream& out, CellRenderer* helper) {
  SqlRowWriter mine(render, sheet, sheet.cols, std::string(head), style);
  std::optional<SqlRowWriter> other;
  if (helper != nullptr) other.emplace(*helper, sheet, sheet.cols, std::string(head), style);
  // Row 0 gave the column names; its cells are passed over.
  write_rows_in_two(mine, other ? &*other : nullptr, sheet, 1, out);
}

void write_sql(const Workbook& wb, const char* date_pattern, QuoteStyle style, OutputStream& out,
               RenderOptions options) {
  options.date_pattern = date_pattern;
  CellRenderer render(wb, options);
  for (const Sheet& sheet : wb.sheets) write_sql_sheet(render, sheet, style, out);
}

}  // namespace sheetdump
