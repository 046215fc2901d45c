// Running out of memory ends the program with its fixed message on standard
// output, after the output written before it, and status 1: never an
// exception or an abort. Checked in a child process whose standard output
// is a pipe.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "cli/alloc_or_die.hpp"

namespace {

struct ChildResult {
  std::string out;
  int status = -1;
};

template <class Fn>
ChildResult run_in_child(Fn fn) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  std::fflush(stdout);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], STDOUT_FILENO);
    close(fds[0]);
    close(fds[1]);
    fn();
    _exit(99);  // the allocation was expected not to return
  }
  close(fds[1]);
  ChildResult r;
  char buf[256];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) r.out.append(buf, size_t(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

TEST(AllocOrDie, SizesBeyondIntPrintAsTheLargestInt) {
  ChildResult r = run_in_child([] {
    std::printf("earlier output\n");
    volatile size_t huge = size_t(1) << 62;
    void* p = sheetdump::alloc_or_die(huge);
    std::printf("got %p\n", p);
  });
  EXPECT_EQ(r.out, "earlier output\nError malloc failed! Mallocing 2147483647 bytes\n");
  EXPECT_EQ(r.status, 1);
}

TEST(AllocOrDie, ContainersGoThroughTheSamePath) {
  ChildResult r = run_in_child([] {
    std::vector<char> v;
    v.reserve(size_t(1) << 46);
    std::printf("reserved %zu\n", v.capacity());
  });
  EXPECT_EQ(r.out, "Error malloc failed! Mallocing 2147483647 bytes\n");
  EXPECT_EQ(r.status, 1);
}

TEST(AllocOrDie, SmallSizesPrintExactly) {
  ChildResult r = run_in_child([] { sheetdump::die_allocation_failed(4096); });
  EXPECT_EQ(r.out, "Error malloc failed! Mallocing 4096 bytes\n");
  EXPECT_EQ(r.status, 1);
}

// Large blocks go on 2 MiB boundaries (for huge pages); they must still
// be whole, writable to their last byte and given back by free().
TEST(AllocOrDie, LargeBlocksAreWholeAlignedAndFreeable) {
  for (size_t size : {size_t(1) << 20, (size_t(1) << 20) + 1, (size_t(2) << 20) - 1,
                      size_t(2) << 20, (size_t(5) << 20) + 12345}) {
    auto* p = static_cast<unsigned char*>(sheetdump::alloc_or_die(size));
    ASSERT_NE(p, nullptr) << size;
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % (std::uintptr_t(2) << 20), 0u) << size;
    p[0] = 1;
    p[size / 2] = 2;
    p[size - 1] = 3;
    EXPECT_EQ(p[0] + p[size / 2] + p[size - 1], 6) << size;
    std::free(p);
  }
  // Below the threshold the C library's own placement stands.
  void* small = sheetdump::alloc_or_die(1000);
  ASSERT_NE(small, nullptr);
  std::free(small);
}

// A size whose rounding up to whole 2 MiB pages wraps around fails the
// same way as any other impossible size.
TEST(AllocOrDie, LargeSizeThatCannotBeRoundedUpFails) {
  ChildResult r = run_in_child([] {
    volatile size_t huge = SIZE_MAX - 100;
    void* p = sheetdump::alloc_or_die(huge);
    std::printf("got %p\n", p);
  });
  EXPECT_EQ(r.out, "Error malloc failed! Mallocing 2147483647 bytes\n");
  EXPECT_EQ(r.status, 1);
}

}  // namespace
