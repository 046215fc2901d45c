// The code-page decoder turns each text of a workbook into UTF-8: every
// listed code page reaches the intended character set, bytes a page cannot
// decode become U+FFFD one by one, texts end at their first NUL, and no
// input, however hostile, yields invalid UTF-8 or reads past its bytes.
#include "base/codepage.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "base/utf8.hpp"

namespace sheetdump {
namespace {

const std::string R = "\xEF\xBF\xBD";  // U+FFFD

std::vector<uint8_t> bytes_of(std::string_view s) { return {s.begin(), s.end()}; }

std::string decode(uint16_t page, std::string_view s) {
  // An exactly sized heap copy: any read past the end trips ASan.
  const std::vector<uint8_t> b = bytes_of(s);
  return TextDecoder(page).to_utf8(b);
}

struct DecodeCase {
  const char* name;
  uint16_t page;
  std::string bytes;
  std::string utf8;
};

std::ostream& operator<<(std::ostream& os, const DecodeCase& c) { return os << c.name; }

class Decodes : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(Decodes, ToUtf8) {
  const DecodeCase& c = GetParam();
  EXPECT_EQ(decode(c.page, c.bytes), c.utf8);
}

using S = std::string;

INSTANTIATE_TEST_SUITE_P(
    SingleByte, Decodes,
    ::testing::Values(
        DecodeCase{"w1252_ascii_and_latin", 1252, "caf\xE9", "caf\xC3\xA9"},
        DecodeCase{"w1252_euro", 1252, "\x80", "\xE2\x82\xAC"},
        DecodeCase{"w1252_y_diaeresis", 1252, "\x9F", "\xC5\xB8"},
        // glibc leaves these five bytes without a character: U+FFFD each.
        DecodeCase{"w1252_undefined", 1252, "\x81\x8D\x8F\x90\x9D", R + R + R + R + R},
        DecodeCase{"w1252_undefined_between", 1252,
                   "a\x81"
                   "b",
                   "a" + R + "b"},
        DecodeCase{"w1251_cyrillic", 1251, "\xCF\xF0\xE8\xE2\xE5\xF2",
                   "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},
        DecodeCase{"w1251_euro", 1251, "\x88", "\xE2\x82\xAC"},
        DecodeCase{"w1251_undefined", 1251, "\x98", R},
        DecodeCase{"w1250_s_caron", 1250, "\x8A\xB9", "\xC5\xA0\xC4\x85"},
        DecodeCase{"w1253_alpha", 1253, "\xE1", "\xCE\xB1"},
        DecodeCase{"w1254_g_breve", 1254, "\xF0", "\xC4\x9F"},
        DecodeCase{"w1255_alef", 1255, "\xE0", "\xD7\x90"},
        DecodeCase{"w1256_alef", 1256, "\xC7", "\xD8\xA7"},
        DecodeCase{"w1257_a_ogonek", 1257, "\xE0", "\xC4\x85"},
        // Read by table, so a combining mark stays a separate character.
        DecodeCase{"w1258_combining_not_composed", 1258, "A\xCC", "A\xCC\x80"},
        DecodeCase{"cp874_thai", 874, "\xA1", "\xE0\xB8\x81"},
        DecodeCase{"dos437", 437, "\x82\xB0\xE1", "\xC3\xA9\xE2\x96\x91\xC3\x9F"},
        DecodeCase{"dos850", 850, "\xD5\x9B", "\xC4\xB1\xC3\xB8"},
        DecodeCase{"ascii367", 367, "abc~", "abc~"},
        DecodeCase{"ascii367_high_bytes", 367,
                   "a\x80\xFF"
                   "b",
                   "a" + R + R + "b"},
        DecodeCase{"mac_roman", 10000, "\x8E\xA5\xD0\xD1",
                   "\xC3\xA9\xE2\x80\xA2\xE2\x80\x93\xE2\x80\x94"},
        DecodeCase{"mac_roman_euro", 10000, "\xDB", "\xE2\x82\xAC"},
        DecodeCase{"mac_roman_32768", 32768, "\x8E\xD0", "\xC3\xA9\xE2\x80\x93"},
        DecodeCase{"mac_greek", 10006, "\xB6\xEC\xEC\xC0\xE4\xE1",
                   "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xAC\xCE\xB4\xCE\xB1"},
        DecodeCase{"mac_greek_euro", 10006, "\x9C", "\xE2\x82\xAC"},
        DecodeCase{"mac_cyrillic", 10007, "\x8F\xF0\xE8\xE2\xE5\xF2",
                   "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},
        DecodeCase{"mac_central_european", 10029,
                   "\xFC\x97"
                   "d\x90",
                   "\xC5\x81\xC3\xB3"
                   "d\xC5\xBA"},
        // Icelandic letters, and the dashes where Mac Roman has them.
        DecodeCase{"mac_icelandic", 10079, "\xA0\xDC\xD0\xD1",
                   "\xC3\x9D\xC3\x90\xE2\x80\x93\xE2\x80\x94"},
        DecodeCase{"mac_turkish", 10081, "\xDA\xDD\x8E", "\xC4\x9E\xC4\xB1\xC3\xA9"},
        DecodeCase{"mac_turkish_empty_slot", 10081, "\xF5", R},
        DecodeCase{"w1252_via_32769", 32769, "\x80\x81", "\xE2\x82\xAC" + R},
        DecodeCase{"unknown_number_is_1252", 12345, "\x80\xE9", "\xE2\x82\xAC\xC3\xA9"},
        DecodeCase{"other_iconv_page_866", 866, "\x8F", "\xD0\x9F"}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    MultiByte, Decodes,
    ::testing::Values(
        DecodeCase{"cp932_hiragana", 932, "\x82\xA0", "\xE3\x81\x82"},
        DecodeCase{"cp932_kanji_after_ascii", 932, "ab\x93\xFA\x96\x7B",
                   "ab\xE6\x97\xA5\xE6\x9C\xAC"},
        DecodeCase{"cp932_halfwidth_katakana", 932, "\xB1", "\xEF\xBD\xB1"},
        DecodeCase{"cp932_backslash_stays", 932, "\\~", "\\~"},
        DecodeCase{"cp932_ideographic_space", 932, "\x81\x40", "\xE3\x80\x80"},
        // An invalid trail byte: the lead becomes U+FFFD, the trail is read anew.
        DecodeCase{"cp932_bad_trail", 932, "\x82\x20\x82\xA0", R + " \xE3\x81\x82"},
        DecodeCase{"cp932_lone_lead_at_end", 932, "a\x82", "a" + R},
        DecodeCase{"cp932_undefined_single", 932,
                   "\x80"
                   "a",
                   R + "a"},
        DecodeCase{"cp936_chinese", 936, "\xC4\xE3\xBA\xC3", "\xE4\xBD\xA0\xE5\xA5\xBD"},
        DecodeCase{"cp936_euro", 936, "\x80", "\xE2\x82\xAC"},
        DecodeCase{"cp936_ff_undefined", 936,
                   "x\xFF"
                   "y",
                   "x" + R + "y"},
        DecodeCase{"cp936_lead_at_end", 936, "\xC4\xE3\xC4", "\xE4\xBD\xA0" + R},
        DecodeCase{"cp949_korean", 949, "\xC7\xD1\xB1\xB9", "\xED\x95\x9C\xEA\xB5\xAD"},
        DecodeCase{"cp949_uhc_extension", 949, "\x81\x41", "\xEA\xB0\x82"},
        DecodeCase{"cp950_chinese", 950, "\xA4\xA4\xA4\xE5", "\xE4\xB8\xAD\xE6\x96\x87"},
        DecodeCase{"cp950_euro", 950, "\xA3\xE1", "\xE2\x82\xAC"},
        // Johab: not in the list, known to iconv, multibyte, 0x5C is the won sign.
        DecodeCase{"cp1361_johab", 1361, "\x88\x61\x5C", "\xEA\xB0\x80\xE2\x82\xA9"}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Utf16, Decodes,
    ::testing::Values(
        DecodeCase{"ascii", 1200, S("A\0B\0", 4), "AB"},
        DecodeCase{"e_acute_euro", 1200, S("\xE9\0\xAC\x20", 4), "\xC3\xA9\xE2\x82\xAC"},
        DecodeCase{"surrogate_pair", 1200, S("\x3D\xD8\x00\xDE", 4), "\xF0\x9F\x98\x80"},
        DecodeCase{"lone_high", 1200, S("\x3D\xD8x\0", 4), R + "x"},
        DecodeCase{"high_at_end", 1200, S("x\0\x3D\xD8", 4), "x" + R},
        DecodeCase{"lone_low", 1200, S("\x00\xDEx\0", 4), R + "x"},
        DecodeCase{"odd_trailing_byte", 1200, S("A\0B", 3), "A" + R},
        DecodeCase{"high_then_odd_byte", 1200, S("\x3D\xD8\x00", 3), R + R},
        DecodeCase{"single_byte", 1200, "A", R},
        // A zero byte is not a NUL unit: 0x4100 is a character.
        DecodeCase{"zero_low_byte", 1200, S("\0\x41", 2), "\xE4\x84\x80"},
        DecodeCase{"nul_unit_cuts", 1200, S("A\0\0\0B\0", 6), "A"},
        DecodeCase{"high_then_nul", 1200, S("\x3D\xD8\0\0x\0", 6), R}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    NulAndEmpty, Decodes,
    ::testing::Values(DecodeCase{"w1252_nul_cuts", 1252, S("ab\0cd", 5), "ab"},
                      DecodeCase{"w1252_leading_nul", 1252, S("\0cd", 3), ""},
                      DecodeCase{"mac_greek_nul_cuts", 10006, S("\xE1\0\xE1", 3), "\xCE\xB1"},
                      DecodeCase{"cp932_nul_cuts", 932, S("\x82\xA0\0\x82\xA0", 5), "\xE3\x81\x82"},
                      DecodeCase{"cp932_nul_after_ascii", 932, S("ab\0\x82\xA0", 5), "ab"},
                      // A lead byte right before the NUL is an incomplete character.
                      DecodeCase{"cp932_lead_then_nul", 932, S("\x82\0\x82\xA0", 4), R},
                      DecodeCase{"w1252_empty", 1252, "", ""},
                      DecodeCase{"cp932_empty", 932, "", ""},
                      DecodeCase{"utf16_empty", 1200, "", ""},
                      DecodeCase{"mac_greek_empty", 10006, "", ""}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

struct ChoiceCase {
  uint16_t asked;
  uint16_t chosen;
  const char* charset;
  DecodeMethod method;
};

TEST(TextDecoderChoice, ReportsTheCodePageAndMethodUsed) {
  const ChoiceCase cases[] = {
      {1252, 1252, "CP1252", DecodeMethod::Table},
      {32769, 1252, "CP1252", DecodeMethod::Table},
      {12345, 1252, "CP1252", DecodeMethod::Table},
      {0, 1252, "CP1252", DecodeMethod::Table},
      {65535, 1252, "CP1252", DecodeMethod::Table},
      {367, 367, "ANSI_X3.4-1968", DecodeMethod::Table},
      {10000, 10000, "MACINTOSH", DecodeMethod::Table},
      {32768, 10000, "MACINTOSH", DecodeMethod::Table},
      {10006, 10006, "Mac Greek (built in)", DecodeMethod::Table},
      {10079, 10079, "MACINTOSH with Icelandic letters", DecodeMethod::Table},
      {10081, 10081, "MACINTOSH with Turkish letters", DecodeMethod::Table},
      {866, 866, "CP866", DecodeMethod::Table},
      {932, 932, "CP932", DecodeMethod::Iconv},
      {936, 936, "CP936", DecodeMethod::Iconv},
      {949, 949, "CP949", DecodeMethod::Iconv},
      {950, 950, "CP950", DecodeMethod::Iconv},
      {1361, 1361, "CP1361", DecodeMethod::Iconv},
      {1200, 1200, "UTF-16LE", DecodeMethod::Utf16Le},
  };
  for (const ChoiceCase& c : cases) {
    SCOPED_TRACE(c.asked);
    const TextDecoder d(c.asked);
    EXPECT_EQ(d.codepage(), c.chosen);
    EXPECT_EQ(d.charset(), c.charset);
    EXPECT_EQ(d.method(), c.method);
  }
}

const uint16_t kSingleBytePages[] = {367,   437,   850,   874,   1250,  1251,  1252,  1253,
                                     1254,  1255,  1256,  1257,  1258,  10000, 10006, 10007,
                                     10029, 10079, 10081, 32768, 32769, 866};

TEST(TextDecoderSingleByte, EveryByteGivesOneValidCharacter) {
  for (uint16_t page : kSingleBytePages) {
    SCOPED_TRACE(page);
    const TextDecoder d(page);
    ASSERT_EQ(d.method(), DecodeMethod::Table);
    std::string all;
    for (int b = 1; b < 256; ++b) {
      const uint8_t byte = uint8_t(b);
      const std::string one = d.to_utf8(std::span<const uint8_t>(&byte, 1));
      EXPECT_FALSE(one.empty()) << b;
      EXPECT_TRUE(is_valid_utf8(one)) << b;
      EXPECT_EQ(one.find('\0'), std::string::npos) << b;
      if (b < 0x80) {
        EXPECT_EQ(one, std::string(1, char(b)));
      }
      all += one;
    }
    std::vector<uint8_t> every;
    for (int b = 1; b < 256; ++b) every.push_back(uint8_t(b));
    EXPECT_EQ(d.to_utf8(every), all);  // the ASCII fast path agrees with the table
  }
}

TEST(TextDecoderAppend, KeepsWhatTheStringHeldAndSurvivesAMove) {
  TextDecoder moved(932);
  TextDecoder d = std::move(moved);
  std::string out = "head:";
  const std::vector<uint8_t> b = bytes_of("\x82\xA0");
  d.append_utf8(out, b);
  d.append_utf8(out, b);
  EXPECT_EQ(out, "head:\xE3\x81\x82\xE3\x81\x82");
}

TEST(TextDecoderAppend, IconvStateDoesNotLeakBetweenTexts) {
  const TextDecoder d(932);
  // A text ending in a lone lead byte must not swallow the next text's first byte.
  EXPECT_EQ(d.to_utf8(bytes_of("a\x82")), "a" + R);
  EXPECT_EQ(d.to_utf8(bytes_of("\xB1"
                               "b")),
            "\xEF\xBD\xB1"
            "b");
}

TEST(TextDecoderAppend, LongTextsCrossTheConversionBuffer) {
  std::string in, want;
  for (int i = 0; i < 1000; ++i) {
    in += "\x82\xA0";
    want += "\xE3\x81\x82";
  }
  in += "\x82";
  want += R;
  EXPECT_EQ(decode(932, in), want);
}

TEST(TextDecoderRobustness, RandomBytesGiveValidUtf8) {
  std::mt19937 rng(12345);
  for (uint16_t page : {932, 936, 949, 950, 1361, 1200, 1252}) {
    SCOPED_TRACE(page);
    const TextDecoder d(page);
    for (int round = 0; round < 2000; ++round) {
      std::vector<uint8_t> b(rng() % 40);
      // Mostly high bytes, so that lead and trail bytes meet often.
      for (uint8_t& x : b) x = uint8_t(rng() % 4 == 0 ? rng() % 128 : 0x80 + rng() % 128);
      const std::string out = d.to_utf8(b);
      ASSERT_TRUE(is_valid_utf8(out));
      ASSERT_EQ(out.find('\0'), std::string::npos);
    }
  }
}

struct Latin1Case {
  const char* name;
  std::string bytes;
  std::string utf8;
};

std::ostream& operator<<(std::ostream& os, const Latin1Case& c) { return os << c.name; }

class Latin1 : public ::testing::TestWithParam<Latin1Case> {};

TEST_P(Latin1, ToUtf8) {
  std::string out = "x";
  append_latin1_as_utf8(out, GetParam().bytes);
  EXPECT_EQ(out, "x" + GetParam().utf8);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Latin1,
    ::testing::Values(Latin1Case{"empty", "", ""}, Latin1Case{"ascii", "abc~", "abc~"},
                      Latin1Case{"nul_kept", S("a\0b", 3), S("a\0b", 3)},
                      Latin1Case{"c1_control", "\x80", "\xC2\x80"},
                      Latin1Case{"e_acute_mid_run", "caf\xE9!", "caf\xC3\xA9!"},
                      Latin1Case{"y_diaeresis", "\xFF", "\xC3\xBF"},
                      Latin1Case{"high_run", "\xC0\xC1", "\xC3\x80\xC3\x81"}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(Latin1All, EveryByteIsItsCodePoint) {
  std::string in;
  for (int b = 0; b < 256; ++b) in.push_back(char(b));
  std::string out;
  append_latin1_as_utf8(out, in);
  EXPECT_EQ(out.size(), 128u + 2 * 128u);
  EXPECT_TRUE(is_valid_utf8(out));
  std::string want;
  for (int b = 0; b < 256; ++b) append_code_point_as_utf8(want, uint32_t(b));
  EXPECT_EQ(out, want);
}

}  // namespace
}  // namespace sheetdump
