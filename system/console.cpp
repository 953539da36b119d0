// The console library: standard output, the title, printed lines, the close
// event and delays.
#include "system/console.h"

#include <atomic>
#include <cstring>

#include "system/platform.h"

namespace qg {

namespace {

// Standard output as taken by ConsoleStartup; 0 before and after.
std::atomic<Handle> standardOutput{0};
// Set by the first SleepMilliseconds; the timer resolution stays raised.
std::atomic<bool> resolutionRaised{false};
// The program's end routine, run by the close event.
std::atomic<void (*)()> closeRoutine{nullptr};

}  // namespace

void SetConsoleCloseRoutine(void (*routine)()) {
  closeRoutine.store(routine, std::memory_order_release);
}

int ConsoleStartup(const char* title) {
  standardOutput.store(Sys().GetStdHandle(STD_OUTPUT), std::memory_order_release);
  Sys().SetConsoleCtrlHandler(ConsoleCloseHandler, true);
  if (title && *title) Sys().SetConsoleTitleA(title);
  return 1;
}

int SetConsoleTitleText(const char* text) {
  return Sys().SetConsoleTitleA(text ? text : "") ? 1 : 0;
}

// The standard output handle belongs to the process, not to this library:
// it is forgotten, not closed. The close-event handler stays installed.
void ConsoleShutdown() { standardOutput.store(0, std::memory_order_release); }

int PrintLine(const char* text) {
  std::size_t length = text ? std::strlen(text) : 0;
  std::size_t count = length + 2;
  char* line = static_cast<char*>(Sys().HeapAlloc(count + 1, false));
  if (!line) return 0;
  if (length) std::memcpy(line, text, length);
  line[length] = '\r';
  line[length + 1] = '\n';
  line[length + 2] = 0;
  WriteConsoleText(line, static_cast<std::uint32_t>(count));
  Sys().FlushFileBuffers(standardOutput.load(std::memory_order_acquire));
  return Sys().HeapFree(line) ? 1 : 0;
}

int WriteConsoleText(const void* bytes, std::uint32_t count) {
  Handle output = standardOutput.load(std::memory_order_acquire);
  std::uint32_t written = 0;
  if (Sys().WriteConsoleA(output, bytes, count, &written)) return 1;
  // Not a console: standard output goes to a file or a pipe.
  return Sys().WriteFile(output, bytes, count, &written) ? 1 : 0;
}

void SleepMilliseconds(std::uint32_t milliseconds) {
  if (!resolutionRaised.exchange(true, std::memory_order_acq_rel)) Sys().timeBeginPeriod(1);
  Sys().Sleep(milliseconds);
}

int ConsoleCloseHandler(std::uint32_t event) {
  if (event == CTRL_CLOSE) {
    if (void (*routine)() = closeRoutine.load(std::memory_order_acquire)) routine();
  }
  return 0;
}

}  // namespace qg
