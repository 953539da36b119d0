// The console, delays and process exit on Windows.
#include "system/windows/win32_platform.h"

#include <mmsystem.h>

#include <cstring>

namespace qg {

namespace {

using TimeBeginPeriodFunction = UINT(WINAPI*)(UINT);

// winmm.dll is not one of the system's known DLLs: imported statically, a copy
// dropped beside the program would be loaded instead of the system's. So it is
// loaded by full path from the system folder, with its own dependencies looked
// up there too; nullptr when that fails.
TimeBeginPeriodFunction LoadTimeBeginPeriod() {
  static const char kName[] = "\\winmm.dll";
  char path[MAX_PATH];
  UINT length = ::GetSystemDirectoryA(path, MAX_PATH);
  if (length == 0 || length + sizeof kName > sizeof path) return nullptr;
  std::memcpy(path + length, kName, sizeof kName);
  HMODULE winmm = ::LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!winmm) return nullptr;
  // Through the generic function type, which converts to any other.
  auto generic = reinterpret_cast<void (*)()>(::GetProcAddress(winmm, "timeBeginPeriod"));
  return reinterpret_cast<TimeBeginPeriodFunction>(generic);
}

// Windows calls handlers of its own signature; the installed routine is
// reached through this thunk.
std::atomic<ConsoleCtrlRoutine> ctrlRoutine{nullptr};

BOOL WINAPI CtrlThunk(DWORD event) {
  ConsoleCtrlRoutine routine = ctrlRoutine.load(std::memory_order_acquire);
  return routine && routine(event) ? TRUE : FALSE;
}

}  // namespace

Handle Win32Platform::GetStdHandle(std::uint32_t which) {
  return FromNative(::GetStdHandle(which));
}

// One routine at a time: installing another replaces it, and the thunk is
// registered with Windows only once.
bool Win32Platform::SetConsoleCtrlHandler(ConsoleCtrlRoutine routine, bool add) {
  if (!routine) return ::SetConsoleCtrlHandler(nullptr, add ? TRUE : FALSE) != FALSE;
  if (add) {
    ConsoleCtrlRoutine before = ctrlRoutine.exchange(routine, std::memory_order_acq_rel);
    if (before) return true;
    if (::SetConsoleCtrlHandler(CtrlThunk, TRUE)) return true;
    ctrlRoutine.store(nullptr, std::memory_order_release);
    return false;
  }
  ConsoleCtrlRoutine expected = routine;
  if (!ctrlRoutine.compare_exchange_strong(expected, nullptr, std::memory_order_acq_rel))
    return false;
  return ::SetConsoleCtrlHandler(CtrlThunk, FALSE) != FALSE;
}

bool Win32Platform::SetConsoleTitleA(const char* title) {
  return ::SetConsoleTitleA(title ? title : "") != FALSE;
}

bool Win32Platform::WriteConsoleA(Handle output, const void* buffer, std::uint32_t count,
                                  std::uint32_t* written) {
  DWORD put = 0;
  BOOL ok = ::WriteConsoleA(NativeHandle(output), buffer, count, &put, nullptr);
  if (written) *written = put;
  return ok != FALSE;
}

Window Win32Platform::GetConsoleWindow() { return FromNative(::GetConsoleWindow()); }

void Win32Platform::Sleep(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

// Without winmm the timer keeps its coarser resolution.
std::uint32_t Win32Platform::timeBeginPeriod(std::uint32_t milliseconds) {
  static const TimeBeginPeriodFunction function = LoadTimeBeginPeriod();
  return function ? function(milliseconds) : TIMERR_NOCANDO;
}

void Win32Platform::GetLocalTime(SystemTime* time) {
  if (!time) return;
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  time->wYear = now.wYear;
  time->wMonth = now.wMonth;
  time->wDayOfWeek = now.wDayOfWeek;
  time->wDay = now.wDay;
  time->wHour = now.wHour;
  time->wMinute = now.wMinute;
  time->wSecond = now.wSecond;
  time->wMilliseconds = now.wMilliseconds;
}

void Win32Platform::ExitProcess(std::uint32_t code) { ::ExitProcess(code); }

}  // namespace qg
