#include "cfb/compound_file.hpp"

#include <algorithm>
#include <cstring>

#include "base/le.hpp"

namespace sheetdump {

namespace {

constexpr uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr size_t kHeaderSize = 512;
constexpr size_t kHeaderDifatEntries = 109;
constexpr size_t kDirEntrySize = 128;
constexpr uint8_t kTypeStream = 2;
constexpr uint8_t kTypeRoot = 5;

// The parts of a compound file that locating one stream needs. Every
// sector number that comes from the file is checked against `sectors`
// before it is used.
struct CompoundFile {
  std::span<const uint8_t> file;
  size_t sector_size = 0;
  uint32_t sectors = 0;  // sectors that begin inside the file
  std::vector<uint32_t> fat;

  uint64_t sector_offset(uint32_t s) const { return (uint64_t(s) + 1) * sector_size; }
  uint32_t entry(std::span<const uint8_t> sector, size_t i) const {
    return le32u_at(sector, i * 4);
  }
  std::span<const uint8_t> sector(uint32_t s) const {
    uint64_t off = sector_offset(s);
    uint64_t end = std::min<uint64_t>(off + sector_size, file.size());
    return file.subspan(size_t(off), size_t(end - off));
  }
};

// Follows a chain of `next` links from `start`. With `count` set, exactly
// that many sectors are taken; without it, the chain runs to its end mark.
// A link out of range, a sector met twice or a chain that ends too early
// gives nothing.
std::optional<std::vector<uint32_t>> follow_chain(const std::vector<uint32_t>& next,
                                                  uint32_t limit, uint32_t start,
                                                  std::optional<uint64_t> count) {
  std::vector<uint32_t> chain;
  std::vector<bool> seen(limit, false);
  uint32_t s = start;
  while (!count || chain.size() < *count) {
    if (s == kEndOfChain && !count) break;
    if (s >= limit || s >= next.size() || seen[s]) return std::nullopt;
    seen[s] = true;
    chain.push_back(s);
    s = next[s];
  }
  return chain;
}

bool equals_ignoring_case(std::span<const uint8_t> utf16_name, const char* ascii) {
  size_t n = std::strlen(ascii);
  if (utf16_name.size() != n * 2) return false;
  for (size_t i = 0; i < n; ++i) {
    int32_t c = le16(utf16_name[2 * i], utf16_name[2 * i + 1]);
    if (c >= 'a' && c <= 'z') c -= 'a' - 'A';
    int32_t want = ascii[i];
    if (want >= 'a' && want <= 'z') want -= 'a' - 'A';
    if (c != want) return false;
  }
  return true;
}

std::optional<CompoundFile> read_tables(std::span<const uint8_t> file) {
  if (file.size() < kHeaderSize || std::memcmp(file.data(), kSignature, 8) != 0)
    return std::nullopt;
  CompoundFile cf;
  cf.file = file;
  int32_t shift = le16_at(file, 30);
  if (shift != 9 && shift != 12) return std::nullopt;
  cf.sector_size = size_t(1) << shift;
  if (file.size() <= cf.sector_size) return std::nullopt;
  uint64_t sectors = (file.size() - cf.sector_size + cf.sector_size - 1) / cf.sector_size;
  cf.sectors = uint32_t(std::min<uint64_t>(sectors, kEndOfChain - 1));

  // The FAT's own sectors: the first 109 listed in the header, the rest in
  // the DIFAT chain, each of whose sectors ends with the link to the next.
  uint32_t fat_sectors = le32u_at(file, 44);
  if (fat_sectors > cf.sectors) return std::nullopt;
  std::vector<uint32_t> fat_ids;
  fat_ids.reserve(fat_sectors);
  for (size_t i = 0; i < kHeaderDifatEntries && fat_ids.size() < fat_sectors; ++i)
    fat_ids.push_back(le32u_at(file, 76 + 4 * i));
  const size_t per_sector = cf.sector_size / 4;
  uint32_t difat = le32u_at(file, 68);
  std::vector<bool> seen(cf.sectors, false);
  while (fat_ids.size() < fat_sectors) {
    if (difat >= cf.sectors || seen[difat]) return std::nullopt;
    seen[difat] = true;
    auto sec = cf.sector(difat);
    for (size_t i = 0; i + 1 < per_sector && fat_ids.size() < fat_sectors; ++i)
      fat_ids.push_back(cf.entry(sec, i));
    difat = cf.entry(sec, per_sector - 1);
  }

  // Only links of sectors that exist in the file can ever be followed.
  size_t wanted = std::min<uint64_t>(uint64_t(fat_sectors) * per_sector, cf.sectors);
  cf.fat.reserve(wanted);
  for (uint32_t id : fat_ids) {
    if (id >= cf.sectors) return std::nullopt;
    auto sec = cf.sector(id);
    for (size_t i = 0; i < per_sector && cf.fat.size() < wanted; ++i)
      cf.fat.push_back(cf.entry(sec, i));
  }
  return cf;
}

// Merges consecutive pieces and cuts the list at `size` bytes. Gives
// nothing when a piece would reach beyond the end of the file.
std::optional<std::vector<Extent>> to_extents(const std::vector<uint64_t>& offsets,
                                              uint64_t piece, uint64_t size,
                                              uint64_t file_size) {
  std::vector<Extent> out;
  uint64_t left = size;
  for (uint64_t off : offsets) {
    if (left == 0) break;
    uint64_t len = std::min(piece, left);
    if (off + len > file_size) return std::nullopt;
    if (!out.empty() && out.back().offset + out.back().length == off)
      out.back().length += len;
    else
      out.push_back({off, len});
    left -= len;
  }
  if (left != 0) return std::nullopt;
  return out;
}

}  // namespace

std::optional<std::vector<Extent>> find_workbook_stream(std::span<const uint8_t> file) {
  auto tables = read_tables(file);
  if (!tables) return std::nullopt;
  const CompoundFile& cf = *tables;

  auto dir = follow_chain(cf.fat, cf.sectors, le32u_at(file, 48), std::nullopt);
  if (!dir || dir->empty()) return std::nullopt;

  // Directory entries are looked at one by one; the red-black tree that
  // links them adds nothing when one name is wanted.
  std::optional<std::span<const uint8_t>> workbook, book, root;
  for (uint32_t s : *dir) {
    auto sec = cf.sector(s);
    for (size_t off = 0; off + kDirEntrySize <= sec.size(); off += kDirEntrySize) {
      auto e = sec.subspan(off, kDirEntrySize);
      uint8_t type = e[66];
      size_t name_bytes = size_t(le16_at(e, 64));
      if (type == kTypeRoot && !root) root = e;
      if (type != kTypeStream || name_bytes < 2 || name_bytes > 64) continue;
      auto name = e.subspan(0, name_bytes - 2);
      if (!workbook && equals_ignoring_case(name, "Workbook")) workbook = e;
      if (!book && equals_ignoring_case(name, "Book")) book = e;
    }
  }
  auto entry = workbook ? workbook : book;
  if (!entry) return std::nullopt;

  uint32_t start = le32u_at(*entry, 116);
  uint64_t size = le32u_at(*entry, 120);
  if (size == 0) return std::vector<Extent>{};
  if (size > file.size()) return std::nullopt;
  uint32_t cutoff = le32u_at(file, 56);

  if (size >= cutoff) {
    uint64_t count = (size + cf.sector_size - 1) / cf.sector_size;
    auto chain = follow_chain(cf.fat, cf.sectors, start, count);
    if (!chain) return std::nullopt;
    std::vector<uint64_t> offsets;
    offsets.reserve(chain->size());
    for (uint32_t s : *chain) offsets.push_back(cf.sector_offset(s));
    return to_extents(offsets, cf.sector_size, size, file.size());
  }

  // Small streams live in the mini-stream: the root entry's chain, cut into
  // mini sectors whose links are in the mini FAT.
  if (!root) return std::nullopt;
  int32_t mini_shift = le16_at(file, 32);
  if (mini_shift < 2 || mini_shift > 12 || size_t(1) << mini_shift > cf.sector_size)
    return std::nullopt;
  const uint64_t mini_size = uint64_t(1) << mini_shift;
  uint64_t root_size = le32u_at(*root, 120);
  if (root_size > file.size()) return std::nullopt;
  auto root_chain = follow_chain(cf.fat, cf.sectors, le32u_at(*root, 116),
                                 (root_size + cf.sector_size - 1) / cf.sector_size);
  if (!root_chain) return std::nullopt;

  uint32_t minifat_sectors = le32u_at(file, 64);
  if (minifat_sectors > cf.sectors) return std::nullopt;
  auto minifat_chain =
      follow_chain(cf.fat, cf.sectors, le32u_at(file, 60), uint64_t(minifat_sectors));
  if (!minifat_chain) return std::nullopt;
  uint32_t mini_count = uint32_t(root_size / mini_size);
  std::vector<uint32_t> minifat;
  minifat.reserve(std::min<uint64_t>(mini_count, uint64_t(minifat_sectors) * cf.sector_size / 4));
  for (uint32_t s : *minifat_chain) {
    auto sec = cf.sector(s);
    for (size_t i = 0; i < cf.sector_size / 4 && minifat.size() < mini_count; ++i)
      minifat.push_back(cf.entry(sec, i));
  }

  uint64_t count = (size + mini_size - 1) / mini_size;
  auto chain = follow_chain(minifat, mini_count, start, count);
  if (!chain) return std::nullopt;
  std::vector<uint64_t> offsets;
  offsets.reserve(chain->size());
  for (uint32_t m : *chain) {
    uint64_t in_stream = uint64_t(m) * mini_size;
    uint64_t index = in_stream / cf.sector_size;
    if (index >= root_chain->size()) return std::nullopt;
    offsets.push_back(cf.sector_offset((*root_chain)[index]) + in_stream % cf.sector_size);
  }
  return to_extents(offsets, mini_size, size, file.size());
}

StreamLayout lay_out_stream(std::span<uint8_t> file) {
  StreamLayout out;
  out.end = file.size();
  auto extents = find_workbook_stream(file);
  if (!extents) return out;

  uint64_t total = 0;
  for (const Extent& e : *extents) total += e.length;

  // Pieces in file order (the usual case, also when other sectors are
  // interleaved) are joined in place: the largest stays where it is, the
  // pieces before it move up to end right at its start, the pieces after
  // it move down to follow it, and the header's bytes go in front. Only
  // the smaller pieces are moved, and no second buffer is needed.
  const auto& ext = *extents;
  bool in_order = !ext.empty() && ext[0].offset >= kHeaderSize;
  for (size_t i = 1; in_order && i < ext.size(); ++i)
    in_order = ext[i].offset >= ext[i - 1].offset + ext[i - 1].length;
  if (in_order) {
    size_t anchor = 0;
    for (size_t i = 1; i < ext.size(); ++i)
      if (ext[i].length > ext[anchor].length) anchor = i;
    size_t to = size_t(ext[anchor].offset);
    for (size_t i = anchor; i-- > 0;) {
      to -= size_t(ext[i].length);
      std::memmove(file.data() + to, file.data() + ext[i].offset, size_t(ext[i].length));
    }
    out.begin = to - kHeaderSize;
    std::memmove(file.data() + out.begin, file.data(), kHeaderSize);
    to = size_t(ext[anchor].offset + ext[anchor].length);
    for (size_t i = anchor + 1; i < ext.size(); ++i) {
      std::memmove(file.data() + to, file.data() + ext[i].offset, size_t(ext[i].length));
      to += size_t(ext[i].length);
    }
    out.end = to;
    return out;
  }

  out.copied = true;
  out.copy.reserve(kHeaderSize + size_t(total));
  out.copy.insert(out.copy.end(), file.begin(), file.begin() + kHeaderSize);
  for (const Extent& e : *extents)
    out.copy.insert(out.copy.end(), file.begin() + ptrdiff_t(e.offset),
                    file.begin() + ptrdiff_t(e.offset + e.length));
  return out;
}

size_t lay_out_workbook_stream(std::vector<uint8_t>& file) {
  StreamLayout laid = lay_out_stream(file);
  if (laid.copied) {
    file.swap(laid.copy);
    return 0;
  }
  file.resize(laid.end);
  return laid.begin;
}

}  // namespace sheetdump
