// LoadXmlDocument: the file is fed to libexpat in chunks read straight into
// the parser's own buffer, and the parser's callbacks build the tree.
#include "xml/xml_loader.h"

#include <expat.h>

#include <cstdint>
#include <cstring>

#include "files/ascii_case.h"
#include "files/utf8.h"
#include "system/platform.h"
#include "xml/attribute_markup.h"
#include "xml/xml_library.h"

namespace qg {

namespace {

constexpr std::uint32_t kChunkSize = 0x4000;

// The parser allocates through the platform heap like the rest of the library.
void* ParserMalloc(std::size_t size) { return Sys().HeapAlloc(size, false); }
void* ParserRealloc(void* block, std::size_t size) {
  return block ? Sys().HeapReAlloc(block, size, false) : Sys().HeapAlloc(size, false);
}
void ParserFree(void* block) {
  if (block) Sys().HeapFree(block);
}
const XML_Memory_Handling_Suite kParserMemory = {ParserMalloc, ParserRealloc, ParserFree};

// The callbacks' user data: the document being built, and its parser.
struct LoadContext {
  XmlDocument* document;
  XML_Parser parser;
};

LoadContext* ContextOf(void* userData) { return static_cast<LoadContext*>(userData); }
XmlDocument* DocumentOf(void* userData) { return ContextOf(userData)->document; }

// --- growing texts ------------------------------------------------------------

// Bytes reserved for a text of `used` bytes (terminator included): a power of
// two from 32 on, so appending stays linear however many runs a text gets.
std::size_t ReservedFor(std::size_t used) {
  if (used <= 32) return 32;
  if (used > (SIZE_MAX >> 2)) return used;
  std::size_t size = 64;
  while (size < used) size <<= 1;
  return size;
}

// Makes room for a text of `needed` bytes (terminator included) in the
// node's individual block; false when memory runs out or the length would
// not fit the node's 32-bit length.
bool ReserveText(XmlNode* node, std::size_t needed) {
  if (needed > UINT32_MAX) return false;
  std::size_t have = node->text ? ReservedFor(std::size_t{node->textLength} + 1) : 0;
  if (needed <= have) return true;
  std::size_t size = ReservedFor(needed);
  void* block =
      node->text ? Sys().HeapReAlloc(node->text, size, false) : Sys().HeapAlloc(size, false);
  if (!block) return false;
  node->text = static_cast<char*>(block);
  return true;
}

// Whether the tree of a file's own bytes can hold the character as a byte
// beside them: an ASCII character always, one up to U+00FF once the file
// has bytes from 0x80 on (which it then stands for).
bool KeptAsByte(const XmlDocument* document, char32_t code) {
  return code < 0x80 || (code <= 0xFF && document->highBytesSeen);
}

bool Accepting(const XmlDocument* document) {
  return document->currentNode && document->droppedDepth == 0;
}

bool EscapedInMarkupText(unsigned char c) { return c == '&' || c == '<' || c == '>'; }

// Turns the text of the open `node` into markup: '&', '<' and '>' escaped,
// and the lengths of the pieces in front of its children and of the pending
// piece counted again. False, with nothing changed, when memory runs out.
bool MakeTextMarkup(XmlDocument* document, XmlNode* node) {
  std::size_t old = node->text ? node->textLength : 0;
  auto growth = [&](std::size_t from, std::size_t to) {
    std::size_t extra = 0;
    for (std::size_t i = from; i < to; ++i) {
      char c = node->text[i];
      extra += c == '&' ? 4 : c == '<' || c == '>' ? 3 : 0;
    }
    return extra;
  };
  std::size_t total = growth(0, old);
  if (total > 0) {
    if (!ReserveText(node, old + total + 1)) return false;
    std::size_t position = 0;
    for (XmlNode* child = node->firstChild; child; child = child->nextSibling) {
      auto piece = static_cast<std::size_t>(child->precedingTextLength);
      if (piece > old - position) piece = old - position;
      child->precedingTextLength += static_cast<std::int32_t>(growth(position, position + piece));
      position += piece;
    }
    document->pendingTextLength += static_cast<std::int32_t>(growth(position, old));
    // From the end, so that every byte is read before it is overwritten.
    char* text = node->text;
    std::size_t to = old + total;
    text[to] = '\0';
    for (std::size_t from = old; from-- > 0;) {
      auto c = static_cast<unsigned char>(text[from]);
      if (EscapedInMarkupText(c)) {
        char spelled[kLongestReference];
        std::size_t length = PutMarkupCharacter(c, true, spelled);
        to -= length;
        std::memcpy(text + to, spelled, length);
      } else {
        text[--to] = static_cast<char>(c);
      }
    }
    node->textLength = static_cast<std::uint32_t>(old + total);
  }
  node->flags |= kMarkupText;
  return true;
}

// Character data, comment content and instruction data: the parser's LF is
// stored as the file's own line end, UTF-8 as one byte per character. In a
// tree of a file's own bytes a character it cannot keep as a byte, and with
// `reference` (the data is what one character reference gave) any character
// above U+007F, makes the node's text markup and is stored as a reference,
// as is a CR (only a reference gives one); markup text has '&', '<' and '>'
// escaped.
void AppendText(XmlDocument* document, const char* bytes, std::size_t length,
                bool reference = false) {
  if (!Accepting(document)) return;
  XmlNode* node = document->currentNode;
  // Lead bytes from 0xC2 on start characters above U+007F, from 0xC4 on
  // those above U+00FF.
  bool referenceHere = reference;
  if (!referenceHere && document->keepsFileBytes && !(node->flags & kMarkupText)) {
    const unsigned char firstLost = document->highBytesSeen ? 0xC4 : 0xC2;
    // The parser turns every line end of the file into LF: a CR in the data
    // came from a reference (also through an entity's text).
    for (std::size_t i = 0; i < length && !referenceHere; ++i)
      referenceHere = static_cast<unsigned char>(bytes[i]) >= firstLost || bytes[i] == '\r';
  }
  if (referenceHere && !(node->flags & kMarkupText) && !MakeTextMarkup(document, node)) {
    document->contentLost = 1;
    return;
  }
  const bool markup = (node->flags & kMarkupText) != 0;
  std::size_t old = node->text ? node->textLength : 0;
  std::size_t extra = 0;
  if (document->lineEnding == CrLf) {
    for (std::size_t i = 0; i < length; ++i) extra += bytes[i] == '\n';
  }
  // Markup takes at most 5 bytes per input byte ("&amp;" for one '&'); 8 to spare.
  if (!ReserveText(node, old + extra + (markup ? 8 : 1) * length + 1)) {
    document->contentLost = 1;
    return;
  }
  const auto* in = reinterpret_cast<const unsigned char*>(bytes);
  char* out = node->text + old;
  char* const begin = out;
  std::size_t i = 0;
  while (i < length) {
    unsigned char c = in[i];
    if (c == '\n') {
      if (document->lineEnding == CrLf) {
        *out++ = '\r';
        *out++ = '\n';
      } else {
        *out++ = document->lineEnding == Cr ? '\r' : '\n';
      }
      ++i;
    } else if (c < 0x80) {
      if (markup && (EscapedInMarkupText(c) || c == '\r')) {
        out += PutMarkupCharacter(c, true, out);
      } else {
        *out++ = static_cast<char>(c);
      }
      ++i;
    } else {
      Utf8Sequence sequence = DecodeUtf8(bytes + i, length - i);
      i += sequence.size;
      if (sequence.skipped) continue;  // the parser never delivers one
      if (markup && (reference || !KeptAsByte(document, sequence.code))) {
        out += PutReference(sequence.code, out);
      } else if (sequence.complete && sequence.size == 2 && sequence.code < 256) {
        *out++ = static_cast<char>(sequence.code);
      } else {
        *out++ = sequence.size == 2 ? '?' : ' ';
      }
    }
  }
  *out = '\0';
  auto stored = static_cast<std::size_t>(out - begin);
  node->textLength = static_cast<std::uint32_t>(old + stored);
  document->pendingTextLength += static_cast<std::int32_t>(stored);
}

// Markup text as it stood in the file (and the rebuilt doctype text): line
// ends are kept as they came. In markup text it stands as it stood.
void AppendRawText(XmlDocument* document, const char* bytes, std::size_t length) {
  if (!Accepting(document)) return;
  XmlNode* node = document->currentNode;
  std::size_t old = node->text ? node->textLength : 0;
  if (!ReserveText(node, old + length + 1)) {
    document->contentLost = 1;
    return;
  }
  std::size_t stored = NarrowFromUtf8(bytes, length, node->text + old, length);
  node->text[old + stored] = '\0';
  node->textLength = static_cast<std::uint32_t>(old + stored);
  document->pendingTextLength += static_cast<std::int32_t>(stored);
}

// A UTF-8 string as 8-bit text carved from the pool, or null.
char* PoolString(XmlDocument* document, const char* utf8) {
  std::size_t length = std::strlen(utf8);
  char* copy = PoolAlloc(document, length + 1);
  if (!copy) return nullptr;
  copy[NarrowFromUtf8(utf8, length, copy, length)] = '\0';
  return copy;
}

void ReleaseIfIndividual(char* text) {
  if (IsIndividual(text)) Sys().HeapFree(text);
}

// --- the build cursor -----------------------------------------------------------

XmlNode* OpenNode(XmlDocument* document, XmlNodeKind kind) {
  XmlNode* node = TakeNode();
  if (!node) return nullptr;
  node->kind = kind;
  node->documentNumber = document->number;
  node->precedingTextLength = document->pendingTextLength;
  if (kind == ElementNode && !document->mainNode) document->mainNode = node;
  XmlNode* parent = document->currentNode;
  node->parent = parent;
  if (document->lastClosedChild) {
    document->lastClosedChild->nextSibling = node;
  } else {
    parent->firstChild = node;
  }
  document->currentNode = node;
  document->lastClosedChild = nullptr;
  document->pendingTextLength = 0;
  return node;
}

// Moves the text the node grew into the pool (texts of more than 1023
// characters stay in their own block, trimmed to size).
void CloseNode(XmlDocument* document) {
  XmlNode* node = document->currentNode;
  if (!node) return;
  if (node->text) {
    std::size_t size = std::size_t{node->textLength} + 1;
    if (size <= kPoolLargestRequest) {
      if (char* copy = PoolAlloc(document, size)) {
        std::memcpy(copy, node->text, size);
        Sys().HeapFree(node->text);
        node->text = copy;
      }
    } else if (ReservedFor(size) != size) {
      if (void* trimmed = Sys().HeapReAlloc(node->text, size, false)) {
        node->text = static_cast<char*>(trimmed);
      }
    }
  }
  document->lastClosedChild = node;
  document->pendingTextLength = 0;
  document->currentNode = node->parent;
}

// Opens a node for a start event, or counts the event as dropped when no node
// can be had (or an enclosing one was dropped).
XmlNode* OpenOrDrop(XmlDocument* document, XmlNodeKind kind) {
  if (document->droppedDepth > 0) {
    ++document->droppedDepth;
    return nullptr;
  }
  XmlNode* node = document->currentNode ? OpenNode(document, kind) : nullptr;
  if (!node) {
    document->droppedDepth = 1;
    document->contentLost = 1;
  }
  return node;
}

void CloseOrUndrop(XmlDocument* document) {
  if (document->droppedDepth > 0) {
    --document->droppedDepth;
  } else {
    CloseNode(document);
  }
}

// --- parser callbacks -----------------------------------------------------------

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The current event's bytes as they stand in the file, or false when the
// parser does not keep them.
bool CurrentMarkup(XML_Parser parser, const char** bytes, std::size_t* length) {
  int offset = 0, size = 0;
  const char* buffer = XML_GetInputContext(parser, &offset, &size);
  int count = XML_GetCurrentByteCount(parser);
  if (!buffer || count <= 0 || offset < 0 || count > size - offset) return false;
  *bytes = buffer + offset;
  *length = static_cast<std::size_t>(count);
  return true;
}

// The value, between its quotes, of the `index`-th attribute of a start tag
// the parser accepted.
bool RawAttributeValue(const char* tag, std::size_t length, int index, const char** value,
                       std::size_t* valueLength) {
  std::size_t i = 1;
  while (i < length && !IsBlank(tag[i]) && tag[i] != '/' && tag[i] != '>') ++i;
  for (int k = 0;; ++k) {
    while (i < length && tag[i] != '=' && tag[i] != '/' && tag[i] != '>') ++i;
    if (i == length || tag[i] != '=') return false;
    ++i;
    while (i < length && IsBlank(tag[i])) ++i;
    if (i == length) return false;
    char quote = tag[i++];
    std::size_t start = i;
    while (i < length && tag[i] != quote) ++i;
    if (i == length) return false;
    if (k == index) {
      *value = tag + start;
      *valueLength = i - start;
      return true;
    }
    ++i;
  }
}

// The markup of a value as the file spells it (into `out` when not null):
// its references to characters above U+007F stay references, its own bytes
// stay bytes, blanks are normalised as readers do. Its length, or SIZE_MAX
// when it refers to an entity of the internal subset (whose text is not
// known here).
std::size_t MarkupFromFile(const char* raw, std::size_t length, char* out) {
  std::size_t made = 0;
  auto put = [&](char32_t code, bool reference) {
    char* at = out ? out + made : nullptr;
    made += code > 0xFFFF ? PutReference(code, at) : PutMarkupCharacter(code, reference, at);
  };
  for (std::size_t i = 0; i < length;) {
    char c = raw[i];
    if (c == '&') {
      const char* at = raw + i;
      char32_t code = NextStoredCharacter(&at, raw + length, true);
      if (at == raw + i + 1) return SIZE_MAX;
      put(code, raw[i + 1] == '#');
      i = static_cast<std::size_t>(at - raw);
    } else if (c == '\t' || c == '\n' || c == '\r') {
      put(' ', false);
      i += c == '\r' && i + 1 < length && raw[i + 1] == '\n' ? 2 : 1;
    } else {
      put(static_cast<unsigned char>(c), false);
      ++i;
    }
  }
  return made;
}

// The markup of a value from the characters the parser gave (into `out`
// when not null): those the tree cannot keep as bytes as references, the
// others as bytes. Its length, or SIZE_MAX when it needs no reference.
std::size_t MarkupFromParsed(const XmlDocument* document, const char* utf8, char* out) {
  std::size_t made = 0, length = std::strlen(utf8);
  bool lost = false;
  for (std::size_t i = 0; i < length;) {
    Utf8Sequence sequence = DecodeUtf8(utf8 + i, length - i);
    i += sequence.size;
    bool reference = !KeptAsByte(document, sequence.code);
    lost = lost || reference;
    char* at = out ? out + made : nullptr;
    made +=
        reference ? PutReference(sequence.code, at) : PutMarkupCharacter(sequence.code, false, at);
  }
  return lost ? made : SIZE_MAX;
}

// Whether `markup` stands for the characters of `utf8`.
bool SameCharacters(const char* markup, std::size_t length, const char* utf8) {
  const char* end = markup + length;
  std::size_t size = std::strlen(utf8), i = 0;
  while (markup < end && i < size) {
    Utf8Sequence sequence = DecodeUtf8(utf8 + i, size - i);
    i += sequence.size;
    if (NextStoredCharacter(&markup, end, true) != sequence.code) return false;
  }
  return markup == end && i == size;
}

// In a tree of a file's own bytes, a value with a character above U+007F
// may hold one that a reference gave, which the tree cannot keep as a byte:
// such a value is stored as markup, spelled as in the file.
void StoreMarkupValues(LoadContext* context, XmlNode* node, const XML_Char** attributes) {
  XmlDocument* document = context->document;
  const char* tag = nullptr;
  std::size_t tagLength = 0;
  int looked = 0;  // 1: the tag is at hand, -1: it is not
  int specified = 0;
  for (int i = 0; i < node->attributeCount; ++i) {
    const char* parsed = attributes[2 * i + 1];
    bool beyondAscii = false;
    for (const char* p = parsed; *p && !beyondAscii; ++p) beyondAscii = *p & 0x80;
    if (!beyondAscii) continue;
    if (!looked) {
      looked = CurrentMarkup(context->parser, &tag, &tagLength) ? 1 : -1;
      specified = XML_GetSpecifiedAttributeCount(context->parser) / 2;
    }
    const char* raw = nullptr;
    std::size_t rawLength = 0, length = SIZE_MAX;
    if (looked > 0 && i < specified && RawAttributeValue(tag, tagLength, i, &raw, &rawLength))
      length = MarkupFromFile(raw, rawLength, nullptr);
    char* markup = nullptr;
    if (length != SIZE_MAX) {
      if (!(markup = PoolAlloc(document, length + 1))) {
        document->contentLost = 1;
        return;
      }
      MarkupFromFile(raw, rawLength, markup);
      markup[length] = '\0';
      if (!SameCharacters(markup, length, parsed)) {
        ReleaseIfIndividual(markup);
        markup = nullptr;
      }
    }
    if (!markup) {
      // Not spelled as in the file: references only where the tree cannot
      // keep the character as a byte.
      length = MarkupFromParsed(document, parsed, nullptr);
      if (length == SIZE_MAX) continue;
      if (!(markup = PoolAlloc(document, length + 1))) {
        document->contentLost = 1;
        return;
      }
      MarkupFromParsed(document, parsed, markup);
      markup[length] = '\0';
    }
    if (!MarkMarkupValue(node, i, true)) {
      ReleaseIfIndividual(markup);
      document->contentLost = 1;
      return;
    }
    ReleaseIfIndividual(node->attributes[2 * i + 1]);
    node->attributes[2 * i + 1] = markup;
  }
}

void XMLCALL OnStartElement(void* userData, const XML_Char* name, const XML_Char** attributes) {
  XmlDocument* document = DocumentOf(userData);
  XmlNode* node = OpenOrDrop(document, ElementNode);
  if (!node) return;
  node->name = PoolString(document, name);
  if (!node->name) document->contentLost = 1;
  std::size_t strings = 0;
  while (attributes[strings]) strings += 2;
  if (strings == 0) return;
  bool pooled = false;
  char** array = PoolAllocPointers(document, strings, &pooled);
  if (!array) {
    document->contentLost = 1;
    return;
  }
  node->attributes = array;
  if (pooled) node->flags |= kPooledAttributes;
  std::size_t pairs = strings / 2;
  if (pairs > INT16_MAX) pairs = INT16_MAX;
  std::int16_t stored = 0;
  for (std::size_t i = 0; i < pairs; ++i) {
    char* attributeName = PoolString(document, attributes[2 * i]);
    char* value = attributeName ? PoolString(document, attributes[2 * i + 1]) : nullptr;
    if (!value) {
      ReleaseIfIndividual(attributeName);
      document->contentLost = 1;
      break;
    }
    array[2 * i] = attributeName;
    array[2 * i + 1] = value;
    ++stored;
  }
  node->attributeCount = stored;
  if (document->keepsFileBytes) StoreMarkupValues(ContextOf(userData), node, attributes);
}

void XMLCALL OnEndElement(void* userData, const XML_Char*) { CloseOrUndrop(DocumentOf(userData)); }

void XMLCALL OnCharacterData(void* userData, const XML_Char* text, int length) {
  LoadContext* context = ContextOf(userData);
  auto count = static_cast<std::size_t>(length);
  // In a file read as 8-bit text each byte is one character, so data of one
  // character from more than one byte is what a character reference gave
  // (an entity reference too, but those name ASCII characters).
  bool reference = false;
  if (context->document->keepsFileBytes && count > 0) {
    Utf8Sequence first = DecodeUtf8(text, count);
    reference = first.size == count && (first.code >= 0x80 || first.code == '\r') &&
                XML_GetCurrentByteCount(context->parser) > 1;
  }
  AppendText(context->document, text, count, reference);
}

void XMLCALL OnComment(void* userData, const XML_Char* content) {
  XmlDocument* document = DocumentOf(userData);
  if (document->droppedDepth > 0 || !document->currentNode) return;
  if (!OpenNode(document, CommentNode)) {
    document->contentLost = 1;
    return;
  }
  AppendText(document, content, std::strlen(content));
  CloseNode(document);
}

void XMLCALL OnStartCdata(void* userData) { OpenOrDrop(DocumentOf(userData), CDataNode); }

void XMLCALL OnEndCdata(void* userData) { CloseOrUndrop(DocumentOf(userData)); }

void XMLCALL OnInstruction(void* userData, const XML_Char* target, const XML_Char* data) {
  XmlDocument* document = DocumentOf(userData);
  if (document->droppedDepth > 0 || !document->currentNode) return;
  XmlNode* node = OpenNode(document, InstructionNode);
  if (!node) {
    document->contentLost = 1;
    return;
  }
  node->name = PoolString(document, target);
  if (!node->name) document->contentLost = 1;
  AppendText(document, data, std::strlen(data));
  CloseNode(document);
}

// Writes `literal` in quotes: apostrophes when it holds a double quote.
char* PutLiteral(char* out, const char* literal) {
  char quote = std::strchr(literal, '"') ? '\'' : '"';
  *out++ = ' ';
  *out++ = quote;
  std::size_t length = std::strlen(literal);
  std::memcpy(out, literal, length);
  out += length;
  *out++ = quote;
  return out;
}

char* PutText(char* out, const char* text) {
  std::size_t length = std::strlen(text);
  std::memcpy(out, text, length);
  return out + length;
}

void XMLCALL OnStartDoctype(void* userData, const XML_Char* name, const XML_Char* systemId,
                            const XML_Char* publicId, int hasInternalSubset) {
  XmlDocument* document = DocumentOf(userData);
  if (document->droppedDepth > 0 || !document->currentNode) return;
  XmlNode* node = OpenNode(document, DoctypeNode);
  if (!node) {
    document->contentLost = 1;
    // The subset's declarations and end event are skipped with the node.
    if (hasInternalSubset) document->droppedDepth = 1;
    return;
  }
  std::size_t size = std::strlen(name) + 30 + (systemId ? std::strlen(systemId) : 0) +
                     (publicId ? std::strlen(publicId) : 0);
  auto* work = static_cast<char*>(Sys().HeapAlloc(size, false));
  if (work) {
    char* out = PutText(work, "<!DOCTYPE ");
    out = PutText(out, name);
    if (systemId) out = PutText(out, publicId ? " PUBLIC" : " SYSTEM");
    if (publicId) out = PutLiteral(out, publicId);
    if (systemId) out = PutLiteral(out, systemId);
    out = PutText(out, hasInternalSubset ? " [" : ">");
    AppendRawText(document, work, static_cast<std::size_t>(out - work));
    Sys().HeapFree(work);
  } else {
    document->contentLost = 1;
  }
  if (!hasInternalSubset) CloseNode(document);
}

void XMLCALL OnEndDoctype(void* userData) {
  XmlDocument* document = DocumentOf(userData);
  if (document->droppedDepth > 0) {
    --document->droppedDepth;
    return;
  }
  if (document->currentNode && document->currentNode->kind == DoctypeNode) {
    AppendRawText(document, "]>", 2);
    CloseNode(document);
  }
}

void XMLCALL OnXmlDeclaration(void* userData, const XML_Char*, const XML_Char* encoding,
                              int standalone) {
  XmlDocument* document = DocumentOf(userData);
  if (encoding && document->keepsFileBytes && !document->declaredEncoding) {
    document->declaredEncoding = CopyIndividual(encoding);
    if (!document->declaredEncoding) document->contentLost = 1;
  }
  if (encoding && !document->encodingFixed) {
    if (EqualIgnoringAsciiCase(encoding, "US-ASCII") ||
        EqualIgnoringAsciiCase(encoding, "ISO-8859-1")) {
      document->encoding = Ascii;
    } else if (EqualIgnoringAsciiCase(encoding, "UTF-16")) {
      document->encoding = Unicode;
    } else {
      document->encoding = Utf8;
    }
  }
  document->standalone = standalone;
}

void XMLCALL OnDefault(void* userData, const XML_Char* text, int length) {
  AppendRawText(DocumentOf(userData), text, static_cast<std::size_t>(length));
}

XML_Parser CreateXmlParser(int format) {
  const char* encoding = format == Ascii     ? "ISO-8859-1"
                         : format == Unicode ? "UTF-16"
                         : format == Utf8    ? "UTF-8"
                                             : nullptr;
  XML_Parser parser = XML_ParserCreate_MM(encoding, &kParserMemory, nullptr);
  if (!parser) return nullptr;
  XML_SetElementHandler(parser, OnStartElement, OnEndElement);
  XML_SetCharacterDataHandler(parser, OnCharacterData);
  // The expanding form: a reference to an entity of the internal subset comes
  // in as its replacement text, not as markup.
  XML_SetDefaultHandlerExpand(parser, OnDefault);
  XML_SetCommentHandler(parser, OnComment);
  XML_SetCdataSectionHandler(parser, OnStartCdata, OnEndCdata);
  XML_SetDoctypeDeclHandler(parser, OnStartDoctype, OnEndDoctype);
  XML_SetXmlDeclHandler(parser, OnXmlDeclaration);
  XML_SetProcessingInstructionHandler(parser, OnInstruction);
#ifdef QG_EXPAT_HAS_REPARSE_DEFERRAL
  // Callbacks must run while the chunk that holds their text is parsed (the
  // chunk's line-end style is set just before).
  XML_SetReparseDeferralEnabled(parser, XML_FALSE);
#endif
  return parser;
}

// True when the parser reads a file that starts with these bytes as the
// 8-bit text it is told to: with a byte-order mark, or a zero byte among the
// first two bytes, it decodes UTF-8 or UTF-16 by itself whatever it is told.
bool ReadAsEightBit(const unsigned char* start, std::size_t length) {
  auto startsWith = [&](const char* mark, std::size_t size) {
    return length >= size && std::memcmp(start, mark, size) == 0;
  };
  if (startsWith("\xEF\xBB\xBF", 3) || startsWith("\xFF\xFE", 2) || startsWith("\xFE\xFF", 2))
    return false;
  return !(length >= 1 && start[0] == 0) && !(length >= 2 && start[1] == 0);
}

// Whether any of the bytes is 0x80 or above; eight at a time.
bool HasHighByte(const unsigned char* bytes, std::size_t length) {
  std::size_t i = 0;
  for (; i + 8 <= length; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, bytes + i, 8);
    if (word & 0x8080808080808080u) return true;
  }
  for (; i < length; ++i)
    if (bytes[i] & 0x80) return true;
  return false;
}

}  // namespace

