#include "output/sql_session.hpp"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <set>

#include "output/grid_walk.hpp"

namespace sheetdump {

namespace {

constexpr size_t kNameBytes = 63;  // PostgreSQL's identifier length

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Digits at s[pos..pos+n) as a number, or -1.
int digits(std::string_view s, size_t pos, size_t n) {
  if (pos + n > s.size()) return -1;
  int v = 0;
  for (size_t i = pos; i < pos + n; ++i) {
    if (!is_digit(s[i])) return -1;
    v = v * 10 + (s[i] - '0');
  }
  return v;
}

bool valid_date(std::string_view s) {
  if (s.size() != 10 || s[4] != '-' || s[7] != '-') return false;
  int y = digits(s, 0, 4), m = digits(s, 5, 2), d = digits(s, 8, 2);
  if (y < 1 || m < 1 || m > 12 || d < 1) return false;
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return d <= kDays[m - 1] + (m == 2 && leap ? 1 : 0);
}

// HH:MM:SS with an optional fraction of 1 to 6 digits, a time of day.
bool valid_time(std::string_view s) {
  if (s.size() < 8 || s[2] != ':' || s[5] != ':') return false;
  int h = digits(s, 0, 2), m = digits(s, 3, 2), sec = digits(s, 6, 2);
  if (h < 0 || h > 23 || m < 0 || m > 59 || sec < 0 || sec > 59) return false;
  if (s.size() == 8) return true;
  if (s[8] != '.' || s.size() < 10 || s.size() > 15) return false;
  for (size_t i = 9; i < s.size(); ++i)
    if (!is_digit(s[i])) return false;
  return true;
}

// -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)? : `whole` tells whether
// only the integer part is there.
bool number_syntax(std::string_view s, bool& whole) {
  size_t i = 0;
  if (i < s.size() && s[i] == '-') ++i;
  size_t start = i;
  while (i < s.size() && is_digit(s[i])) ++i;
  if (i == start || (s[start] == '0' && i - start > 1)) return false;
  whole = i == s.size();
  if (i < s.size() && s[i] == '.') {
    size_t f = ++i;
    while (i < s.size() && is_digit(s[i])) ++i;
    if (i == f) return false;
  }
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    size_t e = i;
    while (i < s.size() && is_digit(s[i])) ++i;
    if (i == e) return false;
  }
  return i == s.size();
}

uint32_t bit(ValueClass c) { return 1u << static_cast<uint32_t>(c); }

size_t clip_utf8(std::string_view s, size_t max) {
  if (s.size() <= max) return s.size();
  size_t n = max;
  while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
  return n;
}

// `name` with `suffix`, cut so that the whole stays within kNameBytes.
std::string with_suffix(std::string_view name, const std::string& suffix) {
  size_t room = kNameBytes > suffix.size() ? kNameBytes - suffix.size() : 0;
  return std::string(name.substr(0, clip_utf8(name, room))) + suffix;
}

}  // namespace

std::string_view sql_type_name(SqlType type) {
  switch (type) {
    case SqlType::Integer:
      return "INTEGER";
    case SqlType::BigInt:
      return "BIGINT";
    case SqlType::Double:
      return "DOUBLE PRECISION";
    case SqlType::Date:
      return "DATE";
    case SqlType::Time:
      return "TIME";
    case SqlType::Timestamp:
      return "TIMESTAMP";
    case SqlType::Boolean:
      return "BOOLEAN";
    case SqlType::Text:
      break;
  }
  return "TEXT";
}

ValueClass classify_value(std::string_view text, bool number_cell, bool boolean_cell) {
  if (boolean_cell)
    return text == "TRUE" || text == "FALSE" ? ValueClass::Boolean : ValueClass::Other;
  bool whole = false;
  if (number_syntax(text, whole)) {
    if (whole) {
      int64_t v = 0;
      auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
      if (ec != std::errc() || end != text.data() + text.size()) return ValueClass::Other;
      return v >= INT32_MIN && v <= INT32_MAX ? ValueClass::Int32 : ValueClass::Int64;
    }
    std::string copy(text);
    errno = 0;
    double v = std::strtod(copy.c_str(), nullptr);
    // PostgreSQL refuses what overflows or underflows to zero.
    if (errno == ERANGE || !std::isfinite(v)) return ValueClass::Other;
    return ValueClass::Double;
  }
  if (number_cell) {
    if (valid_date(text)) return ValueClass::Date;
    if (valid_time(text)) return ValueClass::Time;
    if (text.size() > 11 && text[10] == ' ' && valid_date(text.substr(0, 10)) &&
        valid_time(text.substr(11)))
      return ValueClass::Timestamp;
  }
  return ValueClass::Other;
}

void ColumnGuess::add(ValueClass c, std::string_view text) {
  seen |= bit(c);
  if (c == ValueClass::Int64) {
    int64_t v = 0;
    std::from_chars(text.data(), text.data() + text.size(), v);
    if (v > (int64_t(1) << 53) || v < -(int64_t(1) << 53)) beyond_double = true;
  }
}

SqlType ColumnGuess::type() const {
  const uint32_t ints = bit(ValueClass::Int32) | bit(ValueClass::Int64);
  if (seen == 0 || (seen & bit(ValueClass::Other))) return SqlType::Text;
  if ((seen & ~ints) == 0)
    return seen & bit(ValueClass::Int64) ? SqlType::BigInt : SqlType::Integer;
  if ((seen & ~(ints | bit(ValueClass::Double))) == 0)
    return beyond_double ? SqlType::Text : SqlType::Double;
  if (seen == bit(ValueClass::Date)) return SqlType::Date;
  if (seen == bit(ValueClass::Time)) return SqlType::Time;
  if (seen == bit(ValueClass::Timestamp)) return SqlType::Timestamp;
  if (seen == bit(ValueClass::Boolean)) return SqlType::Boolean;
  return SqlType::Text;
}

