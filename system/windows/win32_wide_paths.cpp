// Wide paths and the exact conversion to the ANSI code page on Windows.
#include <cstring>
#include <vector>

#include "system/windows/win32_platform.h"

namespace qg {

namespace {

LPCWSTR Wide(const char16_t* text) { return reinterpret_cast<LPCWSTR>(text); }
LPWSTR Wide(char16_t* text) { return reinterpret_cast<LPWSTR>(text); }

}  // namespace

std::uint32_t Win32Platform::GetCurrentDirectoryW(std::uint32_t size, char16_t* buffer) {
  return ::GetCurrentDirectoryW(size, Wide(buffer));
}

std::uint32_t Win32Platform::GetACP() { return ::GetACP(); }

// The conversion refuses best fit, and notes the default character; UTF-8
// takes neither (both arguments must be null there) but refuses a lone
// surrogate. Whatever the flags did, the text must then convert back to
// itself: that alone decides.
int WideToCodePageExact(UINT codePage, const char16_t* units, int length, char* out, int capacity) {
  if (!units || length == 0 || length < -1 || capacity < 0) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  int count =
      length == -1 ? static_cast<int>(std::char_traits<char16_t>::length(units)) + 1 : length;
  bool utf8 = codePage == CP_UTF8;
  DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL usedDefault = FALSE;
  BOOL* noteDefault = utf8 ? nullptr : &usedDefault;
  int bytes =
      ::WideCharToMultiByte(codePage, flags, Wide(units), count, nullptr, 0, nullptr, noteDefault);
  if (bytes <= 0 && ::GetLastError() == ERROR_INVALID_FLAGS) {
    // A code page that takes no flags (GB 18030, the ISO-2022 ones): the
    // round trip below is the whole check there.
    flags = 0;
    noteDefault = nullptr;
    bytes = ::WideCharToMultiByte(codePage, 0, Wide(units), count, nullptr, 0, nullptr, nullptr);
  }
  if (bytes <= 0 || usedDefault) {
    ::SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
  }
  std::vector<char> narrow(static_cast<std::size_t>(bytes));
  ::WideCharToMultiByte(codePage, flags, Wide(units), count, narrow.data(), bytes, nullptr,
                        noteDefault);
  DWORD backFlags = flags ? MB_ERR_INVALID_CHARS : 0;
  int back = ::MultiByteToWideChar(codePage, backFlags, narrow.data(), bytes, nullptr, 0);
  std::vector<char16_t> again(static_cast<std::size_t>(back > 0 ? back : 1));
  if (usedDefault || back != count ||
      ::MultiByteToWideChar(codePage, backFlags, narrow.data(), bytes, Wide(again.data()), back) !=
          back ||
      std::memcmp(again.data(), units, static_cast<std::size_t>(count) * sizeof(char16_t)) != 0) {
    ::SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
  }
  if (capacity == 0) return bytes;
  if (!out || capacity < bytes) {
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(out, narrow.data(), static_cast<std::size_t>(bytes));
  return bytes;
}

int Win32Platform::WideCharToMultiByteExact(const char16_t* units, int length, char* out,
                                            int capacity) {
  return WideToCodePageExact(::GetACP(), units, length, out, capacity);
}

std::uint32_t Win32Platform::GetShortPathNameW(const char16_t* path, char16_t* buffer,
                                               std::uint32_t size) {
  if (!path) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return ::GetShortPathNameW(Wide(path), Wide(buffer), size);
}

std::uint32_t Win32Platform::GetLongPathNameW(const char16_t* path, char16_t* buffer,
                                              std::uint32_t size) {
  if (!path) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return ::GetLongPathNameW(Wide(path), Wide(buffer), size);
}

// Looked up at run time, as the ANSI form is: Vista and later only.
bool Win32Platform::QueryFullProcessImageNameW(Handle process, char16_t* buffer,
                                               std::uint32_t* size) {
  using Query = BOOL(WINAPI*)(HANDLE, DWORD, LPWSTR, PDWORD);
  static const Query query = reinterpret_cast<Query>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "QueryFullProcessImageNameW")));
  if (!query || !buffer || !size) {
    ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return false;
  }
  DWORD length = *size;
  if (!query(NativeHandle(process), 0, Wide(buffer), &length)) return false;
  *size = length;
  return true;
}

}  // namespace qg

// --- folder listings -------------------------------------------------------------

namespace qg {

namespace {

static_assert(sizeof(WIN32_FIND_DATAW::cFileName) == sizeof(FindDataW::cFileName));
static_assert(sizeof(WIN32_FIND_DATAW::cAlternateFileName) ==
              sizeof(FindDataW::cAlternateFileName));

void CopyEntry(const WIN32_FIND_DATAW& found, FindDataW* data) {
  data->dwFileAttributes = found.dwFileAttributes;
  std::memcpy(data->cFileName, found.cFileName, sizeof data->cFileName);
  std::memcpy(data->cAlternateFileName, found.cAlternateFileName, sizeof data->cAlternateFileName);
}

}  // namespace

Handle Win32Platform::FindFirstFileW(const char16_t* pattern, FindDataW* data) {
  if (!pattern || !data) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  WIN32_FIND_DATAW found;
  HANDLE find = ::FindFirstFileW(reinterpret_cast<LPCWSTR>(pattern), &found);
  if (find == INVALID_HANDLE_VALUE) return 0;
  CopyEntry(found, data);
  return FromNative(find);
}

bool Win32Platform::FindNextFileW(Handle find, FindDataW* data) {
  if (!data) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  WIN32_FIND_DATAW found;
  if (!::FindNextFileW(NativeHandle(find), &found)) return false;
  CopyEntry(found, data);
  return true;
}

bool Win32Platform::FindClose(Handle find) { return ::FindClose(NativeHandle(find)) != FALSE; }

}  // namespace qg
