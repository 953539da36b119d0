// Windows on POSIX: a POSIX system has no list of top-level windows of its
// own, so the walk is empty and the window operations fail.
#include <cctype>

#include "system/posix/posix_platform.h"

namespace qg {

bool PosixPlatform::ShowWindow(Window, int) { return false; }
bool PosixPlatform::PostMessageA(Window, std::uint32_t, std::uintptr_t, std::intptr_t) {
  return false;
}
Window PosixPlatform::GetDesktopWindow() { return 1; }
Window PosixPlatform::GetWindow(Window, unsigned) { return 0; }
int PosixPlatform::GetWindowTextLengthA(Window) { return 0; }
int PosixPlatform::GetWindowTextA(Window, char* buffer, int capacity) {
  if (buffer && capacity > 0) buffer[0] = 0;
  return 0;
}

// No window has an owner or a class here.
std::uint32_t PosixPlatform::GetWindowThreadProcessId(Window, std::uint32_t* processId) {
  if (processId) *processId = 0;
  return 0;
}
int PosixPlatform::GetClassNameA(Window, char* buffer, int capacity) {
  if (buffer && capacity > 0) buffer[0] = 0;
  return 0;
}

// Lower case of the ISO-8859-1 code page: A-Z, and the letters 0xC0-0xDE
// except the multiplication sign 0xD7.
char* PosixPlatform::CharLowerA(char* text) {
  if (!text) return text;
  for (unsigned char* p = reinterpret_cast<unsigned char*>(text); *p; ++p) {
    if ((*p >= 'A' && *p <= 'Z') || (*p >= 0xC0 && *p <= 0xDE && *p != 0xD7)) *p += 32;
  }
  return text;
}

}  // namespace qg
