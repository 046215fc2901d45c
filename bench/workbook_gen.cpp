#include "workbook_gen.hpp"

#include "support/xls_writer.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace benchgen {

namespace {

// ---------------------------------------------------------------------------
// Bytes and records

// The little-endian appenders are the test-side writer's.
using xlsw::put16;
using xlsw::put32;
using xlsw::put8;
using xlsw::put_double;

void patch32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

// Starts a record and returns the position of its size field; end_record
// fills the size in once the data is written.
size_t begin_record(Bytes& b, uint16_t id) {
  put16(b, id);
  put16(b, 0);
  return b.size() - 2;
}
void end_record(Bytes& b, size_t size_at) {
  size_t size = b.size() - size_at - 2;
  if (size > 8224) throw std::logic_error("record too long");
  b[size_at] = uint8_t(size);
  b[size_at + 1] = uint8_t(size >> 8);
}

constexpr uint16_t kBof = 0x0809, kEof = 0x000A, kBoundSheet = 0x0085, kSst = 0x00FC,
                   kContinue = 0x003C, kXf = 0x00E0, kFont = 0x0031, kCodepage = 0x0042,
                   kWindow1 = 0x003D, kWindow2 = 0x023E, kDimensions = 0x0200, kNumber = 0x0203,
                   kRk = 0x027E, kMulRk = 0x00BD, kLabelSst = 0x00FD;

void bof(Bytes& b, uint16_t type) {
  size_t at = begin_record(b, kBof);
  put16(b, 0x0600);
  put16(b, type);
  put16(b, 0x0DBB);  // build
  put16(b, 0x07CC);  // year
  put32(b, 0);
  put32(b, 0x06);
  end_record(b, at);
}

void eof(Bytes& b) { end_record(b, begin_record(b, kEof)); }

void font(Bytes& b) {
  size_t at = begin_record(b, kFont);
  put16(b, 200);     // height in twips
  put16(b, 0);       // options
  put16(b, 0x7FFF);  // colour
  put16(b, 400);     // weight
  put16(b, 0);       // escapement
  put8(b, 0);        // underline
  put8(b, 2);        // family
  put8(b, 0);        // charset
  put8(b, 0);
  const char name[] = "Arial";
  put8(b, uint8_t(sizeof name - 1));
  put8(b, 0);  // 8-bit characters
  for (size_t i = 0; i + 1 < sizeof name; ++i) put8(b, uint8_t(name[i]));
  end_record(b, at);
}

void xf(Bytes& b, uint16_t format, bool style) {
  size_t at = begin_record(b, kXf);
  put16(b, 0);  // font
  put16(b, format);
  put16(b, style ? 0xFFF5 : 0x0001);  // style XF (parent 0xFFF) / cell XF of style 0, locked
  put16(b, 0x0020);                   // alignment: bottom
  put16(b, 0);
  put16(b, style ? 0 : 0x0400);  // cell XF: own number format
  put32(b, 0);
  put32(b, 0);
  put16(b, 0x20C0);  // pattern colours
  end_record(b, at);
}

// The XF indices the cells use.
constexpr uint16_t kXfGeneral = 15, kXfDate = 16, kXfDateTime = 17, kXfPercent = 18, kXfFixed2 = 19;

void xf_table(Bytes& b) {
  for (int i = 0; i < 15; ++i) xf(b, 0, true);
  xf(b, 0, false);   // 15: general
  xf(b, 14, false);  // 16: m/d/yy
  xf(b, 22, false);  // 17: m/d/yy h:mm
  xf(b, 10, false);  // 18: 0.00%
  xf(b, 2, false);   // 19: 0.00
}

// Returns the position of the sheet's stream offset, patched later.
size_t boundsheet(Bytes& b, const std::string& name) {
  size_t at = begin_record(b, kBoundSheet);
  size_t pos_at = b.size();
  put32(b, 0);
  put8(b, 0);  // visible
  put8(b, 0);  // worksheet
  put8(b, uint8_t(name.size()));
  put8(b, 0);
  for (char c : name) put8(b, uint8_t(c));
  end_record(b, at);
  return pos_at;
}

// The shared string table, 8-bit strings, split into CONTINUE records at
// 8224 bytes. A string that does not fit in what is left of a record is
// cut inside its characters, the way real writers do: the CONTINUE record
// then starts with the option byte again.
void sst(Bytes& b, const std::vector<std::string>& strings, uint32_t total_refs) {
  constexpr size_t kMax = 8224;
  size_t at = begin_record(b, kSst);
  put32(b, total_refs);
  put32(b, uint32_t(strings.size()));
  auto room = [&] { return kMax - (b.size() - at - 2); };
  for (const std::string& s : strings) {
    if (room() < 4) {  // the 3-byte header plus one character
      end_record(b, at);
      at = begin_record(b, kContinue);
    }
    put16(b, uint16_t(s.size()));
    put8(b, 0);
    size_t done = 0;
    while (done < s.size()) {
      size_t n = std::min(room(), s.size() - done);
      b.insert(b.end(), s.begin() + long(done), s.begin() + long(done + n));
      done += n;
      if (done < s.size()) {
        end_record(b, at);
        at = begin_record(b, kContinue);
        put8(b, 0);  // the rest is 8-bit too
      }
    }
  }
  end_record(b, at);
}

// ---------------------------------------------------------------------------
// Cell values

// SplitMix64: fixed output on every platform, unlike the standard
// distributions.
struct Random {
  uint64_t state;
  uint64_t next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  int64_t range(int64_t lo, int64_t hi) {  // inclusive
    return lo + int64_t(next() % uint64_t(hi - lo + 1));
  }
  bool chance(int percent) { return int(next() % 100) < percent; }
};

enum ColumnKind {
  INTEGER,    // mostly small (RK), some beyond 30 bits (NUMBER)
  CENTS,      // 2-decimal numbers: RK with the /100 flag where they fit
  FIXED2,     // 2-decimal numbers under format 0.00
  DECIMAL,    // up to 4 decimals, NUMBER
  DATE,       // whole day serials under m/d/yy, RK
  DATE_TIME,  // day serial plus minutes under m/d/yy h:mm, NUMBER
  PERCENT,    // fractions under 0.00%, NUMBER
  TEXT,       // a string of the pool, LABELSST
};

struct SheetSpec {
  std::string name;
  int rows;  // data rows, after the header row
  std::vector<ColumnKind> columns;
  bool mulrk;  // runs of RK cells in one MULRK record
};

struct CellValue {
  enum Type { RK, NUMBER, SST } type;
  uint16_t xf;
  uint32_t rk = 0;
  double number = 0;
  uint32_t sst = 0;
};

uint32_t rk_int(int32_t v) { return (uint32_t(v) << 2) | 2; }
bool rk_fits(int64_t v) { return v >= -(int64_t(1) << 29) && v < (int64_t(1) << 29); }

CellValue cents_value(int64_t cents, uint16_t xf) {
  if (rk_fits(cents)) return {CellValue::RK, xf, rk_int(int32_t(cents)) | 1};
  return {CellValue::NUMBER, xf, 0, double(cents) / 100.0};
}

CellValue make_value(ColumnKind kind, Random& rnd, uint32_t pool_size) {
  switch (kind) {
    case INTEGER: {
      int64_t v = rnd.chance(5) ? rnd.range(-1000000000000, 1000000000000) : rnd.range(0, 99999);
      if (rk_fits(v)) return {CellValue::RK, kXfGeneral, rk_int(int32_t(v))};
      return {CellValue::NUMBER, kXfGeneral, 0, double(v)};
    }
    case CENTS:
      return cents_value(
          rnd.chance(20) ? rnd.range(-100000000000, 100000000000) : rnd.range(-5000000, 5000000),
          kXfGeneral);
    case FIXED2:
      return cents_value(rnd.range(0, 99999999), kXfFixed2);
    case DECIMAL:
      return {CellValue::NUMBER, kXfGeneral, 0, double(rnd.range(-99999999, 99999999)) / 10000.0};
    case DATE:
      return {CellValue::RK, kXfDate, rk_int(int32_t(rnd.range(29221, 47482)))};
    case DATE_TIME:
      return {CellValue::NUMBER, kXfDateTime, 0,
              double(rnd.range(29221, 47482)) + double(rnd.range(0, 1439)) / 1440.0};
    case PERCENT:
      return {CellValue::NUMBER, kXfPercent, 0, double(rnd.range(0, 10000)) / 10000.0};
    case TEXT:
      return {CellValue::SST, kXfGeneral, 0, 0, uint32_t(rnd.next() % pool_size)};
  }
  return {CellValue::RK, kXfGeneral, 0};
}

void write_cell(Bytes& b, uint16_t row, uint16_t col, const CellValue& v, uint32_t sst_base) {
  switch (v.type) {
    case CellValue::RK: {
      size_t at = begin_record(b, kRk);
      put16(b, row), put16(b, col), put16(b, v.xf), put32(b, v.rk);
      end_record(b, at);
      break;
    }
    case CellValue::NUMBER: {
      size_t at = begin_record(b, kNumber);
      put16(b, row), put16(b, col), put16(b, v.xf), put_double(b, v.number);
      end_record(b, at);
      break;
    }
    case CellValue::SST: {
      size_t at = begin_record(b, kLabelSst);
      put16(b, row), put16(b, col), put16(b, v.xf), put32(b, sst_base + v.sst);
      end_record(b, at);
      break;
    }
  }
}

void write_row(Bytes& b, uint16_t row, const std::vector<CellValue>& cells, bool mulrk,
               uint32_t sst_base) {
  size_t c = 0;
  while (c < cells.size()) {
    size_t run = c;
    while (run < cells.size() && cells[run].type == CellValue::RK) ++run;
    if (mulrk && run - c >= 2) {
      size_t at = begin_record(b, kMulRk);
      put16(b, row);
      put16(b, uint16_t(c));
      for (size_t i = c; i < run; ++i) put16(b, cells[i].xf), put32(b, cells[i].rk);
      put16(b, uint16_t(run - 1));
      end_record(b, at);
      c = run;
    } else {
      write_cell(b, row, uint16_t(c), cells[c], sst_base);
      ++c;
    }
  }
}

// ---------------------------------------------------------------------------
// Texts

const char* const kFirst[] = {"Anna",
                              "Ben",
                              "Carla",
                              "David",
                              "Elif",
                              "Frank",
                              "Greta",
                              "Hugo",
                              "Ines",
                              "Jonas",
                              "Karin",
                              "Lars",
                              "Maria",
                              "Nils",
                              "Olga",
                              "Paul",
                              "Rosa",
                              "Sven",
                              "Tanja",
                              "Uwe",
                              "Vera",
                              "Walter",
                              "Yusuf",
                              "Zoe",
                              "Jos\xE9",
                              "Ren\xE9"
                              "e"};
const char* const kLast[] = {"Meyer",  "Schmidt", "Novak",     "Garcia",  "Rossi",
                             "Dubois", "Jansen",  "Kowalski",  "Berg",    "Lind",
                             "Costa",  "Horvat",  "M\xFCller", "Nagy",    "Ivanov",
                             "Silva",  "Moreau",  "Weber",     "Fischer", "Bauer"};
const char* const kCity[] = {"Berlin", "Oslo", "Porto", "Lyon",  "Graz", "Turku",
                             "Brno",   "Gent", "Cork",  "Split", "Riga", "Bergen"};

// `count` distinct strings: names, cities and codes, some with the
// characters that CSV and SQL output must escape.
std::vector<std::string> string_pool(uint32_t count, Random& rnd) {
  std::vector<std::string> pool;
  pool.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    std::string s = kFirst[rnd.next() % std::size(kFirst)];
    s += ' ';
    s += kLast[rnd.next() % std::size(kLast)];
    switch (rnd.next() % 10) {
      case 0:
        s += ", ";
        s += kCity[rnd.next() % std::size(kCity)];
        break;
      case 1:
        s += " \"Jr\"";
        break;
      case 2:
        s += " O'Neil";
        break;
      case 3:
        s += " \\ ";
        s += kCity[rnd.next() % std::size(kCity)];
        break;
      default:
        break;
    }
    s += " #";
    s += std::to_string(i);
    pool.push_back(std::move(s));
  }
  return pool;
}

