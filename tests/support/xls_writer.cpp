#include "support/xls_writer.hpp"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <stdexcept>

namespace xlsw {

// ---------------------------------------------------------------------------
// Little-endian appenders and records

void put8(Bytes& b, uint8_t v) { b.push_back(v); }

void put16(Bytes& b, uint16_t v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}

void put16_at(Bytes& b, size_t at, uint16_t v) {
  b.at(at) = uint8_t(v);
  b.at(at + 1) = uint8_t(v >> 8);
}

void put32_at(Bytes& b, size_t at, uint32_t v) {
  for (size_t i = 0; i < 4; ++i) b.at(at + i) = uint8_t(v >> (8 * i));
}

void put32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

void put_double(Bytes& b, double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  for (int i = 0; i < 8; ++i) b.push_back(uint8_t(bits >> (8 * i)));
}

void append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }

Bytes concat(const std::vector<Bytes>& parts) {
  Bytes out;
  size_t total = 0;
  for (const auto& p : parts) total += p.size();
  out.reserve(total);
  for (const auto& p : parts) append(out, p);
  return out;
}

Bytes record(uint16_t id, const Bytes& data) {
  if (data.size() > 0xFFFF) throw std::length_error("record data longer than 65535 bytes");
  Bytes out;
  out.reserve(4 + data.size());
  put16(out, id);
  put16(out, uint16_t(data.size()));
  append(out, data);
  return out;
}

namespace {

constexpr uint16_t kBofId = 0x0809;
constexpr uint16_t kEofId = 0x000A;
constexpr uint16_t kBoundSheetId = 0x0085;
constexpr uint16_t kXfId = 0x00E0;
constexpr uint16_t kFormatId = 0x041E;
constexpr uint16_t kDimensionsId = 0x0200;
constexpr uint16_t kNumberId = 0x0203;
constexpr uint16_t kRkId = 0x027E;
constexpr uint16_t kMulRkId = 0x00BD;
constexpr uint16_t kFormulaId = 0x0006;
constexpr uint16_t kLabelSstId = 0x00FD;
constexpr uint16_t kLabelId = 0x0204;
constexpr uint16_t kSstId = 0x00FC;
constexpr uint16_t kContinueId = 0x003C;

void put_cell_head(Bytes& d, uint16_t row, uint16_t col, uint16_t xf) {
  put16(d, row);
  put16(d, col);
  put16(d, xf);
}

// A BIFF8 string with a 16-bit character count and 8-bit characters.
void put_string16_count(Bytes& d, const std::string& s) {
  put16(d, uint16_t(s.size()));
  put8(d, 0);
  d.insert(d.end(), s.begin(), s.end());
}

// A tiny formula body: ptgInt 1 (the cached result is what counts).
void put_formula_tail(Bytes& d) {
  put16(d, 0);  // flags
  put32(d, 0);  // chn
  put16(d, 3);  // token bytes
  put8(d, 0x1E);
  put16(d, 1);
}

}  // namespace

Bytes bof(uint16_t version, uint16_t type) {
  Bytes d;
  put16(d, version);
  put16(d, type);
  put16(d, 0x0DBB);  // build
  put16(d, 0x07CC);  // year
  if (version != kBiff5) {
    put32(d, 0x000100C1);  // file history
    put32(d, 0x00000406);  // lowest version
  }
  return record(kBofId, d);
}

Bytes eof() { return record(kEofId, {}); }

Bytes boundsheet(const std::string& name) {
  Bytes d;
  put32(d, 0);  // stream position of the BOF: not used by readers of interest
  put8(d, 0);   // visible
  put8(d, 0);   // worksheet
  put8(d, uint8_t(name.size()));
  put8(d, 0);
  d.insert(d.end(), name.begin(), name.end());
  return record(kBoundSheetId, d);
}

Bytes boundsheet16(const std::u16string& name) {
  Bytes d;
  put32(d, 0);
  put8(d, 0);
  put8(d, 0);
  put8(d, uint8_t(name.size()));
  put8(d, 1);
  for (char16_t c : name) put16(d, uint16_t(c));
  return record(kBoundSheetId, d);
}

