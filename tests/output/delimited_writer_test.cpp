// CSV and TAB output: line shapes, empty positions, quote doubling in CSV,
// degenerate grids and several sheets in a row.
#include "output/delimited_writer.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "format/cell_text.hpp"
#include "support/model_builder.hpp"
#include "support/run_program.hpp"

namespace {

using testsupport::ModelBuilder;

std::string capture(void (*writer)(const sheetdump::Workbook&, sheetdump::OutputStream&),
                    const sheetdump::Workbook& wb) {
  char* data = nullptr;
  size_t size = 0;
  std::FILE* mem = open_memstream(&data, &size);
  if (mem == nullptr) return "<open_memstream failed>";
  {
    sheetdump::OutputStream out(mem);
    writer(wb, out);
    out.flush();
  }
  std::fclose(mem);
  std::string s(data, size);
  std::free(data);
  return s;
}

std::string csv(const sheetdump::Workbook& wb) {
  return capture(
      [](const sheetdump::Workbook& w, sheetdump::OutputStream& o) { sheetdump::write_csv(w, o); },
      wb);
}
std::string tab(const sheetdump::Workbook& wb) {
  return capture(
      [](const sheetdump::Workbook& w, sheetdump::OutputStream& o) { sheetdump::write_tab(w, o); },
      wb);
}

sheetdump::RenderOptions formatted() {
  sheetdump::RenderOptions o;
  o.rendering = sheetdump::Rendering::Formatted;
  return o;
}
std::string formatted_csv(const sheetdump::Workbook& wb) {
  return capture([](const sheetdump::Workbook& w,
                    sheetdump::OutputStream& o) { sheetdump::write_csv(w, o, formatted()); },
                 wb);
}
std::string formatted_tab(const sheetdump::Workbook& wb) {
  return capture([](const sheetdump::Workbook& w,
                    sheetdump::OutputStream& o) { sheetdump::write_tab(w, o, formatted()); },
                 wb);
}

class DelimitedWriter : public ::testing::Test {};

TEST_F(DelimitedWriter, TextEmptyAndNumberInOneRow) {
  ModelBuilder mb;
  mb.sheet("S", 1, 3).text(0, 0, "a").number(0, 2, 3.5);
  sheetdump::Workbook wb = mb.build();
  EXPECT_EQ(csv(wb), "\"a\",\"\",\"3.5\"\n");
  EXPECT_EQ(tab(wb), "a\t\t3.5\n");
}

TEST_F(DelimitedWriter, RowWithoutCellsGivesEmptyFields) {
  ModelBuilder mb;
  mb.sheet("S", 2, 3).text(1, 0, "x");
  sheetdump::Workbook wb = mb.build();
  EXPECT_EQ(csv(wb), "\"\",\"\",\"\"\n\"x\",\"\",\"\"\n");
  EXPECT_EQ(tab(wb), "\t\t\nx\t\t\n");
}

TEST_F(DelimitedWriter, GridStartsAtRowAndColumnZero) {
  ModelBuilder mb;
  mb.sheet("S", 3, 3).number(2, 2, 7);
  sheetdump::Workbook wb = mb.build();
  EXPECT_EQ(csv(wb), "\"\",\"\",\"\"\n\"\",\"\",\"\"\n\"\",\"\",\"7\"\n");
  EXPECT_EQ(tab(wb), "\t\t\n\t\t\n\t\t7\n");
}

TEST_F(DelimitedWriter, DegenerateGrids) {
  struct Case {
    int32_t rows, cols;
    const char* csv;
    const char* tab;
  };
  const Case cases[] = {
      {2, 0, "\"\"\n\"\"\n", "\n\n"},  // rows without columns
      {0, 3, "", ""},
      {0, 0, "", ""},
      {-1, 3, "", ""},
      {3, -1, "\"\"\n\"\"\n\"\"\n", "\n\n\n"},
      {1, 1, "\"\"\n", "\n"},
  };
  for (const Case& c : cases) {
    ModelBuilder mb;
    mb.sheet("S", c.rows, c.cols);
    sheetdump::Workbook wb = mb.build();
    EXPECT_EQ(csv(wb), c.csv) << c.rows << "x" << c.cols;
    EXPECT_EQ(tab(wb), c.tab) << c.rows << "x" << c.cols;
  }
  sheetdump::Workbook none;
  EXPECT_EQ(csv(none), "");
  EXPECT_EQ(tab(none), "");
}

TEST_F(DelimitedWriter, CsvDoublesQuotesAndKeepsEverythingElse) {
  struct Case {
    const char* text;
    const char* csv_field;  // between the field quotes
  };
  const Case cases[] = {
      {"say \"hi\"", "say \"\"hi\"\""},
      {"\"", "\"\""},
      {"\"\"", "\"\"\"\""},
      {"\"start", "\"\"start"},
      {"end\"", "end\"\""},
      {"a,b", "a,b"},
      {"tab\there", "tab\there"},
      {"two\nlines", "two\nlines"},
      {"cr\r\n", "cr\r\n"},
      {"back\\slash", "back\\slash"},
      {"it's", "it's"},
      {"\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9"},
  };
  for (const Case& c : cases) {
    ModelBuilder mb;
    mb.sheet("S", 1, 2).text(0, 0, c.text).text(0, 1, "z");
    sheetdump::Workbook wb = mb.build();
    EXPECT_EQ(csv(wb), std::string("\"") + c.csv_field + "\",\"z\"\n") << c.text;
    // TAB output writes texts exactly as they are.
    EXPECT_EQ(tab(wb), std::string(c.text) + "\tz\n") << c.text;
  }
}

TEST_F(DelimitedWriter, SheetsFollowOneAnotherDirectly) {
  ModelBuilder mb;
  mb.sheet("First", 2, 2).text(0, 0, "a").text(0, 1, "b").number(1, 0, 1).number(1, 1, 2);
  mb.sheet("Empty", 0, 0);
  mb.sheet(std::nullopt, 1, 1).text(0, 0, "c");
  sheetdump::Workbook wb = mb.build();
  EXPECT_EQ(csv(wb), "\"a\",\"b\"\n\"1\",\"2\"\n\"c\"\n");
  EXPECT_EQ(tab(wb), "a\tb\n1\t2\nc\n");
}

TEST_F(DelimitedWriter, NumbersAndDatesUseTheirBuiltInFormats) {
  ModelBuilder mb;
  mb.sheet("S", 1, 5)
      .number(0, 0, 27738.14929398148, 14)
      .number(0, 1, 27738.14929398148, 22)
      .number(0, 2, 1234.56, 44)
      .number(0, 3, 0.1)
      .number(0, 4, 1.2);
  sheetdump::Workbook wb = mb.build();
  EXPECT_EQ(csv(wb),
            "\"12/10/75\",\"12/10/75 03:34\",\"$#,##1234.56;($#,##0.00)\",\"0.1\",\"1.20000\"\n");
  EXPECT_EQ(tab(wb), "12/10/75\t12/10/75 03:34\t$#,##1234.56;($#,##0.00)\t0.1\t1.20000\n");
}

TEST_F(DelimitedWriter, SharedStringsOfEveryLengthAndPlace) {
  // Short strings are copied in with their separator, long ones (past the
  // 4096 bytes of that path and past the output's block) the general way;
  // a string used again, with or without a quote, prints the same.
  for (size_t len :
       {size_t(0), size_t(1), size_t(4095), size_t(4096), size_t(4097), size_t(70000)}) {
    const std::string plain(len, 'p');
    const std::string quoted = plain + "\"";
    ModelBuilder mb;
    mb.sheet("S", 2, 5)
        .text(0, 0, plain)
        .text(0, 1, quoted)
        .text(0, 4, plain)
        .text(1, 2, quoted)
        .text(1, 3, plain);
    sheetdump::Workbook wb = mb.build();
    const std::string q = plain + "\"\"";
    EXPECT_EQ(csv(wb), "\"" + plain + "\",\"" + q + "\",\"\",\"\",\"" + plain + "\"\n\"\",\"\",\"" +
                           q + "\",\"" + plain + "\",\"\"\n")
        << len;
    EXPECT_EQ(tab(wb),
              plain + "\t" + quoted + "\t\t\t" + plain + "\n\t\t" + quoted + "\t" + plain + "\t\n")
        << len;
  }
}

TEST_F(DelimitedWriter, FormattedTextsGoThroughATextSectionOnly) {
  // Under --formatted a code with a text section shows a shared string
  // through it; a code without one, like the general rule, shows it as it
  // is stored (and CSV still doubles its quotes).
  ModelBuilder mb;
  mb.format(164, "\"<\"@\">\"").format(165, "0.00");
  const uint16_t section = mb.xf_for(164), number = mb.xf_for(165);
  mb.sheet("S", 1, 5).text(0, 0, "a").text(0, 1, "b").text(0, 2, "say \"hi\"").text(0, 4, "c");
  sheetdump::Workbook wb = mb.build();
  const uint16_t xfs[] = {section, number, number, section};
  for (size_t i = 0; i < 4; ++i) wb.sheets[0].cells[i].xf = xfs[i];
  EXPECT_EQ(formatted_csv(wb), "\"<a>\",\"b\",\"say \"\"hi\"\"\",\"\",\"<c>\"\n");
  EXPECT_EQ(formatted_tab(wb), "<a>\tb\tsay \"hi\"\t\t<c>\n");
  EXPECT_EQ(tab(wb), "a\tb\tsay \"hi\"\t\tc\n");
}

TEST_F(DelimitedWriter, MissingSharedStringIsAnEmptyField) {
  ModelBuilder mb;
  mb.sheet("S", 1, 3).text(0, 0, "a").sst_index(0, 1, 99).text(0, 2, "c");
  sheetdump::Workbook wb = mb.build();
  EXPECT_EQ(csv(wb), "\"a\",\"\",\"c\"\n");
  EXPECT_EQ(tab(wb), "a\t\tc\n");
}

TEST_F(DelimitedWriter, WideRowsAndManyRows) {
  // A full-width row and a long column: every position is visited once, in
  // order, with the cells where they belong.
  ModelBuilder mb;
  auto sheet = mb.sheet("S", 300, 256);
  for (int c = 0; c < 256; c += 5) sheet.number(0, uint8_t(c), c);
  for (int r = 1; r < 300; r += 7) sheet.text(uint16_t(r), 255, "end" + std::to_string(r));
  sheetdump::Workbook wb = mb.build();
  std::string expected;
  for (int r = 0; r < 300; ++r) {
    for (int c = 0; c < 256; ++c) {
      if (c > 0) expected += '\t';
      if (r == 0 && c % 5 == 0) expected += std::to_string(c);
      if (r > 0 && (r - 1) % 7 == 0 && c == 255) expected += "end" + std::to_string(r);
    }
    expected += '\n';
  }
  EXPECT_EQ(tab(wb), expected);
}

TEST_F(DelimitedWriter, IsoDateOptionHasNoEffectOnCsvOrTab) {
  // basic.xls holds a date cell of format 165 (serial 0.5).
  const std::string book = std::string(SHEETDUMP_SOURCE_DIR) + "/examples/basic.xls";
  for (const char* mode : {"--csv", "--tab"}) {
    SCOPED_TRACE(mode);
    auto plain = testsupport::run_sheetdump({mode, book});
    auto iso = testsupport::run_sheetdump({"--isodate", mode, book});
    auto iso_after = testsupport::run_sheetdump({mode, "-i", book});
    EXPECT_EQ(plain.status, 1);
    EXPECT_EQ(plain.err, "");
    EXPECT_NE(plain.out.find("12/30/99 12:00 PM"), std::string::npos);
    EXPECT_EQ(plain.out.find("1899-12-30"), std::string::npos);
    EXPECT_EQ(iso.out, plain.out);
    EXPECT_EQ(iso_after.out, plain.out);
  }
  // The same option does change SQL output.
  auto sql = testsupport::run_sheetdump({"--sql", "--isodate", book});
  EXPECT_NE(sql.out.find("'1899-12-30 12:00:00'"), std::string::npos);
}

}  // namespace

