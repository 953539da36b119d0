#include "xml/references.h"

#include <cstring>

namespace qg {

ReferenceRead ReadReference(const char* text, std::size_t available, char32_t* code,
                            std::size_t* length) {
  if (available == 0) return ReferenceRead::Incomplete;
  if (text[0] != '&') return ReferenceRead::None;
  if (available == 1) return ReferenceRead::Incomplete;
  if (text[1] != '#') return ReferenceRead::None;
  std::size_t i = 2;
  if (i == available) return ReferenceRead::Incomplete;
  const bool hex = text[i] == 'x';
  if (hex) ++i;
  const std::size_t digits = i;
  char32_t value = 0;
  for (; i < available; ++i) {
    char c = text[i];
    int digit = c >= '0' && c <= '9'          ? c - '0'
                : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                              : -1;
    if (digit < 0) break;
    // Leading zeros add nothing; the value stays below 2^32 before the test.
    value = value * (hex ? 16 : 10) + static_cast<char32_t>(digit);
    if (value > 0x10FFFF) return ReferenceRead::None;
  }
  if (i == available) return ReferenceRead::Incomplete;
  if (i == digits || text[i] != ';') return ReferenceRead::None;
  *code = value;
  *length = i + 1;
  return ReferenceRead::Found;
}

std::size_t PutReference(char32_t code, char* out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  char digits[8];
  std::size_t count = 0;
  for (char32_t rest = code; rest || count < 4; rest >>= 4) digits[count++] = kHex[rest & 0xF];
  const std::size_t length = 3 + count + 1;
  if (!out) return length;
  std::memcpy(out, "&#x", 3);
  for (std::size_t i = 0; i < count; ++i) out[3 + i] = digits[count - 1 - i];
  out[length - 1] = ';';
  return length;
}

std::size_t PutUtf16References(char32_t code, char* out) {
  if (code <= 0xFFFF || code > 0x10FFFF) return PutReference(code, out);
  std::size_t high = PutReference(0xD800 + ((code - 0x10000) >> 10), out);
  return high + PutReference(0xDC00 + ((code - 0x10000) & 0x3FF), out ? out + high : nullptr);
}

void AppendReference(std::string* text, char32_t code) {
  char spelled[kLongestReference];
  text->append(spelled, PutReference(code, spelled));
}

void AppendUtf16References(std::string* text, char32_t code) {
  char spelled[kLongestReference];
  text->append(spelled, PutUtf16References(code, spelled));
}

}  // namespace qg
