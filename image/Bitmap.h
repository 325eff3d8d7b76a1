// The raster image. Pixel storage is a separate reference-counted object shared between images
// on assignment and copied on the first change of either (copy on write), so handing a picture
// to a view or keeping one filter result per preview costs no copy.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "BitmapCanvas.h"
#include "BitmapDescription.h"
#include "BitmapImage.h"
#include "Exceptions.h"
#include "Geometry.h"
#include "Limits.h"

namespace penamo {

class TStream;

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
  // Makes this a new 24-bit picture of width x height whose every byte is 0 (black), for a caller
  // about to write every row: unlike SetWidth and SetHeight nothing is filled, so the pixels of a
  // large picture cost memory only as its rows are written. Raises EOutOfResources (an
  // EOutOfMemory) when the pixels cannot be had, leaving the picture empty.
  void NewBlack24(std::int32_t width, std::int32_t height);

  // Format changes (BitmapFormat.cpp, with ConvertTo24Bits).
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

  // Bitmap files (reading: BitmapReader.cpp; writing: BitmapWriter.cpp) and the conversion
  // every read picture goes through.
  void ReadBitmapFile(const std::string& path);
  void ReadBitmapStream(TStream& stream);
  // ReadBitmapStream, and the picture's opacity into alpha (Width × Height bytes, rows top to
  // bottom, 255 opaque) when the file keeps an alpha mask with a value other than 0 somewhere
  // and other than 255 somewhere. Otherwise alpha is emptied: common writers leave the fourth
  // byte of a 32-bit pixel 0 for a picture that is wholly opaque. The pixels are read exactly as
  // ReadBitmapStream reads them.
  void ReadBitmapStream(TStream& stream, std::vector<std::uint8_t>& alpha);
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
  // fillWhite false (for NewBlack24 alone): the new pixels stay zero.
  void MakeStorage(const TBitmapDescription& description, std::vector<TRGBQuad> colorTable,
                   bool fillWhite = true);
  // Installs new storage under the image lock, releasing the old.
  void InstallImage(std::unique_ptr<TBitmapImage> image);

  TBitmapImage* FImage;
  std::unique_ptr<TBitmapCanvas> FCanvas;
};

}  // namespace penamo
