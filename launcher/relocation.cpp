#include "launcher/relocation.h"

#include "files/file_probes.h"
#include "files/file_replacement.h"
#include "files/sequential_file.h"
#include "files/utf8.h"
#include "launcher/library_lifecycle.h"
#include "launcher/moved_paths.h"
#include "launcher/path_text.h"
#include "launcher/php_ini_paths.h"
#include "launcher/run_log.h"
#include "prefs/ini_file.h"
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

// The root state.txt holds, in the forms it was recorded in: its bytes for
// a root the code page held, else its long form and its short form (see
// kUtf8Mark); read once, each other form made from these.
struct RecordedRoot {
  std::string ansi;
  std::u16string wide;
  std::string shortForm;

  // Its characters, decoded as the platform decodes a root.
  std::u32string Characters() const {
    return wide.empty() ? CodePointsFromNarrow(ansi.c_str()) : CodePointsFromWide(wide);
  }
  // As the run's record shows it.
  std::string RecordText() const { return wide.empty() ? ansi : RecordTextOf(wide); }
};

// The moves of php.ini's places, in its bytes (php_ini_paths.h): from the
// recorded root's bytes where the code page held it, or its long form where
// the code page holds it now, and from its recorded short form; to the
// present root's bytes, or its short form when the code page cannot hold it.
std::vector<RootMove> PhpIniMoves(const RecordedRoot& recorded, const BundlePaths& paths) {
  const std::u32string present = CharactersOfBytes(PhpRootOf(paths));
  std::string longForm = recorded.ansi;
  if (!recorded.wide.empty() && !AnsiPathOf(recorded.wide, &longForm)) longForm.clear();
  std::vector<RootMove> moves;
  const std::string* forms[] = {&longForm, &recorded.shortForm};
  for (const std::string* old : forms) {
    if (!old->empty())
      moves.push_back(RootMove{CharactersOfBytes(*old), present, Sys().FileNamesIgnoreCase()});
  }
  return moves;
}

