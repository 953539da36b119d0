// The Windows side of one Wine test run of the launcher.
//
//   harness.exe LAUNCHER WORKDIR [--php N] [--conemu] [--cmd-window]
//               [--stubborn-window] [--editor-running] [--browser-window]
//               [--foreign-php] [--foreign-conemu] [--foreign-cmd-window]
//               [--editor-leaves-conemu] [--open-php-ini-value]
//               [--bundle-editor-running] [--bundle-editor-window HOW]
//               [--editor-starts-updater]
//
// It starts the requested stand-ins and waits until their windows exist:
// the bundle's own (php.exe from the bundle's PHP folder, the others from its
// server\ConEmu folder, where the test has put them) and "foreign" ones that
// a user started from elsewhere (from beside the harness, started first so
// that they come first). With --editor-leaves-conemu the editor starts a
// ConEmu.exe from beside the harness and leaves it running when it exits.
// Then it starts LAUNCHER with WORKDIR as working directory (a share's
// folder, \\SERVER\SHARE\..., by making it the harness's own first: Wine
// cannot start a program in a share folder given to CreateProcess, but
// passes its own on), and
// watches it: when the launcher starts the editor (a new line in editor.txt),
// it holds the editor for 4 s (longer than a launcher that did not wait would
// take to finish its clean-up), checks that the launcher is still running,
// and then tells the editor to exit. When the launcher has ended (or 60 s have passed) it
// collects the stand-ins' exit codes, ends those still running, and writes
// harness.txt in the records folder: lines "key=value". With
// --open-php-ini-value it also opens, through the ANSI API, the file that
// auto_prepend_file in the bundle's php.ini names once the launcher has
// ended, as PHP 5 would (php_ini_value_opens=1 when it opens). With
// --editor-starts-updater the editor starts the bundle's
// server\notepad\updater\gup.exe (which the test put there) and leaves it
// running, as the editor's updater is left when the editor hands over to it;
// 3 s after the editor's release the report says whether the launcher is
// still waiting (launcher_waited_for_updater), and the updater is ended.
//
// With --bundle-editor-running the bundle's own editor runs before the
// launcher starts, with a minimised main window, or as --bundle-editor-window
// says (the editor stand-in's QG_EDITOR_WINDOW: "tray" hidden into the
// notification area, "tray-minimised" minimised and hidden); the report says
// whether the editor's hidden helper window lay above the main window,
// whether the main window was minimised, visible and in front after the
// launcher ran, and whether the helper was shown. A message box the launcher
// shows (found by its caption) is read, its text written to box.txt in
// UTF-8, and closed with WM_CLOSE a second later; the report says whether the
// launcher waited on it and how many times the editor had been started by
// then.
#include <cstdlib>
#include <vector>

#include "standin_common.h"

#include <shellapi.h>

namespace {

struct Started {
  std::string key;  // its name in harness.txt
  HANDLE process = nullptr;
};

std::string Folder() {
  char path[MAX_PATH * 2] = {};
  DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string folder(path, length);
  return folder.substr(0, folder.find_last_of('\\') + 1);
}

// An ASCII text as a wide one.
std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// Programs are started through the wide API: the bundle's folder may be
// named in characters the ANSI code page lacks. A share folder as
// `directory` is made the harness's own for the start, and passed on.
HANDLE Start(const std::wstring& program, const std::string& arguments, const wchar_t* directory) {
  std::wstring commandLine = L"\"" + program + L"\"";
  if (!arguments.empty()) commandLine += L" " + Wide(arguments);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  wchar_t own[MAX_PATH * 2] = {};
  bool share = directory && directory[0] == L'\\' && directory[1] == L'\\' &&
               GetCurrentDirectoryW(MAX_PATH * 2, own) > 0 && SetCurrentDirectoryW(directory);
  BOOL started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                share ? nullptr : directory, &startup, &info);
  if (share) SetCurrentDirectoryW(own);
  if (!started) return nullptr;
  CloseHandle(info.hThread);
  return info.hProcess;
}

