// End-to-end runs of the sheet and file options (--list, --sheet,
// --directory, --keep-going, --version) and of the message for every file
// that yields nothing, on workbooks built here and on real files.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/run_program.hpp"
#include "support/xls_writer.hpp"

namespace {

namespace fs = std::filesystem;
using testsupport::ProgramResult;

const std::string kFiles = SHEETDUMP_TEST_DIR "/cli/files/";
const std::string kCorpus = SHEETDUMP_TEST_DIR "/corpus/libreoffice/";
const std::string kBasic = kCorpus + "basic.xls";  // Numbers, Mixed, Formulas, Last

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void spit(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string as_string(const xlsw::Bytes& b) { return std::string(b.begin(), b.end()); }

// A workbook of worksheets named `names` (8-bit BIFF8 names), the i-th
// (from `first`) holding the numbers i and 10 * i and a label (read with
// --all) in a 3 x 1 grid.
std::string numbered_workbook(const std::vector<std::string>& names, size_t first = 1) {
  std::vector<xlsw::Bytes> sheets;
  for (size_t i = first; i < first + names.size(); ++i)
    sheets.push_back(
        xlsw::worksheet(3, 1,
                        {xlsw::number(0, 0, 0, double(i)), xlsw::number(1, 0, 0, double(10 * i)),
                         xlsw::label(2, 0, 0, "t" + std::to_string(i))}));
  return as_string(xlsw::with_filler(xlsw::workbook_stream(names, {}, sheets)));
}

class SheetsRun : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string base = ::testing::TempDir() + "sheetdump_sheets_XXXXXX";
    std::vector<char> tmpl(base.begin(), base.end());
    tmpl.push_back('\0');
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl.data();
    book_ = dir_ + "/book.xls";
    spit(book_, numbered_workbook({"One", "Two", "3"}));
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  ProgramResult run(const std::vector<std::string>& args) {
    ProgramResult r = testsupport::run_program(SHEETDUMP_BINARY, args, "sheetdump", dir_);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.signal, 0);
    return r;
  }
  // The files of `sub` (relative to the run's directory), sorted.
  std::vector<std::string> listing(const std::string& sub) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir_ + "/" + sub))
      out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }
  std::string dir_, book_;
};

const std::vector<std::vector<std::string>> kModes = {{}, {"-t"}, {"-s"}, {"-s", "-p", "-i"}};
const std::vector<std::vector<std::string>> kReads = {{}, {"--all"}};

std::vector<std::string> cat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// ---- --version and missing values ---------------------------------------

TEST_F(SheetsRun, VersionPrintsTheProjectVersion) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--version"}, {"-V"}, {"-s", "-V", "book.xls"}}) {
    ProgramResult r = run(args);
    EXPECT_EQ(r.out, "sheetdump " SHEETDUMP_VERSION "\n");
    EXPECT_EQ(r.err, "");
  }
}

TEST_F(SheetsRun, MissingValueGivesMessageAndUsage) {
  ProgramResult help = run({"-h"});
  for (auto [arg, form] : {std::pair{"-n", "--sheet"},
                           {"--sheet", "--sheet"},
                           {"-d", "--directory"},
                           {"--directory", "--directory"}}) {
    ProgramResult r = run({"-t", arg});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, std::string("sheetdump: option ") + form + " needs a value\n" + help.err);
  }
}

// ---- --list --------------------------------------------------------------

