// Writing a document as XML text (SaveXmlDocument, in xml_library.h). The
// output is assembled in one 4096-byte buffer; a unit (one character, or one
// whole entity reference) is never split between two file writes.
#pragma once

#include <cstdint>

#include "system/platform.h"
#include "xml/xml_document.h"

namespace qg {

enum EscapeMode : int {
  EscapeText = 0,       // character data
  EscapeAttribute = 1,  // attribute values
  EscapeNone = 2,       // markup, names, raw content
};

inline constexpr std::int32_t kOutputBufferSize = 4096;

struct XmlOutput;
// Writes `text` (at most `maximum` characters, -1 for all of it; absent text
// writes nothing) escaped for `mode`; 0 when a flush failed.
using XmlTextWriter = int (*)(const char* text, std::int32_t maximum, EscapeMode mode,
                              XmlOutput* output);

struct XmlOutput {
  char* cursor;       // next free byte of the buffer
  std::int32_t room;  // free bytes left; kOutputBufferSize when empty
  XmlTextWriter writeText;
  int (*flush)(XmlOutput* output);
  char* start;
  Handle file;
};

// The unit writers: 8-bit, UTF-8 and UTF-16 little-endian output.
int ByteWriter(const char* text, std::int32_t maximum, EscapeMode mode, XmlOutput* output);
int Utf8Writer(const char* text, std::int32_t maximum, EscapeMode mode, XmlOutput* output);
int Utf16Writer(const char* text, std::int32_t maximum, EscapeMode mode, XmlOutput* output);

// The reference an attribute value writes for the ASCII character `c`
// ("&amp;" for '&'), or null when `c` stands for itself.
const char* AttributeEntity(unsigned char c);

// Writes the document (declaration per `flags`, then the tree) through the
// unit writer chosen by `encoding`; 1 on success.
int WriteXmlDocument(const XmlDocument* document, XmlOutput* output, int encoding,
                     std::uint32_t flags);

}  // namespace qg
