// FileBytes::open gives a file's bytes exactly (mapped or read), and nothing for what cannot be
// read as a file: the driver turns that into the open-failure message.
#include "base/file_bytes.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "support/run_program.hpp"

namespace sheetdump {
namespace {

using Bytes = std::vector<uint8_t>;

// The file's bytes through FileBytes, or none.
std::optional<Bytes> read_file(const std::string& path) {
  auto f = FileBytes::open(path);
  if (!f) return std::nullopt;
  auto b = f->bytes();
  return Bytes(b.begin(), b.end());
}

TEST(FileBytesOpen, GivesEveryByte) {
  // Sizes around the sizes of the read buffer, and large ones (an odd size
  // too).
  for (size_t size :
       {size_t(0), size_t(1), size_t(512), size_t(65535), size_t(65536), size_t(65537),
        size_t(1) << 20, (size_t(8) << 20) - 1, size_t(8) << 20, (size_t(8) << 20) + 3}) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = uint8_t(i * 31 + i / 256);
    std::string path = testsupport::write_temp_file("f.xls", bytes);
    auto got = read_file(path);
    ASSERT_TRUE(got.has_value()) << size;
    EXPECT_TRUE(*got == bytes) << size;
  }
}

// A file's bytes as a test can tell them apart.
Bytes patterned(size_t size) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = uint8_t(i * 7 + i / 4096 + 1);
  return bytes;
}

TEST(FileBytesOpen, FilesReadWholeAndFilesMappedGiveEveryByte) {
  // Either side of the size up to which a regular file is read rather
  // than mapped.
  for (size_t size : {FileBytes::kReadWhole - 1, FileBytes::kReadWhole, FileBytes::kReadWhole + 1,
                      FileBytes::kReadWhole + 4097}) {
    Bytes bytes = patterned(size);
    std::string path = testsupport::write_temp_file("big.xls", bytes);
    auto got = read_file(path);
    ASSERT_TRUE(got.has_value()) << size;
    EXPECT_TRUE(*got == bytes) << size;
    std::filesystem::remove(path);
  }
}

TEST(FileBytesRelease, BytesFromTheOffsetOnStayAsRead) {
  // Read whole, mapped, and given as a buffer; offsets inside a page,
  // on a 2 MiB boundary, at and past the end.
  const size_t read_size = size_t(5) << 20;
  const size_t mapped_size = FileBytes::kReadWhole + (size_t(3) << 20);
  for (size_t size : {read_size, mapped_size}) {
    Bytes bytes = patterned(size);
    std::string path = testsupport::write_temp_file("release.xls", bytes);
    for (size_t offset : {size_t(100), size_t(2) << 20, (size_t(4) << 20) + 5, size, size + 1}) {
      auto f = FileBytes::open(path);
      ASSERT_TRUE(f.has_value());
      f->release_before(offset);
      auto b = f->bytes();
      ASSERT_EQ(b.size(), size);
      const size_t from = std::min(offset, size);
      EXPECT_TRUE(std::equal(b.begin() + ptrdiff_t(from), b.end(), bytes.begin() + ptrdiff_t(from)))
          << size << " " << offset;
      // Releasing again, further on, and then less far, is harmless.
      f->release_before(offset + 4096);
      f->release_before(offset / 2);
      const size_t later = std::min(offset + 4096, size);
      EXPECT_TRUE(
          std::equal(b.begin() + ptrdiff_t(later), b.end(), bytes.begin() + ptrdiff_t(later)));
    }
    std::filesystem::remove(path);
  }
  FileBytes given(patterned(read_size));
  given.release_before(size_t(3) << 20);
  auto b = given.bytes();
  Bytes want = patterned(read_size);
  EXPECT_TRUE(std::equal(b.begin() + (3 << 20), b.end(), want.begin() + (3 << 20)));
}

