// Where things stand in a bitmap file, for tests that build, cut or patch one byte by byte.
#pragma once

#include <cstddef>

namespace penamo::test {

inline constexpr std::size_t kFileHeaderBytes = 14;  // "BM", file size, reserved, pixel offset
inline constexpr std::size_t kInfoHeaderBytes = 40;
inline constexpr std::size_t kCoreHeaderBytes = 12;
inline constexpr std::size_t kMaskBytes = 12;        // red, green and blue masks after 40 bytes
inline constexpr std::size_t kColourEntryBytes = 4;  // blue, green, red, reserved
inline constexpr std::size_t kCoreColourEntryBytes = 3;

// The info header's first field, its own size.
inline constexpr std::size_t kHeaderSizeOffset = kFileHeaderBytes;
// Where what follows the headers (masks, colour table or pixels) begins.
inline constexpr std::size_t kAfterInfoHeader = kFileHeaderBytes + kInfoHeaderBytes;
inline constexpr std::size_t kAfterCoreHeader = kFileHeaderBytes + kCoreHeaderBytes;

}  // namespace penamo::test
