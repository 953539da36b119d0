// Conversions between UTF-8 and 8-bit text taken as the code points 0-255,
// and between UTF-8 and UTF-16 (the platform's wide paths).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qg {

// One UTF-8 sequence as the decoder reads it.
struct Utf8Sequence {
  char32_t code;      // the value its bits give (meaningful when `complete`)
  std::uint8_t size;  // bytes it takes, 1-4
  bool complete;      // the lead byte and all of its continuation bytes are there
  bool wellFormed;    // complete, in shortest form, and a Unicode scalar value
  bool skipped;       // no sequence: a stray continuation byte, 0xF8-0xFF, or a
                      // lead byte whose sequence would run past the end
};

// Reads the sequence at `bytes` (`length` > 0 bytes left). A lead byte
// followed by too few continuation bytes takes the lead and the continuation
// bytes there are, and is not complete.
Utf8Sequence DecodeUtf8(const char* bytes, std::size_t length);

// Encodes the code point `code` (up to U+10FFFF; a surrogate too, as the
// three bytes its number takes) as UTF-8 into `out`, which has room for
// kLongestUtf8 bytes; returns the bytes. The one UTF-8 encoder of the
// portable code.
std::size_t PutUtf8(char32_t code, char* out);
inline constexpr std::size_t kLongestUtf8 = 4;

// Decodes `length` bytes of UTF-8 into `out` (capacity `capacity`, no
// terminator written): code points up to 255 become their byte, other
// sequences "?", stray bytes nothing. Returns the characters produced; with a
// null `out` only counts them.
std::size_t NarrowFromUtf8(const char* bytes, std::size_t length, char* out, std::size_t capacity);

// Encodes `length` 8-bit characters as UTF-8 into `out`, stopping before it
// would overrun `capacity` (4 x length never limits). Returns the bytes
// produced, no terminator written.
std::size_t Utf8FromNarrow(const char* text, std::size_t length, char* out, std::size_t capacity);

// The code points of a UTF-16 text, surrogate pairs joined. A lone
// surrogate, which names no character, stays as its own code point;
// `lone` (may be null) receives how many there were.
std::u32string CodePointsFromWide(std::u16string_view wide, std::size_t* lone = nullptr);

// UTF-16 as UTF-8. False, with `out` empty, for a text holding a lone
// surrogate, which names no character.
bool Utf8FromWide(std::u16string_view wide, std::string* out);

// UTF-16 as UTF-8, a lone surrogate as the three bytes its code point would
// take: a form of any UTF-16 text (a Windows file name may hold a lone
// surrogate) that gives it back and keeps ASCII as ASCII.
std::string GeneralizedUtf8FromWide(std::u16string_view wide);
// The UTF-16 text whose generalised UTF-8 `bytes` are.
std::u16string WideFromGeneralizedUtf8(std::string_view bytes);

// Well-formed, shortest-form UTF-8 as UTF-16. False, with `out` empty, for
// anything else.
bool WideFromUtf8(std::string_view bytes, std::u16string* out);

}  // namespace qg
