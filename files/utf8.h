// Conversions between UTF-8 and 8-bit text taken as the code points 0-255.
#pragma once

#include <cstddef>
#include <cstdint>

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
