// How a text is written as a php.ini value so that PHP reads back exactly
// that text. PHP's INI syntax gives a meaning to many characters a folder
// name may hold:
//   bare          ';' starts a comment; '=', '(', ')', '!', '~', '&', '|',
//                 '^' are operators or syntax; quotes begin strings; "${"
//                 a variable; a '$' takes the byte after it along (the
//                 line end too, when it is the last);
//                 blanks around the value are dropped; a name alone may be
//                 a constant or a keyword (On, none, ...);
//   "double"      "\\" reads '\', "\"" '"', "\$" '$', "${NAME}" is
//                 expanded, any other backslash stays;
//   'single'      raw up to the next '\''.
#pragma once

#include <string>
#include <string_view>

namespace qg {

enum class IniValueForm { Bare, DoubleQuoted, SingleQuoted };

// Whether PHP reads `text`, written bare, as exactly `text`.
bool ReadsRightBare(std::string_view text);

// The bytes of a php.ini value that PHP reads as exactly `text` (which
// holds no line end): in `form` where that form reads right, otherwise in
// double quotes. In double quotes a backslash is doubled where it comes
// before '\', '"', '$' or the closing quote, a '"' is written "\"", and a
// '$' before '{' is written "\$"; every other byte stays as it is, so a
// text without the list separator never gains one.
std::string PhpIniValue(std::string_view text, IniValueForm form);

}  // namespace qg
