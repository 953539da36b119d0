// A platform that forwards every call to another one and can make the N-th
// failable call fail, or a write come out short. Tests install it with
// SetPlatform to prove that every failure path keeps data whole.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "system/platform.h"
#include "tests/support/forwarding_platform.h"

namespace qg {

class FaultyPlatform final : public testing::ForwardingPlatform {
 public:
  enum class Fault { Fail, ShortWrite };
  explicit FaultyPlatform(Platform& inner) : ForwardingPlatform(inner) {}

  // Makes the failable call numbered `n` (counted from 1 over every kind in
  // `kinds`) fail; 0 fails none. Counting starts again from 0.
  void FailAt(std::int64_t n, Fault fault = Fault::Fail, unsigned kinds = AllKinds);
  // Failable calls counted so far, and whether the fault was delivered.
  std::int64_t Calls() const { return calls_; }
  bool Fired() const { return fired_; }
  const std::string& FiredAt() const { return firedAt_; }

  // WriteCalls counts the file writes alone (a sweep of short writes).
  static constexpr unsigned FileCalls = 1, HeapCalls = 2, OtherCalls = 4, WriteCalls = 8;
  static constexpr unsigned AllKinds = FileCalls | HeapCalls | OtherCalls;

  void* HeapAlloc(std::size_t size, bool zero) override;
  void* HeapReAlloc(void* block, std::size_t size, bool zero) override;
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
  bool MoveFileReplace(const char* source, const char* target) override;
  bool MoveFileA(const char* source, const char* target) override;
  bool DeleteFileA(const char* path) override;
  std::uint32_t GetCurrentDirectoryA(std::uint32_t size, char* buffer) override;
  std::uint32_t GetFileAttributesA(const char* path) override;
  int MultiByteToWideChar(const char* text, int length, char16_t* out, int capacity) override;
  int WideCharToMultiByte(const char16_t* units, int length, char* out, int capacity) override;
  Handle GetStdHandle(std::uint32_t which) override;
  bool SetConsoleTitleA(const char* title) override;
  bool WriteConsoleA(Handle output, const void* buffer, std::uint32_t count,
                     std::uint32_t* written) override;
  bool SetForegroundWindow(Window window) override;
  int MessageBoxW(Window owner, const char16_t* text, const char16_t* caption,
                  std::uint32_t type) override;
  Handle CreateToolhelp32Snapshot(std::uint32_t flags, std::uint32_t processId) override;
  Handle OpenProcess(std::uint32_t access, bool inherit, std::uint32_t processId) override;
  bool QueryFullProcessImageNameA(Handle process, char* buffer, std::uint32_t* size) override;
  bool CreateProcessA(char* commandLine, bool inheritHandles, std::uint32_t creationFlags,
                      const char* currentDirectory, const StartupInfo& startup,
                      ProcessInformation* info) override;
  bool ShellExecuteExA(ShellExecuteInfo* info) override;
  bool CreatePipe(Handle* readEnd, Handle* writeEnd) override;
  bool DuplicateHandle(Handle source, Handle* target) override;
  std::uint32_t GetCurrentDirectoryW(std::uint32_t size, char16_t* buffer) override;
  int WideCharToMultiByteExact(const char16_t* units, int length, char* out, int capacity) override;
  std::uint32_t GetShortPathNameW(const char16_t* path, char16_t* buffer,
                                  std::uint32_t size) override;
  std::uint32_t GetLongPathNameW(const char16_t* path, char16_t* buffer,
                                 std::uint32_t size) override;
  bool QueryFullProcessImageNameW(Handle process, char16_t* buffer, std::uint32_t* size) override;
  Handle FindFirstFileW(const char16_t* pattern, FindDataW* data) override;
  bool FindNextFileW(Handle find, FindDataW* data) override;

 private:
  bool Trip(const char* operation, unsigned kind);
  std::int64_t target_ = 0;
  std::int64_t calls_ = 0;
  unsigned kinds_ = AllKinds;
  Fault fault_ = Fault::Fail;
  bool fired_ = false;
  std::string firedAt_;
};

}  // namespace qg
