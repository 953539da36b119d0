// Platform wrappers for the XML tests and benchmarks: a base that forwards
// every call to another platform, one that counts live heap bytes, and one
// that records each WriteFile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "system/platform.h"

namespace qg::testing {

// Forwards every operation to `inner`; derived wrappers override what they
// watch or change.
class ForwardingPlatform : public Platform {
 public:
  explicit ForwardingPlatform(Platform& inner) : inner_(inner) {}

  // clang-format off
  void* HeapAlloc(std::size_t size, bool zero) override { return inner_.HeapAlloc(size, zero); }
  void* HeapReAlloc(void* block, std::size_t size, bool zero) override { return inner_.HeapReAlloc(block, size, zero); }
  bool HeapFree(void* block) override { return inner_.HeapFree(block); }
  Handle CreateFileA(const char* path, std::uint32_t access, std::uint32_t share, Creation creation) override { return inner_.CreateFileA(path, access, share, creation); }
  bool ReadFile(Handle file, void* buffer, std::uint32_t count, std::uint32_t* read) override { return inner_.ReadFile(file, buffer, count, read); }
  bool WriteFile(Handle file, const void* buffer, std::uint32_t count, std::uint32_t* written) override { return inner_.WriteFile(file, buffer, count, written); }
  bool SetFilePointer(Handle file, std::int64_t distance, MoveMethod method, std::int64_t* position) override { return inner_.SetFilePointer(file, distance, method, position); }
  bool SetEndOfFile(Handle file) override { return inner_.SetEndOfFile(file); }
  bool GetFileSize(Handle file, std::uint64_t* size) override { return inner_.GetFileSize(file, size); }
  bool FlushFileBuffers(Handle file) override { return inner_.FlushFileBuffers(file); }
  bool CloseHandle(Handle handle) override { return inner_.CloseHandle(handle); }
  bool MoveFileReplace(const char* source, const char* target) override { return inner_.MoveFileReplace(source, target); }
  bool MoveFileA(const char* source, const char* target) override { return inner_.MoveFileA(source, target); }
  bool DeleteFileA(const char* path) override { return inner_.DeleteFileA(path); }
  std::uint32_t GetCurrentDirectoryA(std::uint32_t size, char* buffer) override { return inner_.GetCurrentDirectoryA(size, buffer); }
  int MultiByteToWideChar(const char* text, int length, char16_t* out, int capacity) override { return inner_.MultiByteToWideChar(text, length, out, capacity); }
  int WideCharToMultiByte(const char16_t* units, int length, char* out, int capacity) override { return inner_.WideCharToMultiByte(units, length, out, capacity); }
  Handle GetStdHandle(std::uint32_t which) override { return inner_.GetStdHandle(which); }
  bool SetConsoleCtrlHandler(ConsoleCtrlRoutine routine, bool add) override { return inner_.SetConsoleCtrlHandler(routine, add); }
  bool SetConsoleTitleA(const char* title) override { return inner_.SetConsoleTitleA(title); }
  bool WriteConsoleA(Handle output, const void* buffer, std::uint32_t count, std::uint32_t* written) override { return inner_.WriteConsoleA(output, buffer, count, written); }
  Window GetConsoleWindow() override { return inner_.GetConsoleWindow(); }
  void Sleep(std::uint32_t milliseconds) override { inner_.Sleep(milliseconds); }
  std::uint32_t timeBeginPeriod(std::uint32_t milliseconds) override { return inner_.timeBeginPeriod(milliseconds); }
  [[noreturn]] void ExitProcess(std::uint32_t code) override {
    inner_.ExitProcess(code);
    __builtin_unreachable();
  }
  bool ShowWindow(Window window, int command) override { return inner_.ShowWindow(window, command); }
  bool PostMessageA(Window window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override { return inner_.PostMessageA(window, message, wParam, lParam); }
  Window GetDesktopWindow() override { return inner_.GetDesktopWindow(); }
  Window GetWindow(Window window, unsigned command) override { return inner_.GetWindow(window, command); }
  int GetWindowTextLengthA(Window window) override { return inner_.GetWindowTextLengthA(window); }
  int GetWindowTextA(Window window, char* buffer, int capacity) override { return inner_.GetWindowTextA(window, buffer, capacity); }
  char* CharLowerA(char* text) override { return inner_.CharLowerA(text); }
  Handle CreateToolhelp32Snapshot(std::uint32_t flags, std::uint32_t processId) override { return inner_.CreateToolhelp32Snapshot(flags, processId); }
  bool Process32First(Handle snapshot, ProcessEntry* entry) override { return inner_.Process32First(snapshot, entry); }
  bool Process32Next(Handle snapshot, ProcessEntry* entry) override { return inner_.Process32Next(snapshot, entry); }
  Handle OpenProcess(std::uint32_t access, bool inherit, std::uint32_t processId) override { return inner_.OpenProcess(access, inherit, processId); }
  bool TerminateProcess(Handle process, std::uint32_t exitCode) override { return inner_.TerminateProcess(process, exitCode); }
  bool CreateProcessA(char* commandLine, bool inheritHandles, std::uint32_t creationFlags, const char* currentDirectory, const StartupInfo& startup, ProcessInformation* info) override { return inner_.CreateProcessA(commandLine, inheritHandles, creationFlags, currentDirectory, startup, info); }
  std::uint32_t WaitForSingleObject(Handle handle, std::uint32_t milliseconds) override { return inner_.WaitForSingleObject(handle, milliseconds); }
  bool ShellExecuteExA(ShellExecuteInfo* info) override { return inner_.ShellExecuteExA(info); }
  bool CreatePipe(Handle* readEnd, Handle* writeEnd) override { return inner_.CreatePipe(readEnd, writeEnd); }
  bool DuplicateHandle(Handle source, Handle* target) override { return inner_.DuplicateHandle(source, target); }
  // clang-format on

 protected:
  Platform& inner_;
};

// Counts live heap bytes (and their peak). Each block carries a 16-byte
// header with its size, so the count needs no table.
class HeapCountingPlatform : public ForwardingPlatform {
 public:
  using ForwardingPlatform::ForwardingPlatform;

