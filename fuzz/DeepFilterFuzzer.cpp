// The fast filters for deep pictures against their straightforward definition, on small 16-bit
// pictures the fuzzer makes: the definition's bytes, the whole-picture filter's and the banded
// save's (with a chosen band height, part count and writing aside or not) must be the same, for
// the chosen filter, level count and grey or colour output. Any difference is a finding.
//
// The input's first eight bytes choose the picture's size, the filter, the levels, grey output,
// the light (linear where bit 3 of the fourth byte is set, which no input made before the
// choice sets, so that those keep measuring in encoded values), the band height, the parts and the
// writing; the rest are its samples (two bytes each, low byte first), repeated as often as needed.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "BandFilter.h"
#include "BandWriter.h"
#include "Bitmap.h"
#include "DeepFilters.h"
#include "DeepRowSource.h"
#include "FilterTable.h"
#include "FuzzBandWriter.h"
#include "FuzzSupport.h"
#include "Limits.h"
#include "StraightforwardDeepFilters.h"

namespace {

using namespace penamo;
using namespace penamo::fuzz;

// Wide enough for the ordered dither's shared rows (256), small enough for the definition's pace.
constexpr std::int32_t kMostWidth = 300;
constexpr std::int32_t kMostHeight = 8;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetStorageLimit(std::uint64_t{1} << 20);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kChoices = 8;
  if (size < kChoices) return 0;
  const std::int32_t width = 1 + (data[0] | data[1] << 8) % kMostWidth;
  const std::int32_t height = 1 + data[2] % kMostHeight;
  const TFilterId filter = (data[3] & 1) != 0 ? TFilterId::Ordered : TFilterId::Diffusion;
  TDeepOptions deep;
  deep.Levels = kMinDeepLevels + data[4] % (kMaxDeepLevels - kMinDeepLevels + 1);
  deep.Grey = (data[3] & 2) != 0;
  deep.Light = (data[3] & 8) != 0 ? TDeepLight::Linear : TDeepLight::Encoded;
  TBandOptions options;
  options.BandRows = data[5] % (height + 1);  // 0: the default band size
  options.Parts = data[6] % 4;                // 0: as many as the picture is worth
  options.WriteAside = (data[7] & 1) != 0;

  try {
    TDeepPicture picture;
    picture.Width = width;
    picture.Height = height;
    picture.Samples.resize(3 * static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    const std::uint8_t* bytes = data + kChoices;
    const std::size_t pairs = (size - kChoices) / 2;
    for (std::size_t i = 0; i < picture.Samples.size(); ++i) {
      const std::size_t at = pairs == 0 ? 0 : 2 * (i % pairs);
      picture.Samples[i] = pairs == 0 ? static_cast<std::uint16_t>(i * 4099)
                                      : static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
    }

    const std::vector<std::uint8_t> expected = filter == TFilterId::Diffusion
                                                   ? straightforward::DeepDiffusion(picture, deep)
                                                   : straightforward::DeepOrdered(picture, deep);

    TBitmap whole;
    Check(FilterDeepPicture(filter, picture, whole, deep), "the whole-picture filter refused");
    std::vector<std::uint8_t> wholeBytes;
    for (std::int32_t y = 0; y < height; ++y) {
      const std::uint8_t* row = whole.ConstRowAddress(y);
      wholeBytes.insert(wholeBytes.end(), row, row + 3 * static_cast<std::size_t>(width));
    }
    Check(wholeBytes == expected, "the whole-picture filter differs from the definition");

    TMemoryBandWriter writer(width, height);
    TDeepPictureRows rows(picture);
    Check(FilterDeepInBands(FilterEntry(filter), deep, rows, writer, options),
          "the banded save refused");
    Check(writer.Commits == 1, "the banded save did not commit exactly once");
    Check(writer.Pixels == expected, "the banded save differs from the definition");
  } catch (const std::exception& error) {
    ReportUnexpected(error);
  }
  return 0;
}