TEST_F(SheetsRun, ListNamesEverySubstreamWithKindAndSize) {
  xlsw::Bytes stream = xlsw::workbook_stream(
      {"Data", "Tab\there", "Chart", "Macro"}, {},
      {xlsw::worksheet(2, 3, {xlsw::number(1, 2, 0, 5)}), xlsw::worksheet(0, 0, {}),
       xlsw::concat({xlsw::bof(xlsw::kBiff8, xlsw::kChart), xlsw::eof()}),
       xlsw::concat({xlsw::bof(xlsw::kBiff8, 0x0040), xlsw::eof()}),
       xlsw::concat({xlsw::bof(xlsw::kBiff8, 0x0006), xlsw::eof()})});
  spit(dir_ + "/k\\inds.xls", as_string(xlsw::with_filler(stream)));
  for (const auto& mode : kModes) {
    ProgramResult r = run(cat(cat(mode, {"--list"}), {"k\\inds.xls", "book.xls"}));
    EXPECT_EQ(r.out,
              "k\\\\inds.xls\t1\tData\tworksheet\t2\t3\n"
              "k\\\\inds.xls\t2\tTab\\there\tworksheet\t0\t0\n"
              "k\\\\inds.xls\t3\tChart\tchart\t0\t0\n"
              "k\\\\inds.xls\t4\tMacro\tmacro\t0\t0\n"
              "k\\\\inds.xls\t5\t\tother\t0\t0\n"
              "book.xls\t1\tOne\tworksheet\t3\t1\n"
              "book.xls\t2\tTwo\tworksheet\t3\t1\n"
              "book.xls\t3\t3\tworksheet\t3\t1\n");
    EXPECT_EQ(r.err, "");
  }
  ProgramResult chosen = run({"-l", "-n", "3", "-n", "1", "book.xls"});
  EXPECT_EQ(chosen.out, "book.xls\t1\tOne\tworksheet\t3\t1\nbook.xls\t3\t3\tworksheet\t3\t1\n");
}

// ---- --sheet -------------------------------------------------------------

TEST_F(SheetsRun, SheetChoosesByNameThenPositionInEveryMode) {
  spit(dir_ + "/one.xls", numbered_workbook({"One"}));
  spit(dir_ + "/two.xls", numbered_workbook({"Two"}, 2));
  spit(dir_ + "/three.xls", numbered_workbook({"3"}, 3));
  for (const auto& read : kReads)
    for (const auto& mode : kModes) {
      auto opts = cat(read, mode);
      std::string one = run(cat(opts, {"one.xls"})).out;
      std::string two = run(cat(opts, {"two.xls"})).out;
      std::string three = run(cat(opts, {"three.xls"})).out;
      ASSERT_NE(one, two);
      // "3" is a sheet's name, so it does not mean position 3; "2" is a
      // position; the order of the workbook stands.
      ProgramResult r = run(cat(opts, {"-n", "3", "--sheet", "One", "book.xls"}));
      EXPECT_EQ(r.out, one + three);
      EXPECT_EQ(r.err, "");
      r = run(cat(opts, {"-n", "2", "book.xls"}));
      EXPECT_EQ(r.out, two);
      r = run(cat(opts, {"-n", "one", "-n", "4", "-n", "Two", "book.xls", "one.xls"}));
      EXPECT_EQ(r.out, two);
      EXPECT_EQ(r.err,
                "sheetdump: book.xls: no sheet named \"one\"\n"
                "sheetdump: book.xls: no sheet named \"4\"\n"
                "sheetdump: one.xls: no sheet named \"one\"\n"
                "sheetdump: one.xls: no sheet named \"4\"\n"
                "sheetdump: one.xls: no sheet named \"Two\"\n");
    }
}

// ---- --directory ---------------------------------------------------------

TEST_F(SheetsRun, DirectoryWritesEachSheetInEveryMode) {
  const char* exts[] = {"csv", "tsv", "sql", "sql"};
  for (const auto& read : kReads)
    for (size_t m = 0; m < kModes.size(); ++m) {
      auto opts = cat(read, kModes[m]);
      std::string sub = "out" + std::to_string(m) + std::to_string(read.size()) + "/new";
      ProgramResult r = run(cat(opts, {"-d", sub, "book.xls"}));
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(r.err, "");
      std::string e = exts[m];
      ASSERT_EQ(listing(sub),
                (std::vector<std::string>{"book-3." + e, "book-One." + e, "book-Two." + e}));
      const char* names[] = {"One", "Two", "3"};
      for (const char* n : names)
        EXPECT_EQ(slurp(dir_ + "/" + sub + "/book-" + n + "." + e),
                  run(cat(opts, {"-n", n, "book.xls"})).out)
            << n;
      // With --sheet only the chosen sheet gets a file.
      std::string sub2 = sub + "2";
      run(cat(opts, {"--directory", sub2, "--sheet", "Two", "book.xls"}));
      EXPECT_EQ(listing(sub2), (std::vector<std::string>{"book-Two." + e}));
    }
}

