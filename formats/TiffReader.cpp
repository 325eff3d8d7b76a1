#include "TiffReader.h"

#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "DeepRowSource.h"
#include "DeepSamples.h"
#include "Exceptions.h"
#include "FormatSupport.h"
#include "Machine.h"
#include "ReadAheadRows.h"
#include "Stream.h"
#include "UprightPlacement.h"

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

// A directory the library has read, errors and all (a tag of an undefined type it skipped, as
// old-style JPEG writers leave), is read as the library reads it: only errors while the pixels
// are decoded refuse the file, as libtiff's own RGBA interface refuses it.
void ForgiveDirectoryErrors(TMemoryFile& file) {
  file.Failed = false;
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

// A sound file of a variant neither the direct read nor libtiff's RGBA interface takes.
[[noreturn]] void RaiseUnsupported(const std::string& reason) {
  throw EUnsupportedGraphic(Msg::UnsupportedVariant("TIFF"), reason);
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
  std::uint16_t Compression = COMPRESSION_NONE;
  int Orientation = 1;  // how the stored rows are shown, 1..8
  // False for a layout the direct read does not take, which goes through libtiff's RGBA
  // interface; Refusal then says why, for when that refuses it too.
  bool Direct = true;
  std::string Refusal;
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

// Ink to light, 16 bits: each colour (65535 - ink) × (65535 - black) / 65535, rounded; the deep
// read keeps these and the 8-bit one rounds them as it rounds any 16-bit sample.
std::uint32_t InkLight16(std::uint32_t ink, std::uint32_t black) {
  return ((65535u - ink) * (65535u - black) + 32767u) / 65535u;
}

// A CMYK pixel as light. 8 bits exactly as libtiff's RGBA interface converts it, truncated, so
// that every reader built on that interface shows the same colours.
void CmykToRgb(const std::uint8_t* samples, std::uint64_t first, int bits, std::uint8_t& r,
               std::uint8_t& g, std::uint8_t& b) {
  const std::uint32_t c = SampleAt(samples, first, bits), m = SampleAt(samples, first + 1, bits),
                      y = SampleAt(samples, first + 2, bits),
                      k = SampleAt(samples, first + 3, bits);
  if (bits == 16) {
    r = To8Bits(InkLight16(c, k));
    g = To8Bits(InkLight16(m, k));
    b = To8Bits(InkLight16(y, k));
    return;
  }
  const std::uint32_t light = 255u - k;
  r = static_cast<std::uint8_t>(light * (255u - c) / 255u);
  g = static_cast<std::uint8_t>(light * (255u - m) / 255u);
  b = static_cast<std::uint8_t>(light * (255u - y) / 255u);
}

// One row of interleaved samples into BGR (and alpha).
void ConvertRow(const TFormat& f, const std::uint8_t* samples, std::uint8_t* bgr,
                std::uint8_t* alpha) {
  const int bits = f.BitsPerSample;
  const std::uint32_t spp = f.SamplesPerPixel;
  for (std::uint32_t x = 0; x < f.Width; ++x, bgr += 3) {
    const std::uint64_t first = std::uint64_t{x} * spp;
    std::uint8_t r, g, b;
    if (f.Photometric == PHOTOMETRIC_SEPARATED) {
      CmykToRgb(samples, first, bits, r, g, b);
    } else if (f.Photometric == PHOTOMETRIC_RGB) {
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
        r = static_cast<std::uint8_t>(Straight(r, a, 255));
        g = static_cast<std::uint8_t>(Straight(g, a, 255));
        b = static_cast<std::uint8_t>(Straight(b, a, 255));
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
  if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &f.Width) ||
      !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &f.Height)) {
    RaiseTiff("tiff-no-size");
  }
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &f.SamplesPerPixel);
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &f.BitsPerSample);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &f.Planar);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &f.Compression);
  std::uint16_t orientation = ORIENTATION_TOPLEFT;
  TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
  f.Orientation = orientation >= 1 && orientation <= 8 ? orientation : 1;
  if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &f.Photometric)) {
    // Old writers leave it out: one sample is greyscale, three are RGB.
    f.Photometric = f.SamplesPerPixel >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
  }
  CheckPictureSize(f.Width, f.Height, Msg::InvalidTiff, "tiff");
  const bool logLuv = f.Photometric == PHOTOMETRIC_LOGLUV || f.Photometric == PHOTOMETRIC_LOGL;
  // Signed and floating-point samples are read by neither path (LogLuv's are the codec's own).
  if (sampleFormat != SAMPLEFORMAT_UINT && sampleFormat != SAMPLEFORMAT_VOID && !logLuv)
    RaiseUnsupported("tiff-unsupported-sample-format");
  const auto throughRgba = [&f](const char* reason) {
    f.Direct = false;
    f.Refusal = reason;
    return f;
  };
  // The old JPEG scheme is decoded well only through the RGBA interface.
  if (f.Compression == COMPRESSION_OJPEG) return throughRgba("tiff-unsupported-old-jpeg");
  if (f.Photometric == PHOTOMETRIC_YCBCR && f.Compression == COMPRESSION_JPEG) {
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
    case PHOTOMETRIC_SEPARATED: {
      std::uint16_t inks = INKSET_CMYK;
      TIFFGetFieldDefaulted(tif, TIFFTAG_INKSET, &inks);
      if (inks != INKSET_CMYK) return throughRgba("tiff-unsupported-inkset");
      colours = 4;
      break;
    }
    default:
      return throughRgba("tiff-unsupported-photometric");
  }
  const int bits = f.BitsPerSample;
  const bool depthOk =
      bits == 8 || bits == 16 ||
      ((bits == 1 || bits == 2 || bits == 4) && colours == 1 && f.SamplesPerPixel == 1);
  if (!depthOk) return throughRgba("tiff-unsupported-depth");
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

