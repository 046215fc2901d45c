#include "biff/shared_strings.hpp"

#include <algorithm>
#include <limits>
#include <vector>

#include "base/le.hpp"
#include "biff/unicode_string.hpp"

namespace sheetdump {

SharedStrings read_sst(std::span<const std::span<const uint8_t>> records) {
  SharedStrings out;
  if (records.empty()) return out;
  int32_t declared = le32_at(records[0], 4);
  if (declared <= 0 || records[0].size() < 8) return out;

  // Every string takes at least 3 bytes: reserve no more than the data holds.
  size_t total = 0;
  for (auto r : records) total += r.size();
  out.ends.reserve(std::min<size_t>(size_t(declared), total / 3));

  std::vector<std::span<const uint8_t>> pieces(records.begin(), records.end());
  pieces[0] = records[0].subspan(8);
  RecordPieces in(pieces);
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

}  // namespace sheetdump
