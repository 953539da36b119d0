// A winmm.dll dropped beside a program, as anyone who can write to its folder
// could: its timeBeginPeriod answers what the system's never does.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

__declspec(dllexport) UINT WINAPI timeBeginPeriod(UINT milliseconds) {
  (void)milliseconds;
  return 0x504C;
}
