// Any bytes as a bitmap file, through the reader (with its alpha plane) and the conversion to 24
// bits only: every header form, colour table, bit-field and alpha mask and run-length path, on
// pictures kept small so that a run reaches thousands of inputs a second. A file may be refused
// only with one of the reader's named errors; anything else (a crash, a sanitizer report, another
// exception, a converted picture that is not 24 bits of the same size) is a finding.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "Bitmap.h"
#include "FuzzSupport.h"
#include "Limits.h"
#include "Stream.h"

namespace {

using namespace penamo;
using namespace penamo::fuzz;

// A quarter of a mebibyte: every claimed picture beyond about 87 000 pixels at 24 bits is
// refused as too large before anything is allocated, so no input costs more than a millisecond.
constexpr std::uint64_t kStorageLimit = std::uint64_t{1} << 18;

volatile std::uint32_t gSink;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetStorageLimit(kStorageLimit);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TMemoryStream stream(std::vector<std::uint8_t>(data, data + size));
  TBitmap bitmap;
  std::vector<std::uint8_t> alpha;
  if (Refused([&] { bitmap.ReadBitmapStream(stream, alpha); })) return 0;

  const std::int32_t width = bitmap.Width();
  const std::int32_t height = bitmap.Height();
  // An alpha plane, when there is one, covers the picture exactly.
  Check(alpha.empty() ||
            alpha.size() == static_cast<std::size_t>(width) * static_cast<std::size_t>(height),
        "the alpha plane is not the picture's size");
  gSink = TouchBytes(alpha.data(), alpha.size());
  try {
    bitmap.ConvertTo24Bits();
  } catch (const EOutOfMemory& error) {  // the 24-bit copy may exceed the limit the file did not
    NoteRefusal(error);
    return 0;
  } catch (const std::exception& error) {
    ReportUnexpected(error);
  }
  Check(bitmap.ImageFormat() == TPixelFormat::pf24bit, "the converted picture is not 24 bits");
  Check(bitmap.Width() == width && bitmap.Height() == height, "the conversion changed the size");

  // Every row of the converted picture lies wholly inside its block.
  const auto rowBytes = 3 * static_cast<std::size_t>(width);
  std::uint32_t sum = 0;
  for (std::int32_t y = 0; y < height; ++y) {
    const std::uint8_t* row = bitmap.ConstRowAddress(y);
    Check(row != nullptr, "a row of the converted picture is missing");
    sum += TouchBytes(row, rowBytes);
  }
  gSink = sum;
  return 0;
}