Bytes boundsheet5(const std::string& name) {
  Bytes d;
  put32(d, 0);
  put8(d, 0);
  put8(d, 0);
  put8(d, uint8_t(name.size()));
  d.insert(d.end(), name.begin(), name.end());
  return record(kBoundSheetId, d);
}

Bytes xf(uint16_t format_index) {
  Bytes d;
  put16(d, 0);  // font
  put16(d, format_index);
  put16(d, 0x0001);  // cell XF, locked
  d.resize(20, 0);
  return record(kXfId, d);
}

Bytes format_record(uint16_t index, const std::string& code) {
  Bytes d;
  put16(d, index);
  put_string16_count(d, code);
  return record(kFormatId, d);
}

Bytes dimensions(int32_t rows, uint16_t cols) {
  Bytes d;
  put32(d, 0);
  put32(d, uint32_t(rows));
  put16(d, 0);
  put16(d, cols);
  put16(d, 0);
  return record(kDimensionsId, d);
}

Bytes dimensions5(uint16_t rows, uint16_t cols) {
  Bytes d;
  put16(d, 0);
  put16(d, rows);
  put16(d, 0);
  put16(d, cols);
  put16(d, 0);
  return record(kDimensionsId, d);
}

Bytes number(uint16_t row, uint16_t col, uint16_t xf_index, double v) {
  Bytes d;
  put_cell_head(d, row, col, xf_index);
  put_double(d, v);
  return record(kNumberId, d);
}

Bytes rk(uint16_t row, uint16_t col, uint16_t xf_index, uint32_t rk_value) {
  Bytes d;
  put_cell_head(d, row, col, xf_index);
  put32(d, rk_value);
  return record(kRkId, d);
}

Bytes mulrk(uint16_t row, uint16_t first_col,
            const std::vector<std::pair<uint16_t, uint32_t>>& xf_and_rk) {
  Bytes d;
  put16(d, row);
  put16(d, first_col);
  for (const auto& [x, v] : xf_and_rk) {
    put16(d, x);
    put32(d, v);
  }
  put16(d, uint16_t(first_col + xf_and_rk.size() - 1));
  return record(kMulRkId, d);
}

Bytes formula_number(uint16_t row, uint16_t col, uint16_t xf_index, double v) {
  Bytes d;
  put_cell_head(d, row, col, xf_index);
  put_double(d, v);
  put_formula_tail(d);
  return record(kFormulaId, d);
}

Bytes formula_other(uint16_t row, uint16_t col, uint16_t xf_index, uint8_t result_type) {
  Bytes d;
  put_cell_head(d, row, col, xf_index);
  put8(d, result_type);
  put8(d, 0);
  put8(d, result_type == 1 || result_type == 2 ? 1 : 0);  // boolean TRUE / error code
  put8(d, 0);
  put8(d, 0);
  put8(d, 0);
  put8(d, 0xFF);
  put8(d, 0xFF);
  put_formula_tail(d);
  return record(kFormulaId, d);
}

Bytes labelsst(uint16_t row, uint16_t col, uint16_t xf_index, int32_t sst_index) {
  Bytes d;
  put_cell_head(d, row, col, xf_index);
  put32(d, uint32_t(sst_index));
  return record(kLabelSstId, d);
}

Bytes label(uint16_t row, uint16_t col, uint16_t xf_index, const std::string& text) {
  Bytes d;
  put_cell_head(d, row, col, xf_index);
  put_string16_count(d, text);
  return record(kLabelId, d);
}

uint32_t rk_int(int32_t v) { return (uint32_t(v) << 2) | 0x2; }
uint32_t rk_int_cents(int32_t v100) { return (uint32_t(v100) << 2) | 0x3; }

SstString s8(const std::string& text) {
  SstString s;
  s.text8 = text;
  return s;
}

SstString s16(const std::u16string& text) {
  SstString s;
  s.text16 = text;
  s.wide = true;
  return s;
}

// ---------------------------------------------------------------------------
// Shared string table

