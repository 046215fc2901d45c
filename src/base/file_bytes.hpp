// The bytes of one input file. A regular file is mapped privately (pages
// are read on first touch and can be given back once read); anything else
// is read into a buffer. Either way the bytes are writable, so that the
// compound-file layer can lay the workbook stream out in place.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sheetdump {

class FileBytes {
 public:
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
    return map_ ? std::span<uint8_t>(map_, map_size_) : std::span<uint8_t>(buffer_);
  }
  // Tells the system that bytes before `offset` will not be read again, so
  // their pages need not stay in memory. Only a mapping gives pages back.
  void release_before(size_t offset);

 private:
  void unmap();
  uint8_t* map_ = nullptr;
  size_t map_size_ = 0;
  std::vector<uint8_t> buffer_;
};

}  // namespace sheetdump
