// The output stream: bytes pass through unchanged, a failed write ends the
// run with one message and status 1, and a reader that went away ends it
// quietly. The failure cases run the built program with its standard
// output on /dev/full or on a pipe that is closed early.
#include "output/output_stream.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string example(const char* name) {
  return std::string(SHEETDUMP_SOURCE_DIR) + "/examples/" + name;
}

// ---------------------------------------------------------------------
// In process.

// Everything in the temporary file `f`, which it closes.
std::string read_back(std::FILE* f) {
  std::string got;
  if (std::fflush(f) != 0) got = "<fflush failed>";
  std::rewind(f);
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) got.append(chunk, n);
  std::fclose(f);
  return got;
}

TEST(OutputStream, PassesBytesThroughUnchanged) {
  char* data = nullptr;
  size_t size = 0;
  std::FILE* mem = open_memstream(&data, &size);
  ASSERT_NE(mem, nullptr);
  {
    sheetdump::OutputStream out(mem);
    EXPECT_EQ(out.file(), mem);
    out.put('"');
    out.write("a");
    out.write(std::string_view("\0z\t\r", 4));
    out.write("");
    out.end_line();
    out.end_line();
    out.flush();
  }
  std::fclose(mem);
  std::string s(data, size);
  std::free(data);
  EXPECT_EQ(s, std::string("\"a\0z\t\r\n\n", 8));
}

// Blocks go straight to the descriptor: what stdio still holds for the
// same file must come out before them, and what follows a flush after.
TEST(OutputStream, BlocksToTheDescriptorKeepTheOrderOfStdioOutput) {
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  std::fputs("before|", f);  // still in stdio's buffer
  std::string expected = "before|";
  {
    sheetdump::OutputStream out(f);
    // More than one block of the stream's own buffer, with odd sizes.
    for (int i = 0; i < 40000; ++i) {
      std::string piece = std::to_string(i) + (i % 7 == 0 ? "\n" : ",");
      out.write(piece);
      expected += piece;
    }
    out.flush();
  }
  std::fputs("|after", f);
  expected += "|after";
  EXPECT_EQ(read_back(f), expected);
}

// Memory streams, into a string or a MemoryText, from empty or after text
// already there: what each write put, in order, across the growth of the
// storage (many small writes, room() and commit(), blocks longer than any
// step), and a second stream on the same text goes on after the first.
TEST(OutputStream, MemoryStreamsHoldEveryByteInOrder) {
  struct Case {
    const char* name;
    size_t reserve;  // MemoryText::reserve before the first stream
    std::string before;
  };
  const Case cases[] = {
      {"empty", 0, ""},
      {"small reserve", 10, ""},
      {"text there", 0, std::string("ab\0c", 4)},
      {"large reserve", size_t(4) << 20, "x"},
  };
  for (const Case& c : cases) {
    std::string expected = c.before;
    std::string in_string = c.before;
    sheetdump::MemoryText text;
    text.reserve(c.reserve);
    text.append(c.before);
    auto write_some = [&](sheetdump::OutputStream& a, sheetdump::OutputStream& b, int round) {
      for (int i = 0; i < 30000; ++i) {
        std::string piece = std::to_string(i * 7 + round) + (i % 9 == 0 ? "\n" : ",");
        a.write(piece);
        b.write(piece);
        if (round == 0) expected += piece;
        if (i % 5000 == 0) {
          for (sheetdump::OutputStream* s : {&a, &b}) {
            char* p = s->room(sheetdump::OutputStream::kMaxRoom);
            std::memset(p, 'r', 100);
            s->commit(p + 100);
          }
          if (round == 0) expected.append(100, 'r');
        }
      }
      const std::string block(size_t(600) << 10, char('A' + round));
      a.write_block(block);
      b.write_block(block);
      if (round == 0) expected += block;
      a.write("");
      b.write("");
    };
    {
      sheetdump::OutputStream a(in_string);
      sheetdump::OutputStream b(text);
      write_some(a, b, 0);
      a.flush();
      b.flush();
      EXPECT_EQ(in_string, expected) << c.name;
      EXPECT_EQ(text.view(), expected) << c.name;
      EXPECT_GE(text.capacity(), text.size()) << c.name;
    }
    // Gone without a flush: the string and the text still hold it all.
    {
      sheetdump::OutputStream a(in_string);
      sheetdump::OutputStream b(text);
      for (int i = 0; i < 1000; ++i) {
        a.write("tail,");
        b.write("tail,");
        expected += "tail,";
      }
    }
    EXPECT_EQ(in_string, expected) << c.name;
    EXPECT_EQ(text.view(), expected) << c.name;
    // Cleared, the text keeps its storage and takes new text from the start.
    const size_t capacity = text.capacity();
    text.clear();
    {
      sheetdump::OutputStream b(text);
      b.write("again");
    }
    EXPECT_EQ(text.view(), "again") << c.name;
    EXPECT_EQ(text.capacity(), capacity) << c.name;
  }
}

