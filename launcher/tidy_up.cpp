#include "launcher/tidy_up.h"

#include <algorithm>

#include "launcher/bundle_processes.h"
#include "launcher/bundle_root.h"
#include "launcher/run_log.h"
#include "system/console.h"
#include "system/platform.h"

namespace qg {

namespace {

// How long the launcher waits for a process it stopped to end, so that it
// can collect it (POSIX) before it exits itself.
constexpr std::uint32_t kReapWaitMilliseconds = 2000;

bool AcceptBundleWindow(Window window, const void* context) {
  return IsBundleCommandWindow(window, *static_cast<const BundleProcesses*>(context));
}

// Terminates the first process of that name that belongs. Its path is read
// again through the handle that terminates it, since the id may have passed
// to another program since the snapshot. As with KillProcessByName, a first
// match that cannot be opened ends the search.
void StopFirstBundleProcess(const BundleProcesses& owned, const char* name,
                            TidyUpSummary* summary) {
  for (const ProcessRecord& record : owned.Processes()) {
    if (!record.belongs || !ExeFileMatches(record.exeFile, name)) continue;
    Handle process = Sys().OpenProcess(
        PROCESS_TERMINATE_RIGHT | PROCESS_QUERY_LIMITED_INFORMATION_RIGHT, false, record.pid);
    if (!process) return;
    // The same process's path read twice: the very same text.
    bool same = ProcessImagePath(process).Text() == owned.PathOf(record).Text();
    if (same) {
      Sys().TerminateProcess(process, kTerminateExitCode);
      summary->stopped[summary->stoppedCount++] = {name, record.pid};
    }
    Sys().CloseHandle(process);
    if (same) return;
  }
}

enum class EditorLook { NoneRuns, Runs, NoSnapshot };

// Whether the bundle's editor, or a program of its updater folder, runs;
// what runs is added to `wait` the first time it is seen.
EditorLook LookForBundleEditor(const BundleKeys& keys, std::uint32_t editorId,
                               EditorRestartWait* wait) {
  BundleProcesses processes;
  if (!processes.Take(keys, editorId)) return EditorLook::NoSnapshot;
  EditorLook look = EditorLook::NoneRuns;
  for (const ProcessRecord& record : processes.Processes()) {
    const PathKey path = processes.PathOf(record);
    if (path.Empty()) continue;
    bool isEditor = PathKey::Same(path, keys.editor);
    if (!isEditor && !PathKey::Inside(keys.updater, path)) continue;
    look = EditorLook::Runs;
    bool seen = false;
    for (const EditorRestartWait::Program& program : wait->waitedFor)
      seen = seen || (program.pid == record.pid && program.path.Text() == path.Text());
    if (!seen) wait->waitedFor.push_back({path, record.pid});
  }
  return look;
}

}  // namespace

EditorRestartWait WaitOutEditorRestart(const BundleKeys& keys, std::uint32_t editorId) {
  EditorRestartWait wait;
  for (;;) {
    EditorLook look;
    while ((look = LookForBundleEditor(keys, editorId, &wait)) == EditorLook::Runs)
      SleepMilliseconds(kRestartPollMilliseconds);
    SleepMilliseconds(kSettleMilliseconds);
    if (look == EditorLook::NoSnapshot) {
      wait.snapshotFailed = true;
      return wait;
    }
    if (LookForBundleEditor(keys, editorId, &wait) == EditorLook::NoneRuns) return wait;
  }
}

void NoteEditorRestartWait(const EditorRestartWait& wait) {
  for (const EditorRestartWait::Program& program : wait.waitedFor)
    NoteRunEvent("editor: waited for ", RecordTextOf(program.path.Wide()), " (process ",
                 NumberText(program.pid), ") to end before the tidy-up");
}

bool PrepareTidyUp() { return Sys().BecomeChildSubreaper(); }

TidyUpSummary TidyUpBundle(const BundleKeys& keys, std::uint32_t editorId) {
  TidyUpSummary summary;
  BundleProcesses owned;
  if (owned.Take(keys, editorId)) {
    summary.closeRequests = CloseCommandWindows(AcceptBundleWindow, &owned, &summary.windowsAsked);
  } else {
    summary.snapshotFailed = true;
  }
  // A fresh look: the windows just closed may have ended their programs.
  if (owned.Take(keys, editorId)) {
    StopFirstBundleProcess(owned, kPhpProcess, &summary);
    StopFirstBundleProcess(owned, kConsoleProcess, &summary);
  } else {
    summary.snapshotFailed = true;
  }
  std::uint32_t stopped[2];
  for (int i = 0; i < summary.stoppedCount; ++i) stopped[i] = summary.stopped[i].pid;
  Sys().ReapAdoptedProcesses(stopped, static_cast<std::size_t>(summary.stoppedCount),
                             kReapWaitMilliseconds);
  return summary;
}

void NoteTidyUp(const TidyUpSummary& summary) {
  // A detail, not an event: a system that refuses the subreaper refuses it
  // on every start, and a start with nothing else to say writes nothing.
  if (summary.orphansUntracked)
    NoteRunDetail(
        "tidy-up: could not become the subreaper of the editor's programs; those it left "
        "running outside the bundle folder were not looked for");
  if (summary.snapshotFailed)
    NoteRunEvent("tidy-up: could not take a process snapshot; nothing of it was done");
  if (summary.windowsAsked > 0)
    NoteRunEvent("tidy-up: asked ", NumberText(static_cast<std::uint32_t>(summary.windowsAsked)),
                 " command window(s) of the bundle to close");
  for (int i = 0; i < summary.stoppedCount; ++i)
    NoteRunEvent("tidy-up: stopped ", summary.stopped[i].name, " (process ",
                 NumberText(summary.stopped[i].pid), ")");
}

int CloseCommandWindows(WindowFilter accept, const void* context, int* asked) {
  Window seen[kMaxCloseWindowPasses];
  int different = 0;
  int passes = 0;
  while (passes < kMaxCloseWindowPasses) {
    Window window = FindWindowByTitle(kCommandWindowText, accept, context);
    if (!window) break;
    ++passes;
    if (std::find(seen, seen + different, window) == seen + different) seen[different++] = window;
    Sys().PostMessageA(window, WM_CLOSE_MSG, 0, 0);
    SleepMilliseconds(100);
  }
  if (asked) *asked = different;
  return passes;
}

}  // namespace qg