namespace {

// The SST data as segments: plain bytes (count fields, string headers,
// rich-text runs, extended data) that may be cut anywhere, and character
// runs, which a cut interrupts with a new option byte.
struct Segment {
  Bytes bytes;
  bool chars = false;
  bool wide = false;
};

std::vector<Segment> sst_segments(const std::vector<SstString>& strings, int64_t declared) {
  std::vector<Segment> out;
  Segment head;
  put32(head.bytes, uint32_t(strings.size()));  // total uses: one per string
  put32(head.bytes, uint32_t(declared < 0 ? int64_t(strings.size()) : declared));
  out.push_back(std::move(head));
  for (const SstString& s : strings) {
    size_t count = s.wide ? s.text16.size() : s.text8.size();
    Segment h;
    put16(h.bytes, uint16_t(count));
    uint8_t flags = uint8_t((s.wide ? 0x01 : 0) | (s.ext_size ? 0x04 : 0) | (s.runs ? 0x08 : 0));
    put8(h.bytes, flags);
    if (s.runs) put16(h.bytes, s.runs);
    if (s.ext_size) put32(h.bytes, s.ext_size);
    out.push_back(std::move(h));

    Segment c;
    c.chars = true;
    c.wide = s.wide;
    if (s.wide)
      for (char16_t ch : s.text16) put16(c.bytes, uint16_t(ch));
    else
      c.bytes.assign(s.text8.begin(), s.text8.end());
    out.push_back(std::move(c));

    Segment tail;
    for (uint16_t r = 0; r < s.runs; ++r) {
      put16(tail.bytes, uint16_t(std::min<size_t>(r, count)));  // first character
      put16(tail.bytes, uint16_t(5 + r));                       // font
    }
    for (uint32_t i = 0; i < s.ext_size; ++i) put8(tail.bytes, uint8_t(0xA0 + i % 16));
    if (!tail.bytes.empty()) out.push_back(std::move(tail));
  }
  return out;
}

}  // namespace

Bytes sst_payload(const std::vector<SstString>& strings, int64_t declared) {
  Bytes out;
  for (const Segment& s : sst_segments(strings, declared)) append(out, s.bytes);
  return out;
}

Bytes sst_cut_at(const Bytes& payload, const std::vector<size_t>& cuts,
                 const std::vector<Bytes>& prefixes) {
  Bytes out;
  size_t from = 0;
  for (size_t i = 0; i <= cuts.size(); ++i) {
    size_t to = i < cuts.size() ? cuts[i] : payload.size();
    if (to < from || to > payload.size()) throw std::invalid_argument("sst_cut_at: bad cut");
    Bytes data;
    if (i > 0 && i - 1 < prefixes.size()) data = prefixes[i - 1];
    data.insert(data.end(), payload.begin() + ptrdiff_t(from), payload.begin() + ptrdiff_t(to));
    append(out, record(i == 0 ? kSstId : kContinueId, data));
    from = to;
  }
  return out;
}

Bytes sst(const std::vector<SstString>& strings, size_t max_data, int64_t declared) {
  if (max_data < 3 || max_data > 0xFFFF) throw std::invalid_argument("sst: bad max_data");
  std::vector<Bytes> records(1);
  // The SST record always keeps its two count fields whole.
  auto room = [&] {
    size_t limit = records.size() == 1 ? std::max<size_t>(max_data, 8) : max_data;
    return limit - records.back().size();
  };
  for (const Segment& seg : sst_segments(strings, declared)) {
    if (!seg.chars) {
      for (uint8_t b : seg.bytes) {
        if (room() == 0) records.emplace_back();
        records.back().push_back(b);
      }
      continue;
    }
    // Characters: never cut inside one; a new record repeats the width.
    const size_t width = seg.wide ? 2 : 1;
    for (size_t i = 0; i < seg.bytes.size(); i += width) {
      if (room() < width) {
        records.emplace_back();
        records.back().push_back(seg.wide ? 0x01 : 0x00);
      }
      records.back().insert(records.back().end(), seg.bytes.begin() + ptrdiff_t(i),
                            seg.bytes.begin() + ptrdiff_t(i + width));
    }
  }
  Bytes out;
  for (size_t i = 0; i < records.size(); ++i)
    append(out, record(i == 0 ? kSstId : kContinueId, records[i]));
  return out;
}

