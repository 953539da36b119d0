// The console on POSIX: the standard streams of the process. There is no
// console window to find or hide; the console of a POSIX process is its
// terminal, if it has one.
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "system/posix/posix_platform.h"

namespace qg {

Handle PosixPlatform::GetStdHandle(std::uint32_t which) {
  int index = which == STD_INPUT ? 0 : which == STD_OUTPUT ? 1 : which == STD_ERROR ? 2 : -1;
  if (index < 0) return 0;
  std::lock_guard<std::mutex> lock(consoleMutex_);
  if (!standard_[index]) {
    // A duplicate, so that closing the handle leaves the stream itself open.
    int fd = ::fcntl(index, F_DUPFD_CLOEXEC, 3);
    if (fd < 0) return 0;
    standard_[index] = handles_.Add(std::make_shared<FileObject>(fd));
  }
  return standard_[index];
}

bool PosixPlatform::SetConsoleCtrlHandler(ConsoleCtrlRoutine routine, bool add) {
  std::lock_guard<std::mutex> lock(consoleMutex_);
  if (add) ctrlRoutine_ = routine;
  else if (ctrlRoutine_ == routine) ctrlRoutine_ = nullptr;
  return true;
}

bool PosixPlatform::SetConsoleTitleA(const char* title) {
  (void)title;
  return false;
}

// Like WriteConsoleA, this fails when the handle is not a terminal, so that
// callers fall back to a plain file write.
bool PosixPlatform::WriteConsoleA(Handle output, const void* buffer, std::uint32_t count,
                                  std::uint32_t* written) {
  if (written) *written = 0;
  int fd = DescriptorOf(output);
  if (fd < 0 || !::isatty(fd)) return false;
  return WriteFile(output, buffer, count, written);
}

Window PosixPlatform::GetConsoleWindow() { return 0; }

void PosixPlatform::Sleep(std::uint32_t milliseconds) {
  if (milliseconds == 0) {
    ::sched_yield();
    return;
  }
  struct timespec left {
    static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L
  };
  while (::nanosleep(&left, &left) != 0) {
  }
}

// POSIX timers already have fine resolution: nothing to raise.
std::uint32_t PosixPlatform::timeBeginPeriod(std::uint32_t) { return 0; }

void PosixPlatform::ExitProcess(std::uint32_t code) {
  std::fflush(nullptr);
  ::_exit(static_cast<int>(code));
}

}  // namespace qg