LineEndingStyle DetectLineEnding(const void* chunk, std::size_t length) {
  const auto* bytes = static_cast<const unsigned char*>(chunk);
  std::size_t zeros = 0;
  for (std::size_t i = 0; i < length; ++i) zeros += bytes[i] == 0;
  bool wide = zeros > 4;
  std::size_t count = wide ? length / 2 : length;
  auto unit = [&](std::size_t i) -> unsigned {
    return wide ? bytes[2 * i] | (unsigned{bytes[2 * i + 1]} << 8) : bytes[i];
  };
  std::size_t i = count > 0 && unit(0) == '\n' ? 1 : 0;
  for (; i + 1 < count; ++i) {
    unsigned u = unit(i);
    if (u == '\r') return unit(i + 1) == '\n' ? CrLf : Cr;
    if (u == '\n') return Lf;
  }
  return Undetected;
}

std::intptr_t LoadXmlDocument(ObjectNumber number, const char* path, int format) {
  if (!path || !*path) return 0;
  Platform& sys = Sys();
  Handle file =
      sys.CreateFileA(path, GENERIC_READ_ACCESS, FILE_SHARE_READ_MODE, Creation::OpenExisting);
  if (!file) return 0;
  std::uint64_t size = 0;
  // Files of 4 GiB or more are refused rather than read in part.
  if (!sys.GetFileSize(file, &size) || size == 0 || size > UINT32_MAX) {
    sys.CloseHandle(file);
    return 0;
  }
  XML_Parser parser = CreateXmlParser(format);
  if (!parser) {
    sys.CloseHandle(file);
    return 0;
  }
  XmlDocument* document =
      CreateXmlDocument(number, format == -1 ? Utf8 : static_cast<StringFormat>(format));
  if (!document) {
    XML_ParserFree(parser);
    sys.CloseHandle(file);
    return 0;
  }
  document->number = document->root->documentNumber;
  document->currentNode = document->root;
  document->lastClosedChild = nullptr;
  document->pendingTextLength = 0;
  document->lineEnding = Undetected;
  if (size <= SIZE_MAX - sizeof(StringPoolBlock)) {
    AddPoolBlock(document, static_cast<std::size_t>(size) + sizeof(StringPoolBlock));
  }
  document->encodingFixed = format != -1 ? 1 : 0;
  LoadContext context{document, parser};
  XML_SetUserData(parser, &context);

  std::uint64_t total = 0;
  std::uint32_t readError = NO_ERROR_CODE;
  while (total < size) {
    std::uint32_t chunk = kChunkSize;
    if (chunk + total > size) chunk = static_cast<std::uint32_t>(size - total);
    void* buffer = XML_GetBuffer(parser, static_cast<int>(chunk));
    if (!buffer) {
      document->status = kParseNoInput;
      document->loadProblem = static_cast<std::int32_t>(XmlLoadProblem::OutOfMemory);
      break;
    }
    std::uint32_t read = 0;
    // A failed read, or one that ends early, leaves the input incomplete.
    bool readOk = sys.ReadFile(file, buffer, chunk, &read);
    if (!readOk || read == 0) {
      readError = readOk ? ERROR_HANDLE_EOF_CODE : sys.GetLastError();
      document->status = kParseNoInput;
      document->loadProblem = static_cast<std::int32_t>(XmlLoadProblem::Unreadable);
      break;
    }
    if (document->lineEnding == Undetected) document->lineEnding = DetectLineEnding(buffer, read);
    if (total == 0 && format == Ascii) {
      document->keepsFileBytes = ReadAsEightBit(static_cast<const unsigned char*>(buffer), read);
    }
    if (document->keepsFileBytes && !document->highBytesSeen) {
      document->highBytesSeen = HasHighByte(static_cast<const unsigned char*>(buffer), read);
    }
    total += read;
    if (XML_ParseBuffer(parser, static_cast<int>(read), total >= size) == XML_STATUS_ERROR) {
      XML_Error error = XML_GetErrorCode(parser);
      document->status = static_cast<XmlParseStatus>(error);
      document->loadProblem =
          static_cast<std::int32_t>(error == XML_ERROR_NO_MEMORY ? XmlLoadProblem::OutOfMemory
                                                                 : XmlLoadProblem::NotWellFormed);
      break;
    }
  }
  if (document->status == 0 && document->contentLost) {
    document->status = kParseNoInput;
    document->loadProblem = static_cast<std::int32_t>(XmlLoadProblem::OutOfMemory);
  }
  XML_ParserFree(parser);
  sys.CloseHandle(file);
  // The caller reads why the file could not be read right after the load.
  if (readError != NO_ERROR_CODE) sys.SetLastError(readError);
  return reinterpret_cast<std::intptr_t>(document);
}

}  // namespace qg
