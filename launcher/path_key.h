// Paths as the launcher compares them: one key per path, and the one rule
// by which two paths name the same place.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qg {

// The comparison form of a wide path: its UTF-8, with a lone surrogate (an
// unpaired unit in a Windows name, a POSIX byte outside UTF-8) as the three
// bytes its code point would take. ASCII stays ASCII, so ASCII letter case
// can be folded in it as in a narrow path, and two paths share a form only
// when they are the same text. state.txt records a root the code page
// cannot hold in it, and the tidy-up compares programs' paths by it.
class PathKey {
 public:
  PathKey() = default;
  explicit PathKey(std::u16string_view path);
  // The key whose text is `text` (as Text gives it).
  static PathKey FromText(std::string_view text);

  const std::string& Text() const { return text_; }
  // The wide path the key is of.
  std::u16string Wide() const;
  bool Empty() const { return text_.empty(); }

  // Whether two keys name the same file, and whether `path` lies inside
  // the folder `root` (which ends with its separator; an empty root holds
  // nothing), by this platform's rule: ASCII letters in any case where the
  // platform's file names ignore case (Windows), exactly elsewhere.
  static bool Same(const PathKey& a, const PathKey& b);
  static bool Inside(const PathKey& root, const PathKey& path);

  // The same rule for texts of any unit (bytes, UTF-16, code points), for
  // the movers, which say whether case is folded. Only A-Z and a-z fold, so
  // two different folders never match.
  template <class Unit>
  static bool SameText(std::basic_string_view<Unit> a, std::basic_string_view<Unit> b,
                       bool foldAsciiCase) {
    return a.size() == b.size() && StartsWithText(a, b, foldAsciiCase);
  }
  template <class Unit>
  static bool StartsWithText(std::basic_string_view<Unit> text, std::basic_string_view<Unit> prefix,
                             bool foldAsciiCase) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
      if (Folded(text[i], foldAsciiCase) != Folded(prefix[i], foldAsciiCase)) return false;
    }
    return true;
  }

 private:
  template <class Unit>
  static Unit Folded(Unit c, bool fold) {
    return fold && c >= Unit('A') && c <= Unit('Z') ? Unit(c - Unit('A') + Unit('a')) : c;
  }

  std::string text_;
};

}  // namespace qg