// ---------------------------------------------------------------------------
// Streams

Bytes worksheet(int32_t rows, uint16_t cols, const std::vector<Bytes>& cells, uint16_t version) {
  Bytes out = bof(version, kWorksheet);
  append(out, version == kBiff5 ? dimensions5(uint16_t(rows), cols) : dimensions(rows, cols));
  for (const auto& c : cells) append(out, c);
  append(out, eof());
  return out;
}

Bytes workbook_stream(const std::vector<std::string>& sheet_names,
                      const std::vector<Bytes>& globals, const std::vector<Bytes>& substreams) {
  Bytes out = bof(kBiff8, kGlobals);
  for (const auto& g : globals) append(out, g);
  std::vector<size_t> positions;  // where each BOUNDSHEET's BOF offset goes
  for (const auto& n : sheet_names) {
    positions.push_back(out.size() + 4);
    append(out, boundsheet(n));
  }
  append(out, eof());
  for (size_t i = 0; i < substreams.size(); ++i) {
    if (i < positions.size()) {
      for (int k = 0; k < 4; ++k) out[positions[i] + size_t(k)] = uint8_t(out.size() >> (8 * k));
    }
    append(out, substreams[i]);
  }
  return out;
}

Bytes with_filler(const Bytes& stream) {
  Bytes out(512, 0);
  append(out, stream);
  return out;
}

// ---------------------------------------------------------------------------
// Compound file

namespace {

constexpr uint32_t kFree = 0xFFFFFFFF;
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kFatMark = 0xFFFFFFFD;
constexpr uint32_t kDifatMark = 0xFFFFFFFC;
constexpr uint32_t kNoEntry = 0xFFFFFFFF;
constexpr size_t kMiniSize = 64;
constexpr uint32_t kCutoff = 4096;

// Units (sectors or mini sectors) in file order, with the link of each.
struct Units {
  size_t unit = 0;
  std::vector<Bytes> content;
  std::vector<uint32_t> next;

