// The process snapshot and process termination on Windows.
#include "system/windows/win32_platform.h"

#include <tlhelp32.h>

#include <cstring>

namespace qg {

namespace {

// The size of the ANSI entry on 32-bit Windows. A caller's entry must say at
// least this much in dwSize, as Windows asks of its own.
constexpr std::uint32_t kAnsiEntrySize = 296;

bool Fetch(BOOL(WINAPI* next)(HANDLE, LPPROCESSENTRY32), Handle snapshot, ProcessEntry* entry) {
  if (!entry || entry->dwSize < kAnsiEntrySize) {
    ::SetLastError(ERROR_BAD_LENGTH);
    return false;
  }
  PROCESSENTRY32 native;
  std::memset(&native, 0, sizeof native);
  native.dwSize = sizeof native;
  if (!next(NativeHandle(snapshot), &native)) return false;
  entry->th32ProcessID = native.th32ProcessID;
  entry->th32ParentProcessID = native.th32ParentProcessID;
  static_assert(sizeof entry->szExeFile == sizeof native.szExeFile);
  std::memcpy(entry->szExeFile, native.szExeFile, sizeof entry->szExeFile);
  entry->szExeFile[sizeof entry->szExeFile - 1] = 0;
  return true;
}

}  // namespace

Handle Win32Platform::CreateToolhelp32Snapshot(std::uint32_t flags, std::uint32_t processId) {
  return FromNative(::CreateToolhelp32Snapshot(flags, processId));
}

bool Win32Platform::Process32First(Handle snapshot, ProcessEntry* entry) {
  return Fetch(::Process32First, snapshot, entry);
}

bool Win32Platform::Process32Next(Handle snapshot, ProcessEntry* entry) {
  return Fetch(::Process32Next, snapshot, entry);
}

Handle Win32Platform::OpenProcess(std::uint32_t access, bool inherit, std::uint32_t processId) {
  return FromNative(::OpenProcess(access, inherit ? TRUE : FALSE, processId));
}

bool Win32Platform::TerminateProcess(Handle process, std::uint32_t exitCode) {
  return ::TerminateProcess(NativeHandle(process), exitCode) != FALSE;
}

// --- process ownership ---------------------------------------------------------------

// QueryFullProcessImageNameA came with Windows Vista: looked up at run time,
// so the program still starts on older systems (where no path can be read).
bool Win32Platform::QueryFullProcessImageNameA(Handle process, char* buffer, std::uint32_t* size) {
  using Query = BOOL(WINAPI*)(HANDLE, DWORD, LPSTR, PDWORD);
  static const Query query = reinterpret_cast<Query>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "QueryFullProcessImageNameA")));
  if (!query || !buffer || !size) {
    ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return false;
  }
  DWORD length = *size;
  if (!query(NativeHandle(process), 0, buffer, &length)) return false;
  *size = length;
  return true;
}

bool Win32Platform::GetProcessTimes(Handle process, std::uint64_t* creationTime) {
  FILETIME created, exited, kernel, user;
  if (!creationTime ||
      !::GetProcessTimes(NativeHandle(process), &created, &exited, &kernel, &user)) {
    return false;
  }
  *creationTime =
      (static_cast<std::uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
  return true;
}

std::uint32_t Win32Platform::GetCurrentProcessId() { return ::GetCurrentProcessId(); }

// Windows keeps every process's creator id: orphans need no adopting.
bool Win32Platform::BecomeChildSubreaper() { return true; }

std::uint32_t Win32Platform::ReapAdoptedProcesses(const std::uint32_t*, std::size_t,
                                                  std::uint32_t) {
  return 0;
}

}  // namespace qg
