// The shared string table: strings read from the SST record and the
// CONTINUE records after it, given here as hand-made record data so that
// every cut can be placed exactly.
#include "biff/shared_strings.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "biff/workbook_loader.hpp"
#include "support/loaded_workbook.hpp"
#include "support/xls_writer.hpp"

namespace sheetdump {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes u8(uint8_t v) { return {v}; }
Bytes u16(uint16_t v) { return {uint8_t(v), uint8_t(v >> 8)}; }
Bytes u32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
Bytes chars(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes wide(std::initializer_list<uint16_t> units) {
  Bytes b;
  for (uint16_t u : units) b = b + u16(u);
  return b;
}
Bytes fill(size_t n, uint8_t v) { return Bytes(n, v); }

// The 8 bytes in front of the strings: total uses (not read), string count.
Bytes head(int32_t count) { return u32(1000) + u32(uint32_t(count)); }

// A complete 8-bit string without runs or extended data.
Bytes str8(const std::string& s) { return u16(uint16_t(s.size())) + u8(0) + chars(s); }

SharedStrings parse(const std::vector<Bytes>& records) {
  std::vector<std::span<const uint8_t>> spans(records.begin(), records.end());
  return read_sst(spans);
}

std::vector<std::string> all_strings(const SharedStrings& sst) {
  std::vector<std::string> out;
  for (size_t i = 0; i < sst.count(); ++i) out.emplace_back(*sst.at(int32_t(i)));
  return out;
}

const std::string kEAcute = "\xC3\xA9";        // U+00E9 in UTF-8
const std::string kEuro = "\xE2\x82\xAC";      // U+20AC
const std::string kGrin = "\xF0\x9F\x98\x80";  // U+1F600

struct SstCase {
  const char* name;
  std::vector<Bytes> records;        // SST data first, then each CONTINUE's data
  std::vector<std::string> strings;  // every string present, in order
};

std::ostream& operator<<(std::ostream& os, const SstCase& c) { return os << c.name; }

class ReadSst : public ::testing::TestWithParam<SstCase> {};

TEST_P(ReadSst, Strings) {
  const SstCase& c = GetParam();
  SharedStrings sst = parse(c.records);
  EXPECT_EQ(all_strings(sst), c.strings);
  // Nothing beyond the strings present is found.
  EXPECT_FALSE(sst.at(int32_t(c.strings.size())).has_value());
  EXPECT_FALSE(sst.at(-1).has_value());
}

// Strings that follow the layout inside one record.
INSTANTIATE_TEST_SUITE_P(
    OneRecord, ReadSst,
    ::testing::Values(
        SstCase{"count_zero", {head(0) + str8("ignored")}, {}},
        SstCase{"count_negative", {head(-1) + str8("ignored")}, {}},
        SstCase{"shorter_than_its_count_field", {u32(1000) + u16(1)}, {}},
        SstCase{"no_records", {}, {}},
        SstCase{"plain",
                {head(3) + str8("one") + str8("two") + str8("three")},
                {"one", "two", "three"}},
        SstCase{"empty_string_then_next_after_its_header",
                {head(3) + str8("") + str8("ab") + str8("")},
                {"", "ab", ""}},
        // Bytes 0x80-0xFF of an 8-bit string are not converted.
        // 8-bit characters are U+0000..U+00FF, written as UTF-8.
        SstCase{"high_bytes_as_utf8",
                {head(2) + str8("\x80\xA0\xE9\xFF") + str8("z")},
                {"\xC2\x80\xC2\xA0\xC3\xA9\xC3\xBF", "z"}},
        // flags 0x08: a 2-byte run count after the flags, 4 bytes per run
        // after the characters. The run bytes look like a string header
        // so that a misstep reads garbage.
        SstCase{"runs_stepped_over",
                {head(2) + u16(3) + u8(0x08) + u16(2) + chars("abc") + u16(1) + u8(0) + chars("X") +
                 u16(0) + u16(0) + str8("next")},
                {"abc", "next"}},
        // flags 0x04: a 4-byte extended-data size, that many bytes after.
        SstCase{"ext_stepped_over",
                {head(2) + u16(2) + u8(0x04) + u32(6) + chars("hi") + u16(1) + u8(0) + chars("Y") +
                 fill(2, 0x41) + str8("next")},
                {"hi", "next"}},
        // flags 0x0C: run count first, then the extended-data size; the
        // runs come before the extended data.
        SstCase{"runs_and_ext",
                {head(2) + u16(2) + u8(0x0C) + u16(1) + u32(3) + chars("rx") + fill(4, 0xAA) +
                 fill(3, 0xBB) + str8("next")},
                {"rx", "next"}},
        SstCase{"runs_and_ext_zero_sized",
                {head(2) + u16(1) + u8(0x0C) + u16(0) + u32(0) + chars("q") + str8("next")},
                {"q", "next"}},
        // Other flag bits are not read.
        SstCase{"other_flag_bits_ignored",
                {head(2) + u16(2) + u8(0xF2) + chars("ok") + str8("next")},
                {"ok", "next"}},
        SstCase{"wide_string_to_utf8",
                {head(2) + u16(4) + u8(0x01) + wide({'a', 0xE9, 0x20AC, 'z'}) + str8("n")},
                {"a" + kEAcute + kEuro + "z", "n"}},
        SstCase{"wide_surrogate_pair",
                {head(1) + u16(2) + u8(0x01) + wide({0xD83D, 0xDE00})},
                {kGrin}},
        SstCase{"wide_with_runs_and_ext",
                {head(2) + u16(1) + u8(0x0D) + u16(1) + u32(2) + wide({0xE9}) + fill(4, 0) +
                 fill(2, 0) + str8("n")},
                {kEAcute, "n"}},
        // Texts end at their first NUL; the next string is still found.
        SstCase{"nul_cuts_8bit",
                {head(2) + str8(std::string("ab\0cd", 5)) + str8("e")},
                {"ab", "e"}},
        SstCase{"nul_cuts_wide",
                {head(2) + u16(3) + u8(0x01) + wide({'a', 0, 'b'}) + str8("e")},
                {"a", "e"}},
        SstCase{"nul_first", {head(2) + str8(std::string("\0x", 2)) + str8("e")}, {"", "e"}},
        // A count larger than the data: the strings not present are none.
        SstCase{"declared_more_than_present", {head(5) + str8("a") + str8("b")}, {"a", "b"}},
        // Fewer declared than present: the rest is not read.
        SstCase{"declared_fewer_than_present", {head(1) + str8("a") + str8("b")}, {"a"}}),
    [](const auto& p) { return std::string(p.param.name); });

// Strings cut at record boundaries, the way BIFF8 writers split them:
// header fields, runs and extended data simply go on in the next record;
// a cut inside the characters is followed by one option byte whose bit 0
// gives the width of the rest of the string.
INSTANTIATE_TEST_SUITE_P(
    AcrossContinue, ReadSst,
    ::testing::Values(
        SstCase{"between_strings", {head(2) + str8("ab"), str8("cd")}, {"ab", "cd"}},
        SstCase{"inside_the_count",
                {head(2) + u8(3), u8(0) + u8(0) + chars("abc") + str8("d")},
                {"abc", "d"}},
        SstCase{"between_count_and_flags",
                {head(2) + u16(3), u8(0) + chars("abc") + str8("d")},
                {"abc", "d"}},
        SstCase{
            "inside_the_run_count",
            {head(2) + u16(2) + u8(0x08) + u8(1), u8(0) + chars("ab") + fill(4, 0xEE) + str8("d")},
            {"ab", "d"}},
        SstCase{"inside_the_ext_size",
                {head(2) + u16(2) + u8(0x04) + u16(5),
                 u16(0) + chars("ab") + fill(5, 0xEE) + str8("d")},
                {"ab", "d"}},
        SstCase{"between_header_and_chars_8bit",
                {head(2) + u16(3) + u8(0), u8(0) + chars("abc") + str8("d")},
                {"abc", "d"}},
        SstCase{"between_header_and_chars_now_wide",
                {head(2) + u16(2) + u8(0), u8(1) + wide({0xE9, 0x20AC}) + str8("d")},
                {kEAcute + kEuro, "d"}},
        SstCase{"inside_chars_8_to_8",
                {head(2) + u16(4) + u8(0) + chars("ab"), u8(0) + chars("cd") + str8("e")},
                {"abcd", "e"}},
        // Once any part is 16-bit the whole string is UTF-16: the 8-bit part
        // is widened, so its byte 0xE9 becomes U+00E9.
        SstCase{
            "inside_chars_8_to_16",
            {head(2) + u16(4) + u8(0) + chars("a\xE9"), u8(1) + wide({0x20AC, 'z'}) + str8("e")},
            {"a" + kEAcute + kEuro + "z", "e"}},
        SstCase{"inside_chars_16_to_8",
                {head(2) + u16(3) + u8(1) + wide({0x20AC}), u8(0) + chars("\xE9y") + str8("e")},
                {kEuro + kEAcute + "y", "e"}},
        SstCase{"inside_chars_16_to_16",
                {head(2) + u16(2) + u8(1) + wide({0xD83D}), u8(1) + wide({0xDE00}) + str8("e")},
                {kGrin, "e"}},
        SstCase{"inside_chars_three_pieces",
                {head(2) + u16(6) + u8(0) + chars("ab"), u8(1) + wide({'c', 'd'}),
                 u8(0) + chars("ef") + str8("g")},
                {"abcdef", "g"}},
        // The characters end exactly at the boundary: the runs go on in the
        // next record without an option byte.
        SstCase{"chars_end_at_boundary_runs_follow",
                {head(2) + u16(2) + u8(0x08) + u16(1) + chars("ab"), fill(4, 0x01) + str8("d")},
                {"ab", "d"}},
        SstCase{"inside_the_runs",
                {head(2) + u16(2) + u8(0x08) + u16(2) + chars("ab") + fill(3, 0x01),
                 fill(5, 0x01) + str8("d")},
                {"ab", "d"}},
        SstCase{"inside_the_ext_data",
                {head(2) + u16(2) + u8(0x04) + u32(7) + chars("ab") + fill(2, 0x01),
                 fill(5, 0x01) + str8("d")},
                {"ab", "d"}},
        SstCase{"between_runs_and_ext",
                {head(2) + u16(2) + u8(0x0C) + u16(1) + u32(2) + chars("ab") + fill(4, 0x01),
                 fill(2, 0x01) + str8("d")},
                {"ab", "d"}},
        SstCase{"many_continues_one_string_each",
                {head(3) + str8("a"), str8("b"), str8("c")},
                {"a", "b", "c"}}),
    [](const auto& p) { return std::string(p.param.name); });

// The data ends before the table does: what the data holds is kept, a
// string whose header is incomplete is absent, and nothing is read past
// the last byte.
INSTANTIATE_TEST_SUITE_P(
    Truncated, ReadSst,
    ::testing::Values(
        SstCase{"inside_the_count", {head(2) + str8("a") + u8(3)}, {"a"}},
        SstCase{"before_the_flags", {head(2) + str8("a") + u16(3)}, {"a"}},
        SstCase{"inside_the_run_count", {head(2) + str8("a") + u16(3) + u8(0x08) + u8(1)}, {"a"}},
        SstCase{"inside_the_ext_size", {head(2) + str8("a") + u16(3) + u8(0x04) + u16(1)}, {"a"}},
        SstCase{"before_the_chars", {head(2) + str8("a") + u16(3) + u8(0)}, {"a", ""}},
        SstCase{"inside_the_chars",
                {head(2) + str8("a") + u16(5) + u8(0) + chars("xyz")},
                {"a", "xyz"}},
        SstCase{"inside_wide_chars_odd_byte",
                {head(2) + str8("a") + u16(3) + u8(1) + wide({'x', 0xE9}) + u8('y')},
                {"a", "x" + kEAcute}},
        SstCase{"after_a_continue_option_byte",
                {head(1) + u16(4) + u8(0) + chars("ab"), u8(1)},
                {"ab"}},
        SstCase{"inside_the_runs",
                {head(2) + u16(2) + u8(0x08) + u16(2) + chars("ab") + fill(3, 1)},
                {"ab"}},
        SstCase{"inside_the_ext_data",
                {head(2) + u16(2) + u8(0x04) + u32(9) + chars("ab") + fill(3, 1)},
                {"ab"}}),
    [](const auto& p) { return std::string(p.param.name); });

// Plain 8-bit strings are taken as their bytes eight at a time: a NUL, a
// byte from 0x80 on or a flag anywhere in them must send the string the
// long way, at every length and position around the eight-byte steps.
TEST(ReadSstPlain, StringsAndTheirNearMisses) {
  struct Odd {
    uint8_t byte;
    const char* name;
  };
  const Odd odds[] = {
      {0x00, "NUL"}, {0x80, "0x80"}, {0xFF, "0xFF"}, {0x7F, "0x7F"}, {0x01, "0x01"}};
  for (size_t len = 0; len <= 19; ++len)
    for (size_t at = 0; at < len; ++at)
      for (const Odd& odd : odds) {
        std::string text(len, 'a');
        for (size_t i = 0; i < len; ++i) text[i] = char('A' + i);
        text[at] = char(odd.byte);
        std::string want = text.substr(0, text.find('\0'));
        std::string latin;
        for (char c : want) {
          const auto u = uint8_t(c);
          if (u < 0x80) {
            latin += c;
          } else {
            latin += char(0xC0 | (u >> 6));
            latin += char(0x80 | (u & 0x3F));
          }
        }
        SCOPED_TRACE(std::to_string(len) + " bytes, " + odd.name + " at " + std::to_string(at));
        // The string, then one that follows it in the same record.
        EXPECT_EQ(all_strings(parse({head(2) + str8(text) + str8("next")})),
                  (std::vector<std::string>{latin, "next"}));
      }
  // Flags: a wide string, runs and extended data go the long way too.
  EXPECT_EQ(all_strings(parse({head(2) + u16(2) + u8(0x01) + wide({'h', 'i'}) + str8("x")})),
            (std::vector<std::string>{"hi", "x"}));
  EXPECT_EQ(
      all_strings(parse({head(2) + u16(2) + u8(0x08) + u16(1) + chars("hi") + u32(0) + str8("x")})),
      (std::vector<std::string>{"hi", "x"}));
  EXPECT_EQ(all_strings(parse(
                {head(2) + u16(2) + u8(0x04) + u32(3) + chars("hi") + fill(3, 0x80) + str8("x")})),
            (std::vector<std::string>{"hi", "x"}));
  // A string whose characters run on into the next record.
  EXPECT_EQ(
      all_strings(parse({head(1) + u16(10) + u8(0) + chars("abcdefgh"), u8(0) + chars("ij")})),
      (std::vector<std::string>{"abcdefghij"}));
}

TEST(ReadSstLookup, IndexAtCountAndNegativeGiveNone) {
  SharedStrings sst = parse({head(2) + str8("x") + str8("y")});
  ASSERT_EQ(sst.count(), 2u);
  EXPECT_EQ(sst.at(0), std::optional<std::string_view>("x"));
  EXPECT_EQ(sst.at(1), std::optional<std::string_view>("y"));
  EXPECT_FALSE(sst.at(2).has_value());
  EXPECT_FALSE(sst.at(-1).has_value());
  EXPECT_FALSE(sst.at(INT32_MIN).has_value());
  EXPECT_FALSE(sst.at(INT32_MAX).has_value());
}

TEST(ReadSstLookup, EmptyTableGivesNoneEverywhere) {
  SharedStrings sst;
  EXPECT_EQ(sst.count(), 0u);
  EXPECT_FALSE(sst.at(0).has_value());
  EXPECT_FALSE(sst.at(-1).has_value());
}

// A string count of 2^31-1 in a 20-byte record: the table must not reserve
// room for the strings it claims.
TEST(ReadSstMemory, HugeDeclaredCountAllocatesForTheDataOnly) {
  Bytes rec = head(INT32_MAX) + str8("abcdefghi");
  ASSERT_EQ(rec.size(), 20u);
  SharedStrings sst = parse({rec});
  EXPECT_EQ(all_strings(sst), std::vector<std::string>{"abcdefghi"});
  EXPECT_LE(sst.ends.capacity(), 16u);
  EXPECT_LE(sst.bytes.capacity(), 64u);
}

TEST(ReadSstMemory, HugeDeclaredCountOverManyEmptyStrings) {
  // Each empty string takes 3 bytes: 1000 of them, a count of 2^31-1.
  Bytes rec = head(INT32_MAX);
  for (int i = 0; i < 1000; ++i) {
    Bytes empty = str8("");
    rec.insert(rec.end(), empty.begin(), empty.end());
  }
  SharedStrings sst = parse({rec});
  EXPECT_EQ(sst.count(), 1000u);
  EXPECT_LE(sst.ends.capacity(), 4096u);
}

// A large table spread over many CONTINUE records with cuts in every
// place: each string comes back whole, in order.
TEST(ReadSstContinue, ManyStringsCutEverywhere) {
  std::vector<std::string> expected;
  Bytes payload;  // the strings as one run, cut below every 7 bytes
  std::vector<size_t> char_starts, char_ends;
  for (int i = 0; i < 200; ++i) {
    std::string s = "s" + std::to_string(i) + std::string(size_t(i % 13), char('a' + i % 26));
    expected.push_back(s);
    payload = payload + u16(uint16_t(s.size())) + u8(0);
    char_starts.push_back(payload.size());
    payload = payload + chars(s);
    char_ends.push_back(payload.size());
  }
  // Cut every 7 bytes; where a cut lies before or inside a string's
  // characters the next record starts with an 8-bit option byte.
  std::vector<Bytes> records{head(200)};
  size_t k = 0;  // string whose characters may hold the next cut
  for (size_t at = 0; at < payload.size(); at += 7) {
    size_t end = std::min(payload.size(), at + 7);
    Bytes piece(payload.begin() + long(at), payload.begin() + long(end));
    if (at == 0) {
      records[0] = records[0] + piece;
    } else {
      while (k < char_ends.size() && char_ends[k] <= at) ++k;
      bool inside_chars = k < char_starts.size() && char_starts[k] <= at && at < char_ends[k];
      records.push_back(inside_chars ? u8(0) + piece : piece);
    }
  }
  SharedStrings sst = parse(records);
  EXPECT_EQ(all_strings(sst), expected);
}

// ---------------------------------------------------------------- in a file

testsupport::LoadedWorkbook load_globals_with(const std::vector<Bytes>& globals) {
  return testsupport::load_loaded(xlsw::with_filler(xlsw::workbook_stream({"S"}, globals, {})));
}

std::vector<xlsw::SstString> mixed_strings() {
  std::vector<xlsw::SstString> v{xlsw::s8("plain"),
                                 xlsw::s8(""),
                                 xlsw::s16(u"\u00e9t\u00e9 \U0001F600"),
                                 xlsw::s8("\xE9\xFF bytes"),
                                 xlsw::s8(std::string(70, 'L')),
                                 xlsw::s16(std::u16string(40, u'\u20ac'))};
  xlsw::SstString rich = xlsw::s8("rich text");
  rich.runs = 3;
  v.push_back(rich);
  xlsw::SstString ext = xlsw::s16(u"ext \u00fc");
  ext.ext_size = 11;
  v.push_back(ext);
  xlsw::SstString both = xlsw::s8("both");
  both.runs = 2;
  both.ext_size = 5;
  v.push_back(both);
  v.push_back(xlsw::s8("last"));
  return v;
}

std::vector<std::string> mixed_expected() {
  return {"plain",
          "",
          "\xC3\xA9t\xC3\xA9 \xF0\x9F\x98\x80",
          "\xC3\xA9\xC3\xBF bytes",
          std::string(70, 'L'),
          [] {
            std::string s;
            for (int i = 0; i < 40; ++i) s += kEuro;
            return s;
          }(),
          "rich text",
          "ext \xC3\xBC",
          "both",
          "last"};
}

// The writer cuts the table wherever its record limit falls, as real
// writers do; whatever the limit, every string comes back whole.
class SstInFile : public ::testing::TestWithParam<size_t> {};

TEST_P(SstInFile, EveryStringComesBack) {
  auto wb = load_globals_with({xlsw::sst(mixed_strings(), GetParam())});
  EXPECT_EQ(all_strings(wb.sst), mixed_expected());
  EXPECT_EQ(wb.sheet_names, std::vector<std::string>{"S"});
}

INSTANTIATE_TEST_SUITE_P(RecordLimits, SstInFile,
                         ::testing::Values(size_t(8224), size_t(100), size_t(37), size_t(20),
                                           size_t(13), size_t(12)));

TEST(SstInFileGathering, StopsAtTheFirstRecordThatIsNotContinue) {
  Bytes split = xlsw::sst({xlsw::s8(std::string(30, 'a')), xlsw::s8("b")}, 20);
  // A stray CONTINUE after a BOUNDSHEET belongs to nothing.
  auto wb = load_globals_with(
      {split, xlsw::boundsheet("Middle"), xlsw::record(0x003C, Bytes{0, 'z', 'z'}), xlsw::xf(14)});
  EXPECT_EQ(all_strings(wb.sst), (std::vector<std::string>{std::string(30, 'a'), "b"}));
  EXPECT_EQ(wb.sheet_names, (std::vector<std::string>{"Middle", "S"}));
  EXPECT_EQ(wb.xf_formats.size(), 1u);
}

TEST(SstInFileGathering, SecondSstReplacesTheFirst) {
  auto wb = load_globals_with(
      {xlsw::sst({xlsw::s8("old"), xlsw::s8("older")}), xlsw::sst({xlsw::s8("new")})});
  EXPECT_EQ(all_strings(wb.sst), std::vector<std::string>{"new"});
}

TEST(SstInFileGathering, DeclaredCountLargerThanTheStrings) {
  auto wb = load_globals_with({xlsw::sst({xlsw::s8("a"), xlsw::s8("b")}, 8224, 1000000)});
  EXPECT_EQ(all_strings(wb.sst), (std::vector<std::string>{"a", "b"}));
  EXPECT_FALSE(sst_string(wb, 2).has_value());
}

TEST(SstInFileGathering, SstCutByTheEndOfTheFile) {
  Bytes stream = xlsw::workbook_stream({"S"}, {}, {});
  // Globals without their EOF, ending inside an SST's CONTINUE.
  stream.resize(stream.size() - 4 - xlsw::boundsheet("S").size());
  Bytes table = xlsw::sst({xlsw::s8("abc"), xlsw::s8(std::string(40, 'd'))}, 20);
  table.resize(table.size() - 5);
  stream.insert(stream.end(), table.begin(), table.end());
  Workbook wb = load_workbook(xlsw::with_filler(stream));
  ASSERT_GE(wb.sst.count(), 1u);
  EXPECT_EQ(*wb.sst.at(0), "abc");
  EXPECT_TRUE(wb.sheets.empty());
}

}  // namespace
}  // namespace sheetdump

