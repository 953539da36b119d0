// The in-memory model of the preference file: one library-wide IniFile that
// holds the file's lines as a doubly linked list of IniEntry records, and the
// small helpers the loader, the editor and the writer share.
//
// Texts of loaded entries live in the file's content block (the loader cuts
// them out by writing terminators over their line ends). Entries added later
// are allocated together with their texts in one block; a value that outgrows
// its storage gets a heap block of its own (`ownsText`).
#pragma once

#include <cstddef>
#include <cstdint>

#include "system/platform.h"

namespace qg {

enum IniEntryKind : std::uint8_t { GroupHeader = 1, Comment = 2, KeyValue = 3 };

struct IniEntry {
  IniEntry* previous;
  IniEntry* next;
  IniEntryKind kind;
  bool ownsText;               // `text` is a heap block of its own, freed with the entry
  std::uint32_t textCapacity;  // bytes `text` can hold before its terminator
  char* key;                   // KeyValue only: the key as written in the file
  char* text;                  // group name, comment text or value
};

inline constexpr std::uint32_t Utf8CodePage = 65001;

struct IniFile {
  Handle handle;   // the open file; 0 when none
  char* fileName;  // path copy, only when the file could not be opened at all
  bool modified;   // set by every successful key write
  bool readOnly;   // opened for reading only: changes are dropped at close
  char* content;   // the file's bytes after the mark, then two zero bytes
  std::uint32_t codePage;
  IniEntry* first;  // `entries`, in file order
  IniEntry* last;
  IniEntry* currentGroup;  // selected header; null selects the top of the file
  char* pendingGroup;      // a selected group that does not exist yet
  std::uint32_t flags;     // IniOpenFlags

  // Bookkeeping of this implementation.
  char* block;                // the heap block that holds `content` and `path`
  std::uint32_t contentSize;  // bytes of `content` before the two zero bytes
  const char* path;           // where the write-back goes (in `block` or `fileName`)
  bool selectionLost;         // a selection failed for want of memory: writes fail
  std::uint32_t openError;    // why the open for writing failed; 0 when it did not
};

// The library's single file. All fields are zero when no file is open.
IniFile& TheIniFile();

// True when a file is loaded: an open one, or one that does not exist yet.
inline bool IniFileLoaded(const IniFile& file) { return file.handle != 0 || file.fileName; }

// Sys().HeapFree for a block that may be null.
void FreeBlock(void* block);

// Bytes `text` occupies in the file's encoding (UTF-8 when `codePage` says so).
std::size_t EncodedLength(const char* text, std::size_t length, std::uint32_t codePage);
// Writes `text` in the file's encoding to `out` (room for EncodedLength bytes
// plus a terminator) and terminates it.
void EncodeText(const char* text, std::size_t length, std::uint32_t codePage, char* out);
// A heap copy of `text` in the file's encoding; null when out of memory.
char* NewEncodedText(const char* text, std::uint32_t codePage);

// A new entry whose key and text storage follow it in the same heap block:
// `keyLength` + 1 bytes for the key (when `key` is non-null) and
// `textCapacity` + 1 for the text, which starts as a copy of `text` (or empty).
// Not linked; null when out of memory.
IniEntry* NewEntry(IniEntryKind kind, const char* key, std::size_t keyLength, const char* text,
                   std::size_t textCapacity);
void FreeEntry(IniEntry* entry);

// List links.
void InsertEntryAfter(IniFile& file, IniEntry* after,
                      IniEntry* entry);  // null `after`: at the front
void AppendEntry(IniFile& file, IniEntry* entry);

// Releases everything the file holds, closes its handle and zeroes it.
void ReleaseIniFile(IniFile& file);

// Parses `size` bytes at `content` (followed by two zero bytes) into entries
// appended to `file`; terminators are written into the content. False when a
// list node could not be allocated (the entries made so far stay linked).
bool ParseIniContent(IniFile& file, char* content, std::uint32_t size);

}  // namespace qg
