// Saving a 24-bit bitmap file band by band. The file's size is known before the first band, so
// the whole file is reserved on the disk at once (a full disk fails before any pixel is
// written), the headers go first, and each band is written straight to its own place in the
// bottom-up file. The file is replaced as FileReplacement.h describes: the earlier file stays
// as it was until Commit, and a writer destroyed without Commit leaves nothing behind.
#pragma once

#include <cstdint>
#include <string>

#include "BandWriter.h"
#include "FileReplacement.h"

namespace penamo {

class TBitmapBandWriter final : public TBandWriter {
 public:
  // The bytes of the bitmap file of a picture that size: headers and padded rows.
  static std::uint64_t FileSize(std::int32_t width, std::int32_t height);

  // A picture of width × height pixels (both at least 1), with the given resolution in the
  // header (the filters' output carries none). Raises, before any file is made, EInvalidGraphic
  // with Msg::BitmapTooLarge when the file would exceed the 4 GiB its size fields can describe;
  // then EFCreateError as TFileReplacement does, and EWriteError when the disk has no room for
  // the file.
  TBitmapBandWriter(const std::string& path, std::int32_t width, std::int32_t height,
                    std::int32_t xPelsPerMeter = 0, std::int32_t yPelsPerMeter = 0);

  // Raises EWriteError when the bytes cannot be written, EInvalidGraphicOperation for a band
  // out of order.
  void WriteBand(std::int32_t first, std::int32_t count, const std::uint8_t* rows,
                 std::size_t stride) override;
  // Raises EInvalidGraphicOperation when bands are missing; then as TFileReplacement::Commit.
  void Commit() override;

 private:
  void Reserve();
  void WriteHeaders(std::int32_t xPelsPerMeter, std::int32_t yPelsPerMeter);

  std::int32_t FWidth;
  std::int32_t FHeight;
  std::uint64_t FStride;
  std::uint64_t FFileSize;
  TFileReplacement FFile;
  std::int32_t FNextRow = 0;
};

}  // namespace penamo
