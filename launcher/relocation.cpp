// Keeping the bundle's settings pointed at where the bundle now lives.
#include <string>

#include "files/file_replacement.h"
#include "files/sequential_file.h"
#include "launcher/launcher.h"
#include "launcher/run_log.h"
#include "launcher/shutdown.h"
#include "prefs/ini_file.h"
#include "system/platform.h"
#include "xml/attribute_markup.h"
#include "xml/xml_document.h"
#include "xml/xml_library.h"

namespace qg {

namespace {

// auto_prepend_file in group PHP: the quoted path of the bundle's header
// script. True when php.ini now holds it (a missing php.ini is created).
bool UpdatePhpSettings(const BundlePaths& paths) {
  Sys().SetLastError(NO_ERROR_CODE);
  bool found = OpenIniFile((paths.phpDir + "php.ini").c_str(), 0) != 0;
  bool missing = !found && Sys().GetLastError() == ERROR_FILE_NOT_FOUND_CODE;
  SelectIniGroup(kPhpGroup);
  std::string value = "\"" + paths.phpDir + kHeaderScript + "\"";
  bool set = WriteIniString(kPrependKey, value.c_str()) != nullptr;
  std::uint32_t error = set ? NO_ERROR_CODE : Sys().GetLastError();
  bool written = CloseIniFile() != 0;
  if (set && !written) error = Sys().GetLastError();
  if (set && written)
    NoteRunEvent(missing ? "php.ini: not found, created with the new value" : "php.ini: updated");
  else
    NoteRunFailure("php.ini: failed", error);
  return set && written;
}

// Whether the file at `path` exists and holds no byte.
bool IsEmptyFile(const std::string& path) {
  Handle file =
      Sys().CreateFileA(path.c_str(), GENERIC_READ_ACCESS,
                        FILE_SHARE_READ_MODE | FILE_SHARE_WRITE_MODE, Creation::OpenExisting);
  if (!file) return false;
  std::uint64_t size = 1;
  bool empty = Sys().GetFileSize(file, &size) && size == 0;
  Sys().CloseHandle(file);
  return empty;
}

// The file browser's root folder in the editor's settings, saved only when
// the file parsed cleanly and has the node. True when the settings need
// nothing more: saved with the new folder, or no file, an empty one, or one
// without the node. A file that cannot be read or does not parse is not done.
bool UpdateEditorSettings(const BundlePaths& paths) {
  std::string config = paths.editorDir + "config.xml";
  Sys().SetLastError(NO_ERROR_CODE);
  if (!LoadXmlDocument(kEditorSettingsDocument, config.c_str(), Ascii)) {
    std::uint32_t error = Sys().GetLastError();
    if (error == ERROR_FILE_NOT_FOUND_CODE) {
      NoteRunEvent("config.xml: not found");
      return true;
    }
    if (error == NO_ERROR_CODE && IsEmptyFile(config)) {
      NoteRunEvent("config.xml: empty, unchanged");
      return true;
    }
    NoteRunFailure("config.xml: failed", error);
    return false;
  }
  if (std::int32_t status = GetParseStatus(kEditorSettingsDocument)) {
    if (status == kParseNoInput)
      NoteRunFailure("config.xml: failed, it could not be read whole", Sys().GetLastError());
    else
      NoteRunEvent("config.xml: failed: it is not well-formed XML");
    return false;
  }
  XmlNode* node = FindNodeByPath(GetMainNode(kEditorSettingsDocument), kFileBrowserRoot);
  if (!node) {
    NoteRunEvent("config.xml: unchanged, it has no ", kFileBrowserRoot);
    return true;
  }
  // Written as character references, so the folder reads back the same
  // whatever encoding the file is labelled with.
  std::string folder = AttributeMarkupFromNarrow((paths.domainsDir + kSiteFolder).c_str());
  SetNodeAttributeMarkup(node, kFolderAttribute, folder.c_str());
  // Without memory for the new value the attribute keeps its old one; the
  // file is then left as it is rather than rewritten with no change in it.
  const char* now = GetNodeAttribute(node, kFolderAttribute);
  if (!now || folder != now) {
    NoteRunFailure("config.xml: failed", ERROR_NOT_ENOUGH_MEMORY_CODE);
    return false;
  }
  if (!SaveXmlDocument(kEditorSettingsDocument, config.c_str())) {
    NoteRunFailure("config.xml: failed", Sys().GetLastError());
    return false;
  }
  NoteRunEvent("config.xml: updated");
  return true;
}

// The new root replaces the old one in one step: a failure at any point
// leaves the file holding the old root (and the next run updates again),
// never an empty or half-written one. Closes the state file.
void RecordRoot(const BundlePaths& paths, const std::string& statePath) {
  FileReplacement replacement;
  bool begun = BeginReplacement(&replacement, statePath.c_str());
  bool written = begun && WriteReplacement(&replacement, paths.rootDir.data(),
                                           static_cast<std::uint32_t>(paths.rootDir.size()));
  std::uint32_t error = written ? NO_ERROR_CODE : Sys().GetLastError();
  CloseNumberedFile(kStateFileNumber);  // our own handle must go before the rename
  if (written) {
    written = CommitReplacement(&replacement);
    if (!written) error = Sys().GetLastError();
  } else if (begun) {
    AbandonReplacement(&replacement);
  }
  if (!written) NoteRunFailure("state.txt: failed, the next start tries again", error);
}

void UpdateIfMoved(const BundlePaths& paths) {
  // Without a root there is nothing sound to write: a relative header path
  // in php.ini would be wrong wherever PHP runs from.
  if (paths.rootDir.empty()) {
    NoteRunFailure("the current folder could not be read, the settings are left alone",
                   Sys().GetLastError());
    return;
  }
  std::string statePath = paths.editorDir + "state.txt";
  // Held open (others may read, not write) until the update is done, so a
  // second launcher in the same bundle cannot interleave its own update.
  if (!OpenNumberedFile(kStateFileNumber, statePath.c_str())) {
    NoteRunFailure("state.txt: could not be opened, the settings are left alone",
                   Sys().GetLastError());
    return;
  }
  std::string storedRoot = ReadLine(kStateFileNumber, Ascii);
  while (!storedRoot.empty() && storedRoot.back() == '\n') storedRoot.pop_back();
  if (storedRoot == paths.rootDir) {
    CloseNumberedFile(kStateFileNumber);
    return;
  }
  const char* quote = storedRoot.empty() ? "" : "\"";
  NoteRunEvent("bundle moved: recorded root ", quote,
               storedRoot.empty() ? "(none)" : storedRoot.c_str(), quote, ", present root \"",
               paths.rootDir, "\"");

  // Both settings are brought up to date on every start until both are
  // done; only then is the new root recorded.
  bool phpDone = UpdatePhpSettings(paths);
  bool editorDone = UpdateEditorSettings(paths);
  if (phpDone && editorDone) {
    RecordRoot(paths, statePath);
  } else {
    CloseNumberedFile(kStateFileNumber);
    NoteRunEvent("state.txt: the recorded root is kept, the next start tries again");
  }
}

}  // namespace

void UpdateBundleIfMoved(const BundlePaths& paths) {
  // The console's close event must not release the libraries under the
  // update; once it has begun to, the update is not started.
  if (!BeginSettingsUpdate()) return;
  UpdateIfMoved(paths);
  EndSettingsUpdate();
}

}  // namespace qg
