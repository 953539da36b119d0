// LoadXmlDocument: the file is fed to libexpat in chunks read straight into
// the parser's own buffer, and the parser's callbacks build the tree.
#include "xml/xml_loader.h"

#include <expat.h>

#include <bit>
#include <cstdint>
#include <cstring>

#include "files/ascii_case.h"
#include "files/utf8.h"
#include "system/platform.h"
#include "xml/attribute_markup.h"
#include "xml/reference_marks.h"
#include "xml/references.h"
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

// What matters only while a file is loaded: the document being built, its
// parser, and the build cursor. The callbacks' user data.
struct LoadContext {
  XmlDocument* document;
  XML_Parser parser;
  XmlNode* currentNode;
  XmlNode* lastClosedChild;
  std::int32_t pendingTextLength;
  // Nesting of start events whose node could not be made; their content and
  // end events are skipped so the cursor stays on the right node.
  std::int32_t droppedDepth;
  // Set when memory ran out for any piece of the file: such a tree is
  // incomplete, and the load reports it as a failure, so that it is never
  // saved over the file it came from.
  bool contentLost;
  // Set once the file read so far (whole chunks) holds a byte from 0x80 on.
  // Until then a character 0x80-0xFF the parser gives without a mark can
  // only have come from a reference (in an entity's text, or an attribute
  // default, which are not rewritten).
  bool highBytesSeen;
  // How the characters of the text being read were written.
  MarkReader textMarks;
  // The texts of the open nodes, one after another in one block, the
  // innermost last: `textsTop` bytes of `textsRoom` in use. A node's text
  // is the last `textLength` bytes while it is the innermost one, so text
  // is always added at the top, and a closed node's text leaves the top to
  // its parent's.
  char* texts;
  std::size_t textsTop;
  std::size_t textsRoom;
  // Names copied into the pool, by the address the parser gave them at.
  struct SeenName {
    const char* parsed;
    char* copy;
  } names[64];
  // Where a markup value is spelled before it goes to the pool.
  char* spelling;
  std::size_t spellingRoom;
};

LoadContext* ContextOf(void* userData) { return static_cast<LoadContext*>(userData); }

// --- the open nodes' texts ----------------------------------------------------

// Where the innermost open node's text ends.
char* TextTop(LoadContext* context) { return context->texts + context->textsTop; }

bool GrowTexts(LoadContext* context, std::size_t more) {
  std::size_t needed = context->textsTop + more;
  // A node's text length is 32-bit.
  if (more > UINT32_MAX || needed > UINT32_MAX) return false;
  std::size_t size = needed <= 4096 ? 4096 : std::bit_ceil(needed);
  void* block = context->texts ? Sys().HeapReAlloc(context->texts, size, false)
                               : Sys().HeapAlloc(size, false);
  if (!block) return false;
  context->texts = static_cast<char*>(block);
  context->textsRoom = size;
  return true;
}

// Makes room for `more` bytes at the top; false when memory runs out or
// the length would not fit a node's 32-bit length.
inline bool ReserveText(LoadContext* context, std::size_t more) {
  return more <= context->textsRoom - context->textsTop || GrowTexts(context, more);
}

// Counts `stored` bytes just put at the top to the innermost node's text.
inline void AddToText(LoadContext* context, XmlNode* node, std::size_t stored) {
  context->textsTop += stored;
  node->textLength += static_cast<std::uint32_t>(stored);
  context->pendingTextLength += static_cast<std::int32_t>(stored);
}

// Gives the innermost open node its text, carved from the pool (or its own
// block when long), and leaves the top to its parent. An element that got
// no text keeps none; a comment or instruction always has one.
void TakeText(LoadContext* context, XmlNode* node) {
  std::size_t length = node->textLength;
  if (length == 0 && node->kind != CommentNode && node->kind != InstructionNode) return;
  context->textsTop -= length;
  char* copy = PoolAlloc(context->document, length + 1);
  if (!copy) {
    context->contentLost = true;
    return;
  }
  if (length > 0) std::memcpy(copy, TextTop(context), length);
  copy[length] = '\0';
  node->text = copy;
}

