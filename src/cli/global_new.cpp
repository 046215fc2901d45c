// Routes every C++ allocation of the program (containers included) through
// alloc_or_die, so that no allocation failure can surface as an exception,
// an abort or a crash.
#include <cstdlib>
#include <new>

#include "cli/alloc_or_die.hpp"

namespace {

void* aligned_or_die(std::size_t size, std::align_val_t align) {
  std::size_t a = static_cast<std::size_t>(align);
  if (a < sizeof(void*)) a = sizeof(void*);
  void* p = nullptr;
  if (posix_memalign(&p, a, size == 0 ? 1 : size) != 0 || p == nullptr)
    sheetdump::die_allocation_failed(size);
  return p;
}

}  // namespace

void* operator new(std::size_t size) { return sheetdump::alloc_or_die(size); }
void* operator new[](std::size_t size) { return sheetdump::alloc_or_die(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return sheetdump::alloc_or_die(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return sheetdump::alloc_or_die(size);
}
void* operator new(std::size_t size, std::align_val_t al) { return aligned_or_die(size, al); }
void* operator new[](std::size_t size, std::align_val_t al) { return aligned_or_die(size, al); }

void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