bool WaitForWindow(const char* title) {
  for (int waited = 0; waited < 10000; waited += 50) {
    if (FindWindowA(nullptr, title)) return true;
    Sleep(50);
  }
  return false;
}

std::string ReadFirstLine(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  char buffer[256] = {};
  DWORD got = 0;
  ReadFile(file, buffer, sizeof buffer - 1, &got, nullptr);
  CloseHandle(file);
  std::string text(buffer, got);
  return text.substr(0, text.find_first_of("\r\n"));
}

// The program the editor started and left running (its id in
// editor-child.txt), held open so that its exit code can still be read
// after it has ended; null when there is none.
HANDLE EditorChild(const std::string& records) {
  DWORD child = static_cast<DWORD>(std::atoi(ReadFirstLine(records + "editor-child.txt").c_str()));
  return child ? OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE,
                             FALSE, child)
               : nullptr;
}

constexpr wchar_t kBoxCaption[] = L"Quillgate by Dalvenor";

// The longest text of the box's static controls: its message (the icon is
// a static control without text).
std::wstring BoxText(HWND box) {
  std::wstring text;
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    wchar_t type[32] = {};
    GetClassNameW(child, type, 32);
    if (lstrcmpiW(type, L"Static") != 0) continue;
    int length = GetWindowTextLengthW(child);
    std::wstring part(static_cast<std::size_t>(length) + 1, L'\0');
    part.resize(static_cast<std::size_t>(GetWindowTextW(child, part.data(), length + 1)));
    if (part.size() > text.size()) text = part;
  }
  return text;
}

std::string Utf8(const std::wstring& wide) {
  std::string bytes(wide.size() * 4, '\0');
  bytes.resize(static_cast<std::size_t>(
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), bytes.data(),
                          static_cast<int>(bytes.size()), nullptr, nullptr)));
  return bytes;
}

int CountLines(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  int lines = 0;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    for (DWORD i = 0; i < got; ++i) lines += buffer[i] == '\n';
  }
  CloseHandle(file);
  return lines;
}

