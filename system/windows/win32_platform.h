// The Win32 implementation of the platform interface.
//
// Its members are defined by component, one file each: win32_heap.cpp,
// win32_files.cpp, win32_console.cpp, win32_processes.cpp, win32_windows.cpp,
// win32_programs.cpp; win32_platform.cpp makes the one instance. Each member
// is a thin mapping onto the Windows function of the same name (the ANSI
// form), with two conventions of the interface layered on top: handles are
// `Handle` values with 0 for "none" (INVALID_HANDLE_VALUE and NULL both map to
// 0), and boolean results are the Windows BOOL taken as success.
#pragma once

#include "system/windows/windows_headers.h"

#include <atomic>
#include <cstdint>

#include "system/platform.h"

namespace qg {

inline HANDLE NativeHandle(Handle handle) { return reinterpret_cast<HANDLE>(handle); }
inline Handle FromNative(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? 0 : reinterpret_cast<Handle>(handle);
}
inline HWND NativeWindow(Window window) { return reinterpret_cast<HWND>(window); }
inline Window FromNative(HWND window) { return reinterpret_cast<Window>(window); }

// WideCharToMultiByteExact for a given code page (the platform passes the
// ANSI one): the conversion, or 0 with ERROR_NO_UNICODE_TRANSLATION when the
// text does not come back whole from it.
int WideToCodePageExact(UINT codePage, const char16_t* units, int length, char* out, int capacity);

class Win32Platform final : public Platform {
 public:
  void* HeapAlloc(std::size_t size, bool zero) override;
  void* HeapReAlloc(void* block, std::size_t size, bool zero) override;
  bool HeapFree(void* block) override;
  Handle CreateFileA(const char* path, std::uint32_t access, std::uint32_t share,
                     Creation creation) override;
  bool ReadFile(Handle file, void* buffer, std::uint32_t count, std::uint32_t* read) override;
  bool WriteFile(Handle file, const void* buffer, std::uint32_t count,
                 std::uint32_t* written) override;
  bool SetFilePointer(Handle file, std::int64_t distance, MoveMethod method,
                      std::int64_t* position) override;
  bool SetEndOfFile(Handle file) override;
  bool GetFileSize(Handle file, std::uint64_t* size) override;
  bool FlushFileBuffers(Handle file) override;
  bool CloseHandle(Handle handle) override;
  bool MoveFileReplace(const char* source, const char* target) override;
  bool MoveFileA(const char* source, const char* target) override;
  bool DeleteFileA(const char* path) override;
  std::uint32_t GetCurrentDirectoryA(std::uint32_t size, char* buffer) override;
  std::uint32_t GetLastError() override;
  void SetLastError(std::uint32_t code) override;
  std::uint32_t FormatMessageA(std::uint32_t code, char* buffer, std::uint32_t capacity) override;
  std::uint32_t GetFileAttributesA(const char* path) override;
  void GetLocalTime(SystemTime* time) override;
  bool FileNamesIgnoreCase() override;
  bool FilesAreHeldForAMoment() override;
  int MultiByteToWideChar(const char* text, int length, char16_t* out, int capacity) override;
  int WideCharToMultiByte(const char16_t* units, int length, char* out, int capacity) override;
  Handle GetStdHandle(std::uint32_t which) override;
  bool SetConsoleCtrlHandler(ConsoleCtrlRoutine routine, bool add) override;
  bool SetConsoleTitleA(const char* title) override;
  bool WriteConsoleA(Handle output, const void* buffer, std::uint32_t count,
                     std::uint32_t* written) override;
  Window GetConsoleWindow() override;
  void Sleep(std::uint32_t milliseconds) override;
  std::uint32_t timeBeginPeriod(std::uint32_t milliseconds) override;
  [[noreturn]] void ExitProcess(std::uint32_t code) override;
  bool ShowWindow(Window window, int command) override;
  bool PostMessageA(Window window, std::uint32_t message, std::uintptr_t wParam,
                    std::intptr_t lParam) override;
  Window GetDesktopWindow() override;
  Window GetWindow(Window window, unsigned command) override;
  int GetWindowTextLengthA(Window window) override;
  int GetWindowTextA(Window window, char* buffer, int capacity) override;
  char* CharLowerA(char* text) override;
  bool IsWindowVisible(Window window) override;
  bool IsIconic(Window window) override;
  bool SetForegroundWindow(Window window) override;
  int MessageBoxW(Window owner, const char16_t* text, const char16_t* caption,
                  std::uint32_t type) override;
  Handle CreateToolhelp32Snapshot(std::uint32_t flags, std::uint32_t processId) override;
  bool Process32First(Handle snapshot, ProcessEntry* entry) override;
  bool Process32Next(Handle snapshot, ProcessEntry* entry) override;
  Handle OpenProcess(std::uint32_t access, bool inherit, std::uint32_t processId) override;
  bool TerminateProcess(Handle process, std::uint32_t exitCode) override;
  // process ownership
  bool QueryFullProcessImageNameA(Handle process, char* buffer, std::uint32_t* size) override;
  bool GetProcessTimes(Handle process, std::uint64_t* creationTime) override;
  std::uint32_t GetCurrentProcessId() override;
  std::uint32_t GetWindowThreadProcessId(Window window, std::uint32_t* processId) override;
  int GetClassNameA(Window window, char* buffer, int capacity) override;
  bool BecomeChildSubreaper() override;
  std::uint32_t ReapAdoptedProcesses(const std::uint32_t* stopped, std::size_t count,
                                     std::uint32_t milliseconds) override;
  bool CreateProcessA(char* commandLine, bool inheritHandles, std::uint32_t creationFlags,
                      const char* currentDirectory, const StartupInfo& startup,
                      ProcessInformation* info) override;
  std::uint32_t WaitForSingleObject(Handle handle, std::uint32_t milliseconds) override;
  bool ShellExecuteExA(ShellExecuteInfo* info) override;
  bool CreatePipe(Handle* readEnd, Handle* writeEnd) override;
  bool DuplicateHandle(Handle source, Handle* target) override;
  // wide paths (win32_wide_paths.cpp)
  std::uint32_t GetCurrentDirectoryW(std::uint32_t size, char16_t* buffer) override;
  std::uint32_t GetACP() override;
  int WideCharToMultiByteExact(const char16_t* units, int length, char* out, int capacity) override;
  std::uint32_t GetShortPathNameW(const char16_t* path, char16_t* buffer,
                                  std::uint32_t size) override;
  std::uint32_t GetLongPathNameW(const char16_t* path, char16_t* buffer,
                                 std::uint32_t size) override;
  bool QueryFullProcessImageNameW(Handle process, char16_t* buffer, std::uint32_t* size) override;
  // folder listings (win32_wide_paths.cpp)
  Handle FindFirstFileW(const char16_t* pattern, FindDataW* data) override;
  bool FindNextFileW(Handle find, FindDataW* data) override;
  bool FindClose(Handle find) override;

 private:
  // The private heap, made by the first heap call.
  HANDLE Heap();

  std::atomic<HANDLE> heap_{nullptr};
};

}  // namespace qg
