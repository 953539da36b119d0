// Selecting a group and setting a key in it.
//
// A write either succeeds whole or leaves the entries as they were: every
// block it needs (a pending group's header, a new key line, larger value
// storage) is allocated before the list is touched.
#include <cstring>

#include "files/ascii_case.h"
#include "prefs/ini_file.h"
#include "prefs/ini_model.h"

namespace qg {

namespace {

// The last entry of the run that starts at `header` (the header itself when
// the group is empty).
IniEntry* LastOfGroup(IniEntry* header) {
  IniEntry* last = header;
  while (last->next && last->next->kind != GroupHeader) last = last->next;
  return last;
}

// Where a new key goes at the top of the file: after the last entry before
// the first header; null (the very beginning) when there is none.
IniEntry* LastBeforeFirstGroup(const IniFile& file) {
  IniEntry* last = nullptr;
  for (IniEntry* entry = file.first; entry && entry->kind != GroupHeader; entry = entry->next)
    last = entry;
  return last;
}

IniEntry* FindKey(IniEntry* from, const char* key) {
  for (IniEntry* entry = from; entry && entry->kind != GroupHeader; entry = entry->next) {
    if (entry->kind == KeyValue && EqualIgnoringAsciiCase(entry->key, key)) return entry;
  }
  return nullptr;
}

// Finds `key` (already in the file's encoding) in the selected group, or
// inserts it, with value storage for `valueLength` bytes and a terminator.
IniEntry* FindOrAddIniKey(IniFile& file, const char* key, std::size_t valueLength) {
  std::size_t keyLength = std::strlen(key);
  IniEntry* header = nullptr;
  if (file.pendingGroup) {
    header = NewEntry(GroupHeader, nullptr, 0, file.pendingGroup, std::strlen(file.pendingGroup));
    if (!header) return nullptr;
  }

  IniEntry* match =
      header ? nullptr : FindKey(file.currentGroup ? file.currentGroup->next : file.first, key);
  if (match) {
    if (match->textCapacity < valueLength) {
      if (valueLength >= UINT32_MAX) return nullptr;
      auto* storage = static_cast<char*>(Sys().HeapAlloc(valueLength + 1, false));
      if (!storage) return nullptr;
      if (match->ownsText) FreeBlock(match->text);
      match->text = storage;
      match->text[0] = 0;
      match->textCapacity = static_cast<std::uint32_t>(valueLength);
      match->ownsText = true;
    }
    std::memcpy(match->key, key, keyLength);  // same length: only letter case may differ
    file.modified = true;
    return match;
  }

  IniEntry* entry = NewEntry(KeyValue, key, keyLength, nullptr, valueLength);
  if (!entry) {
    FreeEntry(header);
    return nullptr;
  }
  if (header) {
    AppendEntry(file, header);
    file.currentGroup = header;
    FreeBlock(file.pendingGroup);
    file.pendingGroup = nullptr;
  }
  IniEntry* after = file.currentGroup ? LastOfGroup(file.currentGroup) : LastBeforeFirstGroup(file);
  InsertEntryAfter(file, after, entry);
  file.modified = true;
  return entry;
}

}  // namespace

int SelectIniGroup(const char* name) {
  IniFile& file = TheIniFile();
  if (!IniFileLoaded(file)) {
    FreeBlock(file.pendingGroup);
    file.pendingGroup = nullptr;
    return 0;
  }
  if (!name || !*name) {
    file.currentGroup = nullptr;
    FreeBlock(file.pendingGroup);
    file.pendingGroup = nullptr;
    file.selectionLost = false;
    return 1;
  }
  char* wanted = NewEncodedText(name, file.codePage);
  FreeBlock(file.pendingGroup);
  file.pendingGroup = nullptr;
  if (!wanted) {
    // Without the name the next write could land in the previous group.
    file.selectionLost = true;
    return 0;
  }
  file.selectionLost = false;
  for (IniEntry* entry = file.first; entry; entry = entry->next) {
    if (entry->kind == GroupHeader && EqualIgnoringAsciiCase(entry->text, wanted)) {
      file.currentGroup = entry;
      FreeBlock(wanted);
      return 1;
    }
  }
  file.pendingGroup = wanted;
  return 0;
}

const char* WriteIniString(const char* key, const char* value) {
  IniFile& file = TheIniFile();
  if (!IniFileLoaded(file) || file.selectionLost) return nullptr;
  if (!key) key = "";
  if (!value) value = "";
  char* encodedKey = NewEncodedText(key, file.codePage);
  if (!encodedKey) return nullptr;
  std::size_t valueLength = std::strlen(value);
  IniEntry* entry =
      FindOrAddIniKey(file, encodedKey, EncodedLength(value, valueLength, file.codePage));
  FreeBlock(encodedKey);
  if (!entry) return nullptr;
  EncodeText(value, valueLength, file.codePage, entry->text);
  return entry->text;
}

}  // namespace qg
