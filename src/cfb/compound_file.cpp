// Reads just enough of a compound file to locate one stream, and treats
// every structure on the way as untrusted: sector shifts other than 9 or 12
// (mini sectors other than 6), a sector serving twice as a FAT or DIFAT
// sector, table sectors cut short by the end of the file, chains that loop,
// leave the file or stop without an end mark, and a first directory entry
// that is not the root all make the file inconsistent.
#include "cfb/compound_file.hpp"

#include <algorithm>
#include <array>
#include <cstring>

#include "base/byte_cursor.hpp"
#include "base/le.hpp"

namespace sheetdump {

namespace {

constexpr uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kNoEntry = 0xFFFFFFFF;
constexpr size_t kHeaderSize = 512;
constexpr size_t kHeaderDifatEntries = 109;
constexpr size_t kDirEntrySize = 128;
constexpr size_t kMaxNameBytes = 64;  // 31 UTF-16 characters and the terminating 0
constexpr uint16_t kMiniSectorShift = 6;

// Header fields, by byte offset.
constexpr size_t kSectorShiftAt = 30;
constexpr size_t kMiniSectorShiftAt = 32;
constexpr size_t kDirectorySectorsAt = 40;
constexpr size_t kFatSectorsAt = 44;
constexpr size_t kFirstDirectorySectorAt = 48;
constexpr size_t kMiniStreamCutoffAt = 56;
constexpr size_t kFirstMiniFatSectorAt = 60;
constexpr size_t kMiniFatSectorsAt = 64;
constexpr size_t kFirstDifatSectorAt = 68;
constexpr size_t kDifatSectorsAt = 72;
constexpr size_t kDifatAt = 76;

// Directory entry fields, by byte offset inside the 128-byte entry.
constexpr size_t kNameAt = 0;
constexpr size_t kNameLengthAt = 64;
constexpr size_t kTypeAt = 66;
constexpr size_t kColourAt = 67;
constexpr size_t kLeftSiblingAt = 68;
constexpr size_t kRightSiblingAt = 72;
constexpr size_t kChildAt = 76;
constexpr size_t kStartSectorAt = 116;
constexpr size_t kSizeAt = 120;  // 64-bit with 4096-byte sectors, else the low 32 bits

enum class EntryType : uint8_t { kEmpty = 0, kStorage = 1, kStream = 2, kRoot = 5 };

struct Header {
  uint16_t sector_shift = 0;
  uint16_t mini_sector_shift = 0;
  uint32_t directory_sectors = 0;  // 0 with 512-byte sectors; the chain decides
  uint32_t fat_sectors = 0;
  uint32_t first_directory_sector = 0;
  uint32_t mini_stream_cutoff = 0;
  uint32_t first_mini_fat_sector = 0;
  uint32_t mini_fat_sectors = 0;
  uint32_t first_difat_sector = 0;
  uint32_t difat_sectors = 0;  // the DIFAT chain is followed while FAT sectors are missing
  std::array<uint32_t, kHeaderDifatEntries> difat{};
};

// The header of a file that starts with the signature and has a whole
// header; nothing else is checked here.
std::optional<Header> parse_header(std::span<const uint8_t> file) {
  if (file.size() < kHeaderSize || std::memcmp(file.data(), kSignature, 8) != 0)
    return std::nullopt;
  Header h;
  h.sector_shift = uint16_t(le16_at(file, kSectorShiftAt));
  h.mini_sector_shift = uint16_t(le16_at(file, kMiniSectorShiftAt));
  h.directory_sectors = le32u_at(file, kDirectorySectorsAt);
  h.fat_sectors = le32u_at(file, kFatSectorsAt);
  h.first_directory_sector = le32u_at(file, kFirstDirectorySectorAt);
  h.mini_stream_cutoff = le32u_at(file, kMiniStreamCutoffAt);
  h.first_mini_fat_sector = le32u_at(file, kFirstMiniFatSectorAt);
  h.mini_fat_sectors = le32u_at(file, kMiniFatSectorsAt);
  h.first_difat_sector = le32u_at(file, kFirstDifatSectorAt);
  h.difat_sectors = le32u_at(file, kDifatSectorsAt);
  ByteCursor c(file, kDifatAt);
  for (uint32_t& id : h.difat) id = c.u32();
  return h;
}

struct DirEntry {
  std::span<const uint8_t> name;  // UTF-16LE without the terminating 0; empty when malformed
  EntryType type = EntryType::kEmpty;
  uint8_t colour = 0;  // red-black balance only: not needed to walk the tree
  uint32_t left = kNoEntry;
  uint32_t right = kNoEntry;
  uint32_t child = kNoEntry;
  uint32_t start = kEndOfChain;
  uint64_t size = 0;
};

DirEntry parse_entry(std::span<const uint8_t> e, bool size_is_64_bit) {
  DirEntry d;
  size_t name_bytes = size_t(le16_at(e, kNameLengthAt));
  if (name_bytes >= 2 && name_bytes <= kMaxNameBytes) d.name = e.subspan(kNameAt, name_bytes - 2);
  d.type = EntryType(byte_at(e, kTypeAt));
  d.colour = byte_at(e, kColourAt);
  d.left = le32u_at(e, kLeftSiblingAt);
  d.right = le32u_at(e, kRightSiblingAt);
  d.child = le32u_at(e, kChildAt);
  d.start = le32u_at(e, kStartSectorAt);
  d.size = le32u_at(e, kSizeAt);
  if (size_is_64_bit) d.size |= uint64_t(le32u_at(e, kSizeAt + 4)) << 32;
  return d;
}

// Walks a chain of `next` links from `start`, handing each sector to
// `visit` (which returns false to give up). With `count` set, exactly that
// many sectors are taken; without it, the chain runs to its end mark. A
// link out of range, a sector met twice or a chain that ends too early
// gives false.
template <class Links, class Visit>
bool walk_chain(const Links& next, uint32_t limit, uint32_t start, std::optional<uint64_t> count,
                Visit&& visit) {
  std::vector<bool> seen(limit, false);
  uint64_t taken = 0;
  uint32_t s = start;
  while (!count || taken < *count) {
    if (s == kEndOfChain && !count) break;
    if (s >= limit || s >= next.size() || seen[s]) return false;
    seen[s] = true;
    if (!visit(s)) return false;
    ++taken;
    s = next[s];
  }
  return true;
}

// The sectors of a chain (see walk_chain), for the short ones: the
// directory's, the mini FAT's and the mini-stream's.
template <class Links>
std::optional<std::vector<uint32_t>> follow_chain(const Links& next, uint32_t limit, uint32_t start,
                                                  std::optional<uint64_t> count) {
  std::vector<uint32_t> chain;
  if (count) chain.reserve(size_t(std::min<uint64_t>(*count, limit)));
  if (!walk_chain(next, limit, start, count, [&chain](uint32_t s) {
        chain.push_back(s);
        return true;
      }))
    return std::nullopt;
  return chain;
}

// The FAT read where it lies in the file rather than copied out: the link
// of sector s is entry s % per_sector of the FAT's (s / per_sector)-th
// sector. Every FAT sector is checked to lie inside the file when the
// file is opened.
struct FatLinks {
  std::span<const uint8_t> file;
  std::vector<size_t> sector_at;  // the offset of each FAT sector, in order
  size_t per_sector = 0;
  size_t count = 0;  // links of sectors that begin inside the file

