// Where a banded save takes its rows from: a picture held in memory, or a file read a band at a
// time (BitmapFileRows.h). Either way the rows are 24-bit (blue, green, red), row 0 at the top,
// and only the band asked for last need be at hand.
#pragma once

#include <cstdint>

#include "Interface.h"

namespace penamo {

class TBitmap;

class TRowSource : public TInterface {
 public:
  virtual std::int32_t Width() const = 0;
  virtual std::int32_t Height() const = 0;

  // Makes rows first .. first + count - 1 available to Row; bands are asked for top to bottom.
  // Raises EReadError (or another error of ours) when they cannot be had.
  virtual void ReadBand(std::int32_t first, std::int32_t count) = 0;

  // Row y of the band read last: Width pixels of 3 bytes. Valid until the next ReadBand; may be
  // called from several threads at once.
  virtual const std::uint8_t* Row(std::int32_t y) const = 0;

  // The resolution the picture carries, in pixels per metre (0: none), for a save that copies
  // the picture unfiltered.
  virtual std::int32_t XPelsPerMeter() const { return 0; }
  virtual std::int32_t YPelsPerMeter() const { return 0; }

  // The open file the rows are read from, or -1 for rows held in memory: a save must never
  // replace the file it is still reading.
  virtual int Handle() const { return -1; }
};

// The rows of a picture held in memory, read in place: nothing is copied and the picture's
// storage is not unshared. The picture is made 24-bit first if it is not (as the filters do);
// it must not change while the rows are read.
class TBitmapRows final : public TRowSource {
 public:
  explicit TBitmapRows(TBitmap& picture);

  std::int32_t Width() const override { return FWidth; }
  std::int32_t Height() const override { return FHeight; }
  void ReadBand(std::int32_t, std::int32_t) override {}
  const std::uint8_t* Row(std::int32_t y) const override;
  std::int32_t XPelsPerMeter() const override;
  std::int32_t YPelsPerMeter() const override;

 private:
  const TBitmap& FPicture;
  std::int32_t FWidth = 0;
  std::int32_t FHeight = 0;
};

}  // namespace penamo
