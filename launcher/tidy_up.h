// The tidy-up after the editor has exited: the bundle's command windows are
// closed and its auxiliary processes stopped; the user's are left alone
// (bundle_processes.h says which are the bundle's).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "launcher/bundle_paths.h"
#include "launcher/process_control.h"

namespace qg {

// Windows whose title holds this text are command windows.
inline constexpr char kCommandWindowText[] = "cmd";
// The auxiliary processes stopped, in this order.
inline constexpr char kPhpProcess[] = "php.exe";
inline constexpr char kConsoleProcess[] = "ConEmu.exe";

// The command-window loop gives up after this many passes (about five
// seconds of 100 ms pauses), so a window that ignores the close request
// cannot keep the launcher alive.
inline constexpr int kMaxCloseWindowPasses = 50;

// What the tidy-up did, for the run log.
struct TidyUpSummary {
  bool snapshotFailed = false;  // a snapshot could not be taken: nothing touched
  int windowsAsked = 0;         // command windows sent WM_CLOSE (each counted once)
  int closeRequests = 0;        // WM_CLOSE messages posted
  struct Stopped {
    const char* name;  // "php.exe" or "ConEmu.exe"
    std::uint32_t pid;
  };
  Stopped stopped[2] = {};  // processes terminated, in order
  int stoppedCount = 0;
  // The launcher could not keep the editor's orphans below it (see
  // PrepareTidyUp): those outside the bundle folder were not found.
  bool orphansUntracked = false;
  // Whether the tidy-up has anything to report.
  bool Noteworthy() const { return snapshotFailed || closeRequests > 0 || stoppedCount > 0; }
};

// While the editor or its updater runs the launcher looks again after this
// pause; once none runs it waits the settling pause and looks once more.
inline constexpr std::uint32_t kRestartPollMilliseconds = 500;
inline constexpr std::uint32_t kSettleMilliseconds = 1000;

// What the launcher waited for after its editor had ended.
struct EditorRestartWait {
  struct Program {
    PathKey path;
    std::uint32_t pid;
  };
  // Each program of each process once, in the order seen (a process that
  // starts another program is seen again under it).
  std::vector<Program> waitedFor;
  bool snapshotFailed = false;  // a look failed, which ended the wait
};

// After the editor this run started has ended: waits, looking every 500 ms
// and without a time bound, while a process runs whose program is the
// bundle's editor or lies in its updater folder (the updater restarts the
// editor after installing plugins; so the editor restarting
// itself, a second instance of it); then takes the 1000 ms pause and looks
// once more. The processes are seen as the tidy-up sees them.
EditorRestartWait WaitOutEditorRestart(const BundleKeys& keys, std::uint32_t editorId);
// Notes in the run's record what the launcher waited for; nothing when it
// only took the pause.
void NoteEditorRestartWait(const EditorRestartWait& wait);

// Run before the editor is started: keeps the editor's orphans findable
// (POSIX: the launcher becomes their subreaper). False when it could not.
bool PrepareTidyUp();

// After the editor has exited and the pause: closes the bundle's command
// windows one by one, then terminates the first php.exe and the first
// ConEmu.exe that belong, and collects adopted processes that have ended.
TidyUpSummary TidyUpBundle(const BundleKeys& keys, std::uint32_t editorId);
// Notes in the run's record what the tidy-up closed and stopped, or that it
// could not look; a tidy-up that did nothing notes nothing. That the
// editor's orphans were not tracked goes with the record's other lines.
void NoteTidyUp(const TidyUpSummary& summary);

// Sends a close request to every window whose title holds "cmd" and that
// `accept` takes, one at a time, until none is left or the pass limit is
// reached. Every pass searches afresh from the top of the window list, so a
// window that takes longer than the pause to close is asked again. Returns
// the passes that found a window; `asked` (may be null) receives the number
// of different windows asked.
int CloseCommandWindows(WindowFilter accept, const void* context, int* asked = nullptr);

}  // namespace qg
