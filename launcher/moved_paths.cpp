#include "launcher/moved_paths.h"

#include <cstring>

#include "launcher/path_key.h"
#include "system/platform.h"
#include "xml/attribute_markup.h"
#include "xml/xml_document.h"
#include "xml/xml_library.h"

namespace qg {

namespace {

template <class Unit>
using Text = std::basic_string_view<Unit>;

template <class Unit>
bool StartsWith(Text<Unit> text, Text<Unit> prefix, bool ignoreAsciiCase) {
  return PathKey::StartsWithText(text, prefix, ignoreAsciiCase);
}

// Where a path in a command line ends: a blank, a tab or a double quote.
template <class Unit>
bool EndsPath(Unit c) {
  return c == Unit(' ') || c == Unit('\t') || c == Unit('"');
}

// Whether `text` is `path`, or in a command line (`command`) starts with
// it where the path ends.
template <class Unit>
bool IsPath(Text<Unit> text, Text<Unit> path, bool command, bool fold) {
  if (!StartsWith(text, path, fold)) return false;
  return text.size() == path.size() || (command && EndsPath(text[path.size()]));
}

// The root without its trailing separator; empty for a root that is nothing
// but a drive or the separator ("E:\", "/"), whose bare form names another
// place or none.
template <class Unit>
Text<Unit> Bare(Text<Unit> root) {
  if (root.empty()) return root;
  Text<Unit> bare = root.substr(0, root.size() - 1);
  if (bare.empty() || bare.back() == Unit(':')) return {};
  return bare;
}

// How `value` starts inside the old root: true, with the length of the old
// root's text there and the new root's text that takes its place, as
// MovePathValue tells; in a command line (`command`) the bare forms may be
// followed by the rest of the line.
template <class Unit>
bool MatchOldRoot(Text<Unit> value, const BasicRootMove<Unit>& move, bool command,
                  std::size_t* oldLength, Text<Unit>* newText) {
  if (!move.Applies() || move.newRoot.empty()) return false;
  const bool fold = move.ignoreAsciiCase;
  const Text<Unit> oldRoot = move.oldRoot, newRoot = move.newRoot;
  // Already inside the new root, which may itself lie inside the old one.
  Text<Unit> newBare = Bare(newRoot);
  if (StartsWith(value, newRoot, fold) ||
      (!newBare.empty() && IsPath(value, newBare, command, fold)))
    return false;
  if (StartsWith(value, oldRoot, fold)) {
    *oldLength = oldRoot.size();
    *newText = newRoot;
    return true;
  }
  Text<Unit> oldBare = Bare(oldRoot);
  if (!oldBare.empty() && IsPath(value, oldBare, command, fold)) {
    // A drive root has no bare form of its own: it keeps its separator.
    *oldLength = oldBare.size();
    *newText = newBare.empty() ? newRoot : newBare;
    return true;
  }
  return false;
}

template <class Unit>
bool MoveValue(Text<Unit> value, const BasicRootMove<Unit>& move, std::basic_string<Unit>* moved) {
  std::size_t oldLength = 0;
  Text<Unit> newText;
  if (!MatchOldRoot(value, move, false, &oldLength, &newText)) return false;
  *moved = newText;
  moved->append(value.substr(oldLength));
  return true;
}

}  // namespace

bool MovePathValue(std::u32string_view value, const RootMove& move, std::u32string* moved) {
  return MoveValue(value, move, moved);
}

bool MovePathValue(std::string_view value, const ByteRootMove& move, std::string* moved) {
  return MoveValue(value, move, moved);
}

bool MovePathsInText(std::u32string_view text, const RootMove& move, bool command,
                     std::u32string* moved) {
  std::u32string out;
  std::size_t copied = 0;   // text before this is in `out`
  bool quoted = false;      // `at` lies inside double quotes
  std::size_t scanned = 0;  // the quotes before this are counted in `quoted`
  for (std::size_t at = 0; at < text.size(); ++at) {
    for (; scanned < at; ++scanned) quoted = quoted != (text[scanned] == U'"');
    bool starts =
        at == 0 ||
        (command && (text[at - 1] == U'"' || text[at - 1] == U' ' || text[at - 1] == U'\t'));
    std::size_t oldLength = 0;
    std::u32string_view newText;
    if (!starts || !MatchOldRoot<char32_t>(text.substr(at), move, command, &oldLength, &newText))
      continue;
    out.append(text.substr(copied, at - copied));
    copied = at + oldLength;
    std::size_t end = copied;
    while (command && !quoted && end < text.size() && !EndsPath<char32_t>(text[end])) ++end;
    // The rest of the path, up to `end`, holds no blank.
    if (command && !quoted && newText.find_first_of(U" \t") != std::u32string_view::npos) {
      // The whole path between quotes, but for its trailing backslashes.
      std::u32string path(newText);
      path.append(text.substr(copied, end - copied));
      std::size_t kept = path.find_last_not_of(U'\\') + 1;  // 0 for backslashes only
      out += U'"';
      out.append(path, 0, kept);
      out += U'"';
      out.append(path, kept);
      copied = end;
    } else {
      out.append(newText);
    }
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

// Whether the element's text is a command line: a Run command, or the
// interpreter setting.
bool IsCommandLine(const XmlNode* node) {
  if (!node->name) return false;
  if (std::strcmp(node->name, kCommandElement) == 0) return true;
  if (std::strcmp(node->name, kSettingElement) != 0) return false;
  const char* name = GetNodeAttribute(node, "name");
  return name && std::strcmp(name, kInterpreterSetting) == 0;
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
    bool command = IsCommandLine(node);
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
