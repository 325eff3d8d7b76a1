// The five filters written step by step on the straightforward conversion (YCbCr.h): one pixel
// at a time, every value in extended arithmetic. Slow (hundreds of nanoseconds a pixel), kept as
// the reference the fast filters of YReduce.h are compared with, byte for byte, and measured
// against.
#pragma once

#include <cstdint>

namespace penamo {

class TBitmap;

namespace straightforward {

bool YPatternDither4(TBitmap& Src, TBitmap& Dst);
bool YPatternDither16(TBitmap& Src, TBitmap& Dst);
bool YDiffError16(TBitmap& Src, TBitmap& Dst, std::uint8_t Strength);
bool YDiffError32(TBitmap& Src, TBitmap& Dst, std::uint8_t Strength);
bool YDiffError64(TBitmap& Src, TBitmap& Dst, std::uint8_t Strength);

}  // namespace straightforward
}  // namespace penamo
