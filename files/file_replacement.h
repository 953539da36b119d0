// Replacing a file's whole content without ever leaving it half written.
//
// The new content goes to a temporary file beside the target; only once all
// of it is written and flushed to the device does the temporary file take the
// target's place, in one rename. On any failure the target keeps its old bytes
// and the temporary file is removed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "system/platform.h"

namespace qg {

struct FileReplacement {
  Handle handle;    // the temporary file while it is being written; 0 otherwise
  char* target;     // heap copy of the target's path
  char* temporary;  // heap copy of the temporary file's path
  bool failed;      // a write went wrong: Commit will refuse
};

// Creates the temporary file for `target`. False (and nothing left behind)
// when it cannot be created.
bool BeginReplacement(FileReplacement* replacement, const char* target);
// Appends bytes; false when the device took fewer than all of them.
bool WriteReplacement(FileReplacement* replacement, const void* bytes, std::uint32_t count);
// Flushes, closes and renames over the target. False when anything failed;
// the target is then unchanged. The replacement is finished either way.
// With `replaceExisting` false the temporary file only takes the target's
// name when no file has it: a file that exists but could not be read is
// never overwritten.
bool CommitReplacement(FileReplacement* replacement, bool replaceExisting = true);
// Drops the temporary file; the target is unchanged.
void AbandonReplacement(FileReplacement* replacement);

// The whole sequence for content that is already in memory.
bool ReplaceFileContent(const char* target, const void* bytes, std::size_t count);

}  // namespace qg
