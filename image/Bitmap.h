// The raster image. Pixel storage is a separate reference-counted object shared between images
// on assignment and copied on the first change of either (copy on write), so handing a picture
// to a view or keeping one filter result per preview costs no copy.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Exceptions.h"
#include "Limits.h"

namespace penamo {

class TStream;
class TBitmapCanvas;

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

// Reference-counted storage base; freed when the last holder releases it.
class TSharedImage {
 public:
  TSharedImage() = default;
  TSharedImage(const TSharedImage&) = delete;
  TSharedImage& operator=(const TSharedImage&) = delete;
  virtual ~TSharedImage() = default;

  void Reference() { ++FRefCount; }
  void Release() {
    if (--FRefCount == 0) delete this;
  }
  std::int32_t RefCount() const { return FRefCount; }

 private:
  std::int32_t FRefCount = 0;
};

// Pixel storage of one raster image, with its description and colour table.
class TBitmapImage final : public TSharedImage {
 public:
  // Storage without pixels, holding only the description.
  explicit TBitmapImage(const TBitmapDescription& description = {});
  ~TBitmapImage() override;

  // Makes zero-filled pixels for the description. In the device format (this system takes
  // 24 bits, bottom-up, as the device format) the header size stays 0. Raises EOutOfResources,
  // leaving the storage without pixels, when the block cannot be made.
  void MakePixels(bool deviceFormat);

  TBitmapDescription Description;
  std::vector<TRGBQuad> ColorTable;
  bool OldHeader = false;  // read from a file with the 12-byte core header
  bool Halftone = false;   // colour table made for the screen, never written to a file

  std::uint8_t* Pixels() const { return FPixels; }
  bool HasPixels() const { return FPixels != nullptr; }
  bool DeviceFormat() const { return FDeviceFormat; }
  // Leaves the device format for the explicit 24-bit one; the bytes are already that layout.
  void MakeExplicit();
  int BitsPerPixel() const;  // the device format counts as 24
  std::uint64_t Stride() const { return FStride; }
  std::uint64_t ByteSize() const { return FByteSize; }
  std::int32_t Width() const { return Description.Header.biWidth; }
  std::int32_t Height() const;  // the absolute height
  bool BottomUp() const { return Description.Header.biHeight > 0; }
  // Row y of the picture, row 0 at the top, whatever the order of the block.
  std::uint8_t* Row(std::int32_t y) const;

 private:
  // Frees the block however it was made.
  void FreePixels();

  std::uint8_t* FPixels = nullptr;
  void* FMapping = nullptr;  // a large block's own mapping, else null (the block is malloc'ed)
  std::size_t FMappingLength = 0;
  std::uint64_t FStride = 0;
  std::uint64_t FByteSize = 0;
  bool FDeviceFormat = false;
};

// Abstract picture shown by image controls.
class TGraphic {
 public:
  virtual ~TGraphic() = default;
  virtual std::int32_t Width() const = 0;
  virtual std::int32_t Height() const = 0;
  virtual bool Empty() const = 0;

  // Called with the picture after every completed change.
  std::function<void(TGraphic&)> OnChange;

 protected:
  void Changed();
};

class TBitmap final : public TGraphic {
 public:
  TBitmap();
  ~TBitmap() override;
  TBitmap(const TBitmap&) = delete;
  TBitmap& operator=(const TBitmap&) = delete;

  std::int32_t Width() const override;
  std::int32_t Height() const override;
  // Resizing keeps the picture at the top-left and fills the new area white. Setting the
  // current value does nothing, not even the change notification. A negative height stores
  // the rows top-down.
  void SetWidth(std::int32_t width);
  void SetHeight(std::int32_t height);
  bool Empty() const override;

  TPixelFormat ImageFormat() const;
  // Converts a picture with pixels to the new format, keeping every pixel's colour.
  // pfCustom raises EInvalidGraphic.
  void SetImageFormat(TPixelFormat format);

  // Address of row y (row 0 is the top row), to read or write. Unshares the storage first,
  // even when the caller only reads. Raises EInvalidGraphicOperation for y outside 0..Height-1.
  // The address lives until the storage is replaced (resize, format change, ShareFrom, release).
  std::uint8_t* RowAddress(std::int32_t y);
  // Row y for drawing or writing out: neither unshares nor checks more than the bounds; null
  // when there are no pixels or y is outside the picture.
  const std::uint8_t* ConstRowAddress(std::int32_t y) const;

  // Shares the source's storage (no pixel is copied); null makes this image new and empty.
  void ShareFrom(const TBitmap* source);

  // The drawing surface, made on first use.
  TBitmapCanvas& Canvas();

  // Bitmap files (reading and converting: BitmapReader.cpp; writing: BitmapWriter.cpp).
  void ReadBitmapFile(const std::string& path);
  void ReadBitmapStream(TStream& stream);
  void ConvertTo24Bits();
  void WriteBitmapFile(const std::string& path) const;
  void WriteBitmapStream(TStream& stream) const;

  const TBitmapDescription& Description() const;
  const std::vector<TRGBQuad>& ColorTable() const;
  // The storage as it stands, for drawing and writing without a copy.
  const TBitmapImage& Image() const { return *FImage; }

  // Transparency settings: copied by ShareFrom, otherwise unused by this system.
  bool Transparent = false;
  std::uint32_t TransparentColor = 0x02000000;  // clDefault: the bottom-left pixel

 private:
  friend class TBitmapCanvas;
  friend class TBitmapReader;

  // Gives this image a private copy of shared storage, clears the colour counts.
  void PrepareForChange();
  // Builds storage for the new description from the current one (copying or converting the
  // current picture into it) and installs it. Leaves everything as it was on failure.
  void MakeStorage(const TBitmapDescription& description, std::vector<TRGBQuad> colorTable);
  // Installs new storage under the image lock, releasing the old.
  void InstallImage(std::unique_ptr<TBitmapImage> image);

  TBitmapImage* FImage;
  std::unique_ptr<TBitmapCanvas> FCanvas;
};

// A rectangle: Right and Bottom exclusive.
struct TRect {
  std::int32_t Left = 0;
  std::int32_t Top = 0;
  std::int32_t Right = 0;
  std::int32_t Bottom = 0;
  std::int32_t Width() const { return Right - Left; }
  std::int32_t Height() const { return Bottom - Top; }
  friend bool operator==(const TRect&, const TRect&) = default;
};

struct TPoint {
  std::int32_t X = 0;
  std::int32_t Y = 0;
  friend bool operator==(const TPoint&, const TPoint&) = default;
};

inline constexpr std::uint32_t cmSrcCopy = 0x00CC0020;

// The drawing surface of one raster image.
class TBitmapCanvas {
 public:
  explicit TBitmapCanvas(TBitmap& owner) : FOwner(owner) {}

  // Copies rectangle source of sourceCanvas's image onto rectangle dest of this image.
  // Equal sizes copy the bytes unchanged; other sizes pick the nearest source pixel (rows and
  // columns dropped or repeated, never blended). Destination pixels whose source lies outside
  // the source picture, or which lie outside this picture, are left as they were.
  void CopyRectangle(const TRect& dest, const TBitmapCanvas& sourceCanvas, const TRect& source);

  std::uint32_t CopyMode = cmSrcCopy;
  std::uint32_t BrushColor = 0x00FFFFFF;  // white, as 0x00BBGGRR

  TBitmap& Owner() const { return FOwner; }

 private:
  TBitmap& FOwner;
};

}  // namespace penamo
