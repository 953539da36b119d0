// Character references rewritten on their way to the parser, so that the
// loader can tell from the characters it is given how each one was written.
//
// libexpat rejects a reference to a UTF-16 surrogate, and the editor writes
// every character beyond U+FFFF as a pair of them ("&#xD83C;&#xDF89;"). And
// in a file read as 8-bit text, a reference to a character 0x80-0xFF gives
// the parser the same character as the file's own byte of that code. So,
// outside comments, CDATA sections, processing instructions and the
// doctype, each reference is handed to the parser as one that names what
// the file meant and how it said it:
//
// - a pair (hex or decimal, any case) becomes the reference to the one
//   character it stands for;
// - a reference to a surrogate outside such a pair becomes one to a mark;
// - when marking (a tree of a file's own bytes), a reference to 0x80-0xFF
//   becomes one to a mark, and a pair is preceded by the pair mark (a
//   single reference to one of the marks themselves by the single-reference
//   mark), so that a character beyond U+FFFF the parser gives without a
//   mark came as one reference: in the content, or from the doctype (an
//   attribute default, an entity's text), which is not rewritten.
//
// Marks are code points of plane 16's private use area, U+10F000 on, which
// bytes read as 8-bit text never give. Without marking (a file the parser
// decodes itself) a lone surrogate becomes U+FFFD, and single references
// stay as they are.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qg {

inline constexpr char32_t kSingleMark = 0x10F000;  // the next character came as one reference
inline constexpr char32_t kPairMark = 0x10F001;    // the next character came as a pair
inline constexpr char32_t kLatinMarks = 0x10F000;  // + c: a reference to c, 0x80-0xFF
inline constexpr char32_t kLoneMarks = 0x10F800;   // + (s - 0xD800): a lone surrogate s

// How a character the parser gave was written in the file.
enum class Spelling : std::uint8_t {
  Own,     // as itself (the file's byte, or a reference below 0x80)
  Single,  // as one character reference (or from the doctype, above U+00FF)
  Pair,    // as the pair of references to its surrogates
  Lone,    // a reference to a surrogate outside a pair; `code` is its number
};

// Turns the characters the parser gave back into what the file wrote; keeps
// the state a mark carries to the character after it (also from one piece
// of character data to the next).
class MarkReader {
 public:
  // False for a mark that only says how the next character was written;
  // else `*code` and `*spelling` describe the character.
  bool Read(char32_t parsed, char32_t* code, Spelling* spelling);

 private:
  char32_t pending_ = 0;
};

// Rewrites the file's bytes chunk by chunk into a buffer of the rewriter's
// own. An incomplete reference or tag start at the end of a chunk is held
// back and handed on with the next one. All memory comes from the platform
// heap.
class ReferenceRewriter {
 public:
  ReferenceRewriter() = default;
  ReferenceRewriter(const ReferenceRewriter&) = delete;
  ReferenceRewriter& operator=(const ReferenceRewriter&) = delete;
  ~ReferenceRewriter();

  // Room for the next chunk of at most `size` bytes, after what was held
  // back; null when memory runs out.
  char* ChunkBuffer(std::size_t size);
  // Rewrites what was held back and the `size` bytes just put into
  // ChunkBuffer (`last` for the file's last chunk). False when memory runs
  // out. Output() and OutputSize() then hold what goes to the parser.
  bool Rewrite(std::size_t size, bool last, bool marking);
  const char* Output() const { return changed_ ? out_ : in_; }
  std::size_t OutputSize() const { return outSize_; }

 private:
  enum class State : std::uint8_t { Content, Comment, CData, Instruction, Doctype };
  std::size_t Scan(const char* data, std::size_t n, bool last, bool marking);
  std::size_t ScanDoctype(const char* data, std::size_t i, std::size_t n);
  void Copy(const char* data, std::size_t from, std::size_t to);
  void PutReference(char32_t code);

  char* in_ = nullptr;  // held-back bytes, then the chunk
  std::size_t inCapacity_ = 0;
  std::size_t held_ = 0;
  std::size_t kept_ = 0;  // bytes at the front that went to the output
  bool changed_ = false;  // whether the output differs from the input
  char* out_ = nullptr;
  std::size_t outCapacity_ = 0;
  std::size_t outSize_ = 0;
  State state_ = State::Content;
  // Inside the doctype: the quote of an open literal, whether the internal
  // subset is open and a comment in it.
  char quote_ = 0;
  bool inSubset_ = false;
  bool inDoctypeComment_ = false;
};

}  // namespace qg
