// Which processes and command windows belong to the bundle, so that the
// tidy-up after the editor touches only those and never the user's own.
//
// A process belongs when
//   1. its program lies inside the bundle root, or
//   2. it descends from the editor this run started (on POSIX the launcher
//      adopts the editor's orphans, so the chain reaches the launcher), or
//   3. it descends from a process that belongs by 1.
// Ids are reused: where both creation times are known, a "parent" created
// after its child is not its parent, and the chain ends there. A process
// whose path cannot be read does not belong; the launcher and its ancestors
// never do.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/bundle_paths.h"
#include "launcher/path_key.h"
#include "system/platform.h"

namespace qg {

// One process of the snapshot; its path is kept in the owner's text.
struct ProcessRecord {
  std::uint32_t pid;
  std::uint32_t parent;
  std::uint64_t created;
  bool createdKnown;
  bool selfOrAncestor;  // the launcher or a process above it
  bool belongs;
  char exeFile[MAX_PATH_LENGTH];   // as the snapshot names it
  std::size_t pathAt, pathLength;  // length 0: the path could not be read
};

class BundleProcesses {
 public:
  // Takes a process snapshot with each process's creator and program path.
  // The bundle's root is `keys.root` (empty: no program lies inside);
  // `editorId` is the editor this run started, 0 when unknown. False when
  // the snapshot cannot be taken, or no program path can be read at all;
  // nothing belongs then.
  bool Take(const BundleKeys& keys, std::uint32_t editorId);

  // Whether a command window owned by `owner` is the bundle's: the owner
  // belongs, or it is the direct parent of a process that belongs (the
  // user's prompt running the bundle's php.exe). Never for the launcher or
  // one of its ancestors.
  bool OwnsCommandWindow(std::uint32_t owner) const;
  // In snapshot order.
  const std::vector<ProcessRecord>& Processes() const { return processes_; }
  // The key of the record's program path; empty when it could not be read.
  PathKey PathOf(const ProcessRecord& record) const {
    return PathKey::FromText(std::string_view(text_).substr(record.pathAt, record.pathLength));
  }

 private:
  const ProcessRecord* Find(std::uint32_t pid) const;
  // The parent record of `child`, or null when it is gone or its id passed
  // to a process created later.
  const ProcessRecord* ParentOf(const ProcessRecord& child) const;
  bool ComputeBelongs(const ProcessRecord& record) const;
  bool ByPath(const ProcessRecord& record) const;

  PathKey root_;
  std::uint32_t editorId_ = 0;
  std::uint32_t selfId_ = 0;
  std::vector<ProcessRecord> processes_;
  std::string text_;  // every record's path
};

// Whether `window` is one of the bundle's command windows: a console window
// (ConsoleWindowClass, or ConEmu's VirtualConsoleClass), so that a browser or
// an editor is never closed, whose owner passes OwnsCommandWindow. The title
// is the search's business.
bool IsBundleCommandWindow(Window window, const BundleProcesses& owned);

// The full path of the program of an open process (opened with
// PROCESS_QUERY_LIMITED_INFORMATION), long form, as its key; empty when it
// cannot be read. Every path the tidy-up compares is a key, the bundle's
// places too (BundleKeys).
PathKey ProcessImagePath(Handle process);

}  // namespace qg
