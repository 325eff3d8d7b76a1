#include "Limits.h"

#include <unistd.h>

#include <atomic>
#include <limits>

namespace penamo {

namespace {

std::uint64_t DefaultStorageLimit() {
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long pageSize = ::sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || pageSize <= 0) return std::uint64_t{1} << 32;
  // A quarter: the program holds up to three pictures of one size at once (the loaded one,
  // its unshared copy while a save reads it, the filter's output).
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize) / 4;
}

std::atomic<std::uint64_t>& StorageLimitValue() {
  static std::atomic<std::uint64_t> limit{DefaultStorageLimit()};
  return limit;
}

}  // namespace

std::uint64_t RowStride(std::int64_t width, int bitCount) {
  const auto bits = static_cast<std::uint64_t>(width < 0 ? 0 : width) *
                    static_cast<std::uint64_t>(bitCount < 0 ? 0 : bitCount);
  return ((bits + 31) & ~std::uint64_t{31}) / 8;
}

std::optional<std::uint64_t> StorageSize(std::int64_t width, std::int64_t height, int bitCount) {
  if (width < 0 || height < 0 || bitCount <= 0 || bitCount > 64 || width > kMaxDimension ||
      height > kMaxDimension) {
    return std::nullopt;
  }
  const std::uint64_t stride = RowStride(width, bitCount);
  const auto rows = static_cast<std::uint64_t>(height);
  if (stride != 0 && rows > std::numeric_limits<std::uint64_t>::max() / stride) return std::nullopt;
  const std::uint64_t size = stride * rows;
  if (size > StorageLimit()) return std::nullopt;
  return size;
}

std::uint64_t StorageLimit() {
  return StorageLimitValue().load();
}

void SetStorageLimit(std::uint64_t bytes) {
  StorageLimitValue().store(bytes);
}

}  // namespace penamo