// Opens the file's first directory, every block the library allocates held to the storage
// limit and its messages kept for the read alone.
std::unique_ptr<TIFF, TTiffClose> OpenTiff(TMemoryFile& file) {
  const std::unique_ptr<TIFFOpenOptions, TOptionsFree> options(TIFFOpenOptionsAlloc());
  if (!options) RaiseOutOfMemory();
  // No single block the library allocates may exceed the limit on our own pictures.
  TIFFOpenOptionsSetMaxSingleMemAlloc(
      options.get(), static_cast<tmsize_t>(std::min<std::uint64_t>(StorageLimit(), INT64_MAX)));
#if TIFFLIB_AT_LEAST(4, 7, 0)
  // Nor all of them together: a file of many small claims adds up to no more either. (Older
  // libraries have no such cap; there the checks against the file's size bound the pixels.)
  TIFFOpenOptionsSetMaxCumulatedMemAlloc(
      options.get(), static_cast<tmsize_t>(std::min<std::uint64_t>(StorageLimit(), INT64_MAX)));
#endif
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), OnError, &file);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), OnWarning, &file);
  // "m": no memory mapping (the bytes are ours already); "h": the first directory only.
  std::unique_ptr<TIFF, TTiffClose> tif(TIFFClientOpenExt("picture", "rm", &file, ReadProc,
                                                          WriteProc, SeekProc, CloseProc, SizeProc,
                                                          MapProc, UnmapProc, options.get()));
  if (!tif) {
    if (file.Size < 8) RaiseTruncated("tiff-truncated");
    RaiseTiff("tiff-bad-header");
  }
  ForgiveDirectoryErrors(file);
  return tif;
}

// The picture's rows a band at a time, a band being the rows of one strip or one row of tiles;
// planar samples come out interleaved, as contiguous ones are stored. Every buffer is sized and
// checked when made, before the picture is.
class TBands {
 public:
  TBands(TIFF* tif, const TFormat& f, const TMemoryFile& file);

  std::uint32_t Rows() const { return FBandRows; }
  // Reads the band of rows rows from row top.
  void Read(std::uint32_t top, std::uint32_t rows);
  // Row r of the band read last: every sample of every pixel, in order.
  const std::uint8_t* Samples(std::uint32_t r);

 private:
  void ReadStrip(std::uint32_t top, std::uint32_t rows, std::uint16_t plane);
  void ReadTiles(std::uint32_t top, std::uint32_t rows, std::uint16_t plane);

  TIFF* FTiff;
  const TFormat& FFormat;
  const TMemoryFile& FFile;
  bool FPlanes;  // one plane a sample
  std::uint64_t FPlaneCount;
  std::uint64_t FPlaneBits;      // bits of one pixel in one plane
  std::uint64_t FPlaneRowBytes;  // bytes of one row in one plane
  bool FTiled;
  std::uint32_t FBandRows = 0;
  std::uint32_t FTileWidth = 0;
  std::uint64_t FTileRowBytes = 0;
  std::vector<std::vector<std::uint8_t>> FPlaneBands;
  std::vector<std::uint8_t> FTile;
  std::vector<std::uint8_t> FInterleaved;
};

TBands::TBands(TIFF* tif, const TFormat& f, const TMemoryFile& file)
    : FTiff(tif),
      FFormat(f),
      FFile(file),
      FPlanes(f.Planar == PLANARCONFIG_SEPARATE && f.SamplesPerPixel > 1),
      FPlaneCount(FPlanes ? f.SamplesPerPixel : 1),
      FPlaneBits(FPlanes ? f.BitsPerSample : std::uint64_t{f.BitsPerSample} * f.SamplesPerPixel),
      FPlaneRowBytes((FPlaneBits * f.Width + 7) / 8),
      FTiled(TIFFIsTiled(tif) != 0) {
  if (FTiled) {
    std::uint32_t tileLength = 0;
    if (!TIFFGetField(tif, TIFFTAG_TILEWIDTH, &FTileWidth) ||
        !TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileLength) || FTileWidth == 0 || tileLength == 0 ||
        FTileWidth % 16 != 0) {
      RaiseTiff("tiff-bad-tile-size");
    }
    FBandRows = tileLength;
  } else {
    std::uint32_t rowsPerStrip = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    FBandRows = rowsPerStrip == 0 ? f.Height : rowsPerStrip;
  }
  FBandRows = std::min(FBandRows, f.Height);

  FPlaneBands.resize(static_cast<std::size_t>(FPlaneCount));
  for (auto& band : FPlaneBands)
    Allocate(band, FBandRows, FPlaneRowBytes, "tiff-strip-too-large");
  if (FTiled) {
    FTileRowBytes = (FPlaneBits * FTileWidth + 7) / 8;
    Allocate(FTile, std::min<std::uint64_t>(FBandRows, f.Height), FTileRowBytes,
             "tiff-tile-too-large");
  }
  const std::uint64_t rowBytes =
      (std::uint64_t{f.BitsPerSample} * f.SamplesPerPixel * f.Width + 7) / 8;
  if (FPlanes) Allocate(FInterleaved, 1, rowBytes, "tiff-too-large");
}

