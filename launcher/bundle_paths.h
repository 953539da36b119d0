// Where the bundle's parts lie, composed from its root.
#pragma once

#include <string>

#include "launcher/bundle_root.h"
#include "launcher/path_key.h"

namespace qg {

// The editor's program, in the editor folder.
inline constexpr char kEditorExe[] = "notepad++.exe";
// The PHP runtime whose php.ini points at the bundle's header script.
inline constexpr char kPhpVersion[] = "PHP-5.6-5.7";

// The bundle's folders, each ending with the path separator, in the ANSI
// code page. When the current directory could not be read the root is empty
// and the others are relative.
//
// When the code page cannot hold the root's name (a Cyrillic folder under
// code page 1252), the root is empty as well and the others are relative to
// it: the root is the current directory, so the launcher's own file calls
// reach the files whatever the name. The root is then known by its wide
// form (`root`), and PHP is given its short (8.3) form.
struct BundlePaths {
  std::string rootDir;
  std::string phpDir;
  std::string phpVersionsDir;  // the PHP runtimes' folder, phpDir's parent
  std::string editorDir;
  std::string domainsDir;
  std::string updaterDir;  // the editor's updater, in the editor folder
  // The root in all of its forms.
  BundleRoot root;

  // Whether the root is known in some form.
  bool RootKnown() const { return root.Known(); }
};

// The paths of the bundle whose root is the current directory.
BundlePaths ComposeBundlePaths();
// The same for a given root in the ANSI code page (the separator is
// appended when missing); its wide form is left empty.
BundlePaths BundlePathsFor(std::string root);

// The bundle's places the tidy-up, the restart wait and the second start
// match running programs against, as keys of their wide long paths.
struct BundleKeys {
  PathKey root;     // ending with the separator; empty when unknown
  PathKey editor;   // the bundle's notepad++.exe
  PathKey updater;  // the editor's updater folder, ending with the separator
};
// The keys of the bundle below `root` (empty: no program is the bundle's).
BundleKeys BundleKeysFor(const PathKey& root);
// The keys of the bundle's paths, from its root's wide long form.
inline BundleKeys BundleKeysOf(const BundlePaths& paths) { return BundleKeysFor(paths.root.Key()); }

}  // namespace qg
