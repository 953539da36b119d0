// Files, the current directory and code-page conversion on POSIX.
//
// Share modes: Windows refuses an open whose access another open's share mode
// does not allow, or whose share mode does not allow another open's access.
// POSIX has no such rule, so every open here records its access and the
// shares it denies as shared open-file-description locks on four bytes far
// beyond any real content, and tests the other opens' records before it
// takes its own. The locks are advisory: they bind the opens made through
// this layer (in any process), not other programs.
//
// Read-only files: a file without any write permission bit plays the part of
// a file with Windows' read-only attribute. An open for writing fails on it
// and a rename does not replace it, also for root, who could write it anyway.
//
// The ANSI code page of this build is ISO-8859-1: byte values are the code
// points 0-255.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "system/posix/posix_platform.h"

namespace qg {

namespace {

// Positions past 4 GiB, and the share records far beyond them, need 64-bit
// offsets also in a 32-bit build (_FILE_OFFSET_BITS=64).
static_assert(sizeof(off_t) == 8, "file offsets must be 64 bits wide");
constexpr off_t kShareBase = static_cast<off_t>(0x7FFFFFFF00000000LL);
enum ShareByte { AccessRead = 0, AccessWrite = 1, DenyRead = 2, DenyWrite = 3 };

bool HeldByOther(int fd, ShareByte byte) {
  struct flock probe {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  probe.l_start = kShareBase + byte;
  probe.l_len = 1;
  if (::fcntl(fd, F_OFD_GETLK, &probe) != 0) return false;
  return probe.l_type != F_UNLCK;
}

void Hold(int fd, ShareByte byte) {
  struct flock lock {};
  lock.l_type = F_RDLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = kShareBase + byte;
  lock.l_len = 1;
  (void)::fcntl(fd, F_OFD_SETLK, &lock);  // best effort: a write-only open cannot hold one
}

// Applies the sharing rule; false when another open forbids this one.
bool TakeShare(int fd, bool read, bool write, std::uint32_t share) {
  bool denyRead = !(share & FILE_SHARE_READ_MODE);
  bool denyWrite = !(share & FILE_SHARE_WRITE_MODE);
  if ((read && HeldByOther(fd, DenyRead)) || (write && HeldByOther(fd, DenyWrite)) ||
      (denyRead && HeldByOther(fd, AccessRead)) || (denyWrite && HeldByOther(fd, AccessWrite)))
    return false;
  if (read) Hold(fd, AccessRead);
  if (write) Hold(fd, AccessWrite);
  if (denyRead) Hold(fd, DenyRead);
  if (denyWrite) Hold(fd, DenyWrite);
  return true;
}

bool IsReadOnly(const struct stat& info) {
  return S_ISREG(info.st_mode) && !(info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH));
}

std::uint32_t AttributesOf(const struct stat& info) {
  std::uint32_t attributes = S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY_FLAG : 0;
  if (IsReadOnly(info)) attributes |= FILE_ATTRIBUTE_READONLY_FLAG;
  // Windows gives FILE_ATTRIBUTE_NORMAL (0x80) to a file with no other flag.
  return attributes ? attributes : 0x80;
}

// Windows tells a missing file (the folder exists) from a missing folder.
bool FailMissing(const char* path, bool creating) {
  std::string folder(path);
  std::size_t slash = folder.find_last_of('/');
  folder = slash == std::string::npos ? "." : slash == 0 ? "/" : folder.substr(0, slash);
  struct stat info {};
  bool folderThere = ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
  return FailWithCode(folderThere && !creating ? ERROR_FILE_NOT_FOUND_CODE
                                               : ERROR_PATH_NOT_FOUND_CODE);
}

}  // namespace

Handle PosixPlatform::CreateFileA(const char* path, std::uint32_t access, std::uint32_t share,
                                  Creation creation) {
  if (!path || !*path) {
    FailWithCode(ERROR_PATH_NOT_FOUND_CODE);
    return 0;
  }
  bool read = access & GENERIC_READ_ACCESS;
  bool write = access & GENERIC_WRITE_ACCESS;
  int flags = O_CLOEXEC | (read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY);
  switch (creation) {
    case Creation::CreateNew:
      flags |= O_CREAT | O_EXCL;
      break;
    case Creation::CreateAlways:
    case Creation::OpenAlways:
      flags |= O_CREAT;
      break;
    case Creation::OpenExisting:
      break;
  }
  int fd = ::open(path, flags, 0666);
  if (fd < 0) {
    int error = errno;
    if (error == ENOENT)
      FailMissing(path, flags & O_CREAT);
    else
      FailWithErrno(error);
    return 0;
  }
  struct stat info {};
  std::uint32_t refusal = NO_ERROR_CODE;
  if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode) || (write && IsReadOnly(info)))
    refusal = ERROR_ACCESS_DENIED_CODE;
  else if (!TakeShare(fd, read, write, share))
    refusal = ERROR_SHARING_VIOLATION_CODE;
  // Emptied only once the sharing rule allowed the open, as on Windows.
  else if (creation == Creation::CreateAlways && ::ftruncate(fd, 0) != 0)
    refusal = ERROR_ACCESS_DENIED_CODE;
  if (refusal != NO_ERROR_CODE) {
    ::close(fd);
    FailWithCode(refusal);
    return 0;
  }
  return handles_.Add(std::make_shared<FileObject>(fd));
}

