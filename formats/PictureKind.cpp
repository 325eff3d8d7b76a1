#include "PictureKind.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <stdexcept>

#include "Bitmap.h"
#include "BitmapBandWriter.h"
#include "BitmapFileRows.h"
#include "DeepRowSource.h"
#include "GifReader.h"
#include "HeifReader.h"
#include "JpegReader.h"
#include "JxlReader.h"
#include "PictureExtras.h"
#include "PngReader.h"
#include "PngWriter.h"
#include "RowSource.h"
#include "Stream.h"
#include "TiffReader.h"
#include "WebPReader.h"

namespace penamo {

namespace {

bool StartsWith(const std::uint8_t* head, std::size_t size, const char* signature,
                std::size_t length) {
  return size >= length && std::memcmp(head, signature, length) == 0;
}

bool IsPng(const std::uint8_t* head, std::size_t size) {
  return StartsWith(head, size, "\x89PNG\r\n\x1a\n", 8);
}

bool IsJpeg(const std::uint8_t* head, std::size_t size) {
  return StartsWith(head, size, "\xFF\xD8\xFF", 3);
}

bool IsTiff(const std::uint8_t* head, std::size_t size) {
  // Classic and big TIFF, either byte order.
  return StartsWith(head, size, "II*\0", 4) || StartsWith(head, size, "MM\0*", 4) ||
         StartsWith(head, size, "II+\0", 4) || StartsWith(head, size, "MM\0+", 4);
}

bool IsWebP(const std::uint8_t* head, std::size_t size) {
  return StartsWith(head, size, "RIFF", 4) && size >= 12 && std::memcmp(head + 8, "WEBP", 4) == 0;
}

bool IsGif(const std::uint8_t* head, std::size_t size) {
  return StartsWith(head, size, "GIF87a", 6) || StartsWith(head, size, "GIF89a", 6);
}

// The brands of an ISO base media file's leading `ftyp` box within head: the major brand and
// the compatible ones, as far as head holds them.
struct TBrands {
  bool IsFileType = false;
  const std::uint8_t* Major = nullptr;
  std::vector<const std::uint8_t*> Compatible;

