// Character references ("&#x1F389;", "&#233;"): the one reader of them and
// the one way the library spells them.
//
// A reference is spelled "&#x", the number in upper-case hex of at least
// four digits, and ";" ("&#x00E9;", "&#x1F389;"). A character beyond U+FFFF
// is spelled either so, as one reference, or as the pair of references to
// its UTF-16 surrogates ("&#xD83C;&#xDF89;"), which is how the editor writes
// it; the caller says which it wants.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qg {

// --- reading --------------------------------------------------------------------------

enum class ReferenceRead : std::uint8_t {
  Found,       // a reference starts there
  Incomplete,  // the bytes end before it could be told
  None,        // no reference starts there
};

// Reads the character reference that starts at `text`, of which `available`
// bytes can be looked at: "&#x" and hex digits in any case, or "&#" and
// decimal digits, then ';', naming a number up to 0x10FFFF (a surrogate's
// number too: that is for the caller to judge). On Found, `*code` is the
// number and `*length` the bytes up to and with the ';'. Incomplete when the
// bytes end inside what could still become a reference; a caller that has
// all of its text takes that as None.
ReferenceRead ReadReference(const char* text, std::size_t available, char32_t* code,
                            std::size_t* length);

inline constexpr bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
inline constexpr bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
// The character a high and a low surrogate stand for.
inline constexpr char32_t JoinSurrogates(char32_t high, char32_t low) {
  return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}

// --- spelling ---------------------------------------------------------------------------

// The bytes of the longest spelling of one reference ("&#x10FFFF;") and of
// a character in either form ("&#xDBFF;&#xDFFF;").
inline constexpr std::size_t kLongestSingleReference = 10;
inline constexpr std::size_t kLongestReference = 16;

// Puts into `out` (when not null) the one reference to the number `code`
// ("&#x00E9;", "&#x1F389;", "&#xD83C;" for a lone surrogate); returns its
// bytes.
std::size_t PutReference(char32_t code, char* out);

// Puts into `out` (when not null) `code` as the editor spells it: a
// character beyond U+FFFF as the pair of references to its surrogates, any
// other as PutReference does; returns the bytes.
std::size_t PutUtf16References(char32_t code, char* out);

// The same two, appended to `text`.
void AppendReference(std::string* text, char32_t code);
void AppendUtf16References(std::string* text, char32_t code);

}  // namespace qg
