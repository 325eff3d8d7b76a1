#include "TiffReader.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Exceptions.h"
#include "FormatSupport.h"
#include "Machine.h"

namespace penamo {

namespace {

using namespace formats;

// The file's bytes as libtiff's client: reads and seeks within the buffer, never writes.
struct TMemoryFile {
  const std::uint8_t* Data;
  std::uint64_t Size;
  std::uint64_t Position;
  bool Failed;  // the library reported an error
};

tmsize_t ReadProc(thandle_t handle, void* buffer, tmsize_t count) {
  auto& file = *static_cast<TMemoryFile*>(handle);
  if (count <= 0 || file.Position >= file.Size) return 0;
  const std::uint64_t n =
      std::min<std::uint64_t>(static_cast<std::uint64_t>(count), file.Size - file.Position);
  std::memcpy(buffer, file.Data + file.Position, static_cast<std::size_t>(n));
  file.Position += n;
  return static_cast<tmsize_t>(n);
}

tmsize_t WriteProc(thandle_t, void*, tmsize_t) {
  return 0;
}

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
  auto& file = *static_cast<TMemoryFile*>(handle);
  std::uint64_t base = 0;
  if (whence == SEEK_CUR) base = file.Position;
  if (whence == SEEK_END) base = file.Size;
  if (offset > UINT64_MAX - base) return static_cast<toff_t>(-1);
  file.Position = base + offset;
  return file.Position;
}

int CloseProc(thandle_t) {
  return 0;
}

toff_t SizeProc(thandle_t handle) {
  return static_cast<TMemoryFile*>(handle)->Size;
}

int MapProc(thandle_t, void**, toff_t*) {
  return 0;
}

void UnmapProc(thandle_t, void*, toff_t) {}

// The library's messages are never shown: an error only marks the read as failed.
int OnError(TIFF*, void* user, const char*, const char*, va_list) {
  static_cast<TMemoryFile*>(user)->Failed = true;
  return 1;
}

int OnWarning(TIFF*, void*, const char*, const char*, va_list) {
  return 1;
}

void SilenceGlobalHandlers() {
  // A few paths report through the process-wide handlers, which print to stderr.
  static std::once_flag once;
  std::call_once(once, [] {
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
  });
}

struct TTiffClose {
  void operator()(TIFF* tif) const { TIFFClose(tif); }
};
struct TOptionsFree {
  void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

[[noreturn]] void RaiseTiff(const std::string& reason) {
  RaiseInvalid(Msg::InvalidTiff, reason);
}

// How the samples of one row are laid out, and how they become colours.
struct TFormat {
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
  std::uint16_t SamplesPerPixel = 1;
  std::uint16_t BitsPerSample = 1;
  std::uint16_t Photometric = 0;
  std::uint16_t Planar = PLANARCONFIG_CONTIG;
  int Alpha = -1;  // the alpha sample's index, or -1
  bool Associated = false;
  // Palette colours, rounded to 8 bits.
  std::vector<std::uint8_t> Red, Green, Blue;
};

std::uint32_t SampleAt(const std::uint8_t* row, std::uint64_t index, int bits) {
  switch (bits) {
    case 8:
      return row[index];
    case 16: {
      std::uint16_t value;
      std::memcpy(&value, row + 2 * index, 2);  // host order: the library has swapped it
      return value;
    }
    default: {
      const std::uint64_t bit = index * static_cast<std::uint64_t>(bits);
      const unsigned shift = 8 - static_cast<unsigned>(bits) - static_cast<unsigned>(bit % 8);
      return (row[bit / 8] >> shift) & ((1u << bits) - 1);
    }
  }
}

// A sample of any depth as 8 bits: 16-bit rounded, fewer bits stretched to 0..255.
std::uint8_t Scaled(std::uint32_t sample, int bits) {
  if (bits == 16) return To8Bits(sample);
  if (bits == 8) return static_cast<std::uint8_t>(sample);
  return static_cast<std::uint8_t>(sample * 255u / ((1u << bits) - 1));
}

// One row of interleaved samples into BGR (and alpha).
void ConvertRow(const TFormat& f, const std::uint8_t* samples, std::uint8_t* bgr,
                std::uint8_t* alpha) {
  const int bits = f.BitsPerSample;
  const std::uint32_t spp = f.SamplesPerPixel;
  for (std::uint32_t x = 0; x < f.Width; ++x, bgr += 3) {
    const std::uint64_t first = std::uint64_t{x} * spp;
    std::uint8_t r, g, b;
    if (f.Photometric == PHOTOMETRIC_RGB) {
      r = Scaled(SampleAt(samples, first, bits), bits);
      g = Scaled(SampleAt(samples, first + 1, bits), bits);
      b = Scaled(SampleAt(samples, first + 2, bits), bits);
    } else if (f.Photometric == PHOTOMETRIC_PALETTE) {
      const std::uint32_t index = SampleAt(samples, first, bits);
      r = f.Red[index];
      g = f.Green[index];
      b = f.Blue[index];
    } else {
      std::uint32_t sample = SampleAt(samples, first, bits);
      if (f.Photometric == PHOTOMETRIC_MINISWHITE) sample = ((1u << bits) - 1) - sample;
      r = g = b = Scaled(sample, bits);
    }
    if (f.Alpha >= 0) {
      const std::uint8_t a = Scaled(SampleAt(samples, first + f.Alpha, bits), bits);
      alpha[x] = a;
      if (f.Associated) {
        // Premultiplied colours become straight ones, as PNG stores them.
        const auto straight = [a](std::uint8_t c) -> std::uint8_t {
          if (a == 0) return 0;
          return static_cast<std::uint8_t>(std::min(255u, (c * 255u + a / 2u) / a));
        };
        r = straight(r);
        g = straight(g);
        b = straight(b);
      }
    }
    bgr[0] = b;
    bgr[1] = g;
    bgr[2] = r;
  }
}

TFormat ReadFormat(TIFF* tif) {
  TFormat f;
  std::uint16_t sampleFormat = SAMPLEFORMAT_UINT;
  std::uint16_t compression = COMPRESSION_NONE;
  if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &f.Width) ||
      !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &f.Height)) {
    RaiseTiff("tiff-no-size");
  }
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &f.SamplesPerPixel);
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &f.BitsPerSample);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &f.Planar);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &f.Photometric)) {
    // Old writers leave it out: one sample is greyscale, three are RGB.
    f.Photometric = f.SamplesPerPixel >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
  }
  CheckPictureSize(f.Width, f.Height, Msg::InvalidTiff, "tiff");
  if (sampleFormat != SAMPLEFORMAT_UINT) RaiseTiff("tiff-unsupported-sample-format");
  if (f.Photometric == PHOTOMETRIC_YCBCR && compression == COMPRESSION_JPEG) {
    // The JPEG codec converts to RGB itself.
    TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    f.Photometric = PHOTOMETRIC_RGB;
  }
  int colours = 0;
  switch (f.Photometric) {
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_MINISWHITE:
    case PHOTOMETRIC_PALETTE:
      colours = 1;
      break;
    case PHOTOMETRIC_RGB:
      colours = 3;
      break;
    default:
      RaiseTiff("tiff-unsupported-photometric");
  }
  const int bits = f.BitsPerSample;
  const bool depthOk =
      bits == 8 || bits == 16 ||
      ((bits == 1 || bits == 2 || bits == 4) && colours == 1 && f.SamplesPerPixel == 1);
  if (!depthOk) RaiseTiff("tiff-unsupported-depth");
  if (f.SamplesPerPixel < colours) RaiseTiff("tiff-too-few-samples");
  if (f.Planar != PLANARCONFIG_CONTIG && f.Planar != PLANARCONFIG_SEPARATE) {
    RaiseTiff("tiff-bad-planar-config");
  }

  std::uint16_t extraCount = 0;
  std::uint16_t* extraKinds = nullptr;
  if (TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extraKinds) && extraCount > 0 &&
      f.SamplesPerPixel > colours &&
      (extraKinds[0] == EXTRASAMPLE_ASSOCALPHA || extraKinds[0] == EXTRASAMPLE_UNASSALPHA)) {
    f.Alpha = colours;
    f.Associated = extraKinds[0] == EXTRASAMPLE_ASSOCALPHA;
  }

  if (f.Photometric == PHOTOMETRIC_PALETTE) {
    std::uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
    if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue)) RaiseTiff("tiff-no-colormap");
    const std::size_t entries = std::size_t{1} << bits;
    // Some old writers store 8-bit colours in the 16-bit table.
    bool eightBit = true;
    for (std::size_t i = 0; i < entries && eightBit; ++i)
      eightBit = red[i] < 256 && green[i] < 256 && blue[i] < 256;
    const auto to8 = [eightBit](std::uint16_t v) {
      return eightBit ? static_cast<std::uint8_t>(v) : To8Bits(v);
    };
    f.Red.resize(entries);
    f.Green.resize(entries);
    f.Blue.resize(entries);
    for (std::size_t i = 0; i < entries; ++i) {
      f.Red[i] = to8(red[i]);
      f.Green[i] = to8(green[i]);
      f.Blue[i] = to8(blue[i]);
    }
  }
  return f;
}

