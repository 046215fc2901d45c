// The bytes of one input file, read once into memory. The buffer is owned
// and writable so that the compound-file layer can lay the workbook stream
// out in place.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sheetdump {

// Reads the whole file. Gives nothing when the path cannot be opened or
// read (a missing file, a directory, a read error).
std::optional<std::vector<uint8_t>> read_file(const std::string& path);

}  // namespace sheetdump
