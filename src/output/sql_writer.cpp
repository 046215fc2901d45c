#include "output/sql_writer.hpp"

#include "output/grid_walk.hpp"
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

void write_sql_sheet(CellRenderer& render, const Sheet& sheet, QuoteStyle style,
                     OutputStream& out) {
  if (sheet.rows < 2) return;
  write_sql_rows(render, sheet, statement_head(render, sheet), style, out);
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

}  // namespace

void write_sql_rows(CellRenderer& render, const Sheet& sheet, std::string_view head,
                    QuoteStyle style, OutputStream& out) {
  GridWalk walk(sheet);
  // Row 0 gave the column names; its cells are passed over.
  for (int32_t c = 0; c < sheet.cols; ++c) walk.at(0, c);
  for (int32_t r = 1; r < sheet.rows; ++r) {
    out.write(head);
    for (int32_t c = 0; c < sheet.cols; ++c) {
      if (c > 0) out.put(',');
      const Cell* cell = walk.at(r, c);
      std::optional<std::string_view> text;
      if (cell != nullptr) text = render.text(sheet, *cell);
      if (!text) {
        out.write("NULL");
      } else if (cell->is_number() && render.plan(cell->xf).kind != FormatPlan::Kind::Compiled) {
        // Number texts of the built-in patterns, the general rule and the
        // exact rendering hold no quote and no backslash.
        out.put('\'');
        out.write(*text);
        out.put('\'');
      } else {
        write_sql_value(out, *text, style);
      }
    }
    out.write(");\n");
  }
}

void write_sql(const Workbook& wb, const char* date_pattern, QuoteStyle style, OutputStream& out,
               RenderOptions options) {
  options.date_pattern = date_pattern;
  CellRenderer render(wb, options);
  for (const Sheet& sheet : wb.sheets) write_sql_sheet(render, sheet, style, out);
}

}  // namespace sheetdump
