// The bundle's root in every form the run needs: one value for the present
// root (the current folder at start) and one for the root state.txt
// recorded, each made once and asked for its forms by name, so that no
// caller converts a root itself.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "launcher/moved_paths.h"
#include "launcher/path_key.h"

namespace qg {

class BundleRoot {
 public:
  // An unknown root: no form at all.
  BundleRoot() = default;

  // The present root, from the current folder read wide and expanded to
  // its long form. When the wide read or its conversion fails, the root as
  // the ANSI call gives it (bytes alone); when neither can be read, an
  // unknown root.
  static BundleRoot Present();
  // A root known only by its bytes in the ANSI code page (the separator
  // appended when missing; empty stays unknown).
  static BundleRoot FromAnsi(std::string ansi);
  // A root known by its wide long form (ending with the separator) and the
  // short form recorded for it (may be empty); its bytes are those the code
  // page gives it now, when it holds it exactly.
  static BundleRoot FromWide(std::u16string wide, std::string shortForm);

  // Whether the root is known in some form.
  bool Known() const { return !ansi_.empty() || !wide_.empty(); }
  // Whether the ANSI code page holds the root's name (always on POSIX,
  // where a path is bytes).
  bool Held() const { return held_; }
  // The root's bytes in the ANSI code page, ending with the separator;
  // empty when the code page does not hold it (its files are then reached
  // by paths relative to the current folder).
  const std::string& Ansi() const { return ansi_; }
  // The long form in UTF-16, ending with the separator; empty when the
  // root was not read so.
  const std::u16string& Wide() const { return wide_; }
  // The comparison key of the wide form (empty with it).
  const PathKey& Key() const { return key_; }
  // A root whose short form PHP is given (PhpTakesShortForm): its short
  // (8.3) form, plain ASCII, ending with the separator; empty when it has
  // none, or the system gives none without the list separator.
  const std::string& ShortForm() const { return short_; }
  // The root's characters, decoded as the platform decodes a root.
  std::u32string Characters() const;
  // As the run's record shows it: the code page's text when it holds the
  // root, else ASCII with every other character as a reference.
  std::string LogText() const;

  // Whether the root's bytes hold the separator of php.ini's lists of
  // places (';' on Windows), which PHP splits every list at, quoted or not.
  bool HoldsListSeparator() const { return listSeparator_; }
  // Whether PHP is given the short form rather than the root's bytes: the
  // code page cannot hold the name, or the name holds the list separator.
  bool PhpTakesShortForm() const { return !held_ || listSeparator_; }
  // The root as PHP is given it: its bytes, else its short form (empty
  // when it has none), which PHP 5 and PHP 7 read alike.
  const std::string& PhpBytes() const { return PhpTakesShortForm() ? short_ : ansi_; }
  // A path below the root (`below`, ASCII, relative) as config.xml's
  // attribute markup, every character beyond ASCII as a reference. False
  // when the root's wide form is not valid Unicode.
  bool AttributeMarkupBelow(std::string_view below, std::string* markup) const;

  // This (recorded) root's move to `present` in characters, for the
  // editor's files.
  RootMove CharacterMoveTo(const BundleRoot& present) const;
  // Its moves to `present` in php.ini's bytes: from its bytes (where the
  // code page holds them now) and from its recorded short form, each to
  // the present root's PhpBytes.
  std::vector<ByteRootMove> PhpMovesTo(const BundleRoot& present) const;

 private:
  std::string ansi_;
  std::u16string wide_;
  PathKey key_;
  bool held_ = true;
  bool listSeparator_ = false;
  std::string short_;
};

// The long form of an existing path, every short (8.3) name in it expanded;
// the path as it is when it cannot be expanded (it is gone, or the system
// refuses).
std::u16string LongPathOf(const std::u16string& path);

// The wide path as ANSI text when the code page holds it exactly; false
// otherwise.
bool AnsiPathOf(std::u16string_view path, std::string* ansi);

// The wide form of an ANSI path, for the wide calls: under a UTF-8 code
// page (every POSIX path) its decoding, a byte outside UTF-8 as U+DC00 +
// byte, as the POSIX wide calls take it; under any other the code page's
// own conversion. False, with `wide` empty, when that fails.
bool WidePathOf(const std::string& ansi, std::u16string* wide);

// A wide path as the run's record (ANSI text) shows it: the code page's
// own text when it holds the path; otherwise ASCII kept and every other
// character as a character reference ("&#x041F;"), never a "?" in its place.
std::string RecordTextOf(std::u16string_view path);

}  // namespace qg
