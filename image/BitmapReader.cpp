// Reading bitmap files. The reader takes the file in one forward pass, trusting the file's real
// length over every size the headers claim, and builds the picture itself: uncompressed pixels
// are read straight into the new storage, run-length pixels are decoded into 24-bit storage.
// The image's picture is replaced only as the very last step, so a failed read leaves it as it
// was.

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "Bitmap.h"
#include "BitmapFileLayout.h"
#include "BoundedReader.h"
#include "Limits.h"
#include "LittleEndian.h"
#include "Machine.h"
#include "PixelCodecs.h"
#include "RunLength.h"
#include "Stream.h"

namespace penamo {

namespace {

constexpr std::int64_t kFileHeaderSize = 14;
constexpr std::uint32_t kCoreHeaderSize = 12;
constexpr std::uint32_t kInfoHeaderSize = 40;
// A longer header carries the red, green and blue masks right after its first 40 bytes.
constexpr std::uint32_t kMasksSize = 12;
constexpr std::uint32_t kHeaderWithMasksSize = kInfoHeaderSize + kMasksSize;
// From 56 bytes on, the alpha mask follows them.
constexpr std::uint32_t kAlphaMaskSize = 4;
constexpr std::uint32_t kHeaderWithAlphaSize = kHeaderWithMasksSize + kAlphaMaskSize;
constexpr std::uint32_t kMaxColors = 256;

// A file this reader builds no picture of; reason says which rule it breaks, and the field at
// offset (from the file's start) breaks it: the refusal names that byte exactly.
[[noreturn]] void RaiseInvalid(const char* reason, std::uint64_t offset) {
  EInvalidGraphic error(Msg::InvalidBitmap, reason);
  error.SetDamagedByte(offset + 1, false);
  throw error;
}

// Where the headers' fields lie, from the start of the information header (14 bytes into the
// file): a core header has 16-bit sizes and no compression.
struct TFieldOffsets {
  std::uint64_t Header;  // the information header's first byte: its size
  bool Core;
  std::uint64_t Size() const { return Header; }
  std::uint64_t Width() const { return Header + 4; }
  std::uint64_t Height() const { return Header + (Core ? 6 : 8); }
  std::uint64_t Planes() const { return Header + (Core ? 8 : 12); }
  std::uint64_t BitCount() const { return Header + (Core ? 10 : 14); }
  std::uint64_t Compression() const { return Header + 16; }
  std::uint64_t ColoursUsed() const { return Header + 32; }
};

// The claim rule (Limits.h) for a bitmap of fileBytes bytes, checked by every read of it before
// any pixel is allocated: uncompressed rows may be cut, run lengths hold runs of 255 at most.
void CheckBitmapClaim(const TBitmapInfoHeader& header, std::uint64_t fileBytes) {
  const bool runLength = header.biCompression == BI_RLE8 || header.biCompression == BI_RLE4;
  CheckClaim(header.biWidth, HeightMagnitude(header.biHeight), fileBytes,
             runLength ? PixelsPerByte::BitmapRunLength
                       : PixelsPerByte::BitmapUncompressed(header.biBitCount),
             "bitmap-claims-more-than-data");
}

}  // namespace

class TBitmapReader {
 public:
  static TBitmapFileLayout ReadLayout(TBoundedReader& reader, TStream& stream);
  static void Read(TBitmap& bitmap, TStream& stream, std::vector<std::uint8_t>* alpha);

