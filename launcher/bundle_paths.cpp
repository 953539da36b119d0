#include "launcher/bundle_paths.h"

#include "launcher/path_text.h"
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

namespace {

// The current directory, asked for with a MAX_PATH buffer first; a longer
// one is asked for again with a buffer of the size the system reports, so a
// deep bundle gets its real root rather than an empty one.
template <class Char, class Read>
bool ReadCurrentDirectory(Read read, std::basic_string<Char>* out) {
  Char buffer[MAX_PATH_LENGTH];
  std::uint32_t length = read(MAX_PATH_LENGTH, buffer);
  if (length == 0) return false;
  if (length < MAX_PATH_LENGTH) {
    out->assign(buffer, length);
    return true;
  }
  out->assign(length, Char());
  std::uint32_t got = read(length, out->data());
  if (got == 0 || got >= length) return false;
  out->resize(got);
  return true;
}

// The root as the ANSI call gives it, without its wide form.
BundlePaths ComposeFromAnsi() {
  std::string narrow;
  bool read = ReadCurrentDirectory<char>(
      [](std::uint32_t size, char* buffer) { return Sys().GetCurrentDirectoryA(size, buffer); },
      &narrow);
  return BundlePathsFor(read ? narrow : "");
}

}  // namespace

// The root as the system names it (wide), held by the code page or not. A
// held root keeps the bytes the ANSI call gives; one that is not held is
// reached through relative paths, and gets its short form for PHP.
BundlePaths ComposeBundlePaths() {
  std::u16string wide;
  if (!ReadCurrentDirectory<char16_t>(
          [](std::uint32_t size, char16_t* buffer) {
            return Sys().GetCurrentDirectoryW(size, buffer);
          },
          &wide))
    return ComposeFromAnsi();
  if (wide.back() != static_cast<char16_t>(kPathSeparator)) wide += kPathSeparator;
  std::string ansi;
  BundlePaths paths;
  Sys().SetLastError(NO_ERROR_CODE);
  if (AnsiPathOf(wide, &ansi)) {
    paths = BundlePathsFor(ansi);
  } else if (Sys().GetLastError() == ERROR_NO_UNICODE_TRANSLATION_CODE) {
    paths = BundlePathsFor("");
    paths.rootHeld = false;
  } else {
    // The conversion itself failed: the root is taken as the ANSI call
    // gives it, as it always was.
    return ComposeFromAnsi();
  }
  paths.wideRoot = LongPathOf(wide);
  paths.rootKey = PathKey(paths.wideRoot);
  if (!paths.rootHeld) {
    // Without 8.3 names the system gives the long form back, which the code
    // page does not hold: no short form then. Only plain ASCII reads the
    // same to every PHP, and in every code page.
    std::u16string shortForm = ShortPathOf(paths.wideRoot);
    bool ascii = !shortForm.empty();
    for (char16_t unit : shortForm) ascii = ascii && unit < 0x80;
    if (ascii) {
      paths.shortRoot.assign(shortForm.begin(), shortForm.end());
      if (paths.shortRoot.back() != kPathSeparator) paths.shortRoot += kPathSeparator;
    }
  }
  return paths;
}

BundlePaths ComparablePaths(const BundlePaths& paths) {
  return BundlePathsFor(paths.rootKey.Text());
}

}  // namespace qg
