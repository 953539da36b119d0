// The last error on POSIX: a per-thread Windows error code, set from errno by
// the bodies that fail, and the texts of the codes they set.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "system/posix/posix_platform.h"

namespace qg {

namespace {

thread_local std::uint32_t lastError = NO_ERROR_CODE;

std::uint32_t CodeForErrno(int error) {
  switch (error) {
    case 0:
      return NO_ERROR_CODE;
    case ENOENT:
      return ERROR_FILE_NOT_FOUND_CODE;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND_CODE;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES_CODE;
    case EACCES:
    case EPERM:
    case EISDIR:
      return ERROR_ACCESS_DENIED_CODE;
    case EBADF:
      return ERROR_INVALID_HANDLE_CODE;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY_CODE;
    case EROFS:
      return ERROR_WRITE_PROTECT_CODE;
    case EEXIST:
      return ERROR_ALREADY_EXISTS_CODE;
    case EINVAL:
      return ERROR_INVALID_PARAMETER_CODE;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return ERROR_DISK_FULL_CODE;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE_CODE;
    default:
      return ERROR_GEN_FAILURE_CODE;
  }
}

struct ErrorText {
  std::uint32_t code;
  const char* text;
};

// Windows' own wording, so that a record reads the same on both systems.
constexpr ErrorText kTexts[] = {
    {NO_ERROR_CODE, "The operation completed successfully."},
    {ERROR_FILE_NOT_FOUND_CODE, "The system cannot find the file specified."},
    {ERROR_PATH_NOT_FOUND_CODE, "The system cannot find the path specified."},
    {ERROR_TOO_MANY_OPEN_FILES_CODE, "The system cannot open the file."},
    {ERROR_ACCESS_DENIED_CODE, "Access is denied."},
    {ERROR_INVALID_HANDLE_CODE, "The handle is invalid."},
    {ERROR_NOT_ENOUGH_MEMORY_CODE,
     "Not enough memory resources are available to process this "
     "command."},
    {ERROR_WRITE_PROTECT_CODE, "The media is write protected."},
    {ERROR_GEN_FAILURE_CODE, "A device attached to the system is not functioning."},
    {ERROR_NO_MORE_FILES_CODE, "There are no more files."},
    {ERROR_SHARING_VIOLATION_CODE,
     "The process cannot access the file because it is being used "
     "by another process."},
    {ERROR_LOCK_VIOLATION_CODE,
     "The process cannot access the file because another process has "
     "locked a portion of the file."},
    {ERROR_HANDLE_DISK_FULL_CODE, "The disk is full."},
    {ERROR_FILE_EXISTS_CODE, "The file exists."},
    {ERROR_INVALID_PARAMETER_CODE, "The parameter is incorrect."},
    {ERROR_DISK_FULL_CODE, "There is not enough space on the disk."},
    {ERROR_ALREADY_EXISTS_CODE, "Cannot create a file when that file already exists."},
    {ERROR_FILENAME_EXCED_RANGE_CODE, "The filename or extension is too long."},
    {ERROR_DIRECTORY_CODE, "The directory name is invalid."},
    {ERROR_NO_UNICODE_TRANSLATION_CODE,
     "No mapping for the Unicode character exists in the target multi-byte code page."},
};

}  // namespace

bool FailWithErrno(int error) { return FailWithCode(CodeForErrno(error)); }

bool FailWithCode(std::uint32_t code) {
  lastError = code;
  return false;
}

std::uint32_t PosixPlatform::GetLastError() { return lastError; }

void PosixPlatform::SetLastError(std::uint32_t code) { lastError = code; }

std::uint32_t PosixPlatform::FormatMessageA(std::uint32_t code, char* buffer,
                                            std::uint32_t capacity) {
  for (const ErrorText& entry : kTexts) {
    if (entry.code != code) continue;
    std::size_t length = std::strlen(entry.text);
    if (!buffer || length + 1 > capacity) {
      FailWithCode(ERROR_INVALID_PARAMETER_CODE);
      return 0;
    }
    std::memcpy(buffer, entry.text, length + 1);
    return static_cast<std::uint32_t>(length);
  }
  FailWithCode(ERROR_INVALID_PARAMETER_CODE);
  return 0;
}

}  // namespace qg