// Whether the tree can hold the character as a byte: in a tree of a file's
// own bytes an ASCII character always, one up to U+00FF once the file has
// bytes from 0x80 on (which it then stands for); in any other tree every
// character up to U+00FF.
bool KeptAsByte(const LoadContext* context, char32_t code) {
  if (!context->document->keepsFileBytes) return code <= 0xFF;
  return code < 0x80 || (code <= 0xFF && context->highBytesSeen);
}

bool Accepting(const LoadContext* context) {
  return context->currentNode && context->droppedDepth == 0;
}

bool EscapedInMarkupText(unsigned char c) { return c == '&' || c == '<' || c == '>'; }

// Turns the text of the open `node` into markup: '&', '<' and '>' escaped,
// and the lengths of the pieces in front of its children and of the pending
// piece counted again. False, with nothing changed, when memory runs out.
bool MakeTextMarkup(LoadContext* context, XmlNode* node) {
  std::size_t old = node->textLength;
  auto growth = [&](std::size_t from, std::size_t to) {
    const char* text = TextTop(context) - old;
    std::size_t extra = 0;
    for (std::size_t i = from; i < to; ++i) {
      char c = text[i];
      extra += c == '&' ? 4 : c == '<' || c == '>' ? 3 : 0;
    }
    return extra;
  };
  std::size_t total = growth(0, old);
  if (total > 0) {
    if (!ReserveText(context, total)) return false;
    std::size_t position = 0;
    for (XmlNode* child = node->firstChild; child; child = child->nextSibling) {
      auto piece = static_cast<std::size_t>(child->precedingTextLength);
      if (piece > old - position) piece = old - position;
      child->precedingTextLength += static_cast<std::int32_t>(growth(position, position + piece));
      position += piece;
    }
    context->pendingTextLength += static_cast<std::int32_t>(growth(position, old));
    // From the end, so that every byte is read before it is overwritten.
    char* text = TextTop(context) - old;
    std::size_t to = old + total;
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
    context->textsTop += total;
    node->textLength = static_cast<std::uint32_t>(old + total);
  }
  node->flags |= kMarkupText;
  return true;
}

// Whether a value or text the parser gave, in a tree of a file's own bytes,
// holds a character the tree cannot keep as a byte: one above U+00FF (a
// reference or a mark; lead bytes from 0xC4 on), or one 0x80-0xFF before
// the file showed a byte of its own from 0x80 on (lead bytes 0xC2, 0xC3).
bool HoldsLostCharacter(const LoadContext* context, const char* bytes, std::size_t length) {
  const unsigned char firstLost = context->highBytesSeen ? 0xC4 : 0xC2;
  for (std::size_t i = 0; i < length; ++i)
    if (static_cast<unsigned char>(bytes[i]) >= firstLost) return true;
  return false;
}

// Whether text the parser gave needs markup: a CR (the parser turns every
// line end of the file into LF, so only a reference gives one), or in a
// tree of a file's own bytes a character it cannot keep as a byte.
bool TextNeedsMarkup(const LoadContext* context, const char* bytes, std::size_t length) {
  return std::memchr(bytes, '\r', length) ||
         (context->document->keepsFileBytes && HoldsLostCharacter(context, bytes, length));
}

