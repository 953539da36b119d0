// Keeping the bundle's settings pointed at where the bundle now lives.
#include <string>

#include "files/file_replacement.h"
#include "files/sequential_file.h"
#include "launcher/launcher.h"
#include "prefs/ini_file.h"
#include "xml/attribute_markup.h"
#include "xml/xml_library.h"

namespace qg {

namespace {

// auto_prepend_file in group PHP: the quoted path of the bundle's header
// script. Nothing here is checked: whatever becomes of php.ini, the run goes
// on.
void UpdatePhpSettings(const BundlePaths& paths) {
  OpenIniFile((paths.phpDir + "php.ini").c_str(), 0);
  SelectIniGroup(kPhpGroup);
  std::string value = "\"" + paths.phpDir + kHeaderScript + "\"";
  WriteIniString(kPrependKey, value.c_str());
  CloseIniFile();
}

// The file browser's root folder in the editor's settings, saved only when
// the file parsed cleanly and has the node.
void UpdateEditorSettings(const BundlePaths& paths) {
  std::string config = paths.editorDir + "config.xml";
  if (!LoadXmlDocument(kEditorSettingsDocument, config.c_str(), Ascii)) return;
  if (GetParseStatus(kEditorSettingsDocument) != 0) return;
  XmlNode* node = FindNodeByPath(GetMainNode(kEditorSettingsDocument), kFileBrowserRoot);
  if (!node) return;
  // Written as character references, so the folder reads back the same
  // whatever encoding the file is labelled with.
  std::string folder = AttributeMarkupFromNarrow((paths.domainsDir + kSiteFolder).c_str());
  SetNodeAttributeMarkup(node, kFolderAttribute, folder.c_str());
  // Without memory for the new value the attribute keeps its old one; the
  // file is then left as it is rather than rewritten with no change in it.
  const char* now = GetNodeAttribute(node, kFolderAttribute);
  if (!now || folder != now) return;
  SaveXmlDocument(kEditorSettingsDocument, config.c_str());
}

}  // namespace

void UpdateBundleIfMoved(const BundlePaths& paths) {
  // Without a root there is nothing sound to write: a relative header path
  // in php.ini would be wrong wherever PHP runs from.
  if (paths.rootDir.empty()) return;
  std::string statePath = paths.editorDir + "state.txt";
  // Held open (others may read, not write) until the update is done, so a
  // second launcher in the same bundle cannot interleave its own update.
  if (!OpenNumberedFile(kStateFileNumber, statePath.c_str())) return;
  std::string storedRoot = ReadLine(kStateFileNumber, Ascii);
  while (!storedRoot.empty() && storedRoot.back() == '\n') storedRoot.pop_back();
  if (storedRoot == paths.rootDir) {
    CloseNumberedFile(kStateFileNumber);
    return;
  }

  UpdatePhpSettings(paths);
  UpdateEditorSettings(paths);

  // The new root replaces the old one in one step: a failure at any point
  // leaves the file holding the old root (and the next run updates again),
  // never an empty or half-written one.
  FileReplacement replacement;
  bool begun = BeginReplacement(&replacement, statePath.c_str());
  bool written = begun && WriteReplacement(&replacement, paths.rootDir.data(),
                                           static_cast<std::uint32_t>(paths.rootDir.size()));
  CloseNumberedFile(kStateFileNumber);  // our own handle must go before the rename
  if (written)
    CommitReplacement(&replacement);
  else if (begun)
    AbandonReplacement(&replacement);
}

}  // namespace qg
