// Measurements of the picture formats: reading times, and the PNG writer's compression level and
// row filter over a filtered picture (the table its defaults were chosen from). A measuring
// tool only.
//
//   penamo_formats_bench --read ROUNDS FILE          median and range of reading FILE
//   penamo_formats_bench --stages FILTER IN OUT.png  read, filter and write times of one save
//   penamo_formats_bench --table FILTER IN OUT.png   level × row filter → write time and size
//   penamo_formats_bench --make-deep W H OUT.png     a W × H 16-bit RGB gradient (libspng)
//   penamo_formats_bench --deep-rows ROWS FILE       the deep rows band by band: time, peak memory
//   penamo_formats_bench --make-tiff KIND W H OUT.tif a W × H TIFF of a gradient in one layout:
//                                                   rgb8, rgb16, rgba16-planar, cmyk8, grey4,
//                                                   palette8 or ycbcr (libtiff's RGBA interface)
#include <spng.h>
#include <sys/resource.h>
#include <tiffio.h>
//   penamo_formats_bench --decode ROUNDS FILE [deep] a GIF, HEIC, AVIF, JPEG XL or TIFF file read
//                                                   by its reader (by the name's suffix), 8-bit
//                                                   or (deep) 16-bit: median and range
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "Bitmap.h"
#include "Clocks.h"
#include "DeepRowSource.h"
#include "FilterTable.h"
#include "GifReader.h"
#include "HeifReader.h"
#include "JxlReader.h"
#include "PictureFile.h"
#include "PngWriter.h"
#include "TiffReader.h"

