// Running out of memory ends the program with its fixed message on standard
// output, after the output written before it, and status 1: never an
// exception or an abort. Checked in a child process whose standard output
// is a pipe.
#include <gtest/gtest.h>

#include <cstdio>
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

}  // namespace