namespace {

// A sheet's text written by one writer call into memory.
template <class Write>
std::string sheet_text(Write write) {
  std::string text;
  {
    sheetdump::OutputStream out(text);
    write(out);
    out.flush();
  }
  return text;
}

// A sheet of `rows` x `cols` with cells of every kind in some positions,
// rows without cells among them (at the start, in the middle, at the end).
sheetdump::Workbook varied_workbook(uint32_t seed, int32_t rows, int32_t cols) {
  ModelBuilder mb;
  mb.format(164, "0.000;[Red]-0.000").format(165, "\"<\"@\">\"");
  auto sheet = mb.sheet("S", rows, cols);
  uint32_t x = seed;
  auto next = [&x] {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return x;
  };
  for (int32_t r = 0; r < rows; ++r) {
    if (next() % 5 == 0) continue;  // a row without cells
    for (int32_t c = 0; c < cols; ++c) {
      const uint32_t pick = next() % 12;
      const auto row = uint16_t(r);
      const auto col = uint8_t(c);
      switch (pick) {
        case 0:
          sheet.text(row, col, "t" + std::to_string(next() % 50));
          break;
        case 1:
          sheet.text(row, col, "say \"" + std::to_string(next() % 9) + "\"");
          break;
        case 2:
          sheet.number(row, col, double(int32_t(next() % 2000000) - 1000000) / 100.0);
          break;
        case 3:
          sheet.number(row, col, double(next() % 50000), 14);
          break;
        case 4:
          sheet.rk(row, col, (next() % 100000) << 2 | 2);
          break;
        case 5:
          sheet.rk(row, col, (next() % 100000) << 2 | 3);
          break;
        case 6:
          sheet.number(row, col, double(next()) / 7.0, 164);
          break;
        case 7:
          sheet.inline_text(row, col, "inline");
          break;
        case 8:
          sheet.boolean(row, col, next() % 2 == 0);
          break;
        case 9:
          sheet.error(row, col, 0x07);
          break;
        case 10:
          sheet.number(row, col, double(next() % 100) / 3.0, 165);
          break;
        default:
          break;  // an empty position
      }
    }
  }
  return mb.build();
}

TEST(DelimitedWriterTwoThreads, WritesTheSameBytesAsOne) {
  // Every rendering, CSV and TAB, grids of one row, of a few rows, tall and
  // wide, with rows without cells wherever the middle cell falls; and a
  // sheet without cells and one whose cells all lie in its first row
  // (nothing to hand the second thread).
  struct Shape {
    int32_t rows, cols;
  };
  const Shape shapes[] = {{1, 1}, {1, 9}, {2, 3}, {3, 1}, {40, 7}, {700, 12}, {60, 256}};
  std::vector<sheetdump::RenderOptions> renderings(4);
  renderings[1].all = true;
  renderings[2].rendering = sheetdump::Rendering::Exact;
  renderings[3].rendering = sheetdump::Rendering::Formatted;
  std::vector<sheetdump::Workbook> books;
  for (const Shape& s : shapes)
    for (uint32_t seed : {1u, 77u, 2026u}) books.push_back(varied_workbook(seed, s.rows, s.cols));
  ModelBuilder empty;
  empty.sheet("E", 5, 4);
  books.push_back(empty.build());
  ModelBuilder first_row;
  first_row.sheet("F", 9, 3).text(0, 0, "a").number(0, 2, 1.5);
  books.push_back(first_row.build());
  for (const sheetdump::Workbook& wb : books) {
    for (const sheetdump::RenderOptions& options : renderings) {
      sheetdump::CellRenderer one(wb, options), two(wb, options);
      const sheetdump::Sheet& sheet = wb.sheets[0];
      const std::string csv1 = sheet_text(
          [&](sheetdump::OutputStream& o) { sheetdump::write_csv_sheet(one, sheet, o); });
      const std::string csv2 = sheet_text(
          [&](sheetdump::OutputStream& o) { sheetdump::write_csv_sheet(one, sheet, o, &two); });
      EXPECT_EQ(csv2, csv1) << sheet.rows << "x" << sheet.cols;
      const std::string tab1 = sheet_text(
          [&](sheetdump::OutputStream& o) { sheetdump::write_tab_sheet(one, sheet, o); });
      const std::string tab2 = sheet_text(
          [&](sheetdump::OutputStream& o) { sheetdump::write_tab_sheet(one, sheet, o, &two); });
      EXPECT_EQ(tab2, tab1) << sheet.rows << "x" << sheet.cols;
      EXPECT_FALSE(csv1.empty());
    }
  }
}

TEST(DelimitedWriterTwoThreads, FollowsWhatIsBufferedAlready) {
  // The second thread's text goes after what the stream holds and before
  // what comes next, as one thread's would.
  sheetdump::Workbook wb = varied_workbook(5, 300, 20);
  sheetdump::CellRenderer one(wb, {}), two(wb, {});
  const std::string whole = sheet_text([&](sheetdump::OutputStream& o) {
    o.write("before\n");
    sheetdump::write_csv_sheet(one, wb.sheets[0], o, &two);
    o.write("after\n");
  });
  const std::string alone = sheet_text(
      [&](sheetdump::OutputStream& o) { sheetdump::write_csv_sheet(one, wb.sheets[0], o); });
  EXPECT_EQ(whole, "before\n" + alone + "after\n");
}

}  // namespace
