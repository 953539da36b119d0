// The editor's own paths after the bundle has moved: the files of its
// session, its recent files, find folders and theme name places inside the
// bundle by their full path. Each value that names a place inside the old
// root is made to name the same place inside the new one.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qg {

struct XmlNode;

// A move of the bundle, in characters (not bytes). Both roots end with the
// path separator, as recorded roots do.
struct RootMove {
  std::u32string oldRoot;
  std::u32string newRoot;
  // Windows: paths that differ only in ASCII letter case are the same place.
  // Only ASCII is folded, so two different folders never match.
  bool ignoreAsciiCase = false;

  // Whether values are moved at all: an old root was recorded, and it is not
  // a bare "/" (every POSIX path lies below that).
  bool Applies() const;
};

// The place `value` names, moved: the new root in place of the old one at
// its start (the old root ending at its separator), or the new root without
// its separator for the old root without its own. False, and `moved`
// untouched, for a value outside the old root, one already inside the new
// root (so a second pass changes nothing), one that merely shares the old
// root's text, and the bare form of a drive root ("E:" for "E:\").
bool MovePathValue(std::u32string_view value, const RootMove& move, std::u32string* moved);

// The paths in a text of the editor's, moved as MovePathValue moves a
// value: the one at the start of the text and, in a command line
// (`command`), also each one that starts right after a double quote or a
// blank. False, and `moved` untouched, when none moved.
bool MovePathsInText(std::u32string_view text, const RootMove& move, bool command,
                     std::u32string* moved);

// Moves every attribute value of the elements from `top` down (its
// following siblings not included) as MovePathValue says; element text is
// MovePathTexts' business. A moved value is stored as the tree stores such characters
// (references for what it cannot keep). Returns the number of values
// changed, or -1 when one could not be stored, with `error` set to why;
// the values changed before it stay changed.
int MovePathValues(XmlNode* top, const RootMove& move, std::uint32_t* error);

// The name of the elements whose text is a command line (the editor's Run
// menu, in shortcuts.xml).
inline constexpr char kCommandElement[] = "Command";

// Moves the text of every element from `top` down that has no children, as
// MovePathsInText says: a command line when the element is a
// kCommandElement. A text holding a line end is left alone. Returns the
// number of texts changed, or -1 when one could not be stored, with `error`
// set to why; the texts changed before it stay changed.
int MovePathTexts(XmlNode* top, const RootMove& move, std::uint32_t* error);

}  // namespace qg
