// Writing bitmap files. A 24-bit picture's storage already holds the file's rows, bottom row
// first with the file's stride and zero pad bytes, so the pixels go out as one block straight
// from the storage after the two headers. Files are replaced as FileReplacement.h describes.

#include <string>

#include "Bitmap.h"
#include "FileReplacement.h"
#include "LittleEndian.h"
#include "Stream.h"

namespace penamo {

namespace {

constexpr std::uint32_t kFileHeaderSize = 14;
constexpr std::uint32_t kInfoHeaderSize = 40;

using LittleEndian::Put16;
using LittleEndian::Put32;

}  // namespace

void TBitmap::WriteBitmapStream(TStream& stream) const {
  const TBitmapImage& image = Image();
  if (!image.HasPixels()) return;
  const TBitmapInfoHeader& description = image.Description.Header;
  // Only 24-bit pictures are written (the device format is 24-bit rows as well); any other
  // picture is refused before a byte is written.
  if (image.BitsPerPixel() != 24 || (!image.DeviceFormat() && description.biCompression != BI_RGB))
    throw EInvalidGraphic(Msg::InvalidPixelFormat, "write-format-not-24-bit");
  const std::uint64_t pixelBytes = image.ByteSize();
  const std::uint64_t fileSize = kFileHeaderSize + kInfoHeaderSize + pixelBytes;
  // The file's size fields have 32 bits; a picture beyond them has no bitmap file.
  if (fileSize > UINT32_MAX)
    throw EInvalidGraphic(Msg::InvalidPixelFormat, "write-file-over-4-gib");

  std::uint8_t fileHeader[kFileHeaderSize] = {};
  fileHeader[0] = 'B';
  fileHeader[1] = 'M';
  Put32(fileHeader + 2, static_cast<std::uint32_t>(fileSize));
  Put32(fileHeader + 10, kFileHeaderSize + kInfoHeaderSize);

  // The description as held, except what would not match the bytes written: no colour table
  // follows, so no colour count is written, and the sizes are the storage's own. The height's
  // sign is the order of the rows in the storage.
  std::uint8_t infoHeader[kInfoHeaderSize] = {};
  Put32(infoHeader + 0, kInfoHeaderSize);
  Put32(infoHeader + 4, static_cast<std::uint32_t>(image.Width()));
  Put32(infoHeader + 8,
        static_cast<std::uint32_t>(image.BottomUp() || image.DeviceFormat() ? image.Height()
                                                                            : -image.Height()));
  Put16(infoHeader + 12, 1);
  Put16(infoHeader + 14, 24);
  Put32(infoHeader + 16, BI_RGB);
  Put32(infoHeader + 20, static_cast<std::uint32_t>(pixelBytes));
  Put32(infoHeader + 24, static_cast<std::uint32_t>(description.biXPelsPerMeter));
  Put32(infoHeader + 28, static_cast<std::uint32_t>(description.biYPelsPerMeter));

  stream.WriteBuffer(fileHeader, kFileHeaderSize);
  stream.WriteBuffer(infoHeader, kInfoHeaderSize);
  stream.WriteBuffer(image.Pixels(), static_cast<std::int64_t>(pixelBytes));
}

void TBitmap::WriteBitmapFile(const std::string& path) const {
  TFileReplacement replacement(path);
  THandleStream stream(replacement.Handle());
  WriteBitmapStream(stream);
  replacement.Commit();
}

}  // namespace penamo
