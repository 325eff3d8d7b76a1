// How a picture is described: the bitmap format's info header, colour-table entries and masks,
// and the pixel formats a caller may choose.
#pragma once

#include <cstdint>

namespace penamo {

// The values matter: they are the order of the formats a caller may choose.
enum class TPixelFormat {
  pfDevice = 0,
  pf1bit = 1,
  pf4bit = 2,
  pf8bit = 3,
  pf15bit = 4,
  pf16bit = 5,
  pf24bit = 6,
  pf32bit = 7,
  pfCustom = 8,
};

inline constexpr std::uint32_t BI_RGB = 0;
inline constexpr std::uint32_t BI_RLE8 = 1;
inline constexpr std::uint32_t BI_RLE4 = 2;
inline constexpr std::uint32_t BI_BITFIELDS = 3;
// Bit fields with an alpha mask beside the colour masks.
inline constexpr std::uint32_t BI_ALPHABITFIELDS = 6;

// The 40-byte info header of a bitmap file, field for field; also the description of a picture.
struct TBitmapInfoHeader {
  std::uint32_t biSize = 0;
  std::int32_t biWidth = 0;
  std::int32_t biHeight = 0;
  std::uint16_t biPlanes = 0;
  std::uint16_t biBitCount = 0;
  std::uint32_t biCompression = 0;
  std::uint32_t biSizeImage = 0;
  std::int32_t biXPelsPerMeter = 0;
  std::int32_t biYPelsPerMeter = 0;
  std::uint32_t biClrUsed = 0;
  std::uint32_t biClrImportant = 0;
};
static_assert(sizeof(TBitmapInfoHeader) == 40, "the info header is stored and written as is");

struct TRGBQuad {
  std::uint8_t rgbBlue = 0;
  std::uint8_t rgbGreen = 0;
  std::uint8_t rgbRed = 0;
  std::uint8_t rgbReserved = 0;
  friend bool operator==(const TRGBQuad&, const TRGBQuad&) = default;
};

// A picture's properties: the info header, then the red, green and blue masks of the bit-field
// formats.
struct TBitmapDescription {
  TBitmapInfoHeader Header;
  std::uint32_t Masks[3] = {0, 0, 0};
};

}  // namespace penamo
