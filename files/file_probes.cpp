#include "files/file_probes.h"

#include <cstdint>

#include "system/platform.h"

namespace qg {

namespace {

Handle OpenForLooking(const char* path) {
  return Sys().CreateFileA(path, GENERIC_READ_ACCESS, FILE_SHARE_READ_MODE | FILE_SHARE_WRITE_MODE,
                           Creation::OpenExisting);
}

}  // namespace

bool IsEmptyFile(const char* path) {
  Handle file = OpenForLooking(path);
  if (!file) return false;
  std::uint64_t size = 1;
  bool empty = Sys().GetFileSize(file, &size) && size == 0;
  Sys().CloseHandle(file);
  return empty;
}

std::string ReadFileTail(const char* path, std::size_t limit) {
  Handle file = OpenForLooking(path);
  if (!file) return {};
  std::string tail;
  std::uint64_t size = 0;
  if (Sys().GetFileSize(file, &size)) {
    std::uint64_t skip = size > limit ? size - limit : 0;
    tail.resize(static_cast<std::size_t>(size - skip));
    std::uint32_t read = 0;
    if ((skip && !Sys().SetFilePointer(file, static_cast<std::int64_t>(skip), MoveMethod::Begin,
                                       nullptr)) ||
        !Sys().ReadFile(file, tail.data(), static_cast<std::uint32_t>(tail.size()), &read))
      read = 0;
    tail.resize(read);
    if (skip) {
      std::size_t lineEnd = tail.find('\n');
      tail.erase(0, lineEnd == std::string::npos ? tail.size() : lineEnd + 1);
    }
  }
  Sys().CloseHandle(file);
  return tail;
}

}  // namespace qg
