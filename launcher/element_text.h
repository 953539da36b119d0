// The text of an element without children, in characters: what the
// editor's recent files and Run commands hold. A narrow stand-in for the XML
// library's own text accessors, read and stored by the library's rules for
// attribute values.
#pragma once

#include <string>
#include <string_view>

namespace qg {

struct XmlNode;

// The characters of the text of `node`, an element without children, as a
// parser that honours the file's declaration reads them (as
// AttributeCharacters reads a value). False for another node, an empty
// text, and a text holding a line end, which this leaves alone.
bool ElementTextCharacters(const XmlNode* node, std::u32string* text);

// Sets the text of an element without children to the characters `codes`
// (no line end among them): plain text when the tree keeps every one as a
// byte, else markup with a reference for each one beyond ASCII and '&', '<'
// and '>' escaped; quotes stay as they are. False, with nothing changed and
// the platform's last error set, when memory for it cannot be had.
bool SetElementTextCharacters(XmlNode* node, std::u32string_view codes);

}  // namespace qg
