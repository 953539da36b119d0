#include "launcher/launcher.h"

#include "launcher/bundle_processes.h"
#include "launcher/process_control.h"
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
    UpdateBundleIfMoved(paths);

    std::string editor = paths.editorDir + kEditorExe;
    PrepareTidyUp();
    StartProgram(editor.c_str(), "", "", RunWait);  // returns when the editor has exited
    std::uint32_t editorId = LastProgramId();

    SleepMilliseconds(1000);
    TidyUpSummary tidyUp = TidyUpBundle(paths.rootDir, editorId);
    (void)tidyUp;
  }

  ConsoleShutdown();
  ShutDownLibraries();
  return 0;
}

}  // namespace qg
