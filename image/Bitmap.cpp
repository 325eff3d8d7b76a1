#include "Bitmap.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>

namespace penamo {

namespace {

// Guards the exchange of storage references between images.
std::mutex& ImageLock() {
  static std::mutex lock;
  return lock;
}

// Blocks from this size on are mapped on their own (see MakePixels).
constexpr std::uint64_t kLargeBlock = std::uint64_t{8} << 20;
constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
// Under AddressSanitizer every block goes through its allocator, which checks each access.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitizedMemory = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitizedMemory = true;
#else
constexpr bool kSanitizedMemory = false;
#endif
#else
constexpr bool kSanitizedMemory = false;
#endif

// ---- Colour tables the format changes choose ---------------------------------------------

std::vector<TRGBQuad> SystemPalette16() {
  static const std::uint8_t rgb[16][3] = {
      {0, 0, 0},     {128, 0, 0},     {0, 128, 0},     {128, 128, 0},  {0, 0, 128}, {128, 0, 128},
      {0, 128, 128}, {192, 192, 192}, {128, 128, 128}, {255, 0, 0},    {0, 255, 0}, {255, 255, 0},
      {0, 0, 255},   {255, 0, 255},   {0, 255, 255},   {255, 255, 255}};
  std::vector<TRGBQuad> table;
  for (const auto& c : rgb)
    table.push_back({c[2], c[1], c[0], 0});
  return table;
}

// A 6 x 6 x 6 colour cube followed by a ramp of greys: every colour lies within half a cube step.
std::vector<TRGBQuad> HalftonePalette() {
  std::vector<TRGBQuad> table;
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b)
        table.push_back({static_cast<std::uint8_t>(b * 51), static_cast<std::uint8_t>(g * 51),
                         static_cast<std::uint8_t>(r * 51), 0});
  for (int i = 1; i <= 40; ++i) {
    const auto v = static_cast<std::uint8_t>(i * 255 / 41);
    table.push_back({v, v, v, 0});
  }
  return table;
}

// ---- Pixel codecs: any stored format to and from blue, green, red bytes --------------------

// One colour field of a bit-field format, widened or narrowed so that full scale stays full
// scale (all ones gives 255). A zero mask gives 0.
struct TChannel {
  std::uint32_t Mask = 0;
  int Shift = 0;
  std::uint64_t Max = 0;

  explicit TChannel(std::uint32_t mask = 0) : Mask(mask) {
    if (mask != 0) {
      Shift = std::countr_zero(mask);
      Max = mask >> Shift;
    }
  }
  std::uint8_t Decode(std::uint32_t pixel) const {
    if (Max == 0) return 0;
    const std::uint64_t v = (pixel & Mask) >> Shift;
    return static_cast<std::uint8_t>((v * 255 + Max / 2) / Max);
  }
  std::uint32_t Encode(std::uint8_t value) const {
    if (Max == 0) return 0;
    return static_cast<std::uint32_t>(((value * Max + 127) / 255) << Shift) & Mask;
  }
};

struct TMasks {
  TChannel Red, Green, Blue;
};

TMasks MasksOf(const TBitmapImage& image) {
  const auto& h = image.Description.Header;
  if (h.biCompression == BI_BITFIELDS) {
    const auto* m = image.Description.Masks;
    return {TChannel(m[0]), TChannel(m[1]), TChannel(m[2])};
  }
  if (h.biBitCount == 16) return {TChannel(0x7C00), TChannel(0x03E0), TChannel(0x001F)};
  return {TChannel(0xFF0000), TChannel(0xFF00), TChannel(0xFF)};
}

class TPixelDecoder {
 public:
  explicit TPixelDecoder(const TBitmapImage& image)
      : FImage(image), FBits(image.BitsPerPixel()), FMasks(MasksOf(image)) {}

