// Any bytes as a picture file of one format (chosen when the target is built: PNG or JPEG) read
// two ways: whole, as the window reads it, and band by band on the decoding thread, as a save
// reads it. Both must agree: the same rows, alpha plane and profile, or the same refusal (class,
// message and reason), and a refusal must be one of the named read errors. A file the band-by-band
// read leaves to the whole read (an interlaced PNG, a turned JPEG) is only read whole. Pictures
// are kept small by a low storage limit.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

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

// What a read ended in: empty when it read the picture, else the error's class and message.
struct TOutcome {
  std::string Refusal;
  TBitmap Picture;
  TPictureExtras Extras;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetStorageLimit(kStorageLimit);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TOutcome whole;
  Refused([&] { PENAMO_FUZZ_DECODER(data, size, whole.Picture, whole.Extras); }, &whole.Refusal);

  // The bytes as a file of their own, in memory.
  const int file = ::memfd_create("picture", MFD_CLOEXEC);
  Check(file >= 0, "no memory file");
  Check(::write(file, data, size) == static_cast<ssize_t>(size), "memory file not written");
  const std::string path = "/proc/self/fd/" + std::to_string(file);

  TOutcome banded;
  bool wholeOnly = false;
  const bool aside = (size & 1) != 0;
  std::size_t rowsEqual = 0;
  Refused(
      [&] {
        std::unique_ptr<TRowSource> rows = PENAMO_FUZZ_OPEN_ROWS(path, banded.Extras, aside);
        if (!rows) {
          wholeOnly = true;
          return;
        }
        const std::int32_t height = rows->Height();
        const auto bytes = 3 * static_cast<std::size_t>(rows->Width());
        const bool comparable = whole.Refusal.empty() && whole.Picture.Height() == height &&
                                whole.Picture.Width() == rows->Width();
        for (std::int32_t first = 0; first < height; first += 3) {
          const std::int32_t count = std::min(3, height - first);
          rows->ReadBand(first, count);
          for (std::int32_t y = first; y < first + count; ++y) {
            gSink = gSink + TouchBytes(rows->Row(y), bytes);
            if (comparable &&
                std::memcmp(rows->Row(y), whole.Picture.ConstRowAddress(y), bytes) == 0)
              ++rowsEqual;
          }
        }
      },
      &banded.Refusal);
  ::close(file);
  if (wholeOnly) return 0;

  Check(banded.Refusal == whole.Refusal, "the banded read and the whole read end differently");
  if (whole.Refusal.empty()) {
    Check(rowsEqual == static_cast<std::size_t>(whole.Picture.Height()),
          "a banded row differs from the whole read's");
    Check(banded.Extras.Alpha == whole.Extras.Alpha, "the alpha planes differ");
    Check(banded.Extras.ColorProfile == whole.Extras.ColorProfile, "the profiles differ");
    Check(banded.Extras.Exif == whole.Extras.Exif, "the EXIF blocks differ");
    Check(banded.Extras.Xmp == whole.Extras.Xmp, "the XMP packets differ");
  }
  return 0;
}
