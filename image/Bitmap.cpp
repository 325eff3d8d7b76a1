#include "Bitmap.h"

#include <algorithm>
#include <cstring>

#include "BitmapCanvas.h"
#include "PixelCodecs.h"

namespace penamo {

void TGraphic::Changed() {
  if (OnChange) OnChange(*this);
}

TBitmap::TBitmap() : FImage(new TBitmapImage()) {
  FImage->Reference();
}

TBitmap::~TBitmap() {
  FCanvas.reset();
  FImage->Release();
}

std::int32_t TBitmap::Width() const {
  return FImage->Width();
}
std::int32_t TBitmap::Height() const {
  return FImage->Height();
}
bool TBitmap::Empty() const {
  return !FImage->HasPixels();
}
const TBitmapDescription& TBitmap::Description() const {
  return FImage->Description;
}
const std::vector<TRGBQuad>& TBitmap::ColorTable() const {
  return FImage->ColorTable;
}

void TBitmap::SetWidth(std::int32_t width) {
  if (width == Width()) return;
  TBitmapDescription description = FImage->Description;
  description.Header.biWidth = width;
  MakeStorage(description, FImage->ColorTable);
  Changed();
}

void TBitmap::SetHeight(std::int32_t height) {
  if (height == Height()) return;
  TBitmapDescription description = FImage->Description;
  description.Header.biHeight = height;
  MakeStorage(description, FImage->ColorTable);
  Changed();
}

void TBitmap::NewBlack24(std::int32_t width, std::int32_t height) {
  ShareFrom(nullptr);
  SetImageFormat(TPixelFormat::pf24bit);
  TBitmapDescription description = FImage->Description;
  description.Header.biWidth = width;
  description.Header.biHeight = height;
  MakeStorage(description, FImage->ColorTable, false);
  Changed();
}

void TBitmap::MakeStorage(const TBitmapDescription& description, std::vector<TRGBQuad> colorTable,
                          bool fillWhite) {
  auto image = std::make_unique<TBitmapImage>(description);
  image->ColorTable = std::move(colorTable);
  image->OldHeader = FImage->OldHeader;
  image->Halftone = FImage->Halftone;
  const auto& h = image->Description.Header;
  if (h.biWidth != 0 && h.biHeight != 0) {
    image->MakePixels(h.biSize == 0);
    const TBitmapImage& current = *FImage;
    const bool sameSize = current.HasPixels() && current.Width() == image->Width() &&
                          current.Height() == image->Height();
    if (fillWhite && !(h.biSize != 0 && sameSize && image->BitsPerPixel() > 8)) FillWhite(*image);
    if (current.HasPixels()) {
      CopyPixels(current, 0, 0, *image, 0, 0, std::min(current.Width(), image->Width()),
                 std::min(current.Height(), image->Height()));
    }
    if (h.biSize != 0) {
      image->Description.Header.biSizeImage = SizeImageField(image->ByteSize());
    }
  }
  InstallImage(std::move(image));
}

void TBitmap::InstallImage(std::unique_ptr<TBitmapImage> image) {
  InstallShared(FImage, image.release());
}

void TBitmap::PrepareForChange() {
  if (FImage->RefCount() > 1) {
    auto copy = std::make_unique<TBitmapImage>(FImage->Description);
    copy->ColorTable = FImage->ColorTable;
    copy->OldHeader = FImage->OldHeader;
    copy->Halftone = FImage->Halftone;
    if (FImage->HasPixels()) {
      copy->MakePixels(FImage->DeviceFormat());
      std::memcpy(copy->Pixels(), FImage->Pixels(), static_cast<std::size_t>(FImage->ByteSize()));
    }
    InstallImage(std::move(copy));
  }
  FImage->Description.Header.biClrUsed = 0;
  FImage->Description.Header.biClrImportant = 0;
}

std::uint8_t* TBitmap::RowAddress(std::int32_t y) {
  PrepareForChange();
  if (y < 0 || y >= Height())
    throw EInvalidGraphicOperation(Msg::ScanLineOutOfRange, "scan-line-out-of-range");
  if (!FImage->HasPixels()) return nullptr;  // a zero width leaves rows with no bytes
  FImage->MakeExplicit();
  return FImage->Row(y);
}

const std::uint8_t* TBitmap::ConstRowAddress(std::int32_t y) const {
  if (!FImage->HasPixels() || y < 0 || y >= Height()) return nullptr;
  return FImage->Row(y);
}

void TBitmap::ShareFrom(const TBitmap* source) {
  if (source != nullptr) {
    ShareShared(FImage, source->FImage);
    Transparent = source->Transparent;
    TransparentColor = source->TransparentColor;
  } else {
    InstallImage(std::make_unique<TBitmapImage>());
  }
  Changed();
}

TBitmapCanvas& TBitmap::Canvas() {
  if (!FCanvas) FCanvas = std::make_unique<TBitmapCanvas>(*this);
  return *FCanvas;
}

}  // namespace penamo
