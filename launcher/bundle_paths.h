// Where the bundle's parts lie, composed from its root.
#pragma once

#include <string>

namespace qg {

// The editor's program, in the editor folder.
inline constexpr char kEditorExe[] = "notepad++.exe";

// The bundle's folders, each ending with the path separator. When the current
// directory could not be read the root is empty and the others are relative.
struct BundlePaths {
  std::string rootDir;
  std::string phpDir;
  std::string editorDir;
  std::string domainsDir;
  std::string updaterDir;  // the editor's updater, in the editor folder
};

// The paths of the bundle whose root is the current directory.
BundlePaths ComposeBundlePaths();
// The same for a given root (the separator is appended when missing).
BundlePaths BundlePathsFor(std::string root);

}  // namespace qg
