#include "cfb/file_data.hpp"

#include <cerrno>
#include <fcntl.h>
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

}  // namespace

std::optional<std::vector<uint8_t>> read_file(const std::string& path) {
  Fd f{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (f.fd < 0) return std::nullopt;
  struct stat st {};
  if (::fstat(f.fd, &st) != 0 || S_ISDIR(st.st_mode)) return std::nullopt;

  std::vector<uint8_t> buf;
  // A regular file is read in one go into a buffer of its size; anything
  // else (a pipe, a device) grows the buffer as data arrives.
  size_t want = S_ISREG(st.st_mode) && st.st_size > 0 ? size_t(st.st_size) + 1 : 65536;
  buf.resize(want);
  size_t used = 0;
  for (;;) {
    if (used == buf.size()) buf.resize(buf.size() * 2);
    ssize_t n = ::read(f.fd, buf.data() + used, buf.size() - used);
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

}  // namespace sheetdump
