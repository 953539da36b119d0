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

// The character a predefined entity between '&' and ';' names, or false
// when it names none.
bool PredefinedEntity(const char* name, std::size_t length, char32_t* code) {
  static constexpr struct {
    const char* name;
    char32_t code;
  } kPredefined[] = {{"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"apos", '\''}, {"quot", '"'}};
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
  if (code < 0x80) {
    if (const char* entity = AttributeEntity(static_cast<unsigned char>(code))) {
      std::size_t length = std::strlen(entity);
      if (out) std::memcpy(out, entity, length);
      return length;
    }
  } else if (reference || code > 0xFF) {
    // One beyond U+FFFF as the pair, as the editor writes such a character.
    return PutUtf16References(code, out);
  }
  if (out) *out = static_cast<char>(code);
  return 1;
}

char32_t NextStoredCharacter(const char** at, const char* end, bool markup) {
  const char* p = *at;
  auto byte = static_cast<unsigned char>(*p);
  *at = p + 1;
  if (!markup || byte != '&') return byte;
  char32_t code = 0;
  std::size_t length = 0;
  if (ReadReference(p, static_cast<std::size_t>(end - p), &code, &length) == ReferenceRead::Found) {
    *at = p + length;
    // A reference to a high surrogate followed at once by one to a low
    // surrogate is the one character the pair stands for.
    char32_t low = 0;
    if (IsHighSurrogate(code) &&
        ReadReference(*at, static_cast<std::size_t>(end - *at), &low, &length) ==
            ReferenceRead::Found &&
        IsLowSurrogate(low)) {
      *at += length;
      return JoinSurrogates(code, low);
    }
    return code;
  }
  const void* semicolon = std::memchr(p + 1, ';', static_cast<std::size_t>(end - p - 1));
  if (semicolon &&
      PredefinedEntity(p + 1, static_cast<std::size_t>(static_cast<const char*>(semicolon) - p - 1),
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

namespace {

// Whether a tree's own bytes from 0x80 on are UTF-8 (a file's own bytes,
// labelled UTF-8 or not labelled).
bool HoldsUtf8Bytes(const XmlNode* node) {
  const XmlDocument* document = LookupObject(XmlDocumentTable(), node->documentNumber);
  return document && document->keepsFileBytes &&
         (!document->declaredEncoding ||
          EqualIgnoringAsciiCase(document->declaredEncoding, "UTF-8"));
}

// The characters of a stored value or text: its own bytes from 0x80 on, in
// runs, as UTF-8 when `utf8Bytes`, else as the characters of their codes;
// references and ASCII as they stand. With `lineEnds`, the text's own CR LF
// and CR are read as LF.
std::u32string StoredCharacters(const char* stored, bool markup, bool utf8Bytes, bool lineEnds) {
  std::u32string codes;
  if (!stored) return codes;
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
    bool own = at == start + 1;
    if (own && utf8Bytes && static_cast<unsigned char>(*start) >= 0x80) {
      run += *start;
      continue;
    }
    flush();
    if (own && lineEnds && code == '\r') {
      if (at < end && *at == '\n') ++at;
      code = '\n';
    }
    codes += code;
  }
  flush();
  return codes;
}

// Line end of the file `node` belongs to, as its text stores it.
const char* LineEndOf(const XmlNode* node) {
  const XmlDocument* document = LookupObject(XmlDocumentTable(), node->documentNumber);
  if (!document) return "\n";
  return document->lineEnding == CrLf ? "\r\n" : document->lineEnding == Cr ? "\r" : "\n";
}

}  // namespace

std::u32string AttributeCharacters(const XmlNode* node, int index) {
  if (!node || node->kind != ElementNode || index < 0 || index >= node->attributeCount ||
      !node->attributes)
    return {};
  return StoredCharacters(node->attributes[2 * index + 1], IsMarkupValue(node, index),
                          HoldsUtf8Bytes(node), false);
}

std::u32string TextCharacters(const XmlNode* node) {
  if (!node || node->kind != ElementNode) return {};
  return StoredCharacters(node->text, (node->flags & kMarkupText) != 0, HoldsUtf8Bytes(node), true);
}

bool SetNodeAttributeCharacters(XmlNode* node, const char* name, std::u32string_view codes) {
  if (!node || node->kind != ElementNode) {
    Sys().SetLastError(ERROR_INVALID_PARAMETER_CODE);
    return false;
  }
  bool markup = false;
  std::string stored = StoredFromCodePoints(node, codes, &markup);
  if (markup) return SetNodeAttributeMarkup(node, name, stored.c_str());
  // SetNodeAttribute says only through the last error that it failed.
  std::uint32_t before = Sys().GetLastError();
  Sys().SetLastError(NO_ERROR_CODE);
  SetNodeAttribute(node, name, stored.c_str());
  if (Sys().GetLastError() != NO_ERROR_CODE) return false;
  Sys().SetLastError(before);
  return true;
}

bool SetNodeTextCharacters(XmlNode* node, std::u32string_view codes) {
  if (!node || node->kind != ElementNode) {
    Sys().SetLastError(ERROR_INVALID_PARAMETER_CODE);
    return false;
  }
  const XmlDocument* document = LookupObject(XmlDocumentTable(), node->documentNumber);
  char32_t kept = document && document->keepsFileBytes ? 0x7F : 0xFF;
  bool markup = false;
  for (char32_t code : codes) markup = markup || code > kept || code == '\r';
  const char* lineEnd = LineEndOf(node);
  std::string stored;
  for (char32_t code : codes) {
    if (code == '\n') {
      stored += lineEnd;
    } else if (!markup) {
      stored += static_cast<char>(code);
    } else if (code == '&' || code == '<' || code == '>' || code == '\r' || code > 0x7F) {
      Append(&stored, code, true);
    } else {
      stored += static_cast<char>(code);
    }
  }
  return StoreNodeText(node, stored.c_str(), markup);
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
