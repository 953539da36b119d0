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
// "tray" and "tray-minimised" play the editor minimised into the
// notification area: the main window (shown as it is, or minimised) is
// hidden again, an icon is put in the notification area for it, and a
// second hidden top-level window without owner, of another class, lies
// above it. Whether the icon was added, and whether it is still there when
// the editor exits, goes to editor-tray.txt ("added=0|1", "present=0|1").
#include "standin_common.h"

#include <shellapi.h>

namespace {

constexpr char kWindowClass[] = "Notepad++";
constexpr char kHelperClass[] = "QuillgateEditorHelper";
constexpr UINT kTrayMessage = WM_APP + 1;

// The notification-area icon of the main window.
NOTIFYICONDATAA TrayIcon(HWND main) {
  NOTIFYICONDATAA icon = {};
  icon.cbSize = sizeof icon;
  icon.hWnd = main;
  icon.uID = 1;
  icon.uFlags = NIF_ICON | NIF_MESSAGE | NIF_TIP;
  icon.uCallbackMessage = kTrayMessage;
  icon.hIcon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
  lstrcpynA(icon.szTip, "Notepad++", sizeof icon.szTip);
  return icon;
}

// Hides the main window into the notification area, as the editor's option
// does, with a hidden helper window of another class above it.
void HideIntoTray(HWND main, const std::string& records) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA type = {};
  type.lpfnWndProc = DefWindowProcA;
  type.hInstance = instance;
  type.lpszClassName = kHelperClass;
  HWND helper = RegisterClassA(&type) ? CreateWindowExA(0, kHelperClass, "", WS_OVERLAPPED, 0, 0,
                                                        10, 10, nullptr, nullptr, instance, nullptr)
                                      : nullptr;
  NOTIFYICONDATAA icon = TrayIcon(main);
  bool added = Shell_NotifyIconA(NIM_ADD, &icon) != FALSE;
  ShowWindow(main, SW_HIDE);
  // The main window right below the helper, so that a walk from the top
  // meets the helper first.
  if (helper) SetWindowPos(main, helper, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  standin::AppendLine(records + "editor-tray.txt", std::string("added=") + (added ? "1" : "0"));
}

// Whether the main window's icon is still in the notification area; then
// takes it away, as the editor does when it exits.
void EndTrayIcon(HWND main, const std::string& records) {
  NOTIFYICONDATAA icon = TrayIcon(main);
  bool present = Shell_NotifyIconA(NIM_MODIFY, &icon) != FALSE;
  standin::AppendLine(records + "editor-tray.txt", std::string("present=") + (present ? "1" : "0"));
  Shell_NotifyIconA(NIM_DELETE, &icon);
}

// The main window and its dialog; 0 when QG_EDITOR_WINDOW is unset.
// `inTray` tells whether the main window was hidden into the notification area.
HWND MakeWindows(const std::string& records, bool* inTray) {
  char buffer[32];
  DWORD length = GetEnvironmentVariableA("QG_EDITOR_WINDOW", buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) return nullptr;
  const std::string how(buffer, length);
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
  const bool minimised = how == "minimised" || how == "tray-minimised";
  ShowWindow(main, minimised ? SW_SHOWMINIMIZED : SW_SHOWNORMAL);
  if (dialog) ShowWindow(dialog, SW_SHOWNOACTIVATE);
  *inTray = how == "tray" || how == "tray-minimised";
  if (*inTray) {
    if (dialog) ShowWindow(dialog, SW_HIDE);  // out of sight with the main window
    HideIntoTray(main, records);
  }
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
  bool inTray = false;
  HWND window = MakeWindows(records, &inTray);
  for (int waited = 0; waited < 60000; waited += 50) {
    if (standin::FileExists(records + "editor-release")) break;
    if (window)
      Pump(50);
    else
      Sleep(50);
  }
  if (inTray) EndTrayIcon(window, records);
  return 0;
}
