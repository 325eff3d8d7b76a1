// The storage limit lowered for one test: set on construction, restored on destruction, so a
// failing assertion that ends the test early cannot leave a small limit behind for the tests
// that follow. Every test that changes the limit does it through this class.
#pragma once

#include <cstdint>

#include "Limits.h"

namespace penamo::test {

class TStorageLimitScope {
 public:
  explicit TStorageLimitScope(std::uint64_t bytes) : FPrevious(StorageLimit()) {
    SetStorageLimit(bytes);
  }
  ~TStorageLimitScope() { SetStorageLimit(FPrevious); }
  TStorageLimitScope(const TStorageLimitScope&) = delete;
  TStorageLimitScope& operator=(const TStorageLimitScope&) = delete;

 private:
  std::uint64_t FPrevious;
};

}  // namespace penamo::test
