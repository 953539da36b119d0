#include "launcher/relocation.h"

#include "files/file_probes.h"
#include "files/file_replacement.h"
#include "files/sequential_file.h"
#include "files/utf8.h"
#include "launcher/library_lifecycle.h"
#include "launcher/moved_paths.h"
#include "launcher/php_ini_paths.h"
#include "launcher/php_versions.h"
#include "launcher/run_log.h"
#include "launcher/state_record.h"
#include "prefs/ini_file.h"
#include "system/paths.h"
#include "system/platform.h"
#include "xml/attribute_markup.h"
#include "xml/xml_document.h"
#include "xml/xml_library.h"

namespace qg {

namespace {

FileOutcome Outcome(FileOutcome::Kind kind, const char* reason = nullptr) {
  FileOutcome outcome;
  outcome.kind = kind;
  outcome.reason = reason;
  return outcome;
}

// A failure, with the error of the call that failed.
FileOutcome FailedWith(std::uint32_t error, const char* reason = nullptr) {
  FileOutcome outcome = Outcome(FileOutcome::Failed, reason);
  outcome.error = error;
  return outcome;
}

// A failure, with the last error of the call that just failed.
FileOutcome FailedNow(const char* reason = nullptr) {
  return FailedWith(Sys().GetLastError(), reason);
}

// The write-back of a file's new content failed, with the last error.
FileOutcome NotWrittenBack() {
  FileOutcome outcome = FailedNow();
  outcome.writeBackFailed = true;
  return outcome;
}

// The places inside the old root in every value follow the move, and
// auto_prepend_file in group PHP gets the quoted path of the bundle's header
// script. A missing php.ini is created.
FileOutcome UpdatePhpSettings(const BundlePaths& paths, const BundleRoot& recorded) {
  // PHP 5 reads the value in the ANSI code page, PHP 7.1 and later in
  // UTF-8: a root the code page cannot hold is given by its short form,
  // plain ASCII, which reads the same in both; so is one whose name holds
  // the list separator, at which PHP splits its lists.
  if (paths.root.PhpBytes().empty())
    return Outcome(FileOutcome::LeftAlone,
                   "the folder has no short (8.3) name to give PHP in place of its own; the "
                   "next start tries again");
  // The header script below the root as PHP is given it.
  const std::string phpDir = paths.root.PhpBytes() + BundlePathsFor("").phpDir;
  Sys().SetLastError(NO_ERROR_CODE);
  bool found = OpenIniFile((paths.phpDir + "php.ini").c_str(), 0) != 0;
  bool missing = !found && Sys().GetLastError() == ERROR_FILE_NOT_FOUND_CODE;
  FileOutcome outcome = Outcome(missing ? FileOutcome::Created : FileOutcome::Updated);
  // A file that could not be read has no places to move; the write says why.
  if (found) {
    outcome.movedValues = MoveIniPathValues(recorded.PhpMovesTo(paths.root),
                                            ThisPlatformsIniPaths(), kPhpGroup, kPrependKey);
    if (outcome.movedValues < 0) outcome = FailedNow();
  }
  SelectIniGroup(kPhpGroup);
  std::string value = PhpIniValue(phpDir + kHeaderScript, IniValueForm::DoubleQuoted);
  if (outcome.Done() && !WriteIniString(kPrependKey, value.c_str())) outcome = FailedNow();
  // The file is released either way, and written back only when every value
  // was set: it holds either its old bytes or all of the new ones.
  if (!outcome.Done()) DiscardIniChanges();
  if (!CloseIniFile() && outcome.Done()) outcome = NotWrittenBack();
  return outcome;
}

// The php.ini of another PHP runtime: only its places inside the old root
// follow, by the same rule and writer as PHP-5.6-5.7's; written back only
// when one moved.
FileOutcome MoveOtherPhpSettings(const std::string& path, const std::vector<ByteRootMove>& moves) {
  Sys().SetLastError(NO_ERROR_CODE);
  if (!OpenIniFile(path.c_str(), 0)) {
    // Not created: the file was listed, so it could not be read.
    FileOutcome outcome = FailedNow();
    CloseIniFile();
    return outcome;
  }
  const int moved = MoveIniPathValues(moves, ThisPlatformsIniPaths(), nullptr, nullptr);
  if (moved <= 0) {
    FileOutcome outcome = moved < 0 ? FailedNow() : Outcome(FileOutcome::Unchanged);
    DiscardIniChanges();
    CloseIniFile();
    return outcome;
  }
  if (!CloseIniFile()) return NotWrittenBack();
  FileOutcome outcome = Outcome(FileOutcome::Updated);
  outcome.movedValues = moved;
  return outcome;
}

// Every PHP runtime beside PHP-5.6-5.7 (handled once, by UpdatePhpSettings),
// in byte order of the folders' names. Not done when the folder cannot be
// listed.
void MoveOtherPhpVersions(const BundlePaths& paths, const BundleRoot& recorded,
                          RelocationReport* report) {
  PhpVersionFolders folders;
  if (!ListPhpVersionFolders(paths.phpVersionsDir, &folders)) {
    report->phpVersions = FailedNow("the PHP runtimes' folder could not be listed");
    return;
  }
  report->unreachablePhpFolders = folders.unreachable;
  const std::vector<ByteRootMove> moves = recorded.PhpMovesTo(paths.root);
  for (const std::string& name : folders.names) {
    if (PathKey::SameText<char>(name, kPhpVersion, Sys().FileNamesIgnoreCase())) continue;
    report->otherPhpInis.push_back(
        {name, MoveOtherPhpSettings(paths.phpVersionsDir + name + kSep + kPhpIniName, moves)});
  }
}

// Loads one of the editor's files as `number`. True when it parsed
// cleanly; otherwise `outcome` says what became of it: done when there is
// no such file or it is empty, failed when it cannot be read or parsed.
bool LoadEditorFile(int number, const std::string& path, FileOutcome* outcome) {
  Sys().SetLastError(NO_ERROR_CODE);
  if (!LoadXmlDocument(number, path.c_str(), Ascii)) {
    *outcome = FailedNow();
    if (outcome->error == ERROR_FILE_NOT_FOUND_CODE) *outcome = Outcome(FileOutcome::NotFound);
    if (outcome->error == NO_ERROR_CODE && IsEmptyFile(path.c_str()))
      *outcome = Outcome(FileOutcome::Unchanged, "empty, unchanged");
    return false;
  }
  switch (GetLoadProblem(number)) {
    case XmlLoadProblem::None:
      return true;
    case XmlLoadProblem::Unreadable:
      *outcome = FailedNow("it could not be read whole");
      break;
    case XmlLoadProblem::OutOfMemory:
      *outcome = Outcome(FileOutcome::Failed, "there was not enough memory to read it");
      break;
    case XmlLoadProblem::NotWellFormed:
      *outcome = Outcome(FileOutcome::Failed, "it is not well-formed XML");
      break;
  }
  return false;
}

// Loads one of the editor's files and moves its paths (MovePathValues,
// MovePathTexts): true with `moved` the number of values and texts moved,
// else `outcome` says what became of the file.
bool LoadAndMovePaths(int number, const std::string& path, const RootMove& move, int* moved,
                      FileOutcome* outcome) {
  if (!LoadEditorFile(number, path, outcome)) return false;
  std::uint32_t error = NO_ERROR_CODE;
  int values = MovePathValues(GetMainNode(number), move, &error);
  int texts = values < 0 ? -1 : MovePathTexts(GetMainNode(number), move, &error);
  *moved = values + texts;
  if (texts < 0) *outcome = FailedWith(error);
  return texts >= 0;
}

// Saves a document whose values changed; Updated with the number of moved
// paths, or the failure.
FileOutcome SaveEditorFile(int number, const std::string& path, int movedValues) {
  if (!SaveXmlDocument(number, path.c_str())) return NotWrittenBack();
  FileOutcome outcome = Outcome(FileOutcome::Updated);
  outcome.movedValues = movedValues;
  return outcome;
}

// The file browser's root folder in the editor's settings, and the editor's
// paths inside the old root. Saved only when the file parsed cleanly and a
// value changed. Done when saved, or when there is no file, an empty one, or
// one with nothing to change; a file that cannot be read or does not parse
// is not done.
FileOutcome UpdateEditorSettings(const BundlePaths& paths, const RootMove& move) {
  std::string config = paths.editorDir + "config.xml";
  FileOutcome outcome;
  int moved = 0;
  if (!LoadAndMovePaths(kEditorSettingsDocument, config, move, &moved, &outcome)) return outcome;
  XmlNode* node = FindNodeByPath(GetMainNode(kEditorSettingsDocument), kFileBrowserRoot);
  if (!node) {
    if (moved == 0)
      return Outcome(FileOutcome::Unchanged, "unchanged, it has no /NotepadPlus/FileBrowser/root");
    return SaveEditorFile(kEditorSettingsDocument, config, moved);
  }
  // Written as character references, so the folder reads back the same
  // whatever encoding the file is labelled with; a root the code page cannot
  // hold from its exact long form.
  std::string folder;
  std::string site = BundlePathsFor("").domainsDir + kSiteFolder;
  if (!paths.root.AttributeMarkupBelow(site, &folder))
    return Outcome(FileOutcome::Failed, "the folder's name is not valid Unicode");
  Sys().SetLastError(NO_ERROR_CODE);
  if (!SetNodeAttributeMarkup(node, kFolderAttribute, folder.c_str())) return FailedNow();
  // The file is saved only when the attribute reads back as set.
  const char* now = GetNodeAttribute(node, kFolderAttribute);
  if (!now || folder != now) return Outcome(FileOutcome::Failed, "the new folder did not hold");
  return SaveEditorFile(kEditorSettingsDocument, config, moved);
}

// One of the editor's files whose paths only follow the move: its session
// (its files, and the backups of unsaved ones) and its shortcuts (the Run
// menu's commands). Saved only when something moved; done as config.xml is.
FileOutcome UpdateEditorPaths(int number, const std::string& path, const RootMove& move) {
  if (!move.Applies()) return Outcome(FileOutcome::Unchanged, "unchanged, no earlier root");
  FileOutcome outcome;
  int moved = 0;
  if (!LoadAndMovePaths(number, path, move, &moved, &outcome)) return outcome;
  if (moved == 0) return Outcome(FileOutcome::Unchanged);
  return SaveEditorFile(number, path, moved);
}

void CloseStateFile(void*) { CloseNumberedFile(kStateFileNumber); }

// The new root replaces the old one in one step: a failure at any point
// leaves the file holding the old root (and the next run updates again),
// never an empty or half-written one. Closes the state file, whose own
// handle must go before the rename.
FileOutcome RecordRoot(const std::string& record, const std::string& statePath) {
  if (!ReplaceFileContent(statePath.c_str(), record.data(), record.size(), CloseStateFile, nullptr))
    return FailedNow("the next start tries again");
  return Outcome(FileOutcome::Updated);
}

RelocationReport UpdateIfMoved(const BundlePaths& paths) {
  RelocationReport report;
  report.presentRoot = paths.root.LogText();
  report.presentRootHeld = paths.root.Held();
  report.presentRootListSeparator = paths.root.Held() && paths.root.HoldsListSeparator();
  if (paths.root.PhpTakesShortForm()) report.presentShortRoot = paths.root.ShortForm();
  if (!paths.root.Held()) report.codePage = Sys().GetACP();
  // Without a root there is nothing sound to write: a relative header path
  // in php.ini would be wrong wherever PHP runs from.
  if (!paths.RootKnown()) {
    report.status = RelocationReport::NoRoot;
    report.error = Sys().GetLastError();
    return report;
  }
  std::string statePath = paths.editorDir + "state.txt";
  // Held open (others may read, not write) until the update is done, so a
  // second launcher in the same bundle cannot interleave its own update.
  // Where it cannot be written (a write-protected medium, a folder the user
  // may not write) it is read as it is; one that is not there and cannot be
  // made records no root, as on a first start.
  if (!OpenNumberedFile(kStateFileNumber, statePath.c_str())) {
    report.stateWriteError = Sys().GetLastError();
    if (!OpenNumberedFileForReading(kStateFileNumber, statePath.c_str())) {
      report.stateMissing = Sys().GetLastError() == ERROR_FILE_NOT_FOUND_CODE;
      if (!report.stateMissing) {
        report.status = RelocationReport::StateUnopened;
        report.error = report.stateWriteError;
        report.stateWriteError = 0;
        return report;
      }
    }
  }
  StateLines lines;
  if (!report.stateMissing &&
      !ReadStateLines(kStateFileNumber, statePath.c_str(), &lines, &report.error)) {
    report.status = RelocationReport::StateUnread;
    CloseNumberedFile(kStateFileNumber);
    return report;
  }
  report.error = 0;
  const BundleRoot recorded = RecordedRootOf(lines);
  report.recordedRoot = recorded.LogText();
  report.recordedShortRoot = lines.second;
  if (RecordsRoot(lines, paths.root)) {
    CloseNumberedFile(kStateFileNumber);
    report.status = RelocationReport::NotMoved;
    return report;
  }
  report.status = RelocationReport::Moved;
  // Both settings are brought up to date on every start until both are
  // done; only then is the new root recorded.
  const RootMove move = recorded.CharacterMoveTo(paths.root);
  report.phpIni = UpdatePhpSettings(paths, recorded);
  // A root PHP cannot be given leaves every php.ini alone.
  if (report.phpIni.kind != FileOutcome::LeftAlone) MoveOtherPhpVersions(paths, recorded, &report);
  report.configXml = UpdateEditorSettings(paths, move);
  report.sessionXml =
      UpdateEditorPaths(kEditorSessionDocument, paths.editorDir + "session.xml", move);
  report.shortcutsXml =
      UpdateEditorPaths(kEditorShortcutsDocument, paths.editorDir + "shortcuts.xml", move);
  bool phpDone = report.phpIni.Done() && report.phpVersions.Done();
  for (const RelocationReport::OtherPhpIni& other : report.otherPhpInis)
    phpDone = phpDone && other.outcome.Done();
  if (phpDone && report.configXml.Done() && report.sessionXml.Done() &&
      report.shortcutsXml.Done()) {
    report.stateTxt = RecordRoot(StateRecordOf(paths.root), statePath);
  } else {
    CloseNumberedFile(kStateFileNumber);
    report.stateTxt = Outcome(FileOutcome::Unchanged);
  }
  return report;
}

// " (short form "...")" after a root that has one.
std::string ShortFormText(const std::string& shortRoot) {
  return shortRoot.empty() ? "" : " (short form \"" + shortRoot + "\")";
}

// "name: " and the outcome in the record's words.
void NoteFileOutcome(const char* name, const FileOutcome& outcome) {
  switch (outcome.kind) {
    case FileOutcome::Updated:
      if (outcome.movedValues > 0)
        return NoteRunEvent(name, ": updated, ",
                            NumberText(static_cast<std::uint32_t>(outcome.movedValues)),
                            " value(s) naming places in the old root moved");
      return NoteRunEvent(name, ": updated");
    case FileOutcome::Created:
      return NoteRunEvent(name, ": not found, created with the new value");
    case FileOutcome::NotFound:
      return NoteRunEvent(name, ": not found");
    case FileOutcome::LeftAlone:
      return NoteRunEvent(name, ": left alone, ", outcome.reason);
    case FileOutcome::Unchanged:
      return NoteRunEvent(name, ": ", outcome.reason ? outcome.reason : "unchanged");
    case FileOutcome::Failed:
      if (!outcome.reason)
        return NoteRunFailure((std::string(name) + ": failed").c_str(), outcome.error);
      if (!outcome.error) return NoteRunEvent(name, ": failed: ", outcome.reason);
      return NoteRunFailure((std::string(name) + ": failed, " + outcome.reason).c_str(),
                            outcome.error);
  }
}

}  // namespace

RelocationReport UpdateBundleIfMoved(const BundlePaths& paths) {
  // The console's close event must not release the libraries under the
  // update; once it has begun to, the update is not started.
  if (!BeginSettingsUpdate()) return RelocationReport();
  RelocationReport report = UpdateIfMoved(paths);
  EndSettingsUpdate();
  return report;
}

void NoteRelocation(const RelocationReport& report) {
  switch (report.status) {
    case RelocationReport::Closing:
    case RelocationReport::NotMoved:
      return;
    case RelocationReport::NoRoot:
      return NoteRunFailure("the current folder could not be read, the settings are left alone",
                            report.error);
    case RelocationReport::StateUnopened:
      return NoteRunFailure("state.txt: could not be opened, the settings are left alone",
                            report.error);
    case RelocationReport::StateUnread:
      return NoteRunFailure("state.txt: could not be read, the settings are left alone",
                            report.error);
    case RelocationReport::Moved:
      break;
  }
  const char* quote = report.recordedRoot.empty() ? "" : "\"";
  NoteRunEvent("bundle moved: recorded root ", quote,
               report.recordedRoot.empty() ? "(none)" : report.recordedRoot.c_str(), quote,
               ShortFormText(report.recordedShortRoot), ", present root \"", report.presentRoot,
               "\"", ShortFormText(report.presentShortRoot));
  if (!report.presentRootHeld)
    NoteRunEvent("the bundle folder's name has characters that the ANSI code page (",
                 NumberText(report.codePage),
                 report.presentShortRoot.empty()
                     ? ") cannot hold, and the folder has no short (8.3) name"
                     : ") cannot hold: PHP is given the folder's short name, the editor its own");
  if (report.presentRootListSeparator)
    NoteRunEvent("the bundle folder's name holds '",
                 std::string(1, ThisPlatformsIniPaths().listSeparator),
                 "', at which PHP splits its lists of places",
                 report.presentShortRoot.empty()
                     ? ", and the folder has no short (8.3) name"
                     : ": PHP is given the folder's short name, the editor its own");
  if (report.stateWriteError)
    NoteRunFailure(report.stateMissing
                       ? "state.txt: not found, and it could not be created"
                       : "state.txt: could not be opened for writing, read as it is",
                   report.stateWriteError);
  NoteFileOutcome("php.ini", report.phpIni);
  if (!report.phpVersions.Done()) NoteFileOutcome("server/modules/php", report.phpVersions);
  for (const RelocationReport::OtherPhpIni& other : report.otherPhpInis)
    NoteFileOutcome(("php.ini of " + other.folder).c_str(), other.outcome);
  if (report.unreachablePhpFolders > 0)
    NoteRunEvent(
        "PHP runtimes: ", NumberText(static_cast<std::uint32_t>(report.unreachablePhpFolders)),
        " folder(s) whose names the ANSI code page cannot hold and that have no short "
        "(8.3) name were passed over");
  NoteFileOutcome("config.xml", report.configXml);
  NoteFileOutcome("session.xml", report.sessionXml);
  NoteFileOutcome("shortcuts.xml", report.shortcutsXml);
  if (report.stateTxt.kind == FileOutcome::Failed) NoteFileOutcome("state.txt", report.stateTxt);
  if (report.stateTxt.kind == FileOutcome::Unchanged)
    NoteRunEvent("state.txt: the recorded root is kept, the next start tries again");
}

bool SettingsLeftBehind(const RelocationReport& report) {
  bool other = false;
  for (const RelocationReport::OtherPhpIni& php : report.otherPhpInis)
    other = other || php.outcome.writeBackFailed;
  return report.status == RelocationReport::Moved &&
         (report.phpIni.writeBackFailed || other || report.configXml.writeBackFailed ||
          report.sessionXml.writeBackFailed || report.shortcutsXml.writeBackFailed);
}

}  // namespace qg