void TBands::Read(std::uint32_t top, std::uint32_t rows) {
  for (std::uint16_t plane = 0; plane < FPlaneCount; ++plane) {
    if (FTiled) {
      ReadTiles(top, rows, plane);
    } else {
      ReadStrip(top, rows, plane);
    }
  }
}

void TBands::ReadStrip(std::uint32_t top, std::uint32_t rows, std::uint16_t plane) {
  const std::uint32_t strip = TIFFComputeStrip(FTiff, top, plane);
  const auto wanted = static_cast<tmsize_t>(rows * FPlaneRowBytes);
  if (TIFFReadEncodedStrip(FTiff, strip, FPlaneBands[plane].data(), wanted) != wanted ||
      FFile.Failed) {
    RaiseReadFailure(FTiff, strip, FFile);
  }
}

void TBands::ReadTiles(std::uint32_t top, std::uint32_t rows, std::uint16_t plane) {
  std::uint8_t* band = FPlaneBands[plane].data();
  for (std::uint32_t left = 0; left < FFormat.Width; left += FTileWidth) {
    const std::uint32_t index = TIFFComputeTile(FTiff, left, top, 0, plane);
    if (TIFFReadEncodedTile(FTiff, index, FTile.data(), static_cast<tmsize_t>(FTile.size())) < 0 ||
        FFile.Failed) {
      RaiseReadFailure(FTiff, index, FFile);
    }
    const std::uint64_t columns = std::min<std::uint64_t>(FTileWidth, FFormat.Width - left);
    const std::uint64_t offset = FPlaneBits * left / 8;
    const std::uint64_t bytes = (FPlaneBits * columns + 7) / 8;
    for (std::uint32_t r = 0; r < rows; ++r)
      std::memcpy(band + r * FPlaneRowBytes + offset, FTile.data() + r * FTileRowBytes, bytes);
  }
}

const std::uint8_t* TBands::Samples(std::uint32_t r) {
  if (!FPlanes) return FPlaneBands[0].data() + r * FPlaneRowBytes;
  // Planar samples (8 or 16 bits each) interleaved into one row.
  const std::size_t sampleBytes = FFormat.BitsPerSample / 8u;
  for (std::uint32_t x = 0; x < FFormat.Width; ++x) {
    for (std::uint16_t s = 0; s < FPlaneCount; ++s) {
      std::memcpy(FInterleaved.data() + (std::uint64_t{x} * FPlaneCount + s) * sampleBytes,
                  FPlaneBands[s].data() + r * FPlaneRowBytes + x * sampleBytes, sampleBytes);
    }
  }
  return FInterleaved.data();
}

// The colour profile, when the file has one.
void TakeProfile(TIFF* tif, TPictureExtras& extras) {
  std::uint32_t profileLength = 0;
  void* profile = nullptr;
  if (TIFFGetField(tif, TIFFTAG_ICCPROFILE, &profileLength, &profile) && profile != nullptr) {
    const auto* bytes = static_cast<const std::uint8_t*>(profile);
    WithMemory("out-of-memory", [&] { extras.ColorProfile.assign(bytes, bytes + profileLength); });
  }
}

// The most bytes one byte of each scheme's data can become. PackBits: a run code and its byte
// give at most 128 bytes. Deflate: a 258-byte match coded in two bits, 1032 bytes a byte. LZW
// (codes of 9 to 12 bits): the string of code c is at most c - 256 bytes long, so a 12-bit
// code gives at most 3840 bytes, 2560 a byte, and shorter codes give less. Every other scheme
// (JPEG, fax, LogLuv, ...) can describe a large picture in a few bytes and is held to the
// storage limit alone.
std::uint64_t MostExpansion(std::uint16_t compression) {
  switch (compression) {
    case COMPRESSION_NONE:
      return 1;
    case COMPRESSION_PACKBITS:
      return 64;
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
      return 1032;
    case COMPRESSION_LZW:
      return 2560;
    default:
      return 0;
  }
}

// Pixels a byte of the file may claim under its compression (the claim rule of Limits.h).
std::uint64_t ClaimRatio(const TFormat& f) {
  using namespace PixelsPerByte;
  const int bits = f.BitsPerSample * f.SamplesPerPixel;
  switch (f.Compression) {
    case COMPRESSION_NONE:
      return BitmapUncompressed(bits);
    case COMPRESSION_PACKBITS:
      return OfRowBytes(TiffPackBits, bits);
    case COMPRESSION_LZW:
      return OfRowBytes(TiffLzw, bits);
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
      return OfRowBytes(TiffDeflate, bits);
    case COMPRESSION_ZSTD:
      return OfRowBytes(TiffZstd, bits);
    case COMPRESSION_LZMA:
      return OfRowBytes(TiffLzma, bits);
    case COMPRESSION_CCITTRLE:
    case COMPRESSION_CCITTRLEW:
    case COMPRESSION_CCITTFAX3:
    case COMPRESSION_CCITTFAX4:
      return TiffFax;
    case COMPRESSION_JPEG:
    case COMPRESSION_OJPEG:
      return TiffJpeg;
    default:
      return TiffOther;
  }
}

