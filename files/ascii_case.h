// Comparing texts without regard to ASCII letter case. Only A-Z and a-z are
// folded: a byte of another letter, in whatever code page, compares as
// itself, so two different names never compare equal by accident.
#pragma once

#include <cstddef>
#include <string_view>

namespace qg {

inline constexpr char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether `a` and `b` are the same text once ASCII letters are folded.
inline bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

// Whether `text` begins with `prefix`, ASCII letter case folded.
inline bool StartsWithIgnoringAsciiCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         EqualIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace qg
