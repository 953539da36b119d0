// An 8-bit text (a path in the system's ANSI code page) as the markup of an
// attribute value that every XML reader takes back as the same characters,
// whatever encoding the file is labelled with.
#pragma once

#include <string>
#include <string_view>

namespace qg {

// The text with every character above U+007F written as a character
// reference in upper-case hex of at least four digits ("&#x041F;") and the
// ASCII characters escaped as the writer escapes attribute values ("&amp;").
// The text is decoded through the ANSI code page on Windows and as UTF-8
// elsewhere; a text that does not decode keeps its bytes, escaped only where
// they are ASCII, which is what saving it as a plain value writes.
std::string AttributeMarkupFromNarrow(const char* text);

// The same for a UTF-16 text (a path the ANSI code page cannot hold). False,
// with `markup` empty, for a text holding a lone surrogate, which names no
// character and has no reference.
bool AttributeMarkupFromWide(std::u16string_view text, std::string* markup);

}  // namespace qg