// Blocks of every size around the buffer's room, between short writes:
// short ones are copied in, long ones handed on straight after what is
// buffered, and either way the file holds them in order.
TEST(OutputStream, BlocksOfEverySizeKeepTheirPlace) {
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  std::string expected;
  {
    sheetdump::OutputStream out(f);
    const size_t room = sheetdump::OutputStream::kMaxRoom;
    for (size_t size :
         {size_t(0), size_t(1), room - 1, room, room + 1, size_t(100) << 10, size_t(300) << 10}) {
      const std::string block(size, char('a' + size % 26));
      out.write("<");
      out.write_block(block);
      out.write(">");
      expected += "<" + block + ">";
    }
    out.flush();
  }
  const std::string got = read_back(f);
  EXPECT_TRUE(got == expected) << got.size() << " " << expected.size();
}

TEST(OutputStreamDeathTest, FullDeviceEndsTheRunWithOneMessage) {
  EXPECT_EXIT(
      {
        std::FILE* f = std::fopen("/dev/full", "w");
        if (f == nullptr) std::_Exit(99);
        sheetdump::OutputStream out(f);
        for (int i = 0; i < 100000; ++i) {
          out.write("some text that does not fit");
          out.end_line();
        }
        out.flush();
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(1), "^sheetdump: error writing output: No space left on device\n$");
}

TEST(OutputStreamDeathTest, FailureAtTheFinalFlushIsReported) {
  EXPECT_EXIT(
      {
        std::FILE* f = std::fopen("/dev/full", "w");
        if (f == nullptr) std::_Exit(99);
        sheetdump::OutputStream out(f);
        out.write("short");  // stays in the buffer until the flush
        out.end_line();
        out.flush();
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(1), "^sheetdump: error writing output: No space left on device\n$");
}

TEST(OutputStreamDeathTest, ClosedPipeEndsTheRunQuietly) {
  // With SIGPIPE ignored the write fails with EPIPE: status 1, no message.
  EXPECT_EXIT(
      {
        ::signal(SIGPIPE, SIG_IGN);
        int fds[2];
        if (pipe(fds) != 0) std::_Exit(99);
        close(fds[0]);
        std::FILE* f = fdopen(fds[1], "w");
        if (f == nullptr) std::_Exit(99);
        sheetdump::OutputStream out(f);
        for (int i = 0; i < 100000; ++i) {
          out.write("line");
          out.end_line();
        }
        out.flush();
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(1), "^$");
}

// ---------------------------------------------------------------------
// The built program.

struct Outcome {
  std::string err;
  std::string out_head;  // what was read from a pipe on standard output
  int status = -1;       // exit status, -1 when ended by a signal
  int signal = 0;
};

enum class Sink { kDevFull, kPipeClosedEarly, kClosed };

// Runs sheetdump with `args`, standard output on `sink`, standard error
// captured. With kPipeClosedEarly the reading end is closed after a few
// bytes have been read; with kClosed the program starts without a
// standard output.
Outcome run(const std::vector<std::string>& args, Sink sink, bool ignore_sigpipe) {
  Outcome o;
  int err_pipe[2];
  int out_pipe[2] = {-1, -1};
  if (pipe2(err_pipe, O_CLOEXEC) != 0) return o;
  int out_fd = -1;
  if (sink == Sink::kDevFull) {
    out_fd = open("/dev/full", O_WRONLY | O_CLOEXEC);
  } else if (sink == Sink::kClosed) {
    out_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);  // a stand-in, closed in the child
  } else {
    if (pipe2(out_pipe, O_CLOEXEC) != 0) return o;
    out_fd = out_pipe[1];
  }
  int in_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (out_fd < 0 || in_fd < 0) return o;

  std::vector<char*> argv;
  std::string program = SHEETDUMP_BINARY;
  argv.push_back(program.data());
  std::vector<std::string> copies = args;
  for (std::string& a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);

  struct sigaction pipe_action {};
  pipe_action.sa_handler = ignore_sigpipe ? SIG_IGN : SIG_DFL;
  sigemptyset(&pipe_action.sa_mask);

  pid_t pid = fork();
  if (pid == 0) {
    // Only async-signal-safe calls from here on.
    sigaction(SIGPIPE, &pipe_action, nullptr);
    // dup2 leaves the new descriptors open across exec; every other
    // descriptor of ours closes there.
    if (dup2(in_fd, 0) < 0 || dup2(out_fd, 1) < 0 || dup2(err_pipe[1], 2) < 0) _exit(127);
    if (sink == Sink::kClosed) close(1);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(err_pipe[1]);
  close(in_fd);
  close(out_fd);
  if (pid < 0) {
    close(err_pipe[0]);
    if (out_pipe[0] >= 0) close(out_pipe[0]);
    return o;
  }
  if (out_pipe[0] >= 0) {
    char head[16];
    size_t got = 0;
    while (got < sizeof head) {
      ssize_t n = read(out_pipe[0], head + got, sizeof head - got);
      if (n <= 0) break;
      got += size_t(n);
    }
    o.out_head.assign(head, got);
    close(out_pipe[0]);
  }
  char buf[4096];
  for (;;) {
    ssize_t n = read(err_pipe[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    o.err.append(buf, size_t(n));
  }
  close(err_pipe[0]);
  int wstatus = 0;
  while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {}
  if (WIFEXITED(wstatus)) o.status = WEXITSTATUS(wstatus);
  if (WIFSIGNALED(wstatus)) o.signal = WTERMSIG(wstatus);
  return o;
}

const char kFullMessage[] = "sheetdump: error writing output: No space left on device\n";

TEST(OutputErrors, FullDeviceGivesOneLineAndStatusOne) {
  const std::vector<std::vector<std::string>> runs = {
      {example("basic.xls")},
      {"--tab", example("basic.xls")},
      {"--sql", "--isodate", example("basic.xls")},
      {"--sql", "--postgres", example("basic.xls"), example("basic.xls")},
  };
  for (const auto& args : runs) {
    Outcome o = run(args, Sink::kDevFull, false);
    EXPECT_EQ(o.err, kFullMessage) << args[0];
    EXPECT_EQ(o.status, 1) << args[0];
    EXPECT_EQ(o.signal, 0) << args[0];
  }
}

TEST(OutputErrors, FullDeviceStopsTheConversionEarly) {
  // More output than the stream's buffer holds, so the failure is met in
  // the middle of the conversion, not only at the end.
  std::vector<std::string> args;
  for (int i = 0; i < 60; ++i) args.push_back(example("datasets.xls"));
  Outcome o = run(args, Sink::kDevFull, false);
  EXPECT_EQ(o.err, kFullMessage);
  EXPECT_EQ(o.status, 1);
}

TEST(OutputErrors, ClosedStandardOutputGivesOneLineAndStatusOne) {
  Outcome o = run({"--csv", example("basic.xls")}, Sink::kClosed, false);
  EXPECT_EQ(o.err, "sheetdump: error writing output: Bad file descriptor\n");
  EXPECT_EQ(o.status, 1);
}

TEST(OutputErrors, ReaderThatGoesAwayEndsTheRunQuietly) {
  std::vector<std::string> args;
  for (int i = 0; i < 100; ++i) args.push_back(example("datasets.xls"));
  for (bool ignored : {false, true}) {
    SCOPED_TRACE(ignored ? "SIGPIPE ignored" : "SIGPIPE default");
    Outcome o = run(args, Sink::kPipeClosedEarly, ignored);
    EXPECT_EQ(o.out_head.size(), 16u);
    EXPECT_EQ(o.err, "");
    if (ignored) {
      EXPECT_EQ(o.status, 1);
      EXPECT_EQ(o.signal, 0);
    } else {
      EXPECT_EQ(o.signal, SIGPIPE);
    }
  }
}

}  // namespace