namespace {

using namespace penamo;

using bench::Cpu;
using bench::Now;

void Filter(const char* name, TBitmap& source, TBitmap& target) {
  const TFilterEntry* filter = FindFilter(name);
  if (filter == nullptr || !filter->Run(source, target, kFullStrength)) {
    std::fprintf(stderr, "no filter %s\n", name);
    std::exit(2);
  }
}

int Read(int rounds, const char* path) {
  std::vector<double> times;
  for (int i = 0; i < rounds; ++i) {
    TBitmap picture;
    TPictureExtras extras;
    const double start = Now();
    ReadPicture(path, picture, extras);
    times.push_back(Now() - start);
  }
  std::sort(times.begin(), times.end());
  std::printf("%.1f ms median (%.1f .. %.1f)\n", times[times.size() / 2], times.front(),
              times.back());
  return 0;
}

int Stages(const char* filter, const char* in, const char* out) {
  TBitmap source, target;
  TPictureExtras extras;
  double start = Now();
  ReadPicture(in, source, extras);
  const double read = Now() - start;
  start = Now();
  Filter(filter, source, target);
  const double filtered = Now() - start;
  start = Now();
  WritePngFile(target, out, extras);
  const double written = Now() - start;
  std::printf("read %.0f ms, filter %.0f ms, write %.0f ms\n", read, filtered, written);
  return 0;
}

int Table(const char* filter, const char* in, const char* out) {
  TBitmap source, target;
  TPictureExtras extras;
  ReadPicture(in, source, extras);
  Filter(filter, source, target);
  static const char* kFilterNames[] = {"none", "sub", "up", "average", "paeth", "adaptive"};
  std::printf("%-6s %-9s %12s %12s %12s\n", "level", "filter", "CPU ms", "wall ms (2T)", "bytes");
  for (int level = 0; level <= 3; ++level) {
    for (int f = 0; f <= 5; ++f) {
      TPngWriterOptions options;
      options.Level = level;
      options.Filter = static_cast<TPngRowFilter>(f);
      // One thread for the work it takes, then every core for the time it takes.
      options.Threads = 1;
      double cpu = Cpu();
      auto writer = CreatePngWriter(out, target.Width(), target.Height(), extras, options);
      for (std::int32_t y = 0; y < target.Height(); ++y)
        writer->WriteBand(y, 1, target.ConstRowAddress(y), 0);
      writer->Commit();
      cpu = Cpu() - cpu;
      options.Threads = 0;
      const double start = Now();
      writer = CreatePngWriter(out, target.Width(), target.Height(), extras, options);
      for (std::int32_t y = 0; y < target.Height(); ++y)
        writer->WriteBand(y, 1, target.ConstRowAddress(y), 0);
      writer->Commit();
      const double wall = Now() - start;
      std::printf("%-6d %-9s %12.0f %12.0f %12ju\n", level, kFilterNames[f], cpu, wall,
                  static_cast<std::uintmax_t>(std::filesystem::file_size(out)));
      std::fflush(stdout);
    }
  }
  return 0;
}

// The process's peak resident memory so far, in MiB.
double PeakMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// A smooth 16-bit gradient, the kind of picture a deep read is for, written row by row by
// libspng at its fastest level.
int MakeDeep(int width, int height, const char* out) {
  FILE* file = std::fopen(out, "wb");
  if (file == nullptr) return 1;
  spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
  spng_ihdr ihdr{};
  ihdr.width = static_cast<std::uint32_t>(width);
  ihdr.height = static_cast<std::uint32_t>(height);
  ihdr.bit_depth = 16;
  ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
  int error = spng_set_png_file(ctx, file);
  if (error == 0) error = spng_set_ihdr(ctx, &ihdr);
  if (error == 0) error = spng_set_option(ctx, SPNG_IMG_COMPRESSION_LEVEL, 1);
  if (error == 0)
    error = spng_encode_image(ctx, nullptr, 0, SPNG_FMT_PNG,
                              SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE);
  std::vector<std::uint8_t> row(6 * static_cast<std::size_t>(width));
  for (int y = 0; y < height && error == 0; ++y) {
    for (int x = 0; x < width; ++x) {
      const auto values = {65535u * static_cast<unsigned>(x) / static_cast<unsigned>(width),
                           65535u * static_cast<unsigned>(y) / static_cast<unsigned>(height),
                           32768u};
      std::size_t i = 6 * static_cast<std::size_t>(x);
      for (const unsigned v : values) {  // big-endian, as PNG stores it
        row[i++] = static_cast<std::uint8_t>(v >> 8);
        row[i++] = static_cast<std::uint8_t>(v);
      }
    }
    error = spng_encode_row(ctx, row.data(), row.size());
  }
  if (error == SPNG_EOI) error = 0;
  spng_ctx_free(ctx);
  std::fclose(file);
  if (error != 0) std::fprintf(stderr, "spng: %s\n", spng_strerror(error));
  return error == 0 ? 0 : 1;
}

int DeepRows(int bandRows, const char* path) {
  const double before = PeakMiB();
  const double start = Now();
  TPictureExtras extras;
  const std::unique_ptr<TDeepRowSource> rows = OpenPictureDeepRows(path, extras);
  if (!rows) {
    std::fprintf(stderr, "%s is read whole\n", path);
    return 1;
  }
  std::uint64_t sum = 0;
  for (std::int32_t first = 0; first < rows->Height(); first += bandRows) {
    const std::int32_t count = std::min(bandRows, rows->Height() - first);
    rows->ReadBand(first, count);
    for (std::int32_t y = first; y < first + count; ++y)
      sum += rows->Row(y)[3 * static_cast<std::size_t>(y % rows->Width())];
  }
  const double deepMiB = 6.0 * rows->Width() * rows->Height() / (1024.0 * 1024.0);
  std::printf(
      "%d x %d, bands of %d rows: %.0f ms; peak memory %.1f MiB before, %.1f MiB after "
      "(the whole deep picture: %.0f MiB) [%ju]\n",
      rows->Width(), rows->Height(), bandRows, Now() - start, before, PeakMiB(), deepMiB,
      static_cast<std::uintmax_t>(sum));
  return 0;
}

// A W × H TIFF in one of the layouts its reader takes, strip by strip: a gradient per sample,
// premultiplied by a gradient alpha where it has one; the YCbCr one's raw strips are a ramp of
// bytes (its subsampled units are not pixels).
int MakeTiff(const char* kind, int width, int height, const char* out) {
  struct TKind {
    const char* Name;
    int Bits, Samples, Photometric, Compression;
    bool Planar;
    int Extra;
  };
  static const TKind kKinds[] = {
      {"rgb8", 8, 3, PHOTOMETRIC_RGB, COMPRESSION_LZW, false, -1},
      {"rgb16", 16, 3, PHOTOMETRIC_RGB, COMPRESSION_NONE, false, -1},
      {"rgba16-planar", 16, 4, PHOTOMETRIC_RGB, COMPRESSION_LZW, true, EXTRASAMPLE_ASSOCALPHA},
      {"cmyk8", 8, 4, PHOTOMETRIC_SEPARATED, COMPRESSION_LZW, false, -1},
      {"grey4", 4, 1, PHOTOMETRIC_MINISBLACK, COMPRESSION_PACKBITS, false, -1},
      {"palette8", 8, 1, PHOTOMETRIC_PALETTE, COMPRESSION_LZW, false, -1},
      {"ycbcr", 8, 3, PHOTOMETRIC_YCBCR, COMPRESSION_NONE, false, -1},
  };
  const TKind* k = nullptr;
  for (const TKind& candidate : kKinds)
    if (std::strcmp(candidate.Name, kind) == 0) k = &candidate;
  if (k == nullptr || width <= 0 || height <= 0) return 2;
  TIFF* tif = TIFFOpen(out, "w");
  if (tif == nullptr) return 1;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(width));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(height));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, k->Bits);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, k->Samples);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, k->Photometric);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, k->Compression);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, k->Planar ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
  if (k->Extra >= 0) {
    const std::uint16_t extra = static_cast<std::uint16_t>(k->Extra);
    TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
  }
  if (k->Photometric == PHOTOMETRIC_YCBCR) TIFFSetField(tif, TIFFTAG_YCBCRSUBSAMPLING, 2, 2);
  if (k->Photometric == PHOTOMETRIC_PALETTE) {
    std::vector<std::uint16_t> red(256), green(256), blue(256);
    for (int i = 0; i < 256; ++i) {
      red[static_cast<std::size_t>(i)] = static_cast<std::uint16_t>(i * 257);
      green[static_cast<std::size_t>(i)] = static_cast<std::uint16_t>((255 - i) * 257);
      blue[static_cast<std::size_t>(i)] = static_cast<std::uint16_t>((i * 3 % 256) * 257);
    }
    TIFFSetField(tif, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
  }
  const std::uint32_t rowsPerStrip = k->Photometric == PHOTOMETRIC_YCBCR ? 16 : 32;
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
  const std::uint32_t top = (1u << k->Bits) - 1;
  const int planes = k->Planar ? k->Samples : 1;
  const int perPlane = k->Planar ? 1 : k->Samples;
  const std::uint32_t strips =
      (static_cast<std::uint32_t>(height) + rowsPerStrip - 1) / rowsPerStrip;
  const auto sample = [&](std::uint32_t x, std::uint32_t y, int c) {
    const std::uint64_t span = static_cast<std::uint64_t>(width) * (c + 1) + 2u * height;
    const auto v = static_cast<std::uint32_t>((std::uint64_t{x} * (c + 1) + 2u * y) * top / span);
    if (k->Extra < 0) return v;
    const std::uint32_t alpha =
        top - static_cast<std::uint32_t>(std::uint64_t{y} * top / height / 2);
    return c == k->Samples - 1 ? alpha : v * alpha / top;
  };
  int failed = 0;
  for (int plane = 0; plane < planes && failed == 0; ++plane) {
    for (std::uint32_t s = 0; s < strips && failed == 0; ++s) {
      const std::uint32_t first = s * rowsPerStrip;
      const std::uint32_t rows = std::min(rowsPerStrip, static_cast<std::uint32_t>(height) - first);
      std::vector<std::uint8_t> data(static_cast<std::size_t>(TIFFVStripSize(tif, rows)), 0);
      if (k->Photometric == PHOTOMETRIC_YCBCR) {
        for (std::size_t i = 0; i < data.size(); ++i)
          data[i] = static_cast<std::uint8_t>((i / 97 + first) % 256);
      } else {
        const std::size_t rowBytes =
            (static_cast<std::size_t>(width) * static_cast<std::size_t>(perPlane * k->Bits) + 7) /
            8;
        for (std::uint32_t r = 0; r < rows; ++r) {
          std::uint8_t* row = data.data() + r * rowBytes;
          for (std::uint32_t x = 0; x < static_cast<std::uint32_t>(width); ++x)
            for (int c = 0; c < perPlane; ++c) {
              const std::uint32_t v = sample(x, first + r, k->Planar ? plane : c);
              const std::size_t i =
                  static_cast<std::size_t>(x) * static_cast<std::size_t>(perPlane) +
                  static_cast<std::size_t>(c);
              if (k->Bits == 16) {
                const auto v16 = static_cast<std::uint16_t>(v);
                std::memcpy(row + 2 * i, &v16, 2);
              } else if (k->Bits == 8) {
                row[i] = static_cast<std::uint8_t>(v);
              } else {
                row[i / 2] = static_cast<std::uint8_t>(row[i / 2] | (i % 2 == 0 ? v << 4 : v));
              }
            }
        }
      }
      if (TIFFWriteEncodedStrip(tif, static_cast<std::uint32_t>(plane) * strips + s, data.data(),
                                static_cast<tmsize_t>(data.size())) < 0)
        failed = 1;
    }
  }
  TIFFClose(tif);
  return failed;
}

