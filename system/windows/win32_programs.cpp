// Starting programs, waiting for them, and pipes on Windows.
#include "system/windows/win32_platform.h"

#include <shellapi.h>

#include <cstring>

namespace qg {

bool Win32Platform::CreateProcessA(char* commandLine, bool inheritHandles,
                                   std::uint32_t creationFlags, const char* currentDirectory,
                                   const StartupInfo& startup, ProcessInformation* info) {
  STARTUPINFOA start;
  std::memset(&start, 0, sizeof start);
  start.cb = sizeof start;
  start.dwFlags = startup.dwFlags;
  start.wShowWindow = startup.wShowWindow;
  start.hStdInput = NativeHandle(startup.hStdInput);
  start.hStdOutput = NativeHandle(startup.hStdOutput);
  start.hStdError = NativeHandle(startup.hStdError);
  PROCESS_INFORMATION started;
  std::memset(&started, 0, sizeof started);
  BOOL ok = ::CreateProcessA(nullptr, commandLine, nullptr, nullptr, inheritHandles ? TRUE : FALSE,
                             creationFlags, nullptr, currentDirectory, &start, &started);
  if (info) {
    *info = ProcessInformation{};
    if (ok) {
      info->hProcess = FromNative(started.hProcess);
      info->hThread = FromNative(started.hThread);
      info->dwProcessId = started.dwProcessId;
      info->dwThreadId = started.dwThreadId;
    }
  } else if (ok) {
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
  }
  return ok != FALSE;
}

std::uint32_t Win32Platform::WaitForSingleObject(Handle handle, std::uint32_t milliseconds) {
  return ::WaitForSingleObject(NativeHandle(handle), milliseconds);
}

bool Win32Platform::ShellExecuteExA(ShellExecuteInfo* info) {
  if (!info) return false;
  SHELLEXECUTEINFOA shell;
  std::memset(&shell, 0, sizeof shell);
  shell.cbSize = sizeof shell;
  shell.fMask = info->fMask;
  shell.hwnd = nullptr;
  shell.lpVerb = info->lpVerb;
  shell.lpFile = info->lpFile;
  shell.lpParameters = info->lpParameters;
  shell.lpDirectory = info->lpDirectory;
  shell.nShow = info->nShow;
  BOOL ok = ::ShellExecuteExA(&shell);
  info->hProcess = ok ? FromNative(shell.hProcess) : 0;
  return ok != FALSE;
}

// Both ends are inheritable, so that one can be handed to a child; the
// caller makes its own end private with DuplicateHandle.
bool Win32Platform::CreatePipe(Handle* readEnd, Handle* writeEnd) {
  SECURITY_ATTRIBUTES security;
  std::memset(&security, 0, sizeof security);
  security.nLength = sizeof security;
  security.bInheritHandle = TRUE;
  HANDLE reader = nullptr;
  HANDLE writer = nullptr;
  if (!::CreatePipe(&reader, &writer, &security, 0)) {
    if (readEnd) *readEnd = 0;
    if (writeEnd) *writeEnd = 0;
    return false;
  }
  if (readEnd)
    *readEnd = FromNative(reader);
  else
    ::CloseHandle(reader);
  if (writeEnd)
    *writeEnd = FromNative(writer);
  else
    ::CloseHandle(writer);
  return true;
}

bool Win32Platform::DuplicateHandle(Handle source, Handle* target) {
  HANDLE self = ::GetCurrentProcess();
  HANDLE copy = nullptr;
  BOOL ok =
      ::DuplicateHandle(self, NativeHandle(source), self, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS);
  if (target)
    *target = ok ? FromNative(copy) : 0;
  else if (ok)
    ::CloseHandle(copy);
  return ok != FALSE;
}

}  // namespace qg
