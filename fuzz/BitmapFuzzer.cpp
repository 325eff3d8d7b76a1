// Any bytes as a bitmap file: read, convert to 24 bits, filter, write and read back. A file
// may be refused only with one of the reader's named errors; every other outcome (a crash, a
// sanitizer report, another exception, a written file that reads back differently) is a finding.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Bitmap.h"
#include "Stream.h"
#include "YReduce.h"

namespace {

using namespace penamo;

// Pictures stay small enough that every input runs in milliseconds and the memory stays far
// below the fuzzer's own limit; larger claims are refused as too large for the machine.
constexpr std::uint64_t kStorageLimit = std::uint64_t{1} << 20;

bool Filter(unsigned choice, TBitmap& source, TBitmap& target) {
  switch (choice % 5) {
    case 0:
      return YPatternDither4(source, target);
    case 1:
      return YPatternDither16(source, target);
    case 2:
      return YDiffError16(source, target, 100);
    case 3:
      return YDiffError32(source, target, 50);
    default:
      return YDiffError64(source, target, 100);
  }
}

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// With PENAMO_FUZZ_VERBOSE set, every refusal is printed with its reason, so a run over a
// corpus shows which rules its files reach.
bool Verbose() {
  static const bool verbose = std::getenv("PENAMO_FUZZ_VERBOSE") != nullptr;
  return verbose;
}

void Report(const char* what, const Exception& error) {
  std::fprintf(stderr, "%s: %s: %s [%s]\n", what, error.ClassName(), error.Message().c_str(),
               error.Reason().c_str());
}

int Refused(const Exception& error) {
  if (Verbose()) Report("refused", error);
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetStorageLimit(kStorageLimit);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TMemoryStream stream(std::vector<std::uint8_t>(data, data + size));
  TBitmap bitmap;
  try {
    bitmap.ReadBitmapStream(stream);
    bitmap.ConvertTo24Bits();
  } catch (const EReadError& error) {
    return Refused(error);
  } catch (const EInvalidGraphic& error) {
    return Refused(error);
  } catch (const EOutOfMemory& error) {  // EOutOfResources too
    return Refused(error);
  } catch (const Exception& error) {
    // A finding: say which refusal it was before stopping.
    Report("unexpected error", error);
    __builtin_trap();
  }
  Check(bitmap.ImageFormat() == TPixelFormat::pf24bit);
  if (bitmap.Empty()) return 0;

  TBitmap filtered;
  const unsigned choice = size == 0 ? 0 : data[size - 1];
  if (Filter(choice, bitmap, filtered)) {
    Check(filtered.Width() == bitmap.Width() && filtered.Height() == bitmap.Height());
  }

  // What is written reads back as the same picture.
  TMemoryStream written;
  bitmap.WriteBitmapStream(written);
  written.Seek(0, TSeekOrigin::Beginning);
  TBitmap copy;
  copy.ReadBitmapStream(written);
  Check(copy.Width() == bitmap.Width() && copy.Height() == bitmap.Height());
  const auto rowBytes = 3 * static_cast<std::size_t>(bitmap.Width());
  for (std::int32_t y = 0; y < bitmap.Height(); ++y)
    Check(std::memcmp(copy.ConstRowAddress(y), bitmap.ConstRowAddress(y), rowBytes) == 0);
  return 0;
}