// Puts how markup spells a character the parser gave above U+007F, written
// as `spelling` says; returns its bytes.
std::size_t PutSpelled(const LoadContext* context, char32_t code, Spelling spelling, char* out) {
  if (spelling == Spelling::Pair) return PutUtf16References(code, out);
  if (spelling == Spelling::Own && KeptAsByte(context, code)) {
    *out = static_cast<char>(code);
    return 1;
  }
  return PutReference(code, out);
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

// Whether each of the eight bytes is ASCII and none a CR, nor an LF unless
// `lfKept`.
inline bool AsciiWithoutLineEnd(std::uint64_t word, bool lfKept) {
  // A CR (LF) byte becomes zero by the XOR; the high bit of any zero byte
  // after the subtraction (the classic test) flags it.
  constexpr std::uint64_t kOnes = 0x0101010101010101u, kHighs = 0x8080808080808080u;
  std::uint64_t cr = word ^ 0x0D0D0D0D0D0D0D0Du;
  std::uint64_t found = (word & kHighs) | ((cr - kOnes) & ~cr & kHighs);
  if (!lfKept) {
    std::uint64_t lf = word ^ 0x0A0A0A0A0A0A0A0Au;
    found |= (lf - kOnes) & ~lf & kHighs;
  }
  return !found;
}

// Stores in `out` the longest start of a plain text's `bytes` that the
// general way of AppendText would store the same way, without making the
// text markup: ASCII other than a CR as it is, the parser's LF as the file's
// line end, and a character 0x80-0xFF the parser gave (the file's byte in a
// file read as 8-bit text) as its byte, where the tree keeps it as a byte.
// `out` has room for `length` bytes, and one more in a file whose line end
// is CR LF (a text ends where its line ends take more). Returns the bytes
// read; `*stored` receives the bytes stored.
std::size_t AppendPlainPrefix(const LoadContext* context, const char* bytes, std::size_t length,
                              char* out, std::size_t* stored) {
  const bool latinKept = !context->document->keepsFileBytes || context->highBytesSeen;
  const LineEndingStyle lineEnding = context->document->lineEnding;
  const bool lfKept = lineEnding != CrLf && lineEnding != Cr;
  const auto* in = reinterpret_cast<const unsigned char*>(bytes);
  char* const begin = out;
  // The last byte a CR LF may end at.
  const char* const crLfEnd = out + length + 1;
  std::size_t i = 0;
  for (;;) {
    for (std::uint64_t word; i + 8 <= length; i += 8, out += 8) {
      std::memcpy(&word, bytes + i, 8);
      if (!AsciiWithoutLineEnd(word, lfKept)) break;
      std::memcpy(out, &word, 8);
    }
    // A character at a time for the next sixteen bytes (a line end, a run
    // of 0x80-0xFF characters, or a short text), then eight at a time again.
    const std::size_t stop = length - i > 16 ? i + 16 : length;
    while (i < stop) {
      unsigned char c = in[i];
      if (c < 0x80 && c != '\r' && c != '\n') {
        *out++ = static_cast<char>(c);
        ++i;
      } else if (c == '\n' && (lineEnding != CrLf || out + 2 <= crLfEnd)) {
        if (lineEnding == CrLf) *out++ = '\r';
        *out++ = lineEnding == Cr ? '\r' : '\n';
        ++i;
      } else if ((c & 0xFE) == 0xC2 && latinKept && i + 1 < length) {
        // 0xC2 and 0xC3 lead the parser's characters 0x80-0xFF.
        *out++ = static_cast<char>(((c & 0x1F) << 6) | (in[i + 1] & 0x3F));
        i += 2;
      } else {
        *stored = static_cast<std::size_t>(out - begin);
        return i;
      }
    }
    if (i >= length) break;
  }
  *stored = static_cast<std::size_t>(out - begin);
  return i;
}

// Character data, comment content and instruction data: the parser's LF is
// stored as the file's own line end, UTF-8 as one byte per character. Text
// that needs markup (TextNeedsMarkup) makes the node's text markup, in which
// '&', '<', '>' and a CR are escaped and every character as the file wrote
// it: a reference as a reference, a pair as a pair.
void AppendText(LoadContext* context, const char* bytes, std::size_t length) {
  if (!Accepting(context) || length == 0) return;
  XmlDocument* document = context->document;
  XmlNode* node = context->currentNode;
  // Most text is ASCII and line ends: copied as it is, a line end as the
  // file's own.
  if (!(node->flags & kMarkupText)) {
    if (!ReserveText(context, length + (document->lineEnding == CrLf))) {
      context->contentLost = true;
      return;
    }
    std::size_t stored = 0;
    std::size_t read = AppendPlainPrefix(context, bytes, length, TextTop(context), &stored);
    AddToText(context, node, stored);
    if (read == length) return;
    // The rest holds what the general way below must decide on.
    bytes += read;
    length -= read;
  }
  if (!(node->flags & kMarkupText) && TextNeedsMarkup(context, bytes, length) &&
      !MakeTextMarkup(context, node)) {
    context->contentLost = true;
    return;
  }
  const bool markup = (node->flags & kMarkupText) != 0;
  const bool marked = document->keepsFileBytes != 0;
  std::size_t extra = 0;
  if (document->lineEnding == CrLf) {
    for (std::size_t i = 0; i < length; ++i) extra += bytes[i] == '\n';
  }
  // Markup takes at most 5 bytes per input byte ("&amp;" for one '&', a
  // pair's 16 for 4); 8 to spare.
  if (length > UINT32_MAX || !ReserveText(context, extra + (markup ? 8 : 1) * length)) {
    context->contentLost = true;
    return;
  }
  const auto* in = reinterpret_cast<const unsigned char*>(bytes);
  char* out = TextTop(context);
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
    } else if (c <= 0xC3 && c >= 0xC2 && i + 1 < length && (in[i + 1] & 0xC0) == 0x80 && !markup) {
      // A character 0x80-0xFF the parser gave (the file's byte, in a file
      // read as 8-bit text) in plain text: the byte of its code.
      *out++ = static_cast<char>(((c & 0x1F) << 6) | (in[i + 1] & 0x3F));
      i += 2;
    } else {
      Utf8Sequence sequence = DecodeUtf8(bytes + i, length - i);
      i += sequence.size;
      if (sequence.skipped) continue;  // the parser never delivers one
      char32_t code = sequence.code;
      Spelling spelling = Spelling::Own;
      if (marked && !context->textMarks.Read(code, &code, &spelling)) continue;
      if (markup && marked) {
        out += PutSpelled(context, code, spelling, out);
      } else if (code <= 0xFF) {
        *out++ = static_cast<char>(code);
      } else {
        *out++ = sequence.size == 2 ? '?' : ' ';
      }
    }
  }
  AddToText(context, node, static_cast<std::size_t>(out - begin));
}

