#include "launcher/bundle_paths.h"

#include "system/paths.h"

namespace qg {

BundlePaths BundlePathsFor(std::string root) {
  BundlePaths paths;
  // A drive root such as D:\ already ends with the separator. Without a
  // root the folders are relative ones, below the current directory.
  if (!root.empty() && root.back() != kPathSeparator) root += kPathSeparator;
  paths.rootDir = root;
  paths.phpVersionsDir = root + "server" + kSep + "modules" + kSep + "php" + kSep;
  paths.phpDir = paths.phpVersionsDir + kPhpVersion + kSep;
  paths.editorDir = root + "server" + kSep + "notepad" + kSep;
  paths.domainsDir = root + "server" + kSep + "domains" + kSep;
  paths.updaterDir = paths.editorDir + "updater" + kSep;
  paths.root = BundleRoot::FromAnsi(root);
  return paths;
}

// A root the code page does not hold is reached through relative paths:
// the folders are composed below an empty root.
BundlePaths ComposeBundlePaths() {
  BundleRoot root = BundleRoot::Present();
  BundlePaths paths = BundlePathsFor(root.Held() ? root.Ansi() : "");
  paths.root = std::move(root);
  return paths;
}

BundleKeys BundleKeysFor(const PathKey& root) {
  if (root.Empty()) return {};
  const BundlePaths paths = BundlePathsFor(root.Text());
  return {root, PathKey::FromText(paths.editorDir + kEditorExe),
          PathKey::FromText(paths.updaterDir)};
}

}  // namespace qg
