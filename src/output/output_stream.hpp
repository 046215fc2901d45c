// Standard output through a buffer of the stream's own, handed to stdio in
// large blocks with the unlocked calls (the program has one thread), so
// that writers can put their fields straight into it. A failed write is
// noticed when a block is handed on and ends the run with a message.
#pragma once

#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

namespace sheetdump {

class OutputStream {
 public:
  // The most that room() hands out at once.
  static constexpr size_t kMaxRoom = size_t(64) << 10;

  explicit OutputStream(std::FILE* f);
  // Hands what is still pending to the file (without judging the write:
  // flush() is the call that reports).
  ~OutputStream();
  OutputStream(const OutputStream&) = delete;
  OutputStream& operator=(const OutputStream&) = delete;

  void put(char c) {
    if (cur_ == end_) drain();
    *cur_++ = c;
  }
  void write(std::string_view s) {
    if (s.size() <= size_t(end_ - cur_)) {
      std::memcpy(cur_, s.data(), s.size());
      cur_ += s.size();
    } else {
      write_long(s);
    }
  }
  void end_line() { put('\n'); }
  // A whole line, which must end with its line feed.
  void write_line(std::string_view line) { write(line); }
  // At least `n` (at most kMaxRoom) writable bytes; commit() says how far
  // they were filled.
  char* room(size_t n) {
    if (size_t(end_ - cur_) < n) drain();
    return cur_;
  }
  void commit(char* end) { cur_ = end; }
  // Writes out everything buffered; a failure ends the run.
  void flush();
  std::FILE* file() const { return f_; }

 private:
  void drain();
  void write_long(std::string_view s);
  [[noreturn]] void fail();

  std::FILE* f_;
  std::unique_ptr<char[]> buf_;
  char* cur_;
  char* end_;
};

// Gives standard output a large buffer; call before anything is written.
void use_large_output_buffer();

}  // namespace sheetdump
