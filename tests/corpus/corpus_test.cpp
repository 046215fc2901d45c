// The conformance corpus: workbooks written by independent spreadsheet
// programs, each converted in every output mode by the built binary and
// compared byte for byte with its expected output NAME.MODE.out.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "biff/workbook_loader.hpp"
#include "support/run_program.hpp"

namespace {

namespace fs = std::filesystem;

const std::string kCorpusDir = SHEETDUMP_TEST_DIR "/corpus";

struct Mode {
  const char* name;  // suffix of the expected output file
  std::vector<std::string> options;
};

const Mode kModes[] = {
    {"csv", {}},
    {"tab", {"--tab"}},
    {"sql", {"--sql"}},
    {"sqlpg", {"--sql", "--postgres", "--isodate"}},
};

struct CorpusCase {
  std::string writer;  // the folder: the program that wrote the workbook
  std::string name;    // the workbook's name without ".xls"
  const Mode* mode = nullptr;

  std::string workbook() const { return kCorpusDir + "/" + writer + "/" + name + ".xls"; }
  std::string expected() const {
    return kCorpusDir + "/" + writer + "/" + name + "." + (mode ? mode->name : "sql") + ".out";
  }
};

std::ostream& operator<<(std::ostream& os, const CorpusCase& c) {
  return os << c.writer << "/" << c.name << ".xls " << (c.mode ? c.mode->name : "");
}

// Every NAME.xls one folder below the corpus directory, sorted.
std::vector<CorpusCase> find_workbooks() {
  std::vector<CorpusCase> found;
  std::error_code ec;
  for (const auto& dir : fs::directory_iterator(kCorpusDir, ec)) {
    if (!dir.is_directory()) continue;
    for (const auto& file : fs::directory_iterator(dir.path(), ec)) {
      if (file.is_regular_file() && file.path().extension() == ".xls")
        found.push_back({dir.path().filename().string(), file.path().stem().string(), nullptr});
    }
  }
  std::sort(found.begin(), found.end(), [](const CorpusCase& a, const CorpusCase& b) {
    return std::tie(a.writer, a.name) < std::tie(b.writer, b.name);
  });
  return found;
}

std::vector<CorpusCase> all_cases() {
  std::vector<CorpusCase> cases;
  for (const CorpusCase& wb : find_workbooks())
    for (const Mode& mode : kModes) cases.push_back({wb.writer, wb.name, &mode});
  return cases;
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << "cannot read " << path;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t begin = 0;
  while (begin < text.size()) {
    size_t nl = text.find('\n', begin);
    if (nl == std::string::npos) nl = text.size() - 1;  // last line without newline
    lines.push_back(text.substr(begin, nl + 1 - begin));
    begin = nl + 1;
  }
  return lines;
}

std::string shorten(const std::string& line) {
  constexpr size_t kMax = 300;
  return line.size() <= kMax ? line : line.substr(0, kMax) + "...";
}

// Where two outputs first part: the line number and both lines, instead of
// outputs that run to hundreds of kilobytes.
std::string first_difference(const std::string& got, const std::string& want) {
  std::vector<std::string> g = split_lines(got), w = split_lines(want);
  size_t i = 0;
  while (i < g.size() && i < w.size() && g[i] == w[i]) ++i;
  std::string msg = "first difference at line " + std::to_string(i + 1) + " (got " +
                    std::to_string(g.size()) + " lines, expected " + std::to_string(w.size()) +
                    ")\n  got:      ";
  msg += i < g.size() ? testing::PrintToString(shorten(g[i])) : "<end of output>";
  msg += "\n  expected: ";
  msg += i < w.size() ? testing::PrintToString(shorten(w[i])) : "<end of output>";
  return msg;
}

std::string test_name(const CorpusCase& c) {
  std::string name = c.writer + "_" + c.name + "_" + c.mode->name;
  for (char& ch : name)
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return name;
}

class Corpus : public ::testing::TestWithParam<CorpusCase> {};

TEST_P(Corpus, MatchesExpectedOutput) {
  const CorpusCase& c = GetParam();
  std::vector<std::string> args = c.mode->options;
  args.push_back(c.workbook());
  testsupport::ProgramResult r = testsupport::run_program(SHEETDUMP_BINARY, args, "sheetdump");
  std::string want = slurp(c.expected());

  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "");
  if (r.out != want) ADD_FAILURE() << first_difference(r.out, want);
}

