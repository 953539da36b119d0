#include "system/platform.h"

#include <atomic>

namespace qg {

namespace {
std::atomic<Platform*> installed{nullptr};
}

Platform& Sys() {
  Platform* p = installed.load(std::memory_order_acquire);
  return p ? *p : NativePlatform();
}

Platform* SetPlatform(Platform* platform) {
  Platform* before = installed.exchange(platform, std::memory_order_acq_rel);
  return before ? before : &NativePlatform();
}

}  // namespace qg
