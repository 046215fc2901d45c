// The workbook loader: BOF classification, sheet names by position and by
// BIFF version, finding every substream by record framing (embedded
// charts, chart sheets, odd lengths, BOF-like bytes inside records), cut
// files, and the two ways a stream reaches the reader.
#include "biff/workbook_loader.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "biff/workbook.hpp"
#include "support/loaded_workbook.hpp"
#include "support/xls_writer.hpp"

namespace sheetdump {
namespace {

using xlsw::Bytes;

constexpr uint16_t kBoundSheet = 0x0085;
constexpr uint16_t kMacro = 0x0040;

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
Bytes le16b(uint16_t v) { return {uint8_t(v), uint8_t(v >> 8)}; }
Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes units16(std::initializer_list<uint16_t> units) {
  Bytes b;
  for (uint16_t u : units) b = b + le16b(u);
  return b;
}

using testsupport::LoadedWorkbook;

LoadedWorkbook load(const Bytes& stream) {
  return testsupport::load_loaded(xlsw::with_filler(stream));
}

LoadedWorkbook load_book(const std::vector<std::string>& names,
                         const std::vector<Bytes>& substreams,
                         const std::vector<Bytes>& globals = {}) {
  return load(xlsw::workbook_stream(names, globals, substreams));
}

// A worksheet with one number cell at (0, 0).
Bytes sheet_with(double v, uint16_t version = xlsw::kBiff8) {
  return xlsw::worksheet(4, 4, {xlsw::number(0, 0, 0, v)}, version);
}

// A chart substream with a few records of its own.
Bytes chart_substream() {
  return xlsw::bof(xlsw::kBiff8, xlsw::kChart) + xlsw::dimensions(3, 3) +
         xlsw::number(0, 0, 0, 99.0) + xlsw::record(0x1002, Bytes(16, 0)) + xlsw::eof();
}

std::vector<std::optional<std::string>> names_of(const Workbook& wb) {
  std::vector<std::optional<std::string>> out;
  for (const Sheet& s : wb.sheets) out.push_back(s.name);
  return out;
}
std::vector<int32_t> kinds_of(const Workbook& wb) {
  std::vector<int32_t> out;
  for (const Sheet& s : wb.sheets) out.push_back(s.kind);
  return out;
}
std::optional<double> number_at(const Sheet& s, int32_t row, int32_t col) {
  const Cell* c = find_cell(s, row, col);
  if (!c || c->type() != CELL_NUMBER) return std::nullopt;
  return cell_number(s, *c);
}

// Everything the writers can see of a loaded workbook, as text.
std::string summary(const LoadedWorkbook& wb) {
  std::ostringstream os;
  os << "names:";
  for (const auto& n : wb.sheet_names) os << " [" << n << "]";
  os << "\nxf:";
  for (int32_t f : wb.xf_formats) os << " " << f;
  os << "\nsst:";
  for (size_t i = 0; i < wb.sst.count(); ++i) os << " [" << *wb.sst.at(int32_t(i)) << "]";
  for (const Sheet& s : wb.sheets) {
    os << "\nsheet " << (s.name ? *s.name : "<none>") << " kind " << s.kind << " " << s.rows << "x"
       << s.cols << ":";
    for (const Cell& c : s.cells) {
      os << " (" << c.row << "," << int(c.col) << " t" << int(c.type()) << " x" << c.xf << " ";
      if (c.type() == CELL_NUMBER)
        os << cell_number(s, c);
      else
        os << "s" << c.value;
      os << ")";
    }
  }
  return os.str();
}

// ---------------------------------------------------------------- BOF

struct BofCase {
  const char* name;
  Bytes data;
  SubstreamKind kind;
};
std::ostream& operator<<(std::ostream& os, const BofCase& c) { return os << c.name; }

class ClassifyBof : public ::testing::TestWithParam<BofCase> {};

TEST_P(ClassifyBof, Kind) {
  const BofCase& c = GetParam();
  EXPECT_EQ(classify_bof(c.data), c.kind);

  // The same BOF found in a file after the globals.
  Bytes stream = xlsw::workbook_stream({"S"}, {}, {}) + xlsw::record(0x0809, c.data) + xlsw::eof();
  LoadedWorkbook wb = load(stream);
  ASSERT_EQ(wb.sheets.size(), 1u);
  EXPECT_EQ(wb.sheets[0].kind, c.kind);
  EXPECT_EQ(wb.sheets[0].name, "S");
}

Bytes bof_data(uint16_t version, uint16_t type, size_t size = 16) {
  Bytes d = le16b(version) + le16b(type);
  d.resize(size, 0);
  return d;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ClassifyBof,
    ::testing::Values(
        BofCase{"biff5_worksheet", bof_data(0x0500, 0x0010, 8), SUBSTREAM_SHEET_BIFF5},
        BofCase{"biff8_worksheet", bof_data(0x0600, 0x0010), SUBSTREAM_SHEET_BIFF8},
        BofCase{"biff5_globals", bof_data(0x0500, 0x0005, 8), SUBSTREAM_GLOBALS_BIFF5},
        BofCase{"biff8_globals", bof_data(0x0600, 0x0005), SUBSTREAM_GLOBALS_BIFF8},
        BofCase{"chart", bof_data(0x0600, 0x0020), SUBSTREAM_OTHER},
        BofCase{"biff5_chart", bof_data(0x0500, 0x0020, 8), SUBSTREAM_OTHER},
        BofCase{"macro_sheet", bof_data(0x0600, 0x0040), SUBSTREAM_OTHER},
        BofCase{"workspace", bof_data(0x0600, 0x0100), SUBSTREAM_OTHER},
        BofCase{"version_0_worksheet", bof_data(0x0000, 0x0010), SUBSTREAM_SHEET_BIFF8},
        BofCase{"other_version_globals", bof_data(0x0400, 0x0005), SUBSTREAM_GLOBALS_BIFF8},
        BofCase{"type_high_byte_matters", bof_data(0x0600, 0x0110), SUBSTREAM_OTHER},
        BofCase{"exactly_4_bytes", bof_data(0x0500, 0x0010, 4), SUBSTREAM_SHEET_BIFF5},
        // Missing bytes count as 0.
        BofCase{"three_bytes", Bytes{0x00, 0x05, 0x10}, SUBSTREAM_SHEET_BIFF5},
        BofCase{"three_bytes_globals", Bytes{0x00, 0x06, 0x05}, SUBSTREAM_GLOBALS_BIFF8},
        BofCase{"two_bytes", Bytes{0x00, 0x05}, SUBSTREAM_OTHER},
        BofCase{"one_byte", Bytes{0x10}, SUBSTREAM_OTHER},
        BofCase{"empty", Bytes{}, SUBSTREAM_OTHER}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(ClassifyBofInFile, WorksheetWithShortBofStillLoadsItsCells) {
  Bytes ws = xlsw::record(0x0809, Bytes{0x00, 0x06, 0x10}) + xlsw::dimensions(2, 2) +
             xlsw::number(1, 1, 0, 5.0) + xlsw::eof();
  LoadedWorkbook wb = load_book({"S"}, {ws});
  ASSERT_EQ(wb.sheets.size(), 1u);
  EXPECT_EQ(wb.sheets[0].kind, SUBSTREAM_SHEET_BIFF8);
  EXPECT_EQ(number_at(wb.sheets[0], 1, 1), 5.0);
}

// ---------------------------------------------------------------- names

TEST(SheetNames, FewerNamesThanSheets) {
  LoadedWorkbook wb = load_book({"A", "B"}, {sheet_with(1), sheet_with(2), sheet_with(3)});
  EXPECT_EQ(names_of(wb), (std::vector<std::optional<std::string>>{"A", "B", std::nullopt}));
  EXPECT_EQ(number_at(wb.sheets[2], 0, 0), 3.0);
}

TEST(SheetNames, MoreNamesThanSheets) {
  LoadedWorkbook wb = load_book({"A", "B", "C"}, {sheet_with(1)});
  EXPECT_EQ(names_of(wb), (std::vector<std::optional<std::string>>{"A"}));
  EXPECT_EQ(wb.sheet_names, (std::vector<std::string>{"A", "B", "C"}));
}

TEST(SheetNames, NoNames) {
  LoadedWorkbook wb = load_book({}, {sheet_with(1), sheet_with(2)});
  EXPECT_EQ(names_of(wb), (std::vector<std::optional<std::string>>{std::nullopt, std::nullopt}));
}

TEST(SheetNames, GivenByPositionNotByStreamOffset) {
  // The writer fills BOUNDSHEET positions in; replace them with garbage.
  Bytes stream = xlsw::bof(xlsw::kBiff8, xlsw::kGlobals);
  for (const char* n : {"First", "Second"})
    stream = stream +
             xlsw::record(kBoundSheet, Bytes{0xFF, 0xFF, 0xFF, 0x7F, 0, 0} +
                                           Bytes{uint8_t(std::string(n).size()), 0} + text(n));
  stream = stream + xlsw::eof() + sheet_with(1) + sheet_with(2);
  LoadedWorkbook wb = load(stream);
  EXPECT_EQ(names_of(wb), (std::vector<std::optional<std::string>>{"First", "Second"}));
}

struct NameCase {
  const char* name;
  Bytes data;  // BOUNDSHEET data
  std::string expected;
};
std::ostream& operator<<(std::ostream& os, const NameCase& c) { return os << c.name; }

// The six bytes before the name fields: stream position and options, which
// are not read.
Bytes pos_and_options() { return Bytes{0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}; }

// Names in a workbook whose globals BOF is BIFF8: count at 6, flags at 7,
// characters from 8.
class Biff8Names : public ::testing::TestWithParam<NameCase> {};

TEST_P(Biff8Names, Name) {
  const NameCase& c = GetParam();
  Bytes stream = xlsw::bof(xlsw::kBiff8, xlsw::kGlobals) + xlsw::record(kBoundSheet, c.data) +
                 xlsw::boundsheet("after") + xlsw::eof() + sheet_with(1) + sheet_with(2);
  LoadedWorkbook wb = load(stream);
  // A bad name never costs its position: the next sheet keeps its name.
  EXPECT_EQ(names_of(wb), (std::vector<std::optional<std::string>>{c.expected, "after"}));
}

INSTANTIATE_TEST_SUITE_P(
    Records, Biff8Names,
    ::testing::Values(
        NameCase{"plain", pos_and_options() + Bytes{6, 0} + text("Sheet1"), "Sheet1"},
        // 8-bit characters are U+0000..U+00FF, written as UTF-8.
        NameCase{"high_bytes_as_utf8", pos_and_options() + Bytes{3, 0} + text("\xE9t\xE9"),
                 "\xC3\xA9t\xC3\xA9"},
        NameCase{"other_flag_bits_still_8bit", pos_and_options() + Bytes{2, 0x08} + text("ab"),
                 "ab"},
        NameCase{"wide", pos_and_options() + Bytes{3, 1} + units16({0xDC, 'b', 0x20AC}),
                 "\xC3\x9C"
                 "b\xE2\x82\xAC"},
        // The count is byte 6 alone, not a 16-bit field with the flags.
        NameCase{"wide_count_is_one_byte",
                 pos_and_options() + Bytes{2, 1} + units16({'x', 'y', 'z'}), "xy"},
        NameCase{"wide_surrogate_pair", pos_and_options() + Bytes{2, 1} + units16({0xD83D, 0xDE00}),
                 "\xF0\x9F\x98\x80"},
        NameCase{"wide_lone_high", pos_and_options() + Bytes{2, 1} + units16({0xD83D, 'a'}),
                 "\xEF\xBF\xBD"
                 "a"},
        NameCase{"wide_lone_low", pos_and_options() + Bytes{2, 1} + units16({'a', 0xDE00}),
                 "a\xEF\xBF\xBD"},
        NameCase{"wide_high_at_the_end", pos_and_options() + Bytes{1, 1} + units16({0xD83D}),
                 "\xEF\xBF\xBD"},
        NameCase{"cut_at_record_end", pos_and_options() + Bytes{10, 0} + text("abc"), "abc"},
        NameCase{"wide_cut_at_record_end",
                 pos_and_options() + Bytes{3, 1} + units16({'a', 'b'}) + Bytes{'c'}, "ab"},
        NameCase{"empty_name", pos_and_options() + Bytes{0, 0}, ""},
        NameCase{"header_only_with_count", pos_and_options() + Bytes{3, 0}, ""},
        NameCase{"shorter_than_header_7", pos_and_options() + Bytes{3}, ""},
        NameCase{"shorter_than_header_5", Bytes{0, 0, 0, 0, 0}, ""},
        NameCase{"no_data", Bytes{}, ""},
        NameCase{"nul_cuts", pos_and_options() + Bytes{5, 0} + text(std::string("ab\0cd", 5)),
                 "ab"},
        NameCase{"wide_nul_cuts", pos_and_options() + Bytes{3, 1} + units16({'a', 0, 'b'}), "a"},
        NameCase{"count_shorter_than_data", pos_and_options() + Bytes{2, 0} + text("abcdef"),
                 "ab"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(SheetNames, WriterWideNamesBecomeUtf8) {
  Bytes stream = xlsw::bof(xlsw::kBiff8, xlsw::kGlobals) + xlsw::boundsheet16(u"\u00dcbersicht") +
                 xlsw::boundsheet16(u"\U0001F600") + xlsw::eof() + sheet_with(1) + sheet_with(2);
  LoadedWorkbook wb = load(stream);
  EXPECT_EQ(names_of(wb), (std::vector<std::optional<std::string>>{"\xC3\x9C"
                                                                   "bersicht",
                                                                   "\xF0\x9F\x98\x80"}));
}

// Names in a workbook whose globals BOF says version 0x0500: count at 6,
// bytes from 7, never converted.
class Biff5Names : public ::testing::TestWithParam<NameCase> {};

TEST_P(Biff5Names, Name) {
  const NameCase& c = GetParam();
  Bytes stream = xlsw::bof(xlsw::kBiff5, xlsw::kGlobals) + xlsw::record(kBoundSheet, c.data) +
                 xlsw::boundsheet5("after") + xlsw::eof() + sheet_with(1, xlsw::kBiff5) +
                 sheet_with(2, xlsw::kBiff5);
  LoadedWorkbook wb = load(stream);
  EXPECT_TRUE(wb.biff5);
  EXPECT_EQ(names_of(wb), (std::vector<std::optional<std::string>>{c.expected, "after"}));
  EXPECT_EQ(kinds_of(wb), (std::vector<int32_t>{SUBSTREAM_SHEET_BIFF5, SUBSTREAM_SHEET_BIFF5}));
}

INSTANTIATE_TEST_SUITE_P(
    Records, Biff5Names,
    ::testing::Values(
        NameCase{"plain", pos_and_options() + Bytes{5} + text("Alpha"), "Alpha"},
        // In the workbook's code page: 1252 without a CODEPAGE record.
        NameCase{"code_page_1252", pos_and_options() + Bytes{5} + text("\xC4rger"), "\xC3\x84rger"},
        NameCase{"undecodable_byte", pos_and_options() + Bytes{2} + text("a\x81"), "a\xEF\xBF\xBD"},
        // Byte 7 is the first character, not a flags byte.
        NameCase{"first_byte_01", pos_and_options() + Bytes{3} + text("\x01xy"), "\x01xy"},
        NameCase{"long_name", pos_and_options() + Bytes{31} + text(std::string(31, 'n')),
                 std::string(31, 'n')},
        NameCase{"cut_at_record_end", pos_and_options() + Bytes{10} + text("abc"), "abc"},
        NameCase{"count_shorter_than_data", pos_and_options() + Bytes{2} + text("abcdef"), "ab"},
        NameCase{"empty_name", pos_and_options() + Bytes{0}, ""},
        NameCase{"header_only_with_count", pos_and_options() + Bytes{3}, ""},
        NameCase{"shorter_than_header", pos_and_options(), ""}, NameCase{"no_data", Bytes{}, ""},
        NameCase{"nul_cuts", pos_and_options() + Bytes{5} + text(std::string("ab\0cd", 5)), "ab"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(SheetNames, WriterBiff5NamesAndCells) {
  Bytes ws = xlsw::bof(xlsw::kBiff5, xlsw::kWorksheet) + xlsw::dimensions5(3, 3) +
             xlsw::number(2, 2, 0, 8.5) + xlsw::eof();
  Bytes stream = xlsw::bof(xlsw::kBiff5, xlsw::kGlobals) + xlsw::boundsheet5("Tabelle1") +
                 xlsw::eof() + ws;
  LoadedWorkbook wb = load(stream);
  ASSERT_EQ(wb.sheets.size(), 1u);
  EXPECT_EQ(wb.sheets[0].name, "Tabelle1");
  EXPECT_EQ(wb.sheets[0].kind, SUBSTREAM_SHEET_BIFF5);
  EXPECT_EQ(number_at(wb.sheets[0], 2, 2), 8.5);
}

// The version comes from the first record only, and only when it is a BOF.
TEST(SheetNames, VersionFromTheFirstRecordOnly) {
  Bytes biff8_name = xlsw::record(kBoundSheet, pos_and_options() + Bytes{2, 0} + text("ok"));
  // A non-BOF record at 512 whose data looks like a BIFF5 BOF: BIFF8 names.
  Bytes not_bof = xlsw::record(0x0010, bof_data(0x0500, 0x0005, 8));
  LoadedWorkbook wb = load(not_bof + biff8_name + xlsw::eof() + sheet_with(1));
  EXPECT_FALSE(wb.biff5);
  EXPECT_EQ(names_of(wb), (std::vector<std::optional<std::string>>{"ok"}));
  // A BIFF5 BOF later in the globals changes nothing either.
  wb = load(xlsw::bof(xlsw::kBiff8, xlsw::kGlobals) + xlsw::bof(xlsw::kBiff5, xlsw::kGlobals) +
            biff8_name + xlsw::eof() + sheet_with(1));
  EXPECT_FALSE(wb.biff5);
  EXPECT_EQ(names_of(wb), (std::vector<std::optional<std::string>>{"ok"}));
}

TEST(SheetNames, FirstRecordIsDroppedWhateverItIs) {
  // A BOUNDSHEET at offset 512 gives no name.
  LoadedWorkbook wb = load(xlsw::boundsheet("Ghost") + xlsw::boundsheet("Real") + xlsw::eof() +
                           sheet_with(1));
  EXPECT_EQ(wb.sheet_names, (std::vector<std::string>{"Real"}));
  EXPECT_EQ(names_of(wb), (std::vector<std::optional<std::string>>{"Real"}));

  // An EOF at offset 512 does not end the globals.
  wb = load(xlsw::eof() + xlsw::boundsheet("Named") + xlsw::xf(14) + xlsw::eof() + sheet_with(1));
  EXPECT_EQ(names_of(wb), (std::vector<std::optional<std::string>>{"Named"}));
  EXPECT_EQ(wb.xf_formats.size(), 1u);

  // An SST at offset 512 is not loaded.
  wb = load(xlsw::sst({xlsw::s8("lost")}) + xlsw::eof() + sheet_with(1));
  EXPECT_EQ(wb.sst.count(), 0u);
}

// ---------------------------------------------------------------- substreams

TEST(Substreams, EmbeddedChartIsSkippedAndTheWorksheetGoesOn) {
  Bytes ws1 = xlsw::bof(xlsw::kBiff8, xlsw::kWorksheet) + xlsw::dimensions(5, 5) +
              xlsw::number(0, 0, 0, 1.0) +
              // The chart: its records would change the grid if handled.
              xlsw::bof(xlsw::kBiff8, xlsw::kChart) + xlsw::dimensions(1, 1) +
              xlsw::number(1, 0, 0, 99.0) + xlsw::eof() +
              // Back in the worksheet after the chart's EOF.
              xlsw::number(2, 0, 0, 3.0) + xlsw::eof();
  LoadedWorkbook wb = load_book({"A", "B"}, {ws1, sheet_with(7)});
  ASSERT_EQ(wb.sheets.size(), 2u);
  EXPECT_EQ(names_of(wb), (std::vector<std::optional<std::string>>{"A", "B"}));
  const Sheet& a = wb.sheets[0];
  EXPECT_EQ(a.rows, 5);
  EXPECT_EQ(a.cols, 5);
  EXPECT_EQ(number_at(a, 0, 0), 1.0);
  EXPECT_EQ(number_at(a, 1, 0), std::nullopt);
  EXPECT_EQ(number_at(a, 2, 0), 3.0);
  EXPECT_EQ(a.cells.size(), 2u);
  EXPECT_EQ(number_at(wb.sheets[1], 0, 0), 7.0);
}

TEST(Substreams, SeveralEmbeddedChartsInOneWorksheet) {
  Bytes ws = xlsw::bof(xlsw::kBiff8, xlsw::kWorksheet) + xlsw::dimensions(5, 5);
  for (uint16_t r = 0; r < 4; ++r)
    ws = ws + xlsw::number(r, 0, 0, r) + xlsw::bof(xlsw::kBiff8, xlsw::kChart) +
         xlsw::number(r, 1, 0, 99.0) + xlsw::eof();
  ws = ws + xlsw::eof();
  LoadedWorkbook wb = load_book({"A", "B"}, {ws, sheet_with(7)});
  ASSERT_EQ(wb.sheets.size(), 2u);
  EXPECT_EQ(wb.sheets[0].cells.size(), 4u);
  for (uint16_t r = 0; r < 4; ++r) EXPECT_EQ(number_at(wb.sheets[0], r, 0), double(r));
  EXPECT_EQ(wb.sheets[1].name, "B");
}

TEST(Substreams, ChartSheetBetweenTwoWorksheets) {
  LoadedWorkbook wb = load_book({"A", "Chart", "C"},
                                {sheet_with(1), chart_substream(), sheet_with(3)});
  EXPECT_EQ(kinds_of(wb),
            (std::vector<int32_t>{SUBSTREAM_SHEET_BIFF8, SUBSTREAM_OTHER, SUBSTREAM_SHEET_BIFF8}));
  EXPECT_EQ(names_of(wb), (std::vector<std::optional<std::string>>{"A", "Chart", "C"}));
  const Sheet& chart = wb.sheets.at(1);
  EXPECT_EQ(chart.rows, 0);
  EXPECT_EQ(chart.cols, 0);
  EXPECT_TRUE(chart.cells.empty());
  EXPECT_EQ(number_at(wb.sheets[0], 0, 0), 1.0);
  EXPECT_EQ(number_at(wb.sheets[2], 0, 0), 3.0);
}

// One writer puts two BOFs at the start of a chart sheet and a single EOF
// at its end. The chart ends at that EOF, and the next sheet is found.
TEST(Substreams, ChartSheetWithTwoBofsAndOneEof) {
  Bytes chart = xlsw::bof(xlsw::kBiff8, xlsw::kChart) + xlsw::bof(xlsw::kBiff8, xlsw::kChart) +
                xlsw::record(0x1002, Bytes(16, 0)) + xlsw::number(0, 0, 0, 99.0) + xlsw::eof();
  LoadedWorkbook wb = load_book({"A", "Chart", "C"}, {sheet_with(1), chart, sheet_with(3)});
  EXPECT_EQ(kinds_of(wb),
            (std::vector<int32_t>{SUBSTREAM_SHEET_BIFF8, SUBSTREAM_OTHER, SUBSTREAM_SHEET_BIFF8}));
  EXPECT_EQ(names_of(wb), (std::vector<std::optional<std::string>>{"A", "Chart", "C"}));
  EXPECT_EQ(number_at(wb.sheets.at(2), 0, 0), 3.0);
}

TEST(Substreams, OtherSubstreamsEndAtTheirFirstEof) {
  // A macro sheet and a second globals substream: neither is loaded, and
  // the worksheet after each is found.
  Bytes macro = xlsw::bof(xlsw::kBiff8, kMacro) + xlsw::dimensions(2, 2) +
                xlsw::number(0, 0, 0, 5.0) + xlsw::eof();
  Bytes globals = xlsw::bof(xlsw::kBiff8, xlsw::kGlobals) + xlsw::boundsheet("X") + xlsw::eof();
  LoadedWorkbook wb = load_book({"M", "A", "G", "B"},
                                {macro, sheet_with(1), globals, sheet_with(2)});
  EXPECT_EQ(kinds_of(wb), (std::vector<int32_t>{SUBSTREAM_OTHER, SUBSTREAM_SHEET_BIFF8,
                                                SUBSTREAM_GLOBALS_BIFF8, SUBSTREAM_SHEET_BIFF8}));
  EXPECT_EQ(names_of(wb), (std::vector<std::optional<std::string>>{"M", "A", "G", "B"}));
  EXPECT_TRUE(wb.sheets[0].cells.empty());
  EXPECT_EQ(wb.sheets[0].rows, 0);
  EXPECT_EQ(wb.sheet_names.size(), 4u);  // the second globals' BOUNDSHEET is not read
  EXPECT_EQ(number_at(wb.sheets[3], 0, 0), 2.0);
}

TEST(Substreams, RecordsBetweenSubstreamsAreSkipped) {
  Bytes junk = xlsw::record(0x1234, Bytes(7, 0)) + xlsw::eof() + xlsw::number(0, 0, 0, 1.0);
  LoadedWorkbook wb = load_book({"A", "B"}, {sheet_with(1), junk, sheet_with(2)});
  EXPECT_EQ(names_of(wb), (std::vector<std::optional<std::string>>{"A", "B"}));
  EXPECT_EQ(number_at(wb.sheets.at(1), 0, 0), 2.0);
}

TEST(Substreams, WorksheetWithoutEofEndsWithTheData) {
  Bytes ws = xlsw::bof(xlsw::kBiff8, xlsw::kWorksheet) + xlsw::dimensions(3, 3) +
             xlsw::number(0, 0, 0, 1.0) + xlsw::number(2, 2, 0, 2.0);
  LoadedWorkbook wb = load_book({"A"}, {ws});
  ASSERT_EQ(wb.sheets.size(), 1u);
  EXPECT_EQ(wb.sheets[0].cells.size(), 2u);
}

// Substreams of odd length: records of odd size are common (a SELECTION
// record has 15 data bytes). Every later sheet must still be found.
class OddLengths : public ::testing::TestWithParam<int> {};

TEST_P(OddLengths, EverySheetFoundAndNamed) {
  size_t odd = size_t(GetParam());
  Bytes filler = xlsw::record(0x001D, Bytes(odd, 0x09));  // 0x09 bytes: half a BOF id
  Bytes ws1 = xlsw::worksheet(4, 4, {filler, xlsw::number(1, 1, 0, 1.0), filler});
  Bytes chart = xlsw::bof(xlsw::kBiff8, xlsw::kChart) + filler + xlsw::eof();
  Bytes ws3 = xlsw::worksheet(4, 4, {xlsw::number(2, 2, 0, 3.0), filler});
  LoadedWorkbook wb = load_book({"A", "B", "C", "D"}, {ws1, chart, ws3, sheet_with(4)}, {filler});
  EXPECT_EQ(names_of(wb), (std::vector<std::optional<std::string>>{"A", "B", "C", "D"}));
  EXPECT_EQ(kinds_of(wb), (std::vector<int32_t>{SUBSTREAM_SHEET_BIFF8, SUBSTREAM_OTHER,
                                                SUBSTREAM_SHEET_BIFF8, SUBSTREAM_SHEET_BIFF8}));
  ASSERT_EQ(wb.sheets.size(), 4u);
  EXPECT_EQ(number_at(wb.sheets[0], 1, 1), 1.0);
  EXPECT_EQ(number_at(wb.sheets[2], 2, 2), 3.0);
  EXPECT_EQ(number_at(wb.sheets[3], 0, 0), 4.0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, OddLengths, ::testing::Values(0, 1, 2, 3, 15, 16, 255));

// The bytes 09 08 inside a record's data are not a BOF, whatever follows
// them and wherever they lie.
class BofWordInData : public ::testing::TestWithParam<int> {};

TEST_P(BofWordInData, AddsNoPhantomSheet) {
  Bytes pad = GetParam() ? xlsw::record(0x001D, Bytes(size_t(GetParam()), 0)) : Bytes{};
  // Row 2057 is 09 08; column 2057 as well in the second record.
  Bytes ws1 = xlsw::worksheet(
      3000, 10,
      {pad, xlsw::number(2057, 1, 0, 1.0), xlsw::rk(2057, 2057, 0, xlsw::rk_int(2)),
       // A whole worksheet BOF, DIMENSIONS and EOF as the
       // data of an unknown record.
       xlsw::record(0x1234, xlsw::bof(xlsw::kBiff8, xlsw::kWorksheet) + xlsw::dimensions(1, 1) +
                                xlsw::eof()),
       xlsw::label(5, 5, 0, "\x09\x08\x10\x00")});
  LoadedWorkbook wb = load_book({"A", "B"}, {ws1, sheet_with(2)});
  EXPECT_EQ(names_of(wb), (std::vector<std::optional<std::string>>{"A", "B"}));
  ASSERT_EQ(wb.sheets.size(), 2u);
  EXPECT_EQ(wb.sheets[0].rows, 3000);
  EXPECT_EQ(number_at(wb.sheets[0], 2057, 1), 1.0);
  EXPECT_EQ(wb.sheets[0].cells.size(), 1u);  // column 2057 is outside the grid
  EXPECT_EQ(number_at(wb.sheets[1], 0, 0), 2.0);
}

INSTANTIATE_TEST_SUITE_P(Alignments, BofWordInData, ::testing::Values(0, 1, 2, 3));

// ---------------------------------------------------------------- cut files

TEST(ShortFiles, ShorterThan512BytesHasNothing) {
  Bytes stream = xlsw::workbook_stream({"A"}, {xlsw::xf(14), xlsw::sst({xlsw::s8("x")})},
                                       {sheet_with(1)});
  ASSERT_LT(stream.size(), 512u);
  for (size_t len : {size_t(0), size_t(1), size_t(4), stream.size()}) {
    LoadedWorkbook wb = testsupport::load_loaded(Bytes(stream.begin(), stream.begin() + long(len)));
    EXPECT_TRUE(wb.sheets.empty()) << len;
    EXPECT_TRUE(wb.sheet_names.empty()) << len;
    EXPECT_TRUE(wb.xf_formats.empty()) << len;
    EXPECT_EQ(wb.sst.count(), 0u) << len;
  }
  // 511 bytes of filler and the first byte of the stream.
  Bytes almost = xlsw::with_filler(stream);
  almost.resize(511);
  EXPECT_TRUE(testsupport::load_loaded(almost).sheets.empty());
  // Exactly the filler.
  almost.resize(512);
  EXPECT_TRUE(testsupport::load_loaded(almost).sheets.empty());
}

TEST(ShortFiles, EndsInsideTheGlobals) {
  Bytes stream = xlsw::bof(xlsw::kBiff8, xlsw::kGlobals) + xlsw::boundsheet("A") +
                 xlsw::boundsheet("B");
  LoadedWorkbook wb = load(stream);
  EXPECT_EQ(wb.sheet_names, (std::vector<std::string>{"A", "B"}));
  EXPECT_TRUE(wb.sheets.empty());
}

TEST(ShortFiles, EndsInsideAHeaderOfTheLastWorksheet) {
  Bytes full = xlsw::workbook_stream({"A", "B"}, {}, {sheet_with(1), sheet_with(2)});
  // Drop the last EOF, then add 1, 2 or 3 bytes of a NUMBER header.
  Bytes base(full.begin(), full.end() - 4);
  Bytes next = xlsw::number(3, 3, 0, 9.0);
  for (size_t n = 0; n <= 3; ++n) {
    Bytes stream = base + Bytes(next.begin(), next.begin() + long(n));
    LoadedWorkbook wb = load(stream);
    ASSERT_EQ(wb.sheets.size(), 2u) << n;
    EXPECT_EQ(wb.sheets[1].name, "B");
    EXPECT_EQ(number_at(wb.sheets[1], 0, 0), 2.0) << n;
    EXPECT_EQ(wb.sheets[1].cells.size(), 1u) << n;
  }
}

TEST(ShortFiles, EndsInsideARecordOfTheLastWorksheet) {
  Bytes full = xlsw::workbook_stream({"A", "B"}, {}, {sheet_with(1), sheet_with(2)});
  Bytes base(full.begin(), full.end() - 4);
  Bytes next = xlsw::number(3, 3, 0, 9.0);
  for (size_t n = 4; n < next.size(); ++n) {
    Bytes stream = base + Bytes(next.begin(), next.begin() + long(n));
    LoadedWorkbook wb = load(stream);
    ASSERT_EQ(wb.sheets.size(), 2u) << n;
    EXPECT_EQ(number_at(wb.sheets[1], 0, 0), 2.0) << n;
    // Whatever the cut record gives, it can only be at its own position.
    for (const Cell& c : wb.sheets[1].cells)
      EXPECT_TRUE(c.key() == 0 || (c.row == 3 && c.col == 3)) << n;
  }
}

// Every prefix of a workbook loads without reading past its end, and what
// it gives is part of what the whole file gives.
TEST(ShortFiles, EveryPrefixLoadsAPartOfTheWhole) {
  Bytes stream = xlsw::workbook_stream(
      {"A", "Chart", "B"}, {xlsw::xf(14), xlsw::sst({xlsw::s8("one"), xlsw::s8("two")})},
      {xlsw::worksheet(3, 3,
                       {xlsw::number(0, 0, 0, 1.0), xlsw::labelsst(0, 1, 0, 1),
                        xlsw::mulrk(1, 0, {{0, xlsw::rk_int(5)}, {0, xlsw::rk_int(6)}})}),
       chart_substream(),
       xlsw::worksheet(2, 2, {xlsw::formula_number(1, 1, 0, 2.5), xlsw::rk(0, 0, 0, 6)})});
  Bytes file = xlsw::with_filler(stream);
  LoadedWorkbook whole = testsupport::load_loaded(file);
  ASSERT_EQ(whole.sheets.size(), 3u);
  for (size_t len = 0; len <= file.size(); ++len) {
    LoadedWorkbook wb = testsupport::load_loaded(Bytes(file.begin(), file.begin() + long(len)));
    ASSERT_LE(wb.sheets.size(), whole.sheets.size()) << len;
    ASSERT_LE(wb.sheet_names.size(), whole.sheet_names.size()) << len;
    // A record cut by the end reads 0xFF for its missing bytes, so only the
    // last name and the last sheet's kind may differ from the whole.
    for (size_t i = 0; i + 1 < wb.sheet_names.size(); ++i)
      EXPECT_EQ(wb.sheet_names[i], whole.sheet_names[i]) << len;
    for (size_t i = 0; i < wb.sheets.size(); ++i) {
      if (i + 1 < wb.sheets.size()) {
        EXPECT_EQ(wb.sheets[i].kind, whole.sheets[i].kind) << len;
      }
      std::set<uint32_t> keys;
      for (const Cell& c : whole.sheets[i].cells) keys.insert(c.key());
      for (const Cell& c : wb.sheets[i].cells)
        EXPECT_TRUE(keys.count(c.key())) << "prefix " << len << " sheet " << i;
    }
  }
}

// ---------------------------------------------------------------- wrappers

Bytes sample_stream(int cells_per_sheet) {
  std::vector<Bytes> cells1, cells2;
  for (int i = 0; i < cells_per_sheet; ++i) {
    cells1.push_back(xlsw::number(uint16_t(i), 0, uint16_t(i % 3), i * 0.5));
    cells1.push_back(xlsw::labelsst(uint16_t(i), 1, 0, i % 4));
    cells2.push_back(xlsw::rk(uint16_t(i), uint16_t(i % 7), 1, xlsw::rk_int(i)));
  }
  std::vector<xlsw::SstString> strings{xlsw::s8("alpha"), xlsw::s16(u"\u00e9t\u00e9"),
                                       xlsw::s8(std::string(300, 'x')), xlsw::s8("")};
  return xlsw::workbook_stream({"First", "Chart", "Second"},
                               {xlsw::xf(0), xlsw::xf(14), xlsw::xf(2), xlsw::sst(strings, 100)},
                               {xlsw::worksheet(cells_per_sheet, 3, cells1), chart_substream(),
                                xlsw::worksheet(cells_per_sheet, 8, cells2)});
}

struct WrapperCase {
  const char* name;
  int cells;
  xlsw::CfbOptions opts;
};
std::ostream& operator<<(std::ostream& os, const WrapperCase& c) { return os << c.name; }

class Wrappers : public ::testing::TestWithParam<WrapperCase> {};

TEST_P(Wrappers, CompoundFileLoadsLikeFiller) {
  const WrapperCase& c = GetParam();
  Bytes stream = sample_stream(c.cells);
  LoadedWorkbook plain = testsupport::load_loaded(xlsw::with_filler(stream));
  LoadedWorkbook cfb = testsupport::load_loaded(xlsw::compound_file(stream, c.opts));
  ASSERT_EQ(plain.sheets.size(), 3u);
  EXPECT_EQ(plain.sheets[0].cells.size(), size_t(2 * c.cells));
  EXPECT_EQ(summary(cfb), summary(plain));
}

xlsw::CfbOptions opts_with(void (*set)(xlsw::CfbOptions&)) {
  xlsw::CfbOptions o;
  set(o);
  return o;
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, Wrappers,
    ::testing::Values(WrapperCase{"small_default", 3, {}}, WrapperCase{"large_default", 400, {}},
                      WrapperCase{"small_not_in_mini_stream", 3, opts_with([](xlsw::CfbOptions& o) {
                                    o.use_mini_stream = false;
                                  })},
                      WrapperCase{"large_4096_sectors", 400,
                                  opts_with([](xlsw::CfbOptions& o) { o.sector_shift = 12; })},
                      WrapperCase{"small_4096_sectors", 3,
                                  opts_with([](xlsw::CfbOptions& o) { o.sector_shift = 12; })},
                      WrapperCase{"large_fragmented", 400,
                                  opts_with([](xlsw::CfbOptions& o) { o.fragmented = true; })},
                      WrapperCase{"large_stream_not_first", 400,
                                  opts_with([](xlsw::CfbOptions& o) { o.stream_first = false; })},
                      WrapperCase{"large_book_name", 400,
                                  opts_with([](xlsw::CfbOptions& o) { o.stream_name = "Book"; })},
                      WrapperCase{"with_other_streams", 400, opts_with([](xlsw::CfbOptions& o) {
                                    o.other_streams = {{"\x05SummaryInformation", Bytes(600, 0x09)},
                                                       {"Ctls", Bytes(5000, 0x08)}};
                                    o.stream_first = false;
                                  })}),
    [](const auto& p) { return std::string(p.param.name); });

// A sheet read into the room of one given back holds exactly what a sheet
// read fresh holds: nothing of the earlier sheet's cells, numbers or texts
// stays behind, whether the later sheet is larger or smaller.
TEST(GiveBack, ReusedRoomLoadsTheSameSheets) {
  std::vector<Bytes> big, small, texts_only;
  for (uint16_t r = 0; r < 300; ++r)
    for (uint16_t c = 0; c < 6; ++c)
      big.push_back(c % 2 ? xlsw::number(r, c, 0, r + c / 10.0)
                          : xlsw::label(r, c, 0, "t" + std::to_string(r * 7 + c)));
  small = {xlsw::rk(1, 1, 0, xlsw::rk_int(5)), xlsw::number(0, 0, 0, 2.5)};
  texts_only = {xlsw::label(2, 0, 0, "only")};
  const Bytes stream = xlsw::workbook_stream(
      {"a", "b", "c", "d"}, {},
      {xlsw::worksheet(300, 6, big), xlsw::worksheet(3, 3, small),
       xlsw::worksheet(3, 1, texts_only), xlsw::worksheet(300, 6, big)});
  LoadOptions all;
  all.all = true;
  const LoadedWorkbook fresh = testsupport::load_loaded(xlsw::with_filler(stream), all);
  ASSERT_EQ(fresh.sheets.size(), 4u);

  WorkbookLoader loader(FileBytes(xlsw::with_filler(stream)), all);
  Workbook wb;
  loader.load_globals(wb);
  size_t i = 0;
  while (auto sheet = loader.next_sheet()) {
    ASSERT_LT(i, fresh.sheets.size());
    const Sheet& want = fresh.sheets[i];
    EXPECT_EQ(sheet->rows, want.rows) << i;
    EXPECT_EQ(sheet->cols, want.cols) << i;
    ASSERT_EQ(sheet->cells.size(), want.cells.size()) << i;
    for (size_t k = 0; k < want.cells.size(); ++k) {
      EXPECT_EQ(sheet->cells[k].key(), want.cells[k].key()) << i << " " << k;
      EXPECT_EQ(sheet->cells[k].kind, want.cells[k].kind) << i << " " << k;
      EXPECT_EQ(sheet->cells[k].value, want.cells[k].value) << i << " " << k;
    }
    EXPECT_EQ(sheet->numbers, want.numbers) << i;
    EXPECT_EQ(sheet->texts.bytes, want.texts.bytes) << i;
    EXPECT_EQ(sheet->texts.ends, want.texts.ends) << i;
    loader.give_back(std::move(*sheet));
    ++i;
  }
  EXPECT_EQ(i, 4u);
}

TEST(OpenWorkbook, MissingFileAndDirectoryGiveNone) {
  EXPECT_FALSE(open_workbook("/nonexistent/dir/book.xls").has_value());
  EXPECT_FALSE(open_workbook(SHEETDUMP_TEST_DIR).has_value());
}

}  // namespace
}  // namespace sheetdump
