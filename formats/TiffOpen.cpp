#include "TiffOpen.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <utility>

#include "Exceptions.h"
#include "FormatSupport.h"
#include "Limits.h"
#include "Machine.h"

namespace penamo::formats::tiff {

namespace {

// The file's bytes as libtiff's client: reads and seeks within them, never writes.
tmsize_t ReadProc(thandle_t handle, void* buffer, tmsize_t count) {
  auto& client = *static_cast<TClient*>(handle);
  if (count <= 0 || client.Position >= client.Size) return 0;
  const std::uint64_t wanted =
      std::min<std::uint64_t>(static_cast<std::uint64_t>(count), client.Size - client.Position);
  if (client.Data != nullptr) {
    std::memcpy(buffer, client.Data + client.Position, static_cast<std::size_t>(wanted));
    client.Position += wanted;
    return static_cast<tmsize_t>(wanted);
  }
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::uint64_t done = 0;
  while (done < wanted) {
    const ssize_t got = ::pread(client.Handle, out + done, static_cast<std::size_t>(wanted - done),
                                static_cast<off_t>(client.Position + done));
    if (got < 0 && errno == EINTR) continue;
    // An error or a file cut since it was opened: what was read is all there is.
    if (got <= 0) break;
    done += static_cast<std::uint64_t>(got);
  }
  client.Position += done;
  return static_cast<tmsize_t>(done);
}

tmsize_t WriteProc(thandle_t, void*, tmsize_t) {
  return 0;
}

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
  auto& client = *static_cast<TClient*>(handle);
  std::uint64_t base = 0;
  if (whence == SEEK_CUR) base = client.Position;
  if (whence == SEEK_END) base = client.Size;
  if (offset > UINT64_MAX - base) return static_cast<toff_t>(-1);
  client.Position = base + offset;
  return client.Position;
}

int CloseProc(thandle_t) {
  return 0;
}

toff_t SizeProc(thandle_t handle) {
  return static_cast<TClient*>(handle)->Size;
}

int MapProc(thandle_t, void**, toff_t*) {
  return 0;
}

void UnmapProc(thandle_t, void*, toff_t) {}

// The library's messages are never shown: an error only marks the read as failed.
int OnError(TIFF*, void* user, const char*, const char*, va_list) {
  static_cast<TClient*>(user)->Failed = true;
  return 1;
}

int OnWarning(TIFF*, void*, const char*, const char*, va_list) {
  return 1;
}

// A directory the library has read, errors and all (a tag of an undefined type it skipped, as
// old-style JPEG writers leave), is read as the library reads it: only errors while the pixels
// are decoded refuse the file, as libtiff's own RGBA interface refuses it.
void ForgiveDirectoryErrors(TClient& client) {
  client.Failed = false;
}

struct TOptionsFree {
  void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

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
std::uint64_t ClaimRatio(const TLayout& f) {
  using namespace PixelsPerByte;
  const std::uint64_t bits = std::uint64_t{f.BitsPerSample} * f.SamplesPerPixel;
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

// The palette's colours rounded to 8 bits into f.
void ReadPalette(TIFF* tif, TLayout& f) {
  std::uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
  if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue)) RaiseTiff("tiff-no-colormap");
  const std::size_t entries = std::size_t{1} << f.BitsPerSample;
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

// The colour samples a pixel of the photometric interpretation has (1 grey or palette, 3 RGB,
// 4 CMYK), or 0 for one the direct read leaves to the RGBA interface (reason then set).
int ColourSamples(TIFF* tif, const TLayout& f, const char*& reason) {
  switch (f.Photometric) {
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_MINISWHITE:
    case PHOTOMETRIC_PALETTE:
      return 1;
    case PHOTOMETRIC_RGB:
      return 3;
    case PHOTOMETRIC_SEPARATED: {
      std::uint16_t inks = INKSET_CMYK;
      TIFFGetFieldDefaulted(tif, TIFFTAG_INKSET, &inks);
      if (inks == INKSET_CMYK) return 4;
      reason = "tiff-unsupported-inkset";
      return 0;
    }
    default:
      reason = "tiff-unsupported-photometric";
      return 0;
  }
}

}  // namespace

void SilenceGlobalHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
  });
}

