// The compound-file layer finds a named stream among the root storage's
// children, wherever the allocation tables put it, and joins its pieces
// behind a kept prefix of the file; any inconsistency finds nothing, so the
// loader keeps the raw file. Hostile tables must neither crash nor hang it.
// Most tests go through the loader's convention: "Workbook", else "Book",
// behind the file's first 512 bytes.
#include "cfb/compound_file.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/file_bytes.hpp"
#include "support/xls_writer.hpp"

namespace sheetdump {
namespace {

using xlsw::Bytes;

constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kFree = 0xFFFFFFFF;

Bytes pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = uint8_t(i * 13 + seed + i / 509);
  return b;
}

// The loader's choice of stream.
// A file's bytes, or none when it cannot be read.
std::optional<Bytes> read_file(const std::string& path) {
  auto f = FileBytes::open(path);
  if (!f) return std::nullopt;
  auto b = f->bytes();
  return Bytes(b.begin(), b.end());
}

std::optional<std::vector<Extent>> find_workbook_stream(std::span<const uint8_t> file) {
  auto extents = find_stream(file, "Workbook");
  if (!extents) extents = find_stream(file, "Book");
  return extents;
}

// Rearranges `file` the way the loader does: either the raw file (nothing
// found), or the first 512 bytes followed by the stream. Returns the offset
// at which that sequence begins; it runs to the end of `file`.
size_t lay_out_workbook_stream(Bytes& file) {
  auto extents = find_workbook_stream(file);
  if (!extents) return 0;
  StreamLayout laid = lay_out_stream(file, *extents, 512);
  if (laid.copied) {
    file.swap(laid.copy);
    return 0;
  }
  file.resize(laid.end);
  return laid.begin;
}

// What the record reader gets to see.
Bytes sequence(Bytes file) {
  size_t begin = lay_out_workbook_stream(file);
  EXPECT_LE(begin, file.size());
  return Bytes(file.begin() + ptrdiff_t(begin), file.end());
}

Bytes header_and(const Bytes& file, const Bytes& stream) {
  Bytes out(file.begin(), file.begin() + 512);
  out.insert(out.end(), stream.begin(), stream.end());
  return out;
}

// Just enough of the file's structure to corrupt it on purpose.
uint32_t get32(const Bytes& f, size_t off) {
  return uint32_t(f[off]) | uint32_t(f[off + 1]) << 8 | uint32_t(f[off + 2]) << 16 |
         uint32_t(f[off + 3]) << 24;
}
void set32(Bytes& f, size_t off, uint32_t v) {
  for (int i = 0; i < 4; ++i) f[off + size_t(i)] = uint8_t(v >> (8 * i));
}
size_t sector_size(const Bytes& f) { return size_t(1) << f[30]; }
size_t sector_offset(const Bytes& f, uint32_t s) { return (size_t(s) + 1) * sector_size(f); }
size_t fat_entry(const Bytes& f, uint32_t s) {
  size_t per = sector_size(f) / 4;
  uint32_t fat_sector = get32(f, 76 + 4 * (s / per));
  return sector_offset(f, fat_sector) + 4 * (s % per);
}
// Directory entry i (0 is the root, 1 the workbook stream in files the
// writer makes).
size_t dir_entry(const Bytes& f, size_t i) { return sector_offset(f, get32(f, 48)) + 128 * i; }
uint32_t stream_start(const Bytes& f) { return get32(f, dir_entry(f, 1) + 116); }
size_t minifat_entry(const Bytes& f, uint32_t m) { return sector_offset(f, get32(f, 60)) + 4 * m; }

xlsw::CfbOptions with(const std::function<void(xlsw::CfbOptions&)>& f) {
  xlsw::CfbOptions o;
  f(o);
  return o;
}

// ---------------------------------------------------------------------------
// Files that hold a workbook stream

struct LayoutCase {
  const char* name;
  size_t size;
  xlsw::CfbOptions opts;
  size_t extents;         // how many pieces the stream lies in (0: do not check)
  uint64_t first_offset;  // where the first piece starts (0: do not check)
};

std::ostream& operator<<(std::ostream& os, const LayoutCase& c) { return os << c.name; }

class CompoundLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(CompoundLayout, ReaderSeesHeaderThenStream) {
  const LayoutCase& c = GetParam();
  Bytes stream = pattern(c.size, 5);
  Bytes file = xlsw::compound_file(stream, c.opts);
  auto extents = find_workbook_stream(file);
  ASSERT_TRUE(extents.has_value());
  if (c.extents) {
    EXPECT_EQ(extents->size(), c.extents);
  }
  if (c.first_offset) {
    ASSERT_FALSE(extents->empty());
    EXPECT_EQ((*extents)[0].offset, c.first_offset);
  }
  EXPECT_TRUE(sequence(file) == header_and(file, stream));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CompoundLayout,
    ::testing::Values(
        LayoutCase{"contiguous_at_512", 10000, {}, 1, 512},
        LayoutCase{"exactly_whole_sectors", 8192, {}, 1, 512},
        LayoutCase{"at_the_cutoff", 4096, {}, 1, 512},
        // FAT in sector 0, directory in sector 1: the stream starts at 1536.
        LayoutCase{"not_first", 10000, with([](auto& o) { o.stream_first = false; }), 1, 1536},
        LayoutCase{"fragmented_with_gaps", 10000, with([](auto& o) { o.fragmented = true; }), 0, 0},
        LayoutCase{"fragmented_among_streams", 30000, with([](auto& o) {
                     o.fragmented = true;
                     o.other_streams = {{"SummaryInformation", pattern(4096, 1)},
                                        {"Ctls", pattern(9000, 2)}};
                   }),
                   0, 0},
        LayoutCase{"mini_stream", 1000, {}, 0, 0},
        LayoutCase{"mini_stream_one_sector", 64, {}, 1, 0},
        LayoutCase{"mini_stream_tiny", 1, {}, 1, 0},
        LayoutCase{"mini_stream_largest", 4095, {}, 0, 0},
        LayoutCase{"mini_not_first", 2000, with([](auto& o) {
                     o.stream_first = false;
                     o.other_streams = {{"\x05SummaryInformation", pattern(200, 3)}};
                   }),
                   0, 0},
        LayoutCase{"mini_fragmented", 2000, with([](auto& o) {
                     o.fragmented = true;
                     o.other_streams = {{"\x05SummaryInformation", pattern(300, 3)},
                                        {"\x05"
                                         "DocumentSummaryInformation",
                                         pattern(100, 4)}};
                   }),
                   0, 0},
        LayoutCase{"small_outside_mini_stream", 1000,
                   with([](auto& o) { o.use_mini_stream = false; }), 1, 512},
        LayoutCase{"sector_4096", 20000, with([](auto& o) { o.sector_shift = 12; }), 1, 4096},
        LayoutCase{"sector_4096_not_first", 20000, with([](auto& o) {
                     o.sector_shift = 12;
                     o.stream_first = false;
                   }),
                   1, 3 * 4096},
        LayoutCase{"sector_4096_fragmented", 40000, with([](auto& o) {
                     o.sector_shift = 12;
                     o.fragmented = true;
                   }),
                   0, 0},
        LayoutCase{"sector_4096_mini", 3000, with([](auto& o) { o.sector_shift = 12; }), 0, 0},
        LayoutCase{"book", 5000, with([](auto& o) { o.stream_name = "Book"; }), 1, 512},
        LayoutCase{"upper_case_name", 5000, with([](auto& o) { o.stream_name = "WORKBOOK"; }), 1,
                   512},
        LayoutCase{"mixed_case_book", 500, with([](auto& o) { o.stream_name = "bOoK"; }), 0, 0},
        LayoutCase{"among_other_streams", 5000, with([](auto& o) {
                     o.stream_first = false;
                     o.other_streams = {{"Workbook2", pattern(6000, 1)},
                                        {"Boo", pattern(5000, 2)},
                                        {"CompObj", pattern(100, 3)}};
                   }),
                   1, 0}),
    [](const auto& p) { return std::string(p.param.name); });

// More than 109 FAT sectors: the rest are listed in DIFAT sectors.
const Bytes& difat_stream() {
  static const Bytes s = pattern(7400000, 9);
  return s;
}
const Bytes& difat_file() {
  static const Bytes f = xlsw::compound_file(difat_stream());
  return f;
}

TEST(CompoundFile, StreamThroughDifat) {
  const Bytes& f = difat_file();
  ASSERT_GT(get32(f, 44), 109u);
  ASSERT_EQ(get32(f, 72), 1u);
  auto extents = find_workbook_stream(f);
  ASSERT_TRUE(extents.has_value());
  ASSERT_EQ(extents->size(), 1u);
  EXPECT_EQ((*extents)[0].offset, 512u);
  EXPECT_EQ((*extents)[0].length, difat_stream().size());
}

TEST(CompoundFile, StreamThroughDifatNotFirst) {
  Bytes f = xlsw::compound_file(difat_stream(), with([](auto& o) { o.stream_first = false; }));
  EXPECT_TRUE(sequence(f) == header_and(f, difat_stream()));
}

TEST(CompoundFile, WorkbookPreferredOverBook) {
  Bytes workbook = pattern(5000, 1), book = pattern(5000, 2);
  // "Book" comes first in the directory either way the names are given.
  Bytes f = xlsw::compound_file(book, with([&](auto& o) {
                                  o.stream_name = "Book";
                                  o.other_streams = {{"Workbook", workbook}};
                                }));
  EXPECT_TRUE(sequence(f) == header_and(f, workbook));
  Bytes g = xlsw::compound_file(workbook, with([&](auto& o) {
                                  o.other_streams = {{"BOOK", book}};
                                }));
  EXPECT_TRUE(sequence(g) == header_and(g, workbook));
}

TEST(CompoundFile, EmptyStreamGivesTheHeaderAlone) {
  Bytes f = xlsw::compound_file({});
  auto extents = find_workbook_stream(f);
  ASSERT_TRUE(extents.has_value());
  EXPECT_TRUE(extents->empty());
  EXPECT_TRUE(sequence(f) == Bytes(f.begin(), f.begin() + 512));
}

TEST(CompoundFile, ContiguousStreamIsLaidOutInPlace) {
  Bytes stream = pattern(10000, 3);
  Bytes f = xlsw::compound_file(stream, with([](auto& o) { o.stream_first = false; }));
  Bytes copy = f;
  size_t begin = lay_out_workbook_stream(copy);
  EXPECT_EQ(begin, 1024u);
  EXPECT_EQ(copy.size(), 1536u + stream.size());
  EXPECT_TRUE(Bytes(copy.begin() + 1024, copy.begin() + 1536) == Bytes(f.begin(), f.begin() + 512));
}

// A workbook stream of records read through the layer converts like the
// same stream behind 512 filler bytes.
TEST(CompoundFile, RecordStreamSurvivesEveryLayout) {
  std::vector<Bytes> cells;
  for (uint16_t r = 0; r < 300; ++r) cells.push_back(xlsw::number(r, 0, 0, r));
  Bytes stream = xlsw::workbook_stream({"S"}, {xlsw::xf(0)}, {xlsw::worksheet(300, 1, cells)});
  for (int shift : {9, 12})
    for (bool first : {true, false})
      for (bool frag : {true, false}) {
        Bytes f = xlsw::compound_file(stream, with([&](auto& o) {
                                        o.sector_shift = shift;
                                        o.stream_first = first;
                                        o.fragmented = frag;
                                        o.other_streams = {{"Ole", pattern(7000, 1)}};
                                      }));
        Bytes seq = sequence(f);
        EXPECT_TRUE(Bytes(seq.begin() + 512, seq.end()) == stream) << shift << first << frag;
      }
}

// ---------------------------------------------------------------------------
// Files that do not hold one, and broken files: the raw file, unchanged

void expect_raw(const Bytes& file, const std::string& what) {
  EXPECT_FALSE(find_workbook_stream(file).has_value()) << what;
  Bytes copy = file;
  EXPECT_EQ(lay_out_workbook_stream(copy), 0u) << what;
  EXPECT_TRUE(copy == file) << what;
}

TEST(CompoundFile, NotACompoundFileIsLeftRaw) {
  Bytes stream = xlsw::workbook_stream({"S"}, {}, {xlsw::worksheet(1, 1, {})});
  expect_raw(xlsw::with_filler(stream), "filler");
  expect_raw({}, "empty");
  expect_raw(Bytes{0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1}, "signature alone");
  Bytes f = xlsw::compound_file(pattern(5000, 1));
  f[7] = 0xE0;
  expect_raw(f, "signature off by one bit");
}

TEST(CompoundFile, NoWorkbookStreamIsLeftRaw) {
  for (const char* name : {"Workbook2", "Workboo", "Books", "Root Entry", "", "W\xF6rkbook"})
    expect_raw(xlsw::compound_file(pattern(5000, 1), with([&](auto& o) { o.stream_name = name; })),
               name);
  // An entry of the right name that is a storage, not a stream.
  Bytes f = xlsw::compound_file(pattern(5000, 1));
  f[dir_entry(f, 1) + 66] = 1;
  expect_raw(f, "storage");
  // A name length field beyond the 64-byte name area.
  Bytes g = xlsw::compound_file(pattern(5000, 1));
  g[dir_entry(g, 1) + 64] = 66;
  expect_raw(g, "name length 66");
}

struct BrokenCase {
  const char* name;
  std::function<Bytes()> make;
};

std::ostream& operator<<(std::ostream& os, const BrokenCase& c) { return os << c.name; }

class CompoundBroken : public ::testing::TestWithParam<BrokenCase> {};

TEST_P(CompoundBroken, GivesTheRawFile) { expect_raw(GetParam().make(), GetParam().name); }

// A big stream (20 sectors) at sector 0, and a small one in the mini-stream.
Bytes big(const xlsw::CfbOptions& o = {}) { return xlsw::compound_file(pattern(10000, 7), o); }
Bytes small() { return xlsw::compound_file(pattern(1000, 7)); }

BrokenCase broken(
    const char* name, std::function<void(Bytes&)> change,
    std::function<Bytes()> base = [] { return big(); }) {
  return {name, [=] {
            Bytes f = base();
            change(f);
            return f;
          }};
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CompoundBroken,
    ::testing::Values(
        broken("fat_chain_loops", [](Bytes& f) { set32(f, fat_entry(f, 2), 1); }),
        broken("fat_chain_loops_to_itself", [](Bytes& f) { set32(f, fat_entry(f, 0), 0); }),
        broken("fat_link_out_of_range", [](Bytes& f) { set32(f, fat_entry(f, 1), 0x00FFFFFF); }),
        broken("fat_link_just_past_the_file",
               [](Bytes& f) { set32(f, fat_entry(f, 1), uint32_t(f.size() / 512 - 1)); }),
        broken("chain_shorter_than_size", [](Bytes& f) { set32(f, fat_entry(f, 5), kEndOfChain); }),
        broken("chain_into_free_sector", [](Bytes& f) { set32(f, fat_entry(f, 5), kFree); }),
        broken("start_out_of_range", [](Bytes& f) { set32(f, dir_entry(f, 1) + 116, 0x7FFFFFFF); }),
        broken("start_is_end_of_chain",
               [](Bytes& f) { set32(f, dir_entry(f, 1) + 116, kEndOfChain); }),
        broken("size_larger_than_file",
               [](Bytes& f) { set32(f, dir_entry(f, 1) + 120, uint32_t(f.size() + 1)); }),
        broken("size_all_ones", [](Bytes& f) { set32(f, dir_entry(f, 1) + 120, 0xFFFFFFFF); }),
        broken("fat_claims_2_32_minus_1_sectors", [](Bytes& f) { set32(f, 44, 0xFFFFFFFF); }),
        broken("fat_claims_more_sectors_than_the_file",
               [](Bytes& f) { set32(f, 44, uint32_t(f.size() / 512 + 1)); }),
        broken("fat_sector_out_of_range", [](Bytes& f) { set32(f, 76, 0x00FFFFFF); }),
        broken("no_fat_sectors", [](Bytes& f) { set32(f, 44, 0); }),
        broken("directory_start_out_of_range", [](Bytes& f) { set32(f, 48, 0x00FFFFFF); }),
        broken("directory_start_end_of_chain", [](Bytes& f) { set32(f, 48, kEndOfChain); }),
        broken("directory_chain_loops",
               [](Bytes& f) {
                 uint32_t d = get32(f, 48);
                 set32(f, fat_entry(f, d), d);
               }),
        broken("directory_chain_loops_later",
               [](Bytes& f) {
                 // The directory runs on into the stream's sectors, which
                 // loop back.
                 uint32_t d = get32(f, 48);
                 set32(f, fat_entry(f, d), 3);
                 set32(f, fat_entry(f, 4), d);
               }),
        broken("truncated_inside_the_stream", [](Bytes& f) { f.resize(512 + 5000); }),
        broken("truncated_to_the_header", [](Bytes& f) { f.resize(512); }),
        broken("truncated_inside_the_header", [](Bytes& f) { f.resize(511); }),
        broken(
            "last_stream_byte_cut_off",
            [](Bytes& f) {
              // The stream is the last thing in the file: cut its last byte.
              size_t start = sector_offset(f, stream_start(f));
              f.resize(start + 10000 - 1);
            },
            [] { return big(with([](auto& o) { o.stream_first = false; })); }),
        broken(
            "fragmented_chain_loops",
            [](Bytes& f) {
              uint32_t s = stream_start(f);
              uint32_t second = get32(f, fat_entry(f, s));
              set32(f, fat_entry(f, second), s);
            },
            [] { return big(with([](auto& o) { o.fragmented = true; })); }),
        broken(
            "mini_chain_loops", [](Bytes& f) { set32(f, minifat_entry(f, 2), 1); }, small),
        broken(
            "mini_link_out_of_range", [](Bytes& f) { set32(f, minifat_entry(f, 3), 0x00FFFFFF); },
            small),
        broken(
            "mini_chain_shorter_than_size",
            [](Bytes& f) { set32(f, minifat_entry(f, 3), kEndOfChain); }, small),
        broken(
            "mini_start_beyond_the_mini_stream",
            [](Bytes& f) { set32(f, dir_entry(f, 1) + 116, 1000); }, small),
        broken(
            "mini_stream_shorter_than_its_sectors",
            [](Bytes& f) { set32(f, dir_entry(f, 0) + 120, 64); }, small),
        broken(
            "mini_stream_larger_than_file",
            [](Bytes& f) { set32(f, dir_entry(f, 0) + 120, 0xFFFFFF00); }, small),
        broken(
            "mini_stream_chain_out_of_range",
            [](Bytes& f) { set32(f, dir_entry(f, 0) + 116, 0x00FFFFFF); }, small),
        broken(
            "mini_stream_chain_too_short",
            [](Bytes& f) { set32(f, fat_entry(f, get32(f, dir_entry(f, 0) + 116)), kEndOfChain); },
            small),
        broken(
            "minifat_claims_2_32_minus_1_sectors", [](Bytes& f) { set32(f, 64, 0xFFFFFFFF); },
            small),
        broken(
            "minifat_start_out_of_range", [](Bytes& f) { set32(f, 60, 0x00FFFFFF); }, small),
        broken(
            "minifat_missing", [](Bytes& f) { set32(f, 64, 0); }, small),
        broken(
            "mini_shift_too_large", [](Bytes& f) { f[32] = 10; }, small),
        broken(
            "mini_shift_zero", [](Bytes& f) { f[32] = 0; }, small),
        broken(
            "no_root_entry", [](Bytes& f) { f[dir_entry(f, 0) + 66] = 0; }, small),
        broken(
            "difat_chain_loops",
            [](Bytes& f) {
              // Claim a second DIFAT sector and make the first one point
              // back at itself.
              uint32_t difat = get32(f, 68);
              set32(f, 44, 109 + 127 + 5);
              set32(f, sector_offset(f, difat) + 508, difat);
            },
            difat_file),
        broken(
            "difat_start_out_of_range", [](Bytes& f) { set32(f, 68, 0x00FFFFFF); }, difat_file),
        broken(
            "difat_lists_sector_out_of_range",
            [](Bytes& f) { set32(f, sector_offset(f, get32(f, 68)), 0x00FFFFFF); }, difat_file),
        broken(
            "difat_ends_too_early", [](Bytes& f) { set32(f, 44, 109 + 127 + 5); }, difat_file)),
    [](const auto& p) { return std::string(p.param.name); });

TEST(CompoundFile, BadSectorShiftsGiveTheRawFile) {
  for (int shift = 0; shift <= 40; ++shift) {
    Bytes f = big();
    f[30] = uint8_t(shift);
    if (shift != 9 && shift != 12) expect_raw(f, "shift " + std::to_string(shift));
    f[31] = 0x01;  // the high byte counts too: 256 + shift
    expect_raw(f, "shift 256+" + std::to_string(shift));
  }
}

void expect_well_defined(const Bytes& file, const std::string& what);

TEST(CompoundFile, SwappedSectorSizeIsWellDefined) {
  Bytes f = big();
  f[30] = 12;
  expect_well_defined(f, "512-byte file read with 4096-byte sectors");
  Bytes g = xlsw::compound_file(pattern(20000, 1), with([](auto& o) { o.sector_shift = 12; }));
  g[30] = 9;
  expect_well_defined(g, "4096-byte file read with 512-byte sectors");
}

TEST(CompoundFile, MiniShiftOf64OrMore) {
  for (int shift : {64, 65, 127, 255, 0x7FFF}) {
    Bytes f = small();
    f[32] = uint8_t(shift);
    f[33] = uint8_t(shift >> 8);
    expect_raw(f, "mini shift " + std::to_string(shift));
  }
}

// Whatever a damaged file says, the result is either the raw file or the
// header followed by bytes from inside the file.
void expect_well_defined(const Bytes& file, const std::string& what) {
  auto extents = find_workbook_stream(file);
  Bytes copy = file;
  size_t begin = lay_out_workbook_stream(copy);
  if (!extents) {
    EXPECT_EQ(begin, 0u) << what;
    EXPECT_TRUE(copy == file) << what;
    return;
  }
  uint64_t total = 0;
  for (const Extent& e : *extents) {
    EXPECT_LE(e.offset + e.length, file.size()) << what;
    EXPECT_GE(e.offset, 512u) << what;
    total += e.length;
  }
  ASSERT_LE(begin, copy.size()) << what;
  EXPECT_EQ(copy.size() - begin, 512 + total) << what;
  EXPECT_TRUE(std::equal(file.begin(), file.begin() + 512, copy.begin() + ptrdiff_t(begin)))
      << what;
}

TEST(CompoundFile, EveryTruncationIsWellDefined) {
  std::vector<Bytes> bases = {small(), big(with([](auto& o) { o.stream_first = false; })),
                              big(with([](auto& o) { o.fragmented = true; }))};
  for (size_t b = 0; b < bases.size(); ++b) {
    // Every sector boundary and the bytes around it, and a stride between.
    std::vector<size_t> lengths;
    for (size_t len = 0; len <= bases[b].size(); len += 37) lengths.push_back(len);
    for (size_t k = 0; k * 512 <= bases[b].size(); ++k)
      for (size_t len : {k * 512 - 1, k * 512, k * 512 + 1, k * 512 + 4})
        if (len <= bases[b].size()) lengths.push_back(len);
    for (size_t len : lengths)
      expect_well_defined(Bytes(bases[b].begin(), bases[b].begin() + ptrdiff_t(len)),
                          "base " + std::to_string(b) + " cut at " + std::to_string(len));
  }
}

TEST(CompoundFile, EveryDamagedStructureByteIsWellDefined) {
  std::vector<Bytes> bases = {
      small(), big(with([](auto& o) { o.stream_first = false; })), big(with([](auto& o) {
        o.fragmented = true;
        o.other_streams = {{"Book", pattern(300, 1)}};
      })),
      xlsw::compound_file(pattern(3000, 1), with([](auto& o) { o.sector_shift = 12; }))};
  for (size_t b = 0; b < bases.size(); ++b) {
    const Bytes& base = bases[b];
    // The header's fields and first FAT sector ids, the directory's first
    // three entries (name length, type, links, start, size), and the first
    // 24 links of the FAT and the mini FAT.
    std::vector<size_t> offsets;
    for (size_t i = 24; i < 88; ++i) offsets.push_back(i);
    for (size_t e = 0; e < 3; ++e)
      for (size_t i : {0, 1, 64, 65, 66, 68, 72, 76, 116, 117, 118, 119, 120, 121, 122, 123})
        offsets.push_back(dir_entry(base, 0) + 128 * e + i);
    for (size_t i = 0; i < 96; ++i) offsets.push_back(fat_entry(base, 0) + i);
    if (get32(base, 64) > 0)
      for (size_t i = 0; i < 96; ++i) offsets.push_back(minifat_entry(base, 0) + i);
    for (size_t off : offsets)
      for (uint8_t v : {0x00, 0x01, 0x7F, 0xFF}) {
        if (base[off] == v) continue;
        Bytes f = base;
        f[off] = v;
        expect_well_defined(f, "base " + std::to_string(b) + " byte " + std::to_string(off) +
                                   " = " + std::to_string(v));
      }
  }
}

// ---------------------------------------------------------------------------
// Any named stream, behind any prefix

Bytes gather(const Bytes& file, const std::vector<Extent>& extents) {
  Bytes out;
  for (const Extent& e : extents)
    out.insert(out.end(), file.begin() + ptrdiff_t(e.offset),
               file.begin() + ptrdiff_t(e.offset + e.length));
  return out;
}

TEST(FindStream, FindsEachRootChildByNameIgnoringCase) {
  const Bytes wb = pattern(5000, 1), summary = pattern(4096, 2), ctls = pattern(9000, 3),
              obj = pattern(100, 4);
  for (bool frag : {false, true}) {
    Bytes f = xlsw::compound_file(
        wb, with([&](auto& o) {
          o.fragmented = frag;
          o.other_streams = {{"\x05SummaryInformation", summary}, {"Ctls", ctls}, {"CompObj", obj}};
        }));
    const std::vector<std::pair<std::string, const Bytes*>> wanted = {
        {"Workbook", &wb}, {"wORKBOOK", &wb}, {"\x05SummaryInformation", &summary},
        {"CTLS", &ctls},   {"ctls", &ctls},   {"compobj", &obj}};
    for (const auto& [name, bytes] : wanted) {
      auto extents = find_stream(f, name);
      ASSERT_TRUE(extents.has_value()) << name << frag;
      EXPECT_TRUE(gather(f, *extents) == *bytes) << name << frag;
    }
    for (const char* name : {"", "Ctl", "Ctls ", "CompObj2", "Book", "Root Entry", "Ct\xC3\xACs"})
      EXPECT_FALSE(find_stream(f, name).has_value()) << name << frag;
  }
}

// The sequence a layout describes.
Bytes joined(Bytes file, const std::vector<Extent>& extents, size_t prefix, bool* copied) {
  StreamLayout laid = lay_out_stream(file, extents, prefix);
  *copied = laid.copied;
  if (laid.copied) return laid.copy;
  EXPECT_LE(laid.begin, laid.end);
  EXPECT_LE(laid.end, file.size());
  return Bytes(file.begin() + ptrdiff_t(laid.begin), file.begin() + ptrdiff_t(laid.end));
}

TEST(LayOutStream, KeepsAnyPrefixInFront) {
  const Bytes stream = pattern(10000, 3);
  for (bool frag : {false, true})
    for (bool first : {false, true}) {
      Bytes f = xlsw::compound_file(stream, with([&](auto& o) {
                                      o.fragmented = frag;
                                      o.stream_first = first;
                                      o.other_streams = {{"Ole", pattern(7000, 1)}};
                                    }));
      auto extents = find_stream(f, "Workbook");
      ASSERT_TRUE(extents.has_value());
      for (size_t prefix : {size_t(0), size_t(1), size_t(100), size_t(512)}) {
        bool copied = true;
        Bytes seq = joined(f, *extents, prefix, &copied);
        Bytes want(f.begin(), f.begin() + ptrdiff_t(prefix));
        want.insert(want.end(), stream.begin(), stream.end());
        EXPECT_TRUE(seq == want) << frag << first << prefix;
        // One piece is always joined in place.
        if (extents->size() == 1) {
          EXPECT_FALSE(copied) << frag << first << prefix;
        }
      }
    }
}

TEST(LayOutStream, PrefixOverlappingTheFirstPieceIsCopied) {
  const Bytes stream = pattern(10000, 3);
  Bytes f = xlsw::compound_file(stream, with([](auto& o) { o.stream_first = false; }));
  auto extents = find_stream(f, "Workbook");
  ASSERT_TRUE(extents.has_value());
  ASSERT_EQ((*extents)[0].offset, 1536u);
  bool copied = false;
  Bytes seq = joined(f, *extents, 2000, &copied);
  EXPECT_TRUE(copied);
  Bytes want(f.begin(), f.begin() + 2000);
  want.insert(want.end(), stream.begin(), stream.end());
  EXPECT_TRUE(seq == want);
}

TEST(LayOutStream, PiecesOutOfOrderAreCopied) {
  Bytes f = pattern(4000, 1);
  std::vector<Extent> extents = {{3000, 500}, {1000, 700}, {2000, 10}};
  bool copied = false;
  Bytes seq = joined(f, extents, 16, &copied);
  EXPECT_TRUE(copied);
  Bytes want(f.begin(), f.begin() + 16);
  for (const Extent& e : extents)
    want.insert(want.end(), f.begin() + ptrdiff_t(e.offset),
                f.begin() + ptrdiff_t(e.offset + e.length));
  EXPECT_TRUE(seq == want);
}

TEST(LayOutStream, ImpossibleRequestsGiveTheFileAsItIs) {
  const Bytes f = pattern(4000, 1);
  const std::vector<std::pair<std::vector<Extent>, size_t>> cases = {
      {{{1000, 100}}, 4001},             // prefix longer than the file
      {{{1000, 100}, {3950, 51}}, 512},  // piece past the end
      {{{4001, 0}}, 0},
      {{{1000, UINT64_MAX}}, 0},  // length that wraps
      {{{UINT64_MAX, 2}}, 0}};
  for (const auto& [extents, prefix] : cases) {
    Bytes copy = f;
    StreamLayout laid = lay_out_stream(copy, extents, prefix);
    EXPECT_FALSE(laid.copied);
    EXPECT_EQ(laid.begin, 0u);
    EXPECT_EQ(laid.end, f.size());
    EXPECT_TRUE(copy == f);
  }
}

// ---------------------------------------------------------------------------
// Only the root storage's children, through its tree

// Entry i's link fields.
constexpr size_t kLeft = 68, kRight = 72, kChild = 76;

Bytes many_streams() {
  return xlsw::compound_file(pattern(5000, 1), with([](auto& o) {
                               o.other_streams = {{"A", pattern(100, 2)},
                                                  {"B", pattern(200, 3)},
                                                  {"C", pattern(5000, 4)},
                                                  {"D", pattern(300, 5)},
                                                  {"E", pattern(6000, 6)}};
                             }));
}

TEST(FindStream, LooksOnlyAmongTheRootsChildren) {
  const Bytes base = many_streams();
  ASSERT_TRUE(find_stream(base, "Workbook").has_value());

  // Not linked: the root's tree holds only entry 2.
  Bytes unlinked = base;
  set32(unlinked, dir_entry(unlinked, 0) + kChild, 2);
  set32(unlinked, dir_entry(unlinked, 2) + kLeft, kFree);
  set32(unlinked, dir_entry(unlinked, 2) + kRight, kFree);
  EXPECT_FALSE(find_stream(unlinked, "Workbook").has_value());
  EXPECT_TRUE(find_stream(unlinked, "A").has_value());
  EXPECT_FALSE(find_stream(unlinked, "B").has_value());

  // In a sub-storage: entry 2 becomes a storage whose only child is the
  // workbook.
  Bytes nested = unlinked;
  nested[dir_entry(nested, 2) + 66] = 1;
  set32(nested, dir_entry(nested, 2) + kChild, 1);
  EXPECT_FALSE(find_stream(nested, "Workbook").has_value());
  EXPECT_FALSE(find_stream(nested, "A").has_value());  // a storage is not a stream

  // The same entry linked as the storage's sibling is a child of the root.
  Bytes sibling = nested;
  set32(sibling, dir_entry(sibling, 2) + kChild, kFree);
  set32(sibling, dir_entry(sibling, 2) + kRight, 1);
  auto extents = find_stream(sibling, "Workbook");
  ASSERT_TRUE(extents.has_value());
  EXPECT_TRUE(gather(sibling, *extents) == pattern(5000, 1));

  // No tree at all, or a root child out of range.
  for (uint32_t child : {kFree, uint32_t(0), uint32_t(7000), uint32_t(0x7FFFFFFF)}) {
    Bytes f = base;
    set32(f, dir_entry(f, 0) + kChild, child);
    EXPECT_FALSE(find_stream(f, "Workbook").has_value()) << child;
  }

  // An empty entry ends its branch.
  Bytes empty = sibling;
  empty[dir_entry(empty, 2) + 66] = 0;
  EXPECT_FALSE(find_stream(empty, "Workbook").has_value());
}

// Loops and links to anywhere end: every link of every entry set to every
// troublesome value gives a defined answer, and a stream found is the
// stream's bytes.
TEST(FindStream, EveryTreeLinkIsWellDefined) {
  const Bytes base = many_streams();
  const std::vector<std::pair<std::string, Bytes>> streams = {{"Workbook", pattern(5000, 1)},
                                                              {"A", pattern(100, 2)},
                                                              {"C", pattern(5000, 4)},
                                                              {"E", pattern(6000, 6)}};
  for (size_t e = 0; e < 7; ++e)
    for (size_t field : {kLeft, kRight, kChild})
      for (uint32_t v : {0u, 1u, 2u, 3u, 6u, uint32_t(e), 7u, 8u, 1000u, kEndOfChain, kFree}) {
        Bytes f = base;
        set32(f, dir_entry(f, e) + field, v);
        for (const auto& [name, bytes] : streams) {
          auto extents = find_stream(f, name);
          if (extents) {
            EXPECT_TRUE(gather(f, *extents) == bytes) << e << field << v << name;
          }
        }
      }
  // Every entry's siblings pointing back at the first child: a cycle.
  Bytes f = base;
  uint32_t top = get32(f, dir_entry(f, 0) + kChild);
  for (size_t e = 1; e < 7; ++e) {
    set32(f, dir_entry(f, e) + kLeft, top);
    set32(f, dir_entry(f, e) + kRight, top);
  }
  EXPECT_EQ(find_stream(f, "Workbook").has_value(), top == 1);
}

// ---------------------------------------------------------------------------
// Header counts, shifts, sizes and table sectors

TEST(FindStream, MiniFatChainThatEndsIsFollowedWhateverTheCount) {
  const Bytes base = small();
  ASSERT_EQ(get32(base, 64), 1u);
  const uint32_t sectors = uint32_t((base.size() - 1) / 512);
  for (uint32_t count : {2u, 3u, sectors}) {
    Bytes f = base;
    set32(f, 64, count);
    EXPECT_TRUE(sequence(f) == header_and(f, pattern(1000, 7))) << count;
  }
  expect_raw(
      [&] {
        Bytes f = base;
        set32(f, 64, sectors + 1);  // more sectors than the file has
        return f;
      }(),
      "count beyond the file");
  expect_raw(
      [&] {
        Bytes f = base;
        set32(f, fat_entry(f, get32(f, 60)), kFree);  // runs on without an end mark
        return f;
      }(),
      "mini-FAT chain not ended");
}

// The mini FAT moved to a sector of its own at the end of the file.
Bytes minifat_last() {
  Bytes f = small();
  uint32_t id = uint32_t(f.size() / 512 - 1);
  Bytes sector(f.begin() + ptrdiff_t(sector_offset(f, get32(f, 60))),
               f.begin() + ptrdiff_t(sector_offset(f, get32(f, 60)) + 512));
  f.insert(f.end(), sector.begin(), sector.end());
  set32(f, fat_entry(f, id), kEndOfChain);
  set32(f, 60, id);
  return f;
}

TEST(FindStream, TableSectorsMustBeWhole) {
  Bytes moved = minifat_last();
  ASSERT_TRUE(sequence(moved) == header_and(moved, pattern(1000, 7)));
  for (size_t cut : {1, 100, 511}) {
    Bytes f = moved;
    f.resize(f.size() - cut);
    expect_raw(f, "mini-FAT sector cut by " + std::to_string(cut));
  }
  // A file whose last sector is its FAT sector.
  Bytes fat_last = big();
  ASSERT_EQ(sector_offset(fat_last, get32(fat_last, 76)) + 512, fat_last.size());
  ASSERT_TRUE(find_stream(fat_last, "Workbook").has_value());
  fat_last.pop_back();
  expect_raw(fat_last, "FAT sector cut by 1");
}

TEST(FindStream, InconsistentHeadersAndDirectories) {
  for (uint8_t shift : {0, 5, 7, 9, 12}) {
    Bytes f = big();  // the stream is above the cutoff: the mini-stream is not needed
    f[32] = shift;
    expect_raw(f, "mini shift " + std::to_string(shift));
  }
  for (uint8_t type : {0, 1, 2, 3, 4, 6}) {
    Bytes f = big();
    f[dir_entry(f, 0) + 66] = type;
    expect_raw(f, "entry 0 of type " + std::to_string(type));
  }
  // Entry 0 a stream, a root storage further on: still no root.
  Bytes g = big();
  g[dir_entry(g, 0) + 66] = 2;
  g[dir_entry(g, 2) + 66] = 5;
  expect_raw(g, "root not first");

  // The second FAT sector is the first again; the file's sectors are all
  // covered by the first, so only the repetition is wrong.
  Bytes twice = big();
  ASSERT_LT(twice.size(), 128u * 512);
  set32(twice, 44, 2);
  set32(twice, 80, get32(twice, 76));
  expect_raw(twice, "FAT sector listed twice");
}

TEST(FindStream, SizeIs64BitOnlyWith4096ByteSectors) {
  // 512-byte sectors: the high half is not part of the size.
  for (Bytes f : {big(), small()}) {
    size_t size = get32(f, dir_entry(f, 1) + 120);
    set32(f, dir_entry(f, 1) + 124, 0xFFFFFFFF);
    set32(f, dir_entry(f, 0) + 124, 0x00000001);  // the root's too
    EXPECT_TRUE(sequence(f) == header_and(f, pattern(size, 7))) << size;
  }
  // 4096-byte sectors: a size with the high half set is beyond any file.
  for (size_t size : {20000, 3000}) {
    Bytes f = xlsw::compound_file(pattern(size, 7), with([](auto& o) { o.sector_shift = 12; }));
    ASSERT_TRUE(sequence(f) == header_and(f, pattern(size, 7))) << size;
    Bytes high = f;
    set32(high, dir_entry(high, 1) + 124, 1);
    expect_raw(high, "4096: size high half " + std::to_string(size));
  }
  Bytes mini = xlsw::compound_file(pattern(3000, 7), with([](auto& o) { o.sector_shift = 12; }));
  set32(mini, dir_entry(mini, 0) + 124, 1);
  expect_raw(mini, "4096: mini-stream size high half");
}

// ---------------------------------------------------------------------------
// Edge cases found by differential fuzzing (tests/cfb/cases/README.md):
// which stream the loader's convention takes, or that the raw file is kept.

struct FileCase {
  const char* file;
  bool finds_s;  // false: nothing found, the raw file is kept
};

bool contains(const Bytes& b, const std::string& text) {
  return std::search(b.begin(), b.end(), text.begin(), text.end()) != b.end();
}

TEST(FindStream, FuzzingCases) {
  const FileCase cases[] = {
      {"cfb_workbook_in_substorage.xls", false}, {"cfb_workbook_unlinked.xls", false},
      {"cfb_minifat_count_too_big.xls", true},   {"cfb_minifat_chain_not_ended.xls", false},
      {"cfb_minifat_sector_cut1.xls", false},    {"cfb_minishift7_regular_stream.xls", false},
      {"cfb_4096_size_high_half.xls", false},    {"cfb_fat_sector_twice.xls", false},
      {"cfb_entry0_not_root.xls", false}};
  const std::filesystem::path dir = std::filesystem::path(SHEETDUMP_TEST_DIR) / "cfb" / "cases";
  for (const FileCase& c : cases) {
    auto data = read_file((dir / c.file).string());
    ASSERT_TRUE(data.has_value()) << c.file;
    if (!c.finds_s) {
      expect_raw(*data, c.file);
      continue;
    }
    ASSERT_TRUE(find_stream(*data, "Workbook").has_value()) << c.file;
    ASSERT_TRUE(contains(*data, "DECOY")) << c.file;
    Bytes seq = sequence(*data);
    ASSERT_GE(seq.size(), 520u) << c.file;
    EXPECT_EQ(seq[512], 0x09) << c.file;
    EXPECT_EQ(seq[513], 0x08) << c.file;
    EXPECT_FALSE(contains(Bytes(seq.begin() + 512, seq.end()), "DECOY")) << c.file;
  }
}

// ---------------------------------------------------------------------------
// Files written by real spreadsheet programs

TEST(CompoundFile, CorpusWorkbooksAreFound) {
  std::filesystem::path root = std::filesystem::path(SHEETDUMP_TEST_DIR) / "corpus";
  if (!std::filesystem::exists(root)) GTEST_SKIP() << "no corpus at " << root;
  int files = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    if (entry.path().extension() != ".xls") continue;
    ++files;
    auto data = read_file(entry.path().string());
    ASSERT_TRUE(data.has_value()) << entry.path();
    auto extents = find_workbook_stream(*data);
    ASSERT_TRUE(extents.has_value()) << entry.path();
    Bytes seq = sequence(*data);
    ASSERT_GE(seq.size(), 520u) << entry.path();
    // The stream starts with the globals' BOF record.
    EXPECT_EQ(seq[512], 0x09) << entry.path();
    EXPECT_EQ(seq[513], 0x08) << entry.path();
    uint32_t version = seq[516] | seq[517] << 8;
    EXPECT_TRUE(version == 0x0600 || version == 0x0500) << entry.path() << " " << version;
  }
  EXPECT_GT(files, 0);
}

}  // namespace
}  // namespace sheetdump
