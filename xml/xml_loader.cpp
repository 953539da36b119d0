// LoadXmlDocument: the file is fed to libexpat in chunks read straight into
// the parser's own buffer, and the parser's callbacks build the tree.
#include "xml/xml_loader.h"

#include <expat.h>

#include <cstdint>
#include <cstring>

#include "files/utf8.h"
#include "system/platform.h"
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

XmlDocument* DocumentOf(void* userData) { return static_cast<XmlDocument*>(userData); }

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

bool Accepting(const XmlDocument* document) {
  return document->currentNode && document->droppedDepth == 0;
}

// Character data, comment content and instruction data: the parser's LF is
// stored as the file's own line end, UTF-8 as one byte per character.
void AppendText(XmlDocument* document, const char* bytes, std::size_t length) {
  if (!Accepting(document)) return;
  XmlNode* node = document->currentNode;
  std::size_t old = node->text ? node->textLength : 0;
  std::size_t extra = 0;
  if (document->lineEnding == CrLf) {
    for (std::size_t i = 0; i < length; ++i) extra += bytes[i] == '\n';
  }
  if (!ReserveText(node, old + extra + length + 1)) {
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
      *out++ = static_cast<char>(c);
      ++i;
    } else if (c >= 0xC0 && c <= 0xDF) {
      unsigned code = (c & 0x1Fu) << 6;
      if (i + 1 < length) code |= in[i + 1] & 0x3Fu;
      *out++ = code < 256 ? static_cast<char>(code) : '?';
      i += 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      *out++ = ' ';
      i += 3;
    } else if (c >= 0xF0 && c <= 0xF7) {
      *out++ = ' ';
      i += 4;
    } else {
      ++i;  // not a lead byte; the parser never delivers one
    }
  }
  *out = '\0';
  auto stored = static_cast<std::size_t>(out - begin);
  node->textLength = static_cast<std::uint32_t>(old + stored);
  document->pendingTextLength += static_cast<std::int32_t>(stored);
}

// Markup text as it stood in the file (and the rebuilt doctype text): line
// ends are kept as they came.
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
}

void XMLCALL OnEndElement(void* userData, const XML_Char*) { CloseOrUndrop(DocumentOf(userData)); }

void XMLCALL OnCharacterData(void* userData, const XML_Char* text, int length) {
  AppendText(DocumentOf(userData), text, static_cast<std::size_t>(length));
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

bool SameNameIgnoringCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    char x = *a >= 'a' && *a <= 'z' ? static_cast<char>(*a - 32) : *a;
    char y = *b >= 'a' && *b <= 'z' ? static_cast<char>(*b - 32) : *b;
    if (x != y) return false;
    if (!x) return true;
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
    if (SameNameIgnoringCase(encoding, "US-ASCII") ||
        SameNameIgnoringCase(encoding, "ISO-8859-1")) {
      document->encoding = Ascii;
    } else if (SameNameIgnoringCase(encoding, "UTF-16")) {
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

// Finds, in the raw bytes of a file read as 8-bit text, a character
// reference to one of the characters 0x80-0xFF: it comes into the tree as
// the byte of that code, beside the file's own bytes, and no one label reads
// both right. The scan's state carries over from one chunk to the next.
class HighReferenceScan {
 public:
  bool Found() const { return found_; }
  void Feed(const unsigned char* bytes, std::size_t length) {
    for (std::size_t i = 0; i < length && !found_; ++i) {
      if (state_ == Outside) {
        const void* amp = std::memchr(bytes + i, '&', length - i);
        if (!amp) return;
        i = static_cast<std::size_t>(static_cast<const unsigned char*>(amp) - bytes);
        state_ = Ampersand;
        continue;
      }
      Step(bytes[i]);
    }
  }

 private:
  enum State { Outside, Ampersand, Hash, Decimal, HexMark, Hex };

  static int HexDigit(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  void Step(unsigned char c) {
    int digit =
        state_ == Decimal || state_ == Hash ? (c >= '0' && c <= '9' ? c - '0' : -1) : HexDigit(c);
    switch (state_) {
      case Ampersand:
        state_ = c == '#' ? Hash : Outside;
        break;
      case Hash:
        value_ = 0;
        state_ = c == 'x' ? HexMark : digit >= 0 ? Decimal : Outside;
        if (digit >= 0) value_ = static_cast<std::uint32_t>(digit);
        break;
      case Decimal:
      case HexMark:
      case Hex:
        if (digit >= 0) {
          std::uint32_t base = state_ == Decimal ? 10 : 16;
          if (value_ < 0x1000) value_ = value_ * base + static_cast<std::uint32_t>(digit);
          if (state_ == HexMark) state_ = Hex;
        } else {
          found_ = c == ';' && state_ != HexMark && value_ >= 0x80 && value_ <= 0xFF;
          state_ = Outside;
        }
        break;
      case Outside:
        break;
    }
    if (state_ == Outside && c == '&') state_ = Ampersand;
  }

  State state_ = Outside;
  std::uint32_t value_ = 0;
  bool found_ = false;
};

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
  XML_SetUserData(parser, document);

  std::uint64_t total = 0;
  HighReferenceScan references;
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
    if (!sys.ReadFile(file, buffer, chunk, &read) || read == 0) {
      document->status = kParseNoInput;
      document->loadProblem = static_cast<std::int32_t>(XmlLoadProblem::Unreadable);
      break;
    }
    if (document->lineEnding == Undetected) document->lineEnding = DetectLineEnding(buffer, read);
    if (total == 0 && format == Ascii) {
      document->keepsFileBytes = ReadAsEightBit(static_cast<const unsigned char*>(buffer), read);
    }
    if (document->keepsFileBytes) references.Feed(static_cast<const unsigned char*>(buffer), read);
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
  // Such a tree holds the characters 0-255 as much as the file's bytes; it
  // is written as that, with the ISO-8859-1 label.
  if (references.Found()) document->keepsFileBytes = 0;
  XML_ParserFree(parser);
  sys.CloseHandle(file);
  return reinterpret_cast<std::intptr_t>(document);
}

}  // namespace qg
