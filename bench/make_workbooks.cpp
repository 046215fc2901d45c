// Writes the benchmark workbooks (numeric.xls, mixed.xls, multi.xls) into a
// directory. The same scale always gives the same bytes.
//
//   make_workbooks OUTPUT_DIR [SCALE]
//   make_workbooks --repeat NAME COUNT OUTPUT_FILE
//
// SCALE multiplies the row counts (default 1; e.g. 0.01 for a smoke run).
// --repeat writes a workbook of one-sheet NAME's globals and its sheet
// COUNT times over (sheets NAME's-sheet-name_1 .. _COUNT), for measuring the
// memory of files far larger than one sheet's 65,536 rows allow.

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "workbook_gen.hpp"

namespace {

constexpr uint16_t kBof = 0x0809, kEof = 0x000A, kBoundSheet = 0x0085, kSst = 0x00FC;

uint32_t get16(const benchgen::Bytes& b, size_t at) { return uint32_t(b[at] | b[at + 1] << 8); }
uint32_t get32(const benchgen::Bytes& b, size_t at) {
  return get16(b, at) | get16(b, at + 2) << 16;
}
void set32(benchgen::Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}
void put16(benchgen::Bytes& b, uint32_t v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}

// The "Workbook" stream of a compound file that benchgen::compound_file
// wrote: contiguous from sector 1, its size in the second directory entry.
std::optional<benchgen::Bytes> workbook_stream(const benchgen::Bytes& file) {
  if (file.size() < 512) return std::nullopt;
  size_t dir = (size_t(get32(file, 48)) + 1) * 512;
  if (dir + 256 > file.size()) return std::nullopt;
  size_t size = get32(file, dir + 128 + 120);
  if (512 + size > file.size()) return std::nullopt;
  return benchgen::Bytes(file.begin() + 512, file.begin() + 512 + std::ptrdiff_t(size));
}

// NAME's one sheet COUNT times: the globals with COUNT BOUNDSHEET records in
// place of the one, the SST's reference count scaled, then the sheet's
// substream COUNT times.
std::optional<benchgen::Bytes> repeated(const benchgen::Bytes& stream, uint32_t count) {
  // Find the end of the globals (after their EOF), the BOUNDSHEET and the SST.
  size_t pos = 0, globals_end = 0, sheet_at = 0, sst_at = 0;
  int sheets = 0;
  while (pos + 4 <= stream.size()) {
    uint32_t id = get16(stream, pos), len = get16(stream, pos + 2);
    if (pos + 4 + len > stream.size()) return std::nullopt;
    if (id == kBoundSheet) sheet_at = pos, ++sheets;
    if (id == kSst) sst_at = pos;
    pos += 4 + len;
    if (id == kEof) {
      globals_end = pos;
      break;
    }
  }
  if (globals_end == 0 || sheets != 1 || get16(stream, globals_end) != kBof) return std::nullopt;
  uint32_t bs_len = get16(stream, sheet_at + 2);
  if (bs_len < 8) return std::nullopt;
  std::string name(stream.begin() + std::ptrdiff_t(sheet_at + 12),
                   stream.begin() + std::ptrdiff_t(sheet_at + 12 + stream[sheet_at + 10]));

  benchgen::Bytes out(stream.begin(), stream.begin() + std::ptrdiff_t(sheet_at));
  std::vector<size_t> offsets_at;
  for (uint32_t k = 1; k <= count; ++k) {
    std::string n = name + "_" + std::to_string(k);
    put16(out, kBoundSheet);
    put16(out, uint32_t(8 + n.size()));
    offsets_at.push_back(out.size());
    out.insert(out.end(), {0, 0, 0, 0, 0, 0, uint8_t(n.size()), 0});
    out.insert(out.end(), n.begin(), n.end());
  }
  size_t shift = out.size() - sheet_at - 4 - bs_len;
  out.insert(out.end(), stream.begin() + std::ptrdiff_t(sheet_at + 4 + bs_len),
             stream.begin() + std::ptrdiff_t(globals_end));
  if (sst_at > sheet_at) set32(out, sst_at + shift + 4, get32(stream, sst_at + 4) * count);
  size_t body = stream.size() - globals_end;
  if (out.size() + body * count > UINT32_MAX) return std::nullopt;
  for (uint32_t k = 0; k < count; ++k) set32(out, offsets_at[k], uint32_t(out.size() + body * k));
  out.reserve(out.size() + body * count);
  for (uint32_t k = 0; k < count; ++k)
    out.insert(out.end(), stream.begin() + std::ptrdiff_t(globals_end), stream.end());
  return out;
}

bool write_file(const char* argv0, const std::string& path, const benchgen::Bytes& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    std::fprintf(stderr, "%s: cannot create %s: %s\n", argv0, path.c_str(), std::strerror(errno));
    return false;
  }
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = std::fclose(f) == 0 && ok;
  if (!ok) {
    std::fprintf(stderr, "%s: cannot write %s\n", argv0, path.c_str());
    return false;
  }
  std::printf("%s %zu bytes\n", path.c_str(), bytes.size());
  return true;
}

int usage(const char* argv0, int status) {
  std::fprintf(status ? stderr : stdout,
               "usage: %s OUTPUT_DIR [SCALE]\n"
               "       %s --repeat NAME COUNT OUTPUT_FILE\n"
               "SCALE in (0, 1] multiplies the row counts. --repeat writes NAME (numeric or\n"
               "mixed) with its sheet repeated COUNT (1..64) times.\n",
               argv0, argv0);
  return status;
}

int repeat_main(const char* argv0, const std::string& name, const char* count_text,
                const std::string& path) {
  char* end = nullptr;
  long count = std::strtol(count_text, &end, 10);
  if (end == count_text || *end != '\0' || count < 1 || count > 64) return usage(argv0, 2);
  std::optional<benchgen::Bytes> stream = workbook_stream(benchgen::make_workbook(name));
  std::optional<benchgen::Bytes> bytes;
  if (stream) bytes = repeated(*stream, uint32_t(count));
  if (!bytes) {
    std::fprintf(stderr, "%s: %s is not a one-sheet benchmark workbook\n", argv0, name.c_str());
    return 2;
  }
  return write_file(argv0, path, benchgen::compound_file(*bytes)) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0))
    return usage(argv[0], 0);
  if (argc >= 2 && std::strcmp(argv[1], "--repeat") == 0) {
    if (argc != 5) return usage(argv[0], 2);
    return repeat_main(argv[0], argv[2], argv[3], argv[4]);
  }
  if (argc < 2 || argc > 3) return usage(argv[0], 2);
  std::string dir = argv[1];
  double scale = 1.0;
  if (argc == 3) {
    char* end = nullptr;
    scale = std::strtod(argv[2], &end);
    if (end == argv[2] || *end != '\0' || !(scale > 0) || scale > 1.0) {
      std::fprintf(stderr, "%s: SCALE must be a number in (0, 1]\n", argv[0]);
      return 2;
    }
  }
  for (const std::string& name : benchgen::workbook_names()) {
    if (!write_file(argv[0], dir + "/" + name + ".xls", benchgen::make_workbook(name, scale)))
      return 1;
  }
  return 0;
}