// A compressed strip or tile of a few bytes may still hold a whole small strip.
constexpr std::uint64_t kStrileSlack = 1024;

std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b) {
  return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

std::uint64_t SaturatingMultiply(std::uint64_t a, std::uint64_t b) {
  return b != 0 && a > UINT64_MAX / b ? UINT64_MAX : a * b;
}

// Refuses, before anything the size of the picture is allocated, a file whose strips or tiles
// claim more pixels than its bytes can hold under its compression: data the read would take from
// beyond the end of the file (EReadError, as that read would end), or decoded sizes beyond what
// the bytes present (counted once where strips overlap) can expand to (EInvalidGraphic).
void CheckClaimsAgainstFile(TIFF* tif, const TFormat& f, const TMemoryFile& file) {
  CheckClaimedSize(f.Width, f.Height, file.Size, ClaimRatio(f), "tiff");
  const std::uint64_t expansion = MostExpansion(f.Compression);
  if (expansion == 0) return;
  const bool tiled = TIFFIsTiled(tif) != 0;
  const std::uint32_t striles = tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
  if (striles == 0) RaiseTiff("tiff-no-strips");
  std::vector<std::pair<std::uint64_t, std::uint64_t>> extents;
  WithMemory("out-of-memory", [&] { extents.reserve(striles); });
  std::uint64_t claimed = 0;
  std::uint32_t rowsPerStrip = f.Height;
  if (!tiled) {
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    if (rowsPerStrip == 0 || rowsPerStrip > f.Height) rowsPerStrip = f.Height;
  }
  const std::uint32_t stripsPerPlane = (f.Height - 1) / rowsPerStrip + 1;
  const std::uint64_t tileBytes = tiled ? TIFFTileSize64(tif) : 0;
  for (std::uint32_t i = 0; i < striles; ++i) {
    int error = 0;
    const std::uint64_t offset = TIFFGetStrileOffsetWithErr(tif, i, &error);
    const std::uint64_t count = TIFFGetStrileByteCountWithErr(tif, i, &error);
    if (error != 0) RaiseTiff("tiff-bad-strip-table");
    std::uint64_t decoded = tileBytes;
    if (!tiled) {
      const std::uint32_t top = (i % stripsPerPlane) * rowsPerStrip;
      decoded = TIFFVStripSize64(tif, std::min(rowsPerStrip, f.Height - top));
    }
    claimed = SaturatingAdd(claimed, decoded);
    // The library reads an uncompressed strip's own size from its offset, whatever its count
    // says; a compressed one's count in full.
    const std::uint64_t used = f.Compression == COMPRESSION_NONE ? decoded : count;
    if (offset > file.Size || used > file.Size - offset) RaiseTruncated("tiff-truncated");
    if (used > 0) extents.emplace_back(offset, offset + used);
  }
  std::sort(extents.begin(), extents.end());
  std::uint64_t present = 0, reached = 0;
  for (const auto& [start, end] : extents) {
    const std::uint64_t from = std::max(start, reached);
    if (end > from) present += end - from;
    reached = std::max(reached, end);
  }
  std::uint64_t most = SaturatingMultiply(present, expansion);
  if (f.Compression != COMPRESSION_NONE)
    most = SaturatingAdd(most, SaturatingMultiply(striles, kStrileSlack));
  if (claimed > most) RaiseTiff("tiff-claims-exceed-data");
}

// Reads a layout the direct read does not take through libtiff's RGBA interface, a band of
// strips or tiles at a time, into an upright picture; alpha, when the file has it, is divided
// back out of the colours the interface premultiplies. Refuses what the interface refuses:
// an unsupported variant as such, a read that fails as damaged data.
std::unique_ptr<TPictureBuilder> ReadThroughRgba(TIFF* tif, const TFormat& f,
                                                 const TMemoryFile& file) {
  char message[1024] = "";
  if (!TIFFRGBAImageOK(tif, message)) RaiseUnsupported(f.Refusal);
  TIFFRGBAImage image;
  std::memset(&image, 0, sizeof image);
  if (!TIFFRGBAImageBegin(&image, tif, 1, message)) RaiseUnsupported(f.Refusal);
  struct TEnd {
    TIFFRGBAImage* Image;
    ~TEnd() { TIFFRGBAImageEnd(Image); }
  } end{&image};
  // Asked for the file's own orientation, the interface leaves the rows as stored; they are
  // turned here as the direct read turns them (the interface cannot turn by a quarter).
  image.req_orientation = static_cast<std::uint16_t>(f.Orientation);
  std::uint32_t bandRows = 0;
  if (TIFFIsTiled(tif)) {
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &bandRows);
  } else {
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &bandRows);
  }
  if (bandRows == 0 || bandRows > f.Height) bandRows = f.Height;
  std::vector<std::uint32_t> band;
  CheckBufferSize(bandRows, std::uint64_t{f.Width} * 4, "tiff-strip-too-large");
  WithMemory("out-of-memory", [&] { band.resize(static_cast<std::size_t>(bandRows) * f.Width); });
  const bool alpha = image.alpha != 0;
  const auto width = static_cast<std::int32_t>(f.Width);
  const TUprightPlacement placement(f.Orientation, width, static_cast<std::int32_t>(f.Height));
  auto builder =
      std::make_unique<TPictureBuilder>(placement.ShownWidth(), placement.ShownHeight(), alpha);
  std::vector<std::uint8_t> bgr, opacity;
  WithMemory("out-of-memory", [&] {
    bgr.resize(3 * static_cast<std::size_t>(width));
    opacity.resize(static_cast<std::size_t>(width));
  });
  for (std::uint32_t top = 0; top < f.Height; top += bandRows) {
    const std::uint32_t rows = std::min(bandRows, f.Height - top);
    image.row_offset = static_cast<int>(top);
    image.col_offset = 0;
    if (!TIFFRGBAImageGet(&image, band.data(), f.Width, rows) || file.Failed)
      RaiseTiff("tiff-bad-image-data");
    for (std::uint32_t r = 0; r < rows; ++r) {
      const std::uint32_t* in = band.data() + static_cast<std::size_t>(r) * f.Width;
      for (std::int32_t x = 0; x < width; ++x) {
        const std::uint32_t p = in[x];
        std::uint8_t red = static_cast<std::uint8_t>(TIFFGetR(p)),
                     green = static_cast<std::uint8_t>(TIFFGetG(p)),
                     blue = static_cast<std::uint8_t>(TIFFGetB(p));
        const auto a = static_cast<std::uint8_t>(TIFFGetA(p));
        if (alpha) {
          red = static_cast<std::uint8_t>(Straight(red, a, 255));
          green = static_cast<std::uint8_t>(Straight(green, a, 255));
          blue = static_cast<std::uint8_t>(Straight(blue, a, 255));
        }
        bgr[3 * static_cast<std::size_t>(x)] = blue;
        bgr[3 * static_cast<std::size_t>(x) + 1] = green;
        bgr[3 * static_cast<std::size_t>(x) + 2] = red;
        opacity[static_cast<std::size_t>(x)] = a;
      }
      const auto y = static_cast<std::int32_t>(top + r);
      placement.Place(bgr.data(), 3, y, [&](std::int32_t shown) { return builder->Row(shown); });
      if (alpha) {
        placement.Place(opacity.data(), 1, y,
                        [&](std::int32_t shown) { return builder->AlphaRow(shown); });
      }
    }
  }
  return builder;
}

}  // namespace