bool PosixPlatform::ReadFile(Handle file, void* buffer, std::uint32_t count, std::uint32_t* read) {
  if (read) *read = 0;
  int fd = DescriptorOf(file);
  if (fd < 0) return FailWithCode(ERROR_INVALID_HANDLE_CODE);
  struct stat info {};
  bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  std::uint32_t total = 0;
  while (total < count) {
    ssize_t got = ::read(fd, static_cast<char*>(buffer) + total, count - total);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      if (read) *read = total;
      return FailWithErrno(errno);
    }
    total += static_cast<std::uint32_t>(got);
    if (got == 0 || !regular) break;  // end of file, or a pipe: hand out what came
  }
  if (read) *read = total;
  return true;
}

bool PosixPlatform::WriteFile(Handle file, const void* buffer, std::uint32_t count,
                              std::uint32_t* written) {
  if (written) *written = 0;
  int fd = DescriptorOf(file);
  if (fd < 0) return FailWithCode(ERROR_INVALID_HANDLE_CODE);
  std::uint32_t total = 0;
  while (total < count) {
    ssize_t put = ::write(fd, static_cast<const char*>(buffer) + total, count - total);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      if (written) *written = total;
      return FailWithErrno(put < 0 ? errno : ENOSPC);
    }
    total += static_cast<std::uint32_t>(put);
  }
  if (written) *written = total;
  return true;
}

bool PosixPlatform::SetFilePointer(Handle file, std::int64_t distance, MoveMethod method,
                                   std::int64_t* position) {
  int fd = DescriptorOf(file);
  if (fd < 0) return FailWithCode(ERROR_INVALID_HANDLE_CODE);
  int whence = method == MoveMethod::Begin     ? SEEK_SET
               : method == MoveMethod::Current ? SEEK_CUR
                                               : SEEK_END;
  off_t at = ::lseek(fd, static_cast<off_t>(distance), whence);
  if (at < 0) return FailWithErrno(errno);
  if (position) *position = at;
  return true;
}

bool PosixPlatform::SetEndOfFile(Handle file) {
  int fd = DescriptorOf(file);
  if (fd < 0) return FailWithCode(ERROR_INVALID_HANDLE_CODE);
  off_t at = ::lseek(fd, 0, SEEK_CUR);
  return (at >= 0 && ::ftruncate(fd, at) == 0) || FailWithErrno(errno);
}

bool PosixPlatform::GetFileSize(Handle file, std::uint64_t* size) {
  int fd = DescriptorOf(file);
  struct stat info {};
  if (fd < 0) return FailWithCode(ERROR_INVALID_HANDLE_CODE);
  if (::fstat(fd, &info) != 0) return FailWithErrno(errno);
  if (size) *size = static_cast<std::uint64_t>(info.st_size);
  return true;
}

bool PosixPlatform::FlushFileBuffers(Handle file) {
  int fd = DescriptorOf(file);
  if (fd < 0) return FailWithCode(ERROR_INVALID_HANDLE_CODE);
  return ::fsync(fd) == 0 || FailWithErrno(errno);
}

namespace {

// Whether any open made through this layer holds `path`: Windows refuses to
// rename over (or delete) a file that is open without delete sharing, which
// every open here is.
bool HeldOpen(const char* path) {
  int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct flock probe {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  probe.l_start = kShareBase;
  probe.l_len = 4;
  bool held = ::fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
  ::close(fd);
  return held;
}

// Makes a rename durable: syncs the folder that holds `target`.
void SyncFolderOf(const char* target) {
  std::string folder(target);
  std::size_t slash = folder.find_last_of('/');
  folder = slash == std::string::npos ? "." : slash == 0 ? "/" : folder.substr(0, slash);
  int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    (void)::fsync(dir);
    ::close(dir);
  }
}

}  // namespace