 private:
  static TBitmapFileHeaders ReadHeaders(TBoundedReader& reader, std::uint64_t headerAt);
  static void ReadColorTable(TBoundedReader& reader, TBitmapFileHeaders& headers,
                             const TFieldOffsets& at);
  static void CheckSupported(const TBitmapFileHeaders& headers, const TFieldOffsets& at);
  static std::unique_ptr<TBitmapImage> ReadUncompressed(TBoundedReader& reader,
                                                        const TBitmapFileHeaders& headers,
                                                        std::uint64_t pixelBytes);
  static std::unique_ptr<TBitmapImage> ReadRunLength(TBoundedReader& reader,
                                                     const TBitmapFileHeaders& headers,
                                                     std::uint64_t pixelBytes);
  static std::vector<std::uint8_t> ReadAlpha(const TBitmapImage& image, std::uint32_t mask);
  static void Install(TBitmap& bitmap, std::unique_ptr<TBitmapImage> image);
};

TBitmapFileLayout TBitmapReader::ReadLayout(TBoundedReader& reader, TStream& stream) {
  if (reader.Remaining() == 0) return {};

  // Where the file starts in the stream, so that a refusal names the byte of the file at fault.
  const std::int64_t start = stream.Position();
  const std::uint64_t fileStart = start > 0 ? static_cast<std::uint64_t>(start) : 0;
  std::uint8_t fileHeader[kFileHeaderSize];
  reader.Read(fileHeader, kFileHeaderSize, "file-header-truncated");
  if (fileHeader[0] != 'B' || fileHeader[1] != 'M') RaiseInvalid("signature-not-bm", fileStart);
  // The size and pixel-offset fields are not trusted: pixels follow the colour table.

  const std::uint64_t headerAt = fileStart + kFileHeaderSize;
  TBitmapFileHeaders headers = ReadHeaders(reader, headerAt);
  const TFieldOffsets at{headerAt, headers.Core};
  ReadColorTable(reader, headers, at);
  CheckSupported(headers, at);

  // What the pixels take: the declared size, or the whole picture when none is declared, but
  // never more than the file still holds.
  TBitmapInfoHeader& header = headers.Description.Header;
  std::uint64_t declared = header.biSizeImage;
  if (declared == 0)
    declared = RowStride(header.biWidth, header.biBitCount) *
               static_cast<std::uint64_t>(HeightMagnitude(header.biHeight));
  const std::uint64_t pixelBytes = std::min(reader.Remaining(), declared);
  CheckBitmapClaim(header, static_cast<std::uint64_t>(stream.Position()) + reader.Remaining());

  TBitmapFileLayout layout;
  layout.Empty = false;
  layout.Headers = std::move(headers);
  layout.PixelOffset = stream.Position();
  layout.PixelBytes = pixelBytes;
  return layout;
}

void TBitmapReader::Read(TBitmap& bitmap, TStream& stream, std::vector<std::uint8_t>* alpha) {
  TBoundedReader reader(stream);
  const TBitmapFileLayout layout = ReadLayout(reader, stream);
  if (layout.Empty) {
    if (alpha != nullptr) alpha->clear();
    Install(bitmap, std::make_unique<TBitmapImage>());
    return;
  }
  const TBitmapFileHeaders& headers = layout.Headers;
  const std::uint32_t compression = headers.Description.Header.biCompression;
  const bool compressed = compression == BI_RLE8 || compression == BI_RLE4;
  std::unique_ptr<TBitmapImage> image = compressed
                                            ? ReadRunLength(reader, headers, layout.PixelBytes)
                                            : ReadUncompressed(reader, headers, layout.PixelBytes);
  if (alpha != nullptr) {
    std::vector<std::uint8_t> read;
    if (!compressed && headers.AlphaMask != 0) read = ReadAlpha(*image, headers.AlphaMask);
    *alpha = std::move(read);
  }
  Install(bitmap, std::move(image));
}

TBitmapFileLayout ReadBitmapFileLayout(TStream& stream) {
  TBoundedReader reader(stream);
  return TBitmapReader::ReadLayout(reader, stream);
}

TBitmapFileHeaders TBitmapReader::ReadHeaders(TBoundedReader& reader, std::uint64_t headerAt) {
  TBitmapFileHeaders headers;
  TBitmapInfoHeader& header = headers.Description.Header;
  std::uint8_t buffer[kHeaderWithAlphaSize] = {};
  reader.Read(buffer, 4, "header-size-truncated");
  const std::uint32_t headerSize = LittleEndian::Get32(buffer);
  headers.HeaderSize = headerSize;

  if (headerSize == kCoreHeaderSize) {
    reader.Read(buffer + 4, kCoreHeaderSize - 4, "core-header-truncated");
    headers.Core = true;
    // Unsigned 16-bit sizes: a core picture is bottom-up whatever its top bit says.
    header.biWidth = LittleEndian::Get16(buffer + 4);
    header.biHeight = LittleEndian::Get16(buffer + 6);
    header.biPlanes = LittleEndian::Get16(buffer + 8);
    header.biBitCount = LittleEndian::Get16(buffer + 10);
  } else {
    // Below 40 bytes the later fields would be undefined.
    if (headerSize < kInfoHeaderSize) RaiseInvalid("header-size-unknown", headerAt);
    const std::uint32_t kept = headerSize >= kHeaderWithAlphaSize
                                   ? kHeaderWithAlphaSize
                                   : std::min(headerSize, kHeaderWithMasksSize);
    reader.Read(buffer + 4, kept - 4, "info-header-truncated");
    // The colour-space fields of the longer headers: nothing here reads them.
    reader.Skip(headerSize - kept, "long-header-truncated");
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
  }
  header.biSize = kInfoHeaderSize;
  if (header.biPlanes != 1)
    RaiseInvalid("planes-not-one", TFieldOffsets{headerAt, headers.Core}.Planes());

  const bool deep = header.biBitCount == 16 || header.biBitCount == 32;
  const bool alphaFields = header.biCompression == BI_ALPHABITFIELDS;
  if ((header.biCompression == BI_BITFIELDS || alphaFields) && deep) {
    if (headerSize == kInfoHeaderSize)
      reader.Read(buffer + kInfoHeaderSize, alphaFields ? kMasksSize + kAlphaMaskSize : kMasksSize,
                  "masks-truncated");
    if (headerSize == kInfoHeaderSize || headerSize >= kHeaderWithMasksSize)
      for (int i = 0; i < 3; ++i)
        headers.Description.Masks[i] = LittleEndian::Get32(buffer + kInfoHeaderSize + 4 * i);
  }
  // The alpha mask: the alpha bit fields' own, or a long header's. A header's alpha mask beside
  // plain colours counts only where they leave its bits unused.
  const bool alphaInHeader = headerSize >= kHeaderWithAlphaSize;
  if (deep && (alphaInHeader || (alphaFields && headerSize == kInfoHeaderSize))) {
    const std::uint32_t mask = LittleEndian::Get32(buffer + kHeaderWithMasksSize);
    const std::uint32_t plainColours = header.biBitCount == 16 ? 0x7FFFu : 0xFFFFFFu;
    if (header.biCompression == BI_BITFIELDS || alphaFields ||
        (header.biCompression == BI_RGB && (mask & plainColours) == 0)) {
      headers.AlphaMask = header.biBitCount == 16 ? mask & 0xFFFFu : mask;
    }
  }
  return headers;
}

void TBitmapReader::ReadColorTable(TBoundedReader& reader, TBitmapFileHeaders& headers,
                                   const TFieldOffsets& at) {
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
  if (count > kMaxColors) RaiseInvalid("too-many-colours", at.ColoursUsed());
  header.biClrUsed = count;

  const std::uint32_t entrySize = headers.Core ? 3 : 4;
  std::uint8_t table[kMaxColors * 4];
  reader.Read(table, count * entrySize, "colour-table-truncated");
  headers.ColorTable.resize(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint8_t* entry = table + i * entrySize;
    headers.ColorTable[i] = {entry[0], entry[1], entry[2], 0};
  }
}

// What this reader builds pictures of: everything the bitmap format defines for the common
// headers, nothing more.
void TBitmapReader::CheckSupported(const TBitmapFileHeaders& headers, const TFieldOffsets& at) {
  const TBitmapInfoHeader& header = headers.Description.Header;
  // A picture of no pixels is no picture; and the height's magnitude must be a height itself.
  if (header.biWidth <= 0) RaiseInvalid("width-not-positive", at.Width());
  if (header.biHeight == 0) RaiseInvalid("height-zero", at.Height());
  if (!DimensionsFit(header.biWidth, header.biHeight))
    RaiseInvalid("height-beyond-limit", at.Height());
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
          RaiseInvalid("bit-count-unsupported", at.BitCount());
      }
    case BI_BITFIELDS:
      // Any masks are taken as they are: the conversion reads each colour through its own
      // mask, so a zero mask gives a colour of 0 and overlapping masks share their bits.
      if (header.biBitCount != 16 && header.biBitCount != 32)
        RaiseInvalid("masks-bit-count", at.BitCount());
      // A header between 40 and 52 bytes ends before the masks would begin.
      if (headers.HeaderSize != kInfoHeaderSize && headers.HeaderSize < kHeaderWithMasksSize)
        RaiseInvalid("masks-outside-header", at.Compression());
      return;
    case BI_ALPHABITFIELDS:
      if (header.biBitCount != 16 && header.biBitCount != 32)
        RaiseInvalid("masks-bit-count", at.BitCount());
      // The four masks follow a 40-byte header or lie within one of 56 bytes or more.
      if (headers.HeaderSize != kInfoHeaderSize && headers.HeaderSize < kHeaderWithAlphaSize)
        RaiseInvalid("masks-outside-header", at.Compression());
      return;
    case BI_RLE8:
    case BI_RLE4:
      // Run-length rows always stand bottom-up.
      if (header.biBitCount != (header.biCompression == BI_RLE8 ? 8 : 4))
        RaiseInvalid("run-length-bit-count", at.BitCount());
      if (header.biHeight < 0) RaiseInvalid("run-length-top-down", at.Height());
      return;
    default:
      RaiseInvalid("compression-unsupported", at.Compression());
  }
}