  // Pixels x0 .. x0 + count - 1 of row y as blue, green, red triples.
  void DecodeRow(std::int32_t y, std::int32_t x0, std::int32_t count, std::uint8_t* bgr) const {
    const std::uint8_t* row = FImage.Row(y);
    switch (FBits) {
      case 24:
        std::memcpy(bgr, row + 3 * static_cast<std::size_t>(x0),
                    3 * static_cast<std::size_t>(count));
        return;
      case 1:
      case 2:
      case 4:
      case 8:
        for (std::int32_t i = 0; i < count; ++i, bgr += 3)
          Put(bgr, IndexAt(row, x0 + i));
        return;
      case 16:
        for (std::int32_t i = 0; i < count; ++i, bgr += 3) {
          const std::uint8_t* p = row + 2 * static_cast<std::size_t>(x0 + i);
          PutMasked(bgr, static_cast<std::uint32_t>(p[0] | (p[1] << 8)));
        }
        return;
      case 32:
        for (std::int32_t i = 0; i < count; ++i, bgr += 3) {
          const std::uint8_t* p = row + 4 * static_cast<std::size_t>(x0 + i);
          if (FImage.Description.Header.biCompression == BI_BITFIELDS) {
            PutMasked(bgr, static_cast<std::uint32_t>(p[0]) |
                               (static_cast<std::uint32_t>(p[1]) << 8) |
                               (static_cast<std::uint32_t>(p[2]) << 16) |
                               (static_cast<std::uint32_t>(p[3]) << 24));
          } else {
            bgr[0] = p[0];
            bgr[1] = p[1];
            bgr[2] = p[2];
          }
        }
        return;
      default:
        std::memset(bgr, 0, 3 * static_cast<std::size_t>(count));
    }
  }

 private:
  std::uint32_t IndexAt(const std::uint8_t* row, std::int32_t x) const {
    const auto bit = static_cast<std::uint64_t>(x) * static_cast<std::uint64_t>(FBits);
    const std::uint8_t byte = row[bit / 8];
    const auto shift = static_cast<unsigned>(8 - FBits - static_cast<int>(bit % 8));
    return (byte >> shift) & ((1u << FBits) - 1);
  }
  // An index past the end of a short colour table shows black.
  void Put(std::uint8_t* bgr, std::uint32_t index) const {
    const auto& table = FImage.ColorTable;
    const TRGBQuad c = index < table.size() ? table[index] : TRGBQuad{};
    bgr[0] = c.rgbBlue;
    bgr[1] = c.rgbGreen;
    bgr[2] = c.rgbRed;
  }
  void PutMasked(std::uint8_t* bgr, std::uint32_t pixel) const {
    bgr[0] = FMasks.Blue.Decode(pixel);
    bgr[1] = FMasks.Green.Decode(pixel);
    bgr[2] = FMasks.Red.Decode(pixel);
  }

  const TBitmapImage& FImage;
  int FBits;
  TMasks FMasks;
};

class TPixelEncoder {
 public:
  explicit TPixelEncoder(const TBitmapImage& image)
      : FImage(image), FBits(image.BitsPerPixel()), FMasks(MasksOf(image)) {}

  void EncodeRow(std::int32_t y, std::int32_t x0, std::int32_t count,
                 const std::uint8_t* bgr) const {
    std::uint8_t* row = FImage.Row(y);
    switch (FBits) {
      case 24:
        std::memcpy(row + 3 * static_cast<std::size_t>(x0), bgr,
                    3 * static_cast<std::size_t>(count));
        return;
      case 1:
      case 2:
      case 4:
      case 8:
        for (std::int32_t i = 0; i < count; ++i, bgr += 3)
          SetIndex(row, x0 + i, Nearest(bgr));
        return;
      case 16:
        for (std::int32_t i = 0; i < count; ++i, bgr += 3) {
          const std::uint32_t v = Masked(bgr);
          std::uint8_t* p = row + 2 * static_cast<std::size_t>(x0 + i);
          p[0] = static_cast<std::uint8_t>(v);
          p[1] = static_cast<std::uint8_t>(v >> 8);
        }
        return;
      case 32:
        for (std::int32_t i = 0; i < count; ++i, bgr += 3) {
          const std::uint32_t v = Masked(bgr);
          std::uint8_t* p = row + 4 * static_cast<std::size_t>(x0 + i);
          for (int k = 0; k < 4; ++k)
            p[k] = static_cast<std::uint8_t>(v >> (8 * k));
        }
        return;
      default:
        return;
    }
  }