INSTANTIATE_TEST_SUITE_P(Workbooks, Corpus, ::testing::ValuesIn(all_cases()),
                         [](const ::testing::TestParamInfo<CorpusCase>& p) {
                           return test_name(p.param);
                         });

// The copied corpus is complete: every writer's folder has workbooks, and
// every workbook has its four expected outputs.
TEST(CorpusFiles, EveryWorkbookHasFourOutputs) {
  std::vector<CorpusCase> books = find_workbooks();
  ASSERT_FALSE(books.empty()) << "no workbooks under " << kCorpusDir;
  for (const char* writer : {"libreoffice", "gnumeric-biff8", "gnumeric-biff7", "xlwt",
                             "writeexcel", "sheetjs-xls", "sheetjs-biff8", "sheetjs-biff5",
                             "readxl"}) {
    EXPECT_TRUE(std::any_of(books.begin(), books.end(),
                            [&](const CorpusCase& c) { return c.writer == writer; }))
        << "no workbooks from " << writer;
  }
  for (const CorpusCase& book : books)
    for (const Mode& mode : kModes) {
      CorpusCase c{book.writer, book.name, &mode};
      EXPECT_TRUE(fs::is_regular_file(c.expected())) << c.expected();
    }
}

// Reads a statement's table name back from "INSERT INTO <name> (": a plain
// identifier, or one in double quotes with inner quotes doubled.
std::string table_name(const std::string& line) {
  size_t pos = std::string("INSERT INTO ").size();
  if (pos < line.size() && line[pos] == '"') {
    std::string name;
    for (++pos; pos < line.size(); ++pos) {
      if (line[pos] == '"') {
        if (pos + 1 < line.size() && line[pos + 1] == '"') {
          name += '"';
          ++pos;
        } else {
          break;
        }
      } else {
        name += line[pos];
      }
    }
    return name;
  }
  return line.substr(pos, line.find(" (", pos) - pos);
}

// The tables of an SQL output in order, each once per run of statements.
std::vector<std::string> tables_of(const std::string& sql) {
  std::vector<std::string> tables;
  bool at_statement = true;  // a value may span lines; a statement ends with ");"
  for (const std::string& line : split_lines(sql)) {
    if (at_statement && line.rfind("INSERT INTO ", 0) == 0) {
      std::string name = table_name(line);
      if (tables.empty() || tables.back() != name) tables.push_back(name);
    }
    at_statement = line.size() >= 3 && line.compare(line.size() - 3, 3, ");\n") == 0;
  }
  return tables;
}

class CorpusSheets : public ::testing::TestWithParam<CorpusCase> {};

// The loader names the sheets in order of appearance: the sheets that have
// rows below their column names carry the names that the expected SQL
// output uses as table names.
TEST_P(CorpusSheets, SheetNamesMatchExpectedTables) {
  const CorpusCase& c = GetParam();
  auto wb = sheetdump::open_workbook(c.workbook());
  ASSERT_TRUE(wb.has_value());
  std::vector<std::string> names;
  for (const sheetdump::Sheet& sheet : wb->sheets) {
    if (sheet.rows < 2) continue;
    std::string name = sheet.name.value_or("?TABLE?");
    if (names.empty() || names.back() != name) names.push_back(name);
  }
  EXPECT_EQ(names, tables_of(slurp(c.expected())));
}

INSTANTIATE_TEST_SUITE_P(Workbooks, CorpusSheets, ::testing::ValuesIn(find_workbooks()),
                         [](const ::testing::TestParamInfo<CorpusCase>& p) {
                           std::string name = p.param.writer + "_" + p.param.name;
                           for (char& ch : name)
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return name;
                         });

}  // namespace