TEST_F(SheetsRun, DirectoryHostileSheetNamesStayInside) {
  // Names are 8-bit (Latin-1) and cut at a NUL by the loader, so the
  // ill-formed UTF-8 and NUL cases of the rule itself are unit tests; here
  // they arrive as two Latin-1 letters and a name cut short. 255 e-acute
  // are 510 bytes of UTF-8.
  std::string long_name(255, '\xe9');
  std::vector<std::string> names = {
      "../x",    "/etc/passwd",           ".",           "..",   "",
      long_name, std::string("n\0ul", 4), "bad\xff\xfe", "Same", "Same"};
  spit(dir_ + "/evil.xls", numbered_workbook(names));
  fs::create_directory(dir_ + "/d");
  ProgramResult r = run({"-d", "d", "evil.xls"});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  std::string cut;
  for (int i = 0; i < 123; ++i) cut += "\xc3\xa9";  // 5 + 246 + 4 = 255 bytes
  std::vector<std::string> expected = {"evil-" + cut + ".csv",
                                       "evil-5.csv",
                                       "evil-Same-2.csv",
                                       "evil-Same.csv",
                                       "evil-_.csv",
                                       "evil-_..csv",
                                       "evil-_._x.csv",
                                       "evil-_etc_passwd.csv",
                                       "evil-bad\xc3\xbf\xc3\xbe.csv",
                                       "evil-n.csv"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(listing("d"), expected);
  // Nothing was written beside the directory (the run's own files only).
  EXPECT_EQ(listing(""), (std::vector<std::string>{"book.xls", "d", "evil.xls"}));
  EXPECT_EQ(slurp(dir_ + "/d/evil-Same-2.csv"), run({"-n", "10", "evil.xls"}).out);
  EXPECT_EQ(slurp(dir_ + "/d/evil-_._x.csv"), run({"-n", "../x", "evil.xls"}).out);
}

TEST_F(SheetsRun, DirectoryReplacesOldFilesButNotThisRunsOwn) {
  fs::create_directories(dir_ + "/a");
  fs::create_directories(dir_ + "/d");
  spit(dir_ + "/a/book.xls", numbered_workbook({"One"}));
  spit(dir_ + "/d/book-One.csv", "stale\n");
  ProgramResult r = run({"-d", "d/", "book.xls", "a/book.xls", "book.xls"});
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(listing("d"), (std::vector<std::string>{"book-3-2.csv", "book-3.csv", "book-One-2.csv",
                                                    "book-One-3.csv", "book-One.csv",
                                                    "book-Two-2.csv", "book-Two.csv"}));
  std::string one = run({"-n", "One", "book.xls"}).out;
  EXPECT_EQ(slurp(dir_ + "/d/book-One.csv"), one);
  EXPECT_EQ(slurp(dir_ + "/d/book-One-2.csv"), one);
}

TEST_F(SheetsRun, DirectoryFileThatCannotBeWrittenIsReportedAndTheRunGoesOn) {
  fs::create_directories(dir_ + "/d/book-One.csv");  // a directory where a file would go
  fs::create_symlink("/dev/full", dir_ + "/d/book-Two.csv");
  ProgramResult r = run({"-d", "d", "book.xls"});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "sheetdump: d/book-One.csv: cannot create file: Is a directory\n"
            "sheetdump: d/book-Two.csv: cannot write file: No space left on device\n");
  EXPECT_EQ(slurp(dir_ + "/d/book-3.csv"), run({"-n", "3", "book.xls"}).out);
}

TEST_F(SheetsRun, DirectoryThatCannotBeCreatedEndsTheRun) {
  spit(dir_ + "/plain", "x");
  ProgramResult r = run({"-d", "plain/sub", "book.xls"});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "sheetdump: plain/sub: cannot create directory: Not a directory\n");
}

