// The XML library's operations as the launcher uses them. The document model
// itself is in xml/xml_document.h.
#pragma once

#include <cstdint>

#include "files/object_table.h"

namespace qg {

struct XmlNode;

enum XmlSaveFlags : std::uint32_t {
  WithByteOrderMark = 1,
  WithoutDeclaration = 2,
};

// Creates the document table and the node pool; run once at program start.
void InitXmlLibrary();
// Releases every document, then the node pool; run once at program end.
void ReleaseXmlLibrary();
// Loads `path` as document `number` (-1: the library picks the number) in a
// StringFormat, or -1 to let the file decide. The document's handle, or 0 when
// no document was made; a made document may still carry a parse error.
std::intptr_t LoadXmlDocument(ObjectNumber number, const char* path, int format);
// 0 when the document parsed without error (or the number names none).
std::int32_t GetParseStatus(ObjectNumber number);
// Why a load did not give a complete tree. The parse status cannot tell an
// input that could not be read from memory running out (both are 1).
enum class XmlLoadProblem { None, Unreadable, NotWellFormed, OutOfMemory };
// Why the last load under `number` did not give a complete tree; None when
// it did, or when no document has that number. After Unreadable the
// platform's last error is the failing read's.
XmlLoadProblem GetLoadProblem(ObjectNumber number);
// The document element, null when there is none.
XmlNode* GetMainNode(ObjectNumber number);
// The node at `path` from `node`, or null.
XmlNode* FindNodeByPath(XmlNode* node, const char* path);
// Replaces or appends an attribute of an element, as plain 8-bit text. When
// memory for it cannot be had nothing changes and the platform's last error
// is ERROR_NOT_ENOUGH_MEMORY_CODE.
void SetNodeAttribute(XmlNode* node, const char* name, const char* value);
// SetNodeAttribute for a value given in the form it takes in the file:
// `markup` is written as it is, unescaped, so it must be well-formed attribute
// content (character data with its references, no '<', '"' or lone '&'). Any
// attribute of an element can hold markup. False, with nothing changed and
// the platform's last error set to the cause (ERROR_NOT_ENOUGH_MEMORY_CODE
// when memory for it cannot be had, ERROR_INVALID_PARAMETER_CODE for a node
// that is not an element).
bool SetNodeAttributeMarkup(XmlNode* node, const char* name, const char* markup);
// Replaces the text of an element that has no children with `markup`, given
// in the form it takes in the file and written as it is: character data with
// its references, '&', '<' and '>' escaped ("&amp;"), line ends as the file
// has them. Empty markup leaves the element empty ("<a/>"). False, with
// nothing changed and the platform's last error set to the cause
// (ERROR_NOT_ENOUGH_MEMORY_CODE when memory for it cannot be had,
// ERROR_INVALID_PARAMETER_CODE for a node that is not an element or has
// children).
bool SetNodeTextMarkup(XmlNode* node, const char* markup);
// The value of an element's attribute as the tree stores it, or null when it
// has none of that name: plain 8-bit text, or markup (as set by
// SetNodeAttributeMarkup, or as loading stores a value that holds a character
// the tree cannot keep; see xml_document.h). IsNodeAttributeMarkup tells
// which; CodePointsFromStored (attribute_markup.h) gives its characters.
const char* GetNodeAttribute(const XmlNode* node, const char* name);
bool IsNodeAttributeMarkup(const XmlNode* node, const char* name);
// Writes the document to `path`; 1 when all of it was written.
std::int32_t SaveXmlDocument(ObjectNumber number, const char* path, std::uint32_t flags = 0);
// Releases a document; -1 releases every one.
void FreeXmlDocument(ObjectNumber number);

}  // namespace qg
