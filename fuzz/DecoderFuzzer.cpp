// Any bytes through one picture decoder's glue (chosen when the target is built: PNG, JPEG,
// TIFF, WebP, GIF, HEIF or JPEG XL), on pictures kept small by a low storage limit. A file may be
// refused only with one of the named read errors, and a refused file leaves the caller's picture
// and extras as they were; a read picture is 24 bits, every row lies inside its block, and an alpha
// plane has exactly one byte per pixel. Anything else, a crash or a sanitizer report included, is a
// finding.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "Bitmap.h"
#include "FuzzSupport.h"
#include "Limits.h"
#include "PictureExtras.h"
#include PENAMO_FUZZ_DECODER_HEADER

namespace {

using namespace penamo;
using namespace penamo::fuzz;

constexpr std::uint64_t kStorageLimit = std::uint64_t{1} << 18;

volatile std::uint32_t gSink;

// What the caller held before the read: a small picture and extras of known bytes.
void MakeEarlier(TBitmap& picture, TPictureExtras& extras) {
  picture.SetImageFormat(TPixelFormat::pf24bit);
  picture.SetWidth(2);
  picture.SetHeight(1);
  std::memcpy(picture.RowAddress(0), "\x01\x02\x03\x04\x05\x06", 6);
  extras.Alpha = {7, 8};
  extras.ColorProfile = {9};
}

bool IsEarlier(const TBitmap& picture, const TPictureExtras& extras) {
  return picture.Width() == 2 && picture.Height() == 1 &&
         picture.ImageFormat() == TPixelFormat::pf24bit &&
         std::memcmp(picture.ConstRowAddress(0), "\x01\x02\x03\x04\x05\x06", 6) == 0 &&
         extras.Alpha == std::vector<std::uint8_t>{7, 8} &&
         extras.ColorProfile == std::vector<std::uint8_t>{9};
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetStorageLimit(kStorageLimit);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TBitmap picture;
  TPictureExtras extras;
  MakeEarlier(picture, extras);
  if (Refused([&] { PENAMO_FUZZ_DECODER(data, size, picture, extras); })) {
    Check(IsEarlier(picture, extras), "a refused file changed the caller's picture");
    return 0;
  }

  Check(picture.ImageFormat() == TPixelFormat::pf24bit, "a read picture is not 24 bits");
  Check(picture.Width() > 0 && picture.Height() > 0, "a read picture is empty");
  const auto width = static_cast<std::size_t>(picture.Width());
  const auto height = static_cast<std::size_t>(picture.Height());
  Check(3 * width * height <= kStorageLimit, "a read picture exceeds the storage limit");
  Check(extras.Alpha.empty() || extras.Alpha.size() == width * height,
        "the alpha plane does not have one byte per pixel");
  std::uint32_t sum = TouchBytes(extras.Alpha.data(), extras.Alpha.size()) +
                      TouchBytes(extras.ColorProfile.data(), extras.ColorProfile.size());
  for (std::int32_t y = 0; y < picture.Height(); ++y) {
    const std::uint8_t* row = picture.ConstRowAddress(y);
    Check(row != nullptr, "a row of the read picture is missing");
    sum += TouchBytes(row, 3 * width);
  }
  gSink = sum;
  return 0;
}
