// The limits every picture obeys, whatever format it comes from: stated once here, checked
// before anything is allocated, so a file's claims never decide how much memory is taken.
#pragma once

#include <cstdint>
#include <optional>

namespace penamo {

// The largest width and the largest height of any picture, in pixels: the largest positive
// signed 32-bit value, so every width, height and coordinate fits an int32_t.
inline constexpr std::int64_t kMaxDimension = 0x7FFFFFFF;

// The number of rows of a signed height (negative: rows stored top-down). 64-bit, so the most
// negative 32-bit height has a magnitude too (one more than kMaxDimension).
constexpr std::int64_t HeightMagnitude(std::int32_t height) {
  return height < 0 ? -static_cast<std::int64_t>(height) : height;
}

// Whether a width and a signed height describe a picture this system makes: at least one pixel,
// neither dimension beyond kMaxDimension.
constexpr bool DimensionsFit(std::int64_t width, std::int64_t height) {
  const std::int64_t rows = height < 0 ? -height : height;
  return width > 0 && rows > 0 && width <= kMaxDimension && rows <= kMaxDimension;
}

// Row stride in bytes: the row's bits raised to a multiple of 32. 64-bit, so it cannot overflow
// for any 32-bit width and bit count.
std::uint64_t RowStride(std::int64_t width, int bitCount);

// Bytes of storage for |height| rows, or nothing when a dimension is beyond kMaxDimension, the
// size overflows, or it exceeds the storage limit (a size exactly at the limit fits). Checked
// before anything is allocated.
std::optional<std::uint64_t> StorageSize(std::int64_t width, std::int64_t height, int bitCount);

// The largest pixel block any picture may allocate. Defaults to a quarter of the physical
// memory; tests and the fuzzer lower it.
std::uint64_t StorageLimit();
void SetStorageLimit(std::uint64_t bytes);

// The 32-bit image-size field of a bitmap header for a pixel block of byteSize bytes: the size
// itself, or 0 ("not stated", which the format allows) when it does not fit 32 bits.
constexpr std::uint32_t SizeImageField(std::uint64_t byteSize) {
  return byteSize <= UINT32_MAX ? static_cast<std::uint32_t>(byteSize) : 0;
}

}  // namespace penamo