void ReadTiff(const std::uint8_t* data, std::size_t size, TBitmap& picture,
              TPictureExtras& extras) {
  SilenceGlobalHandlers();
  TMemoryFile file{data, size, 0, false};
  const std::unique_ptr<TIFF, TTiffClose> tif = OpenTiff(file);
  const TFormat f = ReadFormat(tif.get());
  CheckClaimsAgainstFile(tif.get(), f, file);
  if (!f.Direct) {
    const std::unique_ptr<TPictureBuilder> built = ReadThroughRgba(tif.get(), f, file);
    TakeProfile(tif.get(), built->Extras());
    built->Install(picture, extras);
    return;
  }
  TBands bands(tif.get(), f, file);
  const TUprightPlacement placement(f.Orientation, static_cast<std::int32_t>(f.Width),
                                    static_cast<std::int32_t>(f.Height));
  TPictureBuilder builder(placement.ShownWidth(), placement.ShownHeight(), f.Alpha >= 0);
  // A turned picture's rows are converted aside and then placed.
  const bool inPlace = placement.Orientation() == 1;
  std::vector<std::uint8_t> storedBgr, storedAlpha;
  if (!inPlace) {
    WithMemory("out-of-memory", [&] {
      storedBgr.resize(3 * static_cast<std::size_t>(f.Width));
      if (f.Alpha >= 0) storedAlpha.resize(f.Width);
    });
  }
  for (std::uint32_t top = 0; top < f.Height; top += bands.Rows()) {
    const std::uint32_t rows = std::min(bands.Rows(), f.Height - top);
    bands.Read(top, rows);
    for (std::uint32_t r = 0; r < rows; ++r) {
      const auto y = static_cast<std::int32_t>(top + r);
      if (inPlace) {
        ConvertRow(f, bands.Samples(r), builder.Row(y),
                   f.Alpha >= 0 ? builder.AlphaRow(y) : nullptr);
        continue;
      }
      ConvertRow(f, bands.Samples(r), storedBgr.data(),
                 f.Alpha >= 0 ? storedAlpha.data() : nullptr);
      placement.Place(storedBgr.data(), 3, y,
                      [&](std::int32_t shown) { return builder.Row(shown); });
      if (f.Alpha >= 0) {
        placement.Place(storedAlpha.data(), 1, y,
                        [&](std::int32_t shown) { return builder.AlphaRow(shown); });
      }
    }
  }
  TakeProfile(tif.get(), builder.Extras());
  builder.Install(picture, extras);
}

}  // namespace penamo

