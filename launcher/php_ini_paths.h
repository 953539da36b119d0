// PHP's own paths after the bundle has moved: php.ini names places inside
// the bundle by full path (extension_dir, include_path, error_log,
// session.save_path, ...). Every value is read as a list of places, and each
// one inside the old root is made to name the same place inside the new
// one, by the rule the editor's values follow (MovePathValue).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "launcher/moved_paths.h"

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

// php.ini's bytes as characters, one per byte (0-255): PHP 5 reads the file
// as bytes in the ANSI code page, and the moves' roots are given in those
// bytes too, so the rule compares what PHP compares.
std::u32string CharactersOfBytes(std::string_view bytes);

// `value` with every place in it moved by the first of `moves` (roots as
// CharactersOfBytes gives them) that moves it. The value is read as a list:
// its places end at the list separator and at double quotes (which stay),
// and a place may follow session.save_path's "N;" or "N;MODE;". Under
// `slashSeparates` a place written with '/' is moved too, the new root then
// written with '/'. True, with `moved` the new value, when a place moved;
// every other byte stays as it is.
bool MoveIniPathList(std::string_view value, const std::vector<RootMove>& moves,
                     const IniPathRules& rules, std::string* moved);

// Moves the places in every value of the loaded php.ini (prefs/ini_file.h)
// but `skipKey` in group `skipGroup` (ASCII case ignored), which the caller
// sets itself; every value when `skipKey` is null. The number of values changed, or -1, with none
// changed, when memory ran out.
int MoveIniPathValues(const std::vector<RootMove>& moves, const IniPathRules& rules,
                      const char* skipGroup, const char* skipKey);

}  // namespace qg