 private:
  std::uint32_t Masked(const std::uint8_t* bgr) const {
    return FMasks.Red.Encode(bgr[2]) | FMasks.Green.Encode(bgr[1]) | FMasks.Blue.Encode(bgr[0]);
  }
  // The nearest colour of the table; a colour not in the table is matched by least squares.
  std::uint32_t Nearest(const std::uint8_t* bgr) const {
    const auto& table = FImage.ColorTable;
    const std::size_t limit = std::min<std::size_t>(table.size(), std::size_t{1} << FBits);
    std::uint32_t best = 0;
    int bestDistance = std::numeric_limits<int>::max();
    for (std::size_t i = 0; i < limit; ++i) {
      const int db = table[i].rgbBlue - bgr[0];
      const int dg = table[i].rgbGreen - bgr[1];
      const int dr = table[i].rgbRed - bgr[2];
      const int d = db * db + dg * dg + dr * dr;
      if (d < bestDistance) {
        bestDistance = d;
        best = static_cast<std::uint32_t>(i);
        if (d == 0) break;
      }
    }
    return best;
  }
  void SetIndex(std::uint8_t* row, std::int32_t x, std::uint32_t index) const {
    const auto bit = static_cast<std::uint64_t>(x) * static_cast<std::uint64_t>(FBits);
    std::uint8_t& byte = row[bit / 8];
    const auto shift = static_cast<unsigned>(8 - FBits - static_cast<int>(bit % 8));
    const auto mask = static_cast<std::uint8_t>(((1u << FBits) - 1) << shift);
    byte = static_cast<std::uint8_t>((byte & ~mask) | ((index << shift) & mask));
  }

  const TBitmapImage& FImage;
  int FBits;
  TMasks FMasks;
};

// Copies a width x height block of pixels between two pictures of any formats, keeping colours.
void CopyPixels(const TBitmapImage& source, std::int32_t sx, std::int32_t sy, TBitmapImage& target,
                std::int32_t tx, std::int32_t ty, std::int32_t width, std::int32_t height) {
  if (width <= 0 || height <= 0) return;
  const TPixelDecoder decoder(source);
  const TPixelEncoder encoder(target);
  const bool direct = target.BitsPerPixel() == 24;
  std::vector<std::uint8_t> buffer(direct ? 0 : 3 * static_cast<std::size_t>(width));
  for (std::int32_t y = 0; y < height; ++y) {
    if (direct) {
      decoder.DecodeRow(sy + y, sx, width, target.Row(ty + y) + 3 * static_cast<std::size_t>(tx));
    } else {
      decoder.DecodeRow(sy + y, sx, width, buffer.data());
      encoder.EncodeRow(ty + y, tx, width, buffer.data());
    }
  }
}

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

void FillWhite(TBitmapImage& image) {
  const std::int32_t width = image.Width();
  if (image.BitsPerPixel() == 24) {
    // Only the pixels: pad bytes stay 0.
    for (std::int32_t y = 0; y < image.Height(); ++y) {
      std::memset(image.Row(y), 0xFF, 3 * static_cast<std::size_t>(width));
    }
    return;
  }
  const std::vector<std::uint8_t> white(3 * static_cast<std::size_t>(width), 0xFF);
  const TPixelEncoder encoder(image);
  for (std::int32_t y = 0; y < image.Height(); ++y)
    encoder.EncodeRow(y, 0, width, white.data());
}

}  // namespace

