// The in-memory form of an XML file: a document named by a number in the
// library's document table, owning a tree of nodes and the string pool their
// strings are carved from.
//
// There are no text nodes. All character content that stands directly inside
// a node (the whitespace between child elements included) is joined into the
// node's `text`, and every child records in `precedingTextLength` how many
// characters of its parent's text stood in front of it, so that writing the
// tree back reproduces the layout of the file.
//
// Ownership of strings is read from the address: a string carved from the
// pool never starts at a multiple of 8, an individual heap block always does
// (the platform heap hands out 8-aligned blocks). Attribute arrays are pointer
// arrays and must be aligned, so a pool-carved array is aligned to a pointer
// and its pool ownership is recorded in the node's `flags` instead
// (`kPooledAttributes`); an array without that flag is an individual block.
//
// Markup. A tree read from a file's own bytes (`keepsFileBytes`) has one
// byte per character and cannot hold a character that a reference brought
// in beside those bytes. A value or text holding one is stored as markup:
// the characters as the file must spell them, such a character as a
// reference ("&#x041F;", upper-case hex, at least four digits) and the
// ASCII characters escaped as the writer escapes them ("&amp;"), while the
// file's own bytes stay as they are. The writer copies markup unchanged; a
// node's text lengths (`precedingTextLength`, `textLength`) then count
// markup bytes. xml/attribute_markup.h decodes and encodes such strings.
#pragma once

#include <cstddef>
#include <cstdint>

#include "files/object_table.h"
#include "files/string_format.h"

namespace qg {

enum XmlNodeKind : std::int16_t {
  DocumentNode = 0,
  ElementNode = 1,
  CommentNode = 2,
  CDataNode = 3,
  DoctypeNode = 4,
  InstructionNode = 5,
};

enum LineEndingStyle : std::int32_t {
  Undetected = 0,
  CrLf = 1,
  Lf = 2,
  Cr = 4,
};

// 0 after a complete parse without error; 1 when input could not be handed
// to the parser; otherwise the parser's error code (libexpat's XML_Error).
using XmlParseStatus = std::int32_t;
inline constexpr XmlParseStatus kParseOk = 0;
inline constexpr XmlParseStatus kParseNoInput = 1;

// Node flag: the attribute array was carved from the document's string pool
// (and is released with the pool, never on its own).
inline constexpr std::uint16_t kPooledAttributes = 1;
// Node flag: the node's text is markup.
inline constexpr std::uint16_t kMarkupText = 2;

struct XmlNode {
  XmlNode* parent;       // null for the DocumentNode
  XmlNode* firstChild;   // children in document order
  XmlNode* nextSibling;  // null for a last child
  char* name;            // element name or instruction target
  char* text;            // joined character content, or the node's whole content
  char** attributes;     // name, value, name, value, ... then spare pairs
  std::intptr_t documentNumber;
  std::int32_t precedingTextLength;
  XmlNodeKind kind;
  std::int16_t attributeCount;
  std::int16_t spareSlots;
  // Kept in what would otherwise be padding: ownership flags, and the length
  // of the text a load has gathered for the node so far.
  std::uint16_t flags;
  std::uint32_t textLength;
  // Which attribute values are markup: null when none is, else an
  // individual block whose first word is the number of words after it, bit
  // i of those set for attribute i.
  std::uint32_t* markupMarks;
};

// A name/value pair as it lies in a node's `attributes` array.
struct XmlAttribute {
  char* name;
  char* value;
};

// Header of one StringPool block; the block's bytes follow it.
struct StringPoolBlock {
  StringPoolBlock* next;  // the next older block
  std::size_t size;       // bytes of the whole block, header included
};

struct XmlDocument {
  std::int32_t inUse;
  XmlNode* root;
  XmlNode* mainNode;
  StringFormat encoding;
  std::int32_t standalone;  // -1 not stated, 0 "no", 1 "yes"
  LineEndingStyle lineEnding;
  XmlParseStatus status;
  StringPoolBlock* stringPool;  // newest block first
  std::intptr_t number;
  std::int32_t encodingFixed;
  char* poolNext;  // next free byte of the newest pool block; null without one
  // Set when the file was loaded with the Ascii format and the parser read
  // its bytes as 8-bit text (no byte-order mark, no zero byte among the first
  // two): the tree then holds the file's own bytes, and 8-bit output keeps the
  // file's label, `declaredEncoding` (an individual copy of the name as the
  // declaration spelled it), or UTF-8 when the file named none.
  std::int32_t keepsFileBytes;
  char* declaredEncoding;
  // Why the last load gave no complete tree: an XmlLoadProblem (xml_library.h).
  std::int32_t loadProblem;