namespace sheetdump {
namespace {

// The SST read straight from the record reader gives what the list of its
// records gives: empty CONTINUE records add nothing, one-byte records cut
// strings anywhere, a record cut by the end of the data reads as padded,
// and the reader ends behind the last CONTINUE.
TEST(SharedStringsStreamed, MatchesTheListOfRecords) {
  Bytes first = head(4) + u16(5) + u8(0) + chars("he");
  std::vector<Bytes> records = {first,
                                Bytes{},
                                chars("l"),
                                Bytes{},
                                Bytes{},
                                u8(1) + wide({0x6C}),
                                u8(0) + chars("o"),
                                str8("x"),
                                u16(3) + u8(0)};
  auto stream = [](const std::vector<Bytes>& recs, bool cut_last) {
    Bytes s;
    for (size_t i = 0; i < recs.size(); ++i) {
      s = s + u16(i == 0 ? 0x00FC : 0x003C) +
          u16(uint16_t(recs[i].size() + (cut_last && i + 1 == recs.size() ? 2 : 0))) + recs[i];
    }
    return s;
  };
  for (bool cut : {false, true}) {
    Bytes s = stream(records, cut);
    if (!cut) s = s + u16(0x000A) + u16(0);
    RecordReader r{s, 0, false};
    auto rec = read_record(r);
    ASSERT_TRUE(rec);
    SharedStrings got = read_sst(record_data(r, *rec), r);
    std::vector<Bytes> listed;
    for (const Bytes& b : records)
      if (!b.empty() || listed.empty()) listed.push_back(b);
    if (cut) listed.back() = listed.back() + fill(2, 0xFF);
    EXPECT_EQ(all_strings(got), all_strings(parse(listed))) << cut;
    EXPECT_GE(all_strings(got).size(), 2u);
    if (!cut) {
      auto next = read_record(r);
      ASSERT_TRUE(next);
      EXPECT_EQ(next->id, 0x000A);
    }
  }
}

}  // namespace
}  // namespace sheetdump