TEST(FileBytesRelease, ReleasingInStepsGivesBackEveryWholePiece) {
  // Read whole (8 MiB), released a little at a time as the loader does:
  // every whole 2 MiB piece before the last offset is given back (and reads
  // as zeros), wherever the first release ended; at least two such pieces
  // lie in the first 7 MiB however the buffer is placed.
  Bytes bytes = patterned(size_t(8) << 20);
  std::string path = testsupport::write_temp_file("steps.xls", bytes);
  auto f = FileBytes::open(path);
  ASSERT_TRUE(f.has_value());
  for (size_t offset = size_t(3) << 19; offset <= (size_t(7) << 20); offset += size_t(3) << 18)
    f->release_before(offset);
  auto b = f->bytes();
  const auto zeros = size_t(std::count(b.begin(), b.begin() + (7 << 20), uint8_t(0)));
  EXPECT_GE(zeros, size_t(4) << 20);
  EXPECT_TRUE(std::equal(b.begin() + (7 << 20), b.end(), bytes.begin() + (7 << 20)));
  std::filesystem::remove(path);
}

TEST(FileBytesRelease, MappedPagesGivenBackReadAsZerosAndTheFileStays) {
  // A mapped file whose bytes are changed (as the compound-file layer
  // lays a stream out) and released in steps: the whole pages before the
  // last offset read as zeros, the rest as changed or as read, and the
  // file on disk keeps its own bytes.
  const size_t size = FileBytes::kReadWhole + (size_t(3) << 20) + 123;
  const size_t page = size_t(::sysconf(_SC_PAGESIZE));
  Bytes bytes = patterned(size);
  std::string path = testsupport::write_temp_file("mapped.xls", bytes);
  {
    auto f = FileBytes::open(path);
    ASSERT_TRUE(f.has_value());
    auto b = f->bytes();
    ASSERT_EQ(b.size(), size);
    Bytes want = bytes;
    for (size_t i = 0; i < size; i += 4096 + 17) b[i] = want[i] = uint8_t(~want[i]);
    size_t last = 0;
    for (size_t offset :
         {size_t(100), page + 1, size_t(1) << 20, (size_t(2) << 20) + 5, size - 1, size + 4096}) {
      f->release_before(offset);
      last = std::min(offset, size) / page * page;
    }
    f->release_before(page);  // less far: harmless
    EXPECT_EQ(size_t(std::count(b.begin(), b.begin() + ptrdiff_t(last), uint8_t(0))), last);
    EXPECT_TRUE(std::equal(b.begin() + ptrdiff_t(last), b.end(), want.begin() + ptrdiff_t(last)));
  }
  auto again = read_file(path);
  ASSERT_TRUE(again.has_value());
  EXPECT_TRUE(*again == bytes);
  std::filesystem::remove(path);
}

TEST(FileBytesOpen, MissingPathGivesNothing) {
  std::string path = testsupport::write_temp_file("present.xls", {1, 2, 3});
  std::string dir = std::filesystem::path(path).parent_path().string();
  EXPECT_FALSE(read_file(dir + "/absent.xls").has_value());
  EXPECT_FALSE(read_file(path + "/below_a_file").has_value());
  EXPECT_FALSE(read_file("").has_value());
}

TEST(FileBytesOpen, DirectoryGivesNothing) {
  std::string path = testsupport::write_temp_file("x.xls", {1});
  std::string dir = std::filesystem::path(path).parent_path().string();
  EXPECT_FALSE(read_file(dir).has_value());
  EXPECT_FALSE(read_file(dir + "/").has_value());
  EXPECT_FALSE(read_file("/").has_value());
}

TEST(FileBytesOpen, UnreadableFileGivesNothing) {
  if (::geteuid() == 0) GTEST_SKIP() << "root can read any file";
  std::string path = testsupport::write_temp_file("locked.xls", {1, 2, 3});
  ASSERT_EQ(::chmod(path.c_str(), 0), 0);
  EXPECT_FALSE(read_file(path).has_value());
}

TEST(FileBytesOpen, CharacterDeviceIsReadToItsEnd) {
  auto got = read_file("/dev/null");
  ASSERT_TRUE(got.has_value());
  EXPECT_TRUE(got->empty());
}

TEST(FileBytesOpen, FifoIsReadToItsEnd) {
  std::string anchor = testsupport::write_temp_file("anchor", {});
  std::string fifo = std::filesystem::path(anchor).parent_path().string() + "/pipe.xls";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // A writer in another process fills the pipe with more than one buffer.
  std::string script = "head -c 200000 /dev/zero | tr '\\0' 'a' > " + fifo;
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::execl("/bin/sh", "sh", "-c", script.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  auto got = read_file(fifo);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(got->size(), 200000u);
  EXPECT_TRUE(*got == Bytes(200000, 'a'));
}

}  // namespace
}  // namespace sheetdump
