// Reading bitmap files. The reader takes the file in one forward pass, trusting the file's real
// length over every size the headers claim, and builds the picture itself: uncompressed pixels
// are read straight into the new storage, run-length pixels are decoded into 24-bit storage.
// The image's picture is replaced only as the very last step, so a failed read leaves it as it
// was.

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "Bitmap.h"
#include "BitmapFileLayout.h"
#include "LittleEndian.h"
#include "RunLength.h"
#include "Stream.h"

namespace penamo {

namespace {

constexpr std::int64_t kFileHeaderSize = 14;
constexpr std::uint32_t kCoreHeaderSize = 12;
constexpr std::uint32_t kInfoHeaderSize = 40;
// A longer header carries the red, green and blue masks right after its first 40 bytes.
constexpr std::uint32_t kHeaderWithMasksSize = kInfoHeaderSize + 12;
constexpr std::uint32_t kMaxColors = 256;

[[noreturn]] void RaiseInvalid() {
  throw EInvalidGraphic(Msg::InvalidBitmap);
}
[[noreturn]] void RaiseShortRead() {
  throw EReadError(Msg::ReadError);
}

// The header is read leniently, but a file that ends inside it has no header to go on: it is
// refused like every other short read.
void ReadHeaderBytes(TStream& stream, std::uint8_t* buffer, std::int64_t count) {
  if (stream.Read(buffer, count) != count) RaiseShortRead();
}

// Passes over header bytes nobody reads (the colour-space fields of the longer headers).
// Lowers the count of bytes left in the file, never below zero.
void Consume(std::uint64_t& remaining, std::uint64_t count) {
  remaining -= std::min(remaining, count);
}

void SkipHeaderBytes(TStream& stream, std::int64_t count) {
  if (count == 0) return;
  const std::int64_t start = stream.Position();
  if (start < 0 || stream.Seek(count, TSeekOrigin::Current) != start + count) RaiseShortRead();
}

}  // namespace

class TBitmapReader {
 public:
  static TBitmapFileLayout ReadLayout(TStream& stream);
  static void Read(TBitmap& bitmap, TStream& stream);

