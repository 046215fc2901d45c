#include "cli/alloc_or_die.hpp"

#include <climits>
#include <cstdio>
#include <cstdlib>

namespace sheetdump {

void die_allocation_failed(std::size_t size) {
  int shown = size > std::size_t(INT_MAX) ? INT_MAX : int(size);
  std::printf("Error malloc failed! Mallocing %d bytes\n", shown);
  std::exit(1);  // flushes standard output, earlier output first
}

void* alloc_or_die(std::size_t size) {
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) die_allocation_failed(size);
  return p;
}

}  // namespace sheetdump
