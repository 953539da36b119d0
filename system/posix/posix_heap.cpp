// The private heap on POSIX sits on the C heap. Each block carries a 16-byte
// header with its requested size, so that HeapReAlloc can zero exactly the
// grown part (as HEAP_ZERO_MEMORY does) and blocks stay 16-byte aligned.
#include <cstdlib>
#include <cstring>

#include "system/posix/posix_platform.h"

namespace qg {

namespace {
constexpr std::size_t kHeader = 16;

void* Payload(void* raw, std::size_t size) {
  *static_cast<std::size_t*>(raw) = size;
  return static_cast<char*>(raw) + kHeader;
}
void* RawOf(void* block) { return static_cast<char*>(block) - kHeader; }
}  // namespace

void* PosixPlatform::HeapAlloc(std::size_t size, bool zero) {
  if (size > SIZE_MAX - kHeader) return nullptr;
  void* raw = zero ? std::calloc(1, size + kHeader) : std::malloc(size + kHeader);
  return raw ? Payload(raw, size) : nullptr;
}

void* PosixPlatform::HeapReAlloc(void* block, std::size_t size, bool zero) {
  if (!block) return HeapAlloc(size, zero);
  if (size > SIZE_MAX - kHeader) return nullptr;
  void* raw = RawOf(block);
  std::size_t old = *static_cast<std::size_t*>(raw);
  void* grown = std::realloc(raw, size + kHeader);
  if (!grown) return nullptr;
  char* payload = static_cast<char*>(Payload(grown, size));
  if (zero && size > old) std::memset(payload + old, 0, size - old);
  return payload;
}

bool PosixPlatform::HeapFree(void* block) {
  if (block) std::free(RawOf(block));
  return true;
}

}  // namespace qg
