// --sheet selection and --list fields.
#include "cli/sheet_select.hpp"

#include <gtest/gtest.h>

#include "cli/sheet_list.hpp"

namespace sheetdump {
namespace {

std::vector<size_t> chosen(const std::vector<std::string>& selectors,
                           const std::vector<std::string>& names, size_t count,
                           std::vector<std::string>* unused = nullptr) {
  SheetSelection sel(selectors, names);
  std::vector<size_t> out;
  for (size_t i = 1; i <= count; ++i) {
    std::optional<std::string> name;
    if (i <= names.size()) name = names[i - 1];
    if (sel.wants(i, name)) out.push_back(i);
  }
  if (unused) *unused = sel.unused();
  return out;
}

TEST(SheetSelection, NamesPositionsAndMisses) {
  using V = std::vector<size_t>;
  const std::vector<std::string> names = {"A", "2", "C", ""};
  EXPECT_EQ(chosen({}, names, 4), (V{1, 2, 3, 4}));
  EXPECT_EQ(chosen({"C"}, names, 4), (V{3}));
  EXPECT_EQ(chosen({"c"}, names, 4), V{});     // exact match only
  EXPECT_EQ(chosen({"2"}, names, 4), (V{2}));  // a name made of digits is a name
  EXPECT_EQ(chosen({"3"}, names, 4), (V{3}));  // no sheet named 3: position 3
  EXPECT_EQ(chosen({"5"}, names, 6), (V{5}));  // a sheet beyond the names
  EXPECT_EQ(chosen({"C", "1", "C"}, names, 4), (V{1, 3}));
  EXPECT_EQ(chosen({""}, names, 4), (V{4}));  // the empty name is a name
  std::vector<std::string> unused;
  chosen({"A", "Z", "9", "0", "01x"}, names, 4, &unused);
  EXPECT_EQ(unused, (std::vector<std::string>{"Z", "9", "0", "01x"}));
}

TEST(SheetSelection, DuplicateNamesAreAllChosen) {
  EXPECT_EQ(chosen({"S"}, {"S", "T", "S"}, 3), (std::vector<size_t>{1, 3}));
}

TEST(SheetList, EscapesAndKinds) {
  std::string s;
  append_escaped_field(s, "a\tb\nc\\d\re");
  EXPECT_EQ(s, "a\\tb\\nc\\\\d\\re");
  Sheet sheet;
  const std::pair<uint16_t, const char*> kinds[] = {
      {0x10, "worksheet"}, {0x20, "chart"}, {0x40, "macro"}, {0x06, "other"}, {0x100, "other"}};
  for (auto [type, word] : kinds) {
    sheet.bof_type = type;
    EXPECT_STREQ(sheet_kind_word(sheet), word);
  }
}

}  // namespace
}  // namespace sheetdump
