// SaveXmlDocument: the tree written as XML text through one 4096-byte buffer
// into a temporary file beside the target, which then replaces the target in
// one step, so a save that fails leaves the old file as it was.
#include "xml/xml_writer.h"

#include <cstring>
#include <initializer_list>

#include "files/file_replacement.h"
#include "xml/xml_library.h"

namespace qg {

namespace {

// --- escaping ---------------------------------------------------------------------

struct EscapeTable {
  const char* entity[3][256];
  unsigned char length[3][256];
};

constexpr EscapeTable MakeEscapeTable() {
  EscapeTable table{};
  auto set = [&table](int mode, unsigned char c, const char* entity) {
    table.entity[mode][c] = entity;
    unsigned char length = 0;
    while (entity[length]) ++length;
    table.length[mode][c] = length;
  };
  for (int mode : {EscapeText, EscapeAttribute}) {
    set(mode, '<', "&lt;");
    set(mode, '>', "&gt;");
    set(mode, '&', "&amp;");
  }
  set(EscapeAttribute, '\'', "&apos;");
  set(EscapeAttribute, '"', "&quot;");
  // Readers turn a raw tab, line feed or carriage return in a value into a
  // blank; as references they read back as themselves.
  set(EscapeAttribute, '\t', "&#9;");
  set(EscapeAttribute, '\n', "&#10;");
  set(EscapeAttribute, '\r', "&#13;");
  return table;
}

constexpr EscapeTable kEscapes = MakeEscapeTable();

// Characters of `text` to write: all of it for -1, else at most `maximum`
// (taken as unsigned), never beyond the terminator.
std::size_t LengthToWrite(const char* text, std::int32_t maximum) {
  if (maximum == -1) return std::strlen(text);
  std::size_t limit = static_cast<std::uint32_t>(maximum);
  const void* end = std::memchr(text, 0, limit);
  return end ? static_cast<std::size_t>(static_cast<const char*>(end) - text) : limit;
}

// Stores one unit of `size` bytes, flushing first when it does not fit.
bool PutUnit(XmlOutput* output, const char* bytes, std::int32_t size) {
  if (output->room < size && !output->flush(output)) return false;
  std::memcpy(output->cursor, bytes, static_cast<std::size_t>(size));
  output->cursor += size;
  output->room -= size;
  return true;
}

// Stores a run of one-byte units, flushing whenever the buffer fills.
bool PutBytes(XmlOutput* output, const unsigned char* bytes, std::size_t count) {
  while (count > 0) {
    if (output->room == 0 && !output->flush(output)) return false;
    std::size_t part = count < static_cast<std::size_t>(output->room)
                           ? count
                           : static_cast<std::size_t>(output->room);
    std::memcpy(output->cursor, bytes, part);
    output->cursor += part;
    output->room -= static_cast<std::int32_t>(part);
    bytes += part;
    count -= part;
  }
  return true;
}

// For each mode, 1 for the characters a one-byte writer cannot copy as they
// are: those with an entity, and (in the second half of each row's use, see
// PlainRun) the characters 128-255 the UTF-8 writer encodes.
struct StopTable {
  unsigned char stop[3][256];
};

constexpr StopTable MakeStopTable(bool withHighHalf) {
  StopTable table{};
  for (int mode = 0; mode < 3; ++mode) {
    for (int c = 0; c < 256; ++c) {
      table.stop[mode][c] = kEscapes.entity[mode][c] || (withHighHalf && c >= 0x80) ? 1 : 0;
    }
  }
  return table;
}

constexpr StopTable kByteStops = MakeStopTable(false);
constexpr StopTable kUtf8Stops = MakeStopTable(true);

// Length of the run from `i` on that a one-byte writer copies as it is:
// characters that need no escaping (and, for UTF-8, are below 128). Four
// characters are looked at per step; this loop is most of a save's work.
std::size_t PlainRun(const unsigned char* text, std::size_t i, std::size_t n, EscapeMode mode,
                     bool asciiOnly) {
  if (!asciiOnly && mode == EscapeNone) return n - i;
  const unsigned char* stop = (asciiOnly ? kUtf8Stops : kByteStops).stop[mode];
  std::size_t j = i;
  while (j + 4 <= n && !(stop[text[j]] | stop[text[j + 1]] | stop[text[j + 2]] | stop[text[j + 3]]))
    j += 4;
  while (j < n && !stop[text[j]]) ++j;
  return j - i;
}

// A save's output: its bytes go through the file's replacement, which
// writes them only once they differ from the file's own.
struct SaveOutput : XmlOutput {
  FileReplacement* replacement;
};

int FlushBuffer(XmlOutput* output) {
  auto count = static_cast<std::uint32_t>(kOutputBufferSize - output->room);
  if (!WriteReplacement(static_cast<SaveOutput*>(output)->replacement, output->start, count))
    return 0;
  output->cursor = output->start;
  output->room = kOutputBufferSize;
  return 1;
}

// --- the tree -----------------------------------------------------------------------

// Where the content sequence of an open node stands: its text's length and
// how far the text has been written. One per nesting level, on the heap, so
// depth costs no call stack.
struct ContentFrame {
  std::uint64_t position;
  std::uint64_t length;
};

class FrameStack {
 public:
  ~FrameStack() {
    if (frames_) Sys().HeapFree(frames_);
  }
  bool Push(std::uint64_t length) {
    if (count_ == capacity_) {
      std::size_t capacity = capacity_ ? capacity_ * 2 : 64;
      void* grown = frames_ ? Sys().HeapReAlloc(frames_, capacity * sizeof(ContentFrame), false)
                            : Sys().HeapAlloc(capacity * sizeof(ContentFrame), false);
      if (!grown) return false;
      frames_ = static_cast<ContentFrame*>(grown);
      capacity_ = capacity;
    }
    frames_[count_++] = {0, length};
    return true;
  }
  ContentFrame& Top() { return frames_[count_ - 1]; }
  void Pop() { --count_; }

