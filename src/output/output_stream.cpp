#include "output/output_stream.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace sheetdump {

void OutputStream::flush() {
  if (std::fflush(f_) != 0 || ferror_unlocked(f_)) fail();
}

void OutputStream::fail() {
  int err = errno;
  if (on_error_ == OnError::Record) {
    if (!failed_) error_ = err;
    failed_ = true;
    return;
  }
  // A reader that went away (a closed pipe) ends the run quietly, as the
  // default SIGPIPE would have.
  if (err != EPIPE)
    std::fprintf(stderr, "sheetdump: error writing output: %s\n",
                 err != 0 ? std::strerror(err) : "I/O error");
  std::_Exit(1);
}

void use_large_output_buffer() {
  // The C library would ignore the size without a buffer of our own.
  static char buffer[size_t(1) << 20];
  std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
}

}  // namespace sheetdump
