// The bytes of one input file. A regular file up to kReadWhole bytes is
// read whole into memory of its own; a larger one is mapped privately
// (pages come from the system's cache on first touch, no copy), so that
// memory does not follow the file; anything else is read into a buffer.
// Either way the bytes are writable, so that the compound-file layer can
// lay the workbook stream out in place, and the part already read can be
// given back.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sheetdump {

class FileBytes {
 public:
  // Up to this size a file is read rather than mapped. Measured on a
  // 19 MB workbook: reading it into fresh memory took 4 ms (the system
  // clears and backs that memory, then copies the file into it), and when
  // the system first had to gather free 2 MiB pieces, 10 ms and more;
  // mapping it cost its reader under 1 ms more, every time. A small file
  // costs a few pages either way.
  static constexpr size_t kReadWhole = size_t(1) << 20;

  FileBytes() = default;
  explicit FileBytes(std::vector<uint8_t> buffer) : buffer_(std::move(buffer)) {}
  FileBytes(FileBytes&& other) noexcept { *this = std::move(other); }
  FileBytes& operator=(FileBytes&& other) noexcept;
  FileBytes(const FileBytes&) = delete;
  FileBytes& operator=(const FileBytes&) = delete;
  ~FileBytes() { unmap(); }

  // Maps or reads the file; none when the path cannot be opened or read
  // (a missing file, a directory, a read error).
  static std::optional<FileBytes> open(const std::string& path);

  std::span<uint8_t> bytes() {
    if (map_) return std::span<uint8_t>(map_, map_size_);
    if (read_) return std::span<uint8_t>(read_.get(), read_size_);
    return std::span<uint8_t>(buffer_);
  }
  // Tells the system that bytes before `offset` will not be read again, so
  // their pages need not stay in memory: a mapping's whole pages are
  // replaced by empty ones, memory of our own is given back in whole 2 MiB
  // pieces, so that no huge page is split; what is given back reads as
  // zeros.
  void release_before(size_t offset);

 private:
  void unmap();
  uint8_t* map_ = nullptr;
  size_t map_size_ = 0;
  std::unique_ptr<uint8_t[]> read_;  // a regular file read whole
  size_t read_size_ = 0;
  size_t released_ = 0;  // bytes before this are given back already
  std::vector<uint8_t> buffer_;
};

}  // namespace sheetdump
