#include "launcher/relocation.h"

#include <cstring>

#include "files/file_probes.h"
#include "files/file_replacement.h"
#include "files/sequential_file.h"
#include "launcher/library_lifecycle.h"
#include "launcher/path_text.h"
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

// A failure, with the last error of the call that just failed.
FileOutcome FailedNow(const char* reason = nullptr) {
  FileOutcome outcome = Outcome(FileOutcome::Failed, reason);
  outcome.error = Sys().GetLastError();
  return outcome;
}

// auto_prepend_file in group PHP: the quoted path of the bundle's header
// script. A missing php.ini is created.
FileOutcome UpdatePhpSettings(const BundlePaths& paths) {
  // PHP 5 reads the value in the ANSI code page, PHP 7.1 and later in
  // UTF-8: a root the code page cannot hold is given by its short form,
  // plain ASCII, which reads the same in both.
  std::string phpDir = paths.phpDir;
  if (!paths.rootHeld) {
    if (paths.shortRoot.empty())
      return Outcome(FileOutcome::LeftAlone,
                     "the folder has no short (8.3) name to give PHP in place of its own; the "
                     "next start tries again");
    phpDir = paths.shortRoot + paths.phpDir;
  }
  Sys().SetLastError(NO_ERROR_CODE);
  bool found = OpenIniFile((paths.phpDir + "php.ini").c_str(), 0) != 0;
  bool missing = !found && Sys().GetLastError() == ERROR_FILE_NOT_FOUND_CODE;
  SelectIniGroup(kPhpGroup);
  std::string value = "\"" + phpDir + kHeaderScript + "\"";
  FileOutcome outcome = Outcome(missing ? FileOutcome::Created : FileOutcome::Updated);
  if (!WriteIniString(kPrependKey, value.c_str())) outcome = FailedNow();
  // The file is released either way; its write-back counts only when the
  // value was set.
  if (!CloseIniFile() && outcome.Done()) outcome = FailedNow();
  return outcome;
}

// The file browser's root folder in the editor's settings, saved only when
// the file parsed cleanly and has the node. Done when saved with the new
// folder, or when there is no file, an empty one, or one without the node; a
// file that cannot be read or does not parse is not done.
FileOutcome UpdateEditorSettings(const BundlePaths& paths) {
  std::string config = paths.editorDir + "config.xml";
  Sys().SetLastError(NO_ERROR_CODE);
  if (!LoadXmlDocument(kEditorSettingsDocument, config.c_str(), Ascii)) {
    FileOutcome failed = FailedNow();
    if (failed.error == ERROR_FILE_NOT_FOUND_CODE) return Outcome(FileOutcome::NotFound);
    if (failed.error == NO_ERROR_CODE && IsEmptyFile(config.c_str()))
      return Outcome(FileOutcome::Unchanged, "empty, unchanged");
    return failed;
  }
  switch (GetLoadProblem(kEditorSettingsDocument)) {
    case XmlLoadProblem::None:
      break;
    case XmlLoadProblem::Unreadable:
      return FailedNow("it could not be read whole");
    case XmlLoadProblem::OutOfMemory:
      return Outcome(FileOutcome::Failed, "there was not enough memory to read it");
    case XmlLoadProblem::NotWellFormed:
      return Outcome(FileOutcome::Failed, "it is not well-formed XML");
  }
  XmlNode* node = FindNodeByPath(GetMainNode(kEditorSettingsDocument), kFileBrowserRoot);
  if (!node)
    return Outcome(FileOutcome::Unchanged, "unchanged, it has no /NotepadPlus/FileBrowser/root");
  // Written as character references, so the folder reads back the same
  // whatever encoding the file is labelled with.
  // A root the code page cannot hold: from its exact long form.
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
  if (!SaveXmlDocument(kEditorSettingsDocument, config.c_str())) return FailedNow();
  return Outcome(FileOutcome::Updated);
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
  return kUtf8Mark + PathKey(paths.wideRoot) + kStateLineBreak + paths.shortRoot;
}

// A recorded root as the record shows it.
std::string RecordedRootText(const std::string& firstLine) {
  std::string_view mark(kUtf8Mark);
  if (firstLine.compare(0, mark.size(), mark) != 0) return firstLine;
  return RecordTextOf(WideFromPathKey(std::string_view(firstLine).substr(mark.size())));
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
  std::string firstLine = ReadLine(kStateFileNumber, Ascii);
  std::string secondLine = firstLine.compare(0, std::strlen(kUtf8Mark), kUtf8Mark) == 0
                               ? ReadLine(kStateFileNumber, Ascii)
                               : "";
  report.recordedRoot = RecordedRootText(firstLine);
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
  report.phpIni = UpdatePhpSettings(paths);
  report.configXml = UpdateEditorSettings(paths);
  if (report.phpIni.Done() && report.configXml.Done()) {
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
  if (report.stateTxt.kind == FileOutcome::Failed) NoteFileOutcome("state.txt", report.stateTxt);
  if (report.stateTxt.kind == FileOutcome::Unchanged)
    NoteRunEvent("state.txt: the recorded root is kept, the next start tries again");
}

}  // namespace qg
