// The save round trip of the bitmap writer: any bytes read as a bitmap file, a crop of at most
// 64 x 64 pixels filtered (a picture that small is filtered in one part, on the calling thread),
// written, read back and compared byte for byte. Small crops are also compared with the
// step-by-step reference filters, so a fast path that strays by one level is a finding too.
//
// The last four bytes of the input choose the crop, the filter and the strength; they are also
// part of the file, which costs the fuzzer nothing.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "Bitmap.h"
#include "FilterTable.h"
#include "FuzzSupport.h"
#include "Limits.h"
#include "StraightforwardFilters.h"
#include "Stream.h"

namespace {

using namespace penamo;
using namespace penamo::fuzz;

constexpr std::uint64_t kStorageLimit = std::uint64_t{1} << 18;
constexpr std::int32_t kMostCropSide = 64;
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

// The reference of each filter, in the order of the filter table.
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
  }
  return nullptr;
}

bool SamePixels(const TBitmap& a, const TBitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
  const auto rowBytes = 3 * static_cast<std::size_t>(a.Width());
  for (std::int32_t y = 0; y < a.Height(); ++y) {
    const std::uint8_t* rowA = a.ConstRowAddress(y);
    const std::uint8_t* rowB = b.ConstRowAddress(y);
    if (rowA == nullptr || rowB == nullptr || std::memcmp(rowA, rowB, rowBytes) != 0) return false;
  }
  return true;
}

// Reads a bitmap file; false when it is refused with one of the reader's named errors.
bool Read(TStream& stream, TBitmap& bitmap) {
  try {
    bitmap.ReadBitmapStream(stream);
    bitmap.ConvertTo24Bits();
  } catch (const EReadError& error) {
    NoteRefusal(error);
    return false;
  } catch (const EInvalidGraphic& error) {
    NoteRefusal(error);
    return false;
  } catch (const EOutOfMemory& error) {
    NoteRefusal(error);
    return false;
  } catch (const std::exception& error) {
    ReportUnexpected(error);
  }
  return true;
}

struct TChoices {
  std::uint8_t Crop[2] = {0, 0};
  std::uint8_t Filter = 0;
  std::uint8_t Strength = 0;
};

TChoices ChoicesOf(const std::uint8_t* data, std::size_t size) {
  TChoices choices;
  if (size >= 4) {
    const std::uint8_t* last = data + size - 4;
    choices = {{last[0], last[1]}, last[2], last[3]};
  }
  return choices;
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
    // The crop: its size and place from the choices, its rows stored either way up.
    const std::int32_t width = std::min(kMostCropSide, picture.Width());
    const std::int32_t height = std::min(kMostCropSide, picture.Height());
    const std::int32_t left = choices.Crop[0] % (picture.Width() - width + 1);
    const std::int32_t top = choices.Crop[1] % (picture.Height() - height + 1);
    const bool topDown = (choices.Filter & 0x80) != 0;
    TBitmap crop;
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

    const TFilterEntry& filter = FilterTable()[(choices.Filter & 0x7F) % FilterTable().size()];
    // Strengths past 100 are refused by the diffusions; the pattern dithers ignore them.
    const auto strength = static_cast<std::uint8_t>(choices.Strength % 128);
    TBitmap filtered;
    const bool done = filter.Run(crop, filtered, strength);
    Check(done == (!filter.TakesStrength || strength <= 100),
          "a filter's result disagrees with its strength");
    if (!done) {
      Check(filtered.Empty(), "a refused filter changed its target");
      return 0;
    }
    Check(filtered.Width() == width && filtered.Height() == height,
          "the filtered picture has another size");
    Check(filtered.ImageFormat() == TPixelFormat::pf24bit, "the filtered picture is not 24 bits");

    if (width * height <= kMostReferencePixels) {
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
