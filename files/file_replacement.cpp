#include "files/file_replacement.h"

#include <cstring>

namespace qg {

namespace {

constexpr char kSuffix[] = ".quillgate-new";

char* CopyText(const char* text, const char* suffix) {
  std::size_t length = std::strlen(text), extra = suffix ? std::strlen(suffix) : 0;
  auto* copy = static_cast<char*>(Sys().HeapAlloc(length + extra + 1, false));
  if (!copy) return nullptr;
  std::memcpy(copy, text, length);
  if (extra) std::memcpy(copy + length, suffix, extra);
  copy[length + extra] = 0;
  return copy;
}

void Release(FileReplacement* replacement) {
  if (replacement->original) {
    LastErrorKept kept;
    Sys().CloseHandle(replacement->original);
  }
  if (replacement->target) Sys().HeapFree(replacement->target);
  if (replacement->temporary) Sys().HeapFree(replacement->temporary);
  std::memset(replacement, 0, sizeof *replacement);
}

// Whether the last failure of a replacement was the target being held by
// another program (which lets go of it soon) rather than a lasting refusal.
// The last error is kept.
bool HeldForAMoment(const char* target) {
  std::uint32_t error = Sys().GetLastError();
  if (error != ERROR_ACCESS_DENIED_CODE)
    return error == ERROR_SHARING_VIOLATION_CODE || error == ERROR_LOCK_VIOLATION_CODE;
  LastErrorKept kept;
  std::uint32_t attributes = Sys().GetFileAttributesA(target);
  return attributes != INVALID_FILE_ATTRIBUTES_VALUE &&
         !(attributes & (FILE_ATTRIBUTE_READONLY_FLAG | FILE_ATTRIBUTE_DIRECTORY_FLAG));
}

// The comparison reads the target in pieces of this size.
constexpr std::uint32_t kComparePiece = 4096;

enum class Look { Opened, NothingToCompare, Unreadable };

// Opens the target for the comparison, keeping other writers out; when a
// writer holds it already (the caller's own handle on the file it loaded,
// which keeps every other writer out itself), beside that writer. Nothing
// to compare when there is no such file, or another program holds it whole
// (the replacement then waits it out as always). Unreadable on any other
// failure: a file that exists but cannot be read is not replaced.
Look OpenForComparing(const char* path, Handle* file) {
  *file =
      Sys().CreateFileA(path, GENERIC_READ_ACCESS, FILE_SHARE_READ_MODE, Creation::OpenExisting);
  if (!*file && Sys().GetLastError() == ERROR_SHARING_VIOLATION_CODE)
    *file = Sys().CreateFileA(path, GENERIC_READ_ACCESS,
                              FILE_SHARE_READ_MODE | FILE_SHARE_WRITE_MODE, Creation::OpenExisting);
  if (*file) return Look::Opened;
  switch (Sys().GetLastError()) {
    case ERROR_FILE_NOT_FOUND_CODE:
    case ERROR_PATH_NOT_FOUND_CODE:
    case ERROR_SHARING_VIOLATION_CODE:
    case ERROR_LOCK_VIOLATION_CODE:
      return Look::NothingToCompare;
    default:
      return Look::Unreadable;
  }
}

// Compares the next `count` bytes of `file` with `bytes`: 1 when they are
// equal, 0 when they differ (or the file ends first), -1 when a read fails.
int CompareNext(Handle file, const char* bytes, std::uint64_t count) {
  char piece[kComparePiece];
  while (count > 0) {
    auto size = static_cast<std::uint32_t>(count < kComparePiece ? count : kComparePiece);
    std::uint32_t read = 0;
    if (!Sys().ReadFile(file, piece, size, &read)) return -1;
    if (read != size || std::memcmp(piece, bytes, size) != 0) return 0;
    bytes += size;
    count -= size;
  }
  return 1;
}

bool CreateTemporary(FileReplacement* replacement) {
  // Shared with readers only, like the files it replaces: a second writer
  // (another launcher in the same bundle) cannot interleave its bytes.
  replacement->handle =
      Sys().CreateFileA(replacement->temporary, GENERIC_READ_ACCESS | GENERIC_WRITE_ACCESS,
                        FILE_SHARE_READ_MODE, Creation::CreateAlways);
  return replacement->handle != 0;
}

// Writes all of `bytes` to the temporary file; a write cut short without an
// error counts as a full disk.
bool WriteTemporary(FileReplacement* replacement, const void* bytes, std::uint32_t count) {
  std::uint32_t written = 0;
  if (!Sys().WriteFile(replacement->handle, bytes, count, &written)) return false;
  if (written == count) return true;
  Sys().SetLastError(ERROR_DISK_FULL_CODE);
  return false;
}

// The first `count` bytes of `original` (which equal the new content's)
// into the temporary file.
bool CopyMatched(Handle original, FileReplacement* replacement, std::uint64_t count) {
  if (!Sys().SetFilePointer(original, 0, MoveMethod::Begin, nullptr)) return false;
  char piece[kComparePiece];
  while (count > 0) {
    auto size = static_cast<std::uint32_t>(count < kComparePiece ? count : kComparePiece);
    std::uint32_t read = 0;
    if (!Sys().ReadFile(original, piece, size, &read)) return false;
    if (read != size) {
      Sys().SetLastError(ERROR_HANDLE_EOF_CODE);  // the target shrank while it was read
      return false;
    }
    if (!WriteTemporary(replacement, piece, size)) return false;
    count -= size;
  }
  return true;
}

// The new content differs from the target's: the temporary file is made,
// holding the part that matched, and the comparison ends. False (and the
// replacement failed) when any of it fails.
bool StopComparing(FileReplacement* replacement) {
  Handle original = replacement->original;
  replacement->original = 0;
  bool ok = CreateTemporary(replacement);
  if (ok && replacement->matched > 0) ok = CopyMatched(original, replacement, replacement->matched);
  {
    LastErrorKept kept;
    Sys().CloseHandle(original);
  }
  if (!ok) replacement->failed = true;
  return ok;
}

}  // namespace

bool BeginReplacement(FileReplacement* replacement, const char* target, std::uint64_t size) {
  std::memset(replacement, 0, sizeof *replacement);
  if (!target || !*target) return false;
  replacement->target = CopyText(target, nullptr);
  replacement->temporary = CopyText(target, kSuffix);
  if (!replacement->target || !replacement->temporary) {
    Release(replacement);
    return false;
  }
  Handle original = 0;
  switch (OpenForComparing(target, &original)) {
    case Look::Unreadable:
      Release(replacement);
      return false;
    case Look::NothingToCompare:
      break;
    case Look::Opened: {
      std::uint64_t originalSize = 0;
      bool sized = Sys().GetFileSize(original, &originalSize);
      if (sized && (size == kUnknownSize || size == originalSize)) {
        replacement->original = original;
        replacement->originalSize = originalSize;
        return true;
      }
      LastErrorKept kept;
      Sys().CloseHandle(original);
      if (!sized) {
        Release(replacement);
        return false;
      }
    }
  }
  if (!CreateTemporary(replacement)) {
    Release(replacement);
    return false;
  }
  return true;
}

bool WriteReplacement(FileReplacement* replacement, const void* bytes, std::uint32_t count) {
  if ((!replacement->handle && !replacement->original) || replacement->failed) return false;
  if (count == 0) return true;
  if (replacement->original) {
    if (replacement->matched + count <= replacement->originalSize) {
      int same = CompareNext(replacement->original, static_cast<const char*>(bytes), count);
      if (same < 0) replacement->failed = true;
      if (same != 0) {
        replacement->matched += same > 0 ? count : 0;
        return same > 0;
      }
    }
    if (!StopComparing(replacement)) return false;
  }
  if (!WriteTemporary(replacement, bytes, count)) replacement->failed = true;
  return !replacement->failed;
}

bool ReplaceHeldTarget(const char* source, const char* target,
                       std::span<const std::uint32_t> pauses) {
  for (std::uint32_t pause : pauses) {
    if (Sys().MoveFileReplace(source, target)) return true;
    if (!HeldForAMoment(target)) return false;
    Sys().Sleep(pause);
  }
  return Sys().MoveFileReplace(source, target);
}

bool CommitReplacement(FileReplacement* replacement, bool replaceExisting) {
  if (replacement->original && !replacement->failed) {
    // The target holds the new content already: nothing to write.
    if (replacement->matched == replacement->originalSize) {
      Release(replacement);
      return true;
    }
    StopComparing(replacement);  // the target is longer
  }
  if (!replacement->handle) {
    Release(replacement);
    return false;
  }
  bool ok = !replacement->failed && Sys().FlushFileBuffers(replacement->handle);
  ok = Sys().CloseHandle(replacement->handle) && ok;
  replacement->handle = 0;
  std::span<const std::uint32_t> pauses;
  if (RetryHeldTargets()) pauses = kHeldTargetPauses;
  ok = ok &&
       (replaceExisting ? ReplaceHeldTarget(replacement->temporary, replacement->target, pauses)
                        : Sys().MoveFileA(replacement->temporary, replacement->target));
  if (!ok) {
    LastErrorKept kept;
    Sys().DeleteFileA(replacement->temporary);
  }
  Release(replacement);
  return ok;
}

void AbandonReplacement(FileReplacement* replacement) {
  if (replacement->handle) {
    LastErrorKept kept;
    Sys().CloseHandle(replacement->handle);
    Sys().DeleteFileA(replacement->temporary);
  }
  Release(replacement);
}

bool FileHoldsContent(const char* path, const void* bytes, std::size_t count) {
  Handle file = 0;
  if (!path || OpenForComparing(path, &file) != Look::Opened) return false;
  std::uint64_t size = 0;
  bool same = Sys().GetFileSize(file, &size) && size == count &&
              CompareNext(file, static_cast<const char*>(bytes), count) > 0;
  Sys().CloseHandle(file);
  return same;
}

bool RetryHeldTargets() { return Sys().FilesAreHeldForAMoment(); }

bool ReplaceFileContent(const char* target, const void* bytes, std::size_t count,
                        ReleaseOriginal release, void* context, bool replaceExisting) {
  FileReplacement replacement;
  bool written = BeginReplacement(&replacement, target, count);
  const auto* at = static_cast<const char*>(bytes);
  while (written && count > 0) {
    std::uint32_t piece = count > 0x40000000u ? 0x40000000u : static_cast<std::uint32_t>(count);
    written = WriteReplacement(&replacement, at, piece);
    at += piece;
    count -= piece;
  }
  if (release) {
    LastErrorKept kept;
    release(context);
  }
  if (written) return CommitReplacement(&replacement, replaceExisting);
  AbandonReplacement(&replacement);
  return false;
}

}  // namespace qg
