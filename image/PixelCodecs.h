// Pixel codecs: rows of any stored format to and from blue, green, red bytes. The layout of a
// picture's rows is decided once, when the codec is made, never per pixel.
#pragma once

#include <bit>
#include <cstdint>

#include "BitmapImage.h"

namespace penamo {

struct TChannel {
  std::uint32_t Mask = 0;
  int Shift = 0;
  std::uint64_t Max = 0;

  explicit TChannel(std::uint32_t mask = 0) : Mask(mask) {
    if (mask != 0) {
      Shift = std::countr_zero(mask);
      Max = mask >> Shift;
    }
  }
  std::uint8_t Decode(std::uint32_t pixel) const {
    if (Max == 0) return 0;
    const std::uint64_t v = (pixel & Mask) >> Shift;
    return static_cast<std::uint8_t>((v * 255 + Max / 2) / Max);
  }
  std::uint32_t Encode(std::uint8_t value) const {
    if (Max == 0) return 0;
    return static_cast<std::uint32_t>(((value * Max + 127) / 255) << Shift) & Mask;
  }
};

struct TMasks {
  TChannel Red, Green, Blue;
};

// The colour fields of a picture: its own masks in a bit-field format, else those of its
// bit count (5-5-5 for 16 bits, 8-8-8 otherwise).
TMasks MasksOf(const TBitmapImage& image);

// How a picture's rows hold their pixels.
enum class TPixelLayout {
  Indexed,   // 1, 2, 4 or 8 bits: indexes into the colour table, first pixel in the high bits
  Masked16,  // 16 bits through the colour fields
  Bgr24,     // blue, green, red bytes (the device format too)
  Bgr32,     // blue, green, red and an unused byte
  Masked32,  // 32 bits through the colour fields
  Unknown,   // no pixel can be read or written: reads give black, writes do nothing
};

TPixelLayout LayoutOf(const TBitmapImage& image);

// What a decoder and an encoder learn of a picture when they are made.
class TPixelRows {
 protected:
  explicit TPixelRows(const TBitmapImage& image);

  const TBitmapImage& FImage;
  TPixelLayout FLayout;
  int FBits;
  TMasks FMasks;
};

class TPixelDecoder : private TPixelRows {
 public:
  explicit TPixelDecoder(const TBitmapImage& image) : TPixelRows(image) {}

  // Pixels x0 .. x0 + count - 1 of row y as blue, green, red triples.
  void DecodeRow(std::int32_t y, std::int32_t x0, std::int32_t count, std::uint8_t* bgr) const;

 private:
  std::uint32_t IndexAt(const std::uint8_t* row, std::int32_t x) const;
  void Put(std::uint8_t* bgr, std::uint32_t index) const;
  void PutMasked(std::uint8_t* bgr, std::uint32_t pixel) const;
};

class TPixelEncoder : private TPixelRows {
 public:
  explicit TPixelEncoder(const TBitmapImage& image) : TPixelRows(image) {}

  // Writes count blue, green, red triples as pixels x0 .. x0 + count - 1 of row y; a paletted
  // picture takes each colour's nearest table entry.
  void EncodeRow(std::int32_t y, std::int32_t x0, std::int32_t count,
                 const std::uint8_t* bgr) const;

 private:
  std::uint32_t Masked(const std::uint8_t* bgr) const;
  std::uint32_t Nearest(const std::uint8_t* bgr) const;
  void SetIndex(std::uint8_t* row, std::int32_t x, std::uint32_t index) const;
};

// Copies a width x height block of pixels between two pictures of any formats, keeping colours.
void CopyPixels(const TBitmapImage& source, std::int32_t sx, std::int32_t sy, TBitmapImage& target,
                std::int32_t tx, std::int32_t ty, std::int32_t width, std::int32_t height);

// Makes every pixel white; pad bytes are left as they are.
void FillWhite(TBitmapImage& image);

}  // namespace penamo