  bool Live() const { return inUse != 0; }
};

inline constexpr std::size_t kStringPoolBlockSize = 0x80000;
inline constexpr std::size_t kPoolLargestRequest = 1024;

// --- shared by the library's parts ----------------------------------------------

// The document table; null before InitXmlLibrary.
ObjectTable<XmlDocument>* XmlDocumentTable();

// True for a string or block that is an individual heap allocation.
inline bool IsIndividual(const void* p) {
  return p && reinterpret_cast<std::uintptr_t>(p) % 8 == 0;
}

// Bytes from the document's pool (never at a multiple of 8), or an individual
// allocation for large requests and when no pool block can be had; null when
// memory runs out.
char* PoolAllocSlow(XmlDocument* document, std::size_t size);
inline char* PoolAlloc(XmlDocument* document, std::size_t size) {
  // Carved from the newest block when the request and the one byte the
  // parity step may take fit; anything else the slow way.
  char* at = document->poolNext;
  if (at && size <= kPoolLargestRequest) {
    const char* end =
        reinterpret_cast<const char*>(document->stringPool) + document->stringPool->size;
    if (at<end&& static_cast<std::size_t>(end - at)> size + 1) {
      if (reinterpret_cast<std::uintptr_t>(at) % 8 == 0) ++at;
      document->poolNext = at + size;
      return at;
    }
  }
  return PoolAllocSlow(document, size);
}
// Chains a new block of `size` bytes (header included) in front of the pool;
// false, with `poolNext` null, when it cannot be had.
bool AddPoolBlock(XmlDocument* document, std::size_t size);
// A pointer-aligned array from the pool; `pooled` tells whether it came from
// the pool (true) or is an individual allocation (false).
char** PoolAllocPointers(XmlDocument* document, std::size_t count, bool* pooled);

// Whether the value of attribute `index` is markup.
inline bool IsMarkupValue(const XmlNode* node, int index) {
  const std::uint32_t* marks = node->markupMarks;
  auto word = static_cast<std::uint32_t>(index) / 32;
  return marks && word < marks[0] && (marks[1 + word] >> (index % 32) & 1u);
}
// Marks the value of attribute `index` as markup or plain; false when
// memory for the marks runs out (only a mark that is set can need it).
bool MarkMarkupValue(XmlNode* node, int index, bool markup);

// Replaces the text of an element without children with a copy of `text`,
// marked as markup or plain; false, with nothing changed and the last error
// set, for another node or when memory runs out (SetNodeTextMarkup).
bool StoreNodeText(XmlNode* node, const char* text, bool markup);

// A zero-filled node from the shared NodePool, or null.
XmlNode* TakeNode();
// Hands a node back to the NodePool.
void ReturnNode(XmlNode* node);

// Creates the document under `number` (-1: a dynamic number) with the given
// encoding; a document already under the number is released first. Null when
// no node or record can be had.
XmlDocument* CreateXmlDocument(ObjectNumber number, StringFormat encoding);

// An individually allocated copy of `text` (null counts as empty), or null.
char* CopyIndividual(const char* text);

}  // namespace qg
