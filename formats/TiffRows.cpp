#include "TiffRows.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "FormatSupport.h"
#include "Machine.h"

namespace penamo::formats::tiff {

namespace {

// Planar rows (one plane a sample, Sample-wide each) interleaved into one row, as contiguous
// samples are stored.
template <typename Sample>
void Interleave(const std::vector<std::vector<std::uint8_t>>& planes, std::uint64_t rowOffset,
                std::uint32_t width, std::uint8_t* out) {
  const std::size_t count = planes.size();
  for (std::size_t s = 0; s < count; ++s) {
    const std::uint8_t* in = planes[s].data() + rowOffset;
    std::uint8_t* to = out + s * sizeof(Sample);
    for (std::uint32_t x = 0; x < width; ++x)
      std::memcpy(to + std::uint64_t{x} * count * sizeof(Sample),
                  in + std::uint64_t{x} * sizeof(Sample), sizeof(Sample));
  }
}

// The rows of a layout the direct read takes, decoded strip by strip or tile by tile; planar
// samples come out interleaved.
class TDirectBands final : public TBandSource {
 public:
  TDirectBands(TIFF* tif, const TLayout& f, const TClient& client);

  const TLayout& Layout() const override { return FLayout; }
  std::uint32_t BandRows() const override { return FBandRows; }
  void Read(std::uint32_t top, std::uint32_t rows) override;
  const std::uint8_t* Samples(std::uint32_t r) override;

 private:
  void ReadStrip(std::uint32_t top, std::uint32_t rows, std::uint16_t plane);
  void ReadTiles(std::uint32_t top, std::uint32_t rows, std::uint16_t plane);

  TIFF* FTiff;
  TLayout FLayout;
  const TClient& FClient;
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
  // Chosen once for the sample width of a planar file.
  void (*FInterleave)(const std::vector<std::vector<std::uint8_t>>&, std::uint64_t, std::uint32_t,
                      std::uint8_t*) = nullptr;
};

TDirectBands::TDirectBands(TIFF* tif, const TLayout& f, const TClient& client)
    : FTiff(tif),
      FLayout(f),
      FClient(client),
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
  if (FPlanes) {
    Allocate(FInterleaved, 1, rowBytes, "tiff-too-large");
    // Planar samples are 8 or 16 bits (fewer come one to a pixel).
    if (f.BitsPerSample == 16) {
      FInterleave = Interleave<std::uint16_t>;
    } else {
      FInterleave = Interleave<std::uint8_t>;
    }
  }
}

void TDirectBands::Read(std::uint32_t top, std::uint32_t rows) {
  for (std::uint16_t plane = 0; plane < FPlaneCount; ++plane) {
    if (FTiled) {
      ReadTiles(top, rows, plane);
    } else {
      ReadStrip(top, rows, plane);
    }
  }
}

void TDirectBands::ReadStrip(std::uint32_t top, std::uint32_t rows, std::uint16_t plane) {
  const std::uint32_t strip = TIFFComputeStrip(FTiff, top, plane);
  const auto wanted = static_cast<tmsize_t>(rows * FPlaneRowBytes);
  if (TIFFReadEncodedStrip(FTiff, strip, FPlaneBands[plane].data(), wanted) != wanted ||
      FClient.Failed) {
    RaiseReadFailure(FTiff, strip, FClient);
  }
}

void TDirectBands::ReadTiles(std::uint32_t top, std::uint32_t rows, std::uint16_t plane) {
  std::uint8_t* band = FPlaneBands[plane].data();
  for (std::uint32_t left = 0; left < FLayout.Width; left += FTileWidth) {
    const std::uint32_t index = TIFFComputeTile(FTiff, left, top, 0, plane);
    if (TIFFReadEncodedTile(FTiff, index, FTile.data(), static_cast<tmsize_t>(FTile.size())) < 0 ||
        FClient.Failed) {
      RaiseReadFailure(FTiff, index, FClient);
    }
    const std::uint64_t columns = std::min<std::uint64_t>(FTileWidth, FLayout.Width - left);
    const std::uint64_t offset = FPlaneBits * left / 8;
    const std::uint64_t bytes = (FPlaneBits * columns + 7) / 8;
    for (std::uint32_t r = 0; r < rows; ++r)
      std::memcpy(band + r * FPlaneRowBytes + offset, FTile.data() + r * FTileRowBytes, bytes);
  }
}

const std::uint8_t* TDirectBands::Samples(std::uint32_t r) {
  if (!FPlanes) return FPlaneBands[0].data() + r * FPlaneRowBytes;
  FInterleave(FPlaneBands, r * FPlaneRowBytes, FLayout.Width, FInterleaved.data());
  return FInterleaved.data();
}

// libtiff's RGBA interface, which ends its use of the image once begun.
struct TRgbaImage {
  TIFFRGBAImage Image{};
  bool Begun = false;
  ~TRgbaImage() {
    if (Begun) TIFFRGBAImageEnd(&Image);
  }
};

// The rows of a layout the direct read leaves, through libtiff's RGBA interface a band of strips
// or tiles at a time: 8-bit red, green, blue and alpha (premultiplied where the file has alpha,
// as the interface gives it), in memory order. The interface is asked for the file's own
// orientation, which leaves the rows as stored: they are turned as the direct read's are (it
// cannot turn by a quarter).
class TRgbaBands final : public TBandSource {
 public:
  TRgbaBands(TIFF* tif, const TLayout& f, const TClient& client);

