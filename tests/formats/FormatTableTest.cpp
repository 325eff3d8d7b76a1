// The table of formats: what a file name's extension names, and the desktop entry announcing
// exactly the MIME types the table lists.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "PictureKind.h"

namespace penamo {
namespace {

// The values of the desktop entry's MimeType line, in their order.
std::vector<std::string> DesktopEntryMimeTypes() {
  std::ifstream entry(PENAMO_SOURCE_DIR "/data/penamo.desktop");
  std::string line;
  const std::string key = "MimeType=";
  while (std::getline(entry, line)) {
    if (line.rfind(key, 0) != 0) continue;
    std::vector<std::string> types;
    std::istringstream values(line.substr(key.size()));
    for (std::string type; std::getline(values, type, ';');)
      if (!type.empty()) types.push_back(type);
    return types;
  }
  return {};
}

TEST(FormatTable, TheDesktopEntryAnnouncesEveryMimeTypeOfTheTableAndNoOther) {
  std::vector<std::string> table;
  for (const TPictureFormat& format : PictureFormats())
    table.insert(table.end(), format.MimeTypes.begin(), format.MimeTypes.end());
  EXPECT_EQ(DesktopEntryMimeTypes(), table);
}

TEST(FormatTable, RowsAreOnePerKindWithLowerCaseExtensionsNoOtherRowClaims) {
  std::set<TPictureKind> kinds;
  std::set<std::string> extensions;
  for (const TPictureFormat& format : PictureFormats()) {
    SCOPED_TRACE(format.Name);
    EXPECT_TRUE(kinds.insert(format.Kind).second);
    EXPECT_FALSE(format.MimeTypes.empty());
    // Only the bitmap, the kind of whatever nothing else claims, goes without a signature.
    EXPECT_EQ(format.HasSignature == nullptr, format.Kind == TPictureKind::Bitmap);
    for (const std::string& extension : format.Extensions) {
      EXPECT_TRUE(extensions.insert(extension).second) << extension;
      EXPECT_EQ(extension.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789"),
                std::string::npos)
          << extension;
    }
  }
  EXPECT_EQ(PictureFormats().front().Kind, TPictureKind::Bitmap);
}

TEST(FormatTable, AFileNameNamesTheFormatOfItsLastExtensionInAnyCase) {
  const struct {
    const char* Name;
    const char* Format;  // null: none
  } cases[] = {
      {"picture.png", "PNG"},      {"PICTURE.PNG", "PNG"},    {"dir/.png", "PNG"},
      {"photo.JPEG", "JPEG"},      {"scan.tif", "TIFF"},      {"web.webp", "WebP"},
      {"anim.GIF", "GIF"},         {"iphone.HEIC", "HEIF"},   {"x.heif", "HEIF"},
      {"a.avif", "AVIF"},          {"b.jxl", "JPEG XL"},      {"old.png.bmp", "Bitmap"},
      {"archive.bmp.gz", nullptr}, {"plain", nullptr},        {"trailing.", nullptr},
      {"my.png/file", nullptr},    {"picture.pngx", nullptr},
  };
  for (const auto& c : cases) {
    const TPictureFormat* format = FormatOfFileName(c.Name);
    if (c.Format == nullptr) {
      EXPECT_EQ(format, nullptr) << c.Name;
    } else {
      ASSERT_NE(format, nullptr) << c.Name;
      EXPECT_STREQ(format->Name, c.Format) << c.Name;
    }
  }
}

// The first bytes of each kind, HEIF and AVIF told apart by the brands of their `ftyp` box,
// the compatible ones included, and unknown bytes left to the bitmap's judgement.
TEST(FormatTable, SignaturesTellEveryKind) {
  const auto fileType = [](const char* major, std::string compatible) {
    std::string box(4, '\0');
    box += "ftyp";
    box += major;
    box += std::string(4, '\0') + compatible;
    box[3] = static_cast<char>(box.size());
    return box;
  };
  const struct {
    std::string Head;
    TPictureKind Kind;
  } cases[] = {
      {"GIF87a\x01\x00", TPictureKind::Gif},
      {"GIF89a", TPictureKind::Gif},
      {"GIF90a", TPictureKind::Bitmap},
      {fileType("heic", "mif1heic"), TPictureKind::Heif},
      {fileType("heix", ""), TPictureKind::Heif},
      {fileType("mif1", "heic"), TPictureKind::Heif},
      {fileType("msf1", "hevc"), TPictureKind::Heif},
      {fileType("avif", "avifmif1miaf"), TPictureKind::Avif},
      {fileType("avis", ""), TPictureKind::Avif},
      {fileType("mif1", "miafavif"), TPictureKind::Avif},
      {fileType("heic", "avif"), TPictureKind::Heif},  // the major brand decides first
      {fileType("isom", "isommp41"), TPictureKind::Bitmap},
      {std::string("\0\0\0\x08"
                   "ftypmif1",
                   12),
       TPictureKind::Bitmap},  // a box too short
      {std::string("\xFF\x0A\xFA", 3), TPictureKind::Jxl},
      {std::string("\0\0\0\x0CJXL \r\n\x87\n\0\0", 14), TPictureKind::Jxl},
      {std::string("\0\0\0\x0CJXL \r\n\x87", 11), TPictureKind::Bitmap},
  };
  for (const auto& c : cases) {
    const auto* head = reinterpret_cast<const std::uint8_t*>(c.Head.data());
    EXPECT_EQ(PictureKindOf(head, c.Head.size()), c.Kind) << c.Head;
  }
  // A compatible brand past the signature bytes a reader looks at counts for nothing: the
  // structural brand alone says HEIF.
  std::string far = fileType("mif1", std::string(4 * 20, 'x') + "avif");
  EXPECT_EQ(PictureKindOf(reinterpret_cast<const std::uint8_t*>(far.data()), kPictureSignatureSize),
            TPictureKind::Heif);
}

}  // namespace
}  // namespace penamo
