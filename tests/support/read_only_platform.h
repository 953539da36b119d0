// A platform on which some files cannot be written, as on a write-protected
// medium: an open for writing, a rename, a deletion or a cut of a path that
// `Refuses` takes fails with ERROR_WRITE_PROTECT before it reaches the inner
// platform; everything else passes on. It notes every refused path and counts
// the writes that reached the inner platform.
//
//   testing::ReadOnlyPlatform media(NativePlatform());   // no path writable
//   testing::SimulatedPlatform sim(media);
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/forwarding_platform.h"

namespace qg::testing {

class ReadOnlyPlatform final : public ForwardingPlatform {
 public:
  explicit ReadOnlyPlatform(Platform& inner) : ForwardingPlatform(inner) {}

  // Only paths that contain `part` are refused (every path by default).
  void RefuseOnly(std::string part) {
    std::lock_guard<std::mutex> lock(mutex_);
    part_ = std::move(part);
  }
  bool Refuses(const char* path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return path && std::string(path).find(part_) != std::string::npos;
  }
  // The paths whose change was refused, in order.
  std::vector<std::string> Refused() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return refused_;
  }
  // WriteFile calls that reached the inner platform.
  int Writes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return writes_;
  }
  // Opens for writing and renames that reached the inner platform.
  int Changes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return changes_;
  }

  Handle CreateFileA(const char* path, std::uint32_t access, std::uint32_t share,
                     Creation creation) override {
    if (access & GENERIC_WRITE_ACCESS) {
      if (Refuse(path)) return 0;
      Count(changes_);
    } else if (creation != Creation::OpenExisting && Refuses(path) && !Exists(path)) {
      Refuse(path);  // would create it
      return 0;
    }
    return inner_.CreateFileA(path, access, share, creation);
  }
  bool WriteFile(Handle file, const void* buffer, std::uint32_t count,
                 std::uint32_t* written) override {
    Count(writes_);
    return inner_.WriteFile(file, buffer, count, written);
  }
  bool MoveFileReplace(const char* source, const char* target) override {
    if (Refuse(source) || Refuse(target)) return false;
    Count(changes_);
    return inner_.MoveFileReplace(source, target);
  }
  bool MoveFileA(const char* source, const char* target) override {
    if (Refuse(source) || Refuse(target)) return false;
    Count(changes_);
    return inner_.MoveFileA(source, target);
  }
  bool DeleteFileA(const char* path) override {
    if (Refuse(path)) return false;
    Count(changes_);
    return inner_.DeleteFileA(path);
  }

 private:
  bool Exists(const char* path) {
    return inner_.GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES_VALUE;
  }
  // Refuses `path` when it is one of the read-only ones: true, with the
  // system's error for a write-protected medium.
  bool Refuse(const char* path) {
    if (!Refuses(path)) return false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      refused_.push_back(path);
    }
    inner_.SetLastError(ERROR_WRITE_PROTECT_CODE);
    return true;
  }
  void Count(int& counter) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++counter;
  }

  mutable std::mutex mutex_;
  std::string part_;
  std::vector<std::string> refused_;
  int writes_ = 0;
  int changes_ = 0;
};

}  // namespace qg::testing
