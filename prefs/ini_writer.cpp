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

#include "prefs/ini_file.h"
#include "prefs/ini_model.h"

namespace qg {

namespace {

constexpr char kTempSuffix[] = ".qgtmp";

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

// Writes `size` bytes to a new file at `tempPath`, flushed and closed.
bool WriteTempFile(const char* tempPath, const char* text, std::uint32_t size) {
  Handle temp = Sys().CreateFileA(tempPath, GENERIC_READ_ACCESS | GENERIC_WRITE_ACCESS, 0,
                                  Creation::CreateAlways);
  if (!temp) return false;
  std::uint32_t written = 0;
  bool whole = size == 0 || (Sys().WriteFile(temp, text, size, &written) && written == size);
  whole = whole && Sys().FlushFileBuffers(temp);
  return Sys().CloseHandle(temp) && whole;
}

void WriteBack(IniFile& file) {
  if (!file.path || !*file.path) return;
  std::uint64_t size = TextSize(file);
  std::size_t pathLength = std::strlen(file.path);
  if (size > UINT32_MAX || size > SIZE_MAX - pathLength - sizeof kTempSuffix) return;

  // One block: the text, then the temporary file's name.
  auto* block = static_cast<char*>(
      Sys().HeapAlloc(static_cast<std::size_t>(size) + pathLength + sizeof kTempSuffix, false));
  if (!block) return;
  char* end = PutText(file, block);
  char* tempPath = block + size;
  std::memcpy(tempPath, file.path, pathLength);
  std::memcpy(tempPath + pathLength, kTempSuffix, sizeof kTempSuffix);

  bool placed = WriteTempFile(tempPath, block, static_cast<std::uint32_t>(end - block));
  if (!file.handle) {
    placed = placed && Sys().MoveFileA(tempPath, file.path);
  } else {
    // The original must not be held open while it is replaced.
    Sys().CloseHandle(file.handle);
    file.handle = 0;
    placed = placed && Sys().MoveFileReplace(tempPath, file.path);
  }
  if (!placed) Sys().DeleteFileA(tempPath);
  Sys().HeapFree(block);
}

}  // namespace

void CloseIniFile() {
  IniFile& file = TheIniFile();
  if (file.modified && !file.readOnly && IniFileLoaded(file)) WriteBack(file);
  ReleaseIniFile(file);
}

}  // namespace qg