// A read of strip or tile number index failed: the file ended before it, or it is damaged.
[[noreturn]] void RaiseReadFailure(TIFF* tif, std::uint32_t index, const TMemoryFile& file) {
  int error = 0;
  const std::uint64_t offset = TIFFGetStrileOffsetWithErr(tif, index, &error);
  const std::uint64_t count = TIFFGetStrileByteCountWithErr(tif, index, &error);
  if (error == 0 && (offset > file.Size || count > file.Size - offset))
    RaiseTruncated("tiff-truncated");
  RaiseTiff("tiff-bad-image-data");
}

std::uint8_t* Allocate(std::vector<std::uint8_t>& buffer, std::uint64_t rows, std::uint64_t bytes,
                       const char* reason) {
  CheckBufferSize(rows, bytes, reason);
  WithMemory("out-of-memory", [&] { buffer.resize(static_cast<std::size_t>(rows * bytes)); });
  return buffer.data();
}

}  // namespace

void ReadTiff(const std::uint8_t* data, std::size_t size, TBitmap& picture,
              TPictureExtras& extras) {
  SilenceGlobalHandlers();
  TMemoryFile file{data, size, 0, false};
  const std::unique_ptr<TIFFOpenOptions, TOptionsFree> options(TIFFOpenOptionsAlloc());
  if (!options) RaiseOutOfMemory();
  // No single block the library allocates may exceed the limit on our own pictures.
  TIFFOpenOptionsSetMaxSingleMemAlloc(
      options.get(), static_cast<tmsize_t>(std::min<std::uint64_t>(StorageLimit(), INT64_MAX)));
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), OnError, &file);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), OnWarning, &file);
  // "m": no memory mapping (the bytes are ours already); "h": the first directory only.
  const std::unique_ptr<TIFF, TTiffClose> tif(
      TIFFClientOpenExt("picture", "rm", &file, ReadProc, WriteProc, SeekProc, CloseProc, SizeProc,
                        MapProc, UnmapProc, options.get()));
  if (!tif) {
    if (size < 8) RaiseTruncated("tiff-truncated");
    RaiseTiff("tiff-bad-header");
  }
  TFormat f = ReadFormat(tif.get());
  const bool planes = f.Planar == PLANARCONFIG_SEPARATE && f.SamplesPerPixel > 1;
  const std::uint64_t planeCount = planes ? f.SamplesPerPixel : 1;
  // Bits of one pixel in one plane, and the bytes of one row in one plane.
  const std::uint64_t planeBits =
      planes ? f.BitsPerSample : std::uint64_t{f.BitsPerSample} * f.SamplesPerPixel;
  const std::uint64_t planeRowBytes = (planeBits * f.Width + 7) / 8;
  const std::uint64_t rowBytes =
      (std::uint64_t{f.BitsPerSample} * f.SamplesPerPixel * f.Width + 7) / 8;
  const bool tiled = TIFFIsTiled(tif.get()) != 0;

  std::uint32_t bandRows = 0, tileWidth = 0;
  if (tiled) {
    std::uint32_t tileLength = 0;
    if (!TIFFGetField(tif.get(), TIFFTAG_TILEWIDTH, &tileWidth) ||
        !TIFFGetField(tif.get(), TIFFTAG_TILELENGTH, &tileLength) || tileWidth == 0 ||
        tileLength == 0 || tileWidth % 16 != 0) {
      RaiseTiff("tiff-bad-tile-size");
    }
    bandRows = tileLength;
  } else {
    std::uint32_t rowsPerStrip = 0;
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    bandRows = rowsPerStrip == 0 ? f.Height : rowsPerStrip;
  }
  bandRows = std::min(bandRows, f.Height);

  // Everything is sized and checked before the picture is made.
  std::vector<std::vector<std::uint8_t>> planeBands(planeCount);
  for (auto& band : planeBands)
    Allocate(band, bandRows, planeRowBytes, "tiff-strip-too-large");
  std::vector<std::uint8_t> tile, interleaved;
  std::uint64_t tileRowBytes = 0;
  if (tiled) {
    tileRowBytes = (planeBits * tileWidth + 7) / 8;
    Allocate(tile, std::min<std::uint64_t>(bandRows, f.Height), tileRowBytes,
             "tiff-tile-too-large");
  }
  if (planes) Allocate(interleaved, 1, rowBytes, "tiff-too-large");

  TPictureBuilder builder(static_cast<std::int32_t>(f.Width), static_cast<std::int32_t>(f.Height),
                          f.Alpha >= 0);
  for (std::uint32_t top = 0; top < f.Height; top += bandRows) {
    const std::uint32_t rows = std::min(bandRows, f.Height - top);
    for (std::uint16_t plane = 0; plane < planeCount; ++plane) {
      std::uint8_t* band = planeBands[plane].data();
      if (!tiled) {
        const std::uint32_t strip = TIFFComputeStrip(tif.get(), top, plane);
        const auto wanted = static_cast<tmsize_t>(rows * planeRowBytes);
        if (TIFFReadEncodedStrip(tif.get(), strip, band, wanted) != wanted || file.Failed)
          RaiseReadFailure(tif.get(), strip, file);
        continue;
      }
      for (std::uint32_t left = 0; left < f.Width; left += tileWidth) {
        const std::uint32_t index = TIFFComputeTile(tif.get(), left, top, 0, plane);
        if (TIFFReadEncodedTile(tif.get(), index, tile.data(), static_cast<tmsize_t>(tile.size())) <
                0 ||
            file.Failed) {
          RaiseReadFailure(tif.get(), index, file);
        }
        const std::uint64_t columns = std::min<std::uint64_t>(tileWidth, f.Width - left);
        const std::uint64_t offset = planeBits * left / 8;
        const std::uint64_t bytes = (planeBits * columns + 7) / 8;
        for (std::uint32_t r = 0; r < rows; ++r)
          std::memcpy(band + r * planeRowBytes + offset, tile.data() + r * tileRowBytes, bytes);
      }
    }
    for (std::uint32_t r = 0; r < rows; ++r) {
      const std::uint8_t* samples = planeBands[0].data() + r * planeRowBytes;
      if (planes) {
        // Planar samples (8 or 16 bits each) interleaved into one row.
        const std::size_t sampleBytes = f.BitsPerSample / 8u;
        for (std::uint32_t x = 0; x < f.Width; ++x) {
          for (std::uint16_t s = 0; s < planeCount; ++s) {
            std::memcpy(interleaved.data() + (std::uint64_t{x} * planeCount + s) * sampleBytes,
                        planeBands[s].data() + r * planeRowBytes + x * sampleBytes, sampleBytes);
          }
        }
        samples = interleaved.data();
      }
      const auto y = static_cast<std::int32_t>(top + r);
      ConvertRow(f, samples, builder.Row(y), f.Alpha >= 0 ? builder.AlphaRow(y) : nullptr);
    }
  }

  std::uint32_t profileLength = 0;
  void* profile = nullptr;
  if (TIFFGetField(tif.get(), TIFFTAG_ICCPROFILE, &profileLength, &profile) && profile != nullptr) {
    const auto* bytes = static_cast<const std::uint8_t*>(profile);
    builder.Extras().ColorProfile.assign(bytes, bytes + profileLength);
  }
  builder.Install(picture, extras);
}

}  // namespace penamo