// The deep read. It shares the header reading and the refusals above and walks the same bands,
// so a file gives it the answer ReadTiff gives.
namespace penamo {

namespace {

using namespace formats;

// Calls row(y, samples) for every row top to bottom, samples interleaved (planar files too).
// Every band buffer is sized and checked before the first row; prepare() runs after that,
// before any strip or tile is decoded, so the caller's pictures are made only once the bands fit.
template <class Prepare, class Row>
void ForEachSampleRow(TIFF* tif, const TFormat& f, const TMemoryFile& file, Prepare prepare,
                      Row row) {
  TBands bands(tif, f, file);
  prepare();
  for (std::uint32_t top = 0; top < f.Height; top += bands.Rows()) {
    const std::uint32_t rows = std::min(bands.Rows(), f.Height - top);
    bands.Read(top, rows);
    for (std::uint32_t r = 0; r < rows; ++r)
      row(top + r, bands.Samples(r));
  }
}

// Whether the deep samples of the format are its own: 16-bit grey or RGB. Every other layout
// is its 8-bit conversion widened.
bool KeepsDepth(const TFormat& f) {
  return f.BitsPerSample == 16 && f.Photometric != PHOTOMETRIC_PALETTE;
}

// One row of 16-bit grey or RGB samples into deep BGR. Premultiplied colours are divided back
// out at full precision.
void ConvertDeepRow(const TFormat& f, const std::uint8_t* samples, std::uint16_t* bgr) {
  const std::uint32_t spp = f.SamplesPerPixel;
  for (std::uint32_t x = 0; x < f.Width; ++x, bgr += 3) {
    const std::uint64_t first = std::uint64_t{x} * spp;
    std::uint32_t r, g, b;
    if (f.Photometric == PHOTOMETRIC_SEPARATED) {
      const std::uint32_t k = SampleAt(samples, first + 3, 16);
      r = InkLight16(SampleAt(samples, first, 16), k);
      g = InkLight16(SampleAt(samples, first + 1, 16), k);
      b = InkLight16(SampleAt(samples, first + 2, 16), k);
    } else if (f.Photometric == PHOTOMETRIC_RGB) {
      r = SampleAt(samples, first, 16);
      g = SampleAt(samples, first + 1, 16);
      b = SampleAt(samples, first + 2, 16);
    } else {
      std::uint32_t sample = SampleAt(samples, first, 16);
      if (f.Photometric == PHOTOMETRIC_MINISWHITE) sample = 65535 - sample;
      r = g = b = sample;
    }
    if (f.Alpha >= 0 && f.Associated) {
      const std::uint32_t a = SampleAt(samples, first + f.Alpha, 16);
      r = Straight(r, a, 65535);
      g = Straight(g, a, 65535);
      b = Straight(b, a, 65535);
    }
    bgr[0] = static_cast<std::uint16_t>(b);
    bgr[1] = static_cast<std::uint16_t>(g);
    bgr[2] = static_cast<std::uint16_t>(r);
  }
}

// ReadTiffInto for a layout read through the RGBA interface: its 8-bit picture, widened for the
// deep one (such a file never keeps more than 8 bits).
bool ReadTiffThroughRgbaInto(TIFF* tif, const TFormat& f, const TMemoryFile& file, TBitmap* picture,
                             TDeepPicture* deep, bool onlyDeepFiles, TPictureExtras& extras) {
  const std::unique_ptr<TPictureBuilder> built = ReadThroughRgba(tif, f, file);
  const bool makeDeep = deep != nullptr && !onlyDeepFiles;
  TDeepPicture deepRead;
  if (makeDeep) {
    deepRead.Width = built->Width();
    deepRead.Height = built->Height();
    const std::size_t rowSamples = 3 * static_cast<std::size_t>(built->Width());
    WithMemory("out-of-memory", [&] {
      deepRead.Samples.resize(rowSamples * static_cast<std::size_t>(built->Height()));
    });
    for (std::int32_t y = 0; y < built->Height(); ++y) {
      const std::uint8_t* in = built->Row(y);
      std::uint16_t* out = deepRead.Row(y);
      WidenSamples(in, out, rowSamples);
    }
  }
  TPictureExtras read;
  read.Alpha = std::move(built->Extras().Alpha);
  TakeProfile(tif, read);
  if (picture != nullptr) {
    TPictureExtras none;
    built->Install(*picture, none);
  }
  if (deep != nullptr) *deep = std::move(deepRead);
  extras = std::move(read);
  return makeDeep;
}

// The whole TIFF in data into picture (as ReadTiff makes it, when not null) and deep (when not
// null; a deep picture is made only for a file that keeps depth when onlyDeepFiles). Returns
// whether deep was made; picture, deep and extras are replaced only when all has been read.
bool ReadTiffInto(const std::uint8_t* data, std::size_t size, TBitmap* picture, TDeepPicture* deep,
                  bool onlyDeepFiles, TPictureExtras& extras) {
  SilenceGlobalHandlers();
  TMemoryFile file{data, size, 0, false};
  const std::unique_ptr<TIFF, TTiffClose> tif = OpenTiff(file);
  const TFormat f = ReadFormat(tif.get());
  CheckClaimsAgainstFile(tif.get(), f, file);
  if (!f.Direct)
    return ReadTiffThroughRgbaInto(tif.get(), f, file, picture, deep, onlyDeepFiles, extras);
  const bool keeps = KeepsDepth(f);
  const bool makeDeep = deep != nullptr && (keeps || !onlyDeepFiles);
  const auto width = static_cast<std::int32_t>(f.Width);
  const TUprightPlacement placement(f.Orientation, width, static_cast<std::int32_t>(f.Height));
  const std::int32_t shownWidth = placement.ShownWidth();
  const std::int32_t shownHeight = placement.ShownHeight();
  // A turned picture's rows are converted aside and then placed.
  const bool inPlace = placement.Orientation() == 1;

  // The 8-bit rows are made for the picture; without one, a row at a time for the alpha plane
  // and as the source of widened deep rows.
  std::unique_ptr<TPictureBuilder> builder;
  TPictureExtras read;
  TDeepPicture deepRead;
  std::vector<std::uint8_t> storedBgr, storedAlpha;
  std::vector<std::uint16_t> storedDeep;
  const std::size_t rowSamples = 3 * static_cast<std::size_t>(width);
  const auto alphaRow = [&](std::int32_t y) {
    return builder ? builder->AlphaRow(y)
                   : read.Alpha.data() +
                         static_cast<std::size_t>(y) * static_cast<std::size_t>(shownWidth);
  };
  ForEachSampleRow(
      tif.get(), f, file,
      [&] {
        if (picture != nullptr)
          builder = std::make_unique<TPictureBuilder>(shownWidth, shownHeight, f.Alpha >= 0);
        WithMemory("out-of-memory", [&] {
          if (!builder || !inPlace) storedBgr.resize(rowSamples);
          if (!inPlace && f.Alpha >= 0) storedAlpha.resize(static_cast<std::size_t>(width));
          if (!builder && f.Alpha >= 0) {
            read.Alpha.assign(
                static_cast<std::size_t>(shownWidth) * static_cast<std::size_t>(shownHeight), 255);
          }
          if (!makeDeep) return;
          if (!inPlace) storedDeep.resize(rowSamples);
          deepRead.Width = shownWidth;
          deepRead.Height = shownHeight;
          deepRead.Samples.resize(3 * static_cast<std::size_t>(shownWidth) *
                                  static_cast<std::size_t>(shownHeight));
        });
      },
      [&](std::uint32_t y32, const std::uint8_t* samples) {
        const auto y = static_cast<std::int32_t>(y32);
        std::uint8_t* row8 = builder && inPlace ? builder->Row(y) : storedBgr.data();
        std::uint8_t* alpha = nullptr;
        if (f.Alpha >= 0) alpha = inPlace ? alphaRow(y) : storedAlpha.data();
        if (builder || !keeps || alpha != nullptr) ConvertRow(f, samples, row8, alpha);
        if (!inPlace) {
          if (builder) {
            placement.Place(row8, 3, y, [&](std::int32_t shown) { return builder->Row(shown); });
          }
          if (alpha != nullptr) placement.Place(alpha, 1, y, alphaRow);
        }
        if (!makeDeep) return;
        std::uint16_t* out = inPlace ? deepRead.Row(y) : storedDeep.data();
        if (keeps) {
          ConvertDeepRow(f, samples, out);
        } else {
          WidenSamples(row8, out, rowSamples);
        }
        if (!inPlace) {
          placement.Place(out, 3, y, [&](std::int32_t shown) { return deepRead.Row(shown); });
        }
      });

  if (builder) read.Alpha = std::move(builder->Extras().Alpha);
  TakeProfile(tif.get(), read);
  if (picture != nullptr) {
    TPictureExtras none;
    builder->Install(*picture, none);
  }
  if (deep != nullptr) *deep = std::move(deepRead);
  extras = std::move(read);
  return makeDeep;
}

}  // namespace

void ReadTiffDeep(const std::uint8_t* data, std::size_t size, TDeepPicture& deep,
                  TPictureExtras& extras) {
  ReadTiffInto(data, size, nullptr, &deep, false, extras);
}

bool ReadTiffWithDeep(const std::uint8_t* data, std::size_t size, TBitmap& picture,
                      TDeepPicture& deep, TPictureExtras& extras) {
  return ReadTiffInto(data, size, &picture, &deep, true, extras);
}

}  // namespace penamo