// ---- Storage -------------------------------------------------------------------------------

TBitmapImage::TBitmapImage(const TBitmapDescription& description) : Description(description) {}

TBitmapImage::~TBitmapImage() {
  FreePixels();
}

void TBitmapImage::FreePixels() {
  if (FMapping != nullptr) {
    ::munmap(FMapping, FMappingLength);
  } else {
    std::free(FPixels);
  }
  FPixels = nullptr;
  FMapping = nullptr;
  FMappingLength = 0;
}

int TBitmapImage::BitsPerPixel() const {
  if (FDeviceFormat || Description.Header.biBitCount == 0) return 24;
  return Description.Header.biBitCount;
}

std::int32_t TBitmapImage::Height() const {
  const std::int64_t h = HeightMagnitude(Description.Header.biHeight);
  // -2^31 has no positive 32-bit counterpart; storage of that height is never made, but a
  // description without pixels may still hold it.
  return static_cast<std::int32_t>(std::min(h, kMaxDimension));
}

void TBitmapImage::MakePixels(bool deviceFormat) {
  const auto& h = Description.Header;
  const int bits = deviceFormat || h.biBitCount == 0 ? 24 : h.biBitCount;
  const auto size = StorageSize(h.biWidth, HeightMagnitude(h.biHeight), bits);
  if (!size || *size == 0 || h.biWidth <= 0 || h.biHeight == 0) {
    throw EOutOfResources(Msg::OutOfResources, "picture-too-large");
  }
  std::uint8_t* pixels = nullptr;
  void* mapping = nullptr;
  std::size_t mappingLength = 0;
  if (*size >= kLargeBlock && !kSanitizedMemory) {
    // Large blocks come straight from the kernel: zero pages that cost nothing until written,
    // so a picture costs memory only where something is written to it; aligned to and
    // advised for 2 MiB pages, so filling a 48 MiB picture takes a few dozen page faults
    // rather than twelve thousand.
    mappingLength = static_cast<std::size_t>(*size) + kHugePage;
    mapping =
        ::mmap(nullptr, mappingLength, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED) throw EOutOfResources(Msg::OutOfResources, "pixel-mapping-failed");
    const auto start =
        (reinterpret_cast<std::uintptr_t>(mapping) + kHugePage - 1) & ~(kHugePage - 1);
    pixels = reinterpret_cast<std::uint8_t*>(start);
    ::madvise(pixels, static_cast<std::size_t>(*size), MADV_HUGEPAGE);
  } else {
    // calloc as well gives untouched zero pages for what it maps itself.
    pixels = static_cast<std::uint8_t*>(std::calloc(static_cast<std::size_t>(*size), 1));
    if (pixels == nullptr) throw EOutOfResources(Msg::OutOfResources, "pixel-allocation-failed");
  }
  FreePixels();
  FPixels = pixels;
  FMapping = mapping;
  FMappingLength = mappingLength;
  FDeviceFormat = deviceFormat;
  FStride = RowStride(h.biWidth, bits);
  FByteSize = *size;
}

void TBitmapImage::MakeExplicit() {
  if (!FDeviceFormat) return;
  FDeviceFormat = false;
  auto& h = Description.Header;
  h.biSize = sizeof(TBitmapInfoHeader);
  h.biPlanes = 1;
  h.biBitCount = 24;
  h.biCompression = BI_RGB;
  h.biSizeImage = SizeImageField(FByteSize);
}

std::uint8_t* TBitmapImage::Row(std::int32_t y) const {
  const std::int64_t place = BottomUp() ? Height() - 1 - static_cast<std::int64_t>(y) : y;
  return FPixels + static_cast<std::uint64_t>(place) * FStride;
}

// ---- TGraphic / TBitmap --------------------------------------------------------------------

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

