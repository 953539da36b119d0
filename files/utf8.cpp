#include "files/utf8.h"

namespace qg {

namespace {
bool IsContinuation(unsigned char b) { return b >= 0x80 && b <= 0xBF; }
}  // namespace

Utf8Sequence DecodeUtf8(const char* bytes, std::size_t length) {
  const auto* in = reinterpret_cast<const unsigned char*>(bytes);
  unsigned char lead = in[0];
  std::size_t left = length - 1;  // bytes after the lead
  if (lead < 0x80) return {lead, 1, true, true, false};
  std::size_t extra = lead >= 0xC0 && lead <= 0xDF   ? 1
                      : lead >= 0xE0 && lead <= 0xEF ? 2
                      : lead >= 0xF0 && lead <= 0xF7 ? 3
                                                     : 0;
  if (extra == 0 || extra > left) return {0, 1, false, false, true};
  Utf8Sequence sequence{static_cast<char32_t>(lead & (0x3F >> extra)), 1, true, false, false};
  for (std::size_t k = 1; k <= extra; ++k) {
    if (!IsContinuation(in[k])) {
      sequence.complete = false;
      return sequence;
    }
    sequence.code = (sequence.code << 6) | (in[k] & 0x3Fu);
    ++sequence.size;
  }
  constexpr char32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
  char32_t code = sequence.code;
  sequence.wellFormed =
      code >= kSmallest[extra] && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF);
  return sequence;
}

std::size_t NarrowFromUtf8(const char* bytes, std::size_t length, char* out, std::size_t capacity) {
  std::size_t produced = 0;
  for (std::size_t i = 0; i < length;) {
    if (static_cast<unsigned char>(bytes[i]) < 0x80) {  // most of every text
      if (out && produced < capacity) out[produced] = bytes[i];
      ++produced;
      ++i;
      continue;
    }
    Utf8Sequence sequence = DecodeUtf8(bytes + i, length - i);
    i += sequence.size;
    if (sequence.skipped) continue;
    // A sequence of one or two bytes for a character up to 255 is that
    // character; anything else is one "?".
    bool kept = sequence.complete && sequence.size <= 2 && sequence.code < 256;
    if (out && produced < capacity) out[produced] = kept ? static_cast<char>(sequence.code) : '?';
    ++produced;
  }
  return out && produced > capacity ? capacity : produced;
}

std::size_t Utf8FromNarrow(const char* text, std::size_t length, char* out, std::size_t capacity) {
  std::size_t produced = 0;
  for (std::size_t i = 0; i < length; ++i) {
    auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      if (produced + 1 > capacity) break;
      out[produced++] = static_cast<char>(b);
    } else {
      if (produced + 2 > capacity) break;
      out[produced++] = static_cast<char>(0xC0 | (b >> 6));
      out[produced++] = static_cast<char>(0x80 | (b & 0x3F));
    }
  }
  return produced;
}

}  // namespace qg
