// Paths in the forms the launcher compares and reports them in, whatever the
// ANSI code page can hold of their names.
#pragma once

#include <string>
#include <string_view>

namespace qg {

// The comparison form of a wide path: its UTF-8, with a lone surrogate (an
// unpaired unit in a Windows name, a POSIX byte outside UTF-8) as the three
// bytes its code point would take. ASCII stays ASCII, so ASCII letter case is
// ignored in it as in a narrow path, and two paths share a form only when
// they are the same text. state.txt records a root the code page cannot
// hold in it, and the tidy-up compares programs' paths in its text.
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
  bool operator==(const PathKey&) const = default;

 private:
  std::string text_;
};

// The long form of an existing path, every short (8.3) name in it expanded;
// the path as it is when it cannot be expanded (it is gone, or the system
// refuses).
std::u16string LongPathOf(const std::u16string& path);

// The short (8.3) form of an existing path; empty when the system gives
// none.
std::u16string ShortPathOf(const std::u16string& path);

// A wide path as the run's record (ANSI text) shows it: the code page's
// own text when it holds the path; otherwise ASCII kept and every other
// character as a character reference ("&#x041F;"), never a "?" in its place.
std::string RecordTextOf(std::u16string_view path);

// The wide path as ANSI text when the code page holds it exactly; false
// otherwise.
bool AnsiPathOf(std::u16string_view path, std::string* ansi);

}  // namespace qg