// The deep read band by band, for a file of 16-bit grey or RGB samples: the file is read through
// its handle as libtiff asks for its parts, so that only a band of strips or tiles is held,
// whatever the picture's size. The header, the refusals and the rows are the whole read's.
namespace penamo {

namespace {

using namespace formats;

// The open file as libtiff's client: Memory carries the size, the position and the failure
// mark the shared code reads; its Data is unused.
struct TFileClient {
  TMemoryFile Memory;
  int Handle;
};

tmsize_t FileReadProc(thandle_t handle, void* buffer, tmsize_t count) {
  auto& client = *static_cast<TFileClient*>(handle);
  TMemoryFile& file = client.Memory;
  if (count <= 0 || file.Position >= file.Size) return 0;
  std::uint64_t wanted =
      std::min<std::uint64_t>(static_cast<std::uint64_t>(count), file.Size - file.Position);
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::uint64_t done = 0;
  while (done < wanted) {
    const ssize_t got = ::pread(client.Handle, out + done, static_cast<std::size_t>(wanted - done),
                                static_cast<off_t>(file.Position + done));
    if (got < 0 && errno == EINTR) continue;
    // An error or a file cut since it was opened: what was read is all there is.
    if (got <= 0) break;
    done += static_cast<std::uint64_t>(got);
  }
  file.Position += done;
  return static_cast<tmsize_t>(done);
}

toff_t FileSeekProc(thandle_t handle, toff_t offset, int whence) {
  return SeekProc(&static_cast<TFileClient*>(handle)->Memory, offset, whence);
}

toff_t FileSizeProc(thandle_t handle) {
  return static_cast<TFileClient*>(handle)->Memory.Size;
}

std::unique_ptr<TIFF, TTiffClose> OpenTiffFile(TFileClient& client) {
  const std::unique_ptr<TIFFOpenOptions, TOptionsFree> options(TIFFOpenOptionsAlloc());
  if (!options) RaiseOutOfMemory();
  TIFFOpenOptionsSetMaxSingleMemAlloc(
      options.get(), static_cast<tmsize_t>(std::min<std::uint64_t>(StorageLimit(), INT64_MAX)));
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), OnError, &client.Memory);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), OnWarning, &client.Memory);
  std::unique_ptr<TIFF, TTiffClose> tif(
      TIFFClientOpenExt("picture", "rm", &client, FileReadProc, WriteProc, FileSeekProc, CloseProc,
                        FileSizeProc, MapProc, UnmapProc, options.get()));
  if (!tif) {
    if (client.Memory.Size < 8) RaiseTruncated("tiff-truncated");
    RaiseTiff("tiff-bad-header");
  }
  ForgiveDirectoryErrors(client.Memory);
  return tif;
}

