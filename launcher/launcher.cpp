#include "launcher/launcher.h"

#include "launcher/bundle_processes.h"
#include "launcher/process_control.h"
#include "launcher/run_log.h"
#include "launcher/shutdown.h"
#include "system/console.h"
#include "system/platform.h"
#include "system/program_runner.h"

namespace qg {

int LauncherMain() {
  StartLibraries();
  SetConsoleTitleText(kConsoleTitle);
  Sys().ShowWindow(Sys().GetConsoleWindow(), SW_HIDE_CMD);

  // A second launcher started while the editor runs does nothing at all.
  if (!IsProcessRunning(kEditorExe)) {
    PrintLine(kStartLine);
    BundlePaths paths = ComposeBundlePaths();
    StartRunLog(paths.editorDir + kRunLogFile);
    UpdateBundleIfMoved(paths);

    std::string editor = paths.editorDir + kEditorExe;
    PrepareTidyUp();
    Sys().SetLastError(NO_ERROR_CODE);
    // Returns when the editor has exited.
    if (StartProgram(editor.c_str(), "", "", RunWait))
      NoteRunDetail("editor: ended");
    else
      NoteRunFailure("editor: could not be started", Sys().GetLastError());
    std::uint32_t editorId = LastProgramId();

    SleepMilliseconds(1000);
    NoteTidyUp(TidyUpBundle(paths.rootDir, editorId));
  }

  WriteRunLog();  // after every step, so that each can add its events
  ConsoleShutdown();
  ShutDownLibraries();
  return 0;
}

}  // namespace qg
