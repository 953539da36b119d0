// Where the bundle's parts lie, composed from its root.
#pragma once

#include <string>

#include "launcher/path_text.h"

namespace qg {

// The editor's program, in the editor folder.
inline constexpr char kEditorExe[] = "notepad++.exe";

// The bundle's folders, each ending with the path separator, in the ANSI
// code page. When the current directory could not be read the root is empty
// and the others are relative.
//
// When the code page cannot hold the root's name (a Cyrillic folder under
// code page 1252), the root is empty as well and the others are relative to
// it: the root is the current directory, so the launcher's own file calls
// reach the files whatever the name. The root is then known by its wide
// form, and PHP is given its short (8.3) form.
struct BundlePaths {
  std::string rootDir;
  std::string phpDir;
  std::string editorDir;
  std::string domainsDir;
  std::string updaterDir;  // the editor's updater, in the editor folder
  // The root's long form in UTF-16, ending with the separator; empty when
  // the current directory could not be read as such.
  std::u16string wideRoot;
  // The same as the comparison key, made once for the run's comparisons.
  PathKey rootKey;
  // Whether the code page holds the root's name: always on POSIX, where a
  // path is bytes.
  bool rootHeld = true;
  // A root the code page does not hold: its short form, plain ASCII, ending
  // with the separator; empty when it has none (a volume without 8.3 names).
  std::string shortRoot;

  // Whether the root is known in some form.
  bool RootKnown() const { return !rootDir.empty() || !wideRoot.empty(); }
};

// The root as PHP is given it: its bytes when the code page holds it, else
// its short form (empty when it has none), which PHP 5 and PHP 7 read alike.
inline const std::string& PhpRootOf(const BundlePaths& paths) {
  return paths.rootHeld ? paths.rootDir : paths.shortRoot;
}

// The paths of the bundle whose root is the current directory.
BundlePaths ComposeBundlePaths();
// The same for a given root (the separator is appended when missing); its
// wide form is left empty.
BundlePaths BundlePathsFor(std::string root);
// The same paths in the form the tidy-up compares (the text of the root's
// key, `rootKey`), for the programs' paths to be matched against them; the
// root empty when its wide form is unknown.
BundlePaths ComparablePaths(const BundlePaths& paths);

}  // namespace qg
