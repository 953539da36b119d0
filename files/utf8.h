// Conversions between UTF-8 and 8-bit text taken as the code points 0-255.
#pragma once

#include <cstddef>

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

}  // namespace qg