  size_t size() const { return count; }
  uint32_t operator[](uint32_t s) const {
    return le32u_at(file, sector_at[s / per_sector] + (s % per_sector) * 4);
  }
};

bool equals_ignoring_case(std::span<const uint8_t> utf16_name, std::string_view ascii) {
  if (utf16_name.size() != ascii.size() * 2) return false;
  auto upper = [](int32_t c) { return c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c; };
  for (size_t i = 0; i < ascii.size(); ++i) {
    int32_t want = uint8_t(ascii[i]);
    if (want >= 0x80) return false;
    if (upper(le16(utf16_name[2 * i], utf16_name[2 * i + 1])) != upper(want)) return false;
  }
  return true;
}

// The parts of a compound file that locating one stream needs, all checked
// for consistency when the file is opened. Every sector number that comes
// from the file is checked against `sectors` before it is used.
struct CompoundFile {
  std::span<const uint8_t> file;
  Header header;
  size_t sector_size = 0;
  uint32_t sectors = 0;  // sectors that begin inside the file
  FatLinks fat;
  std::vector<uint32_t> directory;  // the directory's sectors, in order
  DirEntry root;

  uint64_t sector_offset(uint32_t s) const { return (uint64_t(s) + 1) * sector_size; }
  // A table sector (FAT, DIFAT, directory, mini FAT): it must lie wholly
  // inside the file.
  std::optional<std::span<const uint8_t>> table_sector(uint32_t s) const {
    if (s >= sectors || sector_offset(s) + sector_size > file.size()) return std::nullopt;
    return file.subspan(size_t(sector_offset(s)), sector_size);
  }
  size_t entries() const { return directory.size() * (sector_size / kDirEntrySize); }
  DirEntry entry(size_t i) const {
    size_t per = sector_size / kDirEntrySize;
    auto sec = file.subspan(size_t(sector_offset(directory[i / per])), sector_size);
    return parse_entry(sec.subspan((i % per) * kDirEntrySize, kDirEntrySize),
                       header.sector_shift == 12);
  }
};

// Reads a table sector's links into `out`, at most `limit` of them in all.
void append_links(std::span<const uint8_t> sector, size_t limit, std::vector<uint32_t>& out) {
  ByteCursor c(sector);
  while (out.size() < limit && c.left() >= 4) out.push_back(c.u32());
}

std::optional<CompoundFile> open_compound_file(std::span<const uint8_t> file) {
  auto header = parse_header(file);
  if (!header) return std::nullopt;
  CompoundFile cf;
  cf.file = file;
  cf.header = *header;
  const Header& h = cf.header;
  if (h.sector_shift != 9 && h.sector_shift != 12) return std::nullopt;
  if (h.mini_sector_shift != kMiniSectorShift) return std::nullopt;
  cf.sector_size = size_t(1) << h.sector_shift;
  if (file.size() <= cf.sector_size) return std::nullopt;
  uint64_t sectors = (file.size() - cf.sector_size + cf.sector_size - 1) / cf.sector_size;
  cf.sectors = uint32_t(std::min<uint64_t>(sectors, kEndOfChain - 1));

  // The FAT's own sectors: the first 109 listed in the header, the rest in
  // the DIFAT chain, each of whose sectors ends with the link to the next.
  // No sector may serve twice among them.
  if (h.fat_sectors > cf.sectors) return std::nullopt;
  std::vector<uint32_t> fat_ids;
  fat_ids.reserve(h.fat_sectors);
  for (size_t i = 0; i < kHeaderDifatEntries && fat_ids.size() < h.fat_sectors; ++i)
    fat_ids.push_back(h.difat[i]);
  const size_t per_sector = cf.sector_size / 4;
  std::vector<bool> used(cf.sectors, false);
  uint32_t difat = h.first_difat_sector;
  while (fat_ids.size() < h.fat_sectors) {
    if (difat >= cf.sectors || used[difat]) return std::nullopt;
    used[difat] = true;
    auto sec = cf.table_sector(difat);
    if (!sec) return std::nullopt;
    append_links(sec->first((per_sector - 1) * 4), h.fat_sectors, fat_ids);
    difat = le32u_at(*sec, (per_sector - 1) * 4);
  }

  // Only links of sectors that exist in the file can ever be followed.
  cf.fat.file = file;
  cf.fat.per_sector = per_sector;
  cf.fat.count = std::min<uint64_t>(uint64_t(h.fat_sectors) * per_sector, cf.sectors);
  cf.fat.sector_at.reserve(fat_ids.size());
  for (uint32_t id : fat_ids) {
    if (id >= cf.sectors || used[id]) return std::nullopt;
    used[id] = true;
    if (!cf.table_sector(id)) return std::nullopt;
    cf.fat.sector_at.push_back(size_t(cf.sector_offset(id)));
  }

  // The directory runs to its chain's end mark; its first entry is the root.
  auto dir = follow_chain(cf.fat, cf.sectors, h.first_directory_sector, std::nullopt);
  if (!dir || dir->empty()) return std::nullopt;
  for (uint32_t s : *dir)
    if (!cf.table_sector(s)) return std::nullopt;
  cf.directory = std::move(*dir);
  cf.root = cf.entry(0);
  if (cf.root.type != EntryType::kRoot) return std::nullopt;
  return cf;
}

// The stream entry called `name` among the root's children: the entries
// reached from the root's child link through left and right siblings. Each
// entry is visited once, so loops end and the walk is bounded by the number
// of entries; links out of range and empty entries end their branch. When
// several children share the name, the one first in the directory is taken.
std::optional<DirEntry> find_root_child(const CompoundFile& cf, std::string_view name) {
  if (name.empty()) return std::nullopt;
  const size_t n = cf.entries();
  std::vector<bool> visited(n, false);
  visited[0] = true;  // the root is nobody's sibling
  std::vector<uint32_t> pending = {cf.root.child};
  std::optional<size_t> found;
  while (!pending.empty()) {
    uint32_t i = pending.back();
    pending.pop_back();
    if (i >= n || visited[i]) continue;
    visited[i] = true;
    DirEntry e = cf.entry(i);
    if (e.type != EntryType::kStream && e.type != EntryType::kStorage) continue;
    if (e.type == EntryType::kStream && equals_ignoring_case(e.name, name) &&
        (!found || i < *found))
      found = i;
    pending.push_back(e.right);
    pending.push_back(e.left);
  }
  if (!found) return std::nullopt;
  return cf.entry(*found);
}

// A stream's extents, built from its pieces in order: consecutive pieces
// merge, and the list is cut at the stream's size.
class ExtentList {
 public:
  ExtentList(uint64_t size, uint64_t file_size) : left_(size), file_size_(file_size) {}
  // Adds the piece of at most `piece` bytes at `offset`; false when it
  // would reach beyond the end of the file.
  bool add(uint64_t offset, uint64_t piece) {
    if (left_ == 0) return true;
    uint64_t len = std::min(piece, left_);
    if (offset + len > file_size_) return false;
    if (!out_.empty() && out_.back().offset + out_.back().length == offset)
      out_.back().length += len;
    else
      out_.push_back({offset, len});
    left_ -= len;
    return true;
  }
  // The extents, when the pieces held the whole size.
  std::optional<std::vector<Extent>> done() {
    if (left_ != 0) return std::nullopt;
    return std::move(out_);
  }

