// The last error and the system's texts for error codes on Windows.
#include "system/windows/win32_platform.h"

namespace qg {

std::uint32_t Win32Platform::GetLastError() { return ::GetLastError(); }

void Win32Platform::SetLastError(std::uint32_t code) { ::SetLastError(code); }

std::uint32_t Win32Platform::FormatMessageA(std::uint32_t code, char* buffer,
                                            std::uint32_t capacity) {
  if (!buffer || capacity == 0) return 0;
  DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, buffer, capacity, nullptr);
  // The system's texts end with a line break (and some with a blank).
  while (length > 0 &&
         (buffer[length - 1] == '\r' || buffer[length - 1] == '\n' || buffer[length - 1] == ' '))
    --length;
  buffer[length] = 0;
  return length;
}

}  // namespace qg
