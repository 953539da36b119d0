#include "files/utf8.h"

namespace qg {

namespace {
bool IsContinuation(unsigned char b) { return b >= 0x80 && b <= 0xBF; }

// `code` as one UTF-16 unit, or as a surrogate pair above U+FFFF.
void AppendUtf16(std::u16string* wide, char32_t code) {
  if (code < 0x10000) {
    *wide += static_cast<char16_t>(code);
  } else {
    *wide += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
    *wide += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
  }
}
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

std::size_t PutUtf8(char32_t code, char* out) {
  if (code < 0x80) {
    out[0] = static_cast<char>(code);
    return 1;
  }
  if (code < 0x800) {
    out[0] = static_cast<char>(0xC0 | (code >> 6));
    out[1] = static_cast<char>(0x80 | (code & 0x3F));
    return 2;
  }
  if (code < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (code >> 12));
    out[1] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (code & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (code >> 18));
  out[1] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (code & 0x3F));
  return 4;
}

std::size_t Utf8FromNarrow(const char* text, std::size_t length, char* out, std::size_t capacity) {
  std::size_t produced = 0;
  for (std::size_t i = 0; i < length; ++i) {
    char bytes[kLongestUtf8];
    std::size_t size = PutUtf8(static_cast<unsigned char>(text[i]), bytes);
    if (produced + size > capacity) break;
    for (std::size_t k = 0; k < size; ++k) out[produced++] = bytes[k];
  }
  return produced;
}

std::u32string CodePointsFromWide(std::u16string_view wide, std::size_t* lone) {
  std::u32string codes;
  codes.reserve(wide.size());
  std::size_t lones = 0;
  for (std::size_t i = 0; i < wide.size(); ++i) {
    char32_t code = wide[i];
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (wide[++i] - 0xDC00);
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      ++lones;
    }
    codes += code;
  }
  if (lone) *lone = lones;
  return codes;
}

std::string GeneralizedUtf8FromWide(std::u16string_view wide) {
  std::string out;
  out.reserve(wide.size());
  char bytes[kLongestUtf8];
  for (char32_t code : CodePointsFromWide(wide)) out.append(bytes, PutUtf8(code, bytes));
  return out;
}

std::u16string WideFromGeneralizedUtf8(std::string_view bytes) {
  std::u16string wide;
  for (std::size_t i = 0; i < bytes.size();) {
    Utf8Sequence sequence = DecodeUtf8(bytes.data() + i, bytes.size() - i);
    // A lone surrogate's three bytes decode whole, though not well-formed.
    AppendUtf16(&wide, sequence.complete ? sequence.code : static_cast<unsigned char>(bytes[i]));
    i += sequence.size;
  }
  return wide;
}

bool Utf8FromWide(std::u16string_view wide, std::string* out) {
  out->clear();
  for (std::size_t i = 0; i < wide.size(); ++i) {
    if (wide[i] < 0xD800 || wide[i] > 0xDFFF) continue;
    if (wide[i] > 0xDBFF || i + 1 == wide.size() || wide[i + 1] < 0xDC00 || wide[i + 1] > 0xDFFF)
      return false;
    ++i;
  }
  *out = GeneralizedUtf8FromWide(wide);
  return true;
}

bool WideFromUtf8(std::string_view bytes, std::u16string* out) {
  out->clear();
  for (std::size_t i = 0; i < bytes.size();) {
    Utf8Sequence sequence = DecodeUtf8(bytes.data() + i, bytes.size() - i);
    if (!sequence.wellFormed) {
      out->clear();
      return false;
    }
    AppendUtf16(out, sequence.code);
    i += sequence.size;
  }
  return true;
}

}  // namespace qg
