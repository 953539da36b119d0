// The launcher's sequence, from library start-up to the end routine.
#pragma once

#include <string>

#include "launcher/process_control.h"

namespace qg {

// Texts the launcher uses, fixed in the program.
inline constexpr char kEditorExe[] = "notepad++.exe";
inline constexpr char kConsoleTitle[] = "Quillgate by Dalvenor";
// Printed before the relocation check: the line as the program has always
// printed it. Its letters were lost to a code page long ago; the question
// marks are kept byte for byte.
inline constexpr char kStartLine[] = "????????????? ???????";
inline constexpr char kPhpGroup[] = "PHP";
inline constexpr char kPrependKey[] = "auto_prepend_file";
inline constexpr char kHeaderScript[] = "header.php";
inline constexpr char kFileBrowserRoot[] = "/NotepadPlus/FileBrowser/root";
inline constexpr char kFolderAttribute[] = "foldername";
inline constexpr char kSiteFolder[] = "mysite.local";
inline constexpr char kCommandWindowText[] = "cmd";
inline constexpr char kPhpProcess[] = "php.exe";
inline constexpr char kConsoleProcess[] = "ConEmu.exe";

// The state file is numbered file 1; the editor's settings are document 0.
inline constexpr int kStateFileNumber = 1;
inline constexpr int kEditorSettingsDocument = 0;

// The command-window loop gives up after this many passes (about five
// seconds of 100 ms pauses), so a window that ignores the close request
// cannot keep the launcher alive.
inline constexpr int kMaxCloseWindowPasses = 50;

// The bundle's folders, each ending with the path separator. When the current
// directory could not be read the root is empty and the others are relative.
struct BundlePaths {
  std::string rootDir;
  std::string phpDir;
  std::string editorDir;
  std::string domainsDir;
};

// The paths of the bundle whose root is the current directory.
BundlePaths ComposeBundlePaths();
// The same for a given root (the separator is appended when missing).
BundlePaths BundlePathsFor(std::string root);

// Reads the root recorded in the editor folder's state.txt and, when it
// differs from the present root, points php.ini's auto_prepend_file at the
// bundle's header script and the editor's file-browser root at the site
// folder. The present root is recorded in state.txt only when both files are
// done, so a start that could not update them tries again. Notes what it did
// in the run's record. Does nothing without a root, nor once the end routine
// has begun.
void UpdateBundleIfMoved(const BundlePaths& paths);

// Sends a close request to every window whose title holds "cmd" and that
// `accept` takes, one at a time, until none is left or the pass limit is
// reached. Returns the passes that found a window; `asked` (may be null)
// receives the number of different windows asked.
int CloseCommandWindows(WindowFilter accept, const void* context, int* asked = nullptr);

// Starts the libraries in their order; the end routine is armed again.
void StartLibraries();

// The whole run; returns the exit code (always 0).
int LauncherMain();

}  // namespace qg
