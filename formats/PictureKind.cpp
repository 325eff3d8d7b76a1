#include "PictureKind.h"

#include <cstring>

namespace penamo {

namespace {

bool StartsWith(const std::uint8_t* head, std::size_t size, const char* signature,
                std::size_t length) {
  return size >= length && std::memcmp(head, signature, length) == 0;
}

}  // namespace

TPictureKind PictureKindOf(const std::uint8_t* head, std::size_t size) {
  if (StartsWith(head, size, "\x89PNG\r\n\x1a\n", 8)) return TPictureKind::Png;
  if (StartsWith(head, size, "\xFF\xD8\xFF", 3)) return TPictureKind::Jpeg;
  if (StartsWith(head, size, "II*\0", 4) || StartsWith(head, size, "MM\0*", 4) ||
      StartsWith(head, size, "II+\0", 4) || StartsWith(head, size, "MM\0+", 4)) {
    return TPictureKind::Tiff;  // classic and big TIFF, either byte order
  }
  if (StartsWith(head, size, "RIFF", 4) && size >= 12 && std::memcmp(head + 8, "WEBP", 4) == 0)
    return TPictureKind::WebP;
  return TPictureKind::Bitmap;
}

const std::vector<TPictureFormat>& PictureFormats() {
  static const std::vector<TPictureFormat> formats = {
      {TPictureKind::Bitmap, "Bitmap", {"bmp"}},
      {TPictureKind::Png, "PNG", {"png"}},
      {TPictureKind::Jpeg, "JPEG", {"jpg", "jpeg", "jpe", "jfif"}},
      {TPictureKind::Tiff, "TIFF", {"tif", "tiff"}},
      {TPictureKind::WebP, "WebP", {"webp"}},
  };
  return formats;
}

}  // namespace penamo
