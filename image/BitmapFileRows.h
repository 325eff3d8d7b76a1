// The rows of an uncompressed 24-bit bitmap file, read from the file a band at a time into one
// reused buffer with positioned reads, so that a save from a file never holds the whole picture
// and memory stays the same for every size. Nothing is mapped: a file that shrinks while it is
// read gives a short read, refused as EReadError, never a signal.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "BitmapFileLayout.h"
#include "RowSource.h"
#include "Stream.h"

namespace penamo {

class TBitmapFileRows final : public TRowSource {
 public:
  // The file's rows when it is an uncompressed 24-bit bitmap; null for every other file (an
  // empty one included), which is to be read whole as ReadBitmapFile reads it. Raises what
  // ReadBitmapFile raises for a file it cannot open or whose headers it refuses.
  static std::unique_ptr<TBitmapFileRows> Open(const std::string& path);

  std::int32_t Width() const override { return FWidth; }
  std::int32_t Height() const override { return FHeight; }
  // Pixels the file does not hold (it ends early, or declares fewer bytes than the picture
  // needs) read as black, exactly as ReadBitmapFile reads them. Raises EReadError when the file
  // holds fewer bytes than it did when its headers were read, EOutOfMemory when the band's
  // buffer cannot be had.
  void ReadBand(std::int32_t first, std::int32_t count) override;
  const std::uint8_t* Row(std::int32_t y) const override;
  std::int32_t XPelsPerMeter() const override;
  std::int32_t YPelsPerMeter() const override;

  // The open file (tests change it under the reader).
  int Handle() const override { return FFile.Handle(); }

 private:
  TBitmapFileRows(const std::string& path);

  TFileStream FFile;
  TBitmapFileLayout FLayout;
  std::int32_t FWidth = 0;
  std::int32_t FHeight = 0;
  bool FBottomUp = true;
  std::uint64_t FStride = 0;
  std::uint64_t FAvailable = 0;  // pixel bytes the file holds, at most the picture's
  std::vector<std::uint8_t> FBuffer;
  std::int32_t FFirst = 0;
  std::int32_t FCount = 0;
};

}  // namespace penamo