// The places inside the old root in every value follow the move, and
// auto_prepend_file in group PHP gets the quoted path of the bundle's header
// script. A missing php.ini is created.
FileOutcome UpdatePhpSettings(const BundlePaths& paths, const RecordedRoot& recorded) {
  // PHP 5 reads the value in the ANSI code page, PHP 7.1 and later in
  // UTF-8: a root the code page cannot hold is given by its short form,
  // plain ASCII, which reads the same in both.
  if (PhpRootOf(paths).empty())
    return Outcome(FileOutcome::LeftAlone,
                   "the folder has no short (8.3) name to give PHP in place of its own; the "
                   "next start tries again");
  // The folders of a root the code page cannot hold are relative ones
  // (bundle_paths.h): PHP gets them below the short form.
  const std::string phpDir = paths.rootHeld ? paths.phpDir : paths.shortRoot + paths.phpDir;
  Sys().SetLastError(NO_ERROR_CODE);
  bool found = OpenIniFile((paths.phpDir + "php.ini").c_str(), 0) != 0;
  bool missing = !found && Sys().GetLastError() == ERROR_FILE_NOT_FOUND_CODE;
  FileOutcome outcome = Outcome(missing ? FileOutcome::Created : FileOutcome::Updated);
  // A file that could not be read has no places to move; the write says why.
  if (found) {
    outcome.movedValues = MoveIniPathValues(PhpIniMoves(recorded, paths), ThisPlatformsIniPaths(),
                                            kPhpGroup, kPrependKey);
    if (outcome.movedValues < 0) outcome = FailedNow();
  }
  SelectIniGroup(kPhpGroup);
  std::string value = PhpIniValue(phpDir + kHeaderScript, IniValueForm::DoubleQuoted);
  if (outcome.Done() && !WriteIniString(kPrependKey, value.c_str())) outcome = FailedNow();
  // The file is released either way, and written back only when every value
  // was set: it holds either its old bytes or all of the new ones.
  if (!outcome.Done()) DiscardIniChanges();
  if (!CloseIniFile() && outcome.Done()) outcome = FailedNow();
  return outcome;
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
  if (!SaveXmlDocument(number, path.c_str())) return FailedNow();
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
  std::string site = paths.domainsDir + kSiteFolder;
  if (paths.rootHeld)
    folder = AttributeMarkupFromNarrow(site.c_str());
  else if (!AttributeMarkupFromWide(paths.wideRoot + std::u16string(site.begin(), site.end()),
                                    &folder))
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

// Whether state.txt's first line holds a root in the form for roots the
// code page cannot hold (see kUtf8Mark); true, with its wide form.
bool RecordedWideRoot(std::string_view firstLine, std::u16string* wide) {
  std::string_view mark(kUtf8Mark);
  if (firstLine.substr(0, mark.size()) != mark) return false;
  *wide = PathKey::FromText(firstLine.substr(mark.size())).Wide();
  return true;
}

// The move from the recorded root, in characters, to the present one,
// decoded as the platform decodes the root.
RootMove MoveFrom(const RecordedRoot& recorded, const BundlePaths& paths) {
  RootMove move;
  move.oldRoot = recorded.Characters();
  move.newRoot = paths.rootHeld ? CodePointsFromNarrow(paths.rootDir.c_str())
                                : CodePointsFromWide(paths.wideRoot);
  move.ignoreAsciiCase = Sys().FileNamesIgnoreCase();
  return move;
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

// What state.txt holds for the present root (see kUtf8Mark).
std::string StateRecordOf(const BundlePaths& paths) {
  if (paths.rootHeld) return paths.rootDir;
  return kUtf8Mark + paths.rootKey.Text() + kStateLineBreak + paths.shortRoot;
}

RelocationReport UpdateIfMoved(const BundlePaths& paths) {
  RelocationReport report;
  report.presentRoot = paths.rootDir;
  if (!paths.rootHeld) {
    report.presentRootHeld = false;
    report.codePage = Sys().GetACP();
    report.presentRoot = RecordTextOf(paths.wideRoot);
    report.presentShortRoot = paths.shortRoot;
  }
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
  if (!OpenNumberedFile(kStateFileNumber, statePath.c_str())) {
    report.status = RelocationReport::StateUnopened;
    report.error = Sys().GetLastError();
    return report;
  }
  // ReadLine has already taken the line's end off. A root the code page
  // holds is compared by the first line alone, as always; one it does not
  // hold by both lines, so that a new short form under the same long root
  // counts as a move. Without a short form nothing was recorded.
  Sys().SetLastError(NO_ERROR_CODE);
  std::string firstLine = ReadLine(kStateFileNumber, Ascii);
  std::uint32_t readError = Sys().GetLastError();
  // A file that holds something but gave no line at all could not be read:
  // taken for a first start, it would leave the editor's paths where they
  // were and record the new root all the same.
  if (firstLine.empty() && FilePosition(kStateFileNumber) == 0 && !IsEmptyFile(statePath.c_str())) {
    report.status = RelocationReport::StateUnread;
    report.error = readError;
    CloseNumberedFile(kStateFileNumber);
    return report;
  }
  RecordedRoot recorded;
  const bool wideForm = RecordedWideRoot(firstLine, &recorded.wide);
  std::string secondLine = wideForm ? ReadLine(kStateFileNumber, Ascii) : "";
  if (!wideForm) recorded.ansi = firstLine;
  recorded.shortForm = secondLine;
  report.recordedRoot = recorded.RecordText();
  report.recordedShortRoot = secondLine;
  std::string record = StateRecordOf(paths);
  bool same = paths.rootHeld
                  ? firstLine == paths.rootDir
                  : !paths.shortRoot.empty() && firstLine + kStateLineBreak + secondLine == record;
  if (same) {
    CloseNumberedFile(kStateFileNumber);
    report.status = RelocationReport::NotMoved;
    return report;
  }
  report.status = RelocationReport::Moved;
  // Both settings are brought up to date on every start until both are
  // done; only then is the new root recorded.
  RootMove move = MoveFrom(recorded, paths);
  report.phpIni = UpdatePhpSettings(paths, recorded);
  report.configXml = UpdateEditorSettings(paths, move);
  report.sessionXml =
      UpdateEditorPaths(kEditorSessionDocument, paths.editorDir + "session.xml", move);
  report.shortcutsXml =
      UpdateEditorPaths(kEditorShortcutsDocument, paths.editorDir + "shortcuts.xml", move);
  if (report.phpIni.Done() && report.configXml.Done() && report.sessionXml.Done() &&
      report.shortcutsXml.Done()) {
    report.stateTxt = RecordRoot(record, statePath);
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
  NoteFileOutcome("php.ini", report.phpIni);
  NoteFileOutcome("config.xml", report.configXml);
  NoteFileOutcome("session.xml", report.sessionXml);
  NoteFileOutcome("shortcuts.xml", report.shortcutsXml);
  if (report.stateTxt.kind == FileOutcome::Failed) NoteFileOutcome("state.txt", report.stateTxt);
  if (report.stateTxt.kind == FileOutcome::Unchanged)
    NoteRunEvent("state.txt: the recorded root is kept, the next start tries again");
}

}  // namespace qg