  bool MajorIs(const char* brand) const {
    return Major != nullptr && std::memcmp(Major, brand, 4) == 0;
  }
  bool MajorIsAnyOf(std::initializer_list<const char*> brands) const {
    for (const char* brand : brands)
      if (MajorIs(brand)) return true;
    return false;
  }
  bool Lists(std::initializer_list<const char*> brands) const {
    for (const std::uint8_t* compatible : Compatible)
      for (const char* brand : brands)
        if (std::memcmp(compatible, brand, 4) == 0) return true;
    return false;
  }
};

TBrands BrandsOf(const std::uint8_t* head, std::size_t size) {
  TBrands brands;
  if (size < 12 || std::memcmp(head + 4, "ftyp", 4) != 0) return brands;
  const std::uint32_t boxSize = std::uint32_t{head[0]} << 24 | std::uint32_t{head[1]} << 16 |
                                std::uint32_t{head[2]} << 8 | std::uint32_t{head[3]};
  // A box of its header, major brand and minor version at least; 1 (a 64-bit size) and 0 (to
  // the end of the file) are no sizes an `ftyp` box has.
  if (boxSize < 16) return brands;
  brands.IsFileType = true;
  brands.Major = head + 8;
  const std::size_t end = std::min<std::size_t>(boxSize, size);
  for (std::size_t at = 16; at + 4 <= end; at += 4)
    brands.Compatible.push_back(head + at);
  return brands;
}

// The brands of the HEVC coded pictures and sequences.
constexpr std::initializer_list<const char*> kHevcBrands = {"heic", "heix", "hevc", "hevx",
                                                            "heim", "heis", "hevm", "hevs"};

// AV1 inside HEIF: named so by its major brand, or, under a major brand that names no HEVC,
// by a compatible one.
bool IsAvifBrands(const TBrands& brands) {
  if (!brands.IsFileType) return false;
  if (brands.MajorIsAnyOf({"avif", "avis"})) return true;
  if (brands.MajorIsAnyOf(kHevcBrands)) return false;
  return brands.Lists({"avif", "avis"});
}

bool HasAvifSignature(const std::uint8_t* head, std::size_t size) {
  return IsAvifBrands(BrandsOf(head, size));
}

// Every other HEIF: HEVC pictures, and the structural brands of any image file of the family.
bool IsHeif(const std::uint8_t* head, std::size_t size) {
  const TBrands brands = BrandsOf(head, size);
  if (!brands.IsFileType || IsAvifBrands(brands)) return false;
  if (brands.MajorIsAnyOf(kHevcBrands) || brands.MajorIsAnyOf({"mif1", "msf1"})) return true;
  return brands.Lists(kHevcBrands) || brands.Lists({"mif1", "msf1"});
}

bool IsJxl(const std::uint8_t* head, std::size_t size) {
  // The bare codestream, or the container's signature box.
  return StartsWith(head, size, "\xFF\x0A", 2) ||
         StartsWith(head, size, "\0\0\0\x0CJXL \r\n\x87\n", 12);
}

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringCase(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (LowerAscii(text[i]) != lower[i]) return false;
  return true;
}

// A bitmap's bytes through the bitmap reader, converted to 24 bits aside and then installed; an
// alpha mask the file keeps becomes the extras' alpha plane.
void ReadBitmapBytes(const std::uint8_t* data, std::size_t size, TBitmap& picture,
                     TPictureExtras& extras) {
  TMemoryStream stream(std::vector<std::uint8_t>(data, data + size));
  ReadBitmapFromStream(stream, picture, extras);
}

// A bitmap stays 24-bit colour whatever the rows hold, and keeps no alpha; it stores the
// resolution.
std::unique_ptr<TBandWriter> OpenBitmapBands(const std::string& path, std::int32_t width,
                                             std::int32_t height, const TPictureExtras&,
                                             const TPictureWriteOptions& options) {
  return std::make_unique<TBitmapBandWriter>(path, width, height, options.XPelsPerMeter,
                                             options.YPelsPerMeter);
}

void WriteBitmapPicture(const TBitmap& picture, const std::string& path, const TPictureExtras&) {
  picture.WriteBitmapFile(path);
}

// A PNG keeps the alpha, the colour profile and the metadata; grey rows are written at the
// smallest depth that holds their levels exactly. It stores no resolution.
std::unique_ptr<TBandWriter> OpenPngBands(const std::string& path, std::int32_t width,
                                          std::int32_t height, const TPictureExtras& extras,
                                          const TPictureWriteOptions& options) {
  TPngWriterOptions png = DefaultPngWriterOptions();
  if (options.GreyLevels != 0) png.GreyDepth = PngGreyDepthForLevels(options.GreyLevels);
  return CreatePngWriter(path, width, height, extras, png);
}

// While a test's scope lives: the shipped rows and its row.
std::vector<TPictureFormat>& ExtendedFormats() {
  static std::vector<TPictureFormat> formats;
  return formats;
}
bool gExtended = false;

}  // namespace

void ReadBitmapFromStream(TStream& stream, TBitmap& picture, TPictureExtras& extras) {
  TBitmap read;
  TPictureExtras readExtras;
  read.ReadBitmapStream(stream, readExtras.Alpha);
  read.ConvertTo24Bits();
  picture.ShareFrom(&read);
  extras = std::move(readExtras);
}

namespace {

const std::vector<TPictureFormat>& ShippedFormats() {
  // The readers' band-by-band openers take an optional argument: each is wrapped to the table's
  // plain signature.
  static const std::vector<TPictureFormat> formats = {
      {TPictureKind::Bitmap,
       "Bitmap",
       {"bmp"},
       {"image/bmp", "image/x-bmp", "image/x-ms-bmp"},
       nullptr,
       {ReadBitmapBytes, nullptr, nullptr,
        [](const std::string& path, TPictureExtras&) -> std::unique_ptr<TRowSource> {
          return TBitmapFileRows::Open(path);
        },
        nullptr},
       {OpenBitmapBands, WriteBitmapPicture, false}},
      {TPictureKind::Png,
       "PNG",
       {"png"},
       {"image/png"},
       IsPng,
       {ReadPng, ReadPngDeep, ReadPngWithDeep,
        [](const std::string& path, TPictureExtras& extras) { return OpenPngRows(path, extras); },
        [](const std::string& path, TPictureExtras& extras) {
          return OpenPngDeepRows(path, extras);
        }},
       {OpenPngBands, WritePngFile, true}},
      {TPictureKind::Jpeg,
       "JPEG",
       {"jpg", "jpeg", "jpe", "jfif"},
       {"image/jpeg"},
       IsJpeg,
       {ReadJpeg, nullptr, nullptr,
        [](const std::string& path, TPictureExtras& extras) { return OpenJpegRows(path, extras); },
        nullptr},
       {}},
      {TPictureKind::Tiff,
       "TIFF",
       {"tif", "tiff"},
       {"image/tiff"},
       IsTiff,
       {ReadTiff, ReadTiffDeep, ReadTiffWithDeep, nullptr,
        [](const std::string& path, TPictureExtras& extras) {
          return OpenTiffDeepRows(path, extras);
        }},
       {}},
      {TPictureKind::WebP,
       "WebP",
       {"webp"},
       {"image/webp"},
       IsWebP,
       {ReadWebP, nullptr, nullptr, nullptr, nullptr},
       {}},
      {TPictureKind::Gif,
       "GIF",
       {"gif"},
       {"image/gif"},
       IsGif,
       {ReadGif, nullptr, nullptr, nullptr, nullptr},
       {}},
      {TPictureKind::Heif,
       "HEIF",
       {"heic", "heif"},
       {"image/heic", "image/heif"},
       IsHeif,
       {ReadHeif, ReadHeifDeep, ReadHeifWithDeep, nullptr, nullptr},
       {}},
      {TPictureKind::Avif,
       "AVIF",
       {"avif"},
       {"image/avif"},
       HasAvifSignature,
       {ReadHeif, ReadHeifDeep, ReadHeifWithDeep, nullptr, nullptr},
       {}},
      {TPictureKind::Jxl,
       "JPEG XL",
       {"jxl"},
       {"image/jxl"},
       IsJxl,
       {ReadJxl, ReadJxlDeep, ReadJxlWithDeep, nullptr, nullptr},
       {}},
  };
  return formats;
}

}  // namespace

const std::vector<TPictureFormat>& PictureFormats() {
  return gExtended ? ExtendedFormats() : ShippedFormats();
}

TExtraFormatRowScope::TExtraFormatRowScope(const TPictureFormat& row) {
  const std::vector<TPictureFormat>& shipped = ShippedFormats();
  if (gExtended || static_cast<std::size_t>(row.Kind) != shipped.size())
    throw std::logic_error("a test's format row takes the kind after the shipped rows', once");
  // Only the bitmap takes what no signature claims; a kind written is written both ways.
  bool sound = row.Reader.Read != nullptr && row.HasSignature != nullptr &&
               (row.Writer.OpenBands != nullptr) == (row.Writer.Write != nullptr);
  for (const std::string& extension : row.Extensions)
    sound = sound && FormatOfExtension(extension) == nullptr;
  if (!sound) throw std::logic_error("a test's format row the table cannot hold");
  std::vector<TPictureFormat>& table = ExtendedFormats();
  table = shipped;
  table.push_back(row);
  gExtended = true;
}

TExtraFormatRowScope::~TExtraFormatRowScope() {
  gExtended = false;
  ExtendedFormats().clear();
}

const TPictureFormat& PictureFormatOf(TPictureKind kind) {
  for (const TPictureFormat& format : PictureFormats())
    if (format.Kind == kind) return format;
  return PictureFormats().front();  // every kind has its row; the bitmap's is the first
}

TPictureKind PictureKindOf(const std::uint8_t* head, std::size_t size) {
  for (const TPictureFormat& format : PictureFormats())
    if (format.HasSignature != nullptr && format.HasSignature(head, size)) return format.Kind;
  return TPictureKind::Bitmap;
}

bool IsBitmapCandidate(const std::uint8_t* head, std::size_t size, std::string_view name) {
  if (StartsWith(head, size, "BM", 2)) return true;
  const TPictureFormat* named = FormatOfFileName(name);
  return named != nullptr && named->Kind == TPictureKind::Bitmap;
}

const TPictureFormat* FormatOfExtension(std::string_view extension) {
  for (const TPictureFormat& format : PictureFormats())
    for (const std::string& known : format.Extensions)
      if (EqualsIgnoringCase(extension, known)) return &format;
  return nullptr;
}

const TPictureFormat* FormatOfFileName(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return nullptr;
  const std::string_view extension = name.substr(dot + 1);
  // A dot in a folder's name is no extension of the file's.
  if (extension.find('/') != std::string_view::npos) return nullptr;
  return FormatOfExtension(extension);
}

}  // namespace penamo
