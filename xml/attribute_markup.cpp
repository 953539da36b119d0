#include "xml/attribute_markup.h"

#include <cstring>
#include <vector>

#include "files/ascii_case.h"
#include "files/utf8.h"
#include "system/platform.h"
#include "xml/xml_document.h"
#include "xml/xml_library.h"
#include "xml/xml_writer.h"

namespace qg {

namespace {

// Code points of `text` in the ANSI code page, or false when it does not
// decode.
bool DecodeNarrow(const char* text, std::size_t length, std::vector<char32_t>* out) {
  if (length == 0) return true;
  if (Sys().GetACP() == CP_UTF8_CODE) {
    for (std::size_t i = 0; i < length;) {
      Utf8Sequence sequence = DecodeUtf8(text + i, length - i);
      if (!sequence.wellFormed) return false;
      out->push_back(sequence.code);
      i += sequence.size;
    }
    return true;
  }
  // Through the platform, surrogate pairs joined.
  int units = Sys().MultiByteToWideChar(text, static_cast<int>(length), nullptr, 0);
  if (units <= 0) return false;
  std::vector<char16_t> wide(static_cast<std::size_t>(units));
  if (Sys().MultiByteToWideChar(text, static_cast<int>(length), wide.data(), units) != units)
    return false;
  std::size_t lone = 0;
  std::u32string codes = CodePointsFromWide(std::u16string_view(wide.data(), wide.size()), &lone);
  if (lone) return false;  // a lone surrogate names no character
  out->insert(out->end(), codes.begin(), codes.end());
  return true;
}

void Append(std::string* markup, char32_t code, bool reference) {
  char spelled[kLongestReference];
  markup->append(spelled, PutMarkupCharacter(code, reference, spelled));
}

// The character an entity or character reference between '&' and ';'
// names, or false when it names none this reader knows.
bool Referenced(const char* name, std::size_t length, char32_t* code) {
  static constexpr struct {
    const char* name;
    char32_t code;
  } kPredefined[] = {{"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"apos", '\''}, {"quot", '"'}};
  if (length >= 2 && name[0] == '#') {
    bool hex = name[1] == 'x';
    std::size_t i = hex ? 2 : 1;
    if (i == length) return false;
    char32_t value = 0;
    for (; i < length; ++i) {
      char c = name[i];
      int digit = c >= '0' && c <= '9'          ? c - '0'
                  : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                  : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                : -1;
      if (digit < 0) return false;
      value = value * (hex ? 16 : 10) + static_cast<char32_t>(digit);
      if (value > 0x10FFFF) return false;
    }
    *code = value;
    return true;
  }
  for (const auto& entity : kPredefined) {
    if (std::strlen(entity.name) == length && std::memcmp(entity.name, name, length) == 0) {
      *code = entity.code;
      return true;
    }
  }
  return false;
}

}  // namespace

std::size_t PutMarkupCharacter(char32_t code, bool reference, char* out) {
  char spelled[kLongestReference];
  std::size_t length = 0;
  if (code < 0x80) {
    if (const char* entity = AttributeEntity(static_cast<unsigned char>(code))) {
      length = std::strlen(entity);
      std::memcpy(spelled, entity, length);
    } else {
      spelled[length++] = static_cast<char>(code);
    }
  } else if (reference || code > 0xFF) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    char digits[8];
    int count = 0;
    for (char32_t rest = code; rest || count < 4; rest >>= 4) digits[count++] = kHex[rest & 0xF];
    std::memcpy(spelled, "&#x", 3);
    length = 3;
    while (count > 0) spelled[length++] = digits[--count];
    spelled[length++] = ';';
  } else {
    spelled[length++] = static_cast<char>(code);
  }
  if (out) std::memcpy(out, spelled, length);
  return length;
}

char32_t NextStoredCharacter(const char** at, const char* end, bool markup) {
  const char* p = *at;
  auto byte = static_cast<unsigned char>(*p);
  *at = p + 1;
  if (!markup || byte != '&') return byte;
  const void* semicolon = std::memchr(p + 1, ';', static_cast<std::size_t>(end - p - 1));
  char32_t code = 0;
  if (semicolon &&
      Referenced(p + 1, static_cast<std::size_t>(static_cast<const char*>(semicolon) - p - 1),
                 &code)) {
    *at = static_cast<const char*>(semicolon) + 1;
    return code;
  }
  return byte;
}

std::u32string CodePointsFromStored(const char* stored, bool markup) {
  std::u32string codes;
  if (!stored) return codes;
  const char* end = stored + std::strlen(stored);
  for (const char* at = stored; at < end;) codes += NextStoredCharacter(&at, end, markup);
  return codes;
}

std::u32string CodePointsFromNarrow(const char* text) {
  if (!text) text = "";
  std::size_t length = std::strlen(text);
  std::vector<char32_t> codes;
  if (DecodeNarrow(text, length, &codes)) return std::u32string(codes.begin(), codes.end());
  std::u32string bytes;
  for (std::size_t i = 0; i < length; ++i) bytes += static_cast<unsigned char>(text[i]);
  return bytes;
}

std::u32string AttributeCharacters(const XmlNode* node, int index) {
  if (!node || node->kind != ElementNode || index < 0 || index >= node->attributeCount ||
      !node->attributes)
    return {};
  const char* stored = node->attributes[2 * index + 1];
  bool markup = IsMarkupValue(node, index);
  const XmlDocument* document = LookupObject(XmlDocumentTable(), node->documentNumber);
  bool utf8Bytes =
      document && document->keepsFileBytes &&
      (!document->declaredEncoding || EqualIgnoringAsciiCase(document->declaredEncoding, "UTF-8"));
  if (!utf8Bytes) return CodePointsFromStored(stored, markup);
  // The file's own bytes from 0x80 on, in runs, are UTF-8; references and
  // ASCII are read as they stand.
  std::u32string codes;
  std::string run;
  auto flush = [&] {
    for (std::size_t i = 0; i < run.size();) {
      Utf8Sequence sequence = DecodeUtf8(run.data() + i, run.size() - i);
      if (sequence.wellFormed) {
        codes += sequence.code;
        i += sequence.size;
      } else {
        codes += static_cast<unsigned char>(run[i++]);
      }
    }
    run.clear();
  };
  const char* end = stored + std::strlen(stored);
  for (const char* at = stored; at < end;) {
    const char* start = at;
    char32_t code = NextStoredCharacter(&at, end, markup);
    if (at == start + 1 && static_cast<unsigned char>(*start) >= 0x80) {
      run += *start;
      continue;
    }
    flush();
    codes += code;
  }
  flush();
  return codes;
}

std::string StoredFromCodePoints(const XmlNode* node, std::u32string_view codes, bool* markup) {
  const XmlDocument* document =
      node ? LookupObject(XmlDocumentTable(), node->documentNumber) : nullptr;
  char32_t kept = document && document->keepsFileBytes ? 0x7F : 0xFF;
  *markup = false;
  for (char32_t code : codes) *markup = *markup || code > kept;
  std::string stored;
  for (char32_t code : codes) {
    if (*markup) {
      Append(&stored, code, true);
    } else {
      stored += static_cast<char>(code);
    }
  }
  return stored;
}

std::string AttributeMarkupFromNarrow(const char* text) {
  if (!text) text = "";
  std::size_t length = std::strlen(text);
  std::string markup;
  std::vector<char32_t> codes;
  if (!DecodeNarrow(text, length, &codes)) {
    // Escaped where ASCII, every other byte as it is.
    for (std::size_t i = 0; i < length; ++i)
      Append(&markup, static_cast<unsigned char>(text[i]), false);
    return markup;
  }
  for (char32_t code : codes) Append(&markup, code, true);
  return markup;
}

bool AttributeMarkupFromWide(std::u16string_view text, std::string* markup) {
  markup->clear();
  std::size_t lone = 0;
  std::u32string codes = CodePointsFromWide(text, &lone);
  if (lone) return false;
  for (char32_t code : codes) Append(markup, code, true);
  return true;
}

}  // namespace qg
