// The one allocation path of the program. Running out of memory is not an
// exception here: the program prints its fixed message on standard output
// (after whatever output came before it) and ends with status 1.
#pragma once

#include <cstddef>

namespace sheetdump {

// Returns a block of at least `size` bytes; never returns null.
void* alloc_or_die(std::size_t size);

// Prints "Error malloc failed! Mallocing %d bytes\n" for `size` (clamped to
// the largest int) on standard output and ends the process with status 1.
[[noreturn]] void die_allocation_failed(std::size_t size);

}  // namespace sheetdump
