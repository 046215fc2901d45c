#include "base/file_bytes.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sheetdump {

namespace {

struct Fd {
  int fd;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

std::optional<std::vector<uint8_t>> read_all(int fd, size_t size_hint) {
  std::vector<uint8_t> buf(size_hint > 0 ? size_hint + 1 : 65536);
  size_t used = 0;
  for (;;) {
    if (used == buf.size()) buf.resize(buf.size() * 2);
    ssize_t n = ::read(fd, buf.data() + used, buf.size() - used);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (n == 0) break;
    used += size_t(n);
  }
  buf.resize(used);  // no shrink: that would copy the whole file once more
  return buf;
}

// Reads up to `size` bytes of a regular file into memory left
// uninitialised (the read fills it); fewer where the file ends sooner.
std::optional<std::pair<std::unique_ptr<uint8_t[]>, size_t>> read_regular(int fd, size_t size) {
  std::unique_ptr<uint8_t[]> buf(new uint8_t[size]);
  size_t used = 0;
  while (used < size) {
    ssize_t n = ::read(fd, buf.get() + used, size - used);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (n == 0) break;
    used += size_t(n);
  }
  return std::pair(std::move(buf), used);
}

// Gives back the whole 2 MiB pieces of memory of our own in [begin, end);
// returns where what is given back ends (`begin` when nothing was).
uint8_t* release_memory(uint8_t* begin, uint8_t* end) {
  constexpr uintptr_t kPiece = uintptr_t(2) << 20;
  const auto at = reinterpret_cast<uintptr_t>(begin);
  const uintptr_t lo = (at + kPiece - 1) & ~(kPiece - 1);
  const uintptr_t hi = reinterpret_cast<uintptr_t>(end) & ~(kPiece - 1);
  if (hi <= lo) return begin;
  ::madvise(begin + (lo - at), hi - lo, MADV_DONTNEED);
  return begin + (hi - at);
}

}  // namespace

FileBytes& FileBytes::operator=(FileBytes&& other) noexcept {
  if (this != &other) {
    unmap();
    map_ = other.map_;
    map_size_ = other.map_size_;
    read_ = std::move(other.read_);
    read_size_ = other.read_size_;
    released_ = other.released_;
    buffer_ = std::move(other.buffer_);
    other.map_ = nullptr;
    other.map_size_ = 0;
    other.read_size_ = 0;
    other.released_ = 0;
  }
  return *this;
}

void FileBytes::unmap() {
  if (map_ != nullptr) ::munmap(map_, map_size_);
  map_ = nullptr;
  map_size_ = 0;
}

void FileBytes::release_before(size_t offset) {
  std::span<uint8_t> all = bytes();
  offset = std::min(offset, all.size());
  if (offset <= released_) return;
  if (map_ == nullptr) {
    released_ = size_t(release_memory(all.data() + released_, all.data() + offset) - all.data());
    return;
  }
  const size_t page = size_t(::sysconf(_SC_PAGESIZE));
  const size_t end = offset / page * page;
  if (end <= released_) return;
  // Empty pages in place of the file's: none is backed until written, and
  // reading them gives zeros, as memory of our own that was given back
  // does (dropping a mapping's pages would read the file anew).
  void* p = ::mmap(map_ + released_, end - released_, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
  if (p == MAP_FAILED) {
    ::madvise(map_ + released_, end - released_, MADV_DONTNEED);
  }
  released_ = end;
}

std::optional<FileBytes> FileBytes::open(const std::string& path) {
  Fd f{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (f.fd < 0) return std::nullopt;
  struct stat st {};
  if (::fstat(f.fd, &st) != 0 || S_ISDIR(st.st_mode)) return std::nullopt;
  if (S_ISREG(st.st_mode) && st.st_size > 0 && uint64_t(st.st_size) <= kReadWhole) {
    auto got = read_regular(f.fd, size_t(st.st_size));
    if (!got) return std::nullopt;
    FileBytes fb;
    fb.read_ = std::move(got->first);
    fb.read_size_ = got->second;
    return fb;
  }
  if (S_ISREG(st.st_mode) && st.st_size > 0) {
    void* p = ::mmap(nullptr, size_t(st.st_size), PROT_READ | PROT_WRITE, MAP_PRIVATE, f.fd, 0);
    if (p != MAP_FAILED) {
      ::madvise(p, size_t(st.st_size), MADV_SEQUENTIAL);
      FileBytes fb;
      fb.map_ = static_cast<uint8_t*>(p);
      fb.map_size_ = size_t(st.st_size);
      return fb;
    }
  }
  auto buf = read_all(f.fd, S_ISREG(st.st_mode) ? size_t(st.st_size) : 0);
  if (!buf) return std::nullopt;
  return FileBytes(std::move(*buf));
}

}  // namespace sheetdump
