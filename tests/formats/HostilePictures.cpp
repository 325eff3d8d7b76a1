#include "HostilePictures.h"

#include <cstring>
#include <initializer_list>
#include <stdexcept>

#include "PictureMakers.h"

namespace penamo::test {

namespace {

using TBytes = std::vector<std::uint8_t>;

void Put16(TBytes& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Put32(TBytes& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

// A GIF89a screen of width × height with a two-colour map around one 1 × 1 frame: 35 bytes.
TBytes GifScreen(std::uint16_t width, std::uint16_t height) {
  TBytes gif = {'G', 'I', 'F', '8', '9', 'a'};
  Put16(gif, width);
  Put16(gif, height);
  gif.insert(gif.end(), {0x80, 0, 0, 0, 0, 0, 255, 255, 255});  // flags, map of two colours
  gif.push_back(0x2C);                                          // the frame at 0, 0, 1 × 1
  for (const std::uint32_t v : {0u, 0u, 1u, 1u})
    Put16(gif, v);
  // No local map; LZW of minimum code size 2: clear, index 0, end; then the trailer.
  gif.insert(gif.end(), {0, 2, 2, 0x44, 0x01, 0, 0x3B});
  return gif;
}

// Bits written least significant first, as a JPEG XL codestream stores them.
struct TBitWriter {
  TBytes Bytes;
  int Used = 8;
  void Put(std::uint32_t value, int bits) {
    for (int i = 0; i < bits; ++i) {
      if (Used == 8) {
        Bytes.push_back(0);
        Used = 0;
      }
      Bytes.back() = static_cast<std::uint8_t>(Bytes.back() | ((value >> i) & 1u) << Used++);
    }
  }
};

}  // namespace

// A bare JPEG XL codestream whose size header says side × side (side - 1 < 2^18), then zeros:
// 79 bytes with the default (colour) metadata, 78 with metadata naming an 8-bit grey picture.
TBytes JxlSquare(std::uint32_t side, bool grey) {
  TBitWriter bits;
  bits.Put(0xFF, 8);
  bits.Put(0x0A, 8);
  bits.Put(0, 1);          // not small
  bits.Put(2, 2);          // height - 1 in 18 bits
  bits.Put(side - 1, 18);  //
  bits.Put(1, 3);          // width: height × 1
  if (!grey) {
    bits.Put(1, 1);  // all default metadata
    bits.Bytes.resize(79, 0);
    return bits.Bytes;
  }
  bits.Put(0, 1);  // metadata not all default
  bits.Put(0, 1);  // no extra fields
  bits.Put(0, 1);  // integer samples
  bits.Put(0, 2);  // of 8 bits
  bits.Put(1, 1);  // a 16-bit buffer is enough
  bits.Put(0, 2);  // no extra channels
  bits.Put(1, 1);  // XYB-encoded
  bits.Put(0, 1);  // colour encoding not all default
  bits.Put(0, 1);  // no ICC profile
  bits.Put(1, 2);  // colour space: grey
  bits.Put(1, 2);  // white point: D65
  bits.Put(0, 1);  // no gamma
  bits.Put(2, 2);  // transfer function 13 (sRGB), as 2 + 11 in four bits
  bits.Put(11, 4);
  bits.Put(1, 2);  // rendering intent: relative
  bits.Put(0, 2);  // no extensions
  bits.Bytes.resize(78, 0);
  return bits.Bytes;
}

namespace {

// A little-endian TIFF of one strip holding dataBytes bytes, claiming width × height at bits
// bits a pixel under compression.
TBytes TinyTiff(std::uint32_t width, std::uint32_t height, std::uint16_t bits,
                std::uint16_t compression, std::uint32_t dataBytes) {
  TBytes tiff = {'I', 'I', 42, 0};
  Put32(tiff, 8);
  struct TEntry {
    std::uint16_t Tag, Type;
    std::uint32_t Value;
  };
  const std::uint32_t entries = 9;
  const std::uint32_t dataOffset = 8 + 2 + entries * 12 + 4;
  const TEntry ifd[entries] = {{256, 4, width},       {257, 4, height}, {258, 3, bits},
                               {259, 3, compression}, {262, 3, 0},      {273, 4, dataOffset},
                               {277, 3, 1},           {278, 4, height}, {279, 4, dataBytes}};
  Put16(tiff, entries);
  for (const TEntry& e : ifd) {
    Put16(tiff, e.Tag);
    Put16(tiff, e.Type);
    Put32(tiff, 1);
    if (e.Type == 3) {
      Put16(tiff, e.Value);
      Put16(tiff, 0);
    } else {
      Put32(tiff, e.Value);
    }
  }
  Put32(tiff, 0);
  tiff.resize(tiff.size() + dataBytes, 0);
  return tiff;
}

// A 16 × 16 JPEG whose frame header is made to say width × height.
TBytes JpegClaiming(std::uint16_t width, std::uint16_t height) {
  TJpegLayout layout;
  layout.Width = layout.Height = 16;
  layout.Samples.assign(16 * 16 * 3, 128);
  TBytes jpeg = MakeJpeg(layout);
  for (std::size_t i = 2; i + 9 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
      jpeg[i + 5] = static_cast<std::uint8_t>(height >> 8);
      jpeg[i + 6] = static_cast<std::uint8_t>(height);
      jpeg[i + 7] = static_cast<std::uint8_t>(width >> 8);
      jpeg[i + 8] = static_cast<std::uint8_t>(width);
      return jpeg;
    }
  }
  throw std::runtime_error("no frame header in the JPEG");
}

// A 1 × 1 lossless WebP whose VP8L header is made to say side × side (side ≤ 16384).
TBytes LosslessWebPClaiming(std::uint32_t side) {
  TBytes webp = MakeWebP(1, 1, {0, 0, 0, 255}, true, false);
  if (webp.size() < 25 || std::memcmp(webp.data() + 12, "VP8L", 4) != 0)
    throw std::runtime_error("not a simple lossless WebP");
  std::uint32_t header = 0;
  std::memcpy(&header, webp.data() + 21, 4);  // little-endian hosts only, as the tests run
  header = (header & ~0x0FFFFFFFu) | (side - 1) | (side - 1) << 14;
  std::memcpy(webp.data() + 21, &header, 4);
  return webp;
}

// A 1 × 1 two-frame animation whose canvas is made side × side (side ≤ 2^24).
TBytes AnimatedWebPClaiming(std::uint32_t side) {
  TBytes webp = MakeAnimatedWebP(1, 1, 0xFF000000u, 0xFFFFFFFFu);
  if (webp.size() < 30 || std::memcmp(webp.data() + 12, "VP8X", 4) != 0)
    throw std::runtime_error("not an extended WebP");
  for (int i = 0; i < 3; ++i) {
    webp[24 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>((side - 1) >> (8 * i));
    webp[27 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>((side - 1) >> (8 * i));
  }
  return webp;
}

}  // namespace

TBytes BitmapHeaderOnly(std::int32_t width, std::int32_t height, std::size_t pixelBytes) {
  TBytes bmp = {'B', 'M'};
  Put32(bmp, static_cast<std::uint32_t>(54 + pixelBytes));
  Put32(bmp, 0);
  Put32(bmp, 54);
  Put32(bmp, 40);
  Put32(bmp, static_cast<std::uint32_t>(width));
  Put32(bmp, static_cast<std::uint32_t>(height));
  Put16(bmp, 1);
  Put16(bmp, 24);
  for (int i = 0; i < 6; ++i)
    Put32(bmp, 0);
  bmp.resize(bmp.size() + pixelBytes, 0);
  return bmp;
}

std::vector<THostilePicture> HostilePictures() {
  return {
      {"Bitmap30000Squared", "bitmap-claims-more-than-data", BitmapHeaderOnly(30000, 30000)},
      {"Bitmap50000000By1000000", "bitmap-claims-more-than-data",
       BitmapHeaderOnly(50000000, 1000000)},
      {"BitmapOneByTwoBillionRows", "bitmap-claims-more-than-data",
       BitmapHeaderOnly(1, 2000000000, 100)},
      {"BitmapTopDownOneByTwoBillionRows", "bitmap-claims-more-than-data",
       BitmapHeaderOnly(1, -2000000000, 100)},
      {"GifScreen20000AroundOnePixel", "gif-claims-more-than-data", GifScreen(20000, 20000)},
      {"GifScreen65535By29000", "gif-claims-more-than-data", GifScreen(65535, 29000)},
      {"JxlCanvas22000Squared", "jxl-claims-more-than-data", JxlSquare(22000, false)},
      {"JxlGreyCanvas22000Squared", "jxl-claims-more-than-data", JxlSquare(22000, true)},
      {"TiffFax40000Squared", "tiff-claims-more-than-data", TinyTiff(40000, 40000, 1, 4, 2100)},
      {"TiffZstd20000Squared", "tiff-claims-more-than-data",
       TinyTiff(20000, 20000, 8, 50000, 8000)},
      {"JpegClaiming60000Squared", "jpeg-claims-more-than-data", JpegClaiming(60000, 60000)},
      {"LosslessWebP16384Squared", "webp-claims-more-than-data", LosslessWebPClaiming(16384)},
      {"AnimatedWebPCanvas16383Squared", "webp-claims-more-than-data", AnimatedWebPClaiming(16383)},
  };
}

}  // namespace penamo::test
