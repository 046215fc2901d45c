// Option parsing: which arguments are options, what each one sets, and
// where the file names begin.
#include "cli/options.hpp"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace sheetdump {
namespace {

CommandLine parse(std::initializer_list<const char*> args) {
  std::vector<const char*> argv{"sheetdump"};
  argv.insert(argv.end(), args.begin(), args.end());
  return parse_command_line(static_cast<int>(argv.size()), argv.data());
}

struct ParseCase {
  const char* name;
  std::vector<const char*> args;
  OutputMode mode;
  QuoteStyle quote;
  bool isodate;
  bool help;
  std::vector<std::string> files;
};

std::ostream& operator<<(std::ostream& os, const ParseCase& c) { return os << c.name; }

class ParseCommandLine : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseCommandLine, SettingsAndFiles) {
  const ParseCase& c = GetParam();
  std::vector<const char*> argv{"sheetdump"};
  argv.insert(argv.end(), c.args.begin(), c.args.end());
  CommandLine cl = parse_command_line(static_cast<int>(argv.size()), argv.data());

  EXPECT_EQ(cl.mode, c.mode);
  EXPECT_EQ(cl.quote, c.quote);
  if (c.isodate) {
    ASSERT_NE(cl.date_pattern, nullptr);
    EXPECT_STREQ(cl.date_pattern, "%Y-%m-%d %H:%M:%S");
  } else {
    EXPECT_EQ(cl.date_pattern, nullptr);
  }
  EXPECT_EQ(cl.help, c.help);
  if (!c.help) {
    EXPECT_EQ(cl.files, c.files);
  }
}

constexpr OutputMode CSV = MODE_CSV;
constexpr OutputMode TAB = MODE_TAB;
constexpr OutputMode SQL = MODE_SQL;
constexpr QuoteStyle ORA = QUOTE_ORACLE;
constexpr QuoteStyle PG = QUOTE_POSTGRES;

const ParseCase kCases[] = {
    // Defaults.
    {"file_only", {"a.xls"}, CSV, ORA, false, false, {"a.xls"}},
    {"only_options_gives_no_files", {"--csv"}, CSV, ORA, false, false, {}},
    {"only_several_options", {"-s", "-p", "-i"}, SQL, PG, true, false, {}},

    // Every short and long form, each on its own.
    {"short_t", {"-t", "a"}, TAB, ORA, false, false, {"a"}},
    {"long_tab", {"--tab", "a"}, TAB, ORA, false, false, {"a"}},
    {"short_c", {"-c", "a"}, CSV, ORA, false, false, {"a"}},
    {"long_csv", {"--csv", "a"}, CSV, ORA, false, false, {"a"}},
    {"short_s", {"-s", "a"}, SQL, ORA, false, false, {"a"}},
    {"long_sql", {"--sql", "a"}, SQL, ORA, false, false, {"a"}},
    {"short_o", {"-o", "a"}, CSV, ORA, false, false, {"a"}},
    {"long_oracle", {"--oracle", "a"}, CSV, ORA, false, false, {"a"}},
    {"short_p", {"-p", "a"}, CSV, PG, false, false, {"a"}},
    {"long_postgres", {"--postgres", "a"}, CSV, PG, false, false, {"a"}},
    {"short_i", {"-i", "a"}, CSV, ORA, true, false, {"a"}},
    {"long_isodate", {"--isodate", "a"}, CSV, ORA, true, false, {"a"}},
    {"short_h", {"-h"}, CSV, ORA, false, true, {}},
    {"long_help", {"--help"}, CSV, ORA, false, true, {}},

    // A later option overrides an earlier one of the same setting.
    {"s_then_t_gives_tab", {"-s", "-t", "a"}, TAB, ORA, false, false, {"a"}},
    {"s_c_t_gives_tab", {"-s", "-c", "-t", "a"}, TAB, ORA, false, false, {"a"}},
    {"t_then_sql_gives_sql", {"--tab", "--sql", "a"}, SQL, ORA, false, false, {"a"}},
    {"sql_then_csv_gives_csv", {"--sql", "--csv", "a"}, CSV, ORA, false, false, {"a"}},
    {"p_o_s_gives_oracle", {"-p", "-o", "-s", "a"}, SQL, ORA, false, false, {"a"}},
    {"o_then_p_gives_postgres", {"--oracle", "--postgres", "a"}, CSV, PG, false, false, {"a"}},
    {"isodate_twice", {"-i", "--isodate", "a"}, CSV, ORA, true, false, {"a"}},
    {"all_settings", {"--sql", "--postgres", "--isodate", "a"}, SQL, PG, true, false, {"a"}},

    // Help wins wherever it stands among the options.
    {"h_after_options", {"-s", "-p", "-h", "a.xls"}, SQL, PG, false, true, {}},
    {"help_after_options", {"--tab", "--help"}, TAB, ORA, false, true, {}},
    {"h_before_file", {"-h", "a.xls"}, CSV, ORA, false, true, {}},

    // Near misses of options are file names: prefixes, letters run
    // together, attached values, one minus sign on a long name, case.
    {"prefix_of_long", {"--ta"}, CSV, ORA, false, false, {"--ta"}},
    {"letters_run_together", {"-tc"}, CSV, ORA, false, false, {"-tc"}},
    {"attached_value", {"--tab=x"}, CSV, ORA, false, false, {"--tab=x"}},
    {"long_with_one_minus", {"-tab", "a.xls"}, CSV, ORA, false, false, {"-tab", "a.xls"}},
    {"upper_case_long_help", {"--HELP"}, CSV, ORA, false, false, {"--HELP"}},
    {"upper_case_short_help", {"-H"}, CSV, ORA, false, false, {"-H"}},
    {"upper_case_short_t", {"-T", "-s"}, CSV, ORA, false, false, {"-T", "-s"}},
    {"three_minus", {"---tab"}, CSV, ORA, false, false, {"---tab"}},
    {"long_without_minus", {"tab"}, CSV, ORA, false, false, {"tab"}},
    {"trailing_blank", {"-t "}, CSV, ORA, false, false, {"-t "}},
    {"double_minus_alone", {"--"}, CSV, ORA, false, false, {"--"}},
    {"lone_minus", {"-"}, CSV, ORA, false, false, {"-"}},
    {"empty_argument", {""}, CSV, ORA, false, false, {""}},
    {"empty_after_options", {"-s", "", "b"}, SQL, ORA, false, false, {"", "b"}},

    // Everything after the first file name is a file name, options too.
    {"options_after_file",
     {"a.xls", "--sql", "-t"},
     CSV,
     ORA,
     false,
     false,
     {"a.xls", "--sql", "-t"}},
    {"h_after_file", {"a.xls", "-h"}, CSV, ORA, false, false, {"a.xls", "-h"}},
    {"help_after_file",
     {"-t", "a.xls", "--help", "-p"},
     TAB,
     ORA,
     false,
     false,
     {"a.xls", "--help", "-p"}},
    {"many_files_in_order",
     {"-s", "c", "a", "b", "a"},
     SQL,
     ORA,
     false,
     false,
     {"c", "a", "b", "a"}},
    {"near_miss_ends_options",
     {"-s", "-tc", "-t", "x"},
     SQL,
     ORA,
     false,
     false,
     {"-tc", "-t", "x"}},
};

