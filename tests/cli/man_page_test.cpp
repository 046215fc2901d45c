// The manual page, the bash completion and the README's option table are
// checked against the program itself: the options the parser accepts, the
// usage text, and the messages the binary prints.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/options.hpp"
#include "cli/shell_script.hpp"

namespace {

namespace fs = std::filesystem;
using doccheck::read_file_text;
using doccheck::run_shell;
using doccheck::shell_quote;
using doccheck::TempDir;

fs::path source_dir() { return fs::path(SHEETDUMP_SOURCE_DIR); }
fs::path man_page() { return source_dir() / "doc" / "sheetdump.1"; }
fs::path completion_script() { return source_dir() / "doc" / "sheetdump.bash-completion"; }

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// roff source without its escapes for the minus sign and the zero-width
// space, so that option names read as typed.
std::string unescape(std::string text) {
  for (auto [from, to] : {std::pair<std::string, std::string>{"\\-", "-"}, {"\\&", ""}}) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at))
      text.replace(at, from.size(), to);
  }
  return text;
}

// The title of a ".SH" line, without quotes.
std::string section_title(const std::string& line) {
  std::string title = line.substr(4);
  if (title.size() >= 2 && title.front() == '"') title = title.substr(1, title.size() - 2);
  return title;
}

// The lines of one ".SH NAME" section of the man page.
std::vector<std::string> man_section(const std::string& name) {
  std::vector<std::string> section;
  bool inside = false;
  for (const std::string& line : lines_of(read_file_text(man_page()))) {
    if (line.rfind(".SH ", 0) == 0) {
      inside = section_title(line) == name;
      continue;
    }
    if (inside) section.push_back(line);
  }
  return section;
}

// The options that the OPTIONS section documents: its ".BR \-x ", " \-\-xx"
// item heads.
std::set<std::string> documented_options() {
  std::set<std::string> options;
  // Options with a value: `.BR \-n ", " \-\-sheet " \fIname\fP"`.
  static const std::regex item(R"re(^\.BR (\S+) ", " (\S+)(?: " \\fI\w+\\fP")?$)re");
  for (const std::string& line : man_section("OPTIONS")) {
    std::smatch m;
    if (std::regex_match(line, m, item)) {
      options.insert(unescape(m[1]));
      options.insert(unescape(m[2]));
    }
  }
  return options;
}

std::string usage_text() {
  char* buffer = nullptr;
  size_t size = 0;
  std::FILE* out = open_memstream(&buffer, &size);
  sheetdump::write_usage(out, "sheetdump");
  std::fclose(out);
  std::string text(buffer, size);
  std::free(buffer);
  return text;
}

// The options that the usage text lists ("  -t, --tab   ..."), and the
// help option, which it leaves out.
std::set<std::string> usage_options() {
  std::set<std::string> options{"-h", "--help"};
  static const std::regex item(R"re(^  (-\w), (--[\w-]+) .*)re");
  for (const std::string& line : lines_of(usage_text())) {
    std::smatch m;
    if (std::regex_match(line, m, item)) {
      options.insert(m[1]);
      options.insert(m[2]);
    }
  }
  return options;
}

TEST(ManPage, FormatsWithoutWarnings) {
  if (!doccheck::have_program("man"))
    GTEST_SKIP() << "man is not installed (Debian package man-db)";
  TempDir dir;
  auto result = run_shell("man --warnings -l " + shell_quote(man_page().string()) + " >/dev/null\n",
                          dir.path);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
}

TEST(ManPage, HasEverySectionInOrder) {
  std::vector<std::string> titles;
  for (const std::string& line : lines_of(read_file_text(man_page())))
    if (line.rfind(".SH ", 0) == 0) titles.push_back(section_title(line));
  std::vector<std::string> expected{"NAME",   "SYNOPSIS",    "DESCRIPTION", "OPTIONS",
                                    "OUTPUT", "EXIT STATUS", "DIAGNOSTICS", "EXAMPLES",
                                    "LIMITS", "SEE ALSO"};
  EXPECT_EQ(titles, expected);
}

TEST(ManPage, DocumentsExactlyTheOptionsOfTheUsageTextAndHelp) {
  auto usage = usage_options();
  ASSERT_EQ(usage.size(), 32u) << usage_text();
  EXPECT_EQ(documented_options(), usage);
}

TEST(ManPage, EveryDocumentedOptionIsAnOptionToTheParser) {
  for (const std::string& option : documented_options()) {
    SCOPED_TRACE(option);
    // --sheet and --directory take the next argument as their value.
    bool valued = option == "-n" || option == "--sheet" || option == "-d" ||
                  option == "--directory";
    const char* argv[] = {"sheetdump", option.c_str(), valued ? "value" : "book.xls", "book.xls"};
    auto cl = sheetdump::parse_command_line(valued ? 4 : 3, argv);
    if (option == "-h" || option == "--help") {
      EXPECT_TRUE(cl.help);
    } else {
      EXPECT_FALSE(cl.help);
      EXPECT_EQ(cl.files, std::vector<std::string>{"book.xls"});
    }
  }
}

TEST(ManPage, SynopsisNamesEveryOption) {
  std::set<std::string> words;
  for (const std::string& line : man_section("SYNOPSIS")) {
    std::istringstream in(unescape(line));
    for (std::string word; in >> word;) words.insert(word);
  }
  for (const std::string& option : documented_options()) EXPECT_TRUE(words.count(option)) << option;
}

