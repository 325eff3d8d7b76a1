// The banded save against the whole-picture filter, on random small pictures: the same filter,
// strength and picture through FilterInBands (with a chosen band height, part count and writing
// aside or not) and through the filter that makes the whole picture at once. Any difference in
// the result, the bytes, the order of the bands or the commit is a finding.
//
// The input's first eight bytes choose the picture's size, the filter, the strength, the band
// height, the parts and the writing; the rest are its pixels, repeated as often as needed.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "BandFilter.h"
#include "BandWriter.h"
#include "Bitmap.h"
#include "FilterTable.h"
#include "FuzzBandWriter.h"
#include "FuzzSupport.h"
#include "Limits.h"
#include "RowSource.h"

namespace {

using namespace penamo;
using namespace penamo::fuzz;

// Wide enough for the shared paths of the dithers (256) and of the diffusions, low enough that
// every picture stays under 20 000 pixels.
constexpr std::int32_t kMostWidth = 1100;
constexpr std::int32_t kMostHeight = 18;

std::vector<std::uint8_t> RowBytes(const TBitmap& picture) {
  std::vector<std::uint8_t> bytes;
  const auto rowBytes = 3 * static_cast<std::size_t>(picture.Width());
  for (std::int32_t y = 0; y < picture.Height(); ++y) {
    const std::uint8_t* row = picture.ConstRowAddress(y);
    bytes.insert(bytes.end(), row, row + rowBytes);
  }
  return bytes;
}

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
  const std::size_t filterChoice = data[3] % (FilterTable().size() + 1);
  const TFilterEntry* filter = filterChoice == 0 ? nullptr : &FilterTable()[filterChoice - 1];
  const auto strength = static_cast<std::uint8_t>(data[4] % 128);
  TBandOptions options;
  options.BandRows = data[5] % (height + 1);  // 0: the default band size
  options.Parts = data[6] % 4;                // 0: as many as the picture is worth
  options.WriteAside = (data[7] & 1) != 0;
  const bool topDown = (data[7] & 2) != 0;

  try {
    TBitmap picture;
    picture.SetImageFormat(TPixelFormat::pf24bit);
    picture.SetWidth(width);
    picture.SetHeight(topDown ? -height : height);
    const std::uint8_t* pixels = data + kChoices;
    const std::size_t pixelBytes = size - kChoices;
    std::size_t next = 0;
    for (std::int32_t y = 0; y < height; ++y) {
      std::uint8_t* row = picture.RowAddress(y);
      for (std::int32_t i = 0; i < 3 * width; ++i, ++next)
        row[i] = pixelBytes == 0 ? static_cast<std::uint8_t>(next * 37) : pixels[next % pixelBytes];
    }

    // The whole picture at once; the unfiltered save copies the picture's own rows.
    TBitmap whole;
    const bool wholeDone = filter == nullptr || filter->Run(picture, whole, strength);
    const std::vector<std::uint8_t> expected = filter == nullptr ? RowBytes(picture)
                                               : wholeDone       ? RowBytes(whole)
                                                                 : std::vector<std::uint8_t>{};

    TMemoryBandWriter writer(width, height);
    TBitmapRows rows(picture);
    const bool bandedDone = FilterInBands(filter, strength, rows, writer, options);
    Check(bandedDone == wholeDone, "the banded save and the whole filter disagree on refusing");
    if (!bandedDone) {
      Check(writer.Pixels.empty() && writer.Commits == 0, "a refused banded save wrote something");
      return 0;
    }
    Check(writer.Commits == 1, "the banded save did not commit exactly once");
    Check(writer.Pixels == expected, "the banded save differs from the whole-picture filter");
  } catch (const std::exception& error) {
    ReportUnexpected(error);
  }
  return 0;
}
