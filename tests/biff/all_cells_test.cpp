// Reading every cell (--all): inline and rich texts, booleans, errors,
// formula results with their STRING records, code pages, the 1904 date
// system and the workbook's own formats, in BIFF5 and BIFF8 layouts; and
// that the default reads none of it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/utf8.hpp"
#include "biff/workbook_loader.hpp"
#include "format/render_options.hpp"
#include "output/delimited_writer.hpp"
#include "output/sql_writer.hpp"
#include "support/xls_writer.hpp"

namespace sheetdump {
namespace {

using xlsw::Bytes;

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes head(uint16_t row, uint16_t col, uint16_t xf = 0) {
  Bytes d;
  xlsw::put16(d, row);
  xlsw::put16(d, col);
  xlsw::put16(d, xf);
  return d;
}
Bytes chars(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A BIFF8 unicode string: 16-bit count, flags, characters.
Bytes ustr8(const std::string& s) {
  Bytes d;
  xlsw::put16(d, uint16_t(s.size()));
  xlsw::put8(d, 0);
  return d + chars(s);
}
Bytes ustr16(const std::u16string& s) {
  Bytes d;
  xlsw::put16(d, uint16_t(s.size()));
  xlsw::put8(d, 1);
  for (char16_t c : s) xlsw::put16(d, uint16_t(c));
  return d;
}

constexpr uint16_t kLabel = 0x0204, kRString = 0x00D6, kBoolErr = 0x0205, kFormula = 0x0006,
                   kString = 0x0207, kContinue = 0x003C, kCodePage = 0x0042, kDateMode = 0x0022,
                   kShrFmla = 0x04BC, kBlank = 0x0201;

Bytes boolerr(uint16_t row, uint16_t col, uint8_t value, bool error) {
  return xlsw::record(kBoolErr, head(row, col) + Bytes{value, uint8_t(error ? 1 : 0)});
}

// A FORMULA whose cached result is not a number: type 0 string, 1 boolean,
// 2 error, 3 empty string; `code` the boolean or error value.
Bytes formula_result(uint16_t row, uint16_t col, uint8_t type, uint8_t code = 0) {
  Bytes d = head(row, col) + Bytes{type, 0, code, 0, 0, 0, 0xFF, 0xFF};
  xlsw::put16(d, 0);  // flags
  xlsw::put32(d, 0);  // chain
  xlsw::put16(d, 3);  // expression: ptgInt 1
  return xlsw::record(kFormula, d + Bytes{0x1E, 1, 0});
}

Bytes u16rec(uint16_t id, uint16_t v) {
  Bytes d;
  xlsw::put16(d, v);
  return xlsw::record(id, d);
}

struct Reading {
  bool all = true;
  Rendering rendering = Rendering::Default;
  bool sql = false;
};

std::string convert(const Bytes& file, const Reading& run = {}) {
  LoadOptions load;
  load.all = run.all;
  Workbook wb = load_workbook(Bytes(file), load);
  RenderOptions render;
  render.all = run.all;
  render.rendering = run.rendering;
  char* data = nullptr;
  size_t size = 0;
  std::FILE* mem = open_memstream(&data, &size);
  {
    OutputStream out(mem);
    if (run.sql)
      write_sql(wb, nullptr, QUOTE_ORACLE, out, render);
    else
      write_csv(wb, out, render);
    out.flush();
  }
  std::fclose(mem);
  std::string s(data, size);
  std::free(data);
  return s;
}

// A BIFF8 workbook with one sheet of `rows` x `cols` holding `cells`.
Bytes book8(const std::vector<Bytes>& cells, int32_t rows = 1, uint16_t cols = 1,
            const std::vector<Bytes>& globals = {}) {
  return xlsw::with_filler(
      xlsw::workbook_stream({"S"}, globals, {xlsw::worksheet(rows, cols, cells)}));
}

// The same in BIFF5 layouts: BIFF5 BOFs, byte-counted names and texts.
Bytes book5(const std::vector<Bytes>& cells, const std::vector<Bytes>& globals = {},
            const std::string& name = "S", int32_t rows = 1, uint16_t cols = 1) {
  Bytes s = xlsw::bof(xlsw::kBiff5, xlsw::kGlobals);
  for (const Bytes& g : globals) s = s + g;
  s = s + xlsw::boundsheet5(name) + xlsw::eof();
  Bytes ws = xlsw::bof(xlsw::kBiff5, xlsw::kWorksheet) + xlsw::dimensions5(uint16_t(rows), cols);
  for (const Bytes& c : cells) ws = ws + c;
  return xlsw::with_filler(s + ws + xlsw::eof());
}

Bytes label5(uint16_t row, uint16_t col, const std::string& bytes) {
  Bytes d = head(row, col);
  xlsw::put16(d, uint16_t(bytes.size()));
  return xlsw::record(kLabel, d + chars(bytes));
}

// ------------------------------------------------------------------ texts

struct CellCase {
  const char* name;
  Bytes file;
  std::string all;   // CSV under --all
  std::string dflt;  // CSV without it
};

std::ostream& operator<<(std::ostream& os, const CellCase& c) { return os << c.name; }

class AllCells : public ::testing::TestWithParam<CellCase> {};

TEST_P(AllCells, AllReadsItAndTheDefaultDoesNot) {
  const CellCase& c = GetParam();
  std::string got = convert(c.file);
  EXPECT_EQ(got, c.all);
  EXPECT_TRUE(is_valid_utf8(got));
  Reading plain;
  plain.all = false;
  EXPECT_EQ(convert(c.file, plain), c.dflt);
}

std::vector<CellCase> cell_cases() {
  const std::u16string cjk = u"\u65E5\u672C";
  return {
      {"label8", book8({xlsw::record(kLabel, head(0, 0) + ustr8("caf\xE9"))}), "\"caf\xC3\xA9\"\n",
       "\"\"\n"},
      {"label16", book8({xlsw::record(kLabel, head(0, 0) + ustr16(cjk))}),
       "\"\xE6\x97\xA5\xE6\x9C\xAC\"\n", "\"\"\n"},
      {"label_cut_at_nul",
       book8({xlsw::record(kLabel, head(0, 0) + ustr8(std::string("a\0b", 3)))}), "\"a\"\n",
       "\"\"\n"},
      {"label_short_chars_keeps_what_is_there",
       book8({xlsw::record(kLabel, head(0, 0) + Bytes{9, 0, 0} + chars("abc"))}), "\"abc\"\n",
       "\"\"\n"},
      {"label_without_its_count", book8({xlsw::record(kLabel, head(0, 0) + Bytes{1})}), "\"\"\n",
       "\"\"\n"},
      {"label16_odd_byte", book8({xlsw::record(kLabel, head(0, 0) + Bytes{2, 0, 1, 'a', 0, 'b'})}),
       "\"a\"\n", "\"\"\n"},
      {"rstring_runs_ignored",
       book8({xlsw::record(kRString, head(0, 0) + ustr8("rich") + Bytes{1, 0, 0, 0, 0, 0})}),
       "\"rich\"\n", "\"\"\n"},
      {"boolerr_values", book8({boolerr(0, 0, 1, false), boolerr(0, 1, 0, false)}, 1, 2),
       "\"TRUE\",\"FALSE\"\n", "\"\",\"\"\n"},
      {"boolerr_every_error",
       book8({boolerr(0, 0, 0x00, true), boolerr(0, 1, 0x07, true), boolerr(0, 2, 0x0F, true),
              boolerr(0, 3, 0x17, true), boolerr(0, 4, 0x1D, true), boolerr(0, 5, 0x24, true),
              boolerr(0, 6, 0x2A, true), boolerr(0, 7, 0x99, true)},
             1, 8),
       "\"#NULL!\",\"#DIV/0!\",\"#VALUE!\",\"#REF!\",\"#NAME?\",\"#NUM!\",\"#N/A\",\"#N/A\"\n",
       "\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\"\n"},
      {"boolerr_short", book8({xlsw::record(kBoolErr, head(0, 0) + Bytes{1})}), "\"\"\n", "\"\"\n"},
      {"formula_boolean_error_empty",
       book8({formula_result(0, 0, 1, 1), formula_result(0, 1, 2, 0x07), formula_result(0, 2, 3)},
             1, 3),
       "\"TRUE\",\"#DIV/0!\",\"\"\n", "\"\",\"\",\"\"\n"},
      {"formula_string_with_its_string",
       book8({formula_result(0, 0, 0), xlsw::record(kString, ustr8("result"))}), "\"result\"\n",
       "\"\"\n"},
      {"formula_string_after_shrfmla",
       book8({formula_result(0, 0, 0), xlsw::record(kShrFmla, Bytes(10, 0)),
              xlsw::record(kString, ustr16(u"\u00FCber"))}),
       "\"\xC3\xBC"
       "ber\"\n",
       "\"\"\n"},
      {"string_continued",
       book8({formula_result(0, 0, 0), xlsw::record(kString, Bytes{6, 0, 0} + chars("abc")),
              xlsw::record(kContinue, Bytes{1, 'd', 0, 'e', 0, 'f', 0})}),
       "\"abcdef\"\n", "\"\"\n"},
      {"string_without_formula_ignored", book8({xlsw::record(kString, ustr8("stray"))}), "\"\"\n",
       "\"\"\n"},
      {"string_after_another_record_ignored",
       book8({formula_result(0, 0, 0), xlsw::record(kBlank, head(0, 0)),
              xlsw::record(kString, ustr8("late"))}),
       "\"\"\n", "\"\"\n"},
      {"string_longer_than_its_data",
       book8({formula_result(0, 0, 0), xlsw::record(kString, Bytes{200, 0, 0} + chars("ab"))}),
       "\"ab\"\n", "\"\"\n"},
      {"later_record_wins_a_position",
       book8({xlsw::number(0, 0, 0, 5), xlsw::record(kLabel, head(0, 0) + ustr8("text"))}),
       "\"text\"\n", "\"5\"\n"},
      {"biff5_label_in_1252", book5({label5(0, 0, "\xC4rger")}), "\"\xC3\x84rger\"\n", "\"\"\n"},
      {"biff5_label_in_932", book5({label5(0, 0, "\x93\xFA\x96\x7B")}, {u16rec(kCodePage, 932)}),
       "\"\xE6\x97\xA5\xE6\x9C\xAC\"\n", "\"\"\n"},
      {"biff5_label_mac_roman", book5({label5(0, 0, "\x8A")}, {u16rec(kCodePage, 10000)}),
       "\"\xC3\xA4\"\n", "\"\"\n"},
      {"biff5_unknown_codepage_is_1252", book5({label5(0, 0, "\xE9")}, {u16rec(kCodePage, 12345)}),
       "\"\xC3\xA9\"\n", "\"\"\n"},
      {"biff5_string_result",
       book5({formula_result(0, 0, 0), xlsw::record(kString, Bytes{2, 0} + chars("\xE9t"))}),
       "\"\xC3\xA9t\"\n", "\"\"\n"},
  };
}

INSTANTIATE_TEST_SUITE_P(Records, AllCells, ::testing::ValuesIn(cell_cases()),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(AllCellsBiff5, WorksheetBofOfBiff8InABiff5WorkbookStillHasBiff5Texts) {
  // Excel 95 files seen in the wild: globals of version 0x0500, worksheets 0x0600.
  Bytes s = xlsw::bof(xlsw::kBiff5, xlsw::kGlobals) + xlsw::boundsheet5("S") + xlsw::eof() +
            xlsw::bof(xlsw::kBiff8, xlsw::kWorksheet) + xlsw::dimensions(1, 1) +
            label5(0, 0, "ASC") + xlsw::eof();
  EXPECT_EQ(convert(xlsw::with_filler(s)), "\"ASC\"\n");
}

TEST(AllCellsSql, EmptyStringResultIsAValueNotNull) {
  Bytes file = book8({xlsw::record(kLabel, head(0, 0) + ustr8("v")), formula_result(1, 0, 3)}, 2);
  Reading sql;
  sql.sql = true;
  EXPECT_EQ(convert(file, sql), "INSERT INTO S (v) values ('');\n");
  sql.all = false;
  EXPECT_EQ(convert(file, sql), "INSERT INTO S () values (NULL);\n");
}

TEST(AllCellsNames, Biff5NamesDecodedThroughTheCodePageWhereverItStands) {
  // CODEPAGE after the BOUNDSHEET: the name is decoded once the globals are read.
  Bytes s = xlsw::bof(xlsw::kBiff5, xlsw::kGlobals) + xlsw::boundsheet5("\x93\xFA") +
            u16rec(kCodePage, 932) + xlsw::eof() + xlsw::bof(xlsw::kBiff5, xlsw::kWorksheet) +
            xlsw::dimensions5(2, 1) + label5(0, 0, "h") + xlsw::number(1, 0, 0, 1) + xlsw::eof();
  Reading sql;
  sql.sql = true;
  sql.all = false;  // names are decoded in every mode
  EXPECT_EQ(convert(xlsw::with_filler(s), sql), "INSERT INTO \xE6\x97\xA5 () values ('1');\n");
}

// ------------------------------------------------------ dates and formats

struct FormatCase {
  const char* name;
  std::vector<Bytes> globals;  // XF 0 ... and FORMAT records
  double value;
  std::string all;    // under --all
  std::string exact;  // under --exact
};

std::ostream& operator<<(std::ostream& os, const FormatCase& c) { return os << c.name; }

class WorkbookFormats : public ::testing::TestWithParam<FormatCase> {};

TEST_P(WorkbookFormats, Rendering) {
  const FormatCase& c = GetParam();
  Bytes file = book8({xlsw::number(0, 0, 0, c.value)}, 1, 1, c.globals);
  EXPECT_EQ(convert(file), "\"" + c.all + "\"\n");
  Reading exact;
  exact.rendering = Rendering::Exact;
  EXPECT_EQ(convert(file, exact), "\"" + c.exact + "\"\n");
}

std::vector<FormatCase> format_cases() {
  auto with = [](uint16_t index, const std::string& code) {
    return std::vector<Bytes>{xlsw::xf(index), xlsw::format_record(index, code)};
  };
  auto d1904 = [](std::vector<Bytes> g) {
    g.push_back(u16rec(kDateMode, 1));
    return g;
  };
  return {
      {"builtin_date", {xlsw::xf(14)}, 27738.5, "12/10/75", "1975-12-10"},
      {"builtin_date_1904", d1904({xlsw::xf(14)}), 26276.5, "12/10/75", "1975-12-10"},
      {"custom_date", with(164, "yyyy-mm-dd"), 27738.5, "1975-12-10", "1975-12-10"},
      {"custom_date_time", with(164, "dd/mm/yyyy hh:mm"), 27738.25, "1975-12-10 06:00:00",
       "1975-12-10 06:00:00"},
      {"custom_time", with(170, "hh:mm:ss"), 0.75, "18:00:00", "18:00:00"},
      {"custom_elapsed", with(171, "[h]:mm:ss"), 1.5, "12:00:00", "36:00:00"},
      {"custom_date_1904", d1904(with(164, "d mmmm yyyy")), 0, "1904-01-01", "1904-01-01"},
      {"quoted_letters_are_no_date", with(164, "0.0\" days\""), 2.25, "2.25", "2.25"},
      {"escaped_letters_are_no_date", with(164, "0\\h"), 3, "3", "3"},
      {"colour_bracket_is_no_date", with(164, "[Red]0.00"), 1.5, "1.5", "1.5"},
      {"colour_then_date", with(164, "[Blue]yyyy"), 27738, "1975-12-10", "1975-12-10"},
      {"165_redefined_as_number", with(165, "0.000"), 27738.5, "27738.5", "27738.5"},
      {"165_builtin_without_format",
       {xlsw::xf(165)},
       27738.5,
       "12/10/75 12:00 PM",
       "1975-12-10 12:00:00"},
      {"builtin_index_kept_though_repeated", with(14, "yyyy"), 27738.5, "12/10/75", "1975-12-10"},
      {"unknown_low_index_defined_by_workbook", with(53, "d-mmm-yy"), 45306, "2024-01-15",
       "2024-01-15"},
      {"general_and_at_are_no_dates", with(164, "@"), 7, "7", "7"},
      {"exact_digits", {xlsw::xf(2)}, 3.14159265, "3.14", "3.14159265"},
      {"exact_percent_unscaled", {xlsw::xf(10)}, 0.1235, "0.12%", "0.1235"},
  };
}

INSTANTIATE_TEST_SUITE_P(Cases, WorkbookFormats, ::testing::ValuesIn(format_cases()),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(WorkbookFormatsFormatted, QuotesAFormatCodePutsInANumberAreDoubledInCsv) {
  std::vector<Bytes> g{xlsw::xf(164), xlsw::format_record(164, "0\\\"\" in\"")};
  Bytes file = book8({xlsw::number(0, 0, 0, 5), xlsw::rk(0, 1, 0, xlsw::rk_int(7))}, 1, 2, g);
  Reading formatted;
  formatted.rendering = Rendering::Formatted;
  EXPECT_EQ(convert(file, formatted), "\"5\"\" in\",\"7\"\" in\"\n");
}

TEST(WorkbookFormatsDefault, DefaultIgnoresDateModeAndWorkbookCodes) {
  std::vector<Bytes> g{xlsw::xf(164), xlsw::format_record(164, "yyyy-mm-dd"), u16rec(kDateMode, 1),
                       xlsw::xf(14)};
  Bytes file = book8({xlsw::number(0, 0, 0, 27738.5), xlsw::number(0, 1, 1, 26276.5)}, 1, 2, g);
  Reading plain;
  plain.all = false;
  EXPECT_EQ(convert(file, plain), "\"27738.5\",\"12/09/71\"\n");
  EXPECT_EQ(convert(file), "\"1979-12-11\",\"12/10/75\"\n");
}

}  // namespace
}  // namespace sheetdump
