#include "system/windows/win32_platform.h"

#include <cstdlib>

namespace qg {

bool Win32Platform::CloseHandle(Handle handle) {
  return handle != 0 && ::CloseHandle(NativeHandle(handle)) != FALSE;
}

Platform& NativePlatform() {
  static Win32Platform* platform = new Win32Platform();  // lives until exit
  return *platform;
}

}  // namespace qg

// The static C++ runtime's default terminate handler prints the type of the
// exception, for which it links the whole C++ name demangler (some 45 KB).
// The program throws nothing and has no console to print to, so it ends
// quietly instead. Being defined here, in an object every program links, it
// keeps the runtime's own from being linked at all.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
