// PHP's own paths after the bundle has moved: php.ini names places inside
// the bundle by full path (extension_dir, include_path, error_log,
// session.save_path, ...). Every value is read as a list of places, and each
// one inside the old root is made to name the same place inside the new
// one, by the rule the editor's values follow (MovePathValue), and written
// so that PHP reads it as that place (PhpIniValue).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "launcher/moved_paths.h"
#include "launcher/php_ini_value.h"

namespace qg {

// How php.ini writes places: the separator of a list of them, and whether
// '/' separates folders as '\' does (Windows, where PHP takes both).
struct IniPathRules {
  char listSeparator;
  bool slashSeparates;
};
inline constexpr IniPathRules kWindowsIniPaths{';', true};
inline constexpr IniPathRules kPosixIniPaths{':', false};
// This build's rules.
IniPathRules ThisPlatformsIniPaths();

// `value` with every place in it moved by the first of `moves` (roots in
// php.ini's own bytes: PHP 5 reads the file as bytes in the ANSI code page,
// so the rule compares what PHP compares) that moves it. The value is read as PHP
// reads it (php_ini_value.h): its bare, double- and single-quoted texts up
// to a comment, each as a list whose places end at the list separator; a
// place may follow session.save_path's "N;" or "N;MODE;". Under
// `slashSeparates` a place written with '/' is moved too, the new root then
// written with '/'. A moved text keeps its form and its other bytes where
// PHP reads them as the moved text, and is otherwise written by
// PhpIniValue (a bare one in double quotes). True, with `moved` the new
// value, when a place moved; comments, blanks, "${NAME}" and texts that did
// not move stay as they are. A value with a string that does not close on
// its line is left alone.
bool MoveIniPathList(std::string_view value, const std::vector<ByteRootMove>& moves,
                     const IniPathRules& rules, std::string* moved);

// Moves the places in every value of the loaded php.ini (prefs/ini_file.h)
// but `skipKey` in group `skipGroup` (ASCII case ignored), which the caller
// sets itself; every value when `skipKey` is null. The number of values changed, or -1, with none
// changed, when memory ran out.
int MoveIniPathValues(const std::vector<ByteRootMove>& moves, const IniPathRules& rules,
                      const char* skipGroup, const char* skipKey);

}  // namespace qg
