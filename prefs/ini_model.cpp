#include "prefs/ini_model.h"

#include <cstring>

#include "files/utf8.h"

namespace qg {

IniFile& TheIniFile() {
  static IniFile file{};
  return file;
}

void FreeBlock(void* block) {
  if (block) Sys().HeapFree(block);
}

std::size_t EncodedLength(const char* text, std::size_t length, std::uint32_t codePage) {
  if (codePage != Utf8CodePage) return length;
  std::size_t bytes = length;
  for (std::size_t i = 0; i < length; ++i) bytes += static_cast<unsigned char>(text[i]) >= 0x80;
  return bytes;
}

void EncodeText(const char* text, std::size_t length, std::uint32_t codePage, char* out) {
  std::size_t bytes;
  if (codePage == Utf8CodePage) {
    bytes = Utf8FromNarrow(text, length, out, 2 * length);
  } else {
    if (length) std::memcpy(out, text, length);
    bytes = length;
  }
  out[bytes] = 0;
}

char* NewEncodedText(const char* text, std::uint32_t codePage) {
  std::size_t length = std::strlen(text);
  auto* copy =
      static_cast<char*>(Sys().HeapAlloc(EncodedLength(text, length, codePage) + 1, false));
  if (copy) EncodeText(text, length, codePage, copy);
  return copy;
}

IniEntry* NewEntry(IniEntryKind kind, const char* key, std::size_t keyLength, const char* text,
                   std::size_t textCapacity) {
  std::size_t keyBytes = key ? keyLength + 1 : 0;
  if (textCapacity >= UINT32_MAX || keyBytes > SIZE_MAX - sizeof(IniEntry) - textCapacity - 1)
    return nullptr;
  auto* entry = static_cast<IniEntry*>(
      Sys().HeapAlloc(sizeof(IniEntry) + keyBytes + textCapacity + 1, false));
  if (!entry) return nullptr;
  char* storage = reinterpret_cast<char*>(entry + 1);
  *entry = IniEntry{};
  entry->kind = kind;
  if (key) {
    entry->key = storage;
    std::memcpy(entry->key, key, keyLength);
    entry->key[keyLength] = 0;
    storage += keyBytes;
  }
  entry->text = storage;
  entry->textCapacity = static_cast<std::uint32_t>(textCapacity);
  std::size_t textLength = text ? std::strlen(text) : 0;
  if (textLength) std::memcpy(entry->text, text, textLength);
  entry->text[textLength] = 0;
  return entry;
}

void FreeEntry(IniEntry* entry) {
  if (!entry) return;
  if (entry->ownsText) FreeBlock(entry->text);
  Sys().HeapFree(entry);
}

void InsertEntryAfter(IniFile& file, IniEntry* after, IniEntry* entry) {
  IniEntry* next = after ? after->next : file.first;
  entry->previous = after;
  entry->next = next;
  if (after) {
    after->next = entry;
  } else {
    file.first = entry;
  }
  if (next) {
    next->previous = entry;
  } else {
    file.last = entry;
  }
}

void AppendEntry(IniFile& file, IniEntry* entry) { InsertEntryAfter(file, file.last, entry); }

void ReleaseIniFile(IniFile& file) {
  for (IniEntry* entry = file.first; entry;) {
    IniEntry* next = entry->next;
    FreeEntry(entry);
    entry = next;
  }
  if (file.handle) Sys().CloseHandle(file.handle);
  FreeBlock(file.block);
  FreeBlock(file.pendingGroup);
  FreeBlock(file.fileName);
  file = IniFile{};
}

}  // namespace qg
