// Looking at and acting on other programs of the same desktop.
#pragma once

#include "system/platform.h"

namespace qg {

// The size of the ANSI process entry as the snapshot calls expect it.
inline constexpr std::uint32_t kProcessEntrySize = 296;
// The exit code of a process the launcher stops.
inline constexpr std::uint32_t kTerminateExitCode = 9;

// 1 when a process of that executable name runs (letter case ignored).
int IsProcessRunning(const char* name);
// Terminates, with exit code 9, the first process of that name in snapshot
// order; 1 when it could be opened and was told to end.
int KillProcessByName(const char* name);
// The first top-level window whose title contains `text` (letter case
// ignored), or 0.
Window FindWindowByTitle(const char* text);

// The main window of a process: the first visible top-level window without
// an owner window that the process owns, from the top of the Z order (a
// minimised window counts; dialogs, owned by it, do not); 0 when it has none.
Window FindMainWindowOf(std::uint32_t processId);
// The first top-level window without an owner window that the process owns
// and whose class is `className` (letter case ignored, as the system
// compares class names), from the top, visible or hidden; 0 when it has
// none. A program that hides its main window (into the notification area)
// is found by it.
Window FindWindowOfClass(std::uint32_t processId, const char* className);

// Walks a fresh process snapshot in snapshot order, handing each entry to
// `visit` until it returns false; the snapshot is closed before the walk
// returns. False when no snapshot could be taken.
template <class Visit>
bool WalkProcessSnapshot(Visit&& visit) {
  Handle snapshot = Sys().CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS_FLAG, 0);
  if (!snapshot) return false;
  ProcessEntry entry;
  entry.dwSize = kProcessEntrySize;
  for (bool more = Sys().Process32First(snapshot, &entry); more && visit(entry);
       more = Sys().Process32Next(snapshot, &entry)) {
  }
  Sys().CloseHandle(snapshot);
  return true;
}

// Tells whether the search may return a window; `context` is passed on.
using WindowFilter = bool (*)(Window window, const void* context);
// The same search, passing over the windows `accept` refuses.
Window FindWindowByTitle(const char* text, WindowFilter accept, const void* context);
// Whether a snapshot's executable file names the process `name` (the file
// name part, letter case ignored), as the two process operations match.
bool ExeFileMatches(const char* exeFile, const char* name);

}  // namespace qg
