#include "system/posix/posix_platform.h"

#include <unistd.h>

namespace qg {

FileObject::~FileObject() {
  if (fd >= 0) ::close(fd);
}

Handle HandleTable::Add(std::shared_ptr<HandleObject> object) {
  std::lock_guard<std::mutex> lock(mutex_);
  Handle handle = next_;
  next_ += 4;  // handle values look like Windows ones: multiples of 4, never 0
  objects_.emplace(handle, std::move(object));
  return handle;
}

std::shared_ptr<HandleObject> HandleTable::Get(Handle handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = objects_.find(handle);
  return found == objects_.end() ? nullptr : found->second;
}

bool HandleTable::Remove(Handle handle) {
  std::shared_ptr<HandleObject> removed;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = objects_.find(handle);
    if (found == objects_.end()) return false;
    removed = std::move(found->second);
    objects_.erase(found);
  }
  return true;  // the object is destroyed here, outside the lock
}

int PosixPlatform::DescriptorOf(Handle handle) {
  auto file = handles_.GetAs<FileObject>(handle);
  return file ? file->fd : -1;
}

bool PosixPlatform::CloseHandle(Handle handle) {
  return handles_.Remove(handle) || FailWithCode(ERROR_INVALID_HANDLE_CODE);
}

Platform& NativePlatform() {
  static PosixPlatform* platform = new PosixPlatform();  // lives until exit
  return *platform;
}

}  // namespace qg
