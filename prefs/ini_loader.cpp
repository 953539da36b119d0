// Opening a preference file: the open with its read-only fallbacks, the one
// read of the whole file into one block, and the byte-order mark.
//
// The block holds the file's bytes, two zero bytes, and then a copy of the
// path, which the write-back needs to place its temporary file beside the
// original and to replace it.
#include <cstring>

#include "prefs/ini_file.h"
#include "prefs/ini_model.h"

namespace qg {

namespace {

constexpr unsigned char kUtf8Mark[3] = {0xEF, 0xBB, 0xBF};

Handle OpenWithFallbacks(const char* path, bool* readOnly, std::uint32_t* openError) {
  Handle handle = Sys().CreateFileA(path, GENERIC_READ_ACCESS | GENERIC_WRITE_ACCESS,
                                    FILE_SHARE_READ_MODE, Creation::OpenExisting);
  if (handle) return handle;
  *openError = Sys().GetLastError();
  *readOnly = true;
  handle =
      Sys().CreateFileA(path, GENERIC_READ_ACCESS, FILE_SHARE_READ_MODE, Creation::OpenExisting);
  if (handle) return handle;
  return Sys().CreateFileA(path, GENERIC_READ_ACCESS, FILE_SHARE_READ_MODE | FILE_SHARE_WRITE_MODE,
                           Creation::OpenExisting);
}

// Keeps the path of a file that does not exist yet, so that the write-back
// can create it. False when out of memory.
bool KeepFileName(IniFile& file, const char* path) {
  std::size_t length = std::strlen(path);
  file.fileName = static_cast<char*>(Sys().HeapAlloc(length + 1, false));
  if (!file.fileName) return false;
  std::memcpy(file.fileName, path, length + 1);
  file.path = file.fileName;
  return true;
}

// Reads the whole file with one read and cuts it into entries. False (the
// open fails) when the file cannot be loaded whole: its size is unknown or
// 4 GiB or more, the block cannot be allocated, or the read delivers fewer
// bytes than the size. A shortened content would be written back as the
// whole file and lose its tail.
bool LoadContent(IniFile& file, const char* path) {
  std::uint64_t size = 0;
  if (!Sys().GetFileSize(file.handle, &size) || size > UINT32_MAX - 2) return false;
  std::size_t pathBytes = std::strlen(path) + 1;
  if (size + 2 > SIZE_MAX - pathBytes) return false;
  auto* block =
      static_cast<char*>(Sys().HeapAlloc(static_cast<std::size_t>(size) + 2 + pathBytes, false));
  if (!block) return false;
  file.block = block;
  auto count = static_cast<std::uint32_t>(size);
  std::uint32_t read = 0;
  if (count && (!Sys().ReadFile(file.handle, block, count, &read) || read != count)) return false;
  block[count] = 0;
  block[count + 1] = 0;
  std::memcpy(block + count + 2, path, pathBytes);
  file.path = block + count + 2;

  file.content = block;
  file.contentSize = count;
  if (count >= 3 && std::memcmp(block, kUtf8Mark, 3) == 0) {
    file.codePage = Utf8CodePage;
    file.content += 3;
    file.contentSize -= 3;
  }
  return ParseIniContent(file, file.content, file.contentSize);
}

}  // namespace

void InitPreferenceLibrary() { TheIniFile() = IniFile{}; }

int OpenIniFile(const char* path, std::uint32_t flags) {
  CloseIniFile();
  if (!path) path = "";
  IniFile& file = TheIniFile();
  file.flags = flags;
  file.handle = OpenWithFallbacks(path, &file.readOnly, &file.openError);
  if (!file.handle) {
    file.readOnly = false;
    if (!KeepFileName(file, path)) ReleaseIniFile(file);
    return 0;
  }
  if (!LoadContent(file, path)) {
    ReleaseIniFile(file);
    return 0;
  }
  return 1;
}

}  // namespace qg
