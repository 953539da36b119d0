// Files, the current directory and code-page conversion on Windows.
#include "system/windows/win32_platform.h"

namespace qg {

Handle Win32Platform::CreateFileA(const char* path, std::uint32_t access, std::uint32_t share,
                                  Creation creation) {
  if (!path || !*path) return 0;
  HANDLE file = ::CreateFileA(path, access, share, nullptr, static_cast<DWORD>(creation),
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  return FromNative(file);
}

bool Win32Platform::ReadFile(Handle file, void* buffer, std::uint32_t count, std::uint32_t* read) {
  DWORD got = 0;
  BOOL ok = ::ReadFile(NativeHandle(file), buffer, count, &got, nullptr);
  if (read) *read = got;
  return ok != FALSE;
}

bool Win32Platform::WriteFile(Handle file, const void* buffer, std::uint32_t count,
                              std::uint32_t* written) {
  DWORD put = 0;
  BOOL ok = ::WriteFile(NativeHandle(file), buffer, count, &put, nullptr);
  if (written) *written = put;
  return ok != FALSE;
}

bool Win32Platform::SetFilePointer(Handle file, std::int64_t distance, MoveMethod method,
                                   std::int64_t* position) {
  LARGE_INTEGER move;
  move.QuadPart = distance;
  LARGE_INTEGER at;
  at.QuadPart = 0;
  if (!::SetFilePointerEx(NativeHandle(file), move, &at, static_cast<DWORD>(method))) return false;
  if (position) *position = at.QuadPart;
  return true;
}

bool Win32Platform::SetEndOfFile(Handle file) {
  return ::SetEndOfFile(NativeHandle(file)) != FALSE;
}

bool Win32Platform::GetFileSize(Handle file, std::uint64_t* size) {
  LARGE_INTEGER length;
  if (!::GetFileSizeEx(NativeHandle(file), &length)) return false;
  if (size) *size = static_cast<std::uint64_t>(length.QuadPart);
  return true;
}

bool Win32Platform::FlushFileBuffers(Handle file) {
  return ::FlushFileBuffers(NativeHandle(file)) != FALSE;
}

bool Win32Platform::MoveFileReplace(const char* source, const char* target) {
  if (!source || !target) return false;
  return ::MoveFileExA(source, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool Win32Platform::MoveFileA(const char* source, const char* target) {
  return source && target && ::MoveFileA(source, target) != FALSE;
}

bool Win32Platform::DeleteFileA(const char* path) { return path && ::DeleteFileA(path) != FALSE; }

std::uint32_t Win32Platform::GetFileAttributesA(const char* path) {
  if (!path) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_FILE_ATTRIBUTES_VALUE;
  }
  return ::GetFileAttributesA(path);
}

std::uint32_t Win32Platform::GetCurrentDirectoryA(std::uint32_t size, char* buffer) {
  return ::GetCurrentDirectoryA(size, buffer);
}

int Win32Platform::MultiByteToWideChar(const char* text, int length, char16_t* out, int capacity) {
  if (!text) return 0;
  return ::MultiByteToWideChar(CP_ACP, 0, text, length, reinterpret_cast<LPWSTR>(out), capacity);
}

int Win32Platform::WideCharToMultiByte(const char16_t* units, int length, char* out, int capacity) {
  if (!units) return 0;
  return ::WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<LPCWCH>(units), length, out, capacity,
                               nullptr, nullptr);
}

}  // namespace qg

namespace qg {

bool Win32Platform::FileNamesIgnoreCase() { return true; }

// Scanners and indexers open a file just written; a replacement refused for
// that is worth another try a little later.
bool Win32Platform::FilesAreHeldForAMoment() { return true; }

}  // namespace qg
