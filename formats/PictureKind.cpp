#include "PictureKind.h"

#include <cstring>

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

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringCase(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (LowerAscii(text[i]) != lower[i]) return false;
  return true;
}

}  // namespace

const std::vector<TPictureFormat>& PictureFormats() {
  static const std::vector<TPictureFormat> formats = {
      {TPictureKind::Bitmap,
       "Bitmap",
       {"bmp"},
       {"image/bmp", "image/x-bmp", "image/x-ms-bmp"},
       nullptr,
       true},
      {TPictureKind::Png, "PNG", {"png"}, {"image/png"}, IsPng, true},
      {TPictureKind::Jpeg, "JPEG", {"jpg", "jpeg", "jpe", "jfif"}, {"image/jpeg"}, IsJpeg, false},
      {TPictureKind::Tiff, "TIFF", {"tif", "tiff"}, {"image/tiff"}, IsTiff, false},
      {TPictureKind::WebP, "WebP", {"webp"}, {"image/webp"}, IsWebP, false},
  };
  return formats;
}

TPictureKind PictureKindOf(const std::uint8_t* head, std::size_t size) {
  for (const TPictureFormat& format : PictureFormats())
    if (format.HasSignature != nullptr && format.HasSignature(head, size)) return format.Kind;
  return TPictureKind::Bitmap;
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
