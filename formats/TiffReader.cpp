#include "TiffReader.h"

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "DeepRowSource.h"
#include "FormatSupport.h"
#include "Machine.h"
#include "ReadAheadRows.h"
#include "Stream.h"
#include "TiffOpen.h"
#include "TiffRows.h"
#include "UprightPlacement.h"

namespace penamo {

namespace {

using namespace formats;
using namespace formats::tiff;

// The whole TIFF in data into picture (when not null) and deep (when not null; a deep picture is
// made only for a file that keeps depth when onlyDeepFiles), from the stored rows the band read
// takes too, each placed upright as it is converted. Returns whether deep was made; picture, deep
// and extras are replaced only when all has been read.
bool ReadTiffInto(const std::uint8_t* data, std::size_t size, TBitmap* picture, TDeepPicture* deep,
                  bool onlyDeepFiles, TPictureExtras& extras) {
  TClient client;
  client.Data = data;
  client.Size = size;
  const TTiff tif = OpenTiff(client);
  const TLayout layout = ReadLayout(tif.get());
  CheckClaimsAgainstFile(tif.get(), layout, client);
  // Every band buffer is sized and checked here, before the pictures are made.
  TStoredRows rows(tif.get(), layout, client);
  const TLayout& f = rows.Layout();
  const bool hasAlpha = rows.HasAlpha();
  const bool keeps = rows.KeepsDepth();
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
  if (picture != nullptr)
    builder = std::make_unique<TPictureBuilder>(shownWidth, shownHeight, hasAlpha);
  WithMemory(kOutOfMemory, [&] {
    if (!builder || !inPlace) storedBgr.resize(rowSamples);
    if (!inPlace && hasAlpha) storedAlpha.resize(static_cast<std::size_t>(width));
    if (!builder && hasAlpha) {
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
  const auto alphaRow = [&](std::int32_t y) {
    return builder ? builder->AlphaRow(y)
                   : read.Alpha.data() +
                         static_cast<std::size_t>(y) * static_cast<std::size_t>(shownWidth);
  };

  for (std::uint32_t y32 = 0; y32 < f.Height; ++y32) {
    const std::uint8_t* samples = rows.Next(y32);
    const auto y = static_cast<std::int32_t>(y32);
    std::uint8_t* row8 = builder && inPlace ? builder->Row(y) : storedBgr.data();
    std::uint8_t* alpha = nullptr;
    if (hasAlpha) alpha = inPlace ? alphaRow(y) : storedAlpha.data();
    if (builder || !keeps || alpha != nullptr) rows.To8(samples, row8, alpha);
    if (!inPlace) {
      if (builder)
        placement.Place(row8, 3, y, [&](std::int32_t shown) { return builder->Row(shown); });
      if (alpha != nullptr) placement.Place(alpha, 1, y, alphaRow);
    }
    if (!makeDeep) continue;
    std::uint16_t* out = inPlace ? deepRead.Row(y) : storedDeep.data();
    if (keeps) {
      rows.ToDeep(samples, out);
    } else {
      WidenSamples(row8, out, rowSamples);
    }
    if (!inPlace)
      placement.Place(out, 3, y, [&](std::int32_t shown) { return deepRead.Row(shown); });
  }

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

// The rows of a 16-bit file one at a time, for TDeepReadAheadRows, from the stored rows the
// whole read takes: each band of strips or tiles is decoded when its first row is asked for.
class TTiffDeepRowDecoder final : public TDeepRowDecoder {
 public:
  // alpha: the picture's alpha plane, filled row by row, or null.
  TTiffDeepRowDecoder(std::unique_ptr<TFileStream> stream, std::unique_ptr<TClient> client,
                      TTiff tif, const TLayout& layout, std::uint8_t* alpha)
      : FStream(std::move(stream)),
        FClient(std::move(client)),
        FTiff(std::move(tif)),
        FRows(FTiff.get(), layout, *FClient),
        FAlpha(alpha) {
    if (FAlpha != nullptr)
      WithMemory(kOutOfMemory, [&] { FRow8.resize(3 * static_cast<std::size_t>(layout.Width)); });
  }

  void DecodeRow(std::int32_t y, std::uint16_t* bgr) override {
    const auto row = static_cast<std::uint32_t>(y);
    const std::uint8_t* samples = FRows.Next(row);
    // The alpha plane is the 8-bit read's, byte for byte.
    if (FAlpha != nullptr)
      FRows.To8(samples, FRow8.data(),
                FAlpha + static_cast<std::size_t>(row) * FRows.Layout().Width);
    FRows.ToDeep(samples, bgr);
  }

  int Handle() const override { return FStream->Handle(); }

 private:
  std::unique_ptr<TFileStream> FStream;
  std::unique_ptr<TClient> FClient;
  TTiff FTiff;
  TStoredRows FRows;
  std::uint8_t* FAlpha;
  std::vector<std::uint8_t> FRow8;
};

}  // namespace

void ReadTiff(const std::uint8_t* data, std::size_t size, TBitmap& picture,
              TPictureExtras& extras) {
  ReadTiffInto(data, size, &picture, nullptr, false, extras);
}

void ReadTiffDeep(const std::uint8_t* data, std::size_t size, TDeepPicture& deep,
                  TPictureExtras& extras) {
  ReadTiffInto(data, size, nullptr, &deep, false, extras);
}

bool ReadTiffWithDeep(const std::uint8_t* data, std::size_t size, TBitmap& picture,
                      TDeepPicture& deep, TPictureExtras& extras) {
  return ReadTiffInto(data, size, &picture, &deep, true, extras);
}

std::unique_ptr<TDeepRowSource> OpenTiffDeepRows(const std::string& path, TPictureExtras& extras,
                                                 bool aside) {
  auto stream = std::make_unique<TFileStream>(path);
  auto client = std::make_unique<TClient>();
  client->Handle = stream->Handle();
  client->Size = static_cast<std::uint64_t>(std::max<std::int64_t>(0, stream->Size()));
  TTiff tif = OpenTiff(*client);
  const TLayout layout = ReadLayout(tif.get());
  // Any other layout (libtiff's RGBA interface among them), and rows shown in another order,
  // are read whole.
  if (!layout.Direct || !KeepsDepth(layout) || layout.Orientation != 1) return nullptr;
  // Refused as the whole read refuses it, before a band buffer is sized.
  CheckClaimsAgainstFile(tif.get(), layout, *client);
  const auto width = static_cast<std::int32_t>(layout.Width);
  const auto height = static_cast<std::int32_t>(layout.Height);
  TPictureExtras read;
  TakeProfile(tif.get(), read);
  if (layout.Alpha >= 0) {
    CheckBufferSize(layout.Width, layout.Height, "tiff-alpha-too-large");
    WithMemory(kOutOfMemory, [&] {
      read.Alpha.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 255);
    });
  }
  // The band buffers are sized and checked here, before the rows are asked for.
  auto decoder = std::make_unique<TTiffDeepRowDecoder>(
      std::move(stream), std::move(client), std::move(tif), layout,
      read.Alpha.empty() ? nullptr : read.Alpha.data());
  extras = std::move(read);
  return std::make_unique<TDeepReadAheadRows>(std::move(decoder), width, height, aside);
}

}  // namespace penamo