  uint32_t add(uint32_t link = kFree) {
    content.emplace_back(unit, 0);
    next.push_back(link);
    return uint32_t(content.size() - 1);
  }
  // Puts the stream's chunks into the given units, in chain order.
  uint32_t fill(const Bytes& data, const std::vector<uint32_t>& ids) {
    for (size_t i = 0; i < ids.size(); ++i) {
      size_t from = i * unit;
      size_t n = std::min(unit, data.size() - from);
      std::copy_n(data.begin() + ptrdiff_t(from), n, content[ids[i]].begin());
      next[ids[i]] = i + 1 < ids.size() ? ids[i + 1] : kEndOfChain;
    }
    return ids.empty() ? kEndOfChain : ids[0];
  }
  size_t count_for(const Bytes& data) const { return (data.size() + unit - 1) / unit; }
  // A stream in consecutive units.
  uint32_t place(const Bytes& data) {
    std::vector<uint32_t> ids;
    for (size_t i = 0; i < count_for(data); ++i) ids.push_back(add());
    return fill(data, ids);
  }
};

// Units a fragmented placement of `n` chunks takes when `others` chunks of
// other streams are available to fill the gaps.
size_t fragmented_units(size_t n, size_t others) {
  if (n <= 1) return n + others;
  return n + std::max(n - 1, others);
}

// Places `main` fragmented: its units alternate with units of the `others`
// (or free units once those run out), and its chain visits them pairwise
// swapped (chunk 0 in the second slot, chunk 1 in the first, ...), so that
// it jumps both forwards and backwards. Returns the start of every stream,
// main first.
std::vector<uint32_t> place_fragmented(Units& u, const Bytes& main,
                                       const std::vector<const Bytes*>& others) {
  size_t n = u.count_for(main);
  std::vector<uint32_t> main_ids;
  std::vector<std::vector<uint32_t>> other_ids(others.size());
  size_t oi = 0, oc = 0;  // the next other chunk to place
  auto place_other = [&]() {
    while (oi < others.size() && oc >= u.count_for(*others[oi])) {
      ++oi;
      oc = 0;
    }
    if (oi == others.size()) {
      u.add(kFree);
      return false;
    }
    other_ids[oi].push_back(u.add());
    ++oc;
    return true;
  };
  for (size_t i = 0; i < n; ++i) {
    main_ids.push_back(u.add());
    if (i + 1 < n) place_other();
  }
  for (;;) {
    while (oi < others.size() && oc >= u.count_for(*others[oi])) {
      ++oi;
      oc = 0;
    }
    if (oi == others.size()) break;
    place_other();
  }
  for (size_t i = 0; i + 1 < main_ids.size(); i += 2) std::swap(main_ids[i], main_ids[i + 1]);
  std::vector<uint32_t> starts{u.fill(main, main_ids)};
  for (size_t k = 0; k < others.size(); ++k) starts.push_back(u.fill(*others[k], other_ids[k]));
  return starts;
}

struct Entry {
  std::string name;
  const Bytes* data;
  bool mini = false;
  uint32_t start = kEndOfChain;
};

// Directory order: shorter names first, then by upper-cased UTF-16 units.
bool name_less(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return a.size() < b.size();
  for (size_t i = 0; i < a.size(); ++i) {
    int ca = std::toupper(uint8_t(a[i])), cb = std::toupper(uint8_t(b[i]));
    if (ca != cb) return ca < cb;
  }
  return false;
}

struct TreeNode {
  uint32_t left = kNoEntry, right = kNoEntry;
  bool red = false;
};

// A size-balanced tree over sorted[lo, hi): every empty link lies at the
// deepest level or one above it, so colouring the deepest level red (when
// it is not full) keeps the red-black rules.
uint32_t build_tree(const std::vector<uint32_t>& sorted, size_t lo, size_t hi, int depth,
                    std::vector<TreeNode>& nodes, std::vector<int>& depths) {
  if (lo >= hi) return kNoEntry;
  size_t mid = lo + (hi - lo) / 2;
  uint32_t id = sorted[mid];
  depths[id] = depth;
  nodes[id].left = build_tree(sorted, lo, mid, depth + 1, nodes, depths);
  nodes[id].right = build_tree(sorted, mid + 1, hi, depth + 1, nodes, depths);
  return id;
}

void put_dir_entry(Bytes& out, size_t at, const std::string& name, uint8_t type,
                   const TreeNode& node, uint32_t child, uint32_t start, uint32_t size) {
  uint8_t* e = out.data() + at;
  size_t chars = std::min<size_t>(name.size(), 31);
  for (size_t i = 0; i < chars; ++i) {
    e[2 * i] = uint8_t(name[i]);
    e[2 * i + 1] = 0;
  }
  uint16_t name_bytes = uint16_t((chars + 1) * 2);
  e[64] = uint8_t(name_bytes);
  e[65] = uint8_t(name_bytes >> 8);
  e[66] = type;
  e[67] = node.red ? 0 : 1;
  auto put_at = [&](size_t off, uint32_t v) {
    for (int i = 0; i < 4; ++i) e[off + size_t(i)] = uint8_t(v >> (8 * i));
  };
  put_at(68, node.left);
  put_at(72, node.right);
  put_at(76, child);
  put_at(116, start);
  put_at(120, size);
}

}  // namespace

