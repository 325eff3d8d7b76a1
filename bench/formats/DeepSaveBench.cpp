// The deep save as the command line makes it: a 16-bit picture opened band by band
// (OpenPictureDeepRows), filtered by a deep filter in bands (FilterDeepInBands) and written as
// an 8-bit PNG (CreatePngWriter), with each stage also timed on its own.
//   penamo_deep_save_bench --make SIZE DEEP.png EIGHT.png [EIGHT-SPNG.png [DEEP-UP.png]]
//       a SIZE × SIZE 16-bit picture and its 8-bit rounding, as PNG files; optionally the
//       rounding written by the 16-bit file's encoder, and the 16-bit picture Up-filtered
//   penamo_deep_save_bench --save FILTER [LEVELS] IN OUT     one save (OUT a .png or a .bmp; IN
//                                                          any picture read band by band):
//                                                          wall and CPU ms
//   penamo_deep_save_bench --stages FILTER IN OUT.png       read, filter and write on their own
// bench/deep-save-bench.sh runs these beside GEGL and penamo-filter diffusion16.
#include <spng.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "BandFilter.h"
#include "BandWriter.h"
#include "Bitmap.h"
#include "BitmapBandWriter.h"
#include "Clocks.h"
#include "DeepFilters.h"
#include "DeepLevels.h"
#include "DeepRowSource.h"
#include "FilterTable.h"
#include "PictureExtras.h"
#include "PictureFile.h"
#include "PngWriter.h"

