// The bundle's PHP runtimes: side by side in the PHP folder
// (server\modules\php\), one folder each (PHP-5.6-5.7, PHP-7.4, PHP-8.2...),
// each with a php.ini of its own.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace qg {

// The settings file each runtime's folder holds.
inline constexpr char kPhpIniName[] = "php.ini";

struct PhpVersionFolders {
  // The names of the folders directly inside the PHP folder whose php.ini
  // is a file, in the ANSI code page, in byte order (a FAT stick lists them
  // in the order they were made). A name the code page cannot hold is given
  // as its short (8.3) name, which is ASCII.
  std::vector<std::string> names;
  // Folders passed over because the code page cannot hold their names and
  // they have no short name (a volume without 8.3 names): the ANSI calls
  // cannot reach them, so whether they hold a php.ini is not known.
  std::size_t unreachable = 0;
};

// The runtimes' folders in `phpDir` (relative or absolute, in the ANSI code
// page, ending with the separator). A folder without php.ini, a php.ini
// that is not a file, an entry that is not a folder, "." and ".." are passed
// over. False when the listing fails, or a php.ini cannot be looked at for
// another reason than its absence, with the last error saying why; `found`
// is then empty.
bool ListPhpVersionFolders(const std::string& phpDir, PhpVersionFolders* found);

}  // namespace qg
