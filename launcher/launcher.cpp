#include "launcher/launcher.h"

#include <string>
#include <string_view>

#include "launcher/bundle_paths.h"
#include "launcher/library_lifecycle.h"
#include "launcher/process_control.h"
#include "launcher/relocation.h"
#include "launcher/run_log.h"
#include "launcher/second_start.h"
#include "launcher/settings_notice.h"
#include "launcher/tidy_up.h"
#include "system/console.h"
#include "system/platform.h"
#include "system/program_runner.h"

namespace qg {

namespace {

constexpr char kConsoleTitle[] = "Quillgate by Dalvenor";
// Printed before the relocation check: the line as the program has always
// printed it. Its letters were lost to a code page long ago; the question
// marks are kept byte for byte.
constexpr char kStartLine[] = "????????????? ???????";

// Starts the editor; its kept record for WaitForEditor, 0 when it could not
// be started.
std::intptr_t StartEditor(const BundlePaths& paths) {
  std::string editor = paths.editorDir + kEditorExe;
  Sys().SetLastError(NO_ERROR_CODE);
  std::intptr_t program = StartProgram(editor.c_str(), "", "", KeepProgram);
  if (!program) NoteRunFailure("editor: could not be started", Sys().GetLastError());
  return program;
}

// Returns when the editor StartEditor started has exited.
void WaitForEditor(std::intptr_t program) {
  if (!program) return;
  WaitForProgram(program);
  NoteRunDetail("editor: ended");
}

// The console title, which captions the launcher's boxes.
std::u16string Caption() {
  const std::string_view title = kConsoleTitle;
  return std::u16string(title.begin(), title.end());
}

}  // namespace

int LauncherMain() {
  StartLibraries();
  SetConsoleTitleText(kConsoleTitle);
  Sys().ShowWindow(Sys().GetConsoleWindow(), SW_HIDE_CMD);

  if (IsProcessRunning(kEditorExe)) {
    // A second start touches no file and tidies nothing up; it brings the
    // bundle's editor forward, or says which editor keeps it from starting.
    AnswerSecondStart(BundleKeysOf(ComposeBundlePaths()), Caption());
  } else {
    PrintLine(kStartLine);
    BundlePaths paths = ComposeBundlePaths();
    StartRunLog(paths.editorDir + kRunLogFile);
    const RelocationReport relocation = UpdateBundleIfMoved(paths);
    NoteRelocation(relocation);

    bool orphansTracked = PrepareTidyUp();
    // Started by its long path: relative to the root when the code page
    // cannot hold the root's name (never by the short form, under which the
    // editor would keep its own files).
    std::intptr_t editor = StartEditor(paths);
    std::uint32_t editorId = LastProgramId();
    // Settings that could not be written are told once the editor runs,
    // which the box does not hold up.
    ShowSettingsNotice(relocation, Caption());
    WaitForEditor(editor);
    // The programs are told by their wide long paths.
    const BundleKeys keys = BundleKeysOf(paths);
    // The editor may have handed over to its updater, which starts it again.
    NoteEditorRestartWait(WaitOutEditorRestart(keys, editorId));
    TidyUpSummary tidyUp = TidyUpBundle(keys, editorId);
    tidyUp.orphansUntracked = !orphansTracked;
    NoteTidyUp(tidyUp);
  }

  WriteRunLog();  // after every step, so that each can add its events
  ConsoleShutdown();
  ShutDownLibraries();
  return 0;
}

}  // namespace qg
