// What the save round-trip targets share: the choices taken from the input's last bytes, the
// crop of at most 64 x 64 pixels (a picture that small is filtered in one part, on the calling
// thread) with its alpha, the filter run with its checks, and the comparison of pictures.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "Bitmap.h"
#include "FilterTable.h"
#include "FuzzSupport.h"
#include "PictureExtras.h"

namespace penamo::fuzz {

inline constexpr std::int32_t kMostCropSide = 64;

// Four bytes at the end of the input choose the crop, the filter and the strength; they are
// also part of the file, which costs the fuzzer nothing.
struct TChoices {
  std::uint8_t Crop[2] = {0, 0};
  std::uint8_t Filter = 0;
  std::uint8_t Strength = 0;
};

inline TChoices ChoicesOf(const std::uint8_t* data, std::size_t size) {
  TChoices choices;
  if (size >= 4) {
    const std::uint8_t* last = data + size - 4;
    choices = {{last[0], last[1]}, last[2], last[3]};
  }
  return choices;
}

inline bool SamePixels(const TBitmap& a, const TBitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
  const auto rowBytes = 3 * static_cast<std::size_t>(a.Width());
  for (std::int32_t y = 0; y < a.Height(); ++y) {
    const std::uint8_t* rowA = a.ConstRowAddress(y);
    const std::uint8_t* rowB = b.ConstRowAddress(y);
    if (rowA == nullptr || rowB == nullptr || std::memcmp(rowA, rowB, rowBytes) != 0) return false;
  }
  return true;
}

// A crop of the (24-bit, non-empty) picture as the choices place it, its rows stored either way
// up, with the matching part of the alpha plane when the picture has one.
inline void Crop(const TChoices& choices, TBitmap& picture, const TPictureExtras& extras,
                 TBitmap& crop, TPictureExtras& cropExtras) {
  const std::int32_t width = std::min(kMostCropSide, picture.Width());
  const std::int32_t height = std::min(kMostCropSide, picture.Height());
  const std::int32_t left = choices.Crop[0] % (picture.Width() - width + 1);
  const std::int32_t top = choices.Crop[1] % (picture.Height() - height + 1);
  const bool topDown = (choices.Filter & 0x80) != 0;
  crop.SetImageFormat(TPixelFormat::pf24bit);
  crop.SetWidth(width);
  crop.SetHeight(topDown ? -height : height);
  crop.Canvas().CopyRectangle({0, 0, width, height}, picture.Canvas(),
                              {left, top, left + width, top + height});
  for (std::int32_t y = 0; y < height; ++y) {
    Check(std::memcmp(crop.ConstRowAddress(y), picture.ConstRowAddress(top + y) + 3 * left,
                      3 * static_cast<std::size_t>(width)) == 0,
          "the crop differs from the picture it was copied from");
  }
  cropExtras = {};
  cropExtras.ColorProfile = extras.ColorProfile;
  cropExtras.Exif = extras.Exif;
  cropExtras.Xmp = extras.Xmp;
  if (extras.HasAlpha()) {
    const auto pictureWidth = static_cast<std::size_t>(picture.Width());
    for (std::int32_t y = 0; y < height; ++y) {
      const std::uint8_t* row = extras.Alpha.data() + (top + y) * pictureWidth + left;
      cropExtras.Alpha.insert(cropExtras.Alpha.end(), row, row + width);
    }
  }
}

// The filters that read 8-bit rows and have a straightforward 8-bit reference: the table's
// first rows, before those that take a level count (which have a fuzz target of their own).
inline std::size_t EightBitFilterCount() {
  std::size_t count = 0;
  while (count < FilterTable().size() && !FilterTable()[count].TakesLevels)
    ++count;
  return count;
}

// The filter the choices name, with the strength they give (past 100 for some: refused by the
// diffusions, ignored by the pattern dithers).
inline const TFilterEntry& ChosenFilter(const TChoices& choices) {
  return FilterTable()[(choices.Filter & 0x7F) % EightBitFilterCount()];
}
inline std::uint8_t ChosenStrength(const TChoices& choices) {
  return static_cast<std::uint8_t>(choices.Strength % 128);
}

// Runs the filter over the crop; false when it refuses the strength (checked to be exactly
// when it must, and to leave its target alone).
inline bool RunFilter(const TFilterEntry& filter, std::uint8_t strength, TBitmap& crop,
                      TBitmap& filtered) {
  const bool done = filter.Run(crop, filtered, strength);
  Check(done == (!filter.TakesStrength || strength <= 100),
        "a filter's result disagrees with its strength");
  if (!done) {
    Check(filtered.Empty(), "a refused filter changed its target");
    return false;
  }
  Check(filtered.Width() == crop.Width() && filtered.Height() == crop.Height(),
        "the filtered picture has another size");
  Check(filtered.ImageFormat() == TPixelFormat::pf24bit, "the filtered picture is not 24 bits");
  return true;
}

}  // namespace penamo::fuzz
