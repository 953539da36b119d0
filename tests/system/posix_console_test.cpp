// The POSIX console: the title sequence on a real terminal, console writes,
// and the hang-up that stands for closing the console.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include "system/console.h"
#include "system/platform.h"
#include "tests/support/emulator.h"
#include "tests/support/temp_dir.h"

namespace qg {
namespace {

// A pseudo-terminal: what is written to its terminal side can be read back.
class Terminal {
 public:
  Terminal() {
    controller_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (controller_ < 0 || ::grantpt(controller_) != 0 || ::unlockpt(controller_) != 0) return;
    const char* name = ::ptsname(controller_);
    if (name) path_ = name;
    int side = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (side < 0) return;
    struct termios mode {};
    ::tcgetattr(side, &mode);
    ::cfmakeraw(&mode);
    ::tcsetattr(side, TCSANOW, &mode);
    terminal_ = side;
  }
  ~Terminal() {
    if (terminal_ >= 0) ::close(terminal_);
    if (controller_ >= 0) ::close(controller_);
  }
  bool Ready() const { return terminal_ >= 0; }
  int TerminalSide() const { return terminal_; }
  const std::string& Path() const { return path_; }
  // What has arrived so far.
  std::string Drain() {
    std::string got;
    char buffer[256];
    struct pollfd ready {
      controller_, POLLIN, 0
    };
    while (::poll(&ready, 1, 200) > 0) {
      ssize_t n = ::read(controller_, buffer, sizeof buffer);
      if (n <= 0) break;
      got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
  }

 private:
  int controller_ = -1;
  int terminal_ = -1;
  std::string path_;
};

// Makes standard output the given descriptor for the life of the object.
class StdoutScope {
 public:
  explicit StdoutScope(int fd) {
    std::fflush(stdout);
    saved_ = ::dup(STDOUT_FILENO);
    ::dup2(fd, STDOUT_FILENO);
  }
  ~StdoutScope() {
    ::dup2(saved_, STDOUT_FILENO);
    ::close(saved_);
  }

 private:
  int saved_;
};

TEST(PosixConsoleTest, TitleGoesToATerminalAsItsTitleSequence) {
  Terminal terminal;
  ASSERT_TRUE(terminal.Ready());
  {
    StdoutScope scope(terminal.TerminalSide());
    EXPECT_TRUE(Sys().SetConsoleTitleA("Quillgate by Dalvenor"));
    EXPECT_TRUE(
        Sys().SetConsoleTitleA("a\x07"
                               "b\x1b"
                               "c\xE9"));
  }
  EXPECT_EQ(terminal.Drain(), "\x1b]0;Quillgate by Dalvenor\x07\x1b]0;a?b?c\xE9\x07");
}

TEST(PosixConsoleTest, TitleFailsWhenStandardOutputIsNoTerminal) {
  testing::TempDir dir;
  int file = ::open(dir.Path("out").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(file, 0);
  {
    StdoutScope scope(file);
    EXPECT_FALSE(Sys().SetConsoleTitleA("Quillgate"));
  }
  ::close(file);
  EXPECT_EQ(dir.Read("out"), "");
}

TEST(PosixConsoleTest, ConsoleWritesNeedATerminal) {
  Terminal terminal;
  ASSERT_TRUE(terminal.Ready());
  Handle console =
      Sys().CreateFileA(terminal.Path().c_str(), GENERIC_WRITE_ACCESS,
                        FILE_SHARE_READ_MODE | FILE_SHARE_WRITE_MODE, Creation::OpenExisting);
  ASSERT_NE(console, 0u);
  std::uint32_t written = 0;
  EXPECT_TRUE(Sys().WriteConsoleA(console, "abc\r\n", 5, &written));
  EXPECT_EQ(written, 5u);
  EXPECT_EQ(terminal.Drain(), "abc\r\n");
  Sys().CloseHandle(console);

  testing::TempDir dir;
  Handle file =
      Sys().CreateFileA(dir.Path("f").c_str(), GENERIC_WRITE_ACCESS, 0, Creation::CreateAlways);
  ASSERT_NE(file, 0u);
  EXPECT_FALSE(Sys().WriteConsoleA(file, "abc", 3, &written));
  Sys().CloseHandle(file);
  EXPECT_EQ(dir.Read("f"), "");
}

// In a fresh process: the close routine is installed as the launcher does,
// a hang-up arrives while the main thread waits, and the routine runs on the
// watcher thread before the process ends by the hang-up.
std::atomic<int> routineRuns{0};
void RoutineThatReports() {
  ++routineRuns;
  std::fprintf(stderr, "close routine ran %d\n", routineRuns.load());
}

void HangUpInAFreshProcess() {
  SetConsoleCloseRoutine(RoutineThatReports);
  ConsoleStartup(nullptr);
  ::kill(::getpid(), SIGHUP);
  for (;;) ::pause();  // the hang-up ends the process
}

TEST(PosixConsoleDeathTest, HangUpRunsTheCloseRoutineOnceThenEndsTheProcess) {
  testing::UseFreshProcessDeathTests();
  EXPECT_EXIT(HangUpInAFreshProcess(), ::testing::KilledBySignal(SIGHUP), "close routine ran 1\n$");
}

}  // namespace
}  // namespace qg