// Whether the file auto_prepend_file names in `phpIni` opens through the
// ANSI API: the value's bytes as they are, between the double quotes.
bool PhpIniValueOpens(const std::wstring& phpIni) {
  HANDLE file = CreateFileW(phpIni.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  std::string text(1 << 16, '\0');
  DWORD got = 0;
  ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &got, nullptr);
  CloseHandle(file);
  text.resize(got);
  std::size_t key = text.find("auto_prepend_file");
  if (key == std::string::npos) return false;
  std::size_t open = text.find('"', key), end = text.find_first_of("\r\n", key);
  if (open == std::string::npos || open > end) return false;
  std::size_t close = text.find('"', open + 1);
  if (close == std::string::npos || close > end) return false;
  std::string value = text.substr(open + 1, close - open - 1);
  HANDLE opened = CreateFileA(value.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (opened == INVALID_HANDLE_VALUE) return false;
  CloseHandle(opened);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  std::string records = standin::RecordsFolder();
  if (records.empty()) return 2;
  // LAUNCHER and WORKDIR whole, whatever the ANSI code page makes of them.
  int wideCount = 0;
  wchar_t** wideArgs = CommandLineToArgvW(GetCommandLineW(), &wideCount);
  if (!wideArgs || wideCount < 3) return 2;
  std::wstring launcher = wideArgs[1];
  std::wstring workdir = wideArgs[2];
  LocalFree(wideArgs);
  int php = 0;
  bool conemu = false, cmdWindow = false, stubborn = false, editorRunning = false;
  bool browser = false, foreignPhp = false, foreignConEmu = false, foreignCmd = false;
  bool editorLeavesConEmu = false, openPhpIniValue = false, bundleEditorRunning = false;
  std::string bundleEditorHow = "minimised";
  bool editorStartsUpdater = false;
  for (int i = 3; i < argc; ++i) {
    std::string option = argv[i];
    if (option == "--php" && i + 1 < argc)
      php = std::atoi(argv[++i]);
    else if (option == "--conemu")
      conemu = true;
    else if (option == "--cmd-window")
      cmdWindow = true;
    else if (option == "--stubborn-window")
      stubborn = true;
    else if (option == "--editor-running")
      editorRunning = true;
    else if (option == "--browser-window")
      browser = true;
    else if (option == "--foreign-php")
      foreignPhp = true;
    else if (option == "--foreign-conemu")
      foreignConEmu = true;
    else if (option == "--foreign-cmd-window")
      foreignCmd = true;
    else if (option == "--editor-leaves-conemu")
      editorLeavesConEmu = true;
    else if (option == "--open-php-ini-value")
      openPhpIniValue = true;
    else if (option == "--bundle-editor-running")
      bundleEditorRunning = true;
    else if (option == "--bundle-editor-window" && i + 1 < argc)
      bundleEditorHow = argv[++i];
    else if (option == "--editor-starts-updater")
      editorStartsUpdater = true;
    else
      return 2;
  }

  std::string hereAnsi = Folder();
  std::wstring here = Wide(hereAnsi);
  std::wstring root = workdir.back() == L'\\' ? workdir : workdir + L"\\";
  std::wstring bundlePhp = root + L"server\\modules\\php\\PHP-5.6-5.7\\";
  std::wstring bundleTools = root + L"server\\ConEmu\\";
  std::string editorLog = records + "editor.txt";
  std::string release = records + "editor-release";
  std::vector<std::string> report;
  std::vector<Started> started;

  const char* foreignCmdTitle = "Administrator: cmd.exe - the user's own";
  if (foreignPhp) started.push_back({"foreign_php", Start(here + L"php.exe", "", nullptr)});
  if (foreignConEmu)
    started.push_back({"foreign_conemu", Start(here + L"ConEmu.exe", "", nullptr)});
  if (foreignCmd) {
    started.push_back(
        {"foreign_cmd_window",
         Start(here + L"cmdwindow.exe", std::string("\"") + foreignCmdTitle + "\"", nullptr)});
    report.push_back(std::string("foreign_cmd_window_ready=") +
                     (WaitForWindow(foreignCmdTitle) ? "1" : "0"));
  }
  for (int i = 1; i <= php; ++i)
    started.push_back({"php" + std::to_string(i), Start(bundlePhp + L"php.exe", "", nullptr)});
  if (conemu) started.push_back({"conemu", Start(bundleTools + L"ConEmu.exe", "", nullptr)});
  const char* cmdTitle = "C:\\Windows\\system32\\cmd.exe";
  const char* stubbornTitle = "Administrator: CMD - stubborn";
  const char* browserTitle = "about_Cmdlets - Browser";
  if (browser) {
    started.push_back({"browser_window", Start(bundleTools + L"browserwindow.exe",
                                               std::string("\"") + browserTitle + "\"", nullptr)});
    report.push_back(std::string("browser_window_ready=") +
                     (WaitForWindow(browserTitle) ? "1" : "0"));
  }
  if (editorLeavesConEmu)
    SetEnvironmentVariableA("QG_EDITOR_CHILD", (hereAnsi + "ConEmu.exe").c_str());
  if (editorStartsUpdater)
    SetEnvironmentVariableW(L"QG_EDITOR_CHILD",
                            (root + L"server\\notepad\\updater\\gup.exe").c_str());
  if (cmdWindow) {
    started.push_back({"cmd_window", Start(bundleTools + L"cmdwindow.exe",
                                           std::string("\"") + cmdTitle + "\"", nullptr)});
    report.push_back(std::string("cmd_window_ready=") + (WaitForWindow(cmdTitle) ? "1" : "0"));
  }
  if (stubborn) {
    started.push_back(
        {"stubborn_window", Start(bundleTools + L"stubbornwindow.exe",
                                  std::string("\"") + stubbornTitle + "\"", nullptr)});
    report.push_back(std::string("stubborn_window_ready=") +
                     (WaitForWindow(stubbornTitle) ? "1" : "0"));
  }
  if (editorRunning) {
    started.push_back({"running_editor", Start(here + L"notepad++.exe", "", nullptr)});
    bool seen = false;
    for (int waited = 0; waited < 10000 && !seen; waited += 50) {
      seen = CountLines(editorLog) > 0;
      if (!seen) Sleep(50);
    }
    report.push_back(std::string("running_editor_ready=") + (seen ? "1" : "0"));
  }
  HWND bundleEditorWindow = nullptr;
  if (bundleEditorRunning) {
    SetEnvironmentVariableA("QG_EDITOR_WINDOW", bundleEditorHow.c_str());
    started.push_back(
        {"bundle_editor", Start(root + L"server\\notepad\\notepad++.exe", "", root.c_str())});
    SetEnvironmentVariableA("QG_EDITOR_WINDOW", nullptr);
    const bool iconic = bundleEditorHow != "tray";
    const bool visible = bundleEditorHow == "minimised";
    // In the notification area the editor is ready once it has tried its icon.
    const bool inTray = !visible;
    for (int waited = 0; waited < 10000 && !bundleEditorWindow; waited += 50) {
      bundleEditorWindow = FindWindowA("Notepad++", "new 1 - Notepad++");
      if (!bundleEditorWindow || (IsIconic(bundleEditorWindow) != FALSE) != iconic ||
          (IsWindowVisible(bundleEditorWindow) != FALSE) != visible ||
          (inTray && !standin::FileExists(records + "editor-tray.txt")) ||
          CountLines(editorLog) == 0) {
        bundleEditorWindow = nullptr;
        Sleep(50);
      }
    }
    report.push_back(std::string("bundle_editor_ready=") + (bundleEditorWindow ? "1" : "0"));
    if (HWND helper =
            bundleEditorWindow ? FindWindowA("QuillgateEditorHelper", nullptr) : nullptr) {
      bool above = false;
      for (HWND w = GetWindow(bundleEditorWindow, GW_HWNDPREV); w && !above;
           w = GetWindow(w, GW_HWNDPREV))
        above = w == helper;
      report.push_back(std::string("bundle_editor_helper_above=") + (above ? "1" : "0"));
    }
    if (bundleEditorWindow) {
      // Something else in front, as when the user works in another program.
      SetForegroundWindow(GetDesktopWindow());
      report.push_back(std::string("bundle_editor_foreground_before=") +
                       (GetForegroundWindow() == bundleEditorWindow ? "1" : "0"));
    }
  }
  for (const Started& s : started) report.push_back(s.key + "_started=" + (s.process ? "1" : "0"));

  int editorRunsBefore = CountLines(editorLog);
  ULONGLONG begin = GetTickCount64();
  HANDLE quillgate = Start(launcher, "", workdir.c_str());
  report.push_back(std::string("launcher_started=") + (quillgate ? "1" : "0"));

  bool released = false, boxSeen = false;
  ULONGLONG releasedAt = 0;
  DWORD waitResult = WAIT_FAILED;
  while (quillgate && GetTickCount64() - begin < 60000) {
    waitResult = WaitForSingleObject(quillgate, 50);
    if (waitResult != WAIT_TIMEOUT) break;
    if (HWND box = boxSeen ? nullptr : FindWindowW(L"#32770", kBoxCaption)) {
      boxSeen = true;
      Sleep(200);  // until its controls hold their texts
      standin::AppendLine(records + "box.txt", Utf8(BoxText(box)));
      report.push_back("box_shown=1");
      bool waiting = WaitForSingleObject(quillgate, 1000) == WAIT_TIMEOUT;
      report.push_back(std::string("launcher_waited_on_box=") + (waiting ? "1" : "0"));
      report.push_back("editor_runs_at_box_close=" +
                       std::to_string(CountLines(editorLog) - editorRunsBefore));
      PostMessageW(box, WM_CLOSE, 0, 0);
    }
    if (!released && CountLines(editorLog) > editorRunsBefore) {
      bool waiting = WaitForSingleObject(quillgate, 4000) == WAIT_TIMEOUT;
      HANDLE child = editorLeavesConEmu || editorStartsUpdater ? EditorChild(records) : nullptr;
      if (editorLeavesConEmu) {
        started.push_back({"editor_conemu", child});
        report.push_back(std::string("editor_conemu_started=") + (child ? "1" : "0"));
      }
      report.push_back(std::string("launcher_waited_for_editor=") + (waiting ? "1" : "0"));
      standin::AppendLine(release, "exit");
      released = true;
      releasedAt = GetTickCount64();
      if (editorStartsUpdater) {
        report.push_back(std::string("updater_started=") + (child ? "1" : "0"));
        bool waitingForUpdater = WaitForSingleObject(quillgate, 3000) == WAIT_TIMEOUT;
        report.push_back(std::string("launcher_waited_for_updater=") +
                         (waitingForUpdater ? "1" : "0"));
        if (child) {
          TerminateProcess(child, 0);
          CloseHandle(child);
        }
      }
    }
  }
  ULONGLONG end = GetTickCount64();
  if (quillgate) {
    DWORD code = 0;
    bool ended = waitResult == WAIT_OBJECT_0;
    report.push_back(std::string("launcher_ended=") + (ended ? "1" : "0"));
    if (ended && GetExitCodeProcess(quillgate, &code))
      report.push_back("launcher_exit=" + std::to_string(code));
    if (!ended) TerminateProcess(quillgate, 1);
    CloseHandle(quillgate);
  }
  report.push_back("launcher_ms=" + std::to_string(end - begin));
  if (released) report.push_back("after_release_ms=" + std::to_string(end - releasedAt));
  if (bundleEditorWindow) {
    report.push_back(std::string("bundle_editor_iconic_after=") +
                     (IsIconic(bundleEditorWindow) ? "1" : "0"));
    report.push_back(std::string("bundle_editor_foreground_after=") +
                     (GetForegroundWindow() == bundleEditorWindow ? "1" : "0"));
    report.push_back(std::string("bundle_editor_visible_after=") +
                     (IsWindowVisible(bundleEditorWindow) ? "1" : "0"));
    if (HWND helper = FindWindowA("QuillgateEditorHelper", nullptr))
      report.push_back(std::string("bundle_editor_helper_visible_after=") +
                       (IsWindowVisible(helper) ? "1" : "0"));
  }
  if (openPhpIniValue)
    report.push_back(std::string("php_ini_value_opens=") +
                     (PhpIniValueOpens(bundlePhp + L"php.ini") ? "1" : "0"));
  report.push_back("editor_runs_started=" +
                   std::to_string(CountLines(editorLog) - editorRunsBefore));

  // Exit codes: a process the launcher ended has ended by now or very soon;
  // one still running after the grace period reports STILL_ACTIVE (259).
  auto isEditor = [](const Started& s) {
    return s.key == "running_editor" || s.key == "bundle_editor";
  };
  for (const Started& s : started) {
    if (!s.process) continue;
    if (!isEditor(s)) WaitForSingleObject(s.process, 2000);
    DWORD code = 0;
    GetExitCodeProcess(s.process, &code);
    report.push_back(s.key + "_exit=" + std::to_string(code));
  }
  standin::AppendLine(release, "exit");
  for (const Started& s : started) {
    if (!s.process) continue;
    if (WaitForSingleObject(s.process, isEditor(s) ? 3000 : 0) == WAIT_TIMEOUT)
      TerminateProcess(s.process, 1);
    CloseHandle(s.process);
  }

  std::string text;
  for (const std::string& line : report) text += line + "\n";
  standin::AppendLine(records + "harness.txt", text.substr(0, text.size() - 1));
  return 0;
}
