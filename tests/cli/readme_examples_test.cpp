// The README's console examples are run and their output compared with the
// output shown there, so the README cannot drift away from the program.
//
// A ```console block holds commands ("$ " lines, continued by "> " lines)
// each followed by the exact lines it prints. The blocks of one "## "
// section run in order in one scratch directory (where `examples` leads to
// the repository's examples), so a later step sees the files and databases
// of the earlier ones. Sections that use psql get a private PostgreSQL
// server; where sqlite3 or PostgreSQL is missing, the section is skipped.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "cli/shell_script.hpp"

namespace {

namespace fs = std::filesystem;
using doccheck::have_program;
using doccheck::run_shell;
using doccheck::shell_quote;
using doccheck::TempDir;

struct Step {
  int line = 0;  // README line of the "$ " line
  std::string command;
  std::string expected;
};

struct Section {
  std::string title;
  std::vector<Step> steps;
};

void PrintTo(const Section& section, std::ostream* os) { *os << "section " << section.title; }

struct Readme {
  std::vector<Section> sections;
  std::vector<std::string> errors;
};

fs::path readme_path() { return fs::path(SHEETDUMP_SOURCE_DIR) / "README.md"; }

// Splits README text into the sections that hold console blocks.
Readme parse_readme(const std::string& text) {
  Readme readme;
  std::vector<Section>& sections = readme.sections;
  std::string title = "top";
  bool in_console = false, in_other_fence = false;
  Step* step = nullptr;
  bool step_has_output = false;
  int line_number = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    ++line_number;

    if (in_console) {
      if (line.rfind("```", 0) == 0) {
        in_console = false;
        step = nullptr;
      } else if (line.rfind("$ ", 0) == 0) {
        if (sections.empty() || sections.back().title != title) sections.push_back({title, {}});
        sections.back().steps.push_back({line_number, line.substr(2), ""});
        step = &sections.back().steps.back();
        step_has_output = false;
      } else if (step && !step_has_output && line.rfind("> ", 0) == 0) {
        step->command += "\n" + line.substr(2);
      } else if (step) {
        step->expected += line + "\n";
        step_has_output = true;
      } else {
        readme.errors.push_back("README.md:" + std::to_string(line_number) +
                                ": console block output before any command");
      }
      continue;
    }
    if (in_other_fence) {
      if (line.rfind("```", 0) == 0) in_other_fence = false;
      continue;
    }
    if (line == "```console")
      in_console = true;
    else if (line.rfind("```", 0) == 0)
      in_other_fence = true;
    else if (line.rfind("## ", 0) == 0)
      title = line.substr(3);
  }
  if (in_console) readme.errors.push_back("README.md: console block not closed");
  return readme;
}

Readme read_readme() { return parse_readme(doccheck::read_file_text(readme_path())); }

bool uses(const Section& section, const std::string& word) {
  for (const Step& step : section.steps)
    if (step.command.find(word) != std::string::npos) return true;
  return false;
}

// A scratch PostgreSQL cluster on a private socket directory, stopped when
// the object goes. The server refuses to run as root, so as root it is run
// as the postgres user.
class PostgresServer {
 public:
  PostgresServer() {
    std::string bin = find_bin_dir();
    if (bin.empty()) {
      why_not_ = "no PostgreSQL server programs under /usr/lib/postgresql";
      return;
    }
    as_user_ = geteuid() == 0 ? "runuser -u postgres -- " : "";
    if (!as_user_.empty()) {
      if (!have_program("runuser") || std::system("id postgres >/dev/null 2>&1") != 0) {
        why_not_ = "running as root without runuser or a postgres user";
        return;
      }
      std::string chown = "chown postgres " + shell_quote(dir_.path.string());
      if (std::system(chown.c_str()) != 0) {
        why_not_ = "cannot hand the scratch directory to postgres";
        return;
      }
    }
    pg_ctl_ = bin + "/pg_ctl";
    std::string data = (dir_.path / "data").string();
    std::string script = as_user_ + shell_quote(bin + "/initdb") + " -D " + shell_quote(data) +
                         " -A trust -U postgres --no-sync >/dev/null && " + as_user_ +
                         shell_quote(pg_ctl_) + " -D " + shell_quote(data) + " -l " +
                         shell_quote((dir_.path / "log").string()) + " -o " +
                         shell_quote("-k " + dir_.path.string() +
                                     " -c listen_addresses= -c fsync=off") +
                         " -w -t 60 start >/dev/null\n";
    auto started = run_shell(script, dir_.path);
    if (started.status != 0) {
      why_not_ = "the server did not start: " + started.err +
                 doccheck::read_file_text(dir_.path / "log");
      return;
    }
    running_ = true;
  }
  ~PostgresServer() {
    if (!running_) return;
    std::string stop = as_user_ + shell_quote(pg_ctl_) + " -D " +
                       shell_quote((dir_.path / "data").string()) +
                       " -m immediate -w stop >/dev/null 2>&1";
    [[maybe_unused]] int ignored = std::system(stop.c_str());
  }
  PostgresServer(const PostgresServer&) = delete;
  PostgresServer& operator=(const PostgresServer&) = delete;

