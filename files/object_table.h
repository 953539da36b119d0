// Numbered object tables: how libraries name the objects they hand out.
//
// A caller names an object by a number of its own choosing (0 and up, a slot
// of the table) or asks for one with -1, in which case the record's address
// becomes its number (a dynamic number). Reusing a number closes the object
// that held it through the table's close hook. Records are plain structs,
// created zero-filled, with a `Live()` member that tells whether the record
// holds an object (its first field is non-zero).
#pragma once

#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>

#include "system/platform.h"

namespace qg {

using ObjectNumber = std::intptr_t;
inline constexpr ObjectNumber kDynamicNumber = -1;

template <class Record>
struct ObjectTable {
  static_assert(std::is_trivially_copyable_v<Record>, "records are cleared with zeros");

  // A dynamic record with its place in the list; the record's address is its number.
  struct DynamicEntry {
    DynamicEntry* newer;
    DynamicEntry* older;
    Record record;
  };

  int growth = 0;
  ObjectNumber capacity = 0;
  Record** slots = nullptr;
  DynamicEntry* dynamicObjects = nullptr;  // newest first
  void (*closeHook)(ObjectNumber) = nullptr;
};

template <class Record>
ObjectTable<Record>* CreateObjectTable(int growth, void (*closeHook)(ObjectNumber)) {
  auto* table =
      static_cast<ObjectTable<Record>*>(Sys().HeapAlloc(sizeof(ObjectTable<Record>), true));
  if (!table) return nullptr;
  new (table) ObjectTable<Record>();
  table->growth = growth;
  table->closeHook = closeHook;
  table->slots = static_cast<Record**>(Sys().HeapAlloc(sizeof(Record*) * growth, true));
  table->capacity = table->slots ? growth : 0;
  return table;
}

template <class Record>
ObjectNumber DynamicNumberOf(const typename ObjectTable<Record>::DynamicEntry* entry) {
  return reinterpret_cast<ObjectNumber>(&entry->record);
}

// The dynamic entry whose number this is, or null. The number is checked
// against the list, never taken as an address on trust.
template <class Record>
typename ObjectTable<Record>::DynamicEntry* FindDynamic(ObjectTable<Record>* table,
                                                        ObjectNumber number) {
  for (auto* entry = table->dynamicObjects; entry; entry = entry->older)
    if (DynamicNumberOf<Record>(entry) == number) return entry;
  return nullptr;
}

// The record for `number`, created or reused; null when memory runs out (the
// table is then unchanged). A live object under the number is closed first.
template <class Record>
Record* AcquireObject(ObjectTable<Record>* table, ObjectNumber number) {
  using Entry = typename ObjectTable<Record>::DynamicEntry;
  if (!table) return nullptr;
  if (number == kDynamicNumber) {
    auto* entry = static_cast<Entry*>(Sys().HeapAlloc(sizeof(Entry), true));
    if (!entry) return nullptr;
    entry->older = table->dynamicObjects;
    if (entry->older) entry->older->newer = entry;
    table->dynamicObjects = entry;
    return &entry->record;
  }
  if (number < 0) return nullptr;
  if (number >= table->capacity) {
    // The grown slot array's size must fit a size_t: a larger number fails
    // here rather than wrap to a small block (a 32-bit build meets this
    // from 2^30 on).
    constexpr auto kMostSlots = static_cast<ObjectNumber>(SIZE_MAX / sizeof(Record*));
    if (number > kMostSlots - table->growth) return nullptr;
    ObjectNumber grown = number + table->growth;
    auto* slots = static_cast<Record**>(
        Sys().HeapReAlloc(table->slots, sizeof(Record*) * static_cast<std::size_t>(grown), true));
    if (!slots) return nullptr;
    table->slots = slots;
    table->capacity = grown;
  }
  if (Record* existing = table->slots[number]) {
    if (table->closeHook) table->closeHook(number);
    std::memset(static_cast<void*>(existing), 0, sizeof(Record));
    return existing;
  }
  auto* record = static_cast<Record*>(Sys().HeapAlloc(sizeof(Record), true));
  if (!record) return nullptr;
  table->slots[number] = record;
  return record;
}

// The live record named by `number`, or null.
template <class Record>
Record* LookupObject(ObjectTable<Record>* table, ObjectNumber number) {
  if (!table) return nullptr;
  Record* record = nullptr;
  if (number >= 0 && number < table->capacity) {
    record = table->slots[number];
  } else if (auto* entry = FindDynamic(table, number)) {
    record = &entry->record;
  }
  return record && record->Live() ? record : nullptr;
}

// A slot's record is cleared for reuse; a dynamic record is unlinked and freed.
template <class Record>
void ReleaseObject(ObjectTable<Record>* table, ObjectNumber number) {
  if (!table) return;
  if (number >= 0 && number < table->capacity) {
    if (Record* record = table->slots[number])
      std::memset(static_cast<void*>(record), 0, sizeof(Record));
    return;
  }
  auto* entry = FindDynamic(table, number);
  if (!entry) return;
  if (entry->newer)
    entry->newer->older = entry->older;
  else
    table->dynamicObjects = entry->older;
  if (entry->older) entry->older->newer = entry->newer;
  Sys().HeapFree(entry);
}

// Closes every live object: slots in ascending order, then dynamic objects
// from the oldest to the newest. The next position is read before the hook
// runs, so the hook may release the record it is given.
template <class Record>
void CloseAllObjects(ObjectTable<Record>* table) {
  if (!table || !table->closeHook) return;
  for (ObjectNumber number = 0; number < table->capacity; ++number) {
    Record* record = table->slots[number];
    if (record && record->Live()) table->closeHook(number);
  }
  auto* entry = table->dynamicObjects;
  while (entry && entry->older) entry = entry->older;
  while (entry) {
    auto* newer = entry->newer;
    if (entry->record.Live()) table->closeHook(DynamicNumberOf<Record>(entry));
    entry = newer;
  }
}

}  // namespace qg