// Markup text as it stood in the file (and the rebuilt doctype text): line
// ends are kept as they came. In markup text it stands as it stood.
void AppendRawText(LoadContext* context, const char* bytes, std::size_t length) {
  if (!Accepting(context) || length == 0) return;
  if (!ReserveText(context, length)) {
    context->contentLost = true;
    return;
  }
  AddToText(context, context->currentNode, NarrowFromUtf8(bytes, length, TextTop(context), length));
}

// A UTF-8 string of `length` bytes as 8-bit text carved from the pool, or
// null; `wide` tells whether it has a byte from 0x80 on (ASCII is copied).
char* PoolString(XmlDocument* document, const char* utf8, std::size_t length, bool wide) {
  char* copy = PoolAlloc(document, length + 1);
  if (!copy) return nullptr;
  if (!wide) {
    std::memcpy(copy, utf8, length + 1);
    return copy;
  }
  copy[NarrowFromUtf8(utf8, length, copy, length)] = '\0';
  return copy;
}

char* PoolString(XmlDocument* document, const char* utf8) {
  std::size_t length = std::strlen(utf8);
  return PoolString(document, utf8, length,
                    HasHighByte(reinterpret_cast<const unsigned char*>(utf8), length));
}

// An element or attribute name as the tree stores it. A file repeats a few
// names over and over, and the parser hands a name it has seen again from
// the same place more often than not (an attribute's always): an ASCII name
// at the address it came from last, with the same text, is the copy made
// then (names are never written in place).
char* PoolName(LoadContext* context, const char* utf8) {
  auto& seen =
      context->names[(reinterpret_cast<std::uintptr_t>(utf8) >> 3) % std::size(context->names)];
  if (seen.parsed == utf8 && std::strcmp(seen.copy, utf8) == 0) return seen.copy;
  std::size_t length = std::strlen(utf8);
  bool wide = HasHighByte(reinterpret_cast<const unsigned char*>(utf8), length);
  char* copy = PoolString(context->document, utf8, length, wide);
  // Only a pool copy is shared: an individual block is released with its node.
  if (copy && !wide && !IsIndividual(copy)) seen = {utf8, copy};
  return copy;
}

void ReleaseIfIndividual(char* text) {
  if (IsIndividual(text)) Sys().HeapFree(text);
}

