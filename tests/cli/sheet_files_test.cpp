// The file names of --directory: one plain name inside the directory
// whatever the sheet name holds, and never the same name twice in a run.
#include "cli/sheet_files.hpp"

#include <gtest/gtest.h>

#include <string>

#include "base/utf8.hpp"

namespace sheetdump {
namespace {

TEST(WorkbookStem, LastComponentWithoutXls) {
  EXPECT_EQ(workbook_stem("book.xls"), "book");
  EXPECT_EQ(workbook_stem("a/b/Book.XLS"), "Book");
  EXPECT_EQ(workbook_stem("/x/archive.tar"), "archive.tar");
  EXPECT_EQ(workbook_stem("dir/.xls"), "");
  EXPECT_EQ(workbook_stem("plain"), "plain");
}

struct SafeCase {
  const char* name;
  std::string sheet;
  std::string safe;
};

TEST(SafeSheetPart, HostileNames) {
  const SafeCase cases[] = {
      {"dot_dot_slash", "../x", "_._x"},
      {"absolute", "/etc/passwd", "_etc_passwd"},
      {"dot", ".", "_"},
      {"dot_dot", "..", "_."},
      {"empty_is_position", "", "7"},
      {"nul", std::string("a\0b", 3), "a_b"},
      {"controls", "a\tb\nc\x7f", "a_b_c_"},
      {"backslash", "a\\b", "a_b"},
      {"invalid_utf8", "a\xff\xc3(b", "a__(b"},
      {"truncated_sequence", "x\xe2\x82", "x__"},
      {"utf8_kept",
       "Gr\xc3\xbc\xc3\x9f"
       "e \xe2\x82\xac",
       "Gr\xc3\xbc\xc3\x9f"
       "e \xe2\x82\xac"},
      {"inner_dots_kept", "a.b..c", "a.b..c"},
  };
  for (const SafeCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string safe = safe_sheet_part(c.sheet, 7);
    EXPECT_EQ(safe, c.safe);
    EXPECT_TRUE(is_valid_utf8(safe));
    EXPECT_EQ(safe.find('/'), std::string::npos);
    EXPECT_EQ(safe.find('\0'), std::string::npos);
  }
}

TEST(SheetFileNames, SuffixForNamesThisRunClaimed) {
  SheetFileNames names;
  EXPECT_EQ(names.claim("book", "S", "csv"), "book-S.csv");
  EXPECT_EQ(names.claim("book", "S", "csv"), "book-S-2.csv");
  EXPECT_EQ(names.claim("book", "S", "csv"), "book-S-3.csv");
  EXPECT_EQ(names.claim("book", "S", "sql"), "book-S.sql");
  // A sheet whose own name looks like a suffixed one takes the next free.
  EXPECT_EQ(names.claim("book", "S-2", "csv"), "book-S-2-2.csv");
}

TEST(SheetFileNames, LongNamesAreCutToOneFileName) {
  SheetFileNames names;
  std::string sheet(300, 'x');
  std::string first = names.claim("book", sheet, "csv");
  EXPECT_EQ(first.size(), kMaxFileName);
  EXPECT_EQ(first.substr(0, 5), "book-");
  EXPECT_EQ(first.substr(first.size() - 4), ".csv");
  std::string second = names.claim("book", sheet, "csv");
  EXPECT_EQ(second.size(), kMaxFileName);
  EXPECT_EQ(second.substr(second.size() - 6), "-2.csv");
  EXPECT_NE(first, second);
  // A cut never splits a character.
  std::string euros;
  for (int i = 0; i < 100; ++i) euros += "\xe2\x82\xac";
  std::string cut = names.claim("b", euros, "tsv");
  EXPECT_LE(cut.size(), kMaxFileName);
  EXPECT_TRUE(is_valid_utf8(cut));
  // A long stem is cut too, after the sheet part.
  std::string stem(300, 's');
  std::string both = names.claim(stem, "S", "csv");
  EXPECT_EQ(both.size(), kMaxFileName);
  EXPECT_EQ(both.substr(both.size() - 4), ".csv");
}

TEST(CutUtf8, KeepsWholeCharacters) {
  EXPECT_EQ(cut_utf8("ab\xc3\xbc", 3), "ab");
  EXPECT_EQ(cut_utf8("ab\xc3\xbc", 4), "ab\xc3\xbc");
  EXPECT_EQ(cut_utf8("abc", 0), "");
}

}  // namespace
}  // namespace sheetdump
