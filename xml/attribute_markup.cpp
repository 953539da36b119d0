#include "xml/attribute_markup.h"

#include <cstring>
#include <vector>

#include "system/platform.h"
#include "xml/xml_writer.h"

namespace qg {

namespace {

// Code points of `text`, or false when it does not decode.
bool DecodeNarrow(const char* text, std::size_t length, std::vector<char32_t>* out) {
#ifdef _WIN32
  // The ANSI code page, through the platform; surrogate pairs joined.
  if (length == 0) return true;
  int units = Sys().MultiByteToWideChar(text, static_cast<int>(length), nullptr, 0);
  if (units <= 0) return false;
  std::vector<char16_t> wide(static_cast<std::size_t>(units));
  if (Sys().MultiByteToWideChar(text, static_cast<int>(length), wide.data(), units) != units)
    return false;
  for (std::size_t i = 0; i < wide.size(); ++i) {
    char32_t unit = wide[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] <= 0xDFFF) {
      out->push_back(0x10000 + ((unit - 0xD800) << 10) + (wide[++i] - 0xDC00));
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      return false;  // a lone surrogate names no character
    } else {
      out->push_back(unit);
    }
  }
  return true;
#else
  // Paths are UTF-8 here: well-formed, shortest-form sequences only.
  const auto* in = reinterpret_cast<const unsigned char*>(text);
  for (std::size_t i = 0; i < length;) {
    unsigned char lead = in[i];
    std::size_t extra = lead < 0x80                    ? 0
                        : lead >= 0xC2 && lead <= 0xDF ? 1
                        : lead >= 0xE0 && lead <= 0xEF ? 2
                        : lead >= 0xF0 && lead <= 0xF4 ? 3
                                                       : 4;
    if (extra == 4 || extra > length - i - 1) return false;
    char32_t code = extra == 0 ? lead : lead & (0x3F >> extra);
    for (std::size_t k = 1; k <= extra; ++k) {
      if ((in[i + k] & 0xC0) != 0x80) return false;
      code = (code << 6) | (in[i + k] & 0x3F);
    }
    constexpr char32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
      return false;
    out->push_back(code);
    i += extra + 1;
  }
  return true;
#endif
}

void AppendEscaped(unsigned char c, std::string* markup) {
  if (const char* entity = AttributeEntity(c)) {
    *markup += entity;
  } else {
    *markup += static_cast<char>(c);
  }
}

// ASCII escaped, every other code point as a character reference.
std::string MarkupOfCodes(const std::vector<char32_t>& codes) {
  std::string markup;
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (char32_t code : codes) {
    if (code < 0x80) {
      AppendEscaped(static_cast<unsigned char>(code), &markup);
      continue;
    }
    char digits[8];
    int count = 0;
    for (char32_t rest = code; rest || count < 4; rest >>= 4) digits[count++] = kHex[rest & 0xF];
    markup += "&#x";
    while (count > 0) markup += digits[--count];
    markup += ';';
  }
  return markup;
}

}  // namespace

std::string AttributeMarkupFromNarrow(const char* text) {
  if (!text) text = "";
  std::size_t length = std::strlen(text);
  std::vector<char32_t> codes;
  if (!DecodeNarrow(text, length, &codes)) {
    std::string markup;
    for (std::size_t i = 0; i < length; ++i)
      AppendEscaped(static_cast<unsigned char>(text[i]), &markup);
    return markup;
  }
  return MarkupOfCodes(codes);
}

bool AttributeMarkupFromWide(std::u16string_view text, std::string* markup) {
  markup->clear();
  std::vector<char32_t> codes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      codes.push_back(0x10000 + ((unit - 0xD800) << 10) + (text[++i] - 0xDC00));
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      return false;
    } else {
      codes.push_back(unit);
    }
  }
  *markup = MarkupOfCodes(codes);
  return true;
}

}  // namespace qg
