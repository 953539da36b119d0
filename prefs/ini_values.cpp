// Editing every value of the loaded file in place.
//
// Each new value is copied into a block of its own while the walk runs; only
// when every one of them has been had are the entries changed, so a walk
// that runs out of memory leaves the entries as they were.
#include <cstring>

#include "prefs/ini_file.h"
#include "prefs/ini_model.h"

namespace qg {

namespace {

// A new value waiting to be set, in a chain of the walk's own.
struct PendingValue {
  PendingValue* next;
  IniEntry* entry;
  char* text;  // a heap block of its own
};

void FreePending(PendingValue* pending) {
  while (pending) {
    PendingValue* next = pending->next;
    FreeBlock(pending->text);
    Sys().HeapFree(pending);
    pending = next;
  }
}

// The value's storage takes `text`: copied when it fits, else the block
// becomes the entry's own.
void SetValue(IniEntry* entry, char* text) {
  std::size_t length = std::strlen(text);
  if (length <= entry->textCapacity) {
    std::memcpy(entry->text, text, length + 1);
    FreeBlock(text);
    return;
  }
  if (entry->ownsText) FreeBlock(entry->text);
  entry->text = text;
  entry->textCapacity = static_cast<std::uint32_t>(length);
  entry->ownsText = true;
}

}  // namespace

int EditIniValues(IniValueEdit edit, void* context) {
  IniFile& file = TheIniFile();
  if (!IniFileLoaded(file)) return -1;
  PendingValue* first = nullptr;
  PendingValue** last = &first;
  int count = 0;
  const char* group = "";
  for (IniEntry* entry = file.first; entry; entry = entry->next) {
    if (entry->kind == GroupHeader) group = entry->text;
    if (entry->kind != KeyValue) continue;
    const char* value = edit(IniKeyLine{group, entry->key, entry->text}, context);
    if (!value) continue;
    std::size_t length = std::strlen(value);
    auto* pending = static_cast<PendingValue*>(Sys().HeapAlloc(sizeof(PendingValue), false));
    char* text =
        length < UINT32_MAX ? static_cast<char*>(Sys().HeapAlloc(length + 1, false)) : nullptr;
    if (!pending || !text) {
      FreeBlock(pending);
      FreeBlock(text);
      FreePending(first);
      Sys().SetLastError(ERROR_NOT_ENOUGH_MEMORY_CODE);
      return -1;
    }
    std::memcpy(text, value, length + 1);
    *pending = PendingValue{nullptr, entry, text};
    *last = pending;
    last = &pending->next;
    ++count;
  }
  for (PendingValue* pending = first; pending; pending = pending->next) {
    SetValue(pending->entry, pending->text);
    pending->text = nullptr;
  }
  FreePending(first);
  if (count > 0) file.modified = true;
  return count;
}

}  // namespace qg
