#include "BitmapImage.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>

#include "Exceptions.h"
#include "Limits.h"

namespace penamo {

namespace {

// Blocks from this size on are mapped on their own (see MakePixels).
constexpr std::uint64_t kLargeBlock = std::uint64_t{8} << 20;
constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
// Under AddressSanitizer every block goes through its allocator, which checks each access.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitizedMemory = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitizedMemory = true;
#else
constexpr bool kSanitizedMemory = false;
#endif
#else
constexpr bool kSanitizedMemory = false;
#endif

}  // namespace

TBitmapImage::TBitmapImage(const TBitmapDescription& description) : Description(description) {}

TBitmapImage::~TBitmapImage() {
  FreePixels();
}

void TBitmapImage::FreePixels() {
  if (FMapping != nullptr) {
    ::munmap(FMapping, FMappingLength);
  } else {
    std::free(FPixels);
  }
  FPixels = nullptr;
  FMapping = nullptr;
  FMappingLength = 0;
}

int TBitmapImage::BitsPerPixel() const {
  if (FDeviceFormat || Description.Header.biBitCount == 0) return 24;
  return Description.Header.biBitCount;
}

std::int32_t TBitmapImage::Height() const {
  const std::int64_t h = HeightMagnitude(Description.Header.biHeight);
  // -2^31 has no positive 32-bit counterpart; storage of that height is never made, but a
  // description without pixels may still hold it.
  return static_cast<std::int32_t>(std::min(h, kMaxDimension));
}

void TBitmapImage::MakePixels(bool deviceFormat) {
  const auto& h = Description.Header;
  const int bits = deviceFormat || h.biBitCount == 0 ? 24 : h.biBitCount;
  const auto size = StorageSize(h.biWidth, HeightMagnitude(h.biHeight), bits);
  if (!size || *size == 0 || !DimensionsFit(h.biWidth, h.biHeight)) {
    throw EOutOfResources(Msg::OutOfResources, "picture-too-large");
  }
  std::uint8_t* pixels = nullptr;
  void* mapping = nullptr;
  std::size_t mappingLength = 0;
  if (*size >= kLargeBlock && !kSanitizedMemory) {
    // Large blocks come straight from the kernel: zero pages that cost nothing until written,
    // so a picture costs memory only where something is written to it; aligned to and
    // advised for 2 MiB pages, so filling a 48 MiB picture takes a few dozen page faults
    // rather than twelve thousand.
    mappingLength = static_cast<std::size_t>(*size) + kHugePage;
    mapping =
        ::mmap(nullptr, mappingLength, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED) throw EOutOfResources(Msg::OutOfResources, "pixel-mapping-failed");
    const auto start =
        (reinterpret_cast<std::uintptr_t>(mapping) + kHugePage - 1) & ~(kHugePage - 1);
    pixels = reinterpret_cast<std::uint8_t*>(start);
    ::madvise(pixels, static_cast<std::size_t>(*size), MADV_HUGEPAGE);
  } else {
    // calloc as well gives untouched zero pages for what it maps itself.
    pixels = static_cast<std::uint8_t*>(std::calloc(static_cast<std::size_t>(*size), 1));
    if (pixels == nullptr) throw EOutOfResources(Msg::OutOfResources, "pixel-allocation-failed");
  }
  FreePixels();
  FPixels = pixels;
  FMapping = mapping;
  FMappingLength = mappingLength;
  FDeviceFormat = deviceFormat;
  FStride = RowStride(h.biWidth, bits);
  FByteSize = *size;
}

void TBitmapImage::MakeExplicit() {
  if (!FDeviceFormat) return;
  FDeviceFormat = false;
  auto& h = Description.Header;
  h.biSize = sizeof(TBitmapInfoHeader);
  h.biPlanes = 1;
  h.biBitCount = 24;
  h.biCompression = BI_RGB;
  h.biSizeImage = SizeImageField(FByteSize);
}

std::uint8_t* TBitmapImage::Row(std::int32_t y) const {
  const std::int64_t place = BottomUp() ? Height() - 1 - static_cast<std::int64_t>(y) : y;
  return FPixels + static_cast<std::uint64_t>(place) * FStride;
}

}  // namespace penamo