bool PosixPlatform::MoveFileReplace(const char* source, const char* target) {
  if (!source || !target) return FailWithCode(ERROR_INVALID_PARAMETER_CODE);
  struct stat info {};
  if (::stat(target, &info) == 0) {
    if (IsReadOnly(info)) return FailWithCode(ERROR_ACCESS_DENIED_CODE);
    if (HeldOpen(target)) return FailWithCode(ERROR_SHARING_VIOLATION_CODE);
  }
  if (::rename(source, target) != 0) return FailWithErrno(errno);
  SyncFolderOf(target);
  return true;
}

bool PosixPlatform::MoveFileA(const char* source, const char* target) {
  if (!source || !target) return FailWithCode(ERROR_INVALID_PARAMETER_CODE);
  // link fails when the target exists, so nothing is ever replaced.
  if (::link(source, target) != 0) return FailWithErrno(errno);
  ::unlink(source);
  SyncFolderOf(target);
  return true;
}

bool PosixPlatform::DeleteFileA(const char* path) {
  if (!path) return FailWithCode(ERROR_INVALID_PARAMETER_CODE);
  if (HeldOpen(path)) return FailWithCode(ERROR_SHARING_VIOLATION_CODE);
  return ::unlink(path) == 0 || FailWithErrno(errno);
}

std::uint32_t PosixPlatform::GetFileAttributesA(const char* path) {
  struct stat info {};
  if (!path || ::stat(path, &info) != 0) {
    int error = path ? errno : EINVAL;
    if (error == ENOENT)
      FailMissing(path, false);
    else
      FailWithErrno(error);
    return INVALID_FILE_ATTRIBUTES_VALUE;
  }
  return AttributesOf(info);
}

std::uint32_t PosixPlatform::GetCurrentDirectoryA(std::uint32_t size, char* buffer) {
  char* cwd = ::getcwd(nullptr, 0);
  if (!cwd) {
    FailWithErrno(errno);
    return 0;
  }
  std::size_t length = std::strlen(cwd);
  std::uint32_t result;
  if (length >= UINT32_MAX) {
    result = 0;
  } else if (!buffer || length + 1 > size) {
    result = static_cast<std::uint32_t>(length + 1);
  } else {
    std::memcpy(buffer, cwd, length + 1);
    result = static_cast<std::uint32_t>(length);
  }
  std::free(cwd);
  return result;
}

int PosixPlatform::MultiByteToWideChar(const char* text, int length, char16_t* out, int capacity) {
  if (!text || length == 0 || length < -1 || capacity < 0) return 0;
  std::size_t count = length == -1 ? std::strlen(text) + 1 : static_cast<std::size_t>(length);
  if (count > INT_MAX) return 0;
  if (capacity == 0) return static_cast<int>(count);
  if (!out || static_cast<std::size_t>(capacity) < count) return 0;
  for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<unsigned char>(text[i]);
  return static_cast<int>(count);
}

int PosixPlatform::WideCharToMultiByte(const char16_t* units, int length, char* out, int capacity) {
  if (!units || length == 0 || length < -1 || capacity < 0) return 0;
  std::size_t count = 0;
  if (length == -1) {
    while (units[count] != 0) ++count;
    ++count;
  } else {
    count = static_cast<std::size_t>(length);
  }
  if (count > INT_MAX) return 0;
  if (capacity == 0) return static_cast<int>(count);
  if (!out || static_cast<std::size_t>(capacity) < count) return 0;
  for (std::size_t i = 0; i < count; ++i)
    out[i] = units[i] < 256 ? static_cast<char>(units[i]) : '?';
  return static_cast<int>(count);
}

}  // namespace qg

namespace qg {

// POSIX names are bytes: "A" and "a" are two files.
bool PosixPlatform::FileNamesIgnoreCase() { return false; }

// A rename over a file is refused only by this program's own emulated
// sharing rules, which do not pass in a moment.
bool PosixPlatform::FilesAreHeldForAMoment() { return false; }

}  // namespace qg

// --- folder listings ---------------------------------------------------------------
//
// A listing of "folder/*" is an open directory stream: its entries come in
// readdir's order, "." and ".." among them, each with the attributes of what
// it names (a link to a folder counts as a folder, as GetFileAttributesA
// takes it). A plain name is a listing of that one entry. POSIX keeps no
// short names.

