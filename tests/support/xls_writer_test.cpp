// Checks of the test-side workbook writer itself: every other test builds
// its input with it, so a fault here would hide faults in the product.
#include "support/xls_writer.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <span>

#include <string>
#include <vector>

#include "biff/shared_strings.hpp"
#include "cfb/compound_file.hpp"
#include "support/run_program.hpp"

namespace {

using xlsw::Bytes;

struct RawRecord {
  uint16_t id;
  Bytes data;
};

// Splits a record stream into records (the writer's output is always whole).
std::vector<RawRecord> split_records(const Bytes& b) {
  std::vector<RawRecord> out;
  size_t at = 0;
  while (at + 4 <= b.size()) {
    uint16_t id = uint16_t(b[at] | (b[at + 1] << 8));
    size_t size = size_t(b[at + 2] | (b[at + 3] << 8));
    EXPECT_LE(at + 4 + size, b.size());
    out.push_back({id, Bytes(b.begin() + ptrdiff_t(at + 4), b.begin() + ptrdiff_t(at + 4 + size))});
    at += 4 + size;
  }
  EXPECT_EQ(at, b.size());
  return out;
}

TEST(XlsWriter, SstCutsCharactersWithAnOptionByteAndHeadersWithout) {
  // 8 count bytes + 2 of the header fill the SST record; the flags byte
  // runs on into the first CONTINUE without an option byte; the characters
  // cut later get one each.
  Bytes b = xlsw::sst({xlsw::s8("abcdefghijklmnopqrst")}, 10);
  auto recs = split_records(b);
  ASSERT_EQ(recs.size(), 4u);
  EXPECT_EQ(recs[0].id, 0x00FC);
  EXPECT_EQ(recs[0].data, (Bytes{1, 0, 0, 0, 1, 0, 0, 0, 20, 0}));
  EXPECT_EQ(recs[1].id, 0x003C);
  EXPECT_EQ(recs[1].data, (Bytes{0, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i'}));
  EXPECT_EQ(recs[2].data, (Bytes{0, 'j', 'k', 'l', 'm', 'n', 'o', 'p', 'q', 'r'}));
  EXPECT_EQ(recs[3].data, (Bytes{0, 's', 't'}));
}

TEST(XlsWriter, SstNeverCutsAWideCharacterInHalf) {
  // After 8 + 3 bytes, 11 bytes are left in a 22-byte record: five
  // characters fit, the sixth goes to a CONTINUE with option byte 0x01.
  Bytes b = xlsw::sst({xlsw::s16(u"ABCDEFGH")}, 22);
  auto recs = split_records(b);
  ASSERT_EQ(recs.size(), 2u);
  EXPECT_EQ(recs[0].data.size(), 21u);
  EXPECT_EQ(recs[1].data, (Bytes{1, 'F', 0, 'G', 0, 'H', 0}));
}

struct SstCase {
  const char* name;
  std::vector<xlsw::SstString> strings;
  std::vector<std::string> expected;
  size_t max_data;
};

std::ostream& operator<<(std::ostream& os, const SstCase& c) { return os << c.name; }

class XlsWriterSst : public ::testing::TestWithParam<SstCase> {};

// Whatever the limit, the product's parser gets back every string.
TEST_P(XlsWriterSst, RoundTripsThroughTheProductParser) {
  const SstCase& c = GetParam();
  auto recs = split_records(xlsw::sst(c.strings, c.max_data));
  ASSERT_FALSE(recs.empty());
  std::vector<std::span<const uint8_t>> spans;
  for (size_t i = 0; i < recs.size(); ++i) {
    EXPECT_EQ(recs[i].id, i == 0 ? 0x00FC : 0x003C);
    EXPECT_LE(recs[i].data.size(), i == 0 ? std::max<size_t>(c.max_data, 8) : c.max_data);
    spans.push_back(recs[i].data);
  }
  auto table = sheetdump::read_sst(spans);
  ASSERT_EQ(table.count(), c.expected.size());
  for (size_t i = 0; i < c.expected.size(); ++i)
    EXPECT_EQ(table.at(int32_t(i)), c.expected[i]) << "string " << i;
}

xlsw::SstString rich(xlsw::SstString s, uint16_t runs, uint32_t ext) {
  s.runs = runs;
  s.ext_size = ext;
  return s;
}

std::vector<xlsw::SstString> many_strings() {
  std::vector<xlsw::SstString> v;
  for (int i = 0; i < 300; ++i) {
    std::string t = "string number " + std::to_string(i);
    if (i % 3 == 0)
      v.push_back(rich(xlsw::s8(t), uint16_t(i % 5), uint32_t(i % 7)));
    else if (i % 3 == 1)
      v.push_back(xlsw::s16(std::u16string(t.begin(), t.end()) + u"\u00e9"));
    else
      v.push_back(xlsw::s8(t));
  }
  return v;
}

std::vector<std::string> many_expected() {
  std::vector<std::string> v;
  for (int i = 0; i < 300; ++i)
    v.push_back("string number " + std::to_string(i) + (i % 3 == 1 ? "\xC3\xA9" : ""));
  return v;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, XlsWriterSst,
    ::testing::Values(
        SstCase{"long_8bit", {xlsw::s8(std::string(20000, 'x'))}, {std::string(20000, 'x')}, 8224},
        SstCase{"long_16bit",
                {xlsw::s16(std::u16string(9000, u'\u4e2d'))},
                {[] {
                  std::string s;
                  for (int i = 0; i < 9000; ++i) s += "\xE4\xB8\xAD";
                  return s;
                }()},
                8224},
        SstCase{"runs_and_ext_cut",
                {rich(xlsw::s8("hello"), 3, 10), xlsw::s8("next")},
                {"hello", "next"},
                5},
        SstCase{"empty_string_at_boundary",
                {xlsw::s8(""), xlsw::s8("ab"), xlsw::s8("")},
                {"", "ab", ""},
                11},
        SstCase{"many_small_records", many_strings(), many_expected(), 7},
        SstCase{"many_real_limit", many_strings(), many_expected(), 8224}),
    [](const auto& p) { return std::string(p.param.name); });

struct CfbCase {
  const char* name;
  xlsw::CfbOptions opts;
  size_t stream_size;
};

std::ostream& operator<<(std::ostream& os, const CfbCase& c) { return os << c.name; }

class XlsWriterCfb : public ::testing::TestWithParam<CfbCase> {};

Bytes pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = uint8_t(i * 7 + seed + i / 251);
  return b;
}

// The product's compound-file layer finds exactly the bytes that went in,
// and the file is whole sectors after the header.
TEST_P(XlsWriterCfb, ProductFindsTheStream) {
  const CfbCase& c = GetParam();
  Bytes stream = pattern(c.stream_size, 1);
  Bytes file = xlsw::compound_file(stream, c.opts);
  size_t sector = size_t(1) << c.opts.sector_shift;
  EXPECT_EQ(file.size() % sector, 0u);
  auto extents = sheetdump::find_stream(file, c.opts.stream_name);
  ASSERT_TRUE(extents.has_value());
  Bytes got;
  for (auto e : *extents)
    got.insert(got.end(), file.begin() + ptrdiff_t(e.offset),
               file.begin() + ptrdiff_t(e.offset + e.length));
  EXPECT_EQ(got, stream);
  if (c.opts.fragmented) {
    EXPECT_GT(extents->size(), 1u);
  }
  if (!c.opts.fragmented && c.opts.stream_first && c.stream_size >= 4096) {
    ASSERT_EQ(extents->size(), 1u);
    EXPECT_EQ((*extents)[0].offset, sector < 512 ? 512 : sector);
  }
}

xlsw::CfbOptions with(std::function<void(xlsw::CfbOptions&)> f) {
  xlsw::CfbOptions o;
  f(o);
  return o;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, XlsWriterCfb,
    ::testing::Values(
        CfbCase{"big_first", {}, 10000},
        CfbCase{"big_not_first", with([](auto& o) { o.stream_first = false; }), 10000},
        CfbCase{"big_fragmented", with([](auto& o) { o.fragmented = true; }), 10000},
        CfbCase{"big_fragmented_with_others", with([](auto& o) {
                  o.fragmented = true;
                  o.other_streams = {{"Other", pattern(5000, 9)}, {"Small", pattern(100, 3)}};
                }),
                10000},
        CfbCase{"mini", {}, 1000},
        CfbCase{"mini_not_first", with([](auto& o) {
                  o.stream_first = false;
                  o.other_streams = {{"SummaryInformation", pattern(300, 4)}};
                }),
                1000},
        CfbCase{"mini_fragmented", with([](auto& o) {
                  o.fragmented = true;
                  o.other_streams = {{"A", pattern(70, 4)}};
                }),
                1000},
        CfbCase{"small_not_mini", with([](auto& o) { o.use_mini_stream = false; }), 1000},
        CfbCase{"sector_4096", with([](auto& o) { o.sector_shift = 12; }), 20000},
        CfbCase{"sector_4096_mini", with([](auto& o) { o.sector_shift = 12; }), 3000},
        CfbCase{"book_name", with([](auto& o) { o.stream_name = "Book"; }), 5000},
        CfbCase{"difat", {}, 7400000}),
    [](const auto& p) { return std::string(p.param.name); });

// A workbook built with the writer converts with the product to the CSV
// that its cells say, whichever way it is wrapped.
TEST(XlsWriter, WorkbookConvertsWithTheProduct) {
  Bytes stream = xlsw::workbook_stream(
      {"First", "Second"},
      {xlsw::xf(0), xlsw::xf(2),
       xlsw::sst({xlsw::s8("id"), xlsw::s8("name"), xlsw::s16(u"caf\u00e9")})},
      {xlsw::worksheet(3, 2,
                       {xlsw::labelsst(0, 0, 0, 0), xlsw::labelsst(0, 1, 0, 1),
                        xlsw::number(1, 0, 0, 1.5), xlsw::labelsst(1, 1, 0, 2),
                        xlsw::rk(2, 0, 1, xlsw::rk_int(7)), xlsw::formula_number(2, 1, 0, 0.25)}),
       xlsw::worksheet(
           1, 3,
           {xlsw::mulrk(
               0, 0,
               {{0, xlsw::rk_int(1)}, {0, xlsw::rk_int_cents(250)}, {0, xlsw::rk_int(-3)}})})});
  const std::string expected =
      "\"id\",\"name\"\n\"1.5\",\"caf\xC3\xA9\"\n\"7.00\",\"0.25\"\n"
      "\"1\",\"2.5\",\"-3\"\n";
  struct Wrap {
    const char* name;
    Bytes file;
  };
  std::vector<Wrap> wraps = {
      {"filler", xlsw::with_filler(stream)},
      {"cfb", xlsw::compound_file(stream)},
      {"cfb_not_first", xlsw::compound_file(stream, with([](auto& o) { o.stream_first = false; }))},
      {"cfb_fragmented", xlsw::compound_file(stream, with([](auto& o) {
                                               o.fragmented = true;
                                               o.use_mini_stream = false;
                                             }))},
      {"cfb_4096", xlsw::compound_file(stream, with([](auto& o) { o.sector_shift = 12; }))},
  };
  for (const auto& w : wraps) {
    std::string path = testsupport::write_temp_file(std::string(w.name) + ".xls", w.file);
    auto r = testsupport::run_sheetdump({path});
    EXPECT_EQ(r.out, expected) << w.name;
    EXPECT_EQ(r.err, "") << w.name;
    EXPECT_EQ(r.status, 1) << w.name;
  }
}

}  // namespace
