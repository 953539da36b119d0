// Conversions between UTF-8 and 8-bit text taken as the code points 0-255,
// and between UTF-8 and UTF-16 (the platform's wide paths).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qg {

// Decodes `length` bytes of UTF-8 into `out` (capacity `capacity`, no
// terminator written): code points up to 255 become their byte, other
// sequences "?", stray bytes nothing. Returns the characters produced; with a
// null `out` only counts them.
std::size_t NarrowFromUtf8(const char* bytes, std::size_t length, char* out, std::size_t capacity);

// Encodes `length` 8-bit characters as UTF-8 into `out`, stopping before it
// would overrun `capacity` (4 x length never limits). Returns the bytes
// produced, no terminator written.
std::size_t Utf8FromNarrow(const char* text, std::size_t length, char* out, std::size_t capacity);

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
