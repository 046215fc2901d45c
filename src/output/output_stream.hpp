// Standard output through one large stdio buffer, written with the
// unlocked stdio calls (the program has one thread). A failed write is
// noticed at the next line end and ends the run with a message; a stream
// made with OnError::Record (a file of its own, among several) keeps the
// first failure's errno for its owner to report instead.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string_view>

namespace sheetdump {

enum class OnError : uint8_t { Exit, Record };

class OutputStream {
 public:
  explicit OutputStream(std::FILE* f, OnError on_error = OnError::Exit)
      : f_(f), on_error_(on_error) {}

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
  // Writes out everything buffered; a failure ends the run (or is
  // recorded).
  void flush();
  std::FILE* file() const { return f_; }
  // With OnError::Record: whether a write failed, and its errno (0 when
  // the system gave none).
  bool failed() const { return failed_; }
  int error() const { return error_; }

 private:
  void fail();
  std::FILE* f_;
  OnError on_error_;
  bool failed_ = false;
  int error_ = 0;
};

// Gives standard output a large buffer; call before anything is written.
void use_large_output_buffer();

}  // namespace sheetdump