std::unique_ptr<TBitmapImage> TBitmapReader::ReadUncompressed(TBoundedReader& reader,
                                                              const TBitmapFileHeaders& headers,
                                                              std::uint64_t pixelBytes) {
  TBitmapDescription description = headers.Description;
  // The colours of alpha bit fields are plain bit fields; the alpha is read aside.
  if (description.Header.biCompression == BI_ALPHABITFIELDS)
    description.Header.biCompression = BI_BITFIELDS;
  auto image = std::make_unique<TBitmapImage>(description);
  image->MakePixels(false);
  // The storage is the picture's size: a larger declared size is read no further than that.
  const std::uint64_t count = std::min(pixelBytes, image->ByteSize());
  reader.Read(image->Pixels(), count, "pixels-truncated");
  image->Description.Header.biSizeImage = SizeImageField(image->ByteSize());
  image->ColorTable = headers.ColorTable;
  image->OldHeader = headers.Core;
  return image;
}

std::unique_ptr<TBitmapImage> TBitmapReader::ReadRunLength(TBoundedReader& reader,
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
  WithMemory("run-length-data-out-of-memory",
             [&] { data.resize(static_cast<std::size_t>(pixelBytes)); });
  reader.Read(data.data(), data.size(), "run-length-data-truncated");
  DecodeRunLength(data.data(), data.size(), fileHeader.biBitCount, headers.ColorTable, *image);
  image->ColorTable = headers.ColorTable;
  image->OldHeader = headers.Core;
  return image;
}

