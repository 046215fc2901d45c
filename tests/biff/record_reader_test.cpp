// The record reader behaves like a buffered byte stream at the end of its
// data: reads past the end yield 0xFF, set the end indicator and still move
// the position; seeks clear the indicator. The loader's passes end where
// these rules say, so they are pinned down here case by case.
#include "biff/record_reader.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "base/le.hpp"

namespace sheetdump {
namespace {

using Bytes = std::vector<uint8_t>;

RecordReader reader_at(const Bytes& data, int64_t pos) {
  RecordReader r{data};
  seek_to(r, pos);
  return r;
}

struct WordCase {
  const char* name;
  Bytes data;
  int64_t start;
  bool eof_before;  // the end indicator is already set
  int32_t word;
  int64_t pos_after;
  bool eof_after;
};

std::ostream& operator<<(std::ostream& os, const WordCase& c) { return os << c.name; }

class ReadWord : public ::testing::TestWithParam<WordCase> {};

TEST_P(ReadWord, YieldsTheWordAndMovesThePosition) {
  const WordCase& c = GetParam();
  RecordReader r = reader_at(c.data, c.start);
  r.eof = c.eof_before;
  EXPECT_EQ(read_word(r), c.word);
  EXPECT_EQ(r.pos, c.pos_after);
  EXPECT_EQ(r.eof, c.eof_after);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadWord,
    ::testing::Values(WordCase{"two_bytes", {0x34, 0x12, 0x00}, 0, false, 0x1234, 2, false},
                      WordCase{"last_two_bytes", {0x00, 0x09, 0x08}, 1, false, 0x0809, 3, false},
                      WordCase{"high_bit_bytes", {0xFF, 0xFF}, 0, false, 0xFFFF, 2, false},
                      WordCase{"one_byte_left", {0x00, 0x41}, 1, false, 0xFF41, 3, true},
                      WordCase{"no_byte_left", {0x00, 0x41}, 2, false, 0x00FF, 3, true},
                      WordCase{"past_the_end", {0x00, 0x41}, 10, false, 0x00FF, 11, true},
                      WordCase{"empty_data", {}, 0, false, 0x00FF, 1, true},
                      WordCase{"indicator_already_set", {0x01, 0x02}, 0, true, 0, 0, true},
                      WordCase{"indicator_set_at_end", {0x01, 0x02}, 2, true, 0, 2, true}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(RecordReaderEnd, AtEndByPositionOrIndicator) {
  Bytes d{1, 2, 3};
  RecordReader r{d};
  EXPECT_FALSE(at_end(r));
  seek_to(r, 2);
  EXPECT_FALSE(at_end(r));
  seek_to(r, 3);
  EXPECT_TRUE(at_end(r));
  seek_to(r, 100);
  EXPECT_TRUE(at_end(r));
  // The indicator alone is enough, even with bytes left.
  seek_to(r, 0);
  r.eof = true;
  EXPECT_TRUE(at_end(r));
}

TEST(RecordReaderEnd, SeeksAndSkipsClearTheIndicator) {
  Bytes d{1, 2, 3};
  RecordReader r = reader_at(d, 3);
  read_word(r);
  ASSERT_TRUE(r.eof);
  seek_to(r, 1);
  EXPECT_FALSE(r.eof);
  EXPECT_FALSE(at_end(r));
  EXPECT_EQ(read_word(r), 0x0302);

  read_word(r);  // past the end again
  ASSERT_TRUE(r.eof);
  int64_t before = r.pos;
  skip_bytes(r, 5);
  EXPECT_FALSE(r.eof);
  EXPECT_EQ(r.pos, before + 5);
  // A seek beyond the end is allowed; the position is taken as given.
  skip_bytes(r, -before - 5);
  EXPECT_EQ(r.pos, 0);
  EXPECT_EQ(read_word(r), 0x0201);
}

// Every header a record can have at the end of the data.
struct HeaderCase {
  const char* name;
  Bytes data;
  int64_t start;
  int32_t id;
  int32_t size;
  int64_t data_pos;
  int64_t pos_after;
};

std::ostream& operator<<(std::ostream& os, const HeaderCase& c) { return os << c.name; }

class ReadRecordHeader : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(ReadRecordHeader, GivesTheFieldsAndThenNothing) {
  const HeaderCase& c = GetParam();
  RecordReader r = reader_at(c.data, c.start);
  auto rec = read_record(r);
  ASSERT_TRUE(rec.has_value());
  EXPECT_EQ(rec->id, c.id);
  EXPECT_EQ(rec->size, c.size);
  EXPECT_EQ(rec->data_pos, c.data_pos);
  EXPECT_EQ(r.pos, c.pos_after);
  EXPECT_FALSE(rec->data.has_value());  // data is loaded only on request
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadRecordHeader,
    ::testing::Values(
        HeaderCase{"eof_record", {0xAA, 0x0A, 0x00, 0x00, 0x00}, 1, 0x000A, 0, 5, 5},
        HeaderCase{"record_with_data",
                   {0x85, 0x00, 0x12, 0x00, 1,  2,  3,  4,  5,  6,    7,    8,    9,
                    10,   11,   12,   13,   14, 15, 16, 17, 18, 0x0A, 0x00, 0x00, 0x00},
                   0,
                   0x0085,
                   18,
                   4,
                   22},
        HeaderCase{"largest_size", {0xFC, 0x00, 0xFF, 0xFF}, 0, 0x00FC, 65535, 4, 65539},
        HeaderCase{"one_byte_left", {0x00, 0x00, 0x00, 0x00, 0x42}, 4, 0xFF42, 0, 6, 6},
        HeaderCase{"only_the_id_left", {0x09, 0x08}, 0, 0x0809, 0x00FF, 3, 3 + 0xFF},
        HeaderCase{"id_and_low_size_byte", {0x09, 0x08, 0x10}, 0, 0x0809, 0xFF10, 4, 4 + 0xFF10}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(RecordReaderRecords, NoRecordAtOrPastTheEnd) {
  Bytes d{0x0A, 0x00, 0x00, 0x00};
  for (int64_t pos : {4, 5, 1000}) {
    RecordReader r = reader_at(d, pos);
    EXPECT_FALSE(read_record(r).has_value()) << pos;
    EXPECT_FALSE(peek_record(r).has_value()) << pos;
    EXPECT_EQ(r.pos, pos);
  }
  RecordReader empty{std::span<const uint8_t>{}};
  EXPECT_FALSE(read_record(empty).has_value());
}

TEST(RecordReaderRecords, TruncatedHeadersEndTheStream) {
  for (Bytes tail : {Bytes{0x42}, Bytes{0x09, 0x08}, Bytes{0x09, 0x08, 0x10}}) {
    Bytes d{0x0A, 0x00, 0x00, 0x00};
    d.insert(d.end(), tail.begin(), tail.end());
    RecordReader r{d};
    ASSERT_TRUE(read_record(r).has_value());
    ASSERT_TRUE(read_record(r).has_value()) << tail.size();
    EXPECT_FALSE(read_record(r).has_value()) << tail.size();
  }
}

TEST(RecordReaderRecords, DataIsLoadedOnceAndLeavesThePositionBehindTheRecord) {
  Bytes d{0x85, 0x00, 0x03, 0x00, 'a', 'b', 'c', 0x0A, 0x00, 0x00, 0x00};
  RecordReader r{d};
  auto rec = read_record(r);
  ASSERT_TRUE(rec);
  seek_to(r, 9);
  auto data = record_data(r, *rec);
  EXPECT_EQ(Bytes(data.begin(), data.end()), (Bytes{'a', 'b', 'c'}));
  EXPECT_EQ(r.pos, 7);
  // Loaded data comes back without touching the position.
  seek_to(r, 1);
  auto again = record_data(r, *rec);
  EXPECT_EQ(Bytes(again.begin(), again.end()), (Bytes{'a', 'b', 'c'}));
  EXPECT_EQ(r.pos, 1);
}

TEST(RecordReaderRecords, SizeZeroGivesAnEmptyBuffer) {
  Bytes d{0x0A, 0x00, 0x00, 0x00};
  RecordReader r{d};
  auto rec = read_record(r);
  ASSERT_TRUE(rec);
  EXPECT_TRUE(record_data(r, *rec).empty());
  EXPECT_TRUE(rec->data.has_value());
  EXPECT_EQ(r.pos, 4);
  EXPECT_FALSE(r.eof);
}

TEST(RecordReaderRecords, DataPastTheEndReadsAsFF) {
  // Size 6 with 3 data bytes present: 3 bytes are missing.
  Bytes d{0x03, 0x02, 0x06, 0x00, 1, 2, 3};
  RecordReader r{d};
  auto rec = read_record(r);
  ASSERT_TRUE(rec);
  EXPECT_EQ(rec->size, 6);
  EXPECT_EQ(r.pos, 10);
  auto data = record_data(r, *rec);
  EXPECT_EQ(Bytes(data.begin(), data.end()), (Bytes{1, 2, 3, 0xFF, 0xFF, 0xFF}));
  EXPECT_TRUE(r.eof);
  EXPECT_EQ(r.pos, 10);
  EXPECT_FALSE(read_record(r).has_value());
}

TEST(RecordReaderRecords, DataWhollyPastTheEndIsAllFF) {
  Bytes d{0x03, 0x02, 0x04, 0x00};
  RecordReader r{d};
  auto rec = read_record(r);
  ASSERT_TRUE(rec);
  auto data = record_data(r, *rec);
  EXPECT_EQ(Bytes(data.begin(), data.end()), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_TRUE(r.eof);
}

TEST(RecordReaderRecords, PeekLeavesThePositionAndMatchesTheRead) {
  Bytes d{0x0A, 0x00, 0x00, 0x00, 0x3C, 0x00, 0x02, 0x00, 'x', 'y', 0x0A, 0x00, 0x00, 0x00};
  RecordReader r = reader_at(d, 4);
  auto peeked = peek_record(r);
  ASSERT_TRUE(peeked);
  EXPECT_EQ(r.pos, 4);
  auto read = read_record(r);
  ASSERT_TRUE(read);
  EXPECT_EQ(peeked->id, read->id);
  EXPECT_EQ(peeked->size, read->size);
  EXPECT_EQ(peeked->data_pos, read->data_pos);
  EXPECT_EQ(r.pos, 10);

  // Loading a peeked record's data moves the position past that record.
  seek_to(r, 4);
  auto again = peek_record(r);
  ASSERT_TRUE(again);
  auto data = record_data(r, *again);
  EXPECT_EQ(Bytes(data.begin(), data.end()), (Bytes{'x', 'y'}));
  EXPECT_EQ(r.pos, 10);
}

TEST(RecordReaderRecords, PeekOfATruncatedHeaderClearsTheIndicator) {
  Bytes d{0x0A, 0x00, 0x00, 0x00, 0x42};
  RecordReader r = reader_at(d, 4);
  auto rec = peek_record(r);
  ASSERT_TRUE(rec);
  EXPECT_EQ(rec->id, 0xFF42);
  EXPECT_EQ(r.pos, 4);
  EXPECT_FALSE(r.eof);
}

TEST(RecordReaderRecords, EachReadMakesAnIndependentRecord) {
  Bytes d{0x85, 0x00, 0x01, 0x00, 'q'};
  RecordReader r{d};
  auto a = read_record(r);
  seek_to(r, 0);
  auto b = read_record(r);
  ASSERT_TRUE(a && b);
  record_data(r, *a);
  EXPECT_TRUE(a->data.has_value());
  EXPECT_FALSE(b->data.has_value());
}

TEST(RecordReaderRecords, WalksAWholeStream) {
  Bytes d;
  for (int i = 0; i < 5; ++i) {
    d.insert(d.end(), {uint8_t(i), 0x01, uint8_t(i), 0x00});
    d.insert(d.end(), size_t(i), uint8_t(0x50 + i));
  }
  RecordReader r{d};
  int n = 0;
  while (auto rec = read_record(r)) {
    EXPECT_EQ(rec->id, 0x0100 + n);
    auto data = record_data(r, *rec);
    EXPECT_EQ(Bytes(data.begin(), data.end()), Bytes(size_t(n), uint8_t(0x50 + n)));
    ++n;
  }
  EXPECT_EQ(n, 5);
  EXPECT_EQ(r.pos, int64_t(d.size()));
}

TEST(LittleEndian, AssemblesFromBytes) {
  EXPECT_EQ(le16(0x09, 0x08), 0x0809);
  EXPECT_EQ(le16(0xFF, 0xFF), 65535);
  EXPECT_EQ(le32(0x00, 0x00, 0x00, 0x80), INT_MIN);
  EXPECT_EQ(le32(0xFF, 0xFF, 0xFF, 0xFF), -1);
  EXPECT_EQ(le32(0x01, 0x02, 0x03, 0x04), 0x04030201);
  Bytes d{0x01, 0x02, 0x03};
  EXPECT_EQ(le16_at(d, 2), 0x0003);  // the missing byte counts as 0
  EXPECT_EQ(le32_at(d, 3), 0);
}

TEST(RecordListGrowth, DoublesFromSixteen) {
  RecordList list;
  EXPECT_EQ(list.count(), 0u);
  EXPECT_EQ(list.capacity(), 16u);
  std::vector<std::pair<size_t, size_t>> expected = {{16, 16}, {17, 32}, {32, 32},
                                                     {33, 64}, {64, 64}, {65, 128}};
  size_t pushed = 0;
  for (auto [count, capacity] : expected) {
    while (pushed < count) {
      BiffRecord rec;
      rec.id = int32_t(pushed);
      list.push(std::move(rec));
      ++pushed;
    }
    EXPECT_EQ(list.count(), count);
    EXPECT_EQ(list.capacity(), capacity) << "after " << count << " records";
  }
  for (size_t i = 0; i < list.count(); ++i) EXPECT_EQ(list.items[i].id, int32_t(i));
}

}  // namespace
}  // namespace sheetdump
