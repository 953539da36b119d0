// Markup: a value or text as the file spells it, with character references
// for what 8-bit text cannot carry. The tree stores such strings for
// characters it cannot keep (see xml_document.h); the launcher writes the
// bundle folder that way.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "xml/references.h"

namespace qg {

struct XmlNode;

// The text with every character above U+007F written as a character
// reference in upper-case hex of at least four digits ("&#x041F;") and the
// ASCII characters escaped as the writer escapes attribute values ("&amp;").
// The text is decoded in the system's ANSI code page (GetACP); a text that
// does not decode keeps its bytes, escaped only where they are ASCII, which
// is what saving it as a plain value writes.
std::string AttributeMarkupFromNarrow(const char* text);

// The same for a UTF-16 text (a path the ANSI code page cannot hold). False,
// with `markup` empty, for a text holding a lone surrogate, which names no
// character and has no reference.
bool AttributeMarkupFromWide(std::u16string_view text, std::string* markup);

// The characters a stored value or text stands for, as Unicode code points.
// `markup` tells how it is stored (IsNodeAttributeMarkup, or the node's
// kMarkupText flag): markup has its character references and the five
// predefined entities decoded; every other byte, and every byte of plain
// text, is the character of that code (0-255). A reference to a high
// surrogate followed at once by one to a low surrogate gives the one
// character the pair stands for; a reference to a surrogate outside such a
// pair gives its number (D800-DFFF). An '&' that starts no reference is
// taken as itself. A null `stored` gives no characters.
std::u32string CodePointsFromStored(const char* stored, bool markup);

// The characters of an 8-bit text in the system's ANSI code page (a path,
// decoded as AttributeMarkupFromNarrow decodes it); a text that does not
// decode gives its bytes as the characters 0-255.
std::u32string CodePointsFromNarrow(const char* text);

// The characters of the value of `node`'s attribute number `index` as a
// parser that honours the file's declaration reads them: the stored form
// decoded as CodePointsFromStored does, except that in a tree of a file's own
// bytes labelled UTF-8 (or not labelled) those bytes are read as UTF-8.
std::u32string AttributeCharacters(const XmlNode* node, int index);

// Sets `node`'s attribute `name` (replaced or appended) to the characters
// `codes`, stored as StoredFromCodePoints chooses: the one way to write a
// value given in characters. False, with nothing changed and the platform's
// last error set to the cause, as SetNodeAttributeMarkup reports it.
bool SetNodeAttributeCharacters(XmlNode* node, const char* name, std::u32string_view codes);

// The characters of an element's text (all of it, the pieces between its
// children included) as a parser that honours the file's declaration reads
// them: decoded as AttributeCharacters decodes a value, with every line end
// the text keeps (CR LF, CR, LF) read as one LF. Nothing for another kind
// of node.
std::u32string TextCharacters(const XmlNode* node);

// Sets the text of an element without children to the characters `codes`:
// plain text when the tree keeps every one of them as a byte and none is a
// CR, else markup (references for what the tree cannot keep, "&#13;" for a
// CR, '&', '<' and '>' escaped). An LF is stored as the file's line end.
// False, with nothing changed and the platform's last error set to the
// cause, as SetNodeTextMarkup reports it.
bool SetNodeTextCharacters(XmlNode* node, std::u32string_view codes);

// What the tree of `node`'s document stores for the characters `codes` as an
// attribute value: plain 8-bit text, with `*markup` false, when the tree
// keeps every one of them (all ASCII in a tree of a file's own bytes, all up
// to U+00FF in any other); else markup with `*markup` true, in which every
// character above U+007F is a reference (one beyond U+FFFF as the pair of
// references to its surrogates, as the editor writes it). Store it with SetNodeAttribute or
// SetNodeAttributeMarkup accordingly.
std::string StoredFromCodePoints(const XmlNode* node, std::u32string_view codes, bool* markup);

// --- shared by the library's parts --------------------------------------------------

// The next character of a stored string at `*at` (before `end`), and `*at`
// moved past it.
char32_t NextStoredCharacter(const char** at, const char* end, bool markup);

// Puts into `out` (when not null) how a value's markup spells `code`: an
// ASCII character escaped as the writer escapes attribute values, one beyond
// U+FFFF as the references to its two UTF-16 surrogates, any other as a
// reference when `reference` is set, else as the byte of its code (only for
// codes up to 255). Returns the bytes, at most kLongestReference
// (xml/references.h).
std::size_t PutMarkupCharacter(char32_t code, bool reference, char* out);

}  // namespace qg