bool column_fits(SqlType existing, const ColumnGuess& incoming) {
  if (incoming.empty() || existing == SqlType::Text) return true;
  SqlType t = incoming.type();
  if (t == existing) return true;
  if (existing == SqlType::BigInt) return t == SqlType::Integer;
  if (existing == SqlType::Double)
    return (t == SqlType::Integer || t == SqlType::BigInt) && !incoming.beyond_double;
  return false;
}

std::string column_letter(int32_t col) {
  std::string s;
  for (int64_t n = int64_t(col) + 1; n > 0; n = (n - 1) / 26)
    s.insert(s.begin(), char('A' + (n - 1) % 26));
  return s;
}

std::string name_key(std::string_view name) {
  std::string key(name.substr(0, clip_utf8(name, kNameBytes)));
  for (char& c : key)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return key;
}

std::vector<std::string> repair_column_names(const std::vector<std::string>& names) {
  std::vector<std::string> out;
  std::set<std::string> first_keys, taken;
  for (size_t c = 0; c < names.size(); ++c) {
    out.push_back(names[c].empty() ? column_letter(int32_t(c)) : names[c]);
    first_keys.insert(name_key(out.back()));
  }
  for (std::string& name : out) {
    if (taken.insert(name_key(name)).second) continue;
    // A suffixed name must not take a name that a later column has.
    for (int n = 2;; ++n) {
      std::string candidate = with_suffix(name, "_" + std::to_string(n));
      std::string key = name_key(candidate);
      if (first_keys.count(key) || taken.count(key)) continue;
      taken.insert(key);
      name = std::move(candidate);
      break;
    }
  }
  return out;
}

void SqlSession::start(OutputStream& out) {
  if (!create_ || style_ != QUOTE_POSTGRES) return;
  out.write_line(
      "SET client_encoding = 'UTF8';\n"
      "SET standard_conforming_strings = off;\n"
      "SET escape_string_warning = off;\n");
}

void SqlSession::begin_workbook(OutputStream& out) {
  sheet_number_ = 0;
  if (create_) out.write_line("BEGIN;\n");
}

void SqlSession::end_workbook(OutputStream& out) {
  if (create_) out.write_line("COMMIT;\n");
}

void SqlSession::write_sheet(CellRenderer& render, const Sheet& sheet, OutputStream& out,
                             CellRenderer* helper) {
  ++sheet_number_;
  if (!create_) {
    write_sql_sheet(render, sheet, style_, out, helper);
    return;
  }
  // A table needs a column; a sheet without one has no cells either.
  if (sheet.rows < 1 || sheet.cols < 1) return;

  std::vector<std::string> names(size_t(sheet.cols));
  std::vector<ColumnGuess> guesses(size_t(sheet.cols));
  GridWalk walk(sheet);
  for (int32_t r = 0; r < sheet.rows; ++r)
    for (int32_t c = 0; c < sheet.cols; ++c) {
      const Cell* cell = walk.at(r, c);
      if (!cell) continue;
      auto text = render.text(sheet, *cell);
      if (!text) continue;
      if (r == 0) {
        names[size_t(c)] = *text;
      } else {
        ColumnGuess& g = guesses[size_t(c)];
        g.add(classify_value(*text, cell->is_number(), cell->kind == Cell::Kind::Boolean), *text);
      }
    }
  names = repair_column_names(names);
  std::vector<std::string> column_keys;
  column_keys.reserve(names.size());
  for (const auto& n : names) column_keys.push_back(name_key(n));

  std::string table = sheet.name && !sheet.name->empty() ? *sheet.name
                                                         : "Sheet" + std::to_string(sheet_number_);
  // SQLite keeps names that begin with sqlite_ for itself.
  if (name_key(table).rfind("sqlite_", 0) == 0) table.insert(0, "_");
  // The same name and columns as a table of this run: its rows go there when
  // they fit its types, else the sheet gets a table of its own.
  const Table* reuse = nullptr;
  std::string base = table;
  for (int n = 2;; ++n) {
    const std::string key = name_key(table);
    const Table* same = nullptr;
    for (const Table& t : tables_)
      if (t.key == key) same = &t;
    if (!same) break;
    bool fits = same->column_keys == column_keys;
    for (size_t c = 0; fits && c < guesses.size(); ++c)
      fits = column_fits(same->types[c], guesses[c]);
    if (fits) {
      reuse = same;
      break;
    }
    table = with_suffix(base, "_" + std::to_string(n));
  }

  if (!reuse) {
    Table t;
    t.key = name_key(table);
    t.column_keys = column_keys;
    std::string create = "CREATE TABLE ";
    append_identifier(create, table);
    create += " (";
    for (size_t c = 0; c < names.size(); ++c) {
      if (c > 0) create += ", ";
      append_identifier(create, names[c]);
      t.types.push_back(guesses[c].type());
      create += ' ';
      create += sql_type_name(t.types.back());
    }
    create += ");\n";
    out.write_line(create);
    tables_.push_back(std::move(t));
  }

  if (sheet.rows < 2) return;
  std::string head = "INSERT INTO ";
  append_identifier(head, table);
  head += " (";
  for (size_t c = 0; c < names.size(); ++c) {
    if (c > 0) head += ',';
    append_identifier(head, names[c]);
  }
  head += ") values (";
  write_sql_rows(render, sheet, head, style_, out, helper);
}

}  // namespace sheetdump
