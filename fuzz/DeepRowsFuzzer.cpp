// Any bytes as a picture file of one format (chosen when the target is built: PNG, TIFF, HEIF
// or JPEG XL) read deep and at 8 bits. Every read must end alike: the 8-bit read, the whole deep
// read, the read of both at once and, for PNG and TIFF, the deep read band by band (on the
// decoding thread or not; for TIFF, where the file keeps its 16 bits) give the same refusal
// (class, message and reason) or all read the picture. Read, the 8-bit picture beside the deep one
// is the 8-bit read's; the deep picture rounds to it (PNG, HEIF and JPEG XL: every sample, as 16
// bits round to 8); the banded deep rows are the whole deep read's; the alpha planes agree.
// Pictures are kept small by a low storage limit.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "Bitmap.h"
#include "DeepRowSource.h"
#include "FuzzSupport.h"
#include "Limits.h"
#include "PictureExtras.h"
#include PENAMO_FUZZ_DECODER_HEADER

namespace {

using namespace penamo;
using namespace penamo::fuzz;

constexpr std::uint64_t kStorageLimit = std::uint64_t{1} << 18;

volatile std::uint32_t gSink;

std::uint8_t Rounded(std::uint32_t sample16) {
  return static_cast<std::uint8_t>((sample16 * 255u + 32767u) / 65535u);
}

}  // namespace

#if PENAMO_FUZZ_FILL_ALLOCATIONS
// Every allocation, the decoder's own included, starts as the same bytes. A decoder that leaves
// part of a damaged picture unwritten then hands each read the same picture, and what differs
// between the reads is what this target is for: the readers' own work. The first 64 MiB of an
// allocation are filled, more than any picture under this target's storage limit needs, so that
// a huge allocation is not all touched. Settings given in ASAN_OPTIONS still come after these.
extern "C" const char* __asan_default_options() {
  return "max_malloc_fill_size=67108864";
}
#endif

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  SetStorageLimit(kStorageLimit);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string eightRefusal, deepRefusal, bothRefusal;
  TBitmap eight;
  TPictureExtras eightExtras;
  Refused([&] { PENAMO_FUZZ_DECODER(data, size, eight, eightExtras); }, &eightRefusal);
  TDeepPicture deep;
  TPictureExtras deepExtras;
  Refused([&] { PENAMO_FUZZ_DEEP_DECODER(data, size, deep, deepExtras); }, &deepRefusal);
  TBitmap both;
  TDeepPicture beside;
  TPictureExtras bothExtras;
  bool kept = false;
  Refused([&] { kept = PENAMO_FUZZ_WITH_DEEP(data, size, both, beside, bothExtras); },
          &bothRefusal);
  Check(deepRefusal == eightRefusal, "the deep read and the 8-bit read end differently");
  Check(bothRefusal == eightRefusal, "the read of both and the 8-bit read end differently");
#ifdef PENAMO_FUZZ_OPEN_DEEP_ROWS
  // The deep rows band by band: the same end as the whole reads, and read, the same rows.
  const int file = ::memfd_create("picture", MFD_CLOEXEC);
  Check(file >= 0, "no memory file");
  Check(::write(file, data, size) == static_cast<ssize_t>(size), "memory file not written");
  const std::string path = "/proc/self/fd/" + std::to_string(file);
  std::string bandRefusal;
  TPictureExtras bandExtras;
  bool wholeOnly = false;
  const bool aside = (size & 1) != 0;
  const std::int32_t bandRows = 1 + static_cast<std::int32_t>(size % 5);
  Refused(
      [&] {
        std::unique_ptr<TDeepRowSource> rows = PENAMO_FUZZ_OPEN_DEEP_ROWS(path, bandExtras, aside);
        if (!rows) {
          wholeOnly = true;
          return;
        }
        const bool comparable = eightRefusal.empty();
        Check(!comparable || (rows->Width() == deep.Width && rows->Height() == deep.Height),
              "the banded size differs");
        const auto samples = 3 * static_cast<std::size_t>(rows->Width());
        for (std::int32_t first = 0; first < rows->Height(); first += bandRows) {
          const std::int32_t count = std::min(bandRows, rows->Height() - first);
          rows->ReadBand(first, count);
          for (std::int32_t y = first; y < first + count; ++y) {
            gSink = gSink +
                    TouchBytes(reinterpret_cast<const std::uint8_t*>(rows->Row(y)), 2 * samples);
            Check(!comparable || std::memcmp(rows->Row(y), deep.Row(y), 2 * samples) == 0,
                  "a banded deep row differs from the whole deep read's");
          }
        }
      },
      &bandRefusal);
  ::close(file);
  if (!wholeOnly) {
    Check(bandRefusal == eightRefusal, "the banded deep read and the whole reads end differently");
    Check(!eightRefusal.empty() || bandExtras.Alpha == deepExtras.Alpha,
          "the banded alpha plane differs");
  }
#endif
  if (!eightRefusal.empty()) return 0;

  const std::int32_t width = eight.Width();
  const std::int32_t height = eight.Height();
  const auto samples = 3 * static_cast<std::size_t>(width);
  Check(deep.Width == width && deep.Height == height, "the deep picture's size differs");
  Check(both.Width() == width && both.Height() == height, "the picture beside differs in size");
  Check(!kept || (beside.Samples == deep.Samples), "the deep picture beside differs");
  Check(kept || beside.Empty(), "a deep picture is kept for a shallow file");
  Check(deepExtras.Alpha == eightExtras.Alpha && bothExtras.Alpha == eightExtras.Alpha,
        "the alpha planes differ");
  Check(deepExtras.Exif == eightExtras.Exif && bothExtras.Exif == eightExtras.Exif &&
            deepExtras.Xmp == eightExtras.Xmp && bothExtras.Xmp == eightExtras.Xmp,
        "the metadata differ");
  for (std::int32_t y = 0; y < height; ++y) {
    const std::uint8_t* row = eight.ConstRowAddress(y);
    Check(std::memcmp(both.ConstRowAddress(y), row, samples) == 0,
          "the picture beside differs from the 8-bit read");
#if PENAMO_FUZZ_EXACT_ROUNDING
    const std::uint16_t* deepRow = deep.Row(y);
    for (std::size_t i = 0; i < samples; ++i)
      Check(Rounded(deepRow[i]) == row[i], "a deep sample does not round to the 8-bit one");
#endif
  }

  return 0;
}