TEST_F(SheetsRun, ReadOnlyDirectory) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes into a read-only directory";
  fs::create_directory(dir_ + "/ro");
  fs::permissions(dir_ + "/ro", fs::perms::owner_read | fs::perms::owner_exec);
  ProgramResult r = run({"-d", "ro", "-n", "One", "book.xls"});
  fs::permissions(dir_ + "/ro", fs::perms::owner_all);
  EXPECT_EQ(r.err, "sheetdump: ro/book-One.csv: cannot create file: Permission denied\n");
}

// ---- --keep-going --------------------------------------------------------

TEST_F(SheetsRun, KeepGoingPastFilesThatCannotBeOpened) {
  for (const auto& mode : kModes) {
    std::string book = run(cat(mode, {"book.xls"})).out;
    ProgramResult r = run(cat(mode, {"-k", "missing", "book.xls", ".", "book.xls"}));
    EXPECT_EQ(r.out, book + book);
    EXPECT_EQ(r.err,
              "Could not open file for parsing: missing\n"
              "Could not open file for parsing: .\n");
    r = run(cat(mode, {"book.xls", "missing", "book.xls"}));  // the default still stops
    EXPECT_EQ(r.out, book);
    EXPECT_EQ(r.err, "Could not open file for parsing: missing\n");
  }
  ProgramResult d = run({"--keep-going", "-d", "o", "missing", "book.xls"});
  EXPECT_EQ(d.err, "Could not open file for parsing: missing\n");
  EXPECT_EQ(listing("o").size(), 3u);
}

// ---- Files that yield nothing --------------------------------------------

TEST_F(SheetsRun, EveryUnusableFileHasItsMessageAndTheOthersConvert) {
  std::string full = slurp(kBasic);
  spit(dir_ + "/empty.xls", "");
  spit(dir_ + "/text.xls", "name,value\nx,1\n");
  spit(dir_ + "/cut.xls", full.substr(0, full.size() / 2));
  xlsw::Bytes old = xlsw::concat({xlsw::record(0x0409, {0, 0, 0x10, 0}), xlsw::eof()});
  spit(dir_ + "/biff4.xls", as_string(old));
  // Globals, then a worksheet whose EOF never comes.
  xlsw::Bytes open_sheet = xlsw::worksheet(2, 1,
                                           {xlsw::number(0, 0, 0, 1), xlsw::number(1, 0, 0, 2)});
  open_sheet.resize(open_sheet.size() - 4);
  spit(dir_ + "/open.xls",
       as_string(xlsw::with_filler(xlsw::workbook_stream({"S"}, {}, {open_sheet}))));
  spit(dir_ + "/nocells.xls", numbered_workbook({}));
  const std::string enc = kFiles + "encrypted.xls";
  const std::string nostream = kFiles + "no_workbook_stream.xls";
  for (const auto& mode : kModes) {
    std::string book = run(cat(mode, {"book.xls"})).out;
    std::string open_out = run(cat(mode, {"open.xls"})).out;
    ProgramResult r = run(
        cat(mode, {"empty.xls", "book.xls", "text.xls", enc, "book.xls", nostream, "biff4.xls",
                   "cut.xls", "open.xls", "nocells.xls", "book.xls"}));
    EXPECT_EQ(r.out, book + book + open_out + book);
    EXPECT_EQ(r.err,
              "sheetdump: empty.xls: not an .xls workbook\n"
              "sheetdump: text.xls: not an .xls workbook\n"
              "sheetdump: " +
                  enc +
                  ": encrypted workbook, not supported\n"
                  "sheetdump: " +
                  nostream +
                  ": no Workbook or Book stream in the compound file\n"
                  "sheetdump: biff4.xls: BIFF version not supported\n"
                  "sheetdump: cut.xls: truncated workbook\n"
                  "sheetdump: open.xls: truncated workbook\n");
    // The truncated worksheet's rows read so far are written.
    EXPECT_FALSE(open_out.empty());
  }
  // With --list and --sheet the messages are the same, and an unusable
  // file gets no "no sheet" message besides.
  ProgramResult l = run({"-l", "-n", "One", enc, "book.xls"});
  EXPECT_EQ(l.out, "book.xls\t1\tOne\tworksheet\t3\t1\n");
  EXPECT_EQ(l.err, "sheetdump: " + enc + ": encrypted workbook, not supported\n");
}

}  // namespace
