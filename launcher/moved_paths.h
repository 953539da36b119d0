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

// A move of the bundle, in the unit the file that follows it is compared in:
// characters for the editor's files (RootMove), the file's own bytes for
// php.ini (ByteRootMove), which PHP 5 reads as bytes in the ANSI code page.
// Both roots end with the path separator, as recorded roots do.
template <class Unit>
struct BasicRootMove {
  std::basic_string<Unit> oldRoot;
  std::basic_string<Unit> newRoot;
  // Windows: paths that differ only in ASCII letter case are the same place.
  // Only ASCII is folded, so two different folders never match.
  bool ignoreAsciiCase = false;

  // Whether values are moved at all: an old root was recorded, and it is not
  // a bare "/" (every POSIX path lies below that).
  bool Applies() const {
    return !oldRoot.empty() && !(oldRoot.size() == 1 && oldRoot[0] == Unit('/'));
  }
};
using RootMove = BasicRootMove<char32_t>;
using ByteRootMove = BasicRootMove<char>;

// The place `value` names, moved: the new root in place of the old one at
// its start (the old root ending at its separator), or the new root without
// its separator for the old root without its own. False, and `moved`
// untouched, for a value outside the old root, one already inside the new
// root (so a second pass changes nothing), one that merely shares the old
// root's text, and the bare form of a drive root ("E:" for "E:\").
// Given in characters (the editor's files) and in bytes (php.ini).
bool MovePathValue(std::u32string_view value, const RootMove& move, std::u32string* moved);
bool MovePathValue(std::string_view value, const ByteRootMove& move, std::string* moved);

// The paths in a text of the editor's, moved as MovePathValue moves a
// value: the one at the start of the text and, in a command line
// (`command`), also each one that starts right after a double quote or a
// blank. False, and `moved` untouched, when none moved.
//
// The editor takes a command's program up to the first blank outside double
// quotes, and its arguments likewise. So in a command line a moved path
// that stood outside double quotes, and whose new text holds a blank or a
// tab, is written inside them: the whole path, which ends where the old one
// ended (at the first blank, tab or double quote after the old root). Its
// trailing backslashes, if any, follow the closing quote, so that a program
// reading its arguments by the C runtime's rules (where \" is a quote) reads
// the same path. In a command line the root's bare form ("D:\web" for
// "D:\web\") counts when a blank, tab or double quote follows it too.
// Paths inside double quotes are written as they are.
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
// The other command line: the interpreter the editor opens a folder in, a
// kSettingElement of config.xml named kInterpreterSetting.
inline constexpr char kSettingElement[] = "GUIConfig";
inline constexpr char kInterpreterSetting[] = "commandLineInterpreter";

// Moves the text of every element from `top` down that has no children, as
// MovePathsInText says: a command line when the element is a
// kCommandElement or the kInterpreterSetting. A text holding a line end is left alone. Returns the
// number of texts changed, or -1 when one could not be stored, with `error`
// set to why; the texts changed before it stay changed.
int MovePathTexts(XmlNode* top, const RootMove& move, std::uint32_t* error);

}  // namespace qg
