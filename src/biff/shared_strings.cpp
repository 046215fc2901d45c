#include "biff/shared_strings.hpp"

#include <algorithm>
#include <limits>
#include <vector>

#include "base/le.hpp"
#include "biff/record_ids.hpp"
#include "biff/unicode_string.hpp"

namespace sheetdump {

namespace {

SharedStrings read_strings(RecordPieces& in, int32_t declared, size_t total) {
  SharedStrings out;
  // Every string takes at least 3 bytes: reserve no more than the data holds.
  out.ends.reserve(std::min<size_t>(size_t(declared), total / 3));
  // The characters take about the bytes they came in (8-bit text grows
  // only where it leaves ASCII).
  out.bytes.reserve(total);
  std::vector<uint16_t> units;
  for (int32_t i = 0; i < declared; ++i) {
    StringRead got = read_unicode_string(in, out.bytes, units);
    if (got == StringRead::None) break;
    if (out.bytes.size() > std::numeric_limits<uint32_t>::max()) break;
    out.ends.push_back(uint32_t(out.bytes.size()));
    if (got == StringRead::Partial) break;
  }
  return out;
}

}  // namespace

SharedStrings read_sst(std::span<const std::span<const uint8_t>> records) {
  if (records.empty()) return {};
  int32_t declared = le32_at(records[0], 4);
  if (declared <= 0 || records[0].size() < 8) return {};
  size_t total = 0;
  for (auto r : records) total += r.size();
  RecordPieces in(records, 8);
  return read_strings(in, declared, total);
}

SharedStrings read_sst(std::span<const uint8_t> first, RecordReader& reader) {
  int32_t declared = le32_at(first, 4);
  if (declared <= 0 || first.size() < 8) {
    skip_continues(reader);
    return {};
  }
  // The size of the data, from the CONTINUE headers alone.
  size_t total = first.size();
  RecordReader scan = reader;
  for (;;) {
    auto next = peek_record(scan);
    if (!next || next->id != record_id::kContinue) break;
    total += size_t(read_record(scan)->size);
  }
  RecordPieces in(first, reader, 8);
  SharedStrings out = read_strings(in, declared, total);
  skip_continues(reader);
  return out;
}

}  // namespace sheetdump
