// Builds bitmap files in memory for the tests: every field settable, so a test can state the
// one it is about and leave the rest sound.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "Bitmap.h"
#include "FileSizeLimitScope.h"
#include "StorageLimitScope.h"
#include "Stream.h"
#include "TemporaryFolder.h"

namespace penamo::test {

using TBytes = std::vector<std::uint8_t>;

struct TBitmapFileBuilder {
  std::uint32_t HeaderSize = 40;  // 12 writes the core header
  std::int32_t Width = 1;
  std::int32_t Height = 1;
  std::uint16_t Planes = 1;
  std::uint16_t BitCount = 24;
  std::uint32_t Compression = BI_RGB;
  std::uint32_t SizeImage = 0;
  std::int32_t XPelsPerMeter = 2835;
  std::int32_t YPelsPerMeter = 2835;
  std::uint32_t ClrUsed = 0;
  std::uint32_t ClrImportant = 0;
  std::uint32_t OffBits = 0;  // 0: where the pixels really start
  // Written as a block after a 40-byte header, inside a header of 52 bytes or more.
  std::vector<std::uint32_t> Masks;
  std::vector<TRGBQuad> Colors;  // three bytes each in a core file
  TBytes Pixels;

  TBytes Build() const {
    TBytes header;
    if (HeaderSize == 12) {
      Put(header, 12, 4);
      Put(header, static_cast<std::uint32_t>(Width), 2);
      Put(header, static_cast<std::uint32_t>(Height), 2);
      Put(header, Planes, 2);
      Put(header, BitCount, 2);
    } else {
      for (std::uint32_t v :
           {HeaderSize, static_cast<std::uint32_t>(Width), static_cast<std::uint32_t>(Height)})
        Put(header, v, 4);
      Put(header, Planes, 2);
      Put(header, BitCount, 2);
      for (std::uint32_t v : {Compression, SizeImage, static_cast<std::uint32_t>(XPelsPerMeter),
                              static_cast<std::uint32_t>(YPelsPerMeter), ClrUsed, ClrImportant})
        Put(header, v, 4);
      if (HeaderSize > 40)
        for (std::uint32_t mask : Masks)
          Put(header, mask, 4);
      header.resize(std::max<std::size_t>(HeaderSize, 40), 0);
      if (HeaderSize == 40)
        for (std::uint32_t mask : Masks)
          Put(header, mask, 4);
    }
    for (const TRGBQuad& c : Colors) {
      header.insert(header.end(), {c.rgbBlue, c.rgbGreen, c.rgbRed});
      if (HeaderSize != 12) header.push_back(c.rgbReserved);
    }
    TBytes file{'B', 'M'};
    const std::size_t offset = 14 + header.size();
    Put(file, static_cast<std::uint32_t>(offset + Pixels.size()), 4);
    Put(file, 0, 4);
    Put(file, OffBits != 0 ? OffBits : static_cast<std::uint32_t>(offset), 4);
    file.insert(file.end(), header.begin(), header.end());
    file.insert(file.end(), Pixels.begin(), Pixels.end());
    return file;
  }

  static void Put(TBytes& bytes, std::uint32_t value, int width) {
    for (int i = 0; i < width; ++i)
      bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  }
};

// A grey ramp colour table: entry i is (i, i, i) scaled to the count.
inline std::vector<TRGBQuad> GreyTable(int count) {
  std::vector<TRGBQuad> table;
  for (int i = 0; i < count; ++i) {
    const auto v = static_cast<std::uint8_t>(count > 1 ? i * 255 / (count - 1) : 0);
    table.push_back({v, v, v, 0});
  }
  return table;
}

inline void ReadBytes(TBitmap& bitmap, const TBytes& bytes) {
  TMemoryStream stream(bytes);
  bitmap.ReadBitmapStream(stream);
}

// The pixel bytes of a picture's row y (row 0 at the top), without pad bytes.
inline TBytes RowBytes(const TBitmap& bitmap, std::int32_t y) {
  const TBitmapImage& image = bitmap.Image();
  const std::uint8_t* row = image.Row(y);
  const auto length =
      static_cast<std::size_t>((std::int64_t{image.Width()} * image.BitsPerPixel() + 7) / 8);
  return TBytes(row, row + length);
}

TBytes ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const TBytes& bytes);

}  // namespace penamo::test