  bool running() const { return running_; }
  const std::string& why_not() const { return why_not_; }
  std::string socket_dir() const { return dir_.path.string(); }

 private:
  static std::string find_bin_dir() {
    std::string best;
    long best_version = 0;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", ec)) {
      fs::path bin = entry.path() / "bin";
      if (fs::exists(bin / "initdb") && fs::exists(bin / "pg_ctl")) {
        // Versions are numbers: prefer the newest.
        long version = std::strtol(entry.path().filename().c_str(), nullptr, 10);
        if (best.empty() || version > best_version) {
          best = bin.string();
          best_version = version;
        }
      }
    }
    return best;
  }

  TempDir dir_;
  std::string as_user_;
  std::string pg_ctl_;
  bool running_ = false;
  std::string why_not_;
};

TEST(ReadmeExamples, ParserSplitsCommandsContinuationsAndOutput) {
  auto [sections, errors] = parse_readme(
      "## One\n"
      "```console\n"
      "$ echo a\n"
      "a\n"
      "$ printf 'b\\n' |\n"
      ">   cat\n"
      "b\n"
      "> not a continuation\n"
      "```\n"
      "```sh\n"
      "$ not run\n"
      "```\n"
      "## Two\n"
      "```console\n"
      "$ true\n"
      "```\n");
  EXPECT_TRUE(errors.empty());
  ASSERT_EQ(sections.size(), 2u);
  EXPECT_EQ(sections[0].title, "One");
  ASSERT_EQ(sections[0].steps.size(), 2u);
  EXPECT_EQ(sections[0].steps[0].command, "echo a");
  EXPECT_EQ(sections[0].steps[0].expected, "a\n");
  EXPECT_EQ(sections[0].steps[1].command, "printf 'b\\n' |\n  cat");
  EXPECT_EQ(sections[0].steps[1].expected, "b\n> not a continuation\n");
  EXPECT_EQ(sections[0].steps[1].line, 5);
  EXPECT_EQ(sections[1].title, "Two");
  ASSERT_EQ(sections[1].steps.size(), 1u);
  EXPECT_EQ(sections[1].steps[0].expected, "");
}

TEST(ReadmeExamples, ParserReportsOutputWithoutCommandAndOpenBlocks) {
  EXPECT_EQ(parse_readme("```console\norphan\n```\n").errors.size(), 1u);
  EXPECT_EQ(parse_readme("```console\n$ true\n").errors.size(), 1u);
}

TEST(ReadmeExamples, ReadmeShowsEveryOutputModeAndBothDatabases) {
  auto [sections, errors] = read_readme();
  for (const std::string& error : errors) ADD_FAILURE() << error;
  std::string all;
  for (const Section& s : sections)
    for (const Step& step : s.steps) all += step.command + "\n";
  for (const char* needle : {"sheetdump examples/", "sheetdump --tab ", "sheetdump --sql ",
                             "--isodate", "--postgres", "sqlite3 ", "psql "})
    EXPECT_NE(all.find(needle), std::string::npos) << "no checked README example uses " << needle;
}

class ReadmeSection : public ::testing::TestWithParam<Section> {};

TEST_P(ReadmeSection, CommandsPrintWhatTheReadmeShows) {
  const Section& section = GetParam();
  if (uses(section, "sqlite3") && !have_program("sqlite3"))
    GTEST_SKIP() << "sqlite3 is not installed";

  std::vector<std::pair<std::string, std::string>> env;
  const char* path = std::getenv("PATH");
  env.emplace_back("PATH", doccheck::binary_dir() + ":" + (path ? path : "/usr/bin:/bin"));
  env.emplace_back("LC_ALL", "C");

  TempDir work;
  env.emplace_back("HOME", work.path.string());  // no user rc files
  env.emplace_back("PSQLRC", "/dev/null");
  fs::create_directory_symlink(fs::path(SHEETDUMP_SOURCE_DIR) / "examples", work.path / "examples");

  std::unique_ptr<PostgresServer> server;
  if (uses(section, "psql")) {
    if (!have_program("psql")) GTEST_SKIP() << "psql is not installed";
    server = std::make_unique<PostgresServer>();
    if (!server->running()) GTEST_SKIP() << "no PostgreSQL server: " << server->why_not();
    env.emplace_back("PGHOST", server->socket_dir());
    env.emplace_back("PGUSER", "postgres");
    env.emplace_back("PGPORT", "5432");
  }

  for (const Step& step : section.steps) {
    SCOPED_TRACE("README.md:" + std::to_string(step.line) + ": $ " + step.command);
    auto result = run_shell(step.command + "\n", work.path, env);
    EXPECT_EQ(result.out, step.expected);
    EXPECT_EQ(result.err, "");
    if (result.out != step.expected || !result.err.empty()) break;  // later steps build on it
  }
}

std::string section_name(const ::testing::TestParamInfo<Section>& info) {
  std::string name;
  for (char c : info.param.title)
    if (std::isalnum(static_cast<unsigned char>(c))) name += c;
  return name + "_" + std::to_string(info.index);
}

INSTANTIATE_TEST_SUITE_P(Readme, ReadmeSection, ::testing::ValuesIn(read_readme().sections),
                         section_name);

}  // namespace
