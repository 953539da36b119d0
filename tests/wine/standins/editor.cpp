// Stand-in for the editor (built as notepad++.exe). It records how it was
// started, one line "run|<command line>|<working directory>" appended to
// editor.txt in the records folder, then stays until the file
// editor-release appears there (or 60 s have passed) and exits with code 0.
#include "standin_common.h"

int main() {
  std::string records = standin::RecordsFolder();
  if (records.empty()) return 2;
  char cwd[MAX_PATH * 2] = {};
  GetCurrentDirectoryA(sizeof cwd, cwd);
  standin::AppendLine(records + "editor.txt", std::string("run|") + GetCommandLineA() + "|" + cwd);
  for (int waited = 0; waited < 60000; waited += 50) {
    if (standin::FileExists(records + "editor-release")) return 0;
    Sleep(50);
  }
  return 0;
}
