// The POSIX implementation of the platform interface.
//
// Its members are defined by component, one file each: posix_heap.cpp,
// posix_files.cpp, posix_console.cpp, posix_processes.cpp, posix_windows.cpp,
// posix_programs.cpp. Every handle it gives out (file, process, snapshot,
// pipe) is an entry of one handle table, so CloseHandle serves them all.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "system/platform.h"

namespace qg {

// What a handle stands for. Component files derive their own kinds.
struct HandleObject {
  virtual ~HandleObject() = default;
};

// An open file or pipe end: the descriptor is closed with the handle.
struct FileObject : HandleObject {
  int fd = -1;
  explicit FileObject(int descriptor) : fd(descriptor) {}
  ~FileObject() override;
};

// The last error of the calling thread (posix_errors.cpp): the Windows code
// for an errno value, or a code given as it is. Both return false, so that a
// failing body can end with `return FailWithErrno(errno);`.
bool FailWithErrno(int error);
bool FailWithCode(std::uint32_t code);

// A path's bytes and its wide form (posix_wide_paths.cpp): the UTF-8
// decoding, each byte outside well-formed UTF-8 as U+DC00 + byte. The way
// back gives the bytes again; it fails for a wide text that is not the wide
// form of any bytes (a lone surrogate outside U+DC80-U+DCFF, or escapes
// that would join into a character).
std::u16string WideFromPathBytes(const std::string& bytes);
bool PathBytesFromWide(const char16_t* units, std::size_t length, std::string* bytes);

class HandleTable {
 public:
  Handle Add(std::shared_ptr<HandleObject> object);
  std::shared_ptr<HandleObject> Get(Handle handle);
  template <class T>
  std::shared_ptr<T> GetAs(Handle handle) {
    return std::dynamic_pointer_cast<T>(Get(handle));
  }
  bool Remove(Handle handle);

 private:
  std::mutex mutex_;
  std::unordered_map<Handle, std::shared_ptr<HandleObject>> objects_;
  Handle next_ = 0x100;
};

class PosixPlatform final : public Platform {
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
  void ExitProcess(std::uint32_t code) override;
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
  // wide paths (posix_wide_paths.cpp)
  std::uint32_t GetCurrentDirectoryW(std::uint32_t size, char16_t* buffer) override;
  std::uint32_t GetACP() override;
  int WideCharToMultiByteExact(const char16_t* units, int length, char* out, int capacity) override;
  std::uint32_t GetShortPathNameW(const char16_t* path, char16_t* buffer,
                                  std::uint32_t size) override;
  std::uint32_t GetLongPathNameW(const char16_t* path, char16_t* buffer,
                                 std::uint32_t size) override;
  bool QueryFullProcessImageNameW(Handle process, char16_t* buffer, std::uint32_t* size) override;
  // folder listings (posix_files.cpp)
  Handle FindFirstFileW(const char16_t* pattern, FindDataW* data) override;
  bool FindNextFileW(Handle find, FindDataW* data) override;
  bool FindClose(Handle find) override;
  HandleTable& Handles() { return handles_; }
  // The descriptor behind a file or pipe handle, -1 when it names none.
  int DescriptorOf(Handle handle);

 private:
  HandleTable handles_;
  std::mutex consoleMutex_;
  Handle standard_[3] = {};  // input, output, error: made on first request
  // Console control routines in the order they were added; the close event
  // calls them last-added first (posix_console.cpp).
  std::vector<ConsoleCtrlRoutine> ctrlRoutines_;
  bool closeWatcherStarted_ = false;
  void DeliverCloseEvent();
  // A process handle for a child this platform started (posix_processes.cpp).
  Handle AddChildProcess(pid_t pid);
};

}  // namespace qg
