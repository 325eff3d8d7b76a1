#include "Limits.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <limits>

namespace penamo {

namespace {

std::uint64_t DefaultStorageLimit() {
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long pageSize = ::sysconf(_SC_PAGE_SIZE);
  std::uint64_t memory = pages <= 0 || pageSize <= 0 ? std::uint64_t{1} << 34
                                                     : static_cast<std::uint64_t>(pages) *
                                                           static_cast<std::uint64_t>(pageSize);
  // A limit on the address space or the data segment is the memory this process really has: a
  // library refused an allocation under it may not survive it, so the estimates keep below it.
  for (const int resource : {RLIMIT_AS, RLIMIT_DATA}) {
    rlimit limit{};
    if (::getrlimit(resource, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
      memory = std::min<std::uint64_t>(memory, limit.rlim_cur);
  }
  // A quarter: the program holds up to three pictures of one size at once (the loaded one,
  // its unshared copy while a save reads it, the filter's output).
  return memory / 4;
}

std::atomic<bool>& ClaimRuleLiftedValue() {
  static std::atomic<bool> lifted{false};
  return lifted;
}

// The rule of the scope open on this thread: -1 none (the process's rule holds), 0 kept, 1 lifted.
thread_local int tScopedClaimRule = -1;

// 1234567 as "1,234,567".
std::string Grouped(std::uint64_t value) {
  const std::string digits = std::to_string(value);
  std::string grouped;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return grouped;
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

std::uint64_t ClaimablePixels(std::uint64_t fileBytes, std::uint64_t pixelsPerByte) {
  if (pixelsPerByte != 0 && fileBytes > std::numeric_limits<std::uint64_t>::max() / pixelsPerByte)
    return std::numeric_limits<std::uint64_t>::max();
  return std::max(kClaimFloorPixels, fileBytes * pixelsPerByte);
}

EClaimBeyondData::EClaimBeyondData(const TClaim& claim, const std::string& reason)
    : EInvalidGraphic("ファイルが示す画像 (" + Grouped(static_cast<std::uint64_t>(claim.Width)) +
                          " × " + Grouped(static_cast<std::uint64_t>(claim.Height)) +
                          " ピクセル) は、ファイルのデータ (" + Grouped(claim.FileBytes) +
                          " バイト) に比べて大きすぎます",
                      reason),
      FClaim(claim) {}

void CheckClaim(std::int64_t width, std::int64_t height, std::uint64_t fileBytes,
                std::uint64_t pixelsPerByte, const std::string& reason) {
  if (width <= 0 || height <= 0 || ClaimRuleLifted()) return;
  const auto w = static_cast<std::uint64_t>(width);
  const auto h = static_cast<std::uint64_t>(height);
  const std::uint64_t allowed = ClaimablePixels(fileBytes, pixelsPerByte);
  // w x h > allowed, without overflow.
  if (w > allowed / h) throw EClaimBeyondData({width, height, fileBytes}, reason);
}

bool ClaimRuleLifted() {
  if (tScopedClaimRule >= 0) return tScopedClaimRule == 1;
  return ClaimRuleLiftedValue().load();
}

TClaimRuleScope::TClaimRuleScope(bool lifted) : FWas(tScopedClaimRule) {
  tScopedClaimRule = lifted ? 1 : 0;
}

TClaimRuleScope::~TClaimRuleScope() {
  tScopedClaimRule = FWas;
}

void SetClaimRuleLifted(bool lifted) {
  ClaimRuleLiftedValue().store(lifted);
}

}  // namespace penamo
