// FileBytes::open gives a file's bytes exactly (mapped or read), and nothing for what cannot be
// read as a file: the driver turns that into the open-failure message.
#include "base/file_bytes.hpp"

#include <gtest/gtest.h>

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
  // Sizes around the sizes of the read buffer.
  for (size_t size : {size_t(0), size_t(1), size_t(512), size_t(65535), size_t(65536),
                      size_t(65537), size_t(1) << 20}) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = uint8_t(i * 31 + i / 256);
    std::string path = testsupport::write_temp_file("f.xls", bytes);
    auto got = read_file(path);
    ASSERT_TRUE(got.has_value()) << size;
    EXPECT_TRUE(*got == bytes) << size;
  }
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