// --- the build cursor -----------------------------------------------------------

XmlNode* OpenNode(LoadContext* context, XmlNodeKind kind) {
  XmlNode* node = TakeNode();
  if (!node) return nullptr;
  XmlDocument* document = context->document;
  node->kind = kind;
  node->documentNumber = document->number;
  node->precedingTextLength = context->pendingTextLength;
  if (kind == ElementNode && !document->mainNode) document->mainNode = node;
  XmlNode* parent = context->currentNode;
  node->parent = parent;
  if (context->lastClosedChild) {
    context->lastClosedChild->nextSibling = node;
  } else {
    parent->firstChild = node;
  }
  context->currentNode = node;
  context->lastClosedChild = nullptr;
  context->pendingTextLength = 0;
  return node;
}

void CloseNode(LoadContext* context) {
  XmlNode* node = context->currentNode;
  if (!node) return;
  TakeText(context, node);
  context->lastClosedChild = node;
  context->pendingTextLength = 0;
  context->currentNode = node->parent;
}

// Opens a node for a start event, or counts the event as dropped when no node
// can be had (or an enclosing one was dropped).
XmlNode* OpenOrDrop(LoadContext* context, XmlNodeKind kind) {
  if (context->droppedDepth > 0) {
    ++context->droppedDepth;
    return nullptr;
  }
  XmlNode* node = context->currentNode ? OpenNode(context, kind) : nullptr;
  if (!node) {
    context->droppedDepth = 1;
    context->contentLost = true;
  }
  return node;
}

void CloseOrUndrop(LoadContext* context) {
  if (context->droppedDepth > 0) {
    --context->droppedDepth;
  } else {
    CloseNode(context);
  }
}

// --- parser callbacks -----------------------------------------------------------

// Puts a value the parser gave as markup spells it: every character as the
// file wrote it, a reference as a reference. `out` has room for
// kLongestReference / 2 bytes per byte of the value; returns the bytes put.
std::size_t SpellValue(const LoadContext* context, const char* utf8, std::size_t length,
                       char* out) {
  MarkReader marks;
  char* const begin = out;
  for (std::size_t i = 0; i < length;) {
    auto c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80) {
      out += PutMarkupCharacter(c, false, out);
      ++i;
      continue;
    }
    Utf8Sequence sequence = DecodeUtf8(utf8 + i, length - i);
    i += sequence.size;
    char32_t code = sequence.code;
    Spelling spelling = Spelling::Own;
    if (marks.Read(code, &code, &spelling)) out += PutSpelled(context, code, spelling, out);
  }
  return static_cast<std::size_t>(out - begin);
}

// An attribute value: in a tree of a file's own bytes a value with a
// character the tree cannot keep as a byte is stored as markup.
char* StoreValue(LoadContext* context, XmlNode* node, int index, const char* utf8) {
  std::size_t size = std::strlen(utf8);
  bool wide = HasHighByte(reinterpret_cast<const unsigned char*>(utf8), size);
  if (!wide || !context->document->keepsFileBytes || !HoldsLostCharacter(context, utf8, size))
    return PoolString(context->document, utf8, size, wide);
  if (size > (SIZE_MAX - 1) / (kLongestReference / 2)) return nullptr;
  std::size_t room = size * (kLongestReference / 2) + 1;
  if (room > context->spellingRoom) {
    void* grown = context->spelling ? Sys().HeapReAlloc(context->spelling, room, false)
                                    : Sys().HeapAlloc(room, false);
    if (!grown) return nullptr;
    context->spelling = static_cast<char*>(grown);
    context->spellingRoom = room;
  }
  std::size_t length = SpellValue(context, utf8, size, context->spelling);
  char* markup = PoolAlloc(context->document, length + 1);
  if (!markup) return nullptr;
  std::memcpy(markup, context->spelling, length);
  markup[length] = '\0';
  if (!MarkMarkupValue(node, index, true)) {
    ReleaseIfIndividual(markup);
    return nullptr;
  }
  return markup;
}

