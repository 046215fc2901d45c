#include "output/output_stream.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

namespace sheetdump {

namespace {

// The stream's own buffer: large enough that stdio sees few, large writes.
constexpr size_t kBufferSize = size_t(256) << 10;
static_assert(OutputStream::kMaxRoom <= kBufferSize);
// A memory text grows by at least this much at a time.
constexpr size_t kTextStep = size_t(256) << 10;
static_assert(OutputStream::kMaxRoom <= kTextStep);

}  // namespace

void MemoryText::reserve(size_t n) {
  if (n <= capacity_) return;
  auto bigger = std::make_unique_for_overwrite<char[]>(n);
  if (size_ > 0) std::memcpy(bigger.get(), data_.get(), size_);
  data_ = std::move(bigger);
  capacity_ = n;
}

void MemoryText::append(std::string_view s) {
  make_room(s.size());
  if (!s.empty()) std::memcpy(data_.get() + size_, s.data(), s.size());
  size_ += s.size();
}

OutputStream::OutputStream(std::FILE* f, OnError on_error)
    : f_(f), on_error_(on_error), buf_(std::make_unique_for_overwrite<char[]>(kBufferSize)) {
  cur_ = buf_.get();
  end_ = buf_.get() + kBufferSize;
}

OutputStream::OutputStream(std::string& sink)
    : f_(nullptr),
      sink_(&sink),
      on_error_(OnError::Record),
      buf_(std::make_unique_for_overwrite<char[]>(kBufferSize)) {
  cur_ = buf_.get();
  end_ = buf_.get() + kBufferSize;
}

OutputStream::OutputStream(MemoryText& text)
    : f_(nullptr), text_(&text), on_error_(OnError::Record) {
  text.make_room(kTextStep);
  place();
}

OutputStream::~OutputStream() {
  if (text_ != nullptr) {
    settle();
    return;
  }
  size_t n = size_t(cur_ - buf_.get());
  if (n == 0) return;
  if (sink_ != nullptr)
    sink_->append(buf_.get(), n);
  else
    hand_on(buf_.get(), n);
}

void OutputStream::settle() { text_->size_ = size_t(cur_ - text_->data_.get()); }

void OutputStream::place() {
  cur_ = text_->data_.get() + text_->size_;
  end_ = text_->data_.get() + text_->capacity_;
}

// Hands n bytes at p to the file: straight to its descriptor, after
// whatever stdio still holds for it, so that the bytes are not copied once
// more into stdio's buffer; through stdio for a stream without a
// descriptor (a memory stream). False on a failed write.
bool OutputStream::hand_on(const char* p, size_t n) {
  const int fd = fileno_unlocked(f_);
  if (fd < 0) return fwrite_unlocked(p, 1, n, f_) == n;
  if (fflush_unlocked(f_) != 0) return false;
  while (n > 0) {
    ssize_t done = ::write(fd, p, n);
    if (done < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += done;
    n -= size_t(done);
  }
  return true;
}

void OutputStream::drain() {
  if (text_ != nullptr) {
    // Room at the end of the text itself: no copy through a buffer.
    settle();
    text_->make_room(kTextStep);
    place();
    return;
  }
  size_t n = size_t(cur_ - buf_.get());
  cur_ = buf_.get();
  if (sink_ != nullptr) {
    sink_->append(buf_.get(), n);
    return;
  }
  if (n > 0 && !hand_on(buf_.get(), n)) fail();
  if (f_ != nullptr && ferror_unlocked(f_)) fail();
}

void OutputStream::write_block(std::string_view s) {
  // A short run is copied in; a long one is not, even where it would fit.
  if (s.size() <= size_t(end_ - cur_) && (s.size() < kMaxRoom || f_ == nullptr)) {
    write(s);
    return;
  }
  if (text_ != nullptr) {
    settle();
    text_->append(s);
    place();
    return;
  }
  drain();
  if (sink_ != nullptr) {
    sink_->append(s);
    return;
  }
  if (!s.empty() && !hand_on(s.data(), s.size())) fail();
}

void OutputStream::write_long(std::string_view s) {
  while (!s.empty()) {
    if (cur_ == end_) drain();
    size_t n = std::min(s.size(), size_t(end_ - cur_));
    std::memcpy(cur_, s.data(), n);
    cur_ += n;
    s.remove_prefix(n);
  }
}

void OutputStream::flush() {
  if (text_ != nullptr) {
    settle();
    return;
  }
  drain();
  if (sink_ != nullptr) return;
  if (f_ != nullptr && (std::fflush(f_) != 0 || ferror_unlocked(f_))) fail();
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
