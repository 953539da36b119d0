#include <cstring>

#include "launcher/bundle_paths.h"
#include "system/paths.h"
#include "system/platform.h"

namespace qg {

BundlePaths BundlePathsFor(std::string root) {
  BundlePaths paths;
  // A drive root such as D:\ already ends with the separator. Without a
  // root the folders are relative ones, below the current directory.
  if (!root.empty() && root.back() != kPathSeparator) root += kPathSeparator;
  paths.rootDir = root;
  paths.phpDir = root + "server" + kSep + "modules" + kSep + "php" + kSep + "PHP-5.6-5.7" + kSep;
  paths.editorDir = root + "server" + kSep + "notepad" + kSep;
  paths.domainsDir = root + "server" + kSep + "domains" + kSep;
  paths.updaterDir = paths.editorDir + "updater" + kSep;
  return paths;
}

// The current directory, asked for with a MAX_PATH buffer first; a longer
// one is asked for again with a buffer of the size the system reports, so a
// deep bundle gets its real root rather than an empty one.
BundlePaths ComposeBundlePaths() {
  char buffer[MAX_PATH_LENGTH];
  std::uint32_t length = Sys().GetCurrentDirectoryA(sizeof buffer, buffer);
  if (length == 0) return BundlePathsFor("");
  if (length < sizeof buffer) return BundlePathsFor(std::string(buffer, length));
  std::string longer(length, '\0');
  std::uint32_t got = Sys().GetCurrentDirectoryA(length, longer.data());
  if (got == 0 || got >= length) return BundlePathsFor("");
  longer.resize(got);
  return BundlePathsFor(std::move(longer));
}

}  // namespace qg
