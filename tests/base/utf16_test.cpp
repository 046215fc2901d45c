// UTF-16 code units from the file become UTF-8 in the program: surrogate
// pairs are joined into one 4-byte sequence, anything unpaired becomes
// U+FFFD, and nothing is ever dropped silently.
#include "base/utf16.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sheetdump {
namespace {

struct Utf16Case {
  const char* name;
  std::vector<uint16_t> units;
  std::string utf8;
};

std::ostream& operator<<(std::ostream& os, const Utf16Case& c) { return os << c.name; }

class Utf16ToUtf8 : public ::testing::TestWithParam<Utf16Case> {};

TEST_P(Utf16ToUtf8, Converts) {
  const Utf16Case& c = GetParam();
  std::string out;
  append_utf16_as_utf8(out, c.units);
  EXPECT_EQ(out, c.utf8);
}

const std::string kReplacement = "\xEF\xBF\xBD";

INSTANTIATE_TEST_SUITE_P(
    Cases, Utf16ToUtf8,
    ::testing::Values(
        Utf16Case{"empty", {}, ""}, Utf16Case{"ascii", {'a', 'B', '0', ' ', '~'}, "aB0 ~"},
        Utf16Case{"nul_kept", {'a', 0, 'b'}, std::string("a\0b", 3)},
        Utf16Case{"last_one_byte", {0x7F}, "\x7F"}, Utf16Case{"first_two_byte", {0x80}, "\xC2\x80"},
        Utf16Case{"two_byte_e_acute", {0xE9}, "\xC3\xA9"},
        Utf16Case{"last_two_byte", {0x7FF}, "\xDF\xBF"},
        Utf16Case{"first_three_byte", {0x800}, "\xE0\xA0\x80"},
        Utf16Case{"three_byte_euro", {0x20AC}, "\xE2\x82\xAC"},
        Utf16Case{"last_bmp", {0xFFFF}, "\xEF\xBF\xBF"},
        Utf16Case{"just_below_surrogates", {0xD7FF}, "\xED\x9F\xBF"},
        Utf16Case{"just_above_surrogates", {0xE000}, "\xEE\x80\x80"},
        Utf16Case{"pair_first_supplementary", {0xD800, 0xDC00}, "\xF0\x90\x80\x80"},
        Utf16Case{"pair_emoji", {0xD83D, 0xDE00}, "\xF0\x9F\x98\x80"},
        Utf16Case{"pair_last_code_point", {0xDBFF, 0xDFFF}, "\xF4\x8F\xBF\xBF"},
        Utf16Case{"lone_high_then_ascii", {0xD83D, 'x'}, kReplacement + "x"},
        Utf16Case{"lone_low", {'x', 0xDE00, 'y'}, "x" + kReplacement + "y"},
        Utf16Case{"high_at_end", {'x', 0xD83D}, "x" + kReplacement},
        // Two highs: the first is unpaired, the second pairs with the low.
        Utf16Case{"high_high_low", {0xD83D, 0xD83D, 0xDE00}, kReplacement + "\xF0\x9F\x98\x80"},
        // Low before high is not a pair: two replacements.
        Utf16Case{"low_then_high", {0xDE00, 0xD83D}, kReplacement + kReplacement},
        Utf16Case{"mixed",
                  {'A', 0xE9, 0x20AC, 0xD83D, 0xDE00, 'z'},
                  "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(Utf16ToUtf8Append, KeepsWhatTheStringAlreadyHeld) {
  std::string out = "head:";
  const std::vector<uint16_t> units{0xE9};
  append_utf16_as_utf8(out, units);
  EXPECT_EQ(out, "head:\xC3\xA9");
}

}  // namespace
}  // namespace sheetdump
