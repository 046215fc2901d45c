// The rules of --create on their own: value classes and column types,
// column letters and repaired names, and the statements a session writes
// for workbooks of the same and of another layout.
#include "output/sql_session.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/model_builder.hpp"

namespace sheetdump {
namespace {

struct ClassCase {
  const char* text;
  bool number_cell;
  bool boolean_cell;
  ValueClass want;
};

TEST(SqlSessionRules, ValueClasses) {
  const ClassCase cases[] = {
      {"0", true, false, ValueClass::Int32},
      {"-2147483648", true, false, ValueClass::Int32},
      {"2147483648", true, false, ValueClass::Int64},
      {"9223372036854775807", true, false, ValueClass::Int64},
      {"9223372036854775808", true, false, ValueClass::Other},  // beyond 64 bits
      {"007", false, false, ValueClass::Other},                 // a code keeps its zeros
      {"1.5", true, false, ValueClass::Double},
      {"1e-7", true, false, ValueClass::Double},
      {"1e999", true, false, ValueClass::Other},
      {"#,##1235", true, false, ValueClass::Other},
      {"12/10/75", true, false, ValueClass::Other},
      {"1975-12-10", true, false, ValueClass::Date},
      {"1975-12-10", false, false, ValueClass::Other},  // a text that looks like a date
      {"1900-02-29", true, false, ValueClass::Other},   // the spreadsheet's own day
      {"03:34:59", true, false, ValueClass::Time},
      {"36:00:00", true, false, ValueClass::Other},  // a duration
      {"1975-12-10 03:34:59.250", true, false, ValueClass::Timestamp},
      {"TRUE", false, true, ValueClass::Boolean},
      {"TRUE", false, false, ValueClass::Other},
  };
  for (const ClassCase& c : cases)
    EXPECT_EQ(classify_value(c.text, c.number_cell, c.boolean_cell), c.want) << c.text;
}

TEST(SqlSessionRules, ColumnTypes) {
  auto type_of = [](std::vector<std::pair<ValueClass, std::string>> values) {
    ColumnGuess g;
    for (auto& [c, t] : values) g.add(c, t);
    return g.type();
  };
  EXPECT_EQ(type_of({}), SqlType::Text);
  EXPECT_EQ(type_of({{ValueClass::Int32, "1"}, {ValueClass::Int32, "2"}}), SqlType::Integer);
  EXPECT_EQ(type_of({{ValueClass::Int32, "1"}, {ValueClass::Int64, "5000000000"}}),
            SqlType::BigInt);
  EXPECT_EQ(type_of({{ValueClass::Int32, "1"}, {ValueClass::Double, "1.5"}}), SqlType::Double);
  EXPECT_EQ(type_of({{ValueClass::Date, "1975-12-10"}, {ValueClass::Time, "03:00:00"}}),
            SqlType::Text);
  EXPECT_EQ(type_of({{ValueClass::Boolean, "TRUE"}}), SqlType::Boolean);
  EXPECT_EQ(type_of({{ValueClass::Int32, "1"}, {ValueClass::Other, "x"}}), SqlType::Text);
}

TEST(SqlSessionRules, ColumnLettersAndRepairedNames) {
  EXPECT_EQ(column_letter(0), "A");
  EXPECT_EQ(column_letter(25), "Z");
  EXPECT_EQ(column_letter(26), "AA");
  EXPECT_EQ(column_letter(255), "IV");
  EXPECT_EQ(repair_column_names({"id", "", "ID", "c", "id"}),
            (std::vector<std::string>{"id", "B", "ID_2", "c", "id_3"}));
}

std::string session_output(const std::vector<sheetdump::Workbook>& books, QuoteStyle style) {
  char* data = nullptr;
  size_t size = 0;
  std::FILE* mem = open_memstream(&data, &size);
  {
    OutputStream out(mem);
    SqlSession sql(style, true);
    sql.start(out);
    for (const Workbook& wb : books) {
      CellRenderer render(wb, RenderOptions{});
      sql.begin_workbook(out);
      for (const Sheet& s : wb.sheets) sql.write_sheet(render, s, out);
      sql.end_workbook(out);
    }
    out.flush();
  }
  std::fclose(mem);
  std::string s(data, size);
  std::free(data);
  return s;
}

TEST(SqlSessionStatements, SameLayoutReusesTheTableOtherLayoutsGetANewOne) {
  testsupport::ModelBuilder a, b, c;
  a.sheet("t", 2, 2).text(0, 0, "n").text(0, 1, "").number(1, 0, 1).text(1, 1, "x");
  b.sheet("t", 2, 2).text(0, 0, "n").text(0, 1, "").number(1, 0, 2).text(1, 1, "y");
  c.sheet("t", 2, 1).text(0, 0, "other").number(1, 0, 3);
  std::string got = session_output({a.build(), b.build(), c.build()}, QUOTE_ORACLE);
  EXPECT_EQ(got,
            "BEGIN;\n"
            "CREATE TABLE t (n INTEGER, B TEXT);\n"
            "INSERT INTO t (n,B) values ('1','x');\n"
            "COMMIT;\n"
            "BEGIN;\n"
            "INSERT INTO t (n,B) values ('2','y');\n"
            "COMMIT;\n"
            "BEGIN;\n"
            "CREATE TABLE t_2 (other INTEGER);\n"
            "INSERT INTO t_2 (other) values ('3');\n"
            "COMMIT;\n");
}

TEST(SqlSessionStatements, PostgresQuotingStartsWithItsSettings) {
  testsupport::ModelBuilder a;
  a.sheet("order", 1, 1).text(0, 0, "user");
  std::string got = session_output({a.build()}, QUOTE_POSTGRES);
  EXPECT_EQ(got,
            "SET client_encoding = 'UTF8';\n"
            "SET standard_conforming_strings = off;\n"
            "SET escape_string_warning = off;\n"
            "BEGIN;\n"
            "CREATE TABLE \"order\" (\"user\" TEXT);\n"
            "COMMIT;\n");
}

}  // namespace
}  // namespace sheetdump
