// The UTF-8 checker is what other tests trust to judge outputs, so it must
// reject every ill-formed sequence and accept every well-formed one; the
// encoder must never produce a surrogate or a value past U+10FFFF.
#include "base/utf8.hpp"

#include <gtest/gtest.h>

#include <string>

namespace sheetdump {
namespace {

using S = std::string;

TEST(IsValidUtf8, AcceptsWellFormed) {
  const S good[] = {"",
                    "abc",
                    S("a\0b", 3),
                    "\x7F",
                    "\xC2\x80",
                    "\xDF\xBF",
                    "\xE0\xA0\x80",
                    "\xED\x9F\xBF",
                    "\xEE\x80\x80",
                    "\xEF\xBF\xBF",
                    "\xF0\x90\x80\x80",
                    "\xF4\x8F\xBF\xBF",
                    "a\xC3\xA9z\xE2\x82\xAC\xF0\x9F\x98\x80"};
  for (const S& s : good) EXPECT_TRUE(is_valid_utf8(s)) << ::testing::PrintToString(s);
}

TEST(IsValidUtf8, RejectsIllFormed) {
  const S bad[] = {
      "\x80",              // stray continuation
      "a\xBF",             // stray continuation after ASCII
      "\xC0\x80",          // overlong NUL
      "\xC1\xBF",          // overlong 2-byte
      "\xE0\x9F\xBF",      // overlong 3-byte
      "\xF0\x8F\xBF\xBF",  // overlong 4-byte
      "\xED\xA0\x80",      // high surrogate
      "\xED\xBF\xBF",      // low surrogate
      "\xF4\x90\x80\x80",  // above U+10FFFF
      "\xF5\x80\x80\x80",  // lead byte past F4
      "\xFF",
      "\xC3",              // truncated 2-byte
      "\xE2\x82",          // truncated 3-byte
      "\xF0\x9F\x98",      // truncated 4-byte
      "\xE2\x28\xA1",      // bad second byte
      "\xE2\x82\x28",      // bad third byte
      "\xF0\x9F\x98\x28",  // bad fourth byte
  };
  for (const S& s : bad) EXPECT_FALSE(is_valid_utf8(s)) << ::testing::PrintToString(s);
}

TEST(AppendCodePoint, EdgesAndNonCharacters) {
  const struct {
    uint32_t cp;
    S utf8;
  } cases[] = {
      {0, S("\0", 1)},
      {0x7F, "\x7F"},
      {0x80, "\xC2\x80"},
      {0x7FF, "\xDF\xBF"},
      {0x800, "\xE0\xA0\x80"},
      {0xFFFF, "\xEF\xBF\xBF"},
      {0x10000, "\xF0\x90\x80\x80"},
      {0x10FFFF, "\xF4\x8F\xBF\xBF"},
      {0xD800, "\xEF\xBF\xBD"},
      {0xDFFF, "\xEF\xBF\xBD"},
      {0x110000, "\xEF\xBF\xBD"},
      {0xFFFFFFFF, "\xEF\xBF\xBD"},
  };
  for (const auto& c : cases) {
    S out;
    append_code_point_as_utf8(out, c.cp);
    EXPECT_EQ(out, c.utf8) << std::hex << c.cp;
    EXPECT_TRUE(is_valid_utf8(out));
  }
}

}  // namespace
}  // namespace sheetdump
