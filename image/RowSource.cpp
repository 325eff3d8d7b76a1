#include "RowSource.h"

#include "Bitmap.h"

namespace penamo {

namespace {

TBitmap& As24Bits(TBitmap& picture) {
  if (!picture.Empty() && picture.ImageFormat() != TPixelFormat::pf24bit)
    picture.SetImageFormat(TPixelFormat::pf24bit);
  return picture;
}

}  // namespace

TBitmapRows::TBitmapRows(TBitmap& picture) : FPicture(As24Bits(picture)) {
  if (FPicture.Image().HasPixels()) {
    FWidth = FPicture.Width();
    FHeight = FPicture.Height();
  }
}

const std::uint8_t* TBitmapRows::Row(std::int32_t y) const {
  return FPicture.ConstRowAddress(y);
}

std::int32_t TBitmapRows::XPelsPerMeter() const {
  return FPicture.Description().Header.biXPelsPerMeter;
}

std::int32_t TBitmapRows::YPelsPerMeter() const {
  return FPicture.Description().Header.biYPelsPerMeter;
}

}  // namespace penamo
