// Test pictures made by the libraries' own encoders, in memory: the readers are checked against
// files their tests wrote, never against files of unknown origin.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Bitmap.h"

namespace penamo::test {

using TBytes = std::vector<std::uint8_t>;

// A PNG written by libpng. samples: the stored samples row by row (16-bit samples as values
// 0..65535, packed depths as values 0..2^depth-1), channels per pixel by colour type.
struct TPngLayout {
  int Width = 0;
  int Height = 0;
  int ColorType = 0;  // PNG_COLOR_TYPE_*
  int BitDepth = 8;
  bool Interlaced = false;
  std::vector<std::uint32_t> Samples;
  std::vector<std::uint8_t> Palette;       // RGB triples
  std::vector<std::uint8_t> PaletteAlpha;  // tRNS for palettes
  bool GreyOrRgbKey = false;               // tRNS with KeyGrey / KeyRgb
  std::uint16_t KeyGrey = 0;
  std::uint16_t KeyRgb[3] = {0, 0, 0};
  TBytes Profile;
};
TBytes MakePng(const TPngLayout& layout);

// A PNG as stored: its header's depth and colour type, and each row's samples unpacked (packed
// depths as 0..2^depth-1), as libpng decodes it with no transformation at all.
struct TStoredPng {
  int Width = 0;
  int Height = 0;
  int BitDepth = 0;
  int ColorType = -1;
  int Channels = 0;
  std::vector<std::vector<std::uint32_t>> Rows;
};
// False when libpng refuses the file.
bool ReadStoredPng(const std::string& path, TStoredPng& stored);

// A JPEG written by libjpeg from interleaved samples of components components (1, 3 as RGB,
// or 4 as CMYK). colorSpace: the file's colour space (JCS_* value); exif: an APP1 body to
// insert; adobe: whether to write the Adobe marker (CMYK/YCCK only).
struct TJpegLayout {
  int Width = 0;
  int Height = 0;
  int Components = 3;
  int InColorSpace = 2;    // JCS_RGB
  int FileColorSpace = 3;  // JCS_YCbCr
  bool Progressive = false;
  bool WriteAdobe = true;
  int Quality = 95;
  std::vector<std::uint8_t> Samples;
  TBytes Exif;
  TBytes Profile;
  // A progressive script of this many scans or more (one component only), 0: the library's.
  int ManyScans = 0;
};
TBytes MakeJpeg(const TJpegLayout& layout);
// An APP1 body carrying just the orientation tag, in either byte order.
TBytes ExifWithOrientation(int orientation, bool bigEndian);

// A TIFF written by libtiff; samples as for PNG, SamplesPerPixel per pixel.
struct TTiffLayout {
  int Width = 0;
  int Height = 0;
  int SamplesPerPixel = 1;
  int BitsPerSample = 8;
  int Photometric = 1;  // PHOTOMETRIC_MINISBLACK
  int Compression = 1;  // COMPRESSION_NONE
  bool Separate = false;
  bool Tiled = false;
  int RowsPerStrip = 3;
  int ExtraSample = -1;  // EXTRASAMPLE_* of the last sample, or -1 for none
  std::vector<std::uint32_t> Samples;
  std::vector<std::uint16_t> ColorMap;  // 3 × 2^bits entries: reds, greens, blues
  TBytes Profile;
  bool BigEndian = false;  // "MM": the most significant byte first
  int Orientation = 0;     // the Orientation tag (1..8), 0 for none
  int InkSet = 0;          // the InkSet tag, 0 for none
};
TBytes MakeTiff(const TTiffLayout& layout);

// A WebP of BGRA pixels: lossless or lossy, with or without alpha.
TBytes MakeWebP(int width, int height, const std::vector<std::uint8_t>& bgra, bool lossless,
                bool alpha, const TBytes& profile = {});

// A small ICC profile that passes libpng's checks (header, size, signature, D50 illuminant).
TBytes SmallProfile();

// A lossless animation of two frames of uniform BGRA colours.
TBytes MakeAnimatedWebP(int width, int height, std::uint32_t firstBgra, std::uint32_t secondBgra);

TBytes ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const TBytes& bytes);

// A sample of depth bits as the readers promise it in 8 bits: 16 bits rounded
// ((v · 255 + 32767) / 65535), fewer bits stretched over 0..255.
inline std::uint8_t Expected8(std::uint32_t v, int bits) {
  if (bits == 16) return static_cast<std::uint8_t>((v * 255 + 32767) / 65535);
  return static_cast<std::uint8_t>(v * 255 / ((1u << bits) - 1));
}

// The picture's pixel (x, y) as 0xRRGGBB.
std::uint32_t PixelAt(const TBitmap& picture, int x, int y);

}  // namespace penamo::test