  const TLayout& Layout() const override { return FLayout; }
  std::uint32_t BandRows() const override { return FBandRows; }
  void Read(std::uint32_t top, std::uint32_t rows) override;
  const std::uint8_t* Samples(std::uint32_t r) override {
    return reinterpret_cast<const std::uint8_t*>(FBand.data() +
                                                 static_cast<std::size_t>(r) * FLayout.Width);
  }

 private:
  const TClient& FClient;
  TRgbaImage FRgba;
  TLayout FLayout;
  std::uint32_t FBandRows = 0;
  std::vector<std::uint32_t> FBand;
};

TRgbaBands::TRgbaBands(TIFF* tif, const TLayout& f, const TClient& client) : FClient(client) {
  char message[1024] = "";
  if (!TIFFRGBAImageOK(tif, message)) RaiseUnsupported(f.Refusal);
  if (!TIFFRGBAImageBegin(&FRgba.Image, tif, 1, message)) RaiseUnsupported(f.Refusal);
  FRgba.Begun = true;
  FRgba.Image.req_orientation = static_cast<std::uint16_t>(f.Orientation);
  FLayout.Width = f.Width;
  FLayout.Height = f.Height;
  FLayout.SamplesPerPixel = 4;
  FLayout.BitsPerSample = 8;
  FLayout.Photometric = PHOTOMETRIC_RGB;
  FLayout.Alpha = FRgba.Image.alpha != 0 ? 3 : -1;
  FLayout.Associated = true;
  FLayout.Compression = f.Compression;
  FLayout.Orientation = f.Orientation;
  if (TIFFIsTiled(tif)) {
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &FBandRows);
  } else {
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &FBandRows);
  }
  if (FBandRows == 0 || FBandRows > f.Height) FBandRows = f.Height;
  CheckBufferSize(FBandRows, std::uint64_t{f.Width} * 4, "tiff-strip-too-large");
  WithMemory(kOutOfMemory, [&] { FBand.resize(static_cast<std::size_t>(FBandRows) * f.Width); });
}

void TRgbaBands::Read(std::uint32_t top, std::uint32_t rows) {
  FRgba.Image.row_offset = static_cast<int>(top);
  FRgba.Image.col_offset = 0;
  if (!TIFFRGBAImageGet(&FRgba.Image, FBand.data(), FLayout.Width, rows) || FClient.Failed)
    RaiseTiff("tiff-bad-image-data");
  // Each pixel is a word of red in its low byte to alpha in its high one: in memory order
  // those are the bytes red, green, blue, alpha only on a little-endian machine.
  if constexpr (std::endian::native == std::endian::big) {
    const std::size_t count = static_cast<std::size_t>(rows) * FLayout.Width;
    for (std::size_t i = 0; i < count; ++i)
      FBand[i] = __builtin_bswap32(FBand[i]);
  }
}

}  // namespace

TStoredRows::TStoredRows(TIFF* tif, const TLayout& f, const TClient& client) {
  if (f.Direct) {
    FBands = std::make_unique<TDirectBands>(tif, f, client);
  } else {
    FBands = std::make_unique<TRgbaBands>(tif, f, client);
  }
  FConverters = ChooseConverters(FBands->Layout());
}

const std::uint8_t* TStoredRows::Next(std::uint32_t y) {
  if (FCount == 0 || y >= FTop + FCount) {
    const std::uint32_t bandRows = FBands->BandRows();
    FTop = y - y % bandRows;
    FCount = std::min(bandRows, Layout().Height - FTop);
    FBands->Read(FTop, FCount);
  }
  return FBands->Samples(y - FTop);
}

}  // namespace penamo::formats::tiff
