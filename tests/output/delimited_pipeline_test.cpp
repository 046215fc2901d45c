// Sheets written while they load: the same bytes as the loaded sheet's,
// whether the watch runs to the end or is stopped on the way, at every
// report step, in CSV and TAB, sheet after sheet with one pipeline.
#include "output/delimited_pipeline.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "biff/workbook_loader.hpp"
#include "format/cell_text.hpp"
#include "output/delimited_writer.hpp"
#include "output/output_stream.hpp"
#include "output/sql_writer.hpp"
#include "support/xls_writer.hpp"

namespace sheetdump {
namespace {

using xlsw::Bytes;

// Every sheet of `stream` written as the program writes it: through a
// pipeline made by `make(helper)` where it watched the sheet to its end,
// else by `usual(render, sheet, out)`.
template <class Make, class Usual>
std::string convert_with(const Bytes& stream, const RenderOptions& options, size_t step,
                         bool pipelined, int* written_ahead, Make make, Usual usual) {
  WorkbookLoader loader(FileBytes(xlsw::with_filler(stream)));
  Workbook wb;
  loader.load_globals(wb);
  CellRenderer render(wb, options), helper(wb, options);
  DelimitedPipeline pipeline = make(helper);
  pipeline.step = step;
  std::string text;
  {
    OutputStream out(text);
    out.write("before\n");
    while (auto sheet = loader.next_sheet(pipelined ? &pipeline : nullptr)) {
      if (pipeline.ready()) {
        if (written_ahead != nullptr) ++*written_ahead;
        pipeline.write(render, *sheet, out);
      } else {
        usual(render, *sheet, out);
      }
      pipeline.stop();
      loader.give_back(std::move(*sheet));
    }
    out.write("after\n");
    out.flush();
  }
  return text;
}

// CSV or TAB.
std::string convert(const Bytes& stream, Delimited format, size_t step, bool pipelined,
                    int* written_ahead = nullptr) {
  return convert_with(
      stream, {}, step, pipelined, written_ahead,
      [format](CellRenderer& helper) { return DelimitedPipeline(format, helper, 1); },
      [format](CellRenderer& render, const Sheet& sheet, OutputStream& out) {
        if (format == Delimited::Csv)
          write_csv_sheet(render, sheet, out);
        else
          write_tab_sheet(render, sheet, out);
      });
}

// Rows of numbers and shared strings in position order, with rows left
// empty here and there and `blank_tail` empty rows at the end of the grid.
Bytes sheet_of(uint32_t seed, int32_t rows, uint16_t cols, int32_t blank_tail,
               std::vector<Bytes> extra = {}) {
  std::vector<Bytes> cells;
  uint32_t x = seed;
  auto next = [&x] { return x = x * 1103515245u + 12345u; };
  for (int32_t r = 0; r < rows; ++r) {
    const uint16_t row = uint16_t(r);
    if (next() % 5 == 0) continue;
    for (uint16_t c = 0; c < cols; ++c) {
      switch (next() % 6) {
        case 0:
          break;  // an empty position
        case 1:
          cells.push_back(xlsw::number(row, c, 0, double(int32_t(next() % 200000) - 100000) / 8));
          break;
        case 2:
          cells.push_back(xlsw::labelsst(row, c, 0, int32_t(next() % 4)));
          break;
        case 3:
          cells.push_back(xlsw::formula_number(row, c, 0, r * 1.5));
          break;
        default:
          cells.push_back(xlsw::rk(row, c, 0, xlsw::rk_int_cents(int32_t(next() % 100000))));
      }
    }
  }
  for (Bytes& e : extra) cells.push_back(std::move(e));
  return xlsw::worksheet(rows + blank_tail, cols, cells);
}

Bytes book(const std::vector<Bytes>& sheets) {
  std::vector<std::string> names;
  for (size_t i = 0; i < sheets.size(); ++i) names.push_back("s" + std::to_string(i));
  const Bytes sst = xlsw::sst(
      {xlsw::s8("plain"), xlsw::s8("with \"quotes\""), xlsw::s8("a,b"), xlsw::s8("tab\there")});
  return xlsw::workbook_stream(names, {xlsw::xf(0), sst}, sheets);
}

TEST(DelimitedPipeline, WritesTheBytesOfTheLoadedSheet) {
  struct Case {
    const char* name;
    Bytes stream;
    bool ahead;  // written through the pipeline
  };
  std::vector<Bytes> mulrk;
  for (uint16_t r = 0; r < 120; ++r)
    mulrk.push_back(xlsw::mulrk(r, 1, {{0, xlsw::rk_int(r)}, {0, xlsw::rk_int(-r)}}));
  const Case cases[] = {
      {"one row", book({sheet_of(1, 1, 9, 0)}), true},
      {"tall", book({sheet_of(2, 900, 4, 0)}), true},
      {"wide", book({sheet_of(3, 60, 256, 0)}), true},
      {"empty rows after the cells", book({sheet_of(4, 200, 7, 500)}), true},
      {"runs of MULRK", book({xlsw::worksheet(130, 4, mulrk)}), true},
      {"no cells", book({xlsw::worksheet(40, 5, {})}), true},
      {"cells outside the grid",
       book({sheet_of(5, 100, 6, 0, {xlsw::rk(99, 40, 0, 6), xlsw::rk(400, 0, 0, 6)})}), true},
      {"a cell going back", book({sheet_of(6, 300, 6, 0, {xlsw::rk(3, 0, 0, xlsw::rk_int(77))})}),
       false},
      {"a second grid", book({sheet_of(7, 300, 6, 0, {xlsw::dimensions(900, 3)})}), false},
      {"several sheets",
       book({sheet_of(8, 300, 5, 2), sheet_of(9, 10, 3, 0),
             sheet_of(10, 200, 8, 0, {xlsw::rk(0, 0, 0, 2)}), sheet_of(11, 400, 6, 0)}),
       true},
  };
  for (const Case& c : cases) {
    for (Delimited format : {Delimited::Csv, Delimited::Tab}) {
      const std::string want = convert(c.stream, format, 64, false);
      ASSERT_NE(want, "before\nafter\n") << c.name;
      for (size_t step : {size_t(1), size_t(100), size_t(5000), size_t(64) << 10}) {
        int ahead = 0;
        EXPECT_EQ(convert(c.stream, format, step, true, &ahead), want) << c.name << " " << step;
        EXPECT_EQ(ahead > 0, c.ahead) << c.name << " " << step;
      }
    }
  }
}

// SQL statements in `style`.
std::string convert_sql(const Bytes& stream, QuoteStyle style, size_t step, bool pipelined,
                        const RenderOptions& options, int* written_ahead = nullptr) {
  return convert_with(
      stream, options, step, pipelined, written_ahead,
      [style](CellRenderer& helper) { return DelimitedPipeline(style, helper, 1); },
      [style](CellRenderer& render, const Sheet& sheet, OutputStream& out) {
        write_sql_sheet(render, sheet, style, out);
      });
}

TEST(DelimitedPipeline, WritesTheStatementsOfTheLoadedSheet) {
  // Column names from row 0 (numbers and shared strings among them, and a
  // reserved word that needs quoting), texts that need escaping in either
  // style, dates under the override; sheets of one and two rows, a sheet
  // stopped on the way, several sheets.
  auto named = [](uint32_t seed, int32_t rows, std::vector<Bytes> extra = {}) {
    return sheet_of(seed, rows, 6, 0, std::move(extra));
  };
  std::vector<Bytes> dated_cells;
  for (uint16_t r = 0; r < 300; ++r) {
    dated_cells.push_back(xlsw::rk(r, 0, 1, xlsw::rk_int(40000 + r)));
    dated_cells.push_back(xlsw::labelsst(r, 1, 0, int32_t(r % 4)));
    dated_cells.push_back(xlsw::number(r, 3, 1, 40000.25 + r));
  }
  const Bytes sst = xlsw::sst(
      {xlsw::s8("it's"), xlsw::s8("back\\slash"), xlsw::s8("select"), xlsw::s8("plain")});
  auto sql_book = [&sst](const std::vector<Bytes>& sheets) {
    std::vector<std::string> sheet_names;
    for (size_t i = 0; i < sheets.size(); ++i) sheet_names.push_back("t " + std::to_string(i));
    return xlsw::workbook_stream(sheet_names, {xlsw::xf(0), xlsw::xf(14), sst}, sheets);
  };
  struct Case {
    const char* name;
    Bytes stream;
    bool ahead;
  };
  const Case cases[] = {
      {"tall", sql_book({named(21, 900)}), true},
      {"one row", sql_book({named(22, 1)}), false},
      {"two rows", sql_book({named(23, 2)}), true},
      {"a cell going back to row 0",
       sql_book({named(24, 300, {xlsw::rk(0, 5, 0, xlsw::rk_int(5))})}), false},
      {"several sheets", sql_book({named(25, 300), named(26, 1), named(27, 500)}), true},
      {"dates", sql_book({xlsw::worksheet(300, 4, dated_cells)}), true},
  };
  RenderOptions iso;
  iso.date_pattern = "%Y-%m-%d";
  for (const Case& c : cases) {
    for (QuoteStyle style : {QUOTE_ORACLE, QUOTE_POSTGRES}) {
      for (const RenderOptions& options : {RenderOptions{}, iso}) {
        const std::string want = convert_sql(c.stream, style, 64, false, options);
        for (size_t step : {size_t(1), size_t(100), size_t(64) << 10}) {
          int ahead = 0;
          EXPECT_EQ(convert_sql(c.stream, style, step, true, options, &ahead), want)
              << c.name << " " << step << " style " << style;
          EXPECT_EQ(ahead > 0, c.ahead) << c.name << " " << step;
        }
      }
    }
  }
}

TEST(DelimitedPipeline, TextHeldAheadWaitsAtItsBudget) {
  // A sheet of some 3 MB of text, with no memory to spare: the second
  // thread stops rendering at its smallest budget (under 2 MiB), waits for
  // the sheet's end and takes its turns; the bytes are the same.
  const Bytes stream = book({sheet_of(31, 24000, 20, 3)});
  for (Delimited format : {Delimited::Csv, Delimited::Tab}) {
    const std::string want = convert(stream, format, 64, false);
    ASSERT_GT(want.size(), size_t(2) << 20);
    WorkbookLoader loader(FileBytes(xlsw::with_filler(stream)));
    Workbook wb;
    loader.load_globals(wb);
    CellRenderer render(wb, {}), helper(wb, {});
    DelimitedPipeline pipeline(format, helper, 1);
    pipeline.memory_goal = 1;
    std::string text;
    {
      OutputStream out(text);
      out.write("before\n");
      auto sheet = loader.next_sheet(&pipeline);
      ASSERT_TRUE(sheet.has_value());
      ASSERT_TRUE(pipeline.ready());
      pipeline.write(render, *sheet, out);
      pipeline.stop();
      EXPECT_FALSE(loader.next_sheet(&pipeline).has_value());
      out.write("after\n");
    }
    EXPECT_TRUE(text == want) << text.size() << " " << want.size();
  }
}

TEST(DelimitedPipeline, LeavesSmallSheetsToTheUsualWriter) {
  const Bytes stream = book({sheet_of(12, 20, 5, 0)});
  WorkbookLoader loader(FileBytes(xlsw::with_filler(stream)));
  Workbook wb;
  loader.load_globals(wb);
  CellRenderer helper(wb, {});
  DelimitedPipeline pipeline(Delimited::Csv, helper, 101);  // the grid has room for 100
  auto sheet = loader.next_sheet(&pipeline);
  ASSERT_TRUE(sheet.has_value());
  EXPECT_FALSE(pipeline.ready());
}

}  // namespace
}  // namespace sheetdump
