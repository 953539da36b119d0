#include "launcher/moved_paths.h"

#include <cstring>

#include "launcher/path_key.h"
#include "system/platform.h"
#include "xml/attribute_markup.h"
#include "xml/xml_document.h"

namespace qg {

namespace {

bool StartsWith(std::u32string_view text, std::u32string_view prefix, bool ignoreAsciiCase) {
  return PathKey::StartsWithText(text, prefix, ignoreAsciiCase);
}

bool Same(std::u32string_view a, std::u32string_view b, bool ignoreAsciiCase) {
  return PathKey::SameText(a, b, ignoreAsciiCase);
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

// How `value` starts inside the old root: true, with the length of the old
// root's text there and the new root's text that takes its place, as
// MovePathValue tells.
bool MatchOldRoot(std::u32string_view value, const RootMove& move, std::size_t* oldLength,
                  std::u32string_view* newText) {
  if (!move.Applies() || move.newRoot.empty()) return false;
  const bool fold = move.ignoreAsciiCase;
  // Already inside the new root, which may itself lie inside the old one.
  std::u32string_view newBare = Bare(move.newRoot);
  if (StartsWith(value, move.newRoot, fold) || (!newBare.empty() && Same(value, newBare, fold)))
    return false;
  if (StartsWith(value, move.oldRoot, fold)) {
    *oldLength = move.oldRoot.size();
    *newText = move.newRoot;
    return true;
  }
  std::u32string_view oldBare = Bare(move.oldRoot);
  if (!oldBare.empty() && Same(value, oldBare, fold)) {
    // A drive root has no bare form of its own: it keeps its separator.
    *oldLength = oldBare.size();
    *newText = newBare.empty() ? std::u32string_view(move.newRoot) : newBare;
    return true;
  }
  return false;
}

}  // namespace

bool RootMove::Applies() const { return !oldRoot.empty() && oldRoot != U"/"; }

bool MovePathValue(std::u32string_view value, const RootMove& move, std::u32string* moved) {
  std::size_t oldLength = 0;
  std::u32string_view newText;
  if (!MatchOldRoot(value, move, &oldLength, &newText)) return false;
  *moved = newText;
  moved->append(value.substr(oldLength));
  return true;
}

bool MovePathsInText(std::u32string_view text, const RootMove& move, bool command,
                     std::u32string* moved) {
  std::u32string out;
  std::size_t copied = 0;  // text before this is in `out`
  for (std::size_t at = 0; at < text.size(); ++at) {
    bool starts =
        at == 0 ||
        (command && (text[at - 1] == U'"' || text[at - 1] == U' ' || text[at - 1] == U'\t'));
    std::size_t oldLength = 0;
    std::u32string_view newText;
    if (!starts || !MatchOldRoot(text.substr(at), move, &oldLength, &newText)) continue;
    out.append(text.substr(copied, at - copied));
    out.append(newText);
    copied = at + oldLength;
    at = copied - 1;  // the next path may start right after the old root's text
  }
  if (copied == 0) return false;
  out.append(text.substr(copied));
  *moved = std::move(out);
  return true;
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

int MovePathTexts(XmlNode* top, const RootMove& move, std::uint32_t* error) {
  if (!move.Applies()) return 0;
  int changed = 0;
  std::u32string text, moved;
  for (XmlNode* node = top; node; node = NextNode(node, top)) {
    if (node->kind != ElementNode || node->firstChild || !node->text || !*node->text) continue;
    text = TextCharacters(node);
    if (text.find(U'\n') != std::u32string::npos) continue;
    bool command = node->name && std::strcmp(node->name, kCommandElement) == 0;
    if (!MovePathsInText(text, move, command, &moved)) continue;
    Sys().SetLastError(NO_ERROR_CODE);
    if (!SetNodeTextCharacters(node, moved)) {
      *error = Sys().GetLastError();
      return -1;
    }
    ++changed;
  }
  return changed;
}

}  // namespace qg
