// A platform that passes every call on to another one. Tests and benchmarks
// derive from it and override only the calls they want to change.
#pragma once

#include <cstdlib>

#include "system/platform.h"

namespace qg::testing {

class ForwardingPlatform : public Platform {
 public:
  explicit ForwardingPlatform(Platform& inner) : inner_(inner) {}

  void* HeapAlloc(std::size_t size, bool zero) override { return inner_.HeapAlloc(size, zero); }
  void* HeapReAlloc(void* block, std::size_t size, bool zero) override {
    return inner_.HeapReAlloc(block, size, zero);
  }
  bool HeapFree(void* block) override { return inner_.HeapFree(block); }
  Handle CreateFileA(const char* path, std::uint32_t access, std::uint32_t share,
                     Creation creation) override {
    return inner_.CreateFileA(path, access, share, creation);
  }
  bool ReadFile(Handle file, void* buffer, std::uint32_t count, std::uint32_t* read) override {
    return inner_.ReadFile(file, buffer, count, read);
  }
  bool WriteFile(Handle file, const void* buffer, std::uint32_t count,
                 std::uint32_t* written) override {
    return inner_.WriteFile(file, buffer, count, written);
  }
  bool SetFilePointer(Handle file, std::int64_t distance, MoveMethod method,
                      std::int64_t* position) override {
    return inner_.SetFilePointer(file, distance, method, position);
  }
  bool SetEndOfFile(Handle file) override { return inner_.SetEndOfFile(file); }
  bool GetFileSize(Handle file, std::uint64_t* size) override {
    return inner_.GetFileSize(file, size);
  }
  bool FlushFileBuffers(Handle file) override { return inner_.FlushFileBuffers(file); }
  bool CloseHandle(Handle handle) override { return inner_.CloseHandle(handle); }
  bool MoveFileReplace(const char* source, const char* target) override {
    return inner_.MoveFileReplace(source, target);
  }
  bool MoveFileA(const char* source, const char* target) override {
    return inner_.MoveFileA(source, target);
  }
  bool DeleteFileA(const char* path) override { return inner_.DeleteFileA(path); }
  std::uint32_t GetCurrentDirectoryA(std::uint32_t size, char* buffer) override {
    return inner_.GetCurrentDirectoryA(size, buffer);
  }
  std::uint32_t GetLastError() override { return inner_.GetLastError(); }
  void SetLastError(std::uint32_t code) override { inner_.SetLastError(code); }
  std::uint32_t FormatMessageA(std::uint32_t code, char* buffer, std::uint32_t capacity) override {
    return inner_.FormatMessageA(code, buffer, capacity);
  }
  std::uint32_t GetFileAttributesA(const char* path) override {
    return inner_.GetFileAttributesA(path);
  }
  void GetLocalTime(SystemTime* time) override { inner_.GetLocalTime(time); }
  bool FileNamesIgnoreCase() override { return inner_.FileNamesIgnoreCase(); }
  bool FilesAreHeldForAMoment() override { return inner_.FilesAreHeldForAMoment(); }
  int MultiByteToWideChar(const char* text, int length, char16_t* out, int capacity) override {
    return inner_.MultiByteToWideChar(text, length, out, capacity);
  }
  int WideCharToMultiByte(const char16_t* units, int length, char* out, int capacity) override {
    return inner_.WideCharToMultiByte(units, length, out, capacity);
  }
  Handle GetStdHandle(std::uint32_t which) override { return inner_.GetStdHandle(which); }
  bool SetConsoleCtrlHandler(ConsoleCtrlRoutine routine, bool add) override {
    return inner_.SetConsoleCtrlHandler(routine, add);
  }
  bool SetConsoleTitleA(const char* title) override { return inner_.SetConsoleTitleA(title); }
  bool WriteConsoleA(Handle output, const void* buffer, std::uint32_t count,
                     std::uint32_t* written) override {
    return inner_.WriteConsoleA(output, buffer, count, written);
  }
  Window GetConsoleWindow() override { return inner_.GetConsoleWindow(); }
  void Sleep(std::uint32_t milliseconds) override { inner_.Sleep(milliseconds); }
  std::uint32_t timeBeginPeriod(std::uint32_t milliseconds) override {
    return inner_.timeBeginPeriod(milliseconds);
  }
  [[noreturn]] void ExitProcess(std::uint32_t code) override {
    inner_.ExitProcess(code);
    std::abort();
  }
  bool ShowWindow(Window window, int command) override {
    return inner_.ShowWindow(window, command);
  }
  bool PostMessageA(Window window, std::uint32_t message, std::uintptr_t wParam,
                    std::intptr_t lParam) override {
    return inner_.PostMessageA(window, message, wParam, lParam);
  }
  Window GetDesktopWindow() override { return inner_.GetDesktopWindow(); }
  Window GetWindow(Window window, unsigned command) override {
    return inner_.GetWindow(window, command);
  }
  int GetWindowTextLengthA(Window window) override { return inner_.GetWindowTextLengthA(window); }
  int GetWindowTextA(Window window, char* buffer, int capacity) override {
    return inner_.GetWindowTextA(window, buffer, capacity);
  }
  char* CharLowerA(char* text) override { return inner_.CharLowerA(text); }
  bool IsWindowVisible(Window window) override { return inner_.IsWindowVisible(window); }
  bool IsIconic(Window window) override { return inner_.IsIconic(window); }
  bool SetForegroundWindow(Window window) override { return inner_.SetForegroundWindow(window); }
  int MessageBoxW(Window owner, const char16_t* text, const char16_t* caption,
                  std::uint32_t type) override {
    return inner_.MessageBoxW(owner, text, caption, type);
  }
  Handle CreateToolhelp32Snapshot(std::uint32_t flags, std::uint32_t processId) override {
    return inner_.CreateToolhelp32Snapshot(flags, processId);
  }
  bool Process32First(Handle snapshot, ProcessEntry* entry) override {
    return inner_.Process32First(snapshot, entry);
  }
  bool Process32Next(Handle snapshot, ProcessEntry* entry) override {
    return inner_.Process32Next(snapshot, entry);
  }
  Handle OpenProcess(std::uint32_t access, bool inherit, std::uint32_t processId) override {
    return inner_.OpenProcess(access, inherit, processId);
  }
  bool TerminateProcess(Handle process, std::uint32_t exitCode) override {
    return inner_.TerminateProcess(process, exitCode);
  }
  bool QueryFullProcessImageNameA(Handle process, char* buffer, std::uint32_t* size) override {
    return inner_.QueryFullProcessImageNameA(process, buffer, size);
  }
  bool GetProcessTimes(Handle process, std::uint64_t* creationTime) override {
    return inner_.GetProcessTimes(process, creationTime);
  }
  std::uint32_t GetCurrentProcessId() override { return inner_.GetCurrentProcessId(); }
  std::uint32_t GetWindowThreadProcessId(Window window, std::uint32_t* processId) override {
    return inner_.GetWindowThreadProcessId(window, processId);
  }
  int GetClassNameA(Window window, char* buffer, int capacity) override {
    return inner_.GetClassNameA(window, buffer, capacity);
  }
  bool BecomeChildSubreaper() override { return inner_.BecomeChildSubreaper(); }
  std::uint32_t ReapAdoptedProcesses(const std::uint32_t* stopped, std::size_t count,
                                     std::uint32_t milliseconds) override {
    return inner_.ReapAdoptedProcesses(stopped, count, milliseconds);
  }
  bool CreateProcessA(char* commandLine, bool inheritHandles, std::uint32_t creationFlags,
                      const char* currentDirectory, const StartupInfo& startup,
                      ProcessInformation* info) override {
    return inner_.CreateProcessA(commandLine, inheritHandles, creationFlags, currentDirectory,
                                 startup, info);
  }
  std::uint32_t WaitForSingleObject(Handle handle, std::uint32_t milliseconds) override {
    return inner_.WaitForSingleObject(handle, milliseconds);
  }
  bool ShellExecuteExA(ShellExecuteInfo* info) override { return inner_.ShellExecuteExA(info); }
  bool CreatePipe(Handle* readEnd, Handle* writeEnd) override {
    return inner_.CreatePipe(readEnd, writeEnd);
  }
  bool DuplicateHandle(Handle source, Handle* target) override {
    return inner_.DuplicateHandle(source, target);
  }
  // wide paths
  std::uint32_t GetCurrentDirectoryW(std::uint32_t size, char16_t* buffer) override {
    return inner_.GetCurrentDirectoryW(size, buffer);
  }
  std::uint32_t GetACP() override { return inner_.GetACP(); }
  int WideCharToMultiByteExact(const char16_t* units, int length, char* out,
                               int capacity) override {
    return inner_.WideCharToMultiByteExact(units, length, out, capacity);
  }
  std::uint32_t GetShortPathNameW(const char16_t* path, char16_t* buffer,
                                  std::uint32_t size) override {
    return inner_.GetShortPathNameW(path, buffer, size);
  }
  std::uint32_t GetLongPathNameW(const char16_t* path, char16_t* buffer,
                                 std::uint32_t size) override {
    return inner_.GetLongPathNameW(path, buffer, size);
  }
  bool QueryFullProcessImageNameW(Handle process, char16_t* buffer, std::uint32_t* size) override {
    return inner_.QueryFullProcessImageNameW(process, buffer, size);
  }
  // folder listings
  Handle FindFirstFileW(const char16_t* pattern, FindDataW* data) override {
    return inner_.FindFirstFileW(pattern, data);
  }
  bool FindNextFileW(Handle find, FindDataW* data) override {
    return inner_.FindNextFileW(find, data);
  }
  bool FindClose(Handle find) override { return inner_.FindClose(find); }

 protected:
  Platform& inner_;
};

}  // namespace qg::testing