 private:
  ContentFrame* frames_ = nullptr;
  std::size_t count_ = 0;
  std::size_t capacity_ = 0;
};

bool Write(XmlOutput* output, const char* text, EscapeMode mode = EscapeNone,
           std::int32_t maximum = -1) {
  // Names and raw content in 8-bit output are copied as they are: one copy
  // when they fit, instead of a trip through the unit writer.
  if (mode == EscapeNone && maximum == -1 && text && output->writeText == ByteWriter) {
    std::size_t length = std::strlen(text);
    if (length <= static_cast<std::size_t>(output->room)) {
      std::memcpy(output->cursor, text, length);
      output->cursor += length;
      output->room -= static_cast<std::int32_t>(length);
      return true;
    }
  }
  return output->writeText(text, maximum, mode, output) != 0;
}

// Markup spelled by the writer itself, all ASCII, so every one-byte writer
// stores it unchanged: one copy when it fits.
template <std::size_t N>
bool WriteLiteral(XmlOutput* output, const char (&literal)[N]) {
  constexpr auto length = static_cast<std::int32_t>(N - 1);
  if (output->writeText != Utf16Writer && output->room >= length) {
    std::memcpy(output->cursor, literal, length);
    output->cursor += length;
    output->room -= length;
    return true;
  }
  return Write(output, literal);
}

// The doctype's own text and markup text stand for themselves; any other
// element text is character data.
EscapeMode ContentMode(const XmlNode* node) {
  return node->kind == DoctypeNode || (node->flags & kMarkupText) ? EscapeNone : EscapeText;
}

// The piece of the parent's text that stands in front of `child`.
bool WritePrecedingText(const XmlNode* parent, const XmlNode* child, ContentFrame& frame,
                        XmlOutput* output) {
  if (child->precedingTextLength <= 0) return true;
  if (frame.position < frame.length && !Write(output, parent->text + frame.position,
                                              ContentMode(parent), child->precedingTextLength)) {
    return false;
  }
  frame.position += static_cast<std::uint64_t>(child->precedingTextLength);
  return true;
}

// The rest of the node's text after its last child, then its end tag.
bool FinishContent(const XmlNode* node, const ContentFrame& frame, XmlOutput* output) {
  if (frame.position < frame.length &&
      !Write(output, node->text + frame.position, ContentMode(node))) {
    return false;
  }
  if (node->kind != ElementNode) return true;
  return WriteLiteral(output, "</") && Write(output, node->name) && WriteLiteral(output, ">");
}

// A value stored as markup is written as it is.
EscapeMode ValueMode(const XmlNode* node, int index) {
  return IsMarkupValue(node, index) ? EscapeNone : EscapeAttribute;
}

bool WriteAttributes(const XmlNode* node, XmlOutput* output) {
  if (node->attributeCount <= 0 || !node->attributes) return true;
  for (int i = 0; i < node->attributeCount; ++i) {
    if (!WriteLiteral(output, " ") || !Write(output, node->attributes[2 * i]) ||
        !WriteLiteral(output, "=\"") ||
        !Write(output, node->attributes[2 * i + 1], ValueMode(node, i)) ||
        !WriteLiteral(output, "\"")) {
      return false;
    }
  }
  return true;
}

enum class Opened { Leaf, Content, Failed };

// Writes what comes before a node's content: all of a leaf, or the start of
// a node whose content sequence follows.
Opened WriteStart(const XmlNode* node, XmlOutput* output) {
  bool ok = true;
  switch (node->kind) {
    case DocumentNode:
    case DoctypeNode:
      return Opened::Content;
    case ElementNode:
      ok = WriteLiteral(output, "<") && Write(output, node->name) && WriteAttributes(node, output);
      if (!ok) return Opened::Failed;
      if (!node->firstChild && (!node->text || !*node->text)) {
        return WriteLiteral(output, "/>") ? Opened::Leaf : Opened::Failed;
      }
      return WriteLiteral(output, ">") ? Opened::Content : Opened::Failed;
    case CommentNode:
      ok = WriteLiteral(output, "<!--") && Write(output, node->text) && WriteLiteral(output, "-->");
      break;
    case CDataNode:
      ok = WriteLiteral(output, "<![CDATA[") && Write(output, node->text) &&
           WriteLiteral(output, "]]>");
      break;
    case InstructionNode:
      ok = WriteLiteral(output, "<?") && Write(output, node->name) && WriteLiteral(output, " ") &&
           Write(output, node->text) && WriteLiteral(output, "?>");
      break;
  }
  return ok ? Opened::Leaf : Opened::Failed;
}

// The node writer. It walks the subtree depth first along the tree's own
// links (down `firstChild`, across `nextSibling`, up `parent`); only the
// write position of each open node's text is kept, on a heap stack.
int WriteNode(const XmlNode* top, XmlOutput* output) {
  FrameStack frames;
  const XmlNode* node = top;
  for (;;) {
    Opened opened = WriteStart(node, output);
    if (opened == Opened::Failed) return 0;
    if (opened == Opened::Content) {
      if (!frames.Push(node->text ? std::strlen(node->text) : 0)) return 0;
      if (node->firstChild) {
        if (!WritePrecedingText(node, node->firstChild, frames.Top(), output)) return 0;
        node = node->firstChild;
        continue;
      }
      if (!FinishContent(node, frames.Top(), output)) return 0;
      frames.Pop();
    }
    // The node is complete: go on with its next sibling, or finish parents.
    for (;;) {
      if (node == top) return 1;
      const XmlNode* parent = node->parent;
      if (node->nextSibling) {
        node = node->nextSibling;
        if (!WritePrecedingText(parent, node, frames.Top(), output)) return 0;
        break;
      }
      node = parent;
      if (!FinishContent(node, frames.Top(), output)) return 0;
      frames.Pop();
    }
  }
}

}  // namespace

const char* AttributeEntity(unsigned char c) { return kEscapes.entity[EscapeAttribute][c]; }

// --- unit writers -----------------------------------------------------------------

int ByteWriter(const char* text, std::int32_t maximum, EscapeMode mode, XmlOutput* output) {
  if (!text) return 1;
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  std::size_t n = LengthToWrite(text, maximum);
  for (std::size_t i = 0; i < n;) {
    std::size_t run = PlainRun(s, i, n, mode, false);
    if (!PutBytes(output, s + i, run)) return 0;
    i += run;
    if (i < n) {
      if (!PutUnit(output, kEscapes.entity[mode][s[i]], kEscapes.length[mode][s[i]])) return 0;
      ++i;
    }
  }
  return 1;
}

int Utf8Writer(const char* text, std::int32_t maximum, EscapeMode mode, XmlOutput* output) {
  if (!text) return 1;
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  std::size_t n = LengthToWrite(text, maximum);
  for (std::size_t i = 0; i < n;) {
    std::size_t run = PlainRun(s, i, n, mode, true);
    if (!PutBytes(output, s + i, run)) return 0;
    i += run;
    if (i < n) {
      unsigned char c = s[i];
      if (c >= 0x80) {
        const char pair[2] = {static_cast<char>(0xC0 + (c >> 6)),
                              static_cast<char>(0x80 + (c & 0x3F))};
        if (!PutUnit(output, pair, 2)) return 0;
      } else if (!PutUnit(output, kEscapes.entity[mode][c], kEscapes.length[mode][c])) {
        return 0;
      }
      ++i;
    }
  }
  return 1;
}

int Utf16Writer(const char* text, std::int32_t maximum, EscapeMode mode, XmlOutput* output) {
  if (!text) return 1;
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  std::size_t n = LengthToWrite(text, maximum);
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char c = s[i];
    if (const char* entity = kEscapes.entity[mode][c]) {
      char units[12];
      int length = kEscapes.length[mode][c];
      for (int k = 0; k < length; ++k) {
        units[2 * k] = entity[k];
        units[2 * k + 1] = 0;
      }
      if (!PutUnit(output, units, 2 * length)) return 0;
    } else {
      if (output->room < 2 && !output->flush(output)) return 0;
      output->cursor[0] = static_cast<char>(c);
      output->cursor[1] = 0;
      output->cursor += 2;
      output->room -= 2;
    }
  }
  return 1;
}

