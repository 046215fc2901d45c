#include "cli/alloc_or_die.hpp"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <sys/mman.h>

namespace sheetdump {

namespace {

// Blocks of kHugeBlock bytes and more are an input file read whole, a
// sheet's cells, its numbers, the shared strings' bytes: filled once, front
// to back. Placed on 2 MiB boundaries and backed by 2 MiB pages, they cost
// one fault per 2 MiB instead of one per 4 KiB, which on a large sheet is
// most of the time the system spends for the process, and reading them
// back misses the address cache once per 2 MiB. Only pages touched are
// backed, so a block's unused tail costs address space, not memory.
constexpr std::size_t kHugeBlock = std::size_t(1) << 20;
constexpr std::size_t kHugePage = std::size_t(2) << 20;

// Out of line: the callers are every container's growth path, kept small.
[[gnu::noinline]] void* huge_block(std::size_t size) {
  const std::size_t rounded = (size + kHugePage - 1) / kHugePage * kHugePage;
  void* p = nullptr;
  if (rounded < size || posix_memalign(&p, kHugePage, rounded) != 0) return nullptr;
  // Advice only: a kernel without transparent huge pages keeps small ones.
  ::madvise(p, rounded, MADV_HUGEPAGE);
  return p;
}

}  // namespace

void die_allocation_failed(std::size_t size) {
  int shown = size > std::size_t(INT_MAX) ? INT_MAX : int(size);
  std::printf("Error malloc failed! Mallocing %d bytes\n", shown);
  std::exit(1);  // flushes standard output, earlier output first
}

void* alloc_or_die(std::size_t size) {
  void* p = size >= kHugeBlock ? huge_block(size) : std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) die_allocation_failed(size);
  return p;
}

}  // namespace sheetdump
