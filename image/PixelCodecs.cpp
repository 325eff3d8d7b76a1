#include "PixelCodecs.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

namespace penamo {

TMasks MasksOf(const TBitmapImage& image) {
  const auto& h = image.Description.Header;
  if (h.biCompression == BI_BITFIELDS) {
    const auto* m = image.Description.Masks;
    return {TChannel(m[0]), TChannel(m[1]), TChannel(m[2])};
  }
  if (h.biBitCount == 16) return {TChannel(0x7C00), TChannel(0x03E0), TChannel(0x001F)};
  return {TChannel(0xFF0000), TChannel(0xFF00), TChannel(0xFF)};
}

TPixelLayout LayoutOf(const TBitmapImage& image) {
  const int bits = image.BitsPerPixel();
  if (bits == 24) return TPixelLayout::Bgr24;
  if (bits == 16) return TPixelLayout::Masked16;
  if (bits == 32) {
    return image.Description.Header.biCompression == BI_BITFIELDS ? TPixelLayout::Masked32
                                                                  : TPixelLayout::Bgr32;
  }
  if (bits == 1 || bits == 2 || bits == 4 || bits == 8) return TPixelLayout::Indexed;
  return TPixelLayout::Unknown;
}

TPixelRows::TPixelRows(const TBitmapImage& image)
    : FImage(image),
      FLayout(LayoutOf(image)),
      FBits(image.BitsPerPixel()),
      FMasks(MasksOf(image)) {}

// ---- Decoding ------------------------------------------------------------------------------

void TPixelDecoder::DecodeRow(std::int32_t y, std::int32_t x0, std::int32_t count,
                              std::uint8_t* bgr) const {
  const std::uint8_t* row = FImage.Row(y);
  switch (FLayout) {
    case TPixelLayout::Bgr24:
      std::memcpy(bgr, row + 3 * static_cast<std::size_t>(x0), 3 * static_cast<std::size_t>(count));
      return;
    case TPixelLayout::Indexed:
      for (std::int32_t i = 0; i < count; ++i, bgr += 3)
        Put(bgr, IndexAt(row, x0 + i));
      return;
    case TPixelLayout::Masked16:
      for (std::int32_t i = 0; i < count; ++i, bgr += 3) {
        const std::uint8_t* p = row + 2 * static_cast<std::size_t>(x0 + i);
        PutMasked(bgr, static_cast<std::uint32_t>(p[0] | (p[1] << 8)));
      }
      return;
    case TPixelLayout::Masked32:
      for (std::int32_t i = 0; i < count; ++i, bgr += 3) {
        const std::uint8_t* p = row + 4 * static_cast<std::size_t>(x0 + i);
        PutMasked(bgr, static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
                           (static_cast<std::uint32_t>(p[2]) << 16) |
                           (static_cast<std::uint32_t>(p[3]) << 24));
      }
      return;
    case TPixelLayout::Bgr32:
      for (std::int32_t i = 0; i < count; ++i, bgr += 3) {
        const std::uint8_t* p = row + 4 * static_cast<std::size_t>(x0 + i);
        bgr[0] = p[0];
        bgr[1] = p[1];
        bgr[2] = p[2];
      }
      return;
    case TPixelLayout::Unknown:
      std::memset(bgr, 0, 3 * static_cast<std::size_t>(count));
      return;
  }
}

std::uint32_t TPixelDecoder::IndexAt(const std::uint8_t* row, std::int32_t x) const {
  const auto bit = static_cast<std::uint64_t>(x) * static_cast<std::uint64_t>(FBits);
  const std::uint8_t byte = row[bit / 8];
  const auto shift = static_cast<unsigned>(8 - FBits - static_cast<int>(bit % 8));
  return (byte >> shift) & ((1u << FBits) - 1);
}

// An index past the end of a short colour table shows black.
void TPixelDecoder::Put(std::uint8_t* bgr, std::uint32_t index) const {
  const auto& table = FImage.ColorTable;
  const TRGBQuad c = index < table.size() ? table[index] : TRGBQuad{};
  bgr[0] = c.rgbBlue;
  bgr[1] = c.rgbGreen;
  bgr[2] = c.rgbRed;
}

void TPixelDecoder::PutMasked(std::uint8_t* bgr, std::uint32_t pixel) const {
  bgr[0] = FMasks.Blue.Decode(pixel);
  bgr[1] = FMasks.Green.Decode(pixel);
  bgr[2] = FMasks.Red.Decode(pixel);
}

// ---- Encoding ------------------------------------------------------------------------------

void TPixelEncoder::EncodeRow(std::int32_t y, std::int32_t x0, std::int32_t count,
                              const std::uint8_t* bgr) const {
  std::uint8_t* row = FImage.Row(y);
  switch (FLayout) {
    case TPixelLayout::Bgr24:
      std::memcpy(row + 3 * static_cast<std::size_t>(x0), bgr, 3 * static_cast<std::size_t>(count));
      return;
    case TPixelLayout::Indexed:
      for (std::int32_t i = 0; i < count; ++i, bgr += 3)
        SetIndex(row, x0 + i, Nearest(bgr));
      return;
    case TPixelLayout::Masked16:
      for (std::int32_t i = 0; i < count; ++i, bgr += 3) {
        const std::uint32_t v = Masked(bgr);
        std::uint8_t* p = row + 2 * static_cast<std::size_t>(x0 + i);
        p[0] = static_cast<std::uint8_t>(v);
        p[1] = static_cast<std::uint8_t>(v >> 8);
      }
      return;
    case TPixelLayout::Bgr32:  // through the 8-8-8 fields, which leave the fourth byte 0
    case TPixelLayout::Masked32:
      for (std::int32_t i = 0; i < count; ++i, bgr += 3) {
        const std::uint32_t v = Masked(bgr);
        std::uint8_t* p = row + 4 * static_cast<std::size_t>(x0 + i);
        for (int k = 0; k < 4; ++k)
          p[k] = static_cast<std::uint8_t>(v >> (8 * k));
      }
      return;
    case TPixelLayout::Unknown:
      return;
  }
}

std::uint32_t TPixelEncoder::Masked(const std::uint8_t* bgr) const {
  return FMasks.Red.Encode(bgr[2]) | FMasks.Green.Encode(bgr[1]) | FMasks.Blue.Encode(bgr[0]);
}

// The nearest colour of the table; a colour not in the table is matched by least squares.
std::uint32_t TPixelEncoder::Nearest(const std::uint8_t* bgr) const {
  const auto& table = FImage.ColorTable;
  const std::size_t limit = std::min<std::size_t>(table.size(), std::size_t{1} << FBits);
  std::uint32_t best = 0;
  int bestDistance = std::numeric_limits<int>::max();
  for (std::size_t i = 0; i < limit; ++i) {
    const int db = table[i].rgbBlue - bgr[0];
    const int dg = table[i].rgbGreen - bgr[1];
    const int dr = table[i].rgbRed - bgr[2];
    const int d = db * db + dg * dg + dr * dr;
    if (d < bestDistance) {
      bestDistance = d;
      best = static_cast<std::uint32_t>(i);
      if (d == 0) break;
    }
  }
  return best;
}

void TPixelEncoder::SetIndex(std::uint8_t* row, std::int32_t x, std::uint32_t index) const {
  const auto bit = static_cast<std::uint64_t>(x) * static_cast<std::uint64_t>(FBits);
  std::uint8_t& byte = row[bit / 8];
  const auto shift = static_cast<unsigned>(8 - FBits - static_cast<int>(bit % 8));
  const auto mask = static_cast<std::uint8_t>(((1u << FBits) - 1) << shift);
  byte = static_cast<std::uint8_t>((byte & ~mask) | ((index << shift) & mask));
}

// ---- Whole blocks --------------------------------------------------------------------------

void CopyPixels(const TBitmapImage& source, std::int32_t sx, std::int32_t sy, TBitmapImage& target,
                std::int32_t tx, std::int32_t ty, std::int32_t width, std::int32_t height) {
  if (width <= 0 || height <= 0) return;
  const TPixelDecoder decoder(source);
  const TPixelEncoder encoder(target);
  const bool direct = target.BitsPerPixel() == 24;
  std::vector<std::uint8_t> buffer(direct ? 0 : 3 * static_cast<std::size_t>(width));
  for (std::int32_t y = 0; y < height; ++y) {
    if (direct) {
      decoder.DecodeRow(sy + y, sx, width, target.Row(ty + y) + 3 * static_cast<std::size_t>(tx));
    } else {
      decoder.DecodeRow(sy + y, sx, width, buffer.data());
      encoder.EncodeRow(ty + y, tx, width, buffer.data());
    }
  }
}

void FillWhite(TBitmapImage& image) {
  const std::int32_t width = image.Width();
  if (image.BitsPerPixel() == 24) {
    // Only the pixels: pad bytes stay 0.
    for (std::int32_t y = 0; y < image.Height(); ++y) {
      std::memset(image.Row(y), 0xFF, 3 * static_cast<std::size_t>(width));
    }
    return;
  }
  const std::vector<std::uint8_t> white(3 * static_cast<std::size_t>(width), 0xFF);
  const TPixelEncoder encoder(image);
  for (std::int32_t y = 0; y < image.Height(); ++y)
    encoder.EncodeRow(y, 0, width, white.data());
}

}  // namespace penamo
