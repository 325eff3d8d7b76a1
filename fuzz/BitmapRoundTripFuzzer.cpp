// The save round trip of the bitmap writer: any bytes read as a bitmap file, a crop of at most
// 64 x 64 pixels filtered, written, read back and compared byte for byte. Small crops are also
// compared with the step-by-step reference filters, so a fast path that strays by one level is
// a finding too.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "Bitmap.h"
#include "FilterTable.h"
#include "FuzzSupport.h"
#include "Limits.h"
#include "RoundTrip.h"
#include "StraightforwardFilters.h"
#include "Stream.h"

namespace {

using namespace penamo;
using namespace penamo::fuzz;

constexpr std::uint64_t kStorageLimit = std::uint64_t{1} << 18;
// Crops up to this many pixels are also run through the reference filters (about a microsecond
// a pixel under the sanitizers).
constexpr std::int32_t kMostReferencePixels = 256;

using TReference = bool (*)(TBitmap&, TBitmap&, std::uint8_t);

bool ReferencePattern4(TBitmap& Src, TBitmap& Dst, std::uint8_t) {
  return straightforward::YPatternDither4(Src, Dst);
}
bool ReferencePattern16(TBitmap& Src, TBitmap& Dst, std::uint8_t) {
  return straightforward::YPatternDither16(Src, Dst);
}

TReference ReferenceOf(TFilterId id) {
  switch (id) {
    case TFilterId::PatternDither4:
      return ReferencePattern4;
    case TFilterId::PatternDither16:
      return ReferencePattern16;
    case TFilterId::DiffError64:
      return straightforward::YDiffError64;
    case TFilterId::DiffError32:
      return straightforward::YDiffError32;
    case TFilterId::DiffError16:
      return straightforward::YDiffError16;
    // The deep filters: ChosenFilter picks among the five only, and deep_filter_fuzzer holds
    // these to their definitions.
    case TFilterId::Diffusion:
    case TFilterId::Ordered:
      break;
  }
  Check(false, "no reference for a filter of the deep kind");
  return nullptr;
}

// Reads a bitmap file; false when it is refused with one of the reader's named errors.
bool Read(TStream& stream, TBitmap& bitmap) {
  return !Refused([&] {
    bitmap.ReadBitmapStream(stream);
    bitmap.ConvertTo24Bits();
  });
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetStorageLimit(kStorageLimit);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TMemoryStream input(std::vector<std::uint8_t>(data, data + size));
  TBitmap picture;
  if (!Read(input, picture) || picture.Empty()) return 0;
  const TChoices choices = ChoicesOf(data, size);

  try {
    TBitmap crop;
    TPictureExtras cropExtras;
    Crop(choices, picture, {}, crop, cropExtras);
    const TFilterEntry& filter = ChosenFilter(choices);
    const std::uint8_t strength = ChosenStrength(choices);
    TBitmap filtered;
    if (!RunFilter(filter, strength, crop, filtered)) return 0;

    if (crop.Width() * crop.Height() <= kMostReferencePixels) {
      TBitmap reference;
      Check(ReferenceOf(filter.Id)(crop, reference, strength), "the reference filter failed");
      Check(SamePixels(filtered, reference), "the filter differs from its reference");
    }

    // What is written reads back as the same picture, whichever way up it was stored.
    TMemoryStream written;
    filtered.WriteBitmapStream(written);
    written.Seek(0, TSeekOrigin::Beginning);
    TBitmap copy;
    copy.ReadBitmapStream(written);
    Check(copy.ImageFormat() == TPixelFormat::pf24bit,
          "the written file reads back in another format");
    Check(SamePixels(copy, filtered), "the written file reads back differently");
  } catch (const std::exception& error) {
    ReportUnexpected(error);
  }
  return 0;
}
