// Replacing a file's whole content without ever leaving it half written.
//
// The new content goes to a temporary file beside the target; only once all
// of it is written and flushed to the device does the temporary file take the
// target's place, in one rename. On any failure the target keeps its old bytes
// and the temporary file is removed.
//
// Content that equals the target's own bytes is not written at all: while
// every byte handed in so far matches the target, the target is only read,
// and the temporary file is made (holding the matched part, copied from the
// target) at the first byte that differs. So a file that is already right
// counts as replaced also where nothing may be written, and its folder sees
// no write. The target is read no further than the new content matches, and
// not at all when the new content's size is known and differs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "system/platform.h"

namespace qg {

// Windows refuses to replace a file that another program holds open, and
// programs hold files for a moment: an antivirus scanner reading the new
// file, a backup or indexing service. A replacement refused for that reason
// is tried again after each of these pauses (milliseconds, one second in
// all). POSIX renames are not refused that way, so there it is tried once.
inline constexpr std::uint32_t kHeldTargetPauses[] = {50, 100, 200, 300, 350};
// Whether a refused replacement is tried again after those pauses: on
// systems whose programs hold files for a moment (Windows).
bool RetryHeldTargets();

struct FileReplacement {
  Handle handle;    // the temporary file while it is being written; 0 otherwise
  char* target;     // heap copy of the target's path
  char* temporary;  // heap copy of the temporary file's path
  bool failed;      // a write went wrong: Commit will refuse
  // While the bytes so far equal the target's first ones: the target, open
  // for reading, its size, and how many bytes matched. 0 once they differ
  // (or when there was no target to compare with).
  Handle original;
  std::uint64_t originalSize;
  std::uint64_t matched;
};

// The new content's size when it is not known in advance.
inline constexpr std::uint64_t kUnknownSize = ~std::uint64_t{0};

// Starts the replacement of `target`: the comparison with its bytes when it
// exists and its size can be `size` (kUnknownSize: any), else the temporary
// file. False (and nothing left behind) when the temporary file cannot be
// created, or the target exists but cannot be read (the last error says
// why). A target held by another program is not compared, only replaced.
bool BeginReplacement(FileReplacement* replacement, const char* target,
                      std::uint64_t size = kUnknownSize);
// Appends bytes; false when the device took fewer than all of them (the
// last error says why; a write cut short without one counts as a full disk),
// or when the target could not be read for the comparison.
bool WriteReplacement(FileReplacement* replacement, const void* bytes, std::uint32_t count);
// Flushes, closes and renames over the target; true at once, with nothing
// written, when the content equals the target's whole content. False when
// anything failed; the target is then unchanged and the platform's last
// error says why. The replacement is finished either way. With `replaceExisting` false the
// temporary file only takes the target's name when no file has it: a file
// that exists but could not be read is never overwritten.
bool CommitReplacement(FileReplacement* replacement, bool replaceExisting = true);
// Drops the temporary file; the target is unchanged.
void AbandonReplacement(FileReplacement* replacement);

// Whether the file at `path` holds exactly `count` bytes equal to `bytes`;
// false also when it cannot be read. Reads it only when the size matches,
// and only as far as the bytes do.
bool FileHoldsContent(const char* path, const void* bytes, std::size_t count);

// MoveFileReplace of `source` over `target`, tried again after each pause
// while the target is held for a moment: a sharing or lock violation, or
// access denied on a target that is not read-only. On failure the last
// error is the one of the last try.
bool ReplaceHeldTarget(const char* source, const char* target,
                       std::span<const std::uint32_t> pauses);

// Lets go of the caller's own open handle on the target, which must not be
// held while the target is replaced; `context` is the caller's.
using ReleaseOriginal = void (*)(void* context);

// The whole sequence for content that is already in memory: the temporary
// file is written (unless the target holds the content already), then
// `release` (when given) lets go of the original, then the temporary file
// replaces it, or is dropped when writing failed.
// `release` runs whatever happens, and the last error is that of the first
// step that failed. With `replaceExisting` false the target is only
// created, never overwritten (see CommitReplacement).
bool ReplaceFileContent(const char* target, const void* bytes, std::size_t count,
                        ReleaseOriginal release = nullptr, void* context = nullptr,
                        bool replaceExisting = true);

}  // namespace qg