void TBitmap::MakeStorage(const TBitmapDescription& description, std::vector<TRGBQuad> colorTable) {
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
    if (!(h.biSize != 0 && sameSize && image->BitsPerPixel() > 8)) FillWhite(*image);
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
  TBitmapImage* fresh = image.release();
  fresh->Reference();
  TBitmapImage* old = nullptr;
  {
    const std::lock_guard<std::mutex> guard(ImageLock());
    old = FImage;
    FImage = fresh;
  }
  old->Release();
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
    {
      const std::lock_guard<std::mutex> guard(ImageLock());
      TBitmapImage* shared = source->FImage;
      shared->Reference();
      TBitmapImage* old = FImage;
      FImage = shared;
      old->Release();
    }
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

// ---- Drawing surface -----------------------------------------------------------------------

void TBitmapCanvas::CopyRectangle(const TRect& dest, const TBitmapCanvas& sourceCanvas,
                                  const TRect& source) {
  FOwner.PrepareForChange();
  TBitmapImage& target = *FOwner.FImage;
  const TBitmapImage& from = *sourceCanvas.FOwner.FImage;
  const std::int32_t dw = dest.Width(), dh = dest.Height();
  const std::int32_t sw = source.Width(), sh = source.Height();
  if (target.HasPixels() && from.HasPixels() && dw > 0 && dh > 0 && sw > 0 && sh > 0) {
    target.MakeExplicit();
    if (dw == sw && dh == sh) {
      // Clip both rectangles together, so only pixels present in both pictures move.
      const std::int64_t left = std::max<std::int64_t>(
          {0, -static_cast<std::int64_t>(dest.Left), -static_cast<std::int64_t>(source.Left)});
      const std::int64_t top = std::max<std::int64_t>(
          {0, -static_cast<std::int64_t>(dest.Top), -static_cast<std::int64_t>(source.Top)});
      const std::int64_t right = std::min<std::int64_t>(
          {static_cast<std::int64_t>(dw), static_cast<std::int64_t>(target.Width()) - dest.Left,
           static_cast<std::int64_t>(from.Width()) - source.Left});
      const std::int64_t bottom = std::min<std::int64_t>(
          {static_cast<std::int64_t>(dh), static_cast<std::int64_t>(target.Height()) - dest.Top,
           static_cast<std::int64_t>(from.Height()) - source.Top});
      if (right > left && bottom > top) {
        CopyPixels(
            from, static_cast<std::int32_t>(source.Left + left),
            static_cast<std::int32_t>(source.Top + top), target,
            static_cast<std::int32_t>(dest.Left + left), static_cast<std::int32_t>(dest.Top + top),
            static_cast<std::int32_t>(right - left), static_cast<std::int32_t>(bottom - top));
      }
    } else {
      // Stretching or shrinking: each target pixel takes the nearest source pixel.
      const std::int64_t x0 = std::max<std::int64_t>(0, dest.Left);
      const std::int64_t x1 = std::min<std::int64_t>(target.Width(), dest.Right);
      const std::int64_t y0 = std::max<std::int64_t>(0, dest.Top);
      const std::int64_t y1 = std::min<std::int64_t>(target.Height(), dest.Bottom);
      const TPixelDecoder decoder(from);
      const TPixelEncoder encoder(target);
      std::uint8_t bgr[3];
      for (std::int64_t y = y0; y < y1; ++y) {
        const std::int64_t sy = source.Top + (y - dest.Top) * sh / dh;
        if (sy < 0 || sy >= from.Height()) continue;
        for (std::int64_t x = x0; x < x1; ++x) {
          const std::int64_t sx = source.Left + (x - dest.Left) * sw / dw;
          if (sx < 0 || sx >= from.Width()) continue;
          decoder.DecodeRow(static_cast<std::int32_t>(sy), static_cast<std::int32_t>(sx), 1, bgr);
          encoder.EncodeRow(static_cast<std::int32_t>(y), static_cast<std::int32_t>(x), 1, bgr);
        }
      }
    }
  }
  FOwner.Changed();
}

}  // namespace penamo