namespace qg {

namespace {

struct FindObject : HandleObject {
  DIR* dir = nullptr;  // null: a listing of one entry, already given
  explicit FindObject(DIR* stream) : dir(stream) {}
  ~FindObject() override {
    if (dir) ::closedir(dir);
  }
};

// Fills `data` for the entry `name` with the attributes `info` gives.
bool FillEntry(const std::string& name, std::uint32_t attributes, FindDataW* data) {
  std::u16string wide = WideFromPathBytes(name);
  // NAME_MAX bytes never decode to more units than that.
  if (wide.size() >= MAX_PATH_LENGTH) return FailWithCode(ERROR_FILENAME_EXCED_RANGE_CODE);
  *data = FindDataW{};
  data->dwFileAttributes = attributes;
  std::copy(wide.begin(), wide.end(), data->cFileName);
  return true;
}

// The stream's next entry; an entry gone before it could be looked at is
// passed over, as it would not have been listed a moment later.
bool NextEntry(DIR* dir, FindDataW* data) {
  for (;;) {
    errno = 0;
    struct dirent* entry = ::readdir(dir);
    if (!entry) return errno ? FailWithErrno(errno) : FailWithCode(ERROR_NO_MORE_FILES_CODE);
    struct stat info {};
    std::uint32_t attributes;
    if (::fstatat(::dirfd(dir), entry->d_name, &info, 0) == 0 ||
        ::fstatat(::dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0) {
      attributes = AttributesOf(info);  // a dangling link: the link itself
    } else if (errno == ENOENT) {
      continue;
    } else {
      // Listed but not to be looked at (a folder readable but not
      // searchable): what the listing itself tells.
      attributes = entry->d_type == DT_DIR ? FILE_ATTRIBUTE_DIRECTORY_FLAG : 0x80;
    }
    return FillEntry(entry->d_name, attributes, data);
  }
}

}  // namespace

Handle PosixPlatform::FindFirstFileW(const char16_t* pattern, FindDataW* data) {
  std::string bytes;
  if (!pattern || !data ||
      !PathBytesFromWide(pattern, std::char_traits<char16_t>::length(pattern), &bytes)) {
    FailWithCode(ERROR_INVALID_PARAMETER_CODE);
    return 0;
  }
  std::size_t slash = bytes.find_last_of('/');
  std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : bytes.substr(0, slash);
  std::string last = slash == std::string::npos ? bytes : bytes.substr(slash + 1);
  if (last.empty()) {
    FailWithCode(ERROR_FILE_NOT_FOUND_CODE);
    return 0;
  }
  if (last.find_first_of("*?") != std::string::npos) {
    if (last != "*") {
      FailWithCode(ERROR_INVALID_PARAMETER_CODE);
      return 0;
    }
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) {
      int error = errno;
      struct stat info {};
      if (error == ENOENT)
        FailWithCode(ERROR_PATH_NOT_FOUND_CODE);
      else if (error == ENOTDIR && ::stat(folder.c_str(), &info) == 0)
        FailWithCode(ERROR_DIRECTORY_CODE);
      else
        FailWithErrno(error);
      return 0;
    }
    auto listing = std::make_shared<FindObject>(dir);
    if (!NextEntry(dir, data)) {
      // An empty listing: Windows says nothing matched.
      if (GetLastError() == ERROR_NO_MORE_FILES_CODE) FailWithCode(ERROR_FILE_NOT_FOUND_CODE);
      return 0;
    }
    return handles_.Add(listing);
  }
  struct stat info {};
  if (::stat(bytes.c_str(), &info) != 0 && ::lstat(bytes.c_str(), &info) != 0) {
    int error = errno;
    if (error == ENOENT)
      FailMissing(bytes.c_str(), false);
    else
      FailWithErrno(error);
    return 0;
  }
  if (!FillEntry(last, AttributesOf(info), data)) return 0;
  return handles_.Add(std::make_shared<FindObject>(nullptr));
}

bool PosixPlatform::FindNextFileW(Handle find, FindDataW* data) {
  auto listing = handles_.GetAs<FindObject>(find);
  if (!listing) return FailWithCode(ERROR_INVALID_HANDLE_CODE);
  if (!data) return FailWithCode(ERROR_INVALID_PARAMETER_CODE);
  if (!listing->dir) return FailWithCode(ERROR_NO_MORE_FILES_CODE);
  return NextEntry(listing->dir, data);
}

bool PosixPlatform::FindClose(Handle find) {
  if (!handles_.GetAs<FindObject>(find)) return FailWithCode(ERROR_INVALID_HANDLE_CODE);
  return handles_.Remove(find);
}

}  // namespace qg
