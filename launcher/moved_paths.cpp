#include "launcher/moved_paths.h"

#include "system/platform.h"
#include "xml/attribute_markup.h"
#include "xml/xml_document.h"

namespace qg {

namespace {

char32_t Folded(char32_t c, bool ignoreAsciiCase) {
  return ignoreAsciiCase && c >= U'A' && c <= U'Z' ? c - U'A' + U'a' : c;
}

bool StartsWith(std::u32string_view text, std::u32string_view prefix, bool ignoreAsciiCase) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (Folded(text[i], ignoreAsciiCase) != Folded(prefix[i], ignoreAsciiCase)) return false;
  }
  return true;
}

bool Same(std::u32string_view a, std::u32string_view b, bool ignoreAsciiCase) {
  return a.size() == b.size() && StartsWith(a, b, ignoreAsciiCase);
}

// The root without its trailing separator; empty for a root that is nothing
// but a drive or the separator ("E:\", "/"), whose bare form names another
// place or none.
std::u32string_view Bare(std::u32string_view root) {
  if (root.empty()) return root;
  std::u32string_view bare = root.substr(0, root.size() - 1);
  if (bare.empty() || bare.back() == U':') return {};
  return bare;
}

}  // namespace

bool RootMove::Applies() const { return !oldRoot.empty() && oldRoot != U"/"; }

bool MovePathValue(std::u32string_view value, const RootMove& move, std::u32string* moved) {
  if (!move.Applies() || move.newRoot.empty()) return false;
  const bool fold = move.ignoreAsciiCase;
  // Already inside the new root, which may itself lie inside the old one.
  std::u32string_view newBare = Bare(move.newRoot);
  if (StartsWith(value, move.newRoot, fold) || (!newBare.empty() && Same(value, newBare, fold)))
    return false;
  if (StartsWith(value, move.oldRoot, fold)) {
    *moved = move.newRoot;
    moved->append(value.substr(move.oldRoot.size()));
    return true;
  }
  std::u32string_view oldBare = Bare(move.oldRoot);
  if (!oldBare.empty() && Same(value, oldBare, fold)) {
    // A drive root has no bare form of its own: it keeps its separator.
    *moved = newBare.empty() ? move.newRoot : std::u32string(newBare);
    return true;
  }
  return false;
}

namespace {

// The node after `node` in document order, staying below `top`; null at
// the end. A walk without recursion, for documents nested however deep.
XmlNode* NextNode(XmlNode* node, const XmlNode* top) {
  if (node->firstChild) return node->firstChild;
  for (; node && node != top; node = node->parent) {
    if (node->nextSibling) return node->nextSibling;
  }
  return nullptr;
}

}  // namespace

int MovePathValues(XmlNode* top, const RootMove& move, std::uint32_t* error) {
  if (!move.Applies()) return 0;
  int changed = 0;
  std::u32string moved;
  for (XmlNode* node = top; node; node = NextNode(node, top)) {
    if (node->kind != ElementNode || !node->attributes) continue;
    for (int i = 0; i < node->attributeCount; ++i) {
      if (!MovePathValue(AttributeCharacters(node, i), move, &moved)) continue;
      if (!SetNodeAttributeCharacters(node, node->attributes[2 * i], moved)) {
        *error = Sys().GetLastError();
        return -1;
      }
      ++changed;
    }
  }
  return changed;
}

}  // namespace qg
