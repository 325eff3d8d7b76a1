#include "Upright.h"

#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "Machine.h"
#include "OrientationMap.h"

namespace penamo::formats {

namespace {

std::uint32_t Get(const std::uint8_t* p, int bytes, bool bigEndian) {
  std::uint32_t value = 0;
  for (int i = 0; i < bytes; ++i)
    value = (value << 8) | p[bigEndian ? i : bytes - 1 - i];
  return value;
}

bool IsTiffHeader(const std::uint8_t* bytes, std::size_t size) {
  return size >= 8 && ((bytes[0] == 'M' && bytes[1] == 'M' && bytes[2] == 0 && bytes[3] == 42) ||
                       (bytes[0] == 'I' && bytes[1] == 'I' && bytes[2] == 42 && bytes[3] == 0));
}

// The offset of the orientation entry's value in the block's first directory: a SHORT with one
// value, held in the entry itself. 0 when there is none.
std::size_t OrientationValueAt(const std::uint8_t* block, std::size_t size) {
  if (!IsTiffHeader(block, size)) return 0;
  const bool big = block[0] == 'M';
  const std::uint32_t directory = Get(block + 4, 4, big);
  if (directory > size || size - directory < 2) return 0;
  const std::uint32_t entries = Get(block + directory, 2, big);
  for (std::uint32_t i = 0; i < entries; ++i) {
    const std::uint64_t at = std::uint64_t{directory} + 2 + 12 * std::uint64_t{i};
    if (at + 12 > size) return 0;
    const std::uint8_t* entry = block + at;
    if (Get(entry, 2, big) != 0x0112) continue;
    if (Get(entry + 2, 2, big) != 3 || Get(entry + 4, 4, big) != 1) return 0;
    return static_cast<std::size_t>(at + 8);
  }
  return 0;
}

// Stored pixel (x, y) of a width × height picture into its place in the turned one (as
// OrientationMap.h places it): rows of channels samples of Sample, read through source(y) and
// written through target(y).
template <typename Sample, typename Source, typename Target>
void Turn(int orientation, std::int32_t width, std::int32_t height, std::size_t channels,
          Source source, Target target) {
  const TOrientationMap map(orientation, width, height);
  const std::size_t pixel = channels * sizeof(Sample);
  for (std::int32_t y = 0; y < height; ++y) {
    const Sample* in = source(y);
    for (std::int32_t x = 0; x < width; ++x) {
      std::memcpy(
          target(map.ShownRow(x, y)) + static_cast<std::size_t>(map.ShownColumn(x, y)) * channels,
          in + static_cast<std::size_t>(x) * channels, pixel);
    }
  }
}

}  // namespace

std::vector<std::uint8_t> ExifBlockOf(const std::uint8_t* bytes, std::size_t size) {
  if (size >= 6 && std::memcmp(bytes, "Exif\0\0", 6) == 0) {
    bytes += 6;
    size -= 6;
  }
  if (!IsTiffHeader(bytes, size)) return {};
  return WithMemory("out-of-memory",
                    [&] { return std::vector<std::uint8_t>(bytes, bytes + size); });
}

int ExifBlockOrientation(const std::uint8_t* block, std::size_t size) {
  const std::size_t at = OrientationValueAt(block, size);
  if (at == 0) return 1;
  const std::uint32_t value = Get(block + at, 2, block[0] == 'M');
  return value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
}

void ResetExifOrientation(std::vector<std::uint8_t>& block) {
  const std::size_t at = OrientationValueAt(block.data(), block.size());
  if (at == 0) return;
  const bool big = block[0] == 'M';
  block[at] = big ? 0 : 1;
  block[at + 1] = big ? 1 : 0;
}

void InstallUpright(TPictureBuilder& stored, int orientation, TBitmap& picture,
                    TPictureExtras& extras) {
  if (orientation < 2 || orientation > 8) {
    stored.Install(picture, extras);
    return;
  }
  const std::int32_t width = stored.Width();
  const std::int32_t height = stored.Height();
  const TOrientationMap map(orientation, width, height);
  const bool alpha = stored.Extras().HasAlpha();
  TPictureBuilder upright(map.ShownWidth(), map.ShownHeight(), alpha);
  Turn<std::uint8_t>(
      orientation, width, height, 3, [&](std::int32_t y) { return stored.Row(y); },
      [&](std::int32_t y) { return upright.Row(y); });
  if (alpha)
    Turn<std::uint8_t>(
        orientation, width, height, 1, [&](std::int32_t y) { return stored.AlphaRow(y); },
        [&](std::int32_t y) { return upright.AlphaRow(y); });
  TPictureExtras& kept = stored.Extras();
  upright.Extras().ColorProfile = std::move(kept.ColorProfile);
  upright.Extras().Exif = std::move(kept.Exif);
  upright.Extras().Xmp = std::move(kept.Xmp);
  upright.Install(picture, extras);
}

void TurnUpright(TDeepPicture& deep, std::vector<std::uint8_t>& alpha, int orientation) {
  if (orientation < 2 || orientation > 8) return;
  const std::int32_t width = deep.Width;
  const std::int32_t height = deep.Height;
  const TOrientationMap map(orientation, width, height);
  TDeepPicture upright;
  upright.Width = map.ShownWidth();
  upright.Height = map.ShownHeight();
  std::vector<std::uint8_t> uprightAlpha;
  WithMemory("out-of-memory", [&] {
    upright.Samples.resize(deep.Samples.size());
    uprightAlpha.resize(alpha.size());
  });
  Turn<std::uint16_t>(
      orientation, width, height, 3, [&](std::int32_t y) { return deep.Row(y); },
      [&](std::int32_t y) { return upright.Row(y); });
  if (!alpha.empty()) {
    const auto stride = static_cast<std::size_t>(width);
    const auto uprightStride = static_cast<std::size_t>(upright.Width);
    Turn<std::uint8_t>(
        orientation, width, height, 1,
        [&](std::int32_t y) { return alpha.data() + static_cast<std::size_t>(y) * stride; },
        [&](std::int32_t y) {
          return uprightAlpha.data() + static_cast<std::size_t>(y) * uprightStride;
        });
  }
  deep = std::move(upright);
  alpha = std::move(uprightAlpha);
}

}  // namespace penamo::formats
