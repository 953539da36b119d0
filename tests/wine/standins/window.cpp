// Stand-in for a command-prompt window: a top-level window titled like one
// (the title is the first argument), of the console window class. Built with
// QG_WINDOW_CLASS it is of that class instead (a browser's, say). It exits with code 0 when it gets
// WM_CLOSE; built with QG_IGNORE_CLOSE it ignores WM_CLOSE instead. Either way
// it ends after 120 s.
#include "standin_common.h"

#ifndef QG_WINDOW_CLASS
#define QG_WINDOW_CLASS "ConsoleWindowClass"
#endif

namespace {

LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE:
#ifdef QG_IGNORE_CLOSE
      return 0;
#else
      DestroyWindow(window);
      return 0;
#endif
    case WM_TIMER:
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const char* title = argc > 1 ? argv[1] : "C:\\Windows\\system32\\cmd.exe";
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA type = {};
  type.lpfnWndProc = Procedure;
  type.hInstance = instance;
  type.lpszClassName = QG_WINDOW_CLASS;
  if (!RegisterClassA(&type)) return 2;
  HWND window = CreateWindowExA(0, type.lpszClassName, title, WS_OVERLAPPEDWINDOW, 10, 10, 320, 200,
                                nullptr, nullptr, instance, nullptr);
  if (!window) return 3;
  ShowWindow(window, SW_SHOWNORMAL);
  SetTimer(window, 1, 120000, nullptr);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}
