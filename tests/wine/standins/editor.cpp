// Stand-in for the editor (built as notepad++.exe). It records how it was
// started, one line "run|<command line>|<working directory>" appended to
// editor.txt in the records folder, then stays until the file
// editor-release appears there (or 60 s have passed) and exits with code 0.
// When QG_EDITOR_CHILD names a program, it first starts that program and
// leaves it running (its id in editor-child.txt), as an editor's plug-in
// might leave a console behind.
#include "standin_common.h"

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
  standin::AppendLine(records + "editor.txt", std::string("run|") + GetCommandLineA() + "|" + cwd);
  for (int waited = 0; waited < 60000; waited += 50) {
    if (standin::FileExists(records + "editor-release")) return 0;
    Sleep(50);
  }
  return 0;
}
