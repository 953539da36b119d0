// The private heap: a growable Windows heap of 4096 bytes at first, made on
// first use. Its blocks are 8-aligned (16 on 64-bit Windows). It is not
// destroyed by the program: Windows releases it with the process, after the
// other threads have stopped, which a HeapDestroy of ours could not ensure.
#include "system/windows/win32_platform.h"

namespace qg {

HANDLE Win32Platform::Heap() {
  HANDLE heap = heap_.load(std::memory_order_acquire);
  if (heap) return heap;
  HANDLE made = ::HeapCreate(0, 4096, 0);
  if (!made) return nullptr;
  HANDLE expected = nullptr;
  if (!heap_.compare_exchange_strong(expected, made, std::memory_order_acq_rel)) {
    ::HeapDestroy(made);  // another thread was first
    return expected;
  }
  return made;
}

void* Win32Platform::HeapAlloc(std::size_t size, bool zero) {
  HANDLE heap = Heap();
  return heap ? ::HeapAlloc(heap, zero ? HEAP_ZERO_MEMORY : 0, size) : nullptr;
}

void* Win32Platform::HeapReAlloc(void* block, std::size_t size, bool zero) {
  if (!block) return HeapAlloc(size, zero);
  HANDLE heap = Heap();
  return heap ? ::HeapReAlloc(heap, zero ? HEAP_ZERO_MEMORY : 0, block, size) : nullptr;
}

bool Win32Platform::HeapFree(void* block) {
  if (!block) return true;
  HANDLE heap = Heap();
  return heap && ::HeapFree(heap, 0, block) != FALSE;
}

}  // namespace qg