 private:
  static TBitmapFileHeaders ReadHeaders(TStream& stream, std::uint64_t& remaining);
  static void ReadColorTable(TStream& stream, TBitmapFileHeaders& headers,
                             std::uint64_t& remaining);
  static void CheckSupported(const TBitmapFileHeaders& headers);
  static std::unique_ptr<TBitmapImage> ReadUncompressed(TStream& stream,
                                                        const TBitmapFileHeaders& headers,
                                                        std::uint64_t pixelBytes);
  static std::unique_ptr<TBitmapImage> ReadRunLength(TStream& stream,
                                                     const TBitmapFileHeaders& headers,
                                                     std::uint64_t pixelBytes);
  static void Install(TBitmap& bitmap, std::unique_ptr<TBitmapImage> image);
};

TBitmapFileLayout TBitmapReader::ReadLayout(TStream& stream) {
  // 64 bits: a file of 4 GiB or more is measured as it is, never wrapped round to a small size.
  const std::int64_t position = stream.Position();
  const std::int64_t size = stream.Size();
  if (position < 0 || size < 0) RaiseShortRead();
  std::uint64_t remaining = size > position ? static_cast<std::uint64_t>(size - position) : 0;
  if (remaining == 0) return {};

  std::uint8_t fileHeader[kFileHeaderSize];
  stream.ReadBuffer(fileHeader, kFileHeaderSize);
  if (fileHeader[0] != 'B' || fileHeader[1] != 'M') RaiseInvalid();
  // The size and pixel-offset fields are not trusted: pixels follow the colour table.
  Consume(remaining, kFileHeaderSize);

  TBitmapFileHeaders headers = ReadHeaders(stream, remaining);
  ReadColorTable(stream, headers, remaining);
  CheckSupported(headers);

  // What the pixels take: the declared size, or the whole picture when none is declared, but
  // never more than the file still holds.
  TBitmapInfoHeader& header = headers.Description.Header;
  std::uint64_t declared = header.biSizeImage;
  if (declared == 0)
    declared = RowStride(header.biWidth, header.biBitCount) *
               static_cast<std::uint64_t>(std::abs(static_cast<std::int64_t>(header.biHeight)));
  const std::uint64_t pixelBytes = std::min(remaining, declared);

  TBitmapFileLayout layout;
  layout.Empty = false;
  layout.Headers = std::move(headers);
  layout.PixelOffset = stream.Position();
  layout.PixelBytes = pixelBytes;
  return layout;
}

void TBitmapReader::Read(TBitmap& bitmap, TStream& stream) {
  const TBitmapFileLayout layout = ReadLayout(stream);
  if (layout.Empty) {
    Install(bitmap, std::make_unique<TBitmapImage>());
    return;
  }
  const TBitmapFileHeaders& headers = layout.Headers;
  const std::uint32_t compression = headers.Description.Header.biCompression;
  const bool compressed = compression == BI_RLE8 || compression == BI_RLE4;
  Install(bitmap, compressed ? ReadRunLength(stream, headers, layout.PixelBytes)
                             : ReadUncompressed(stream, headers, layout.PixelBytes));
}

TBitmapFileLayout ReadBitmapFileLayout(TStream& stream) {
  return TBitmapReader::ReadLayout(stream);
}

TBitmapFileHeaders TBitmapReader::ReadHeaders(TStream& stream, std::uint64_t& remaining) {
  TBitmapFileHeaders headers;
  TBitmapInfoHeader& header = headers.Description.Header;
  std::uint8_t buffer[kHeaderWithMasksSize] = {};
  ReadHeaderBytes(stream, buffer, 4);
  const std::uint32_t headerSize = LittleEndian::Get32(buffer);
  headers.HeaderSize = headerSize;

  if (headerSize == kCoreHeaderSize) {
    ReadHeaderBytes(stream, buffer + 4, kCoreHeaderSize - 4);
    headers.Core = true;
    // Unsigned 16-bit sizes: a core picture is bottom-up whatever its top bit says.
    header.biWidth = LittleEndian::Get16(buffer + 4);
    header.biHeight = LittleEndian::Get16(buffer + 6);
    header.biPlanes = LittleEndian::Get16(buffer + 8);
    header.biBitCount = LittleEndian::Get16(buffer + 10);
    Consume(remaining, kCoreHeaderSize);
  } else {
    // Below 40 bytes the later fields would be undefined.
    if (headerSize < kInfoHeaderSize) RaiseInvalid();
    if (remaining < headerSize) RaiseShortRead();
    const std::uint32_t kept = std::min(headerSize, kHeaderWithMasksSize);
    ReadHeaderBytes(stream, buffer + 4, kept - 4);
    SkipHeaderBytes(stream, headerSize - kept);
    header.biWidth = static_cast<std::int32_t>(LittleEndian::Get32(buffer + 4));
    header.biHeight = static_cast<std::int32_t>(LittleEndian::Get32(buffer + 8));
    header.biPlanes = LittleEndian::Get16(buffer + 12);
    header.biBitCount = LittleEndian::Get16(buffer + 14);
    header.biCompression = LittleEndian::Get32(buffer + 16);
    header.biSizeImage = LittleEndian::Get32(buffer + 20);
    header.biXPelsPerMeter = static_cast<std::int32_t>(LittleEndian::Get32(buffer + 24));
    header.biYPelsPerMeter = static_cast<std::int32_t>(LittleEndian::Get32(buffer + 28));
    header.biClrUsed = LittleEndian::Get32(buffer + 32);
    header.biClrImportant = LittleEndian::Get32(buffer + 36);
    Consume(remaining, headerSize);
  }
  header.biSize = kInfoHeaderSize;
  if (header.biPlanes != 1) RaiseInvalid();

  if (header.biCompression == BI_BITFIELDS &&
      (header.biBitCount == 16 || header.biBitCount == 32)) {
    if (headerSize == kInfoHeaderSize) {
      std::uint8_t masks[12];
      stream.ReadBuffer(masks, sizeof masks);
      Consume(remaining, sizeof masks);
      std::copy_n(masks, sizeof masks, buffer + kInfoHeaderSize);
    }
    if (headerSize == kInfoHeaderSize || headerSize >= kHeaderWithMasksSize)
      for (int i = 0; i < 3; ++i)
        headers.Description.Masks[i] = LittleEndian::Get32(buffer + kInfoHeaderSize + 4 * i);
  }
  return headers;
}

void TBitmapReader::ReadColorTable(TStream& stream, TBitmapFileHeaders& headers,
                                   std::uint64_t& remaining) {
  TBitmapInfoHeader& header = headers.Description.Header;
  std::uint32_t count = header.biClrUsed;
  if (count == 0) {
    switch (header.biBitCount) {
      case 1:
        count = 2;
        break;
      case 4:
        count = 16;
        break;
      case 8:
        count = 256;
        break;
      default:
        break;
    }
  }
  if (count > kMaxColors) RaiseInvalid();
  header.biClrUsed = count;

  const std::uint32_t entrySize = headers.Core ? 3 : 4;
  std::uint8_t table[kMaxColors * 4];
  stream.ReadBuffer(table, count * entrySize);
  Consume(remaining, count * entrySize);
  headers.ColorTable.resize(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint8_t* entry = table + i * entrySize;
    headers.ColorTable[i] = {entry[0], entry[1], entry[2], 0};
  }
}

// What this reader builds pictures of: everything the bitmap format defines for the common
// headers, nothing more.
void TBitmapReader::CheckSupported(const TBitmapFileHeaders& headers) {
  const TBitmapInfoHeader& header = headers.Description.Header;
  // A picture of no pixels is no picture; and the height's magnitude must be a height itself.
  if (header.biWidth <= 0 || header.biHeight == 0 || header.biHeight == INT32_MIN) RaiseInvalid();
  switch (header.biCompression) {
    case BI_RGB:
      switch (header.biBitCount) {
        case 1:
        case 4:
        case 8:
        case 16:
        case 24:
        case 32:
          return;
        default:
          RaiseInvalid();
      }
    case BI_BITFIELDS:
      // Any masks are taken as they are: the conversion reads each colour through its own
      // mask, so a zero mask gives a colour of 0 and overlapping masks share their bits.
      if (header.biBitCount != 16 && header.biBitCount != 32) RaiseInvalid();
      // A header between 40 and 52 bytes ends before the masks would begin.
      if (headers.HeaderSize != kInfoHeaderSize && headers.HeaderSize < kHeaderWithMasksSize)
        RaiseInvalid();
      return;
    case BI_RLE8:
    case BI_RLE4:
      // Run-length rows always stand bottom-up.
      if (header.biBitCount != (header.biCompression == BI_RLE8 ? 8 : 4) || header.biHeight < 0)
        RaiseInvalid();
      return;
    default:
      RaiseInvalid();
  }
}

std::unique_ptr<TBitmapImage> TBitmapReader::ReadUncompressed(TStream& stream,
                                                              const TBitmapFileHeaders& headers,
                                                              std::uint64_t pixelBytes) {
  TBitmapDescription description = headers.Description;
  auto image = std::make_unique<TBitmapImage>(description);
  image->MakePixels(false);
  // The storage is the picture's size: a larger declared size is read no further than that.
  const std::uint64_t count = std::min(pixelBytes, image->ByteSize());
  stream.ReadBuffer(image->Pixels(), static_cast<std::int64_t>(count));
  image->Description.Header.biSizeImage =
      image->ByteSize() <= UINT32_MAX ? static_cast<std::uint32_t>(image->ByteSize()) : 0;
  image->ColorTable = headers.ColorTable;
  image->OldHeader = headers.Core;
  return image;
}

std::unique_ptr<TBitmapImage> TBitmapReader::ReadRunLength(TStream& stream,
                                                           const TBitmapFileHeaders& headers,
                                                           std::uint64_t pixelBytes) {
  const TBitmapInfoHeader& fileHeader = headers.Description.Header;
  // Decoded pictures are held in the device format, described by their size and the file's
  // resolution and colour counts alone.
  TBitmapDescription description;
  description.Header.biWidth = fileHeader.biWidth;
  description.Header.biHeight = fileHeader.biHeight;
  description.Header.biXPelsPerMeter = fileHeader.biXPelsPerMeter;
  description.Header.biYPelsPerMeter = fileHeader.biYPelsPerMeter;
  description.Header.biClrUsed = fileHeader.biClrUsed;
  description.Header.biClrImportant = fileHeader.biClrImportant;
  auto image = std::make_unique<TBitmapImage>(description);
  // The storage first: a picture too large for this machine is refused before the compressed
  // data take any memory.
  image->MakePixels(true);

  std::vector<std::uint8_t> data;
  try {
    data.resize(static_cast<std::size_t>(pixelBytes));
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory(Msg::OutOfMemory);
  }
  stream.ReadBuffer(data.data(), static_cast<std::int64_t>(data.size()));
  DecodeRunLength(data.data(), data.size(), fileHeader.biBitCount, headers.ColorTable, *image);
  image->ColorTable = headers.ColorTable;
  image->OldHeader = headers.Core;
  return image;
}

void TBitmapReader::Install(TBitmap& bitmap, std::unique_ptr<TBitmapImage> image) {
  bitmap.InstallImage(std::move(image));
  bitmap.Changed();
}

void TBitmap::ReadBitmapStream(TStream& stream) {
  TBitmapReader::Read(*this, stream);
}

void TBitmap::ReadBitmapFile(const std::string& path) {
  TFileStream stream(path);
  ReadBitmapStream(stream);
}

}  // namespace penamo
