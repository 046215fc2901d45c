// Files crafted to break the reader: truncations and corrupted record
// headers of a real workbook, compound files with broken allocation
// tables, and records that claim far more than they hold. Each must end
// with the output the rules give, quickly, in bounded memory and without a
// sanitizer report.
//
// The many variants of one workbook run in-process (loader and writers
// into a memory stream); a sample of them, and every constructed file, run
// through the built binary in a child with a time limit and a memory check.
// The cases are spread over several suites, so that CTest runs them side by
// side.
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/le.hpp"
#include "biff/workbook_loader.hpp"
#include "cfb/compound_file.hpp"
#include "cli/options.hpp"
#include "format/cell_text.hpp"
#include "output/delimited_writer.hpp"
#include "output/output_stream.hpp"
#include "output/sql_writer.hpp"
#include "support/run_program.hpp"
#include "support/xls_writer.hpp"

namespace {

using xlsw::Bytes;

using testsupport::ProgramResult;
using xlsw::put16_at;
using xlsw::put32_at;

constexpr long kMemoryLimitBytes = 512L << 20;
constexpr int kTimeLimitSeconds = 10;

// Runs the sheetdump binary with `args` under the time and memory limits.
ProgramResult run_limited(const std::vector<std::string>& args) {
  return testsupport::run_sheetdump_limited(args, {kTimeLimitSeconds, kMemoryLimitBytes});
}

// The limits every run must keep, whatever it printed.
void expect_within_limits(const ProgramResult& r, const std::string& what) {
  EXPECT_FALSE(r.timed_out) << what << ": still running after " << kTimeLimitSeconds << " s";
  EXPECT_EQ(r.signal, 0) << what << ": ended by signal " << r.signal;
  EXPECT_EQ(r.status, 1) << what;
  EXPECT_LT(r.peak_rss_kb * 1024L, kMemoryLimitBytes) << what << ": peak resident size";
  EXPECT_EQ(r.err.find("Sanitizer"), std::string::npos) << what << ":\n" << r.err.substr(0, 4000);
  EXPECT_EQ(r.err.find("runtime error"), std::string::npos) << what << ":\n"
                                                            << r.err.substr(0, 4000);
}

// ---------------------------------------------------------------------------
// Converting in-process

enum class Mode { Csv, Tab, Sql, SqlPostgresIso };

const std::vector<std::string>& mode_args(Mode m) {
  static const std::vector<std::string> csv{}, tab{"--tab"}, sql{"--sql"},
      pg{"--sql", "--postgres", "--isodate"};
  switch (m) {
    case Mode::Tab:
      return tab;
    case Mode::Sql:
      return sql;
    case Mode::SqlPostgresIso:
      return pg;
    default:
      return csv;
  }
}

std::vector<std::string> args_for(Mode m, const std::string& path) {
  std::vector<std::string> a = mode_args(m);
  a.push_back(path);
  return a;
}

// What the program prints for a file holding `file`, computed in-process.
std::string convert(const Bytes& file, Mode mode) {
  char* buf = nullptr;
  size_t len = 0;
  std::FILE* f = open_memstream(&buf, &len);
  {
    sheetdump::OutputStream out(f);
    sheetdump::Workbook wb = sheetdump::load_workbook(file);
    switch (mode) {
      case Mode::Csv:
        sheetdump::write_csv(wb, out);
        break;
      case Mode::Tab:
        sheetdump::write_tab(wb, out);
        break;
      case Mode::Sql:
        sheetdump::write_sql(wb, nullptr, sheetdump::QUOTE_ORACLE, out);
        break;
      case Mode::SqlPostgresIso:
        sheetdump::write_sql(wb, sheetdump::kIsoDatePattern, sheetdump::QUOTE_POSTGRES, out);
        break;
    }
    out.flush();
  }
  std::fclose(f);
  std::string s(buf, len);
  std::free(buf);
  return s;
}

Bytes read_bytes_of(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

Bytes small_real_workbook() {
  Bytes b = read_bytes_of(std::string(SHEETDUMP_SOURCE_DIR) + "/examples/basic.xls");
  EXPECT_GT(b.size(), 4096u) << "examples/basic.xls missing or too small";
  return b;
}

// File offsets of the workbook stream's bytes, in stream order.
std::vector<size_t> stream_offsets(const Bytes& file) {
  std::vector<size_t> at;
  auto extents = sheetdump::find_stream(file, "Workbook");
  if (!extents) return at;
  for (const auto& e : *extents)
    for (uint64_t i = 0; i < e.length; ++i) at.push_back(size_t(e.offset + i));
  return at;
}

// Stream offsets of the record headers, in order.
std::vector<size_t> record_headers(const Bytes& file, const std::vector<size_t>& at) {
  std::vector<size_t> headers;
  for (size_t pos = 0; pos + 4 <= at.size();) {
    headers.push_back(pos);
    pos += 4 + sheetdump::le16(file[at[pos + 2]], file[at[pos + 3]]);
  }
  return headers;
}

// ---------------------------------------------------------------------------
// Truncation at every byte

// The lengths a truncation is tried at: every length through the header
// and the first records, then every seventh, and around every record
// header (a cut before, inside and right after each of its four bytes).
// Between headers a cut only shortens one record's data, which the stride
// samples.
std::vector<size_t> truncation_lengths(const Bytes& full) {
  std::set<size_t> lengths;
  for (size_t n = 0; n <= std::min<size_t>(1024, full.size()); ++n) lengths.insert(n);
  for (size_t n = 1024; n <= full.size(); n += 7) lengths.insert(n);
  lengths.insert(full.size() - 1);
  lengths.insert(full.size());
  const std::vector<size_t> at = stream_offsets(full);
  for (size_t h : record_headers(full, at))
    for (size_t k = 0; k <= 5 && h + k <= at.size(); ++k) {
      size_t end = h + k < at.size() ? at[h + k] : at.back() + 1;
      if (end <= full.size()) lengths.insert(end);
    }
  return std::vector<size_t>(lengths.begin(), lengths.end());
}

TEST(HostileInputTruncation, EveryPrefixOfARealWorkbook) {
  const Bytes full = small_real_workbook();
  const std::string whole_csv = convert(full, Mode::Csv);
  ASSERT_FALSE(whole_csv.empty());
  const std::vector<size_t> lengths = truncation_lengths(full);
  ASSERT_GT(lengths.size(), 2000u);
  for (size_t n : lengths) {
    Bytes cut(full.begin(), full.begin() + ptrdiff_t(n));
    std::string csv = convert(cut, Mode::Csv);
    std::string sql = convert(cut, Mode::SqlPostgresIso);
    // Nothing lies before the stream's first record at 512.
    if (n <= 512) {
      EXPECT_EQ(csv, "") << "prefix of " << n << " bytes";
      EXPECT_EQ(sql, "") << "prefix of " << n << " bytes";
    }
    if (n == full.size()) {
      EXPECT_EQ(csv, whole_csv);
    }
  }
}

// Standard error after a damaged file: nothing, or the one line that says
// why the file yields nothing or not all of it.
void expect_no_message_or_a_reason(const std::string& err, const std::string& path,
                                   const std::string& what) {
  if (err.empty()) return;
  static const char* const kReasons[] = {
      "not an .xls workbook", "no Workbook or Book stream in the compound file",
      "encrypted workbook, not supported", "BIFF version not supported", "truncated workbook"};
  bool known = false;
  for (const char* reason : kReasons)
    known = known || err == "sheetdump: " + path + ": " + reason + "\n";
  EXPECT_TRUE(known) << what << ": " << err;
}

TEST(HostileInputTruncation, SampledPrefixesThroughTheBinary) {
  const Bytes full = small_real_workbook();
  std::vector<size_t> lengths{0, 1, 8, 511, 512, 513, 515, 516, 520, full.size() - 1, full.size()};
  for (size_t n = 600; n < full.size(); n += 997) lengths.push_back(n);
  for (size_t n : lengths) {
    Bytes cut(full.begin(), full.begin() + ptrdiff_t(n));
    std::string path = testsupport::write_temp_file("prefix.xls", cut);
    for (Mode m : {Mode::Csv, Mode::SqlPostgresIso}) {
      ProgramResult r = run_limited(args_for(m, path));
      std::string what = "prefix of " + std::to_string(n) + " bytes";
      expect_within_limits(r, what);
      EXPECT_EQ(r.out, convert(cut, m)) << what;
      expect_no_message_or_a_reason(r.err, path, what);
    }
  }
}

// ---------------------------------------------------------------------------
// Corrupted record headers

struct HeaderCorruption {
  size_t header;  // offset of the header in the stream
  size_t byte;    // 0-3: which header byte; 4: the id word, 6: the size word
  uint16_t value;
};

// Every corruption of every record header of the real workbook's stream:
// each header byte set to 00, FF or with its low or high bit flipped, the
// id replaced by the ids the reader acts on, the size by 0, 1, one more or
// one less than it was, 0x8000 and 0xFFFF. A change that leaves the header
// as it was, or as an earlier change of the same header made it, is
// listed once.
std::vector<HeaderCorruption> header_corruptions(const Bytes& file, const std::vector<size_t>& at) {
  std::vector<HeaderCorruption> all;
  const uint16_t ids[] = {0x0000, 0xFFFF, 0x0809, 0x000A, 0x0085, 0x00E0, 0x00FC,
                          0x003C, 0x0200, 0x0203, 0x027E, 0x00BD, 0x0006, 0x00FD};
  for (size_t pos : record_headers(file, at)) {
    uint8_t h[4];
    for (size_t i = 0; i < 4; ++i) h[i] = file[at[pos + i]];
    const uint32_t intact = sheetdump::le32(h[0], h[1], h[2], h[3]);
    std::set<uint32_t> seen{intact};
    auto add = [&](size_t byte, uint16_t value) {
      uint8_t c[4] = {h[0], h[1], h[2], h[3]};
      if (byte < 4) {
        c[byte] = uint8_t(value);
      } else {
        size_t first = byte == 4 ? 0 : 2;
        c[first] = uint8_t(value);
        c[first + 1] = uint8_t(value >> 8);
      }
      if (seen.insert(sheetdump::le32(c[0], c[1], c[2], c[3])).second)
        all.push_back({pos, byte, value});
    };
    uint16_t size = uint16_t(sheetdump::le16(h[2], h[3]));
    for (size_t i = 0; i < 4; ++i)
      for (uint16_t v :
           {uint16_t(0x00), uint16_t(0xFF), uint16_t(h[i] ^ 0x01), uint16_t(h[i] ^ 0x80)})
        add(i, v);
    for (uint16_t id : ids) add(4, id);
    for (uint16_t s : {uint16_t(0), uint16_t(1), uint16_t(size + 1), uint16_t(size - 1),
                       uint16_t(0x8000), uint16_t(0xFFFF)})
      add(6, s);
  }
  return all;
}

Bytes apply(const Bytes& file, const std::vector<size_t>& at, const HeaderCorruption& c) {
  Bytes b = file;
  if (c.byte < 4) {
    b[at[c.header + c.byte]] = uint8_t(c.value);
  } else {
    size_t first = c.byte == 4 ? 0 : 2;
    b[at[c.header + first]] = uint8_t(c.value);
    b[at[c.header + first + 1]] = uint8_t(c.value >> 8);
  }
  return b;
}

std::string describe(const HeaderCorruption& c) {
  char text[96];
  const char* field = c.byte < 4 ? "byte" : c.byte == 4 ? "id" : "size";
  std::snprintf(text, sizeof text, "header at stream offset %zu: %s %zu set to 0x%X", c.header,
                field, c.byte < 4 ? c.byte : size_t(0), unsigned(c.value));
  return text;
}

// The corruptions whose index leaves `shard` when divided by `shards`.
void check_header_corruptions(size_t shard, size_t shards) {
  const Bytes full = small_real_workbook();
  const std::vector<size_t> at = stream_offsets(full);
  ASSERT_GT(at.size(), 1000u) << "the workbook stream was not found";
  auto all = header_corruptions(full, at);
  ASSERT_GT(all.size(), 1000u);
  ASSERT_LT(shard, shards);
  for (size_t i = shard; i < all.size(); i += shards) {
    Bytes b = apply(full, at, all[i]);
    // Each must load; an invalid read, a leak or undefined behaviour ends
    // this process with the sanitizer's report.
    sheetdump::Workbook wb = sheetdump::load_workbook(b);
    uint64_t positions = 0;
    for (const sheetdump::Sheet& sheet : wb.sheets) {
      EXPECT_LE(sheet.rows, 65536) << describe(all[i]);
      EXPECT_LE(sheet.cols, 256) << describe(all[i]);
      for (const sheetdump::Cell& cell : sheet.cells)
        EXPECT_TRUE(cell.row < sheet.rows && cell.col < sheet.cols) << describe(all[i]);
      if (sheet.rows > 0 && sheet.cols > 0)
        positions += uint64_t(sheet.rows) * uint64_t(sheet.cols);
    }
    // A header that turns into a DIMENSIONS record can claim the largest
    // grid; printing millions of empty positions for each such variant
    // would add nothing to the cut checked above and to the tests of
    // huge grids below.
    if (positions > (uint64_t(1) << 16)) continue;
    std::string csv = convert(b, Mode::Csv);
    // A sample goes through the binary.
    if (i % 151 == 0) {
      std::string path = testsupport::write_temp_file("corrupt.xls", b);
      ProgramResult r = run_limited(args_for(Mode::Csv, path));
      expect_within_limits(r, describe(all[i]));
      EXPECT_EQ(r.out, csv) << describe(all[i]);
    }
  }
}

constexpr size_t kHeaderShards = 3;

TEST(HostileInputHeaders1, CorruptedRecordHeadersOfARealWorkbook) {
  check_header_corruptions(0, kHeaderShards);
}
TEST(HostileInputHeaders2, CorruptedRecordHeadersOfARealWorkbook) {
  check_header_corruptions(1, kHeaderShards);
}
TEST(HostileInputHeaders3, CorruptedRecordHeadersOfARealWorkbook) {
  check_header_corruptions(2, kHeaderShards);
}

// ---------------------------------------------------------------------------
// Broken compound files

// A two-sheet workbook of several sectors: enough records that its stream
// fills four 512-byte sectors.
Bytes several_sector_stream() {
  std::vector<Bytes> cells{xlsw::labelsst(0, 0, 0, 0), xlsw::labelsst(0, 1, 0, 1)};
  for (uint16_t r = 1; r < 100; ++r) {
    cells.push_back(xlsw::number(r, 0, 0, r));
    cells.push_back(xlsw::rk(r, 1, 0, xlsw::rk_int(r * 2)));
  }
  return xlsw::workbook_stream(
      {"First", "Second"}, {xlsw::sst({xlsw::s8("id"), xlsw::s8("twice")})},
      {xlsw::worksheet(100, 2, cells), xlsw::worksheet(1, 1, {xlsw::number(0, 0, 0, 3.5)})});
}

struct CfbLayout {
  size_t fat_offset;  // file offset of the first FAT sector
  uint32_t dir_start;
  size_t dir_offset;
};

CfbLayout layout_of(const Bytes& cfb) {
  std::span<const uint8_t> s(cfb);
  CfbLayout l{};
  l.fat_offset = (size_t(sheetdump::le32u_at(s, 76)) + 1) * 512;
  l.dir_start = sheetdump::le32u_at(s, 48);
  l.dir_offset = (size_t(l.dir_start) + 1) * 512;
  return l;
}

struct CfbCase {
  std::string name;
  std::function<void(Bytes&, const CfbLayout&)> damage;
  // True when the file must still print exactly what the intact one does:
  // the stream lies right after the header, so reading it from offset 512
  // gives the same workbook whether or not the tables are believed.
  bool same_output;
};

TEST(HostileInputCompoundFile, BrokenTables) {
  const Bytes stream = several_sector_stream();
  ASSERT_GT(stream.size(), 3 * 512u);
  xlsw::CfbOptions opts;
  opts.use_mini_stream = false;
  const Bytes intact = xlsw::compound_file(stream, opts);
  const std::string expected = convert(xlsw::with_filler(stream), Mode::Csv);
  ASSERT_EQ(expected.substr(0, 21), "\"id\",\"twice\"\n\"1\",\"2\"\n");
  ASSERT_EQ(convert(intact, Mode::Csv), expected);

  std::vector<CfbCase> cases{
      {"intact", [](Bytes&, const CfbLayout&) {}, true},
      {"stream chain loops back to its first sector",
       [](Bytes& b, const CfbLayout& l) { put32_at(b, l.fat_offset + 4 * 1, 0); }, true},
      {"stream sector links to itself",
       [](Bytes& b, const CfbLayout& l) { put32_at(b, l.fat_offset, 0); }, true},
      {"directory chain links to itself",
       [](Bytes& b, const CfbLayout& l) {
         put32_at(b, l.fat_offset + 4 * l.dir_start, l.dir_start);
       },
       true},
      {"stream chain points out of range",
       [](Bytes& b, const CfbLayout& l) { put32_at(b, l.fat_offset + 4, 0x7FFFFFF0); }, true},
      {"directory start out of range",
       [](Bytes& b, const CfbLayout&) { put32_at(b, 48, 0xFFFFFFF0); }, true},
      {"FAT sector out of range", [](Bytes& b, const CfbLayout&) { put32_at(b, 76, 0xFFFFFFF0); },
       true},
      {"header claims 2^32-1 FAT sectors",
       [](Bytes& b, const CfbLayout&) { put32_at(b, 44, 0xFFFFFFFF); }, true},
      {"header claims 2^32-1 DIFAT sectors starting at sector 0",
       [](Bytes& b, const CfbLayout&) {
         put32_at(b, 44, 200);
         put32_at(b, 68, 0);
         put32_at(b, 72, 0xFFFFFFFF);
       },
       true},
      {"DIFAT chain loops",
       [](Bytes& b, const CfbLayout& l) {
         // 110 FAT sectors: one more than the header lists, so the DIFAT
         // sector (the directory's, whose last entry links to itself) is read.
         put32_at(b, 44, 110);
         put32_at(b, 68, l.dir_start);
         put32_at(b, 72, 1);
         put32_at(b, l.dir_offset + 508, l.dir_start);
       },
       true},
      {"stream claims 2^32-1 bytes",
       [](Bytes& b, const CfbLayout& l) {
         for (size_t e = 0; e < 4; ++e)
           if (b[l.dir_offset + 128 * e + 66] == 2)
             put32_at(b, l.dir_offset + 128 * e + 120, 0xFFFFFFFF);
       },
       true},
      {"stream starts at 2^32-1",
       [](Bytes& b, const CfbLayout& l) {
         for (size_t e = 0; e < 4; ++e)
           if (b[l.dir_offset + 128 * e + 66] == 2)
             put32_at(b, l.dir_offset + 128 * e + 116, 0xFFFFFFFF);
       },
       true},
  };
  for (uint16_t shift = 7; shift <= 20; ++shift) {
    std::string name = "sector shift " + std::to_string(shift);
    cases.push_back({name, [shift](Bytes& b, const CfbLayout&) { put16_at(b, 30, shift); },
                     // 9 is the file's own; 12 makes the tables mean something
                     // else, which may or may not hold together.
                     shift != 12});
  }

  for (const CfbCase& c : cases) {
    Bytes b = intact;
    c.damage(b, layout_of(intact));
    std::string csv = convert(b, Mode::Csv);
    if (c.same_output) {
      EXPECT_EQ(csv, expected) << c.name;
    }
    std::string path = testsupport::write_temp_file("broken.xls", b);
    ProgramResult r = run_limited(args_for(Mode::Csv, path));
    expect_within_limits(r, c.name);
    EXPECT_EQ(r.out, csv) << c.name;
    expect_no_message_or_a_reason(r.err, path, c.name);
  }
}

TEST(HostileInputCompoundFile, MiniStreamWithBrokenTables) {
  // A stream small enough for the mini-stream; once the tables are not
  // believed, the bytes at 512 are not the stream, so only safety counts.
  const Bytes stream = xlsw::workbook_stream({"Only"}, {},
                                             {xlsw::worksheet(2, 2, {xlsw::number(1, 1, 0, 42)})});
  const Bytes intact = xlsw::compound_file(stream);
  ASSERT_EQ(convert(intact, Mode::Csv), "\"\",\"\"\n\"\",\"42\"\n");
  std::span<const uint8_t> s(intact);
  const uint32_t minifat_start = sheetdump::le32u_at(s, 60);
  const CfbLayout l = layout_of(intact);

  std::vector<std::pair<const char*, std::function<void(Bytes&)>>> cases{
      {"mini FAT claims 2^32-1 sectors", [](Bytes& b) { put32_at(b, 64, 0xFFFFFFFF); }},
      {"mini FAT start out of range", [](Bytes& b) { put32_at(b, 60, 0x7FFFFFFF); }},
      {"mini FAT chain loops",
       [&](Bytes& b) {
         put32_at(b, 64, 2);
         put32_at(b, l.fat_offset + 4 * minifat_start, minifat_start);
       }},
      {"mini stream chain loops",
       [&](Bytes& b) {
         size_t mf = (size_t(minifat_start) + 1) * 512;
         put32_at(b, mf, 0);
       }},
      {"root entry claims 2^32-1 bytes",
       [&](Bytes& b) { put32_at(b, l.dir_offset + 120, 0xFFFFFFFF); }},
      {"mini sector shift 31", [](Bytes& b) { put16_at(b, 32, 31); }},
      {"mini sector shift 0", [](Bytes& b) { put16_at(b, 32, 0); }},
      {"cutoff 0 sends the stream to regular sectors", [](Bytes& b) { put32_at(b, 56, 0); }},
  };
  for (auto& [name, damage] : cases) {
    Bytes b = intact;
    damage(b);
    std::string csv = convert(b, Mode::Csv);
    std::string path = testsupport::write_temp_file("broken.xls", b);
    ProgramResult r = run_limited(args_for(Mode::Csv, path));
    expect_within_limits(r, name);
    EXPECT_EQ(r.out, csv) << name;
  }
}

// ---------------------------------------------------------------------------
// Records that claim far more than they hold, and files that are not files

struct ClaimCase {
  const char* name;
  std::function<Bytes()> file;  // none: the path is a directory
  Mode mode;
  std::function<void(const ProgramResult&, const std::string& path)> check;
  bool huge_output = false;  // tens of megabytes: a suite of its own
};

std::string repeat(const std::string& s, size_t n) {
  std::string out;
  out.reserve(s.size() * n);
  for (size_t i = 0; i < n; ++i) out += s;
  return out;
}

std::string empty_csv_line(size_t cols) {
  std::string line = "\"\"";
  for (size_t c = 1; c < cols; ++c) line += ",\"\"";
  return line + "\n";
}

Bytes raw_mulrk_12_bytes() {
  Bytes d;
  xlsw::put16(d, 0);  // row
  xlsw::put16(d, 0);  // first column
  xlsw::put16(d, 0);  // XF of the one entry present
  xlsw::put32(d, xlsw::rk_int(7));
  xlsw::put16(d, 65535);  // last column
  return xlsw::record(0x00BD, d);
}

std::vector<ClaimCase> claim_cases() {
  std::vector<ClaimCase> cases;
  cases.push_back({"a 0-byte file", [] { return Bytes{}; }, Mode::Csv,
                   [](const ProgramResult& r, const std::string& path) {
                     EXPECT_EQ(r.out, "");
                     EXPECT_EQ(r.err, "sheetdump: " + path + ": not an .xls workbook\n");
                   }});
  cases.push_back(
      {"a directory", nullptr, Mode::Csv, [](const ProgramResult& r, const std::string& path) {
         EXPECT_EQ(r.out, "");
         EXPECT_EQ(r.err, "Could not open file for parsing: " + path + "\n");
       }});
  cases.push_back({"an SST claiming 2^31-1 strings in 20 bytes",
                   [] {
                     Bytes sst = xlsw::sst({xlsw::s8("abcdefghi")}, 8224, 0x7FFFFFFF);
                     EXPECT_EQ(sst.size(), 4u + 20u);
                     return xlsw::with_filler(xlsw::workbook_stream(
                         {"S"}, {sst},
                         {xlsw::worksheet(
                             1, 4,
                             {xlsw::labelsst(0, 0, 0, 0), xlsw::labelsst(0, 1, 0, 1),
                              xlsw::labelsst(0, 2, 0, 0x7FFFFFFE), xlsw::labelsst(0, 3, 0, -1)})}));
                   },
                   Mode::Csv,
                   [](const ProgramResult& r, const std::string&) {
                     EXPECT_EQ(r.out, "\"abcdefghi\",\"\",\"\",\"\"\n");
                     EXPECT_EQ(r.err, "");
                   }});
  cases.push_back({"a DIMENSIONS of 2^31-1 rows x 65535 columns without cells",
                   [] {
                     return xlsw::with_filler(xlsw::workbook_stream(
                         {"Huge"}, {}, {xlsw::worksheet(0x7FFFFFFF, 65535, {})}));
                   },
                   Mode::Csv,
                   [](const ProgramResult& r, const std::string&) {
                     // Cut to 65,536 rows of 256 empty fields.
                     EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 65536);
                     EXPECT_TRUE(r.out == repeat(empty_csv_line(256), 65536))
                         << "first line: " << r.out.substr(0, r.out.find('\n'));
                     EXPECT_EQ(r.err, "");
                   },
                   true});
  cases.push_back({"the same DIMENSIONS as TAB text",
                   [] {
                     return xlsw::with_filler(xlsw::workbook_stream(
                         {"Huge"}, {}, {xlsw::worksheet(0x7FFFFFFF, 65535, {})}));
                   },
                   Mode::Tab,
                   [](const ProgramResult& r, const std::string&) {
                     EXPECT_TRUE(r.out == repeat(std::string(255, '\t') + "\n", 65536));
                   },
                   true});
  cases.push_back({"a MULRK spanning columns 0..65535 in 12 bytes",
                   [] {
                     return xlsw::with_filler(xlsw::workbook_stream(
                         {"M"}, {}, {xlsw::worksheet(2, 256, {raw_mulrk_12_bytes()})}));
                   },
                   Mode::Csv,
                   [](const ProgramResult& r, const std::string&) {
                     // One entry fits before the last-column field; the
                     // other 255 columns of the span hold nothing.
                     std::string empty = empty_csv_line(256);
                     EXPECT_EQ(r.out, "\"7\"" + empty.substr(2) + empty);
                   }});
  cases.push_back(
      {"100,000 BOUNDSHEET records",
       [] {
         std::vector<std::string> names;
         for (int i = 0; i < 100000; ++i) names.push_back("S" + std::to_string(i));
         return xlsw::compound_file(
             xlsw::workbook_stream(names, {},
                                   {xlsw::worksheet(2, 1, {xlsw::number(1, 0, 0, 5)}),
                                    xlsw::worksheet(2, 1, {xlsw::number(1, 0, 0, 6)})}));
       },
       Mode::Sql,
       [](const ProgramResult& r, const std::string&) {
         EXPECT_EQ(r.out, "INSERT INTO S0 () values ('5');\nINSERT INTO S1 () values ('6');\n");
       }});
  cases.push_back(
      {"10,000 XF records",
       [] {
         std::vector<Bytes> globals;
         for (int i = 0; i < 9999; ++i) globals.push_back(xlsw::xf(0));
         globals.push_back(xlsw::xf(14));  // XF 9999: m/d/yy
         return xlsw::with_filler(xlsw::workbook_stream(
             {"X"}, globals,
             {xlsw::worksheet(1, 3,
                              {xlsw::number(0, 0, 9999, 40000), xlsw::number(0, 1, 10000, 40000),
                               xlsw::number(0, 2, 9998, 40000.5)})}));
       },
       Mode::Csv,
       [](const ProgramResult& r, const std::string&) {
         // The last XF record gives the date format; index 10,000 lies
         // beyond the records and falls back to the general rule.
         EXPECT_EQ(r.out, "\"07/06/09\",\"40000\",\"40000.5\"\n");
       }});
  return cases;
}

void check_claims(bool huge_output) {
  for (const ClaimCase& c : claim_cases()) {
    if (c.huge_output != huge_output) continue;
    std::string path;
    if (c.file) {
      path = testsupport::write_temp_file("claim.xls", c.file());
    } else {
      path = testsupport::write_temp_file("dir/placeholder", {});
      path = path.substr(0, path.rfind('/'));
    }
    ProgramResult r = run_limited(args_for(c.mode, path));
    SCOPED_TRACE(c.name);
    expect_within_limits(r, c.name);
    c.check(r, path);
    // The library prints what the binary does (huge outputs are checked
    // by their shape above only).
    if (c.file && r.out.size() < (size_t(1) << 20)) {
      EXPECT_EQ(r.out, convert(c.file(), c.mode)) << "in-process";
    }
  }
}

TEST(HostileInputClaims, RecordsClaimingMoreThanTheyHold) { check_claims(false); }

TEST(HostileInputHugeGrids, DimensionsClaimingTheLargestGrid) { check_claims(true); }

// ---------------------------------------------------------------------------
// Inputs the fuzzer found (tests/fuzz/regressions): each one through every
// writer in every mode, in-process and through the binary.

// Findings the product does not handle yet, by file name.
const std::map<std::string, std::string>& known_bugs() {
  static const std::map<std::string, std::string> bugs{};
  return bugs;
}

TEST(HostileInputFuzzerFindings, EveryWriterInProcessAndThroughTheBinary) {
  std::string dir = std::string(SHEETDUMP_TEST_DIR) + "/fuzz/regressions";
  std::vector<std::string> names;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d)) {
      std::string n = e->d_name;
      if (n != "." && n != ".." && n != "README.md") names.push_back(n);
    }
    ::closedir(d);
  }
  std::sort(names.begin(), names.end());
  std::vector<std::string> skipped;
  for (const std::string& n : names) {
    if (auto it = known_bugs().find(n); it != known_bugs().end()) {
      skipped.push_back(n + ": " + it->second);
      continue;
    }
    Bytes b = read_bytes_of(dir + "/" + n);
    for (Mode m : {Mode::Csv, Mode::Tab, Mode::Sql, Mode::SqlPostgresIso}) {
      std::string expected = convert(b, m);
      ProgramResult r = run_limited(args_for(m, dir + "/" + n));
      expect_within_limits(r, n);
      EXPECT_EQ(r.out, expected) << n;
    }
  }
  if (!skipped.empty()) {
    std::string all;
    for (auto& s : skipped) all += "known bug: " + s + "\n";
    GTEST_SKIP() << all;
  }
}

}  // namespace