TTiff OpenTiff(TClient& client) {
  SilenceGlobalHandlers();
  const std::unique_ptr<TIFFOpenOptions, TOptionsFree> options(TIFFOpenOptionsAlloc());
  if (!options) RaiseOutOfMemory();
  // No single block the library allocates may exceed the limit on our own pictures.
  const auto limit = static_cast<tmsize_t>(std::min<std::uint64_t>(StorageLimit(), INT64_MAX));
  TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), limit);
#if TIFFLIB_AT_LEAST(4, 7, 0)
  // Nor all of them together: a file of many small claims adds up to no more either. (Older
  // libraries have no such cap; there the checks against the file's size bound the pixels.)
  TIFFOpenOptionsSetMaxCumulatedMemAlloc(options.get(), limit);
#endif
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), OnError, &client);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), OnWarning, &client);
  // "m": no memory mapping (the bytes are read as asked for); the first directory only.
  TTiff tif(TIFFClientOpenExt("picture", "rm", &client, ReadProc, WriteProc, SeekProc, CloseProc,
                              SizeProc, MapProc, UnmapProc, options.get()));
  if (!tif) {
    if (client.Size < 8) RaiseTruncated("tiff-truncated");
    RaiseTiff("tiff-bad-header");
  }
  ForgiveDirectoryErrors(client);
  return tif;
}

void RaiseTiff(const std::string& reason) {
  RaiseInvalid(Msg::InvalidTiff, reason);
}

void RaiseUnsupported(const std::string& reason) {
  formats::RaiseUnsupported("TIFF", reason);
}

void RaiseReadFailure(TIFF* tif, std::uint32_t index, const TClient& client) {
  int error = 0;
  const std::uint64_t offset = TIFFGetStrileOffsetWithErr(tif, index, &error);
  const std::uint64_t count = TIFFGetStrileByteCountWithErr(tif, index, &error);
  if (error == 0 && (offset > client.Size || count > client.Size - offset))
    RaiseTruncated("tiff-truncated");
  RaiseTiff("tiff-bad-image-data");
}

TLayout ReadLayout(TIFF* tif) {
  TLayout f;
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
  const char* reason = "";
  const int colours = ColourSamples(tif, f, reason);
  if (colours == 0) return throughRgba(reason);
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
  if (f.Photometric == PHOTOMETRIC_PALETTE) ReadPalette(tif, f);
  return f;
}

void CheckClaimsAgainstFile(TIFF* tif, const TLayout& f, const TClient& client) {
  CheckClaimedSize(f.Width, f.Height, client.Size, ClaimRatio(f), "tiff");
  const std::uint64_t expansion = MostExpansion(f.Compression);
  if (expansion == 0) return;
  const bool tiled = TIFFIsTiled(tif) != 0;
  const std::uint32_t striles = tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
  if (striles == 0) RaiseTiff("tiff-no-strips");
  std::vector<std::pair<std::uint64_t, std::uint64_t>> extents;
  WithMemory(kOutOfMemory, [&] { extents.reserve(striles); });
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
    if (offset > client.Size || used > client.Size - offset) RaiseTruncated("tiff-truncated");
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

void TakeProfile(TIFF* tif, TPictureExtras& extras) {
  std::uint32_t profileLength = 0;
  void* profile = nullptr;
  if (TIFFGetField(tif, TIFFTAG_ICCPROFILE, &profileLength, &profile) && profile != nullptr) {
    const auto* bytes = static_cast<const std::uint8_t*>(profile);
    WithMemory(kOutOfMemory, [&] { extras.ColorProfile.assign(bytes, bytes + profileLength); });
  }
}

std::uint8_t* Allocate(std::vector<std::uint8_t>& buffer, std::uint64_t rows, std::uint64_t bytes,
                       const char* reason) {
  CheckBufferSize(rows, bytes, reason);
  WithMemory(kOutOfMemory, [&] { buffer.resize(static_cast<std::size_t>(rows * bytes)); });
  return buffer.data();
}

}  // namespace penamo::formats::tiff
