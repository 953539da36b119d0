#include "launcher/element_text.h"

#include <cstdint>

#include "system/platform.h"
#include "xml/attribute_markup.h"
#include "xml/xml_document.h"

namespace qg {

bool ElementTextCharacters(const XmlNode* node, std::u32string* text) {
  if (!node || node->kind != ElementNode || node->firstChild || !node->text || !*node->text)
    return false;
  for (const char* p = node->text; *p; ++p) {
    if (*p == '\r' || *p == '\n') return false;
  }
  // The text read as the value of a one-attribute element of the same
  // document, so that it is decoded by the very rule values are.
  char empty[] = "";
  char* pair[2] = {empty, node->text};
  std::uint32_t marks[2] = {1, (node->flags & kMarkupText) ? 1u : 0u};
  XmlNode reading{};
  reading.kind = ElementNode;
  reading.documentNumber = node->documentNumber;
  reading.attributes = pair;
  reading.attributeCount = 1;
  reading.markupMarks = marks;
  *text = AttributeCharacters(&reading, 0);
  return true;
}

bool SetElementTextCharacters(XmlNode* node, std::u32string_view codes) {
  bool markup = false;
  std::string stored = StoredFromCodePoints(node, codes, &markup);
  if (markup) {
    stored.clear();
    for (char32_t code : codes) {
      if (code == U'&') {
        stored += "&amp;";
      } else if (code == U'<') {
        stored += "&lt;";
      } else if (code == U'>') {
        stored += "&gt;";
      } else if (code < 0x80) {
        stored += static_cast<char>(code);
      } else {
        char spelled[kLongestReference];
        stored.append(spelled, PutMarkupCharacter(code, true, spelled));
      }
    }
  }
  char* copy = CopyIndividual(stored.c_str());
  if (!copy) {
    Sys().SetLastError(ERROR_NOT_ENOUGH_MEMORY_CODE);
    return false;
  }
  if (IsIndividual(node->text)) Sys().HeapFree(node->text);
  node->text = copy;
  node->textLength = static_cast<std::uint32_t>(stored.size());
  node->flags =
      static_cast<std::uint16_t>(markup ? node->flags | kMarkupText : node->flags & ~kMarkupText);
  return true;
}

}  // namespace qg