// The rows of a 16-bit grey or RGB file, one at a time, for TDeepReadAheadRows: each band of
// strips or tiles is decoded when its first row is asked for.
class TTiffDeepRowDecoder final : public TDeepRowDecoder {
 public:
  TTiffDeepRowDecoder(std::unique_ptr<TFileStream> stream, std::unique_ptr<TFileClient> client,
                      std::unique_ptr<TIFF, TTiffClose> tif, std::unique_ptr<TFormat> format,
                      std::uint8_t* alpha)
      : FStream(std::move(stream)),
        FClient(std::move(client)),
        FTiff(std::move(tif)),
        FFormat(std::move(format)),
        FBands(FTiff.get(), *FFormat, FClient->Memory),
        FAlpha(alpha) {
    if (FAlpha != nullptr)
      WithMemory("out-of-memory",
                 [&] { FRow8.resize(3 * static_cast<std::size_t>(FFormat->Width)); });
  }

  void DecodeRow(std::int32_t y, std::uint16_t* bgr) override {
    const auto row = static_cast<std::uint32_t>(y);
    if (row >= FTop + FCount || FCount == 0) {
      FTop = row - row % FBands.Rows();
      FCount = std::min(FBands.Rows(), FFormat->Height - FTop);
      FBands.Read(FTop, FCount);
    }
    const std::uint8_t* samples = FBands.Samples(row - FTop);
    // The alpha plane is the 8-bit read's, byte for byte.
    if (FAlpha != nullptr)
      ConvertRow(*FFormat, samples, FRow8.data(),
                 FAlpha + static_cast<std::size_t>(row) * FFormat->Width);
    ConvertDeepRow(*FFormat, samples, bgr);
  }

  int Handle() const override { return FStream->Handle(); }

 private:
  std::unique_ptr<TFileStream> FStream;
  std::unique_ptr<TFileClient> FClient;
  std::unique_ptr<TIFF, TTiffClose> FTiff;
  std::unique_ptr<TFormat> FFormat;
  TBands FBands;
  std::uint8_t* FAlpha;
  std::vector<std::uint8_t> FRow8;
  std::uint32_t FTop = 0;
  std::uint32_t FCount = 0;
};

}  // namespace

std::unique_ptr<TDeepRowSource> OpenTiffDeepRows(const std::string& path, TPictureExtras& extras,
                                                 bool aside) {
  SilenceGlobalHandlers();
  auto stream = std::make_unique<TFileStream>(path);
  const std::int64_t size = stream->Size();
  auto client = std::make_unique<TFileClient>(TFileClient{
      TMemoryFile{nullptr, static_cast<std::uint64_t>(std::max<std::int64_t>(0, size)), 0, false},
      stream->Handle()});
  std::unique_ptr<TIFF, TTiffClose> tif = OpenTiffFile(*client);
  auto format = std::make_unique<TFormat>(ReadFormat(tif.get()));
  // Any other layout (libtiff's RGBA interface among them), and rows shown in another order,
  // are read whole.
  if (!format->Direct || !KeepsDepth(*format) || format->Orientation != 1) return nullptr;
  // Refused as the whole read refuses it, before a band buffer is sized.
  CheckClaimsAgainstFile(tif.get(), *format, client->Memory);
  const auto width = static_cast<std::int32_t>(format->Width);
  const auto height = static_cast<std::int32_t>(format->Height);
  TPictureExtras read;
  TakeProfile(tif.get(), read);
  if (format->Alpha >= 0) {
    CheckBufferSize(format->Width, format->Height, "tiff-alpha-too-large");
    WithMemory("out-of-memory", [&] {
      read.Alpha.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 255);
    });
  }
  // The band buffers are sized and checked here, before the rows are asked for.
  auto decoder = std::make_unique<TTiffDeepRowDecoder>(
      std::move(stream), std::move(client), std::move(tif), std::move(format),
      read.Alpha.empty() ? nullptr : read.Alpha.data());
  extras = std::move(read);
  return std::make_unique<TDeepReadAheadRows>(std::move(decoder), width, height, aside);
}

}  // namespace penamo