const char* kind_name(ColumnKind k) {
  switch (k) {
    case INTEGER:
      return "count";
    case CENTS:
      return "amount";
    case FIXED2:
      return "price";
    case DECIMAL:
      return "ratio";
    case DATE:
      return "day";
    case DATE_TIME:
      return "stamp";
    case PERCENT:
      return "share";
    case TEXT:
      return "name";
  }
  return "col";
}

// ---------------------------------------------------------------------------
// Whole workbooks

Bytes build_stream(const std::vector<SheetSpec>& sheets, uint32_t pool_size, uint64_t seed) {
  Random rnd{seed};
  // The SST holds the header texts of every sheet first, then the pool.
  std::vector<std::string> strings;
  std::vector<uint32_t> header_base;
  for (const SheetSpec& s : sheets) {
    header_base.push_back(uint32_t(strings.size()));
    for (size_t c = 0; c < s.columns.size(); ++c)
      strings.push_back(std::string(kind_name(s.columns[c])) + "_" + std::to_string(c + 1));
  }
  uint32_t pool_base = uint32_t(strings.size());
  std::vector<std::string> pool = string_pool(pool_size, rnd);
  strings.insert(strings.end(), pool.begin(), pool.end());

  // The sheets first, so that the number of SST references is known.
  std::vector<Bytes> bodies;
  uint32_t refs = 0;
  for (size_t si = 0; si < sheets.size(); ++si) {
    const SheetSpec& s = sheets[si];
    Bytes b;
    b.reserve(size_t(s.rows + 1) * s.columns.size() * 16 + 256);
    bof(b, 0x0010);
    size_t at = begin_record(b, kDimensions);
    put32(b, 0), put32(b, uint32_t(s.rows + 1)), put16(b, 0), put16(b, uint16_t(s.columns.size())),
        put16(b, 0);
    end_record(b, at);
    for (size_t c = 0; c < s.columns.size(); ++c)
      write_cell(b, 0, uint16_t(c), {CellValue::SST, kXfGeneral, 0, 0, uint32_t(c)},
                 header_base[si]);
    refs += uint32_t(s.columns.size());
    std::vector<CellValue> cells(s.columns.size(), CellValue{CellValue::RK, kXfGeneral});
    for (int r = 1; r <= s.rows; ++r) {
      for (size_t c = 0; c < s.columns.size(); ++c) {
        cells[c] = make_value(s.columns[c], rnd, pool_size);
        if (cells[c].type == CellValue::SST) ++refs;
      }
      write_row(b, uint16_t(r), cells, s.mulrk, pool_base);
    }
    at = begin_record(b, kWindow2);
    put16(b, si == 0 ? 0x06B6 : 0x04B6), put16(b, 0), put16(b, 0), put32(b, 64), put16(b, 0),
        put16(b, 0), put32(b, 0);
    end_record(b, at);
    eof(b);
    bodies.push_back(std::move(b));
  }

  Bytes g;
  bof(g, 0x0005);
  size_t at = begin_record(g, kCodepage);
  put16(g, 1200);
  end_record(g, at);
  at = begin_record(g, kWindow1);
  put16(g, 0), put16(g, 0), put16(g, 0x3000), put16(g, 0x2000), put16(g, 0x38), put16(g, 0),
      put16(g, 0), put16(g, 1), put16(g, 0x258);
  end_record(g, at);
  for (int i = 0; i < 5; ++i) font(g);
  xf_table(g);
  std::vector<size_t> offsets_at;
  for (const SheetSpec& s : sheets) offsets_at.push_back(boundsheet(g, s.name));
  sst(g, strings, refs);
  eof(g);

  size_t pos = g.size();
  for (size_t i = 0; i < bodies.size(); ++i) {
    patch32(g, offsets_at[i], uint32_t(pos));
    pos += bodies[i].size();
  }
  Bytes stream = std::move(g);
  stream.reserve(pos);
  for (const Bytes& b : bodies) stream.insert(stream.end(), b.begin(), b.end());
  return stream;
}

