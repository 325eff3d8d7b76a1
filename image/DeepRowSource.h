// Rows at sixteen bits a sample, for the filters made for depth: a 16-bit picture keeps its full
// precision here, while everything else goes on reading the 8-bit rows of TRowSource, rounded as
// they always were. An 8-bit picture is seen here exactly as it is (each byte v as v × 257, the
// same fraction of full scale), so a deep filter gives one answer for one picture whatever its
// depth.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "Interface.h"

namespace penamo {

class TRowSource;

// Samples are blue, green, red, each 0..65535 (65535 is full intensity); row 0 is the top row.
class TDeepRowSource : public TInterface {
 public:
  virtual std::int32_t Width() const = 0;
  virtual std::int32_t Height() const = 0;

  // Makes rows first .. first + count - 1 available to Row; bands are asked for top to bottom.
  // Raises EReadError (or another error of ours) when they cannot be had.
  virtual void ReadBand(std::int32_t first, std::int32_t count) = 0;

  // Row y of the band read last: Width pixels of 3 samples. Valid until the next ReadBand; may
  // be called from several threads at once.
  virtual const std::uint16_t* Row(std::int32_t y) const = 0;

  // The open file the rows are read from, or -1 for rows held in memory: a save must never
  // replace the file it is still reading.
  virtual int Handle() const { return -1; }
};

// An 8-bit sample seen at 16 bits: v × 257, the same fraction of full scale, exactly.
constexpr std::uint16_t Widened(std::uint8_t sample) {
  return static_cast<std::uint16_t>(sample * 257u);
}

// count 8-bit samples from in, widened into out. Every 8-bit picture that a deep filter reads
// is widened here, so that it gives one answer for one picture whatever path it came by.
void WidenSamples(const std::uint8_t* in, std::uint16_t* out, std::size_t count);

// A whole 16-bit picture held in memory: Width × Height pixels of blue, green, red samples,
// rows top to bottom with no padding.
struct TDeepPicture {
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  std::vector<std::uint16_t> Samples;

  bool Empty() const { return Width <= 0 || Height <= 0; }
  std::uint16_t* Row(std::int32_t y) { return Samples.data() + RowOffset(y); }
  const std::uint16_t* Row(std::int32_t y) const { return Samples.data() + RowOffset(y); }

 private:
  std::size_t RowOffset(std::int32_t y) const {
    return static_cast<std::size_t>(y) * 3 * static_cast<std::size_t>(Width);
  }
};

// The rows of a deep picture held in memory, read in place; the picture must outlive them and
// not change while they are read.
class TDeepPictureRows final : public TDeepRowSource {
 public:
  explicit TDeepPictureRows(const TDeepPicture& picture) : FPicture(picture) {}

  std::int32_t Width() const override { return FPicture.Width; }
  std::int32_t Height() const override { return FPicture.Height; }
  void ReadBand(std::int32_t, std::int32_t) override {}
  const std::uint16_t* Row(std::int32_t y) const override { return FPicture.Row(y); }

 private:
  const TDeepPicture& FPicture;
};

// An 8-bit row source seen at 16 bits: each sample v as v × 257. The widened rows of the band
// read last are held here (one band), so the source's own band is read once.
class TWidenedRows final : public TDeepRowSource {
 public:
  // source must outlive these rows.
  explicit TWidenedRows(TRowSource& source);
  // These rows own source.
  explicit TWidenedRows(std::unique_ptr<TRowSource> source);
  ~TWidenedRows() override;

  std::int32_t Width() const override;
  std::int32_t Height() const override;
  void ReadBand(std::int32_t first, std::int32_t count) override;
  const std::uint16_t* Row(std::int32_t y) const override;
  int Handle() const override;

 private:
  std::unique_ptr<TRowSource> FOwned;  // null when the source is the caller's
  TRowSource& FSource;
  std::int32_t FFirst = 0;
  std::vector<std::uint16_t> FBand;
};

}  // namespace penamo