// The texts in bold of the DIAGNOSTICS items, the fixed part of each
// message.
std::vector<std::string> documented_messages() {
  std::vector<std::string> messages;
  static const std::regex item(R"re(^\.BI "([^"]*)" .*)re");
  for (const std::string& line : man_section("DIAGNOSTICS")) {
    std::smatch m;
    if (std::regex_match(line, m, item)) messages.push_back(unescape(m[1]));
  }
  return messages;
}

TEST(ManPage, DiagnosticsAreTheMessagesTheProgramPrints) {
  auto messages = documented_messages();
  // The first three; the messages that name a file or an option follow.
  ASSERT_GE(messages.size(), 3u);
  EXPECT_EQ(messages[0], "Could not open file for parsing: ");
  EXPECT_EQ(messages[1], "Error malloc failed! Mallocing ");
  EXPECT_EQ(messages[2], "sheetdump: error writing output: ");

  TempDir dir;
  std::string binary = shell_quote(SHEETDUMP_BINARY);
  auto missing = run_shell(binary + " no-such-book.xls\n", dir.path);
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, messages[0] + "no-such-book.xls\n");

  if (fs::exists("/dev/full")) {
    std::string sample = shell_quote((source_dir() / "examples" / "basic.xls").string());
    auto full = run_shell(binary + " " + sample + " >/dev/full\n", dir.path);
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(full.err.rfind(messages[2], 0), 0u) << full.err;
  }

  // The allocation failure cannot be provoked under the sanitizers; its
  // text must at least be the one the program carries.
  std::string source = read_file_text(source_dir() / "src" / "cli" / "alloc_or_die.cpp");
  EXPECT_NE(source.find("\"" + messages[1] + "%"), std::string::npos);
}

TEST(ReadmeUsage, OptionTableListsEveryDocumentedOption) {
  std::set<std::string> listed;
  static const std::regex row(R"re(^\| `(-\w)`, `(--[\w-]+)`[ A-Z]* \|.*)re");
  for (const std::string& line : lines_of(read_file_text(source_dir() / "README.md"))) {
    std::smatch m;
    if (std::regex_match(line, m, row)) {
      listed.insert(m[1]);
      listed.insert(m[2]);
    }
  }
  EXPECT_EQ(listed, documented_options());
}

// Runs the completion function as bash would for the command line `words`
// (the last one being completed) in `cwd`, and gives the candidates.
std::vector<std::string> complete(const std::vector<std::string>& words, const fs::path& cwd) {
  std::string script = ". " + shell_quote(completion_script().string()) + "\nCOMP_WORDS=(";
  for (const std::string& w : words) script += shell_quote(w) + " ";
  script += ")\nCOMP_CWORD=" + std::to_string(words.size() - 1) +
            "\n_sheetdump\nprintf '%s\\n' \"${COMPREPLY[@]}\"\n";
  TempDir io;
  { std::ofstream(io.path / "complete.bash") << script; }
  auto result = run_shell("bash " + shell_quote((io.path / "complete.bash").string()) + "\n", cwd);
  EXPECT_EQ(result.err, "");
  std::vector<std::string> candidates;
  for (const std::string& line : lines_of(result.out))
    if (!line.empty()) candidates.push_back(line);
  std::sort(candidates.begin(), candidates.end());
  return candidates;
}

TEST(BashCompletion, OffersTheDocumentedOptionsBeforeTheFirstFile) {
  if (!doccheck::have_program("bash")) GTEST_SKIP() << "bash is not installed";
  TempDir dir;
  auto all = complete({"sheetdump", "-"}, dir.path);
  auto documented = documented_options();
  EXPECT_EQ(std::set<std::string>(all.begin(), all.end()), documented);
  EXPECT_EQ(all.size(), documented.size());

  EXPECT_EQ(complete({"sheetdump", "--s"}, dir.path),
            (std::vector<std::string>{"--sheet", "--sql"}));
  EXPECT_EQ(complete({"sheetdump", "--sql", "--is"}, dir.path),
            std::vector<std::string>{"--isodate"});
}

TEST(BashCompletion, OffersWorkbooksAndDirectories) {
  if (!doccheck::have_program("bash")) GTEST_SKIP() << "bash is not installed";
  TempDir dir;
  for (const char* name : {"a.xls", "B.XLS", "notes.txt", "with space.xls", "xls"})
    std::ofstream(dir.path / name) << "x";
  fs::create_directory(dir.path / "sub");
  fs::create_directory(dir.path / "dir.xls");

  std::vector<std::string> files{"B.XLS", "a.xls", "dir.xls", "sub", "with space.xls"};
  EXPECT_EQ(complete({"sheetdump", ""}, dir.path), files);
  EXPECT_EQ(complete({"sheetdump", "--tab", "--postgres", ""}, dir.path), files);
  EXPECT_EQ(complete({"sheetdump", "a.xls", ""}, dir.path), files);
  EXPECT_EQ(complete({"sheetdump", "w"}, dir.path), std::vector<std::string>{"with space.xls"});
}

TEST(BashCompletion, OptionsEndAtTheFirstFileNameAndAfterHelp) {
  if (!doccheck::have_program("bash")) GTEST_SKIP() << "bash is not installed";
  TempDir dir;
  std::ofstream(dir.path / "a.xls") << "x";
  // After a file name every argument is a file name, as the program reads it.
  EXPECT_EQ(complete({"sheetdump", "a.xls", "--"}, dir.path), std::vector<std::string>{});
  EXPECT_EQ(complete({"sheetdump", "-tab", "-"}, dir.path), std::vector<std::string>{});
  // Nothing is converted after the usage text.
  EXPECT_EQ(complete({"sheetdump", "--help", ""}, dir.path), std::vector<std::string>{});
  EXPECT_EQ(complete({"sheetdump", "-h", "-"}, dir.path), std::vector<std::string>{});
}

}  // namespace