// The opacity of every pixel through mask, rows top to bottom; empty when every value is 0 (a
// writer that leaves the fourth byte unset) or every value is 255 (nothing shows through).
std::vector<std::uint8_t> TBitmapReader::ReadAlpha(const TBitmapImage& image, std::uint32_t mask) {
  const TBitmapInfoHeader& header = image.Description.Header;
  const TChannel channel(mask);
  const auto width = static_cast<std::size_t>(header.biWidth);
  const auto height = static_cast<std::int32_t>(HeightMagnitude(header.biHeight));
  const bool wide = header.biBitCount == 32;
  std::vector<std::uint8_t> alpha;
  WithMemory("alpha-out-of-memory",
             [&] { alpha.resize(width * static_cast<std::size_t>(height)); });
  bool anyShown = false, anyHidden = false;
  std::uint8_t* out = alpha.data();
  for (std::int32_t y = 0; y < height; ++y) {
    const std::uint8_t* p = image.Row(y);
    for (std::size_t x = 0; x < width; ++x, p += wide ? 4 : 2) {
      std::uint32_t pixel = static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1])
                                                                   << 8;
      if (wide)
        pixel |= static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
      const std::uint8_t a = channel.Decode(pixel);
      anyShown = anyShown || a != 0;
      anyHidden = anyHidden || a != 255;
      *out++ = a;
    }
  }
  if (!anyShown || !anyHidden) return {};
  return alpha;
}

void TBitmapReader::Install(TBitmap& bitmap, std::unique_ptr<TBitmapImage> image) {
  bitmap.InstallImage(std::move(image));
  bitmap.Changed();
}

void TBitmap::ReadBitmapStream(TStream& stream) {
  TBitmapReader::Read(*this, stream, nullptr);
}

void TBitmap::ReadBitmapStream(TStream& stream, std::vector<std::uint8_t>& alpha) {
  TBitmapReader::Read(*this, stream, &alpha);
}

void TBitmap::ReadBitmapFile(const std::string& path) {
  TFileStream stream(path);
  ReadBitmapStream(stream);
}

}  // namespace penamo
