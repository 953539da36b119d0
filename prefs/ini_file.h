// Preference files: an INI-style file loaded into an ordered list of lines,
// one key set in one group or every value edited in place, and the file
// written back in a normalised form.
// The library holds one file at a time.
#pragma once

#include <cstdint>

namespace qg {

enum IniOpenFlags : std::uint32_t {
  CompactSeparator = 1,       // key lines written as key=value
  BlankLineBeforeGroups = 2,  // an empty line before every header but the first
};

// Clears the library; run once at program start.
void InitPreferenceLibrary();
// Loads `path` (closing, and writing back, any file open before). Non-zero
// when the file is open; a file that does not exist yet is worked on as an
// empty one and created by CloseIniFile.
int OpenIniFile(const char* path, std::uint32_t flags);
// Selects a group by name (ASCII letter case ignored); null or empty selects
// the top of the file. 0 when the group does not exist yet: the next write
// creates it.
int SelectIniGroup(const char* name);
// Sets `key` in the selected group; the stored value, or null on failure.
const char* WriteIniString(const char* key, const char* value);

// One key line as EditIniValues hands it over, in the file's own bytes: the
// name of its group as its header spells it (empty above the first header),
// its key and its value.
struct IniKeyLine {
  const char* group;
  const char* key;
  const char* value;
};
// The new value of a key line, in the file's own bytes, or null to leave the
// line as it is. The text need only last until the next call.
using IniValueEdit = const char* (*)(const IniKeyLine& line, void* context);
// Hands every key line of the loaded file to `edit`, in file order, and sets
// each new value it gives in place (the line keeps its key, group and
// place). All or nothing: the number of values changed, or -1, with nothing
// changed, when memory for one of them ran out (the platform's last error
// then ERROR_NOT_ENOUGH_MEMORY_CODE) or no file is loaded.
int EditIniValues(IniValueEdit edit, void* context);
// Forgets the changes made to the loaded file: CloseIniFile writes nothing.
void DiscardIniChanges();
// Writes the file back if modified, then releases it. Non-zero when nothing
// needed writing or the file was written back; 0 when the changes could not
// be written (the platform's last error says why: for a file that could not
// be opened for writing, the reason of that open).
int CloseIniFile();

}  // namespace qg