void XMLCALL OnStartElement(void* userData, const XML_Char* name, const XML_Char** attributes) {
  LoadContext* context = ContextOf(userData);
  XmlDocument* document = context->document;
  XmlNode* node = OpenOrDrop(context, ElementNode);
  if (!node) return;
  node->name = PoolName(context, name);
  if (!node->name) context->contentLost = true;
  std::size_t strings = 0;
  while (attributes[strings]) strings += 2;
  if (strings == 0) return;
  bool pooled = false;
  char** array = PoolAllocPointers(document, strings, &pooled);
  if (!array) {
    context->contentLost = true;
    return;
  }
  node->attributes = array;
  if (pooled) node->flags |= kPooledAttributes;
  std::size_t pairs = strings / 2;
  if (pairs > INT16_MAX) pairs = INT16_MAX;
  std::int16_t stored = 0;
  for (std::size_t i = 0; i < pairs; ++i) {
    char* attributeName = PoolName(context, attributes[2 * i]);
    char* value = attributeName
                      ? StoreValue(context, node, static_cast<int>(i), attributes[2 * i + 1])
                      : nullptr;
    if (!value) {
      ReleaseIfIndividual(attributeName);
      context->contentLost = true;
      break;
    }
    array[2 * i] = attributeName;
    array[2 * i + 1] = value;
    ++stored;
  }
  node->attributeCount = stored;
}

void XMLCALL OnEndElement(void* userData, const XML_Char*) { CloseOrUndrop(ContextOf(userData)); }

void XMLCALL OnCharacterData(void* userData, const XML_Char* text, int length) {
  AppendText(ContextOf(userData), text, static_cast<std::size_t>(length));
}

void XMLCALL OnComment(void* userData, const XML_Char* content) {
  LoadContext* context = ContextOf(userData);
  if (context->droppedDepth > 0 || !context->currentNode) return;
  if (!OpenNode(context, CommentNode)) {
    context->contentLost = true;
    return;
  }
  AppendText(context, content, std::strlen(content));
  CloseNode(context);
}

void XMLCALL OnStartCdata(void* userData) { OpenOrDrop(ContextOf(userData), CDataNode); }

void XMLCALL OnEndCdata(void* userData) { CloseOrUndrop(ContextOf(userData)); }

void XMLCALL OnInstruction(void* userData, const XML_Char* target, const XML_Char* data) {
  LoadContext* context = ContextOf(userData);
  XmlDocument* document = context->document;
  if (context->droppedDepth > 0 || !context->currentNode) return;
  XmlNode* node = OpenNode(context, InstructionNode);
  if (!node) {
    context->contentLost = true;
    return;
  }
  node->name = PoolString(document, target);
  if (!node->name) context->contentLost = true;
  AppendText(context, data, std::strlen(data));
  CloseNode(context);
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
  LoadContext* context = ContextOf(userData);
  if (context->droppedDepth > 0 || !context->currentNode) return;
  XmlNode* node = OpenNode(context, DoctypeNode);
  if (!node) {
    context->contentLost = true;
    // The subset's declarations and end event are skipped with the node.
    if (hasInternalSubset) context->droppedDepth = 1;
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
    AppendRawText(context, work, static_cast<std::size_t>(out - work));
    Sys().HeapFree(work);
  } else {
    context->contentLost = true;
  }
  if (!hasInternalSubset) CloseNode(context);
}

void XMLCALL OnEndDoctype(void* userData) {
  LoadContext* context = ContextOf(userData);
  if (context->droppedDepth > 0) {
    --context->droppedDepth;
    return;
  }
  if (context->currentNode && context->currentNode->kind == DoctypeNode) {
    AppendRawText(context, "]>", 2);
    CloseNode(context);
  }
}

