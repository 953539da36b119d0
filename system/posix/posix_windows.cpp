// Windows on POSIX: a POSIX system has no list of top-level windows of its
// own, so the walk is empty and the window operations fail. A message box
// is a line on standard error.
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <string>

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

bool PosixPlatform::IsWindowVisible(Window) { return false; }
bool PosixPlatform::IsIconic(Window) { return false; }
bool PosixPlatform::SetForegroundWindow(Window) { return false; }

// "caption: text" and a line feed, in UTF-8 (a unit that is not part of a
// character as "?"); nobody answers, so it counts as closed with its button.
int PosixPlatform::MessageBoxW(Window, const char16_t* text, const char16_t* caption,
                               std::uint32_t) {
  auto utf8 = [](const char16_t* wide) {
    std::u16string units = wide ? wide : u"";
    std::string bytes;
    if (!PathBytesFromWide(units.data(), units.size(), &bytes)) {
      for (char16_t& unit : units) {
        if (unit >= 0xD800 && unit <= 0xDFFF) unit = u'?';
      }
      PathBytesFromWide(units.data(), units.size(), &bytes);
    }
    return bytes;
  };
  std::string line = utf8(caption) + ": " + utf8(text) + "\n";
  const char* at = line.data();
  std::size_t left = line.size();
  while (left) {
    ssize_t done = ::write(STDERR_FILENO, at, left);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return 0;
    at += done;
    left -= static_cast<std::size_t>(done);
  }
  return IDOK_RESULT;
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
