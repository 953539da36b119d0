// Platform wrappers for the XML tests and benchmarks: one that counts live
// heap bytes, and one that records each WriteFile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "system/platform.h"
#include "tests/support/forwarding_platform.h"
#include "tests/support/platform_scope.h"

namespace qg::testing {

class HeapCountingPlatform : public ForwardingPlatform {
 public:
  using ForwardingPlatform::ForwardingPlatform;

  void* HeapAlloc(std::size_t size, bool zero) override {
    char* raw = static_cast<char*>(inner_.HeapAlloc(size + kHeader, zero));
    if (!raw) return nullptr;
    *reinterpret_cast<std::size_t*>(raw) = size;
    Add(static_cast<std::int64_t>(size));
    ++blocks_;
    return raw + kHeader;
  }
  void* HeapReAlloc(void* block, std::size_t size, bool zero) override {
    if (!block) return HeapAlloc(size, zero);
    char* raw = static_cast<char*>(block) - kHeader;
    std::size_t old = *reinterpret_cast<std::size_t*>(raw);
    char* grown = static_cast<char*>(inner_.HeapReAlloc(raw, size + kHeader, zero));
    if (!grown) return nullptr;
    *reinterpret_cast<std::size_t*>(grown) = size;
    Add(static_cast<std::int64_t>(size) - static_cast<std::int64_t>(old));
    return grown + kHeader;
  }
  bool HeapFree(void* block) override {
    if (!block) return true;
    char* raw = static_cast<char*>(block) - kHeader;
    Add(-static_cast<std::int64_t>(*reinterpret_cast<std::size_t*>(raw)));
    --blocks_;
    return inner_.HeapFree(raw);
  }

  std::int64_t LiveBytes() const { return live_; }
  std::int64_t LiveBlocks() const { return blocks_; }
  std::int64_t PeakBytes() const { return peak_; }
  void ResetPeak() { peak_ = live_; }

 private:
  static constexpr std::size_t kHeader = 16;
  void Add(std::int64_t delta) {
    live_ += delta;
    if (live_ > peak_) peak_ = live_;
  }
  std::int64_t live_ = 0;
  std::int64_t peak_ = 0;
  std::int64_t blocks_ = 0;
};

// Records the size of every WriteFile.
class WriteRecordingPlatform : public ForwardingPlatform {
 public:
  using ForwardingPlatform::ForwardingPlatform;
  bool WriteFile(Handle file, const void* buffer, std::uint32_t count,
                 std::uint32_t* written) override {
    writes.push_back(count);
    return inner_.WriteFile(file, buffer, count, written);
  }
  std::vector<std::uint32_t> writes;
};

}  // namespace qg::testing
