// The table of formats: what a file name's extension names, the desktop entry announcing
// exactly the MIME types the table lists, the writers the rows hold, and a row added for a test
// seen by every lookup.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "BandWriter.h"
#include "PictureFile.h"
#include "PictureKind.h"
#include "Pictures24.h"
#include "TemporaryFolder.h"
#include "TestFormatRow.h"

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

// The picture's rows, top row first, without the padding.
std::vector<std::uint8_t> RowsOf(const TBitmap& picture) {
  std::vector<std::uint8_t> bytes;
  for (std::int32_t y = 0; y < picture.Height(); ++y) {
    const std::uint8_t* row = picture.ConstRowAddress(y);
    bytes.insert(bytes.end(), row, row + 3 * static_cast<std::size_t>(picture.Width()));
  }
  return bytes;
}

// Every row a save may pick writes a file of its own kind, band by band and whole, holding the
// pixels it was given and the alpha plane exactly when the row says it keeps it.
TEST(FormatTable, EveryWrittenRowWritesItsOwnKindBandByBandAndWhole) {
  const test::TTemporaryFolder folder;
  TBitmap picture;
  test::MakePicture24(picture, 7, 5, [](int i, int y) { return i * 13 + y * 71; });
  TPictureExtras extras;
  for (int i = 0; i < 7 * 5; ++i)
    extras.Alpha.push_back(static_cast<std::uint8_t>(i * 9));
  int written = 0;
  for (const TPictureFormat& format : PictureFormats()) {
    SCOPED_TRACE(format.Name);
    ASSERT_EQ(format.Writer.OpenBands != nullptr, format.Writer.Write != nullptr);
    if (!format.Writable()) continue;
    ++written;
    const std::string banded = folder / ("banded." + format.Extensions.front());
    {
      const std::unique_ptr<TBandWriter> writer =
          format.Writer.OpenBands(banded, picture.Width(), picture.Height(), extras, {});
      for (std::int32_t y = 0; y < picture.Height(); ++y)
        writer->WriteBand(y, 1, picture.ConstRowAddress(y), 3 * 7);
      writer->Commit();
    }
    const std::string whole = folder / ("whole." + format.Extensions.front());
    format.Writer.Write(picture, whole, extras);
    for (const std::string& path : {banded, whole}) {
      SCOPED_TRACE(path);
      TBitmap back;
      TPictureExtras backExtras;
      EXPECT_EQ(ReadPicture(path, back, backExtras), format.Kind);
      EXPECT_EQ(RowsOf(back), RowsOf(picture));
      EXPECT_EQ(backExtras.Alpha,
                format.Writer.KeepsAlpha ? extras.Alpha : std::vector<std::uint8_t>());
    }
  }
  EXPECT_EQ(written, 2) << "a bitmap and a PNG";
}

// A format joins by one row: while the test's scope lives, the table and every lookup by name
// or kind give it like any shipped row; after, nothing of it is left.
TEST(FormatTable, ATestRowIsSeenByEveryLookupWhileItsScopeLives) {
  const std::size_t shipped = PictureFormats().size();
  ASSERT_EQ(static_cast<std::size_t>(test::kTestPictureKind), shipped);
  {
    const TExtraFormatRowScope scope(test::TestFormatRow(false));
    ASSERT_EQ(PictureFormats().size(), shipped + 1);
    EXPECT_STREQ(PictureFormats().back().Name, test::kTestFormatName);
    EXPECT_STREQ(PictureFormatOf(test::kTestPictureKind).Name, test::kTestFormatName);
    const TPictureFormat* named = FormatOfFileName("dir.png/picture.TSTPIC");
    ASSERT_NE(named, nullptr);
    EXPECT_EQ(named->Kind, test::kTestPictureKind);
    EXPECT_TRUE(named->Writable());
    // The shipped rows stay as they were.
    EXPECT_EQ(FormatOfExtension("png")->Kind, TPictureKind::Png);
  }
  EXPECT_EQ(PictureFormats().size(), shipped);
  EXPECT_EQ(FormatOfExtension("tstpic"), nullptr);
  EXPECT_STREQ(PictureFormatOf(test::kTestPictureKind).Name, "Bitmap");
}

TEST(FormatTable, ATestRowTheTableCannotHoldIsRefusedAndLeavesItAsShipped) {
  const std::size_t shipped = PictureFormats().size();
  const struct {
    const char* Fault;
    void (*Spoil)(TPictureFormat&);
  } cases[] = {
      {"a shipped row's kind", [](TPictureFormat& row) { row.Kind = TPictureKind::Png; }},
      {"a shipped row's extension", [](TPictureFormat& row) { row.Extensions.push_back("PNG"); }},
      {"no reader", [](TPictureFormat& row) { row.Reader.Read = nullptr; }},
      {"no signature", [](TPictureFormat& row) { row.HasSignature = nullptr; }},
      {"bands but no whole writer", [](TPictureFormat& row) { row.Writer.Write = nullptr; }},
      {"a whole writer but no bands", [](TPictureFormat& row) { row.Writer.OpenBands = nullptr; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Fault);
    TPictureFormat row = test::TestFormatRow(true);
    c.Spoil(row);
    EXPECT_THROW(TExtraFormatRowScope scope(row), std::logic_error);
    EXPECT_EQ(PictureFormats().size(), shipped);
  }
  // One at a time.
  const TExtraFormatRowScope scope(test::TestFormatRow(true));
  EXPECT_THROW(TExtraFormatRowScope second(test::TestFormatRow(true)), std::logic_error);
  EXPECT_EQ(PictureFormats().size(), shipped + 1);
}

}  // namespace
}  // namespace penamo