namespace {

using namespace penamo;

using bench::Cpu;
using bench::Now;

// A photograph-like 16-bit picture: smooth gradations in every channel, with a soft ripple so
// that neither the deflater nor the filter meets long runs of one value.
void Pixel(int x, int y, int size, std::uint16_t* bgr) {
  const double u = x / (size - 1.0), v = y / (size - 1.0);
  const double ripple = 0.03 * std::sin(9.0 * u + 5.0 * v) * std::cos(7.0 * v - 3.0 * u);
  const auto sample = [&](double value) {
    return static_cast<std::uint16_t>(65535.0 * std::clamp(value + ripple, 0.0, 1.0) + 0.5);
  };
  bgr[0] = sample(0.2 + 0.6 * (1.0 - u) * v);
  bgr[1] = sample(0.1 + 0.7 * (u + v) / 2.0);
  bgr[2] = sample(0.15 + 0.7 * u * (1.0 - v / 2.0));
}

// One picture written by spng as most tools write PNG (zlib level 6; the row filter the
// library's heuristic picks unless one is given), 16 or 8 bits a sample.
// A 16-bit sample rounded to 8 bits.
std::uint8_t EightBit(std::uint16_t sample) {
  return static_cast<std::uint8_t>((sample * 255u + 32767u) / 65535u);
}

int WriteSpng(const char* path, int size, int depth, int filterChoice) {
  FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return 1;
  spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
  spng_ihdr ihdr{};
  ihdr.width = ihdr.height = static_cast<std::uint32_t>(size);
  ihdr.bit_depth = static_cast<std::uint8_t>(depth);
  ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
  int error = spng_set_png_file(ctx, file);
  if (error == 0) error = spng_set_ihdr(ctx, &ihdr);
  if (error == 0) error = spng_set_option(ctx, SPNG_IMG_COMPRESSION_LEVEL, 6);
  if (error == 0 && filterChoice >= 0)
    error = spng_set_option(ctx, SPNG_FILTER_CHOICE, filterChoice);
  if (error == 0)
    error = spng_encode_image(ctx, nullptr, 0, SPNG_FMT_PNG,
                              SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(depth / 8) * 3 *
                                static_cast<std::size_t>(size));
  for (int y = 0; y < size && error == 0; ++y) {
    for (int x = 0; x < size; ++x) {
      std::uint16_t bgr[3];
      Pixel(x, y, size, bgr);
      for (int c = 0; c < 3; ++c) {  // red, green, blue, big-endian, as PNG stores them
        const std::uint16_t sample = bgr[2 - c];
        if (depth == 16) {
          row[6 * static_cast<std::size_t>(x) + 2 * c] = static_cast<std::uint8_t>(sample >> 8);
          row[6 * static_cast<std::size_t>(x) + 2 * c + 1] = static_cast<std::uint8_t>(sample);
        } else {
          row[3 * static_cast<std::size_t>(x) + c] = EightBit(sample);
        }
      }
    }
    error = spng_encode_row(ctx, row.data(), row.size());
  }
  if (error == SPNG_EOI) error = 0;
  spng_ctx_free(ctx);
  std::fclose(file);
  if (error != 0) {
    std::fprintf(stderr, "spng: %s\n", spng_strerror(error));
    return 1;
  }
  return 0;
}

// The 16-bit picture, its 8-bit rounding as this tool writes PNG, and optionally that rounding
// written as the 16-bit file was (the same encoder and settings: the fair pair for comparing
// reads) and the 16-bit picture with every row Up-filtered (another encoder's common choice).
int Make(int size, const char* deepPath, const char* eightPath, const char* eightSpngPath,
         const char* deepUpPath) {
  if (WriteSpng(deepPath, size, 16, -1) != 0) return 1;
  if (eightSpngPath != nullptr && WriteSpng(eightSpngPath, size, 8, -1) != 0) return 1;
  if (deepUpPath != nullptr && WriteSpng(deepUpPath, size, 16, SPNG_FILTER_CHOICE_UP) != 0)
    return 1;
  TBitmap eight;
  eight.SetImageFormat(TPixelFormat::pf24bit);
  eight.SetWidth(size);
  eight.SetHeight(size);
  for (int y = 0; y < size; ++y) {
    std::uint8_t* bytes = eight.RowAddress(y);
    for (int x = 0; x < size; ++x) {
      std::uint16_t bgr[3];
      Pixel(x, y, size, bgr);
      for (int c = 0; c < 3; ++c)
        bytes[3 * x + c] = EightBit(bgr[c]);
    }
  }
  WritePngFile(eight, eightPath, TPictureExtras{});
  return 0;
}

const TFilterEntry& DeepFilter(const char* name) {
  const TFilterEntry* filter = FindFilter(name);
  if (filter == nullptr || !filter->TakesLevels) {
    std::fprintf(stderr, "no deep filter %s\n", name);
    std::exit(2);
  }
  return *filter;
}

std::unique_ptr<TDeepRowSource> OpenBands(const char* path, TPictureExtras& extras) {
  std::unique_ptr<TDeepRowSource> rows = OpenPictureDeepRows(path, extras);
  if (!rows) {
    std::fprintf(stderr, "%s is read whole\n", path);
    std::exit(1);
  }
  return rows;
}

// The save exactly as the command line makes it.
int Save(const char* name, int levels, const char* in, const char* out) {
  const TFilterEntry& filter = DeepFilter(name);
  const double start = Now(), cpu = Cpu();
  TPictureExtras extras;
  const std::unique_ptr<TDeepRowSource> rows = OpenBands(in, extras);
  const std::string path = out;
  const bool bitmap = path.size() >= 4 && path.compare(path.size() - 4, 4, ".bmp") == 0;
  const std::unique_ptr<TBandWriter> writer =
      bitmap ? std::make_unique<TBitmapBandWriter>(path, rows->Width(), rows->Height())
             : CreatePngWriter(path, rows->Width(), rows->Height(), extras);
  if (!FilterDeepInBands(filter, TDeepOptions{levels, false}, *rows, *writer)) {
    std::fprintf(stderr, "the filter refused %s\n", in);
    return 1;
  }
  std::printf("%.0f ms wall, %.0f ms CPU\n", Now() - start, Cpu() - cpu);
  return 0;
}

class TDroppingWriter final : public TBandWriter {
 public:
  void WriteBand(std::int32_t, std::int32_t, const std::uint8_t* rows, std::size_t) override {
    Sum += rows[0];
  }
  void Commit() override {}
  unsigned Sum = 0;
};

// Each stage alone: the banded read with nothing done to the rows; the filter over the picture
// held in memory (one thread, as in the save, and the writer dropping the bands); the PNG write
// of the filtered picture.
int Stages(const char* name, const char* in, const char* out) {
  const TFilterEntry& filter = DeepFilter(name);
  TPictureExtras extras;
  double start = Now();
  std::unique_ptr<TDeepRowSource> rows = OpenBands(in, extras);
  TDeepPicture picture;
  picture.Width = rows->Width();
  picture.Height = rows->Height();
  picture.Samples.resize(3 * static_cast<std::size_t>(picture.Width) * picture.Height);
  const std::int32_t band = 64;
  for (std::int32_t first = 0; first < picture.Height; first += band) {
    const std::int32_t count = std::min(band, picture.Height - first);
    rows->ReadBand(first, count);
    for (std::int32_t y = first; y < first + count; ++y)
      std::memcpy(picture.Row(y), rows->Row(y), 6 * static_cast<std::size_t>(picture.Width));
  }
  rows.reset();
  const double read = Now() - start;
  start = Now();
  {
    TDeepPictureRows held(picture);
    TDroppingWriter dropping;
    FilterDeepInBands(filter, TDeepOptions{}, held, dropping, TBandOptions{0, 0, false});
  }
  const double filtered = Now() - start;
  TBitmap target;
  FilterDeepPicture(filter.Id, picture, target, TDeepOptions{});
  start = Now();
  WritePngFile(target, out, extras);
  const double written = Now() - start;
  std::printf("read %.0f ms, filter %.0f ms, write %.0f ms\n", read, filtered, written);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc >= 5 && argc <= 7 && std::strcmp(argv[1], "--make") == 0)
      return Make(std::max(2, std::atoi(argv[2])), argv[3], argv[4], argc > 5 ? argv[5] : nullptr,
                  argc > 6 ? argv[6] : nullptr);
    if (argc == 5 && std::strcmp(argv[1], "--save") == 0)
      return Save(argv[2], kMaxDeepLevels, argv[3], argv[4]);
    if (argc == 6 && std::strcmp(argv[1], "--save") == 0)
      return Save(argv[2], std::atoi(argv[3]), argv[4], argv[5]);
    if (argc == 5 && std::strcmp(argv[1], "--stages") == 0)
      return Stages(argv[2], argv[3], argv[4]);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
  std::fprintf(stderr,
               "usage: penamo_deep_save_bench --make SIZE DEEP.png EIGHT.png [EIGHT-SPNG.png "
               "[DEEP-UP.png]] |\n"
               "       --save FILTER [LEVELS] IN OUT.png | --stages FILTER IN OUT.png\n");
  return 2;
}