  void* HeapAlloc(std::size_t size, bool zero) override {
    char* raw = static_cast<char*>(inner_.HeapAlloc(size + kHeader, zero));
    if (!raw) return nullptr;
    *reinterpret_cast<std::size_t*>(raw) = size;
    Add(static_cast<std::int64_t>(size));
    ++blocks_;
    return raw + kHeader;
  }
  void* HeapReAlloc(void* block, std::size_t size, bool zero) override {
    if (!block) return HeapAlloc(size, zero);
    char* raw = static_cast<char*>(block) - kHeader;
    std::size_t old = *reinterpret_cast<std::size_t*>(raw);
    char* grown = static_cast<char*>(inner_.HeapReAlloc(raw, size + kHeader, zero));
    if (!grown) return nullptr;
    *reinterpret_cast<std::size_t*>(grown) = size;
    Add(static_cast<std::int64_t>(size) - static_cast<std::int64_t>(old));
    return grown + kHeader;
  }
  bool HeapFree(void* block) override {
    if (!block) return true;
    char* raw = static_cast<char*>(block) - kHeader;
    Add(-static_cast<std::int64_t>(*reinterpret_cast<std::size_t*>(raw)));
    --blocks_;
    return inner_.HeapFree(raw);
  }

  std::int64_t LiveBytes() const { return live_; }
  std::int64_t LiveBlocks() const { return blocks_; }
  std::int64_t PeakBytes() const { return peak_; }
  void ResetPeak() { peak_ = live_; }

 private:
  static constexpr std::size_t kHeader = 16;
  void Add(std::int64_t delta) {
    live_ += delta;
    if (live_ > peak_) peak_ = live_;
  }
  std::int64_t live_ = 0;
  std::int64_t peak_ = 0;
  std::int64_t blocks_ = 0;
};

// Records the size of every WriteFile.
class WriteRecordingPlatform : public ForwardingPlatform {
 public:
  using ForwardingPlatform::ForwardingPlatform;
  bool WriteFile(Handle file, const void* buffer, std::uint32_t count,
                 std::uint32_t* written) override {
    writes.push_back(count);
    return inner_.WriteFile(file, buffer, count, written);
  }
  std::vector<std::uint32_t> writes;
};

// Installs a platform for one scope and puts the previous one back.
class ScopedPlatform {
 public:
  explicit ScopedPlatform(Platform& platform) : previous_(SetPlatform(&platform)) {}
  ~ScopedPlatform() { SetPlatform(previous_); }
  ScopedPlatform(const ScopedPlatform&) = delete;
  ScopedPlatform& operator=(const ScopedPlatform&) = delete;

 private:
  Platform* previous_;
};

}  // namespace qg::testing
