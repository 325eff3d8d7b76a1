// What a read picture may carry beside its colours, kept so that a save can hand it on
// unchanged: the filters change colour only.
#pragma once

#include <cstdint>
#include <vector>

namespace penamo {

struct TPictureExtras {
  // One opacity byte per pixel (255 opaque), rows top to bottom, Width × Height bytes; empty
  // when the picture has no transparency.
  std::vector<std::uint8_t> Alpha;
  // The embedded ICC colour profile, byte for byte as stored; empty when there is none. Pixel
  // values are never converted by it.
  std::vector<std::uint8_t> ColorProfile;
  // The EXIF block (TIFF header onwards, without JPEG's "Exif\0\0" prefix) and the XMP packet,
  // byte for byte as stored; empty when there is none. A reader that turns the pixels upright by
  // the EXIF orientation sets the orientation entry in Exif to 1, so that the block never
  // contradicts the pixels it travels with.
  std::vector<std::uint8_t> Exif;
  std::vector<std::uint8_t> Xmp;

  bool HasAlpha() const { return !Alpha.empty(); }
};

}  // namespace penamo