Bytes compound_file(const Bytes& stream, const CfbOptions& opts) {
  if (opts.sector_shift < 9 || opts.sector_shift > 16)
    throw std::invalid_argument("compound_file: sector shift out of range");
  const size_t S = size_t(1) << opts.sector_shift;
  const size_t per = S / 4;

  std::vector<Entry> entries;
  entries.push_back({opts.stream_name, &stream});
  for (const auto& [name, data] : opts.other_streams) entries.push_back({name, &data});
  for (auto& e : entries)
    e.mini = opts.use_mini_stream && !e.data->empty() && e.data->size() < kCutoff;
  Entry& main = entries[0];

  // The mini-stream: main first or last, fragmented among the other small
  // streams when asked.
  Units mini{kMiniSize, {}, {}};
  {
    std::vector<size_t> small_others;
    for (size_t i = 1; i < entries.size(); ++i)
      if (entries[i].mini) small_others.push_back(i);
    auto place_others = [&] {
      for (size_t i : small_others) entries[i].start = mini.place(*entries[i].data);
    };
    if (main.mini && opts.fragmented) {
      std::vector<const Bytes*> others;
      for (size_t i : small_others) others.push_back(entries[i].data);
      auto starts = place_fragmented(mini, *main.data, others);
      main.start = starts[0];
      for (size_t k = 0; k < small_others.size(); ++k)
        entries[small_others[k]].start = starts[k + 1];
    } else if (main.mini) {
      if (!opts.stream_first) place_others();
      main.start = mini.place(*main.data);
      if (opts.stream_first) place_others();
    } else {
      place_others();
    }
  }
  Bytes container;
  for (const auto& c : mini.content) append(container, c);
  Bytes minifat;
  for (uint32_t v : mini.next) put32(minifat, v);
  const size_t S0 = size_t(1) << opts.sector_shift;
  while (minifat.size() % S0 != 0) put32(minifat, kFree);

  // Sector counts, to size the FAT before anything is placed.
  Units big{S, {}, {}};
  std::vector<size_t> big_others;
  size_t other_sectors = 0;
  for (size_t i = 1; i < entries.size(); ++i)
    if (!entries[i].mini && !entries[i].data->empty()) {
      big_others.push_back(i);
      other_sectors += big.count_for(*entries[i].data);
    }
  const bool main_big = !main.mini && !main.data->empty();
  size_t main_sectors = main_big ? big.count_for(*main.data) : 0;
  size_t data_sectors = opts.fragmented && main_big ? fragmented_units(main_sectors, other_sectors)
                                                    : main_sectors + other_sectors;
  size_t container_sectors = big.count_for(container);
  size_t minifat_sectors = big.count_for(minifat);
  size_t dir_sectors = ((entries.size() + 1) * 128 + S - 1) / S;
  size_t total = data_sectors + container_sectors + minifat_sectors + dir_sectors;
  size_t fat_sectors = 1, difat_sectors = 0;
  for (;; ++fat_sectors) {
    difat_sectors = fat_sectors > 109 ? (fat_sectors - 109 + per - 2) / (per - 1) : 0;
    if (fat_sectors * per >= total + fat_sectors + difat_sectors) break;
  }

  std::vector<uint32_t> fat_ids, difat_ids;
  auto place_tables = [&] {
    for (size_t i = 0; i < fat_sectors; ++i) fat_ids.push_back(big.add(kFatMark));
    for (size_t i = 0; i < difat_sectors; ++i) difat_ids.push_back(big.add(kDifatMark));
  };
  uint32_t dir_start = kEndOfChain, minifat_start = kEndOfChain, container_start = kEndOfChain;
  auto place_dir = [&] {
    std::vector<uint32_t> ids;
    for (size_t i = 0; i < dir_sectors; ++i) ids.push_back(big.add());
    dir_start = big.fill(Bytes(dir_sectors * S, 0), ids);
  };
  auto place_minifat = [&] {
    if (!minifat.empty()) minifat_start = big.place(minifat);
  };
  auto place_container = [&] {
    if (!container.empty()) container_start = big.place(container);
  };
  auto place_big_streams = [&] {
    if (main_big && opts.fragmented) {
      std::vector<const Bytes*> others;
      for (size_t i : big_others) others.push_back(entries[i].data);
      auto starts = place_fragmented(big, *main.data, others);
      main.start = starts[0];
      for (size_t k = 0; k < big_others.size(); ++k) entries[big_others[k]].start = starts[k + 1];
      return;
    }
    if (main_big && opts.stream_first) main.start = big.place(*main.data);
    for (size_t i : big_others) entries[i].start = big.place(*entries[i].data);
    if (main_big && !opts.stream_first) main.start = big.place(*main.data);
  };

  if (opts.stream_first) {
    if (main.mini) place_container();
    place_big_streams();
    if (!main.mini) place_container();
    place_minifat();
    place_dir();
    place_tables();
  } else {
    place_tables();
    place_dir();
    place_minifat();
    if (!main.mini) place_container();
    place_big_streams();
    if (main.mini) place_container();
  }
  if (big.content.size() > fat_sectors * per)
    throw std::logic_error("compound_file: FAT too small");

  // Directory: the root, then the streams in a balanced tree under it.
  {
    Bytes dir(dir_sectors * S, 0);
    for (size_t i = entries.size() + 1; i < dir_sectors * S / 128; ++i) {
      put32_at(dir, i * 128 + 68, kNoEntry);
      put32_at(dir, i * 128 + 72, kNoEntry);
      put32_at(dir, i * 128 + 76, kNoEntry);
    }
    std::vector<uint32_t> sorted;
    for (size_t i = 0; i < entries.size(); ++i) sorted.push_back(uint32_t(i + 1));
    std::sort(sorted.begin(), sorted.end(), [&](uint32_t a, uint32_t b) {
      return name_less(entries[a - 1].name, entries[b - 1].name);
    });
    std::vector<TreeNode> nodes(entries.size() + 1);
    std::vector<int> depths(entries.size() + 1, 0);
    uint32_t top = build_tree(sorted, 0, sorted.size(), 0, nodes, depths);
    int deepest = 0;
    for (int d : depths) deepest = std::max(deepest, d);
    size_t full = (size_t(1) << (deepest + 1)) - 1;
    if (sorted.size() != full)
      for (uint32_t id : sorted) nodes[id].red = depths[id] == deepest;
    put_dir_entry(dir, 0, "Root Entry", 5, TreeNode{}, top, container_start,
                  uint32_t(container.size()));
    for (size_t i = 0; i < entries.size(); ++i) {
      const Entry& e = entries[i];
      put_dir_entry(dir, (i + 1) * 128, e.name, 2, nodes[i + 1], kNoEntry, e.start,
                    uint32_t(e.data->size()));
    }
    uint32_t s = dir_start;
    for (size_t i = 0; i < dir_sectors; ++i) {
      std::copy_n(dir.begin() + ptrdiff_t(i * S), S, big.content[s].begin());
      s = big.next[s];
    }
  }

  // FAT and DIFAT contents.
  std::vector<uint32_t> fat = big.next;
  fat.resize(fat_sectors * per, kFree);
  for (size_t i = 0; i < fat_sectors; ++i)
    for (size_t k = 0; k < per; ++k) put32_at(big.content[fat_ids[i]], 4 * k, fat[i * per + k]);
  size_t listed = std::min<size_t>(fat_sectors, 109);
  for (size_t d = 0; d < difat_sectors; ++d) {
    Bytes& sec = big.content[difat_ids[d]];
    for (size_t k = 0; k + 1 < per; ++k)
      put32_at(sec, 4 * k, listed < fat_sectors ? fat_ids[listed++] : kFree);
    put32_at(sec, S - 4, d + 1 < difat_sectors ? difat_ids[d + 1] : kEndOfChain);
  }

  Bytes header(std::max<size_t>(512, S), 0);
  const uint8_t sig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  std::copy_n(sig, 8, header.begin());
  header[24] = 0x3E;
  header[26] = opts.sector_shift == 12 ? 4 : 3;
  header[28] = 0xFE;
  header[29] = 0xFF;
  header[30] = uint8_t(opts.sector_shift);
  header[32] = 6;
  if (opts.sector_shift == 12) put32_at(header, 40, uint32_t(dir_sectors));
  put32_at(header, 44, uint32_t(fat_sectors));
  put32_at(header, 48, dir_start);
  // Without the mini-stream, small streams sit in regular sectors; a cutoff
  // of 0 keeps the header consistent with that.
  put32_at(header, 56, opts.use_mini_stream ? kCutoff : 0);
  put32_at(header, 60, minifat_start);
  put32_at(header, 64, uint32_t(minifat_sectors));
  put32_at(header, 68, difat_sectors ? difat_ids[0] : kEndOfChain);
  put32_at(header, 72, uint32_t(difat_sectors));
  for (size_t i = 0; i < 109; ++i)
    put32_at(header, 76 + 4 * i, i < fat_sectors ? fat_ids[i] : kFree);

  Bytes out;
  out.reserve(header.size() + big.content.size() * S);
  append(out, header);
  for (const auto& c : big.content) append(out, c);
  return out;
}

}  // namespace xlsw
