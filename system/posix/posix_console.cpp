// The console on POSIX: the standard streams of the process. There is no
// console window to find or hide; the console of a POSIX process is its
// terminal, if it has one.
//
// Close event. Closing a terminal sends SIGHUP to the processes of its
// session. Installing the first control routine blocks SIGHUP in the calling
// thread (threads made later inherit that) and starts a watcher thread that
// takes it with sigwait, so the routines never run inside a signal handler.
// On SIGHUP the watcher calls the routines with CTRL_CLOSE, last-added first,
// until one returns non-zero, and then ends the process as an unhandled
// hang-up does, by SIGHUP itself (exit code 128 + SIGHUP should that fail).
// As on Windows, the process ends after a close event however the routines
// answer. Install the first routine before other threads are made: a thread
// that does not block SIGHUP would take the signal's default action instead.
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>

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

namespace {

// Writes all of `bytes` to `fd`; false when the descriptor refuses them.
bool WriteAll(int fd, const char* bytes, std::size_t count) {
  while (count) {
    ssize_t done = ::write(fd, bytes, count);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    bytes += done;
    count -= static_cast<std::size_t>(done);
  }
  return true;
}

}  // namespace

bool PosixPlatform::SetConsoleCtrlHandler(ConsoleCtrlRoutine routine, bool add) {
  // A null routine stands for "ignore CTRL+C"; this layer raises no CTRL+C
  // event, so there is nothing to change.
  if (!routine) return true;
  std::lock_guard<std::mutex> lock(consoleMutex_);
  if (!add) {
    auto found = std::find(ctrlRoutines_.rbegin(), ctrlRoutines_.rend(), routine);
    if (found == ctrlRoutines_.rend()) return false;
    ctrlRoutines_.erase(std::next(found).base());
    return true;
  }
  if (!closeWatcherStarted_) {
    sigset_t hangUp;
    sigemptyset(&hangUp);
    sigaddset(&hangUp, SIGHUP);
    if (::pthread_sigmask(SIG_BLOCK, &hangUp, nullptr) != 0) return false;
    try {
      std::thread([this, hangUp] {
        for (;;) {
          int signal = 0;
          if (::sigwait(&hangUp, &signal) == 0 && signal == SIGHUP) DeliverCloseEvent();
        }
      }).detach();
    } catch (...) {
      return false;
    }
    closeWatcherStarted_ = true;
  }
  ctrlRoutines_.push_back(routine);
  return true;
}

void PosixPlatform::DeliverCloseEvent() {
  std::vector<ConsoleCtrlRoutine> routines;
  {
    std::lock_guard<std::mutex> lock(consoleMutex_);
    routines = ctrlRoutines_;
  }
  for (auto routine = routines.rbegin(); routine != routines.rend(); ++routine) {
    if ((*routine)(CTRL_CLOSE)) break;
  }
  // The default handling of a hang-up: the process ends by the signal.
  std::fflush(nullptr);
  ::signal(SIGHUP, SIG_DFL);
  sigset_t hangUp;
  sigemptyset(&hangUp);
  sigaddset(&hangUp, SIGHUP);
  ::pthread_kill(::pthread_self(), SIGHUP);
  ::pthread_sigmask(SIG_UNBLOCK, &hangUp, nullptr);
  ::_exit(128 + SIGHUP);
}

// The terminal's title sequence, ESC ] 0 ; title BEL, sent only when standard
// output is a terminal. Control bytes in the title, which could end the
// sequence early, are shown as "?".
bool PosixPlatform::SetConsoleTitleA(const char* title) {
  if (!::isatty(STDOUT_FILENO)) return false;
  std::string sequence = "\x1b]0;";
  for (const char* p = title ? title : ""; *p; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    bool control = c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F);
    sequence += control ? '?' : *p;
  }
  sequence += '\a';
  std::lock_guard<std::mutex> lock(consoleMutex_);
  return WriteAll(STDOUT_FILENO, sequence.data(), sequence.size());
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

void PosixPlatform::GetLocalTime(SystemTime* time) {
  if (!time) return;
  struct timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  struct tm local {};
  ::localtime_r(&now.tv_sec, &local);
  time->wYear = static_cast<std::uint16_t>(local.tm_year + 1900);
  time->wMonth = static_cast<std::uint16_t>(local.tm_mon + 1);
  time->wDayOfWeek = static_cast<std::uint16_t>(local.tm_wday);
  time->wDay = static_cast<std::uint16_t>(local.tm_mday);
  time->wHour = static_cast<std::uint16_t>(local.tm_hour);
  time->wMinute = static_cast<std::uint16_t>(local.tm_min);
  time->wSecond = static_cast<std::uint16_t>(local.tm_sec);
  time->wMilliseconds = static_cast<std::uint16_t>(now.tv_nsec / 1000000);
}

void PosixPlatform::ExitProcess(std::uint32_t code) {
  std::fflush(nullptr);
  ::_exit(static_cast<int>(code));
}

}  // namespace qg
