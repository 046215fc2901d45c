// Standard output through a buffer of the stream's own, handed on in
// large blocks straight to the file's descriptor (after anything stdio
// still holds for it), so that writers can put their fields straight into
// it and no byte is copied twice. A failed write is noticed when a block
// is handed on and ends the run with a message; a stream made with
// OnError::Record (a file of its own, among several) keeps the first
// failure's errno for its owner to report instead.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace sheetdump {

enum class OnError : uint8_t { Exit, Record };

// Text a stream gathers in memory, in storage of its own that is written
// straight into and never cleared first (a std::string clears whatever it
// grows by): for text made on one thread and written out by another.
class MemoryText {
 public:
  std::string_view view() const { return {data_.get(), size_}; }
  size_t size() const { return size_; }
  size_t capacity() const { return capacity_; }
  // Empties the text; the storage stays for the next.
  void clear() { size_ = 0; }
  // Room for `n` bytes in all, what is there kept.
  void reserve(size_t n);
  // Room for `n` bytes more: at least twice the storage when it grows, so
  // that a text grown a little at a time is copied seldom.
  void make_room(size_t n) {
    if (n > capacity_ - size_) reserve(std::max(capacity_ * 2, size_ + n));
  }
  void append(std::string_view s);

 private:
  friend class OutputStream;
  std::unique_ptr<char[]> data_;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

class OutputStream {
 public:
  // The most that room() hands out at once.
  static constexpr size_t kMaxRoom = size_t(64) << 10;

  explicit OutputStream(std::FILE* f, OnError on_error = OnError::Exit);
  // A stream into memory: what is written is appended to `sink`, which
  // holds it all (and no more) once the stream is flushed or gone.
  explicit OutputStream(std::string& sink);
  // The same into `text`, written straight into its storage.
  explicit OutputStream(MemoryText& text);
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
  // A long run of bytes made elsewhere: what is buffered, then the run
  // itself, handed on without a copy through the buffer.
  void write_block(std::string_view s);
  // A whole line, which must end with its line feed.
  void write_line(std::string_view line) { write(line); }
  // At least `n` (at most kMaxRoom) writable bytes; commit() says how far
  // they were filled.
  char* room(size_t n) {
    if (size_t(end_ - cur_) < n) drain();
    return cur_;
  }
  void commit(char* end) { cur_ = end; }
  // Writes out everything buffered; a failure ends the run (or is
  // recorded).
  void flush();
  // A stream into a MemoryText: the size of the text with what is written
  // so far.
  size_t text_size() const { return size_t(cur_ - text_->data_.get()); }
  // With OnError::Record: whether a write failed, and its errno (0 when
  // the system gave none).
  bool failed() const { return failed_; }
  int error() const { return error_; }
  std::FILE* file() const { return f_; }

 private:
  void drain();
  void settle();  // a memory text's size set to what was written
  void place();   // the room of the stream: the memory text's after its size
  bool hand_on(const char* p, size_t n);
  void write_long(std::string_view s);
  void fail();

  std::FILE* f_;
  std::string* sink_ = nullptr;
  MemoryText* text_ = nullptr;
  OnError on_error_;
  bool failed_ = false;
  int error_ = 0;
  std::unique_ptr<char[]> buf_;
  char* cur_;
  char* end_;
};

// Gives standard output a large buffer; call before anything is written.
void use_large_output_buffer();

}  // namespace sheetdump