INSTANTIATE_TEST_SUITE_P(Cases, ParseCommandLine, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<ParseCase>& p) {
                           return std::string(p.param.name);
                         });

TEST(ParseCommandLineEdges, NoArgumentAsksForHelp) {
  const char* argv[] = {"sheetdump"};
  CommandLine cl = parse_command_line(1, argv);
  EXPECT_TRUE(cl.help);
  EXPECT_TRUE(cl.files.empty());
}

TEST(ParseCommandLineEdges, EmptyArgumentVectorAsksForHelp) {
  const char* argv[] = {nullptr};
  CommandLine cl = parse_command_line(0, argv);
  EXPECT_TRUE(cl.help);
}

TEST(ParseCommandLineEdges, FileNamesAreCopiedByteForByte) {
  // Names are taken as given: no trimming, no character-set change.
  std::string odd = "d\xc3\xa9j\xc3\xa0 vu\t.xls";
  CommandLine cl = parse({"--tab", odd.c_str(), " "});
  EXPECT_EQ(cl.files, (std::vector<std::string>{odd, " "}));
}

TEST(ParseCommandLineEdges, IsodateDoesNotChangeModeOrQuote) {
  CommandLine cl = parse({"-t", "-p", "-i", "a"});
  EXPECT_EQ(cl.mode, MODE_TAB);
  EXPECT_EQ(cl.quote, QUOTE_POSTGRES);
  ASSERT_NE(cl.date_pattern, nullptr);
}

TEST(ParseSheetOptions, FlagsEachForm) {
  for (const char* a : {"-l", "--list"}) EXPECT_TRUE(parse({a, "x"}).list) << a;
  for (const char* a : {"-k", "--keep-going"}) EXPECT_TRUE(parse({a, "x"}).keep_going) << a;
  for (const char* a : {"-V", "--version"}) EXPECT_TRUE(parse({a}).version) << a;
  CommandLine none = parse({"x"});
  EXPECT_FALSE(none.list || none.keep_going || none.version);
  EXPECT_TRUE(none.sheets.empty());
  EXPECT_TRUE(none.directory.empty());
}

TEST(ParseSheetOptions, ValuesAreTheNextArgumentAsItStands) {
  CommandLine cl = parse(
      {"-n", "A", "--sheet", "-t", "-n", "", "-d", "out", "--directory", "--list", "-s", "f.xls"});
  EXPECT_EQ(cl.sheets, (std::vector<std::string>{"A", "-t", ""}));
  EXPECT_EQ(cl.directory, "--list");  // the later one wins, whatever it looks like
  EXPECT_FALSE(cl.list);
  EXPECT_EQ(cl.mode, MODE_SQL);
  EXPECT_EQ(cl.files, (std::vector<std::string>{"f.xls"}));
  EXPECT_EQ(cl.missing_value, nullptr);
}

TEST(ParseSheetOptions, MissingValueNamesTheLongForm) {
  const std::pair<std::vector<const char*>, const char*> cases[] = {
      {{"-n"}, "--sheet"},
      {{"-s", "--sheet"}, "--sheet"},
      {{"-d"}, "--directory"},
      {{"-l", "--directory"}, "--directory"},
  };
  for (const auto& [args, form] : cases) {
    std::vector<const char*> argv{"sheetdump"};
    argv.insert(argv.end(), args.begin(), args.end());
    CommandLine cl = parse_command_line(int(argv.size()), argv.data());
    ASSERT_NE(cl.missing_value, nullptr);
    EXPECT_STREQ(cl.missing_value, form);
    EXPECT_TRUE(cl.help);
  }
}

TEST(ParseSheetOptions, AfterTheFirstFileTheyAreFileNames) {
  CommandLine cl = parse({"a.xls", "-n", "S", "-V"});
  EXPECT_TRUE(cl.sheets.empty());
  EXPECT_FALSE(cl.version);
  EXPECT_EQ(cl.files, (std::vector<std::string>{"a.xls", "-n", "S", "-V"}));
}

}  // namespace
}  // namespace sheetdump
