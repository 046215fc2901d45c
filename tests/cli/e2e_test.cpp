// End-to-end runs of the built binary: standard output, standard error and
// exit status compared byte for byte.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/run_program.hpp"

namespace {

namespace fs = std::filesystem;

const std::string kBasic = SHEETDUMP_SOURCE_DIR "/examples/basic.xls";
const std::string kCorpus = SHEETDUMP_TEST_DIR "/corpus/libreoffice/";
const std::string kTexts = kCorpus + "texts.xls";      // quotes and backslashes
const std::string kFormats = kCorpus + "formats.xls";  // dates in CSV output

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << "cannot read " << path;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The expected output of the corpus workbook `name` ("basic", "texts", ...)
// in `mode` ("csv", "tab", "sql", "sqlpg"); examples/basic.xls is the
// LibreOffice corpus workbook.
std::string expected(const std::string& name, const std::string& mode) {
  return slurp(kCorpus + name + "." + mode + ".out");
}

std::string usage(const std::string& program) {
  return "Read Excel files without Microsoft!\n"
         "<sheetdump> written by the sheetdump developers\n"
         "With thanks to everyone who documented the BIFF file format.\n"
         "\n"
         "Usage: " +
         program +
         ": [OTIONS] <FILE1> <FILE2> ...\n"
         "Example: " +
         program +
         " --sql MyExcelFile.xls\n"
         "\n"
         "Options:\n"
         "  -t, --tab         Convert to TAB delimted text\n"
         "  -c, --csv         Convert to CSV text\n"
         "  -s, --sql         Convert to SQL inserts\n"
         "  -o, --oracle      Use Oracle style quoting [''] \n"
         "  -p, --postgres    Use PostgreSQL style quoting [\\'] \n"
         "  -i, --isodate     Convert to ISO standard date [1975-12-10 03:34:59]\n"
         // The options added later, after the original lines, in their layout.
         "  -a, --all         Read every cell: inline texts, booleans, errors, formulas\n"
         "  -e, --exact       Exact values and ISO 8601 dates (implies --all)\n"
         "  -f, --formatted   Values as the spreadsheet shows them (implies --all)\n"
         "  -C, --create      With --sql: CREATE TABLE statements, one transaction a file\n"
         "  -l, --list        List the sheets of every file instead of converting\n"
         "  -n, --sheet NAME  Convert only sheet NAME (or its number); repeatable\n"
         "  -d, --directory D Write each sheet to its own file in directory D\n"
         "  -k, --keep-going  Go on with the next file when one cannot be opened\n"
         "  -V, --version     Print the version\n";
}

std::string open_failure(const std::string& name) {
  return "Could not open file for parsing: " + name + "\n";
}

// Two working directories for the runs: an empty one, where every relative
// name is missing, and one holding copies of basic.xls named "-" and
// "-tab" and a directory named "adir".
class EndToEnd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string base = ::testing::TempDir() + "sheetdump_e2e_XXXXXX";
    std::vector<char> tmpl(base.begin(), base.end());
    tmpl.push_back('\0');
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    root_ = tmpl.data();
    empty_dir_ = root_ + "/empty";
    full_dir_ = root_ + "/full";
    fs::create_directory(empty_dir_);
    fs::create_directory(full_dir_);
    fs::create_directory(full_dir_ + "/adir");
    fs::copy_file(kBasic, full_dir_ + "/-");
    fs::copy_file(kBasic, full_dir_ + "/-tab");
  }
  static void TearDownTestSuite() {
    std::error_code ec;
    if (!root_.empty()) fs::remove_all(root_, ec);
  }

  static testsupport::ProgramResult run_in(const std::string& dir,
                                           const std::vector<std::string>& args,
                                           const std::string& argv0 = "sheetdump") {
    return testsupport::run_program(SHEETDUMP_BINARY, args, argv0, dir);
  }

  static void expect_result(const testsupport::ProgramResult& r, const std::string& out,
                            const std::string& err) {
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, err);
    // Outputs run to hundreds of kilobytes: report sizes and the first
    // difference rather than both texts.
    if (r.out != out) {
      size_t i = 0;
      while (i < r.out.size() && i < out.size() && r.out[i] == out[i]) ++i;
      ADD_FAILURE() << "stdout differs at byte " << i << " (got " << r.out.size()
                    << " bytes, expected " << out.size()
                    << ")\n  got:      " << testing::PrintToString(r.out.substr(i, 60))
                    << "\n  expected: " << testing::PrintToString(out.substr(i, 60));
    }
  }

  static inline std::string root_, empty_dir_, full_dir_;
};

