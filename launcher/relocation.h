// Keeping the bundle's settings pointed at where the bundle now lives: when
// the root recorded in the editor folder's state.txt differs from the
// present one, php.ini's own places follow the move and its
// auto_prepend_file is pointed at the bundle's header script, the editor's
// file-browser root at the site folder, the editor's own paths (its session,
// recent files, find folders, theme, Run commands) follow the move, and the
// present root is recorded once all of that is done.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "launcher/bundle_paths.h"

namespace qg {

// php.ini: auto_prepend_file in group PHP, the quoted path of the header.
inline constexpr char kPhpGroup[] = "PHP";
inline constexpr char kPrependKey[] = "auto_prepend_file";
inline constexpr char kHeaderScript[] = "header.php";
// config.xml: the foldername of the file browser's root, the site folder.
inline constexpr char kFileBrowserRoot[] = "/NotepadPlus/FileBrowser/root";
inline constexpr char kFolderAttribute[] = "foldername";
inline constexpr char kSiteFolder[] = "mysite.local";

// The state file is numbered file 1; the editor's settings are document 0,
// its session document 1, its shortcuts document 2.
inline constexpr int kStateFileNumber = 1;
inline constexpr int kEditorSettingsDocument = 0;
inline constexpr int kEditorSessionDocument = 1;
inline constexpr int kEditorShortcutsDocument = 2;

// What became of one file of the update.
struct FileOutcome {
  // LeftAlone: not touched, and not done either (the next start tries again).
  enum Kind { Updated, Created, Unchanged, NotFound, Failed, LeftAlone };
  Kind kind = Unchanged;
  // Failed: the system's error code, taken at the call that failed (0 when
  // the failure is not the system's).
  std::uint32_t error = 0;
  // In the record's words: for Unchanged the whole state ("empty,
  // unchanged"), for Failed what went wrong beyond the error's own text.
  const char* reason = nullptr;
  // Updated: how many of its values naming places followed the move.
  int movedValues = 0;
  // Failed: the new content could not be written back (after the waits for
  // a file held for a moment); `error` says why.
  bool writeBackFailed = false;
  // Whether the file needs nothing more from this start.
  bool Done() const { return kind != Failed && kind != LeftAlone; }
};

// What the update found and did, for the run log.
struct RelocationReport {
  enum Status {
    Closing,        // the end routine had begun: nothing done or noted
    NoRoot,         // the current folder could not be read: nothing done
    StateUnopened,  // state.txt could not be opened: nothing done
    StateUnread,    // state.txt could not be read: nothing done
    NotMoved,       // the recorded root is the present one
    Moved,          // the settings were brought up to date
  };
  Status status = Closing;
  std::uint32_t error = 0;  // NoRoot, StateUnopened, StateUnread: why
  // state.txt could not be opened for writing (its folder or medium cannot
  // be written), why; it was read as it is, or was not there and could not
  // be made (no root recorded). 0 when it was opened for writing.
  std::uint32_t stateWriteError = 0;
  bool stateMissing = false;
  // As the record shows them: a root the code page cannot hold with its
  // other characters as references, and its short form (empty when none).
  std::string recordedRoot;
  std::string recordedShortRoot;
  std::string presentRoot;
  std::string presentShortRoot;
  // The present root's name has characters the code page (number) cannot
  // hold.
  bool presentRootHeld = true;
  // The present root's name holds php.ini's list separator (';' on
  // Windows): PHP is given its short form.
  bool presentRootListSeparator = false;
  std::uint32_t codePage = 0;
  FileOutcome phpIni;
  // The php.ini of each other PHP runtime of the bundle (the folders beside
  // PHP-5.6-5.7), in byte order of their names; only their places follow.
  struct OtherPhpIni {
    std::string folder;
    FileOutcome outcome;
  };
  std::vector<OtherPhpIni> otherPhpInis;
  // Failed when the runtimes' folder could not be listed.
  FileOutcome phpVersions;
  // Runtime folders passed over: the code page cannot hold their names and
  // they have no short form.
  std::size_t unreachablePhpFolders = 0;
  FileOutcome configXml;
  FileOutcome sessionXml;
  FileOutcome shortcutsXml;
  // Moved: Updated when the present root was recorded, Unchanged when the
  // old one was kept because a settings file is not done, Failed when
  // recording it failed.
  FileOutcome stateTxt;
};

// Reads the recorded root and, when the bundle has moved, moves php.ini's
// places (php_ini_paths.h) and updates it and config.xml, moves the places
// in the php.ini of every other PHP runtime of the bundle, moves the
// editor's own paths in the values and texts of config.xml, session.xml and
// shortcuts.xml (moved_paths.h), and records the present root when all of
// them are done, so that a start that could not update them tries again. Does
// nothing, not even reading state.txt, without a root or once the end
// routine has begun.
RelocationReport UpdateBundleIfMoved(const BundlePaths& paths);
// Notes in the run's record what the update found and did; a bundle that
// has not moved notes nothing.
void NoteRelocation(const RelocationReport& report);
// Whether the bundle has moved and a settings file could not be written
// back: the bundle's PHP and editor keep their old paths, which the user is
// told (settings_notice.h).
bool SettingsLeftBehind(const RelocationReport& report);

}  // namespace qg