int scaled(int rows, double scale) { return std::max(50, int(std::lround(rows * scale))); }

}  // namespace

const std::vector<std::string>& workbook_names() {
  static const std::vector<std::string> names = {"numeric", "mixed", "multi"};
  return names;
}

Bytes make_workbook(const std::string& name, double scale) {
  if (name == "numeric") {
    std::vector<ColumnKind> cols;
    for (int c = 0; c < 20; ++c) cols.push_back(c % 2 == 0 ? INTEGER : CENTS);
    return compound_file(
        build_stream({{"numbers", scaled(65000, scale) - 1, cols, false}}, 0, 0x5EED0001));
  }
  if (name == "mixed") {
    std::vector<ColumnKind> cols = {TEXT, TEXT,      INTEGER, INTEGER, CENTS,  DECIMAL,
                                    DATE, DATE_TIME, PERCENT, TEXT,    FIXED2, INTEGER};
    uint32_t pool = uint32_t(std::max(100L, std::lround(30000 * scale)));
    return compound_file(
        build_stream({{"mixed", scaled(60000, scale) - 1, cols, true}}, pool, 0x5EED0002));
  }
  if (name == "multi") {
    std::vector<ColumnKind> cols = {TEXT,    INTEGER, CENTS,   DATE,   TEXT,
                                    DECIMAL, INTEGER, PERCENT, FIXED2, TEXT};
    std::vector<SheetSpec> sheets;
    for (int i = 1; i <= 8; ++i)
      sheets.push_back({"Sheet" + std::to_string(i), scaled(8000, scale) - 1, cols, true});
    uint32_t pool = uint32_t(std::max(100L, std::lround(5000 * scale)));
    return compound_file(build_stream(sheets, pool, 0x5EED0003));
  }
  return {};
}

