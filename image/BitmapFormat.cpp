// The format changes of a raster image: the format it reports, a change to another format
// keeping every pixel's colour, and the conversion to 24 bits every read picture goes through.

#include "Bitmap.h"
#include "Palettes.h"
#include "PixelCodecs.h"

namespace penamo {

namespace {

// The device format is 24-bit rows bottom-up already: when nobody shares the storage, it
// becomes the explicit 24-bit picture of `description` without a byte being copied to where it
// already is. Returns false when that cannot be done.
bool AdoptDevicePixels(TBitmapImage& image, TBitmapDescription description) {
  if (!image.DeviceFormat() || !image.HasPixels() || image.RefCount() != 1 ||
      image.Description.Header.biHeight <= 0) {
    return false;
  }
  image.MakeExplicit();
  description.Header.biSizeImage = image.Description.Header.biSizeImage;
  image.Description = description;
  image.Halftone = false;
  return true;
}

}  // namespace

TPixelFormat TBitmap::ImageFormat() const {
  const auto& h = FImage->Description.Header;
  if (FImage->DeviceFormat() || (!FImage->HasPixels() && h.biSize == 0)) {
    return TPixelFormat::pfDevice;
  }
  switch (h.biBitCount) {
    case 1:
      return TPixelFormat::pf1bit;
    case 4:
      return TPixelFormat::pf4bit;
    case 8:
      return TPixelFormat::pf8bit;
    case 16:
      if (h.biCompression == BI_RGB) return TPixelFormat::pf15bit;
      if (h.biCompression == BI_BITFIELDS && FImage->Description.Masks[1] == 0x07E0) {
        return TPixelFormat::pf16bit;
      }
      return TPixelFormat::pfCustom;
    case 24:
      return TPixelFormat::pf24bit;
    case 32:
      return h.biCompression == BI_RGB ? TPixelFormat::pf32bit : TPixelFormat::pfCustom;
    default:
      return TPixelFormat::pfCustom;
  }
}

void TBitmap::SetImageFormat(TPixelFormat format) {
  if (format == ImageFormat()) return;
  if (format == TPixelFormat::pfCustom)
    throw EInvalidGraphic(Msg::InvalidPixelFormat, "custom-format-requested");
  TBitmapDescription description;
  auto& h = description.Header;
  h.biWidth = Width();
  h.biHeight = Height();
  std::vector<TRGBQuad> table = FImage->ColorTable;
  if (format != TPixelFormat::pfDevice) {
    static constexpr std::uint16_t kBits[] = {0, 1, 4, 8, 16, 16, 24, 32};
    h.biSize = sizeof(TBitmapInfoHeader);
    h.biPlanes = 1;
    h.biBitCount = kBits[static_cast<int>(format)];
    if (format == TPixelFormat::pf16bit) {
      h.biCompression = BI_BITFIELDS;
      description.Masks[0] = 0xF800;
      description.Masks[1] = 0x07E0;
      description.Masks[2] = 0x001F;
    }
    if (format == TPixelFormat::pf1bit && table.size() != 2) {
      table = {{0, 0, 0, 0}, {255, 255, 255, 0}};
    }
    if (format == TPixelFormat::pf4bit) table = SystemPalette16();
    if (format == TPixelFormat::pf8bit) table = HalftonePalette();
  }
  // The new storage is built aside from the current one, so there is no need to unshare it
  // first. The colour counts are cleared as for every change, but only in the new description:
  // the current storage may be shared, and a failure must leave it as it was.
  // Every image a filter writes comes here from the device format.
  if (format != TPixelFormat::pf24bit || !AdoptDevicePixels(*FImage, description)) {
    MakeStorage(description, std::move(table));
  }
  FImage->Halftone = format == TPixelFormat::pf8bit;
  Changed();
}

void TBitmap::ConvertTo24Bits() {
  const TBitmapImage& current = *FImage;
  const auto& h = current.Description.Header;
  if (!current.DeviceFormat() && h.biSize != 0 && h.biBitCount == 24) return;

  TBitmapDescription description;
  auto& target = description.Header;
  target.biSize = sizeof(TBitmapInfoHeader);
  target.biPlanes = 1;
  target.biBitCount = 24;
  if (current.Width() > 0 && current.Height() > 0) {
    target.biWidth = current.Width();
    target.biHeight = current.Height();
  }
  // A decoded run-length picture comes here in the device format.
  if (AdoptDevicePixels(*FImage, description)) {
    Changed();
    return;
  }
  auto image = std::make_unique<TBitmapImage>(description);
  image->ColorTable = current.ColorTable;
  image->OldHeader = current.OldHeader;
  if (target.biWidth > 0) {
    image->MakePixels(false);
    image->Description.Header.biSizeImage = SizeImageField(image->ByteSize());
    // A picture with a size but no pixels converts to black, as nothing can be read from it.
    if (current.HasPixels()) {
      CopyPixels(current, 0, 0, *image, 0, 0, current.Width(), current.Height());
    }
  }
  InstallImage(std::move(image));
  Changed();
}

}  // namespace penamo