int WriteXmlDocument(const XmlDocument* document, XmlOutput* output, int encoding,
                     std::uint32_t flags) {
  const char* label;
  if (encoding == Unicode) {
    output->writeText = Utf16Writer;
    label = "UTF-16";
  } else if (encoding == Utf8) {
    output->writeText = Utf8Writer;
    label = "UTF-8";
  } else {
    output->writeText = ByteWriter;
    // A tree that holds a file's own bytes keeps the file's label; any other
    // 8-bit text is the characters 0-255.
    label = !document->keepsFileBytes    ? "ISO-8859-1"
            : document->declaredEncoding ? document->declaredEncoding
                                         : "UTF-8";
  }
  if (flags & WithByteOrderMark) {
    if (encoding == Unicode && !PutUnit(output, "\xFF\xFE", 2)) return 0;
    if (encoding == Utf8 && !PutUnit(output, "\xEF\xBB\xBF", 3)) return 0;
  }
  if (!(flags & WithoutDeclaration)) {
    const char* standalone = document->standalone == 0   ? " standalone=\"no\""
                             : document->standalone == 1 ? " standalone=\"yes\""
                                                         : nullptr;
    if (!WriteLiteral(output, "<?xml version=\"1.0\" encoding=\"") || !Write(output, label) ||
        !WriteLiteral(output, "\"") || !Write(output, standalone) || !WriteLiteral(output, "?>"))
      return 0;
  }
  return WriteNode(document->root, output);
}

std::int32_t SaveXmlDocument(ObjectNumber number, const char* path, std::uint32_t flags) {
  if (!path || !*path) return 0;
  XmlDocument* document = LookupObject(XmlDocumentTable(), number);
  if (!document) return 0;
  // The new content goes to a file beside the target, which takes the
  // target's place only once all of it is written and flushed.
  FileReplacement replacement;
  if (!BeginReplacement(&replacement, path)) return 0;
  int result = 0;
  if (auto* buffer = static_cast<char*>(Sys().HeapAlloc(kOutputBufferSize, false))) {
    SaveOutput output{{buffer, kOutputBufferSize, nullptr, FlushBuffer, buffer, 0}, &replacement};
    result = WriteXmlDocument(document, &output, document->encoding, flags);
    if (result && output.room < kOutputBufferSize) result = output.flush(&output);
    Sys().HeapFree(buffer);
  }
  if (!result) {
    AbandonReplacement(&replacement);
    return 0;
  }
  return CommitReplacement(&replacement) ? 1 : 0;
}

}  // namespace qg
