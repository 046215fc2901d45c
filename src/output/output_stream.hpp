// Standard output through one large stdio buffer, written with the
// unlocked stdio calls (the program has one thread). A failed write is
// noticed at the next line end and ends the run with a message.
#pragma once

#include <cstdio>
#include <string_view>

namespace sheetdump {

class OutputStream {
 public:
  explicit OutputStream(std::FILE* f) : f_(f) {}

  void put(char c) { putc_unlocked(c, f_); }
  void write(std::string_view s) {
    if (!s.empty()) fwrite_unlocked(s.data(), 1, s.size(), f_);
  }
  void end_line() {
    putc_unlocked('\n', f_);
    if (ferror_unlocked(f_)) fail();
  }
  // A whole line, which must end with its line feed: one call per line
  // keeps the stdio overhead out of the per-field path.
  void write_line(std::string_view line) {
    write(line);
    if (ferror_unlocked(f_)) fail();
  }
  // Writes out everything buffered; a failure ends the run.
  void flush();
  std::FILE* file() const { return f_; }

 private:
  [[noreturn]] void fail();
  std::FILE* f_;
};

// Gives standard output a large buffer; call before anything is written.
void use_large_output_buffer();

}  // namespace sheetdump