// ---- The usage text ------------------------------------------------------

TEST_F(EndToEnd, UsageWhenNoArgument) {
  auto r = run_in(empty_dir_, {}, "my-dump");
  expect_result(r, "", usage("my-dump"));
}

TEST_F(EndToEnd, UsageNamesProgramAsInvoked) {
  // argv[0] is printed as given, path and all, and is never a format.
  for (std::string argv0 : {"./bin/sheet dump", "/usr/local/bin/x", "%s%n%d"}) {
    SCOPED_TRACE(argv0);
    expect_result(run_in(empty_dir_, {"-h"}, argv0), "", usage(argv0));
  }
}

TEST_F(EndToEnd, UsageForHelpOptions) {
  const std::vector<std::vector<std::string>> cases = {
      {"-h"},
      {"--help"},
      {"-h", kBasic},                    // help before a file name
      {"--help", "missing.xls"},         // nothing is opened
      {"-s", "-p", "-i", "-h", kBasic},  // help after other options
      {"--tab", "--csv", "--help"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(testing::PrintToString(args));
    expect_result(run_in(empty_dir_, args, "sd"), "", usage("sd"));
  }
}

// ---- Runs without usage text ---------------------------------------------

struct RunCase {
  const char* name;
  bool in_full_dir;  // run in the directory with "-", "-tab", "adir"
  std::vector<std::string> args;
  std::vector<std::pair<const char*, const char*>> out;  // expected outputs, concatenated
  const char* failed_name;                               // the file whose open fails, or null
};

std::ostream& operator<<(std::ostream& os, const RunCase& c) { return os << c.name; }

class EndToEndRuns : public EndToEnd, public ::testing::WithParamInterface<RunCase> {};

TEST_P(EndToEndRuns, OutputErrorAndStatus) {
  const RunCase& c = GetParam();
  std::string out;
  for (const auto& [name, mode] : c.out) out += expected(name, mode);
  std::string err = c.failed_name ? open_failure(c.failed_name) : "";
  auto r = run_in(c.in_full_dir ? full_dir_ : empty_dir_, c.args);
  expect_result(r, out, err);
}

const RunCase kRuns[] = {
    // Options alone convert nothing and print nothing.
    {"only_csv_option", false, {"--csv"}, {}, nullptr},
    {"only_options", false, {"-s", "-p", "-i", "-o", "-t"}, {}, nullptr},

    // The modes, each option form.
    {"default_is_csv", false, {kBasic}, {{"basic", "csv"}}, nullptr},
    {"short_t", false, {"-t", kBasic}, {{"basic", "tab"}}, nullptr},
    {"long_tab", false, {"--tab", kBasic}, {{"basic", "tab"}}, nullptr},
    {"short_s", false, {"-s", kBasic}, {{"basic", "sql"}}, nullptr},
    {"long_sql", false, {"--sql", kBasic}, {{"basic", "sql"}}, nullptr},
    {"short_c_after_sql", false, {"-s", "-c", kBasic}, {{"basic", "csv"}}, nullptr},
    {"postgres_isodate_short", false, {"-s", "-p", "-i", kTexts}, {{"texts", "sqlpg"}}, nullptr},

    // A later option overrides an earlier one.
    {"s_c_t_gives_tab", false, {"-s", "-c", "-t", kBasic}, {{"basic", "tab"}}, nullptr},
    {"p_o_s_gives_oracle_sql", false, {"-p", "-o", "-s", kTexts}, {{"texts", "sql"}}, nullptr},
    {"o_p_gives_postgres_sql",
     false,
     {"--oracle", "--postgres", "--isodate", "--sql", kTexts},
     {{"texts", "sqlpg"}},
     nullptr},

    // The date pattern and quote style reach only the SQL writer.
    {"isodate_csv_unchanged", false, {"--isodate", kFormats}, {{"formats", "csv"}}, nullptr},
    {"isodate_tab_unchanged", false, {"-i", "-t", kFormats}, {{"formats", "tab"}}, nullptr},
    {"postgres_csv_unchanged", false, {"-p", kTexts}, {{"texts", "csv"}}, nullptr},

    // Near misses of options are file names.
    {"dash_tab_is_file_name", false, {"-tab", kBasic}, {}, "-tab"},
    {"dash_tab_file_is_converted",
     true,
     {"-tab", kBasic},
     {{"basic", "csv"}, {"basic", "csv"}},
     nullptr},
    {"upper_help_is_file_name", false, {"--HELP"}, {}, "--HELP"},
    {"upper_h_is_file_name", false, {"-H", kBasic}, {}, "-H"},
    {"letters_together_is_file_name", false, {"-tc", kBasic}, {}, "-tc"},
    {"prefix_is_file_name", false, {"--ta", kBasic}, {}, "--ta"},
    {"attached_value_is_file_name", false, {"--tab=x", kBasic}, {}, "--tab=x"},
    {"lone_minus_missing", false, {"-"}, {}, "-"},
    {"lone_minus_is_opened", true, {"-s", "-"}, {{"basic", "sql"}}, nullptr},
    {"empty_argument", false, {""}, {}, ""},

    // Everything after the first file name is a file name.
    {"workbook_then_sql", false, {kBasic, "--sql"}, {{"basic", "csv"}}, "--sql"},
    {"workbook_then_h", false, {kBasic, "-h"}, {{"basic", "csv"}}, "-h"},
    {"minus_after_workbook_is_opened",
     true,
     {"-t", kBasic, "-"},
     {{"basic", "tab"}, {"basic", "tab"}},
     nullptr},

    // Several files, strictly in order; the run stops at the first that
    // cannot be opened, keeping what was written before it.
    {"two_workbooks", false, {kBasic, kTexts}, {{"basic", "csv"}, {"texts", "csv"}}, nullptr},
    {"two_workbooks_sqlpg",
     false,
     {"--sql", "--postgres", "--isodate", kFormats, kBasic},
     {{"formats", "sqlpg"}, {"basic", "sqlpg"}},
     nullptr},
    {"same_workbook_twice",
     false,
     {"--tab", kTexts, kTexts},
     {{"texts", "tab"}, {"texts", "tab"}},
     nullptr},
    {"second_missing", false, {kBasic, "missing.xls", kTexts}, {{"basic", "csv"}}, "missing.xls"},
    {"first_missing", false, {"missing.xls", kBasic}, {}, "missing.xls"},
    {"name_reported_as_given",
     false,
     {"-s", kBasic, "./no/such/../file.xls"},
     {{"basic", "sql"}},
     "./no/such/../file.xls"},

    // A directory cannot be parsed.
    {"directory", true, {"adir"}, {}, "adir"},
    {"directory_after_workbook", true, {"--tab", kBasic, "adir/"}, {{"basic", "tab"}}, "adir/"},
    {"current_directory", false, {"."}, {}, "."},
};

INSTANTIATE_TEST_SUITE_P(Cases, EndToEndRuns, ::testing::ValuesIn(kRuns),
                         [](const ::testing::TestParamInfo<RunCase>& p) {
                           return std::string(p.param.name);
                         });

// The output is written through a buffer: a large output followed by an
// open failure still arrives whole, and a file that fails after it is
// reported only once.
TEST_F(EndToEnd, LargeOutputBeforeFailureIsComplete) {
  const std::string sst = kCorpus + "sst.xls";
  auto r = run_in(empty_dir_, {"--sql", sst, sst, "missing"});
  std::string one = expected("sst", "sql");
  ASSERT_GT(one.size(), 100000u);
  expect_result(r, one + one, open_failure("missing"));
}

}  // namespace
