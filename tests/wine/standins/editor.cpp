// Stand-in for the editor (built as notepad++.exe). It records how it was
// started, one line "run|<command line>|<working directory>" appended to
// editor.txt in the records folder, and the same in UTF-8 from the wide
// calls with the program's own path, "run|<command line>|<working
// directory>|<program file>", to editor-wide.txt; then it stays until the file
// editor-release appears there (or 60 s have passed) and exits with code 0.
// When QG_EDITOR_CHILD names a program, it first starts that program and
// leaves it running (its id in editor-child.txt), as an editor's plug-in
// might leave a console behind. When QG_EDITOR_WINDOW is set it has a main
// window as the editor has (class "Notepad++", without owner), shown
// minimised when the variable is "minimised", and a dialog owned by it.
#include "standin_common.h"

namespace {

constexpr char kWindowClass[] = "Notepad++";

// The main window and its dialog; 0 when QG_EDITOR_WINDOW is unset.
HWND MakeWindows() {
  char how[32];
  DWORD length = GetEnvironmentVariableA("QG_EDITOR_WINDOW", how, sizeof how);
  if (length == 0 || length >= sizeof how) return nullptr;
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA type = {};
  type.lpfnWndProc = DefWindowProcA;
  type.hInstance = instance;
  type.lpszClassName = kWindowClass;
  if (!RegisterClassA(&type)) return nullptr;
  HWND main = CreateWindowExA(0, kWindowClass, "new 1 - Notepad++", WS_OVERLAPPEDWINDOW, 40, 40,
                              480, 320, nullptr, nullptr, instance, nullptr);
  if (!main) return nullptr;
  // A dialog of the editor: owned by the main window, so never the one to restore.
  HWND dialog = CreateWindowExA(0, kWindowClass, "Find", WS_OVERLAPPED | WS_CAPTION, 60, 60, 200,
                                100, main, nullptr, instance, nullptr);
  ShowWindow(main, std::string(how) == "minimised" ? SW_SHOWMINIMIZED : SW_SHOWNORMAL);
  if (dialog) ShowWindow(dialog, SW_SHOWNOACTIVATE);
  return main;
}

// Handles the window's messages for up to `milliseconds`.
void Pump(DWORD milliseconds) {
  MSG message;
  ULONGLONG until = GetTickCount64() + milliseconds;
  while (GetTickCount64() < until) {
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

}  // namespace

int main() {
  std::string records = standin::RecordsFolder();
  if (records.empty()) return 2;
  char cwd[MAX_PATH * 2] = {};
  GetCurrentDirectoryA(sizeof cwd, cwd);
  char child[MAX_PATH * 2];
  DWORD length = GetEnvironmentVariableA("QG_EDITOR_CHILD", child, sizeof child);
  if (length > 0 && length < sizeof child) {
    std::string commandLine = std::string("\"") + child + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &info)) {
      standin::AppendLine(records + "editor-child.txt", std::to_string(info.dwProcessId));
      CloseHandle(info.hThread);
      CloseHandle(info.hProcess);
    }
  }
  wchar_t wideCwd[MAX_PATH * 2] = {};
  GetCurrentDirectoryW(MAX_PATH * 2, wideCwd);
  wchar_t self[MAX_PATH * 2] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH * 2);
  std::wstring wide = std::wstring(L"run|") + GetCommandLineW() + L"|" + wideCwd + L"|" + self;
  std::string utf8(wide.size() * 4, '\0');
  utf8.resize(WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                  utf8.data(), static_cast<int>(utf8.size()), nullptr, nullptr));
  standin::AppendLine(records + "editor-wide.txt", utf8);
  standin::AppendLine(records + "editor.txt", std::string("run|") + GetCommandLineA() + "|" + cwd);
  HWND window = MakeWindows();
  for (int waited = 0; waited < 60000; waited += 50) {
    if (standin::FileExists(records + "editor-release")) return 0;
    if (window)
      Pump(50);
    else
      Sleep(50);
  }
  return 0;
}