 private:
  std::vector<Extent> out_;
  uint64_t left_;
  uint64_t file_size_;
};

std::optional<std::vector<Extent>> regular_extents(const CompoundFile& cf, const DirEntry& e) {
  uint64_t count = (e.size + cf.sector_size - 1) / cf.sector_size;
  ExtentList extents(e.size, cf.file.size());
  if (!walk_chain(cf.fat, cf.sectors, e.start, count,
                  [&](uint32_t s) { return extents.add(cf.sector_offset(s), cf.sector_size); }))
    return std::nullopt;
  return extents.done();
}

// Small streams live in the mini-stream: the root entry's chain, cut into
// mini sectors whose links are in the mini FAT. The mini FAT's chain runs
// to its end mark; the header's count of its sectors only has to be
// possible (zero means there is no mini FAT).
std::optional<std::vector<Extent>> mini_extents(const CompoundFile& cf, const DirEntry& e) {
  const uint64_t mini_size = uint64_t(1) << kMiniSectorShift;
  const DirEntry& root = cf.root;
  if (root.size > cf.file.size()) return std::nullopt;
  auto root_chain = follow_chain(cf.fat, cf.sectors, root.start,
                                 (root.size + cf.sector_size - 1) / cf.sector_size);
  if (!root_chain) return std::nullopt;

  const Header& h = cf.header;
  if (h.mini_fat_sectors == 0 || h.mini_fat_sectors > cf.sectors) return std::nullopt;
  auto minifat_chain = follow_chain(cf.fat, cf.sectors, h.first_mini_fat_sector, std::nullopt);
  if (!minifat_chain) return std::nullopt;
  uint32_t mini_count = uint32_t(root.size / mini_size);
  std::vector<uint32_t> minifat;
  minifat.reserve(std::min<uint64_t>(mini_count, minifat_chain->size() * cf.sector_size / 4));
  for (uint32_t s : *minifat_chain) {
    auto sec = cf.table_sector(s);
    if (!sec) return std::nullopt;
    append_links(*sec, mini_count, minifat);
  }

  uint64_t count = (e.size + mini_size - 1) / mini_size;
  auto chain = follow_chain(minifat, mini_count, e.start, count);
  if (!chain) return std::nullopt;
  ExtentList extents(e.size, cf.file.size());
  for (uint32_t m : *chain) {
    uint64_t in_stream = uint64_t(m) * mini_size;
    uint64_t index = in_stream / cf.sector_size;
    if (index >= root_chain->size()) return std::nullopt;
    if (!extents.add(cf.sector_offset((*root_chain)[index]) + in_stream % cf.sector_size,
                     mini_size))
      return std::nullopt;
  }
  return extents.done();
}

}  // namespace

bool is_compound_file(std::span<const uint8_t> file) {
  return file.size() >= sizeof kSignature &&
         std::memcmp(file.data(), kSignature, sizeof kSignature) == 0;
}

std::optional<std::vector<Extent>> find_stream(std::span<const uint8_t> file,
                                               std::string_view name) {
  auto cf = open_compound_file(file);
  if (!cf) return std::nullopt;
  auto entry = find_root_child(*cf, name);
  if (!entry) return std::nullopt;
  if (entry->size == 0) return std::vector<Extent>{};
  if (entry->size > file.size()) return std::nullopt;
  if (entry->size >= cf->header.mini_stream_cutoff) return regular_extents(*cf, *entry);
  return mini_extents(*cf, *entry);
}

StreamLayout lay_out_stream(std::span<uint8_t> file, std::span<const Extent> extents,
                            size_t prefix) {
  StreamLayout out;
  out.end = file.size();
  if (prefix > file.size()) return out;
  uint64_t total = 0;
  for (const Extent& e : extents) {
    if (e.offset > file.size() || e.length > file.size() - e.offset) return out;
    total += e.length;
  }

  // Pieces in file order (the usual case, also when other sectors are
  // interleaved) are joined in place: the largest stays where it is, the
  // pieces before it move up to end right at its start, the pieces after
  // it move down to follow it, and the prefix goes in front. Only the
  // smaller pieces are moved, and no second buffer is needed.
  const auto& ext = extents;
  bool in_order = !ext.empty() && ext[0].offset >= prefix;
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
    out.begin = to - prefix;
    std::memmove(file.data() + out.begin, file.data(), prefix);
    to = size_t(ext[anchor].offset + ext[anchor].length);
    for (size_t i = anchor + 1; i < ext.size(); ++i) {
      std::memmove(file.data() + to, file.data() + ext[i].offset, size_t(ext[i].length));
      to += size_t(ext[i].length);
    }
    out.end = to;
    return out;
  }

  out.copied = true;
  out.copy.reserve(prefix + size_t(total));
  out.copy.insert(out.copy.end(), file.begin(), file.begin() + ptrdiff_t(prefix));
  for (const Extent& e : extents)
    out.copy.insert(out.copy.end(), file.begin() + ptrdiff_t(e.offset),
                    file.begin() + ptrdiff_t(e.offset + e.length));
  return out;
}

}  // namespace sheetdump
