// The save round trip of the PNG writer: any bytes read as a picture of any kind, a crop of at
// most 64 x 64 pixels (with its alpha and the colour profile) filtered, written through the PNG
// band writer in bands of a chosen height, read back and compared: colours, alpha and profile
// byte for byte (the profile kept where it may describe RGB pixels). The writer's level and row
// filter come from the input too.

#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Bitmap.h"
#include "FuzzSupport.h"
#include "Limits.h"
#include "PictureExtras.h"
#include "PictureFile.h"
#include "PngReader.h"
#include "PngWriter.h"
#include "RoundTrip.h"

namespace {

using namespace penamo;
using namespace penamo::fuzz;

constexpr std::uint64_t kStorageLimit = std::uint64_t{1} << 18;

// A folder of this process's own, in memory where the system offers one (a save flushes to the
// disk, which on a real disk would cost more than everything else together).
std::string gFolder;
std::string gPath;

void RemoveFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(gFolder, ignored);
}

std::vector<std::uint8_t> Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool Read(const std::uint8_t* data, std::size_t size, TBitmap& picture, TPictureExtras& extras) {
  return !Refused([&] { ReadPictureBytes(data, size, picture, extras); });
}

// Writes the picture's rows in bands of the given height, each band copied into a buffer whose
// rows are further apart than they need be, so a writer that takes the stride wrongly shows.
void WriteInBands(TBandWriter& writer, const TBitmap& picture, std::int32_t bandRows) {
  const auto rowBytes = 3 * static_cast<std::size_t>(picture.Width());
  const std::size_t stride = rowBytes + 5;
  std::vector<std::uint8_t> band;
  for (std::int32_t first = 0; first < picture.Height(); first += bandRows) {
    const std::int32_t count = std::min(bandRows, picture.Height() - first);
    band.assign(stride * static_cast<std::size_t>(count), 0xA5);
    for (std::int32_t y = 0; y < count; ++y)
      std::memcpy(band.data() + stride * y, picture.ConstRowAddress(first + y), rowBytes);
    writer.WriteBand(first, count, band.data(), stride);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetStorageLimit(kStorageLimit);
  const char* tmp = std::getenv("TMPDIR");
  const std::string base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm"
                           : tmp != nullptr                ? tmp
                                                           : "/tmp";
  std::string folder = base + "/penamo-fuzz-png-XXXXXX";
  Check(::mkdtemp(folder.data()) != nullptr, "no folder for the written files");
  gFolder = folder;
  gPath = gFolder + "/picture.png";
  std::atexit(RemoveFolder);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TBitmap picture;
  TPictureExtras extras;
  if (!Read(data, size, picture, extras) || picture.Empty()) return 0;
  const TChoices choices = ChoicesOf(data, size);

  try {
    TBitmap crop;
    TPictureExtras cropExtras;
    Crop(choices, picture, extras, crop, cropExtras);
    TBitmap filtered;
    if (!RunFilter(ChosenFilter(choices), ChosenStrength(choices), crop, filtered)) return 0;

    TPngWriterOptions options;
    options.Level = choices.Crop[0] % 4;
    options.Filter = static_cast<TPngRowFilter>(choices.Crop[1] % 6);
    options.Threads = 1;
    const std::int32_t bandRows = 1 + choices.Strength % filtered.Height();
    {
      auto writer =
          CreatePngWriter(gPath, filtered.Width(), filtered.Height(), cropExtras, options);
      WriteInBands(*writer, filtered, bandRows);
      writer->Commit();
    }

    const std::vector<std::uint8_t> file = Contents(gPath);
    TBitmap copy;
    TPictureExtras copyExtras;
    ReadPng(file.data(), file.size(), copy, copyExtras);
    Check(SamePixels(copy, filtered), "the written PNG reads back with other colours");
    Check(copyExtras.Alpha == cropExtras.Alpha, "the written PNG reads back with other alpha");
    // The profile comes back when it may describe RGB pixels: too short to name a colour space,
    // or naming RGB. One made for other pixels (grey, CMYK) would mislead a viewer, and is left
    // out.
    const std::vector<std::uint8_t>& profile = cropExtras.ColorProfile;
    const bool describesRgb =
        profile.size() < 20 || std::memcmp(profile.data() + 16, "RGB ", 4) == 0;
    Check(copyExtras.ColorProfile == (describesRgb ? profile : std::vector<std::uint8_t>()),
          "the written PNG reads back with another colour profile");
    // The metadata come back as stored: an EXIF block when it has a TIFF header, the XMP
    // packet up to a zero byte, which no PNG text holds.
    const std::vector<std::uint8_t>& exif = cropExtras.Exif;
    const bool tiffHeader = exif.size() >= 4 && (std::memcmp(exif.data(), "II*\0", 4) == 0 ||
                                                 std::memcmp(exif.data(), "MM\0*", 4) == 0);
    Check(copyExtras.Exif == (tiffHeader ? exif : std::vector<std::uint8_t>()),
          "the written PNG reads back with another EXIF block");
    const auto xmpEnd = std::find(cropExtras.Xmp.begin(), cropExtras.Xmp.end(), std::uint8_t{0});
    Check(copyExtras.Xmp == std::vector<std::uint8_t>(cropExtras.Xmp.begin(), xmpEnd),
          "the written PNG reads back with another XMP packet");
  } catch (const std::exception& error) {
    ReportUnexpected(error);
  }
  return 0;
}
