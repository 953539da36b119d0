// Closing a preference file and writing it back.
//
// The new text never goes over the old file directly: it is written to a
// temporary file beside it, flushed to disk, and then moved over the
// original in one step. Any failure on the way deletes the temporary file
// and leaves the original exactly as it was. A file that did not exist at
// open is put in place with a move that never replaces, so that a file which
// exists but could not be opened is not overwritten with only the new
// entries.
#include <cstring>

#include "files/file_replacement.h"
#include "prefs/ini_file.h"
#include "prefs/ini_model.h"

namespace qg {

namespace {

std::uint64_t TextSize(const IniFile& file) {
  std::uint64_t separator = (file.flags & CompactSeparator) ? 1 : 3;
  std::uint64_t size = file.codePage == Utf8CodePage ? 5 : 0;
  bool firstGroup = true;
  for (const IniEntry* entry = file.first; entry; entry = entry->next) {
    size += std::strlen(entry->text) + 2;
    switch (entry->kind) {
      case GroupHeader:
        size += 2;
        if ((file.flags & BlankLineBeforeGroups) && !firstGroup) size += 2;
        firstGroup = false;
        break;
      case Comment:
        size += 2;
        break;
      case KeyValue:
        size += std::strlen(entry->key) + separator;
        break;
    }
  }
  return size;
}

char* Put(char* out, const char* text) {
  std::size_t length = std::strlen(text);
  std::memcpy(out, text, length);
  return out + length;
}

char* PutText(const IniFile& file, char* out) {
  if (file.codePage == Utf8CodePage) out = Put(out, "\xEF\xBB\xBF\r\n");
  const char* separator = (file.flags & CompactSeparator) ? "=" : " = ";
  bool firstGroup = true;
  for (const IniEntry* entry = file.first; entry; entry = entry->next) {
    switch (entry->kind) {
      case GroupHeader:
        if ((file.flags & BlankLineBeforeGroups) && !firstGroup) out = Put(out, "\r\n");
        firstGroup = false;
        out = Put(out, "[");
        out = Put(out, entry->text);
        out = Put(out, "]");
        break;
      case Comment:
        out = Put(out, "; ");
        out = Put(out, entry->text);
        break;
      case KeyValue:
        out = Put(out, entry->key);
        out = Put(out, separator);
        out = Put(out, entry->text);
        break;
    }
    out = Put(out, "\r\n");
  }
  return out;
}

// Lets go of the loaded file's own handle, which must not hold the file
// while it is replaced.
void ReleaseOriginal(void* context) {
  IniFile& held = *static_cast<IniFile*>(context);
  if (held.handle) Sys().CloseHandle(held.handle);
  held.handle = 0;
}

bool Refuse(std::uint32_t error) {
  Sys().SetLastError(error);
  return false;
}

// True when the file now holds the text; else the last error says why.
bool WriteBack(IniFile& file) {
  if (!file.path || !*file.path) return Refuse(ERROR_PATH_NOT_FOUND_CODE);
  std::uint64_t size = TextSize(file);
  if (size > UINT32_MAX || size > SIZE_MAX) return Refuse(ERROR_DISK_FULL_CODE);
  auto* block = static_cast<char*>(Sys().HeapAlloc(static_cast<std::size_t>(size) + 1, false));
  if (!block) return Refuse(ERROR_NOT_ENOUGH_MEMORY_CODE);
  char* end = PutText(file, block);

  // The original must not be held open while it is replaced.
  bool existed = file.handle != 0;
  bool written = ReplaceFileContent(file.path, block, static_cast<std::size_t>(end - block),
                                    ReleaseOriginal, &file, existed);
  std::uint32_t error = written ? NO_ERROR_CODE : Sys().GetLastError();
  Sys().HeapFree(block);
  // A file that exists but could not be opened is refused the new one; its
  // open says why better than the refusal does.
  if (!written && !existed && file.openError != ERROR_FILE_NOT_FOUND_CODE) error = file.openError;
  Sys().SetLastError(error);
  return written;
}

// Whether the file holds the text as it would be written back.
bool HoldsText(const IniFile& file) {
  std::uint64_t size = TextSize(file);
  if (!file.path || size > SIZE_MAX - 1) return false;
  auto* block = static_cast<char*>(Sys().HeapAlloc(static_cast<std::size_t>(size) + 1, false));
  if (!block) return false;
  char* end = PutText(file, block);
  bool holds = FileHoldsContent(file.path, block, static_cast<std::size_t>(end - block));
  Sys().HeapFree(block);
  return holds;
}

}  // namespace

void DiscardIniChanges() { TheIniFile().modified = false; }

int CloseIniFile() {
  IniFile& file = TheIniFile();
  bool written = true;
  if (file.modified && IniFileLoaded(file)) {
    if (file.readOnly) {
      // Opened for reading only: the changes are dropped, unless the file
      // holds them already.
      written = HoldsText(file);
      if (!written) Sys().SetLastError(file.openError);
    } else {
      written = WriteBack(file);
    }
  }
  LastErrorKept kept;
  ReleaseIniFile(file);
  return written ? 1 : 0;
}

}  // namespace qg
