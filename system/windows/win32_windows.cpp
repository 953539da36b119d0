// Top-level windows, message boxes and ANSI lower case on Windows.
#include "system/windows/win32_platform.h"

namespace qg {

// ShowWindow's BOOL tells whether the window was visible before, not whether
// the call worked; it is passed on as it is.
bool Win32Platform::ShowWindow(Window window, int command) {
  return ::ShowWindow(NativeWindow(window), command) != FALSE;
}

bool Win32Platform::PostMessageA(Window window, std::uint32_t message, std::uintptr_t wParam,
                                 std::intptr_t lParam) {
  return ::PostMessageA(NativeWindow(window), message, static_cast<WPARAM>(wParam),
                        static_cast<LPARAM>(lParam)) != FALSE;
}

Window Win32Platform::GetDesktopWindow() { return FromNative(::GetDesktopWindow()); }

Window Win32Platform::GetWindow(Window window, unsigned command) {
  return FromNative(::GetWindow(NativeWindow(window), command));
}

int Win32Platform::GetWindowTextLengthA(Window window) {
  return ::GetWindowTextLengthA(NativeWindow(window));
}

int Win32Platform::GetWindowTextA(Window window, char* buffer, int capacity) {
  return ::GetWindowTextA(NativeWindow(window), buffer, capacity);
}

std::uint32_t Win32Platform::GetWindowThreadProcessId(Window window, std::uint32_t* processId) {
  DWORD owner = 0;
  DWORD thread = ::GetWindowThreadProcessId(NativeWindow(window), &owner);
  if (processId) *processId = owner;
  return thread;
}

int Win32Platform::GetClassNameA(Window window, char* buffer, int capacity) {
  if (!buffer || capacity <= 0) return 0;
  return ::GetClassNameA(NativeWindow(window), buffer, capacity);
}

bool Win32Platform::IsWindowVisible(Window window) {
  return ::IsWindowVisible(NativeWindow(window)) != FALSE;
}

bool Win32Platform::IsIconic(Window window) { return ::IsIconic(NativeWindow(window)) != FALSE; }

bool Win32Platform::SetForegroundWindow(Window window) {
  return ::SetForegroundWindow(NativeWindow(window)) != FALSE;
}

int Win32Platform::MessageBoxW(Window owner, const char16_t* text, const char16_t* caption,
                               std::uint32_t type) {
  return ::MessageBoxW(NativeWindow(owner), reinterpret_cast<LPCWSTR>(text ? text : u""),
                       reinterpret_cast<LPCWSTR>(caption ? caption : u""), type);
}

char* Win32Platform::CharLowerA(char* text) {
  if (!text) return text;
  return ::CharLowerA(text);
}

}  // namespace qg