// ---------------------------------------------------------------------------
// The compound file: header, the stream's sectors, one directory sector, the
// FAT sectors, then the DIFAT sectors that list the FAT sectors the header
// has no room for.

Bytes compound_file(const Bytes& stream) {
  constexpr uint32_t kSector = 512, kPerSector = kSector / 4;
  constexpr uint32_t kFree = 0xFFFFFFFF, kEnd = 0xFFFFFFFE, kFatSect = 0xFFFFFFFD,
                     kDifSect = 0xFFFFFFFC;
  if (stream.size() < 4096) throw std::logic_error("stream too short for regular sectors");

  uint32_t n_stream = uint32_t((stream.size() + kSector - 1) / kSector);
  uint32_t n_fat = 1, n_difat = 0;
  for (;;) {  // the FAT must also cover its own sectors and the DIFAT's
    uint32_t total = n_stream + 1 + n_fat + n_difat;
    uint32_t fat = (total + kPerSector - 1) / kPerSector;
    uint32_t difat = fat > 109 ? (fat - 109 + kPerSector - 2) / (kPerSector - 1) : 0;
    if (fat == n_fat && difat == n_difat) break;
    n_fat = fat;
    n_difat = difat;
  }
  uint32_t dir_sector = n_stream, first_fat = n_stream + 1, first_difat = first_fat + n_fat;
  uint32_t total = first_difat + n_difat;

  Bytes out;
  out.reserve(size_t(total + 1) * kSector);
  // Header.
  const uint8_t sig[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  for (uint8_t v : sig) put8(out, v);
  out.resize(24, 0);  // CLSID
  put16(out, 0x003E), put16(out, 0x0003), put16(out, 0xFFFE), put16(out, 9), put16(out, 6);
  out.resize(44, 0);
  put32(out, n_fat);
  put32(out, dir_sector);
  put32(out, 0);
  put32(out, 4096);
  put32(out, kEnd), put32(out, 0);  // no mini FAT
  put32(out, n_difat ? first_difat : kEnd);
  put32(out, n_difat);
  for (uint32_t i = 0; i < 109; ++i) put32(out, i < n_fat ? first_fat + i : kFree);

  // The stream.
  out.insert(out.end(), stream.begin(), stream.end());
  out.resize(size_t(1 + n_stream) * kSector, 0);

  // Directory: the root and the stream.
  auto entry = [&](const char* name, uint8_t type, uint32_t child, uint32_t start, uint32_t size) {
    size_t base = out.size();
    size_t len = std::strlen(name);
    for (size_t i = 0; i < len; ++i) put16(out, uint8_t(name[i]));
    out.resize(base + 64, 0);
    put16(out, len ? uint16_t(2 * (len + 1)) : 0);
    put8(out, type);
    put8(out, 1);  // black
    put32(out, kFree), put32(out, kFree), put32(out, child);
    out.resize(base + 116, 0);
    put32(out, start);
    put32(out, size), put32(out, 0);
  };
  entry("Root Entry", 5, 1, kEnd, 0);
  entry("Workbook", 2, kFree, 0, uint32_t(stream.size()));
  entry("", 0, kFree, kFree, 0);
  entry("", 0, kFree, kFree, 0);

  // FAT.
  std::vector<uint32_t> fat(size_t(n_fat) * kPerSector, kFree);
  for (uint32_t i = 0; i < n_stream; ++i) fat[i] = i + 1 < n_stream ? i + 1 : kEnd;
  fat[dir_sector] = kEnd;
  for (uint32_t i = 0; i < n_fat; ++i) fat[first_fat + i] = kFatSect;
  for (uint32_t i = 0; i < n_difat; ++i) fat[first_difat + i] = kDifSect;
  for (uint32_t v : fat) put32(out, v);

  // DIFAT: 127 FAT sector numbers per sector, then the next DIFAT sector.
  uint32_t listed = 109;
  for (uint32_t d = 0; d < n_difat; ++d) {
    for (uint32_t i = 0; i < kPerSector - 1; ++i, ++listed)
      put32(out, listed < n_fat ? first_fat + listed : kFree);
    put32(out, d + 1 < n_difat ? first_difat + d + 1 : kEnd);
  }
  return out;
}

}  // namespace benchgen
