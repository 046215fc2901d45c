// SQL output: statement shape, NULLs, escaping under both quote styles,
// identifiers that need quoting, the date override and sheet shapes.
#include "output/sql_writer.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "format/cell_text.hpp"
#include "output/sql_session.hpp"
#include "support/model_builder.hpp"

namespace {

using sheetdump::QUOTE_ORACLE;
using sheetdump::QUOTE_POSTGRES;
using sheetdump::QuoteStyle;
using testsupport::ModelBuilder;

constexpr const char* kIso = "%Y-%m-%d %H:%M:%S";

std::string sql(const sheetdump::Workbook& wb, QuoteStyle style = QUOTE_ORACLE,
                const char* date_pattern = nullptr, sheetdump::RenderOptions options = {}) {
  char* data = nullptr;
  size_t size = 0;
  std::FILE* mem = open_memstream(&data, &size);
  if (mem == nullptr) return "<open_memstream failed>";
  {
    sheetdump::OutputStream out(mem);
    sheetdump::write_sql(wb, date_pattern, style, out, options);
    out.flush();
  }
  std::fclose(mem);
  std::string s(data, size);
  std::free(data);
  return s;
}

class SqlWriter : public ::testing::Test {
 protected:
  // A sheet "Items" with columns id and note and one data row holding `text`.
  static sheetdump::Workbook items_with(std::string_view text) {
    ModelBuilder mb;
    mb.sheet("Items", 2, 2).text(0, 0, "id").text(0, 1, "note").number(1, 0, 1).text(1, 1, text);
    return mb.build();
  }
};

TEST_F(SqlWriter, ItemsExampleInBothQuoteStyles) {
  sheetdump::Workbook wb = items_with("it's");
  EXPECT_EQ(sql(wb, QUOTE_ORACLE), "INSERT INTO Items (id,note) values ('1','it''s');\n");
  EXPECT_EQ(sql(wb, QUOTE_POSTGRES), "INSERT INTO Items (id,note) values ('1','it\\'s');\n");
}

TEST_F(SqlWriter, EmptyPositionsAreNull) {
  ModelBuilder mb;
  mb.sheet("Items", 4, 2)
      .text(0, 0, "id")
      .text(0, 1, "note")
      .number(2, 1, 5)
      .text(3, 0, "x")
      .sst_index(3, 1, 1000);  // a text the table does not hold
  sheetdump::Workbook wb = mb.build();
  EXPECT_EQ(sql(wb),
            "INSERT INTO Items (id,note) values (NULL,NULL);\n"
            "INSERT INTO Items (id,note) values (NULL,'5');\n"
            "INSERT INTO Items (id,note) values ('x',NULL);\n");
}

// Each shared string is searched once per sheet and then reused: a string
// that needs escaping stays escaped at every use, a plain one stays plain,
// and gaps before, between and after the cells of a row are NULL.
TEST_F(SqlWriter, SharedStringsKeepTheirEscapingAtEveryUse) {
  ModelBuilder mb;
  auto s = mb.sheet("T", 4, 4);
  s.text(0, 0, "a").text(0, 1, "b").text(0, 2, "c").text(0, 3, "d");
  s.text(1, 1, "it's").text(1, 3, "plain");
  s.text(2, 0, "plain").number(2, 1, -2.5).text(2, 2, "it's");
  s.text(3, 2, "it's").text(3, 3, "it's");
  sheetdump::Workbook wb = mb.build();
  EXPECT_EQ(sql(wb, QUOTE_ORACLE),
            "INSERT INTO T (a,b,c,d) values (NULL,'it''s',NULL,'plain');\n"
            "INSERT INTO T (a,b,c,d) values ('plain','-2.5','it''s',NULL);\n"
            "INSERT INTO T (a,b,c,d) values (NULL,NULL,'it''s','it''s');\n");
  EXPECT_EQ(sql(wb, QUOTE_POSTGRES),
            "INSERT INTO T (a,b,c,d) values (NULL,'it\\'s',NULL,'plain');\n"
            "INSERT INTO T (a,b,c,d) values ('plain','-2.5','it\\'s',NULL);\n"
            "INSERT INTO T (a,b,c,d) values (NULL,NULL,'it\\'s','it\\'s');\n");
}

TEST_F(SqlWriter, FormattedTextsGoThroughATextSectionOnly) {
  // Under --formatted a shared string goes through its code's text
  // section; without one it is written as stored, escaped once per string
  // like the default's, and, as every formatted text, cut at 64 KiB.
  ModelBuilder mb;
  mb.format(164, "\"<\"@\">\"").format(165, "0.00");
  const uint16_t section = mb.xf_for(164), number = mb.xf_for(165);
  const std::string longest(70000, 'x');
  mb.sheet("T", 2, 5)
      .text(0, 0, "a")
      .text(0, 1, "b")
      .text(0, 2, "c")
      .text(0, 3, "d")
      .text(0, 4, "e")
      .text(1, 0, "it's")
      .text(1, 1, "it's")
      .text(1, 2, "plain")
      .text(1, 3, longest)
      .text(1, 4, longest);
  sheetdump::Workbook wb = mb.build();
  const uint16_t beyond = mb.xf_for(-1);  // no XF record: the general rule
  const uint16_t xfs[] = {section, number, number, number, beyond};
  for (size_t i = 0; i < 5; ++i) {
    wb.sheets[0].cells[i].xf = number;  // the column names
    wb.sheets[0].cells[5 + i].xf = xfs[i];
  }
  sheetdump::RenderOptions o;
  o.rendering = sheetdump::Rendering::Formatted;
  const std::string got = sql(wb, QUOTE_ORACLE, nullptr, o);
  const std::string want = "INSERT INTO T (a,b,c,d,e) values ('<it''s>','it''s','plain','" +
                           std::string(64 * 1024, 'x') + "','" + longest + "');\n";
  EXPECT_TRUE(got == want) << got.substr(0, 80) << "... (" << got.size() << " bytes, want "
                           << want.size() << ")";
}

TEST_F(SqlWriter, ValueEscaping) {
  struct Case {
    const char* text;
    const char* oracle;
    const char* postgres;
  };
  const Case cases[] = {
      {"", "''", "''"},
      {"'", "''''", "'\\''"},
      {"''", "''''''", "'\\'\\''"},
      {"it's", "'it''s'", "'it\\'s'"},
      // Backslashes: unchanged under Oracle quoting, doubled under
      // PostgreSQL quoting, where the server reads them as escapes.
      {"C:\\temp", "'C:\\temp'", "'C:\\\\temp'"},
      {"ends\\", "'ends\\'", "'ends\\\\'"},
      {"\\'", "'\\'''", "'\\\\\\''"},
      {"\\\\", "'\\\\'", "'\\\\\\\\'"},
      // Nothing else is touched.
      {"a\"b", "'a\"b'", "'a\"b'"},
      {"x; DROP TABLE t; --", "'x; DROP TABLE t; --'", "'x; DROP TABLE t; --'"},
      {"line\nfeed\r\tand,comma", "'line\nfeed\r\tand,comma'", "'line\nfeed\r\tand,comma'"},
      {"/* c */", "'/* c */'", "'/* c */'"},
      {"\xC3\xA9t\xC3\xA9", "'\xC3\xA9t\xC3\xA9'", "'\xC3\xA9t\xC3\xA9'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    sheetdump::Workbook wb = items_with(c.text);
    const std::string head = "INSERT INTO Items (id,note) values ('1',";
    EXPECT_EQ(sql(wb, QUOTE_ORACLE), head + c.oracle + ");\n");
    EXPECT_EQ(sql(wb, QUOTE_POSTGRES), head + c.postgres + ");\n");

    std::string value;
    sheetdump::append_sql_value(value, c.text, QUOTE_ORACLE);
    EXPECT_EQ(value, c.oracle);
    value.clear();
    sheetdump::append_sql_value(value, c.text, QUOTE_POSTGRES);
    EXPECT_EQ(value, c.postgres);
  }
}

TEST_F(SqlWriter, AnyOtherQuoteStyleBehavesAsOracle) {
  sheetdump::Workbook wb = items_with("it's C:\\x");
  for (int style : {0, 3, -1, 255}) {
    EXPECT_EQ(sql(wb, QuoteStyle(style)),
              "INSERT INTO Items (id,note) values ('1','it''s C:\\x');\n")
        << style;
  }
}

TEST_F(SqlWriter, SheetNames) {
  struct Case {
    std::optional<std::string> name;
    const char* head;
  };
  const Case cases[] = {
      {std::nullopt, "INSERT INTO ?TABLE? ("},
      {std::string(), "INSERT INTO  ("},
      {std::string("Sheet1"), "INSERT INTO Sheet1 ("},
      {std::string("My Sheet"), "INSERT INTO \"My Sheet\" ("},
      {std::string("t; DROP TABLE x"), "INSERT INTO \"t; DROP TABLE x\" ("},
      {std::string("q\"uote"), "INSERT INTO \"q\"\"uote\" ("},
      {std::string("2024"), "INSERT INTO \"2024\" ("},
  };
  for (const Case& c : cases) {
    ModelBuilder mb;
    mb.sheet(c.name, 2, 1).text(0, 0, "a").text(1, 0, "v");
    sheetdump::Workbook wb = mb.build();
    EXPECT_EQ(sql(wb), std::string(c.head) + "a) values ('v');\n");
  }
}

TEST_F(SqlWriter, Identifiers) {
  struct Case {
    const char* name;
    const char* written;
  };
  const Case cases[] = {
      // Plain: written as they are.
      {"id", "id"},
      {"Items", "Items"},
      {"_x", "_x"},
      {"a1", "a1"},
      {"cost$", "cost$"},
      {"a_b$9", "a_b$9"},
      {"\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9"},  // bytes >= 0x80 count as letters
      {"\x80", "\x80"},
      {"\xFF"
       "1$",
       "\xFF"
       "1$"},
      // Not plain: double-quoted, inner double quotes doubled.
      {"Unit Price", "\"Unit Price\""},
      {"1975-12-10 03:34:59", "\"1975-12-10 03:34:59\""},
      {"a) values (1); DROP TABLE t; --", "\"a) values (1); DROP TABLE t; --\""},
      {"1col", "\"1col\""},
      {"$x", "\"$x\""},
      {"9", "\"9\""},
      {"a-b", "\"a-b\""},
      {"a.b", "\"a.b\""},
      {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"\"", "\"\"\"\""},
      {"it's", "\"it's\""},
      {" lead", "\" lead\""},
      {"tab\t", "\"tab\t\""},
      {"", ""},
  };
  for (const Case& c : cases) {
    std::string out = "<";
    sheetdump::append_identifier(out, c.name);
    EXPECT_EQ(out, std::string("<") + c.written) << c.name;
  }

  // The same rule for column names coming from row 0.
  ModelBuilder mb;
  mb.sheet("T", 2, 4)
      .text(0, 0, "Unit Price")
      .text(0, 1, "a) values (1); DROP TABLE t; --")
      .text(0, 2, "ok_1")
      .number(0, 3, 2024)
      .number(1, 0, 9.5);
  sheetdump::Workbook wb = mb.build();
  EXPECT_EQ(sql(wb),
            "INSERT INTO T (\"Unit Price\",\"a) values (1); DROP TABLE t; --\",ok_1,\"2024\") "
            "values ('9.5',NULL,NULL,NULL);\n");
}

TEST_F(SqlWriter, ColumnListWithEmptyPositions) {
  ModelBuilder mb;
  mb.sheet("A", 2, 3).text(0, 0, "a").text(0, 2, "c").number(1, 1, 2);
  mb.sheet("B", 2, 3).text(0, 1, "b").text(0, 2, "").number(1, 0, 3);
  sheetdump::Workbook wb = mb.build();
  EXPECT_EQ(sql(wb),
            "INSERT INTO A (a,,c) values (NULL,'2',NULL);\n"
            "INSERT INTO B (,b,) values ('3',NULL,NULL);\n");
}

TEST_F(SqlWriter, SheetShapes) {
  ModelBuilder mb;
  mb.sheet("OneRow", 1, 2).text(0, 0, "a").text(0, 1, "b");
  mb.sheet("Empty", 0, 0);
  mb.sheet("Negative", -3, 2);
  mb.sheet("NoCols", 3, 0);
  sheetdump::Workbook wb = mb.build();
  EXPECT_EQ(sql(wb),
            "INSERT INTO NoCols () values ();\n"
            "INSERT INTO NoCols () values ();\n");

  ModelBuilder items;
  items.sheet("Items", 2, 0);
  sheetdump::Workbook only = items.build();
  EXPECT_EQ(sql(only), "INSERT INTO Items () values ();\n");
  EXPECT_EQ(sql(sheetdump::Workbook{}), "");
}

TEST_F(SqlWriter, ThreeSheetsOfTwoOneAndFiveRows) {
  ModelBuilder mb;
  mb.sheet("First", 2, 1).text(0, 0, "k").number(1, 0, 1);
  mb.sheet("Second", 1, 1).text(0, 0, "k");
  auto third = mb.sheet("Third", 5, 1).text(0, 0, "k");
  for (int r = 1; r < 5; ++r) third.number(uint16_t(r), 0, r * 10);
  sheetdump::Workbook wb = mb.build();
  EXPECT_EQ(sql(wb),
            "INSERT INTO First (k) values ('1');\n"
            "INSERT INTO Third (k) values ('10');\n"
            "INSERT INTO Third (k) values ('20');\n"
            "INSERT INTO Third (k) values ('30');\n"
            "INSERT INTO Third (k) values ('40');\n");
}

TEST_F(SqlWriter, DatesInTheColumnListAndValuesFollowTheOverride) {
  ModelBuilder mb;
  mb.sheet("D", 2, 2)
      .number(0, 0, 27738.14929398148, 14)
      .text(0, 1, "n")
      .number(1, 0, 27738.14929398148, 22)
      .number(1, 1, 1234.56, 2);
  sheetdump::Workbook wb = mb.build();
  EXPECT_EQ(sql(wb, QUOTE_ORACLE, nullptr),
            "INSERT INTO D (\"12/10/75\",n) values ('12/10/75 03:34','1234.56');\n");
  EXPECT_EQ(sql(wb, QUOTE_ORACLE, kIso),
            "INSERT INTO D (\"1975-12-10 03:34:59\",n) values "
            "('1975-12-10 03:34:59','1234.56');\n");
}

TEST_F(SqlWriter, DatePatternHoldsForOneWriteOnly) {
  ModelBuilder mb;
  mb.sheet("D", 2, 1).text(0, 0, "d").number(1, 0, 27738.14929398148, 14);
  sheetdump::Workbook wb = mb.build();
  EXPECT_EQ(sql(wb, QUOTE_ORACLE, kIso), "INSERT INTO D (d) values ('1975-12-10 03:34:59');\n");
  // Nothing of the earlier run's pattern stays behind.
  EXPECT_EQ(sql(wb, QUOTE_ORACLE, nullptr), "INSERT INTO D (d) values ('12/10/75');\n");
  sheetdump::TextBuffer buf;
  EXPECT_EQ(sheetdump::cell_text(wb, wb.sheets[0], 1, 0, buf).value_or(""), "12/10/75");
}

TEST_F(SqlWriter, RowZeroIsNeverAValueRow) {
  ModelBuilder mb;
  mb.sheet("S", 3, 1).text(0, 0, "name").text(1, 0, "first").text(2, 0, "second");
  sheetdump::Workbook wb = mb.build();
  EXPECT_EQ(sql(wb),
            "INSERT INTO S (name) values ('first');\n"
            "INSERT INTO S (name) values ('second');\n");
}

TEST_F(SqlWriter, LongColumnListsAreWrittenWhole) {
  // 256 columns of long names: far beyond 4 KB of statement head.
  ModelBuilder mb;
  auto sheet = mb.sheet("Wide", 2, 256);
  std::string names;
  std::string values;
  for (int c = 0; c < 256; ++c) {
    std::string name = "column_" + std::to_string(c) + std::string(40, 'x');
    sheet.text(0, uint8_t(c), name).number(1, uint8_t(c), c);
    names += (c ? "," : "") + name;
    values += (c ? ",'" : "'") + std::to_string(c) + "'";
  }
  sheetdump::Workbook wb = mb.build();
  EXPECT_EQ(sql(wb), "INSERT INTO Wide (" + names + ") values (" + values + ");\n");
}

// What `write` puts on a memory stream.
template <class Write>
std::string stream_text(Write write) {
  std::string text;
  {
    sheetdump::OutputStream out(text);
    write(out);
    out.flush();
  }
  return text;
}

// A sheet of `rows` x `cols` with texts (some with quotes and backslashes),
// numbers of several formats, RK values, booleans, errors, empty positions
// and rows without cells, row 0 included.
sheetdump::Workbook varied_sql_workbook(uint32_t seed, int32_t rows, int32_t cols) {
  ModelBuilder mb;
  auto sheet = mb.sheet("Data", rows, cols);
  uint32_t x = seed;
  auto next = [&x] {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return x;
  };
  for (int32_t r = 0; r < rows; ++r) {
    if (next() % 6 == 0) continue;
    for (int32_t c = 0; c < cols; ++c) {
      const auto row = uint16_t(r);
      const auto col = uint8_t(c);
      switch (next() % 9) {
        case 0:
          sheet.text(row, col, "it's " + std::to_string(next() % 40));
          break;
        case 1:
          sheet.text(row, col, "back\\slash " + std::to_string(next() % 7));
          break;
        case 2:
          sheet.number(row, col, double(int32_t(next() % 2000000) - 1000000) / 100.0);
          break;
        case 3:
          sheet.number(row, col, double(next() % 50000), 14);
          break;
        case 4:
          sheet.rk(row, col, (next() % 100000) << 2 | 3);
          break;
        case 5:
          sheet.boolean(row, col, next() % 2 == 0);
          break;
        case 6:
          sheet.error(row, col, 0x07);
          break;
        case 7:
          sheet.inline_text(row, col, "inline");
          break;
        default:
          break;
      }
    }
  }
  return mb.build();
}

TEST(SqlWriterTwoThreads, WritesTheSameBytesAsOne) {
  // Both quote styles, the default and the --all rendering, with and
  // without --create; grids of two rows (nothing for a second thread), a
  // few rows and many, wherever the middle cell falls.
  struct Shape {
    int32_t rows, cols;
  };
  const Shape shapes[] = {{2, 3}, {3, 1}, {41, 7}, {900, 12}};
  std::vector<sheetdump::RenderOptions> renderings(2);
  renderings[1].all = true;
  for (const Shape& shape : shapes) {
    for (uint32_t seed : {3u, 2026u}) {
      const sheetdump::Workbook wb = varied_sql_workbook(seed, shape.rows, shape.cols);
      for (const sheetdump::RenderOptions& options : renderings) {
        for (QuoteStyle style : {QUOTE_ORACLE, QUOTE_POSTGRES}) {
          for (bool create : {false, true}) {
            std::string text[2];
            for (int threads = 1; threads <= 2; ++threads) {
              sheetdump::CellRenderer one(wb, options), two(wb, options);
              sheetdump::SqlSession session(style, create);
              text[threads - 1] = stream_text([&](sheetdump::OutputStream& out) {
                session.start(out);
                session.begin_workbook(out);
                out.write("before\n");
                session.write_sheet(one, wb.sheets[0], out, threads == 2 ? &two : nullptr);
                out.write("after\n");
                session.end_workbook(out);
              });
            }
            EXPECT_EQ(text[1], text[0]) << shape.rows << "x" << shape.cols << " seed " << seed
                                        << " style " << style << " create " << create;
            EXPECT_NE(text[0].find("INSERT INTO"), std::string::npos);
          }
        }
      }
    }
  }
}

}  // namespace