void XMLCALL OnXmlDeclaration(void* userData, const XML_Char*, const XML_Char* encoding,
                              int standalone) {
  LoadContext* context = ContextOf(userData);
  XmlDocument* document = context->document;
  if (encoding && document->keepsFileBytes && !document->declaredEncoding) {
    document->declaredEncoding = CopyIndividual(encoding);
    if (!document->declaredEncoding) context->contentLost = true;
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
  AppendRawText(ContextOf(userData), text, static_cast<std::size_t>(length));
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

// True for the start of a UTF-16 file: a byte-order mark of UTF-16, or a
// zero byte among the first two bytes.
bool IsUtf16Start(const unsigned char* start, std::size_t length) {
  if (length >= 2 &&
      ((start[0] == 0xFF && start[1] == 0xFE) || (start[0] == 0xFE && start[1] == 0xFF)))
    return true;
  return (length >= 1 && start[0] == 0) || (length >= 2 && start[1] == 0);
}

}  // namespace

LineEndingStyle DetectLineEnding(const void* chunk, std::size_t length) {
  const auto* bytes = static_cast<const unsigned char*>(chunk);
  // More than four zero bytes make the chunk UTF-16; the count stops there.
  std::size_t zeros = 0;
  for (const unsigned char *at = bytes, *end = bytes + length; zeros <= 4 && at < end; ++zeros) {
    const void* zero = std::memchr(at, 0, static_cast<std::size_t>(end - at));
    if (!zero) break;
    at = static_cast<const unsigned char*>(zero) + 1;
  }
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
  document->lineEnding = Undetected;
  if (size <= SIZE_MAX - sizeof(StringPoolBlock)) {
    AddPoolBlock(document, static_cast<std::size_t>(size) + sizeof(StringPoolBlock));
  }
  document->encodingFixed = format != -1 ? 1 : 0;
  LoadContext context{};
  context.document = document;
  context.parser = parser;
  context.currentNode = document->root;
  XML_SetUserData(parser, &context);

  ReferenceRewriter rewriter;
  bool rewrite = format != Unicode;
  std::uint64_t total = 0;
  std::uint32_t readError = NO_ERROR_CODE;
  while (total < size) {
    std::uint32_t chunk = kChunkSize;
    if (chunk + total > size) chunk = static_cast<std::uint32_t>(size - total);
    char* buffer = rewriter.ChunkBuffer(chunk);
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
    const auto* bytes = reinterpret_cast<const unsigned char*>(buffer);
    if (document->lineEnding == Undetected) document->lineEnding = DetectLineEnding(buffer, read);
    if (total == 0) {
      if (format == Ascii) document->keepsFileBytes = ReadAsEightBit(bytes, read);
      // UTF-16 goes to the parser as it is.
      rewrite = rewrite && !IsUtf16Start(bytes, read);
    }
    if (document->keepsFileBytes && !context.highBytesSeen) {
      context.highBytesSeen = HasHighByte(bytes, read);
    }
    total += read;
    const bool last = total >= size;
    const char* input = buffer;
    std::size_t inputSize = read;
    if (rewrite) {
      if (!rewriter.Rewrite(read, last, document->keepsFileBytes != 0)) {
        document->status = kParseNoInput;
        document->loadProblem = static_cast<std::int32_t>(XmlLoadProblem::OutOfMemory);
        break;
      }
      input = rewriter.Output();
      inputSize = rewriter.OutputSize();
    }
    if (XML_Parse(parser, input, static_cast<int>(inputSize), last) == XML_STATUS_ERROR) {
      XML_Error error = XML_GetErrorCode(parser);
      document->status = static_cast<XmlParseStatus>(error);
      document->loadProblem =
          static_cast<std::int32_t>(error == XML_ERROR_NO_MEMORY ? XmlLoadProblem::OutOfMemory
                                                                 : XmlLoadProblem::NotWellFormed);
      break;
    }
  }
  // The document node, and any node a failed parse left open, get their
  // texts too.
  for (XmlNode* node = context.currentNode; node; node = node->parent) TakeText(&context, node);
  if (document->status == 0 && context.contentLost) {
    document->status = kParseNoInput;
    document->loadProblem = static_cast<std::int32_t>(XmlLoadProblem::OutOfMemory);
  }
  XML_ParserFree(parser);
  if (context.texts) sys.HeapFree(context.texts);
  if (context.spelling) sys.HeapFree(context.spelling);
  sys.CloseHandle(file);
  // The caller reads why the file could not be read right after the load.
  if (readError != NO_ERROR_CODE) sys.SetLastError(readError);
  return reinterpret_cast<std::intptr_t>(document);
}

}  // namespace qg
