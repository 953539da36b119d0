// Installs a platform for the life of a scope and puts the previous one back
// at its end.
#pragma once

#include "system/platform.h"

namespace qg::testing {

class PlatformScope {
 public:
  explicit PlatformScope(Platform& platform) : before_(SetPlatform(&platform)) {}
  ~PlatformScope() { SetPlatform(before_); }
  PlatformScope(const PlatformScope&) = delete;
  PlatformScope& operator=(const PlatformScope&) = delete;

 private:
  Platform* before_;
};

}  // namespace qg::testing
