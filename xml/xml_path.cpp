// Finding a node by a slash-separated path, and setting an element's
// attribute or text.
#include <cstring>

#include "system/platform.h"
#include "xml/xml_document.h"
#include "xml/xml_library.h"

namespace qg {

namespace {

// What a step matches: any child, one kind, or an element of a given name.
struct Step {
  const char* text;
  std::size_t length;
  enum { Any, Kind, Element } match;
  XmlNodeKind kind;
};

Step ClassifyStep(const char* text, std::size_t length) {
  Step step{text, length, Step::Element, ElementNode};
  auto is = [&](const char* word) {
    return std::strlen(word) == length && std::memcmp(word, text, length) == 0;
  };
  if (is("*")) {
    step.match = Step::Any;
  } else if (is("#comment")) {
    step = {text, length, Step::Kind, CommentNode};
  } else if (is("#cdata")) {
    step = {text, length, Step::Kind, CDataNode};
  } else if (is("#dtd")) {
    step = {text, length, Step::Kind, DoctypeNode};
  } else if (is("#instruction")) {
    step = {text, length, Step::Kind, InstructionNode};
  }
  return step;
}

bool Matches(const Step& step, const XmlNode* node) {
  switch (step.match) {
    case Step::Any:
      return true;
    case Step::Kind:
      return node->kind == step.kind;
    case Step::Element:
      return node->kind == ElementNode && node->name && std::strlen(node->name) == step.length &&
             std::memcmp(node->name, step.text, step.length) == 0;
  }
  return false;
}

// Grows the attribute array of an element that has no spare pair by four
// pairs, leaving three of them spare after the one about to be used.
bool GrowAttributes(XmlNode* node) {
  std::size_t pairs = static_cast<std::size_t>(node->attributeCount) + 4;
  std::size_t size = pairs * 2 * sizeof(char*);
  char** grown;
  if (node->attributes && !(node->flags & kPooledAttributes)) {
    grown = static_cast<char**>(Sys().HeapReAlloc(node->attributes, size, true));
  } else {
    grown = static_cast<char**>(Sys().HeapAlloc(size, true));
    if (grown && node->attributes) {
      std::memcpy(grown, node->attributes, 2 * sizeof(char*) * node->attributeCount);
    }
  }
  if (!grown) return false;
  node->attributes = grown;
  node->flags &= static_cast<std::uint16_t>(~kPooledAttributes);
  node->spareSlots = 4;  // one of them is taken by the caller
  return true;
}

}  // namespace

XmlNode* FindNodeByPath(XmlNode* node, const char* path) {
  if (!path || !*path) return node;
  const char* p = path;
  XmlNode* current = node;
  if (*p == '/') {
    if (!node) return nullptr;
    XmlDocument* document = LookupObject(XmlDocumentTable(), node->documentNumber);
    if (!document) return nullptr;
    current = document->root;
    ++p;
  }
  while (*p) {
    if (!current) return nullptr;
    const char* stepStart = p;
    while (*p && *p != '/' && *p != '[') ++p;
    Step step = ClassifyStep(stepStart, static_cast<std::size_t>(p - stepStart));
    std::uint64_t index = 0;
    if (*p == '[') {
      ++p;
      for (; *p && *p != ']'; ++p) {
        if (*p >= '0' && *p <= '9' && index < (UINT64_MAX - 9) / 10) {
          index = index * 10 + static_cast<unsigned>(*p - '0');
        }
      }
      if (*p == ']') ++p;
    }
    if (index == 0) index = 1;
    if (*p == '/') ++p;
    XmlNode* child = current->firstChild;
    for (; child; child = child->nextSibling) {
      if (Matches(step, child) && --index == 0) break;
    }
    current = child;
    if (!current) return nullptr;
  }
  return current;
}

namespace {

// Index of the attribute `name` (null: the empty name), or -1.
int FindAttribute(const XmlNode* node, const char* name) {
  if (!node->attributes) return -1;
  if (!name) name = "";
  for (int i = 0; i < node->attributeCount; ++i)
    if (std::strcmp(node->attributes[2 * i], name) == 0) return i;
  return -1;
}

// SetNodeAttribute's work; the index of the attribute that now holds the
// value, or -1 when memory for it could not be had.
int StoreAttribute(XmlNode* node, const char* name, const char* value) {
  if (!name) name = "";
  int index = FindAttribute(node, name);
  if (index >= 0) {
    char*& stored = node->attributes[2 * index + 1];
    // Without memory for the copy the old value stays.
    char* copy = CopyIndividual(value);
    if (!copy) return -1;
    if (IsIndividual(stored)) Sys().HeapFree(stored);
    stored = copy;
    return index;
  }
  if (node->attributeCount == INT16_MAX) return -1;
  if (node->spareSlots <= 0 && !GrowAttributes(node)) return -1;
  --node->spareSlots;
  char* nameCopy = CopyIndividual(name);
  char* valueCopy = nameCopy ? CopyIndividual(value) : nullptr;
  if (!valueCopy) {
    // The pair stays spare; the list keeps only complete pairs.
    if (nameCopy) Sys().HeapFree(nameCopy);
    ++node->spareSlots;
    return -1;
  }
  node->attributes[2 * node->attributeCount] = nameCopy;
  node->attributes[2 * node->attributeCount + 1] = valueCopy;
  return node->attributeCount++;
}

}  // namespace

void SetNodeAttribute(XmlNode* node, const char* name, const char* value) {
  if (!node || node->kind != ElementNode) return;
  int index = StoreAttribute(node, name, value);
  if (index < 0) {
    Sys().SetLastError(ERROR_NOT_ENOUGH_MEMORY_CODE);
    return;
  }
  MarkMarkupValue(node, index, false);  // clearing a mark needs no memory
}

bool SetNodeAttributeMarkup(XmlNode* node, const char* name, const char* markup) {
  if (!node || node->kind != ElementNode) {
    Sys().SetLastError(ERROR_INVALID_PARAMETER_CODE);
    return false;
  }
  int existing = FindAttribute(node, name);
  bool wasMarkup = existing >= 0 && IsMarkupValue(node, existing);
  // The mark first, so that a value never stands unmarked as markup or the
  // other way round: without memory for either nothing changes.
  int index = existing >= 0 ? existing : node->attributeCount;
  if (!MarkMarkupValue(node, index, true) || StoreAttribute(node, name, markup) < 0) {
    MarkMarkupValue(node, index, wasMarkup);
    Sys().SetLastError(ERROR_NOT_ENOUGH_MEMORY_CODE);
    return false;
  }
  return true;
}

bool StoreNodeText(XmlNode* node, const char* text, bool markup) {
  if (!node || node->kind != ElementNode || node->firstChild) {
    Sys().SetLastError(ERROR_INVALID_PARAMETER_CODE);
    return false;
  }
  char* copy = CopyIndividual(text);
  if (!copy) {
    Sys().SetLastError(ERROR_NOT_ENOUGH_MEMORY_CODE);
    return false;
  }
  if (IsIndividual(node->text)) Sys().HeapFree(node->text);
  node->text = copy;
  node->textLength = static_cast<std::uint32_t>(std::strlen(copy));
  node->flags =
      static_cast<std::uint16_t>(markup ? node->flags | kMarkupText : node->flags & ~kMarkupText);
  return true;
}

bool SetNodeTextMarkup(XmlNode* node, const char* markup) {
  return StoreNodeText(node, markup, true);
}

const char* GetNodeAttribute(const XmlNode* node, const char* name) {
  if (!node || node->kind != ElementNode) return nullptr;
  int index = FindAttribute(node, name);
  return index >= 0 ? node->attributes[2 * index + 1] : nullptr;
}

bool IsNodeAttributeMarkup(const XmlNode* node, const char* name) {
  if (!node || node->kind != ElementNode) return false;
  int index = FindAttribute(node, name);
  return index >= 0 && IsMarkupValue(node, index);
}

}  // namespace qg