// The file's bytes are read once, before the rounds: only the decoding is timed.
int Decode(int rounds, const char* path, bool deep) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                        std::istreambuf_iterator<char>());
  const std::string name = path;
  const auto endsWith = [&](const char* suffix) {
    const std::size_t n = std::strlen(suffix);
    return name.size() >= n && name.compare(name.size() - n, n, suffix) == 0;
  };
  std::vector<double> times;
  for (int i = 0; i < rounds; ++i) {
    TBitmap picture;
    TDeepPicture deepPicture;
    TPictureExtras extras;
    const double start = Now();
    if (endsWith(".gif")) {
      ReadGif(bytes.data(), bytes.size(), picture, extras);
    } else if (endsWith(".tif") || endsWith(".tiff")) {
      if (deep) {
        ReadTiffDeep(bytes.data(), bytes.size(), deepPicture, extras);
      } else {
        ReadTiff(bytes.data(), bytes.size(), picture, extras);
      }
    } else if (endsWith(".jxl")) {
      if (deep) {
        ReadJxlDeep(bytes.data(), bytes.size(), deepPicture, extras);
      } else {
        ReadJxl(bytes.data(), bytes.size(), picture, extras);
      }
    } else if (deep) {
      ReadHeifDeep(bytes.data(), bytes.size(), deepPicture, extras);
    } else {
      ReadHeif(bytes.data(), bytes.size(), picture, extras);
    }
    times.push_back(Now() - start);
  }
  std::sort(times.begin(), times.end());
  std::printf("%.1f ms median (%.1f .. %.1f)\n", times[times.size() / 2], times.front(),
              times.back());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc == 4 && std::strcmp(argv[1], "--read") == 0) return Read(std::atoi(argv[2]), argv[3]);
    if (argc == 5 && std::strcmp(argv[1], "--stages") == 0)
      return Stages(argv[2], argv[3], argv[4]);
    if (argc == 5 && std::strcmp(argv[1], "--table") == 0) return Table(argv[2], argv[3], argv[4]);
    if (argc == 5 && std::strcmp(argv[1], "--make-deep") == 0)
      return MakeDeep(std::atoi(argv[2]), std::atoi(argv[3]), argv[4]);
    if (argc == 6 && std::strcmp(argv[1], "--make-tiff") == 0)
      return MakeTiff(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), argv[5]);
    if (argc == 4 && std::strcmp(argv[1], "--deep-rows") == 0)
      return DeepRows(std::max(1, std::atoi(argv[2])), argv[3]);
    if ((argc == 4 || (argc == 5 && std::strcmp(argv[4], "deep") == 0)) &&
        std::strcmp(argv[1], "--decode") == 0)
      return Decode(std::atoi(argv[2]), argv[3], argc == 5);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
  std::fprintf(stderr,
               "usage: penamo_formats_bench --read ROUNDS FILE | --stages FILTER IN OUT.png |\n"
               "       --table FILTER IN OUT.png | --make-deep W H OUT.png |\n"
               "       --deep-rows ROWS FILE | --decode ROUNDS FILE [deep] |\n"
               "       --make-tiff KIND W H OUT.tif\n");
  return 2;
}
