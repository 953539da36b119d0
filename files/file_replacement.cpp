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

}  // namespace

bool BeginReplacement(FileReplacement* replacement, const char* target) {
  std::memset(replacement, 0, sizeof *replacement);
  if (!target || !*target) return false;
  replacement->target = CopyText(target, nullptr);
  replacement->temporary = CopyText(target, kSuffix);
  if (!replacement->target || !replacement->temporary) {
    Release(replacement);
    return false;
  }
  // Shared with readers only, like the files it replaces: a second writer
  // (another launcher in the same bundle) cannot interleave its bytes.
  replacement->handle =
      Sys().CreateFileA(replacement->temporary, GENERIC_READ_ACCESS | GENERIC_WRITE_ACCESS,
                        FILE_SHARE_READ_MODE, Creation::CreateAlways);
  if (!replacement->handle) {
    Release(replacement);
    return false;
  }
  return true;
}

bool WriteReplacement(FileReplacement* replacement, const void* bytes, std::uint32_t count) {
  if (!replacement->handle || replacement->failed) return false;
  if (count == 0) return true;
  std::uint32_t written = 0;
  if (!Sys().WriteFile(replacement->handle, bytes, count, &written)) {
    replacement->failed = true;
  } else if (written != count) {
    Sys().SetLastError(ERROR_DISK_FULL_CODE);
    replacement->failed = true;
  }
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

bool RetryHeldTargets() { return Sys().FilesAreHeldForAMoment(); }

bool ReplaceFileContent(const char* target, const void* bytes, std::size_t count,
                        ReleaseOriginal release, void* context, bool replaceExisting) {
  FileReplacement replacement;
  bool written = BeginReplacement(&replacement, target);
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
