#include "tests/support/faulty_platform.h"

#include <cstring>

namespace qg {

void FaultyPlatform::FailAt(std::int64_t n, Fault fault, unsigned kinds) {
  target_ = n;
  fault_ = fault;
  kinds_ = kinds;
  calls_ = 0;
  fired_ = false;
  firedAt_.clear();
}

bool FaultyPlatform::Trip(const char* operation, unsigned kind) {
  if (!(kind & kinds_)) return false;
  std::int64_t n = ++calls_;
  if (target_ == 0 || n != target_) return false;
  fired_ = true;
  firedAt_ = operation;
  // A failing call says why, as the system's own would.
  inner_.SetLastError(kind == HeapCalls ? ERROR_NOT_ENOUGH_MEMORY_CODE : ERROR_GEN_FAILURE_CODE);
  return true;
}

void* FaultyPlatform::HeapAlloc(std::size_t size, bool zero) {
  if (Trip("HeapAlloc", HeapCalls)) return nullptr;
  return inner_.HeapAlloc(size, zero);
}

void* FaultyPlatform::HeapReAlloc(void* block, std::size_t size, bool zero) {
  if (Trip("HeapReAlloc", HeapCalls)) return nullptr;
  return inner_.HeapReAlloc(block, size, zero);
}

Handle FaultyPlatform::CreateFileA(const char* path, std::uint32_t access, std::uint32_t share,
                                   Creation creation) {
  if (Trip("CreateFileA", FileCalls)) return 0;
  return inner_.CreateFileA(path, access, share, creation);
}

bool FaultyPlatform::ReadFile(Handle file, void* buffer, std::uint32_t count, std::uint32_t* read) {
  if (Trip("ReadFile", FileCalls)) {
    if (read) *read = 0;
    return false;
  }
  return inner_.ReadFile(file, buffer, count, read);
}

bool FaultyPlatform::WriteFile(Handle file, const void* buffer, std::uint32_t count,
                               std::uint32_t* written) {
  if (Trip("WriteFile", FileCalls | WriteCalls)) {
    if (fault_ == Fault::ShortWrite && count > 1) {
      // A device that took only part of the data: success, fewer bytes.
      return inner_.WriteFile(file, buffer, count / 2, written);
    }
    if (written) *written = 0;
    return false;
  }
  return inner_.WriteFile(file, buffer, count, written);
}

bool FaultyPlatform::SetFilePointer(Handle file, std::int64_t distance, MoveMethod method,
                                    std::int64_t* position) {
  if (Trip("SetFilePointer", FileCalls)) return false;
  return inner_.SetFilePointer(file, distance, method, position);
}

bool FaultyPlatform::SetEndOfFile(Handle file) {
  if (Trip("SetEndOfFile", FileCalls)) return false;
  return inner_.SetEndOfFile(file);
}

bool FaultyPlatform::GetFileSize(Handle file, std::uint64_t* size) {
  if (Trip("GetFileSize", FileCalls)) return false;
  return inner_.GetFileSize(file, size);
}

bool FaultyPlatform::FlushFileBuffers(Handle file) {
  if (Trip("FlushFileBuffers", FileCalls)) return false;
  return inner_.FlushFileBuffers(file);
}

bool FaultyPlatform::MoveFileReplace(const char* source, const char* target) {
  if (Trip("MoveFileReplace", FileCalls)) return false;
  return inner_.MoveFileReplace(source, target);
}

bool FaultyPlatform::MoveFileA(const char* source, const char* target) {
  if (Trip("MoveFileA", FileCalls)) return false;
  return inner_.MoveFileA(source, target);
}

bool FaultyPlatform::DeleteFileA(const char* path) {
  if (Trip("DeleteFileA", FileCalls)) return false;
  return inner_.DeleteFileA(path);
}

std::uint32_t FaultyPlatform::GetCurrentDirectoryA(std::uint32_t size, char* buffer) {
  if (Trip("GetCurrentDirectoryA", FileCalls)) return 0;
  return inner_.GetCurrentDirectoryA(size, buffer);
}

std::uint32_t FaultyPlatform::GetFileAttributesA(const char* path) {
  if (Trip("GetFileAttributesA", FileCalls)) return INVALID_FILE_ATTRIBUTES_VALUE;
  return inner_.GetFileAttributesA(path);
}

int FaultyPlatform::MultiByteToWideChar(const char* text, int length, char16_t* out, int capacity) {
  if (Trip("MultiByteToWideChar", OtherCalls)) return 0;
  return inner_.MultiByteToWideChar(text, length, out, capacity);
}

int FaultyPlatform::WideCharToMultiByte(const char16_t* units, int length, char* out,
                                        int capacity) {
  if (Trip("WideCharToMultiByte", OtherCalls)) return 0;
  return inner_.WideCharToMultiByte(units, length, out, capacity);
}

Handle FaultyPlatform::GetStdHandle(std::uint32_t which) {
  if (Trip("GetStdHandle", OtherCalls)) return 0;
  return inner_.GetStdHandle(which);
}

bool FaultyPlatform::SetConsoleTitleA(const char* title) {
  if (Trip("SetConsoleTitleA", OtherCalls)) return false;
  return inner_.SetConsoleTitleA(title);
}

bool FaultyPlatform::WriteConsoleA(Handle output, const void* buffer, std::uint32_t count,
                                   std::uint32_t* written) {
  if (Trip("WriteConsoleA", OtherCalls)) return false;
  return inner_.WriteConsoleA(output, buffer, count, written);
}

bool FaultyPlatform::SetForegroundWindow(Window window) {
  if (Trip("SetForegroundWindow", OtherCalls)) return false;
  return inner_.SetForegroundWindow(window);
}

int FaultyPlatform::MessageBoxW(Window owner, const char16_t* text, const char16_t* caption,
                                std::uint32_t type) {
  if (Trip("MessageBoxW", OtherCalls)) return 0;
  return inner_.MessageBoxW(owner, text, caption, type);
}

Handle FaultyPlatform::CreateToolhelp32Snapshot(std::uint32_t flags, std::uint32_t processId) {
  if (Trip("CreateToolhelp32Snapshot", OtherCalls)) return 0;
  return inner_.CreateToolhelp32Snapshot(flags, processId);
}

bool FaultyPlatform::QueryFullProcessImageNameA(Handle process, char* buffer, std::uint32_t* size) {
  if (Trip("QueryFullProcessImageNameA", OtherCalls)) return false;
  return inner_.QueryFullProcessImageNameA(process, buffer, size);
}

Handle FaultyPlatform::OpenProcess(std::uint32_t access, bool inherit, std::uint32_t processId) {
  if (Trip("OpenProcess", OtherCalls)) return 0;
  return inner_.OpenProcess(access, inherit, processId);
}

bool FaultyPlatform::CreateProcessA(char* commandLine, bool inheritHandles,
                                    std::uint32_t creationFlags, const char* currentDirectory,
                                    const StartupInfo& startup, ProcessInformation* info) {
  if (Trip("CreateProcessA", OtherCalls)) return false;
  return inner_.CreateProcessA(commandLine, inheritHandles, creationFlags, currentDirectory,
                               startup, info);
}

bool FaultyPlatform::ShellExecuteExA(ShellExecuteInfo* info) {
  if (Trip("ShellExecuteExA", OtherCalls)) return false;
  return inner_.ShellExecuteExA(info);
}

bool FaultyPlatform::CreatePipe(Handle* readEnd, Handle* writeEnd) {
  if (Trip("CreatePipe", OtherCalls)) return false;
  return inner_.CreatePipe(readEnd, writeEnd);
}

bool FaultyPlatform::DuplicateHandle(Handle source, Handle* target) {
  if (Trip("DuplicateHandle", OtherCalls)) return false;
  return inner_.DuplicateHandle(source, target);
}

// --- wide paths ----------------------------------------------------------------

std::uint32_t FaultyPlatform::GetCurrentDirectoryW(std::uint32_t size, char16_t* buffer) {
  if (Trip("GetCurrentDirectoryW", FileCalls)) return 0;
  return inner_.GetCurrentDirectoryW(size, buffer);
}

int FaultyPlatform::WideCharToMultiByteExact(const char16_t* units, int length, char* out,
                                             int capacity) {
  if (Trip("WideCharToMultiByteExact", OtherCalls)) return 0;
  return inner_.WideCharToMultiByteExact(units, length, out, capacity);
}

std::uint32_t FaultyPlatform::GetShortPathNameW(const char16_t* path, char16_t* buffer,
                                                std::uint32_t size) {
  if (Trip("GetShortPathNameW", FileCalls)) return 0;
  return inner_.GetShortPathNameW(path, buffer, size);
}

std::uint32_t FaultyPlatform::GetLongPathNameW(const char16_t* path, char16_t* buffer,
                                               std::uint32_t size) {
  if (Trip("GetLongPathNameW", FileCalls)) return 0;
  return inner_.GetLongPathNameW(path, buffer, size);
}

bool FaultyPlatform::QueryFullProcessImageNameW(Handle process, char16_t* buffer,
                                                std::uint32_t* size) {
  if (Trip("QueryFullProcessImageNameW", OtherCalls)) return false;
  return inner_.QueryFullProcessImageNameW(process, buffer, size);
}

}  // namespace qg

// --- folder listings --------------------------------------------------------------

namespace qg {

Handle FaultyPlatform::FindFirstFileW(const char16_t* pattern, FindDataW* data) {
  if (Trip("FindFirstFileW", FileCalls)) return 0;
  return inner_.FindFirstFileW(pattern, data);
}

bool FaultyPlatform::FindNextFileW(Handle find, FindDataW* data) {
  if (Trip("FindNextFileW", FileCalls)) return false;
  return inner_.FindNextFileW(find, data);
}

}  // namespace qg
