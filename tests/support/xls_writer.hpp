// A small workbook writer for tests: BIFF records, a shared string table
// split over CONTINUE records, and the two ways a record stream reaches the
// reader (512 filler bytes in front, or a real compound file).
//
// Everything returns plain byte vectors so that tests can cut, corrupt or
// splice them freely.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace xlsw {

using Bytes = std::vector<uint8_t>;

// Little-endian appenders.
void put8(Bytes& b, uint8_t v);
void put16(Bytes& b, uint16_t v);
void put32(Bytes& b, uint32_t v);
void put_double(Bytes& b, double v);
void append(Bytes& b, const Bytes& more);
// Little-endian overwrites of bytes already there (out of range: throws).
void put16_at(Bytes& b, size_t at, uint16_t v);
void put32_at(Bytes& b, size_t at, uint32_t v);
Bytes concat(const std::vector<Bytes>& parts);

// One record: 2-byte id, 2-byte size, data. `data` longer than 65535
// bytes is a test error.
Bytes record(uint16_t id, const Bytes& data);

constexpr uint16_t kBiff8 = 0x0600;
constexpr uint16_t kBiff5 = 0x0500;
constexpr uint16_t kGlobals = 0x0005;
constexpr uint16_t kWorksheet = 0x0010;
constexpr uint16_t kChart = 0x0020;

// Whole records (header included).
Bytes bof(uint16_t version, uint16_t type);  // 16 data bytes (8 for BIFF5)
Bytes eof();
Bytes boundsheet(const std::string& name);                     // BIFF8, 8-bit characters
Bytes boundsheet16(const std::u16string& name);                // BIFF8, 16-bit characters
Bytes boundsheet5(const std::string& name);                    // BIFF5: count at 6, bytes from 7
Bytes xf(uint16_t format_index);                               // 20 data bytes, format at 2-3
Bytes format_record(uint16_t index, const std::string& code);  // FORMAT 0x041E
Bytes dimensions(int32_t rows, uint16_t cols);                 // BIFF8 layout, 14 data bytes
Bytes dimensions5(uint16_t rows, uint16_t cols);               // BIFF5 layout, 10 data bytes
Bytes number(uint16_t row, uint16_t col, uint16_t xf, double v);
Bytes rk(uint16_t row, uint16_t col, uint16_t xf, uint32_t rk_value);
Bytes mulrk(uint16_t row, uint16_t first_col,
            const std::vector<std::pair<uint16_t, uint32_t>>& xf_and_rk);
Bytes formula_number(uint16_t row, uint16_t col, uint16_t xf, double v);
// A formula whose cached result is not a number: result type 0 string,
// 1 boolean, 2 error, 3 empty string.
Bytes formula_other(uint16_t row, uint16_t col, uint16_t xf, uint8_t result_type);
Bytes labelsst(uint16_t row, uint16_t col, uint16_t xf, int32_t sst_index);
Bytes label(uint16_t row, uint16_t col, uint16_t xf, const std::string& text);  // inline LABEL

// RK encodings.
uint32_t rk_int(int32_t v);           // bit 1 set, value in bits 2-31
uint32_t rk_int_cents(int32_t v100);  // bits 0 and 1: v100 / 100

// One string of the shared string table.
struct SstString {
  std::string text8;      // used when !wide: stored byte for byte
  std::u16string text16;  // used when wide
  bool wide = false;
  uint16_t runs = 0;      // rich-text runs (4 bytes each, flag 0x08)
  uint32_t ext_size = 0;  // extended data bytes (flag 0x04)
};
SstString s8(const std::string& text);
SstString s16(const std::u16string& text);

// The SST record and as many CONTINUE records as needed, each holding at
// most `max_data` bytes (8224 like real writers). Strings are cut where
// the limit falls, the way real writers do: inside the characters a new
// CONTINUE starts with an option byte; headers, runs and extended data run
// on without one. The SST record keeps its 8 count bytes whatever the
// limit. `declared` overrides the string count field (-1: the
// number of strings).
Bytes sst(const std::vector<SstString>& strings, size_t max_data = 8224, int64_t declared = -1);

// The SST data as one stream of bytes (count fields and strings), for tests
// that cut it by hand with sst_cut_at.
Bytes sst_payload(const std::vector<SstString>& strings, int64_t declared = -1);

// `payload` cut at the given offsets (ascending, inside it) into an SST
// record and CONTINUE records. prefixes[i], when given, goes in front of the
// data of the CONTINUE record that starts at cuts[i]: the option byte a
// real writer puts there when the cut falls inside a string's characters.
Bytes sst_cut_at(const Bytes& payload, const std::vector<size_t>& cuts,
                 const std::vector<Bytes>& prefixes = {});

// A worksheet substream: BOF, DIMENSIONS(rows, cols), the cell records,
// EOF.
Bytes worksheet(int32_t rows, uint16_t cols, const std::vector<Bytes>& cells,
                uint16_t version = kBiff8);

// A whole BIFF8 record stream: globals (BOF, `globals` records such as XF
// and SST, one BOUNDSHEET per name, EOF) followed by the substreams.
Bytes workbook_stream(const std::vector<std::string>& sheet_names,
                      const std::vector<Bytes>& globals, const std::vector<Bytes>& substreams);

// The stream after 512 filler bytes: the layout the reader takes for a
// file that is not a compound file.
Bytes with_filler(const Bytes& stream);

struct CfbOptions {
  int sector_shift = 9;      // 9 (512-byte) or 12 (4096-byte sectors)
  bool stream_first = true;  // the stream's sectors come right after the header
  bool fragmented = false;   // the stream's sectors are not consecutive
  std::string stream_name = "Workbook";
  bool use_mini_stream = true;  // streams under 4096 bytes go to the mini-stream;
                                // false: all in regular sectors, header cutoff 0
  std::vector<std::pair<std::string, Bytes>> other_streams;  // extra entries
};

// A real compound file holding `stream` under opts.stream_name: header,
// FAT (with DIFAT sectors when more than 109 FAT sectors are needed),
// directory, mini FAT and mini-stream.
Bytes compound_file(const Bytes& stream, const CfbOptions& opts = {});

}  // namespace xlsw
