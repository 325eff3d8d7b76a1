// The pixel storage of one raster image: its description, colour table and pixel block, and the
// policy by which blocks are allocated (small ones from the heap, large ones mapped on their
// own). Checked against the limits of Limits.h before anything is allocated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "BitmapDescription.h"
#include "SharedImage.h"

namespace penamo {

// Pixel storage of one raster image, with its description and colour table.
class TBitmapImage final : public TSharedImage {
 public:
  // Storage without pixels, holding only the description.
  explicit TBitmapImage(const TBitmapDescription& description = {});
  ~TBitmapImage() override;

  // Makes zero-filled pixels for the description. In the device format (this system takes
  // 24 bits, bottom-up, as the device format) the header size stays 0. Raises EOutOfResources,
  // leaving the storage without pixels, when the block cannot be made.
  void MakePixels(bool deviceFormat);

  TBitmapDescription Description;
  std::vector<TRGBQuad> ColorTable;
  bool OldHeader = false;  // read from a file with the 12-byte core header
  bool Halftone = false;   // colour table made for the screen, never written to a file

  std::uint8_t* Pixels() const { return FPixels; }
  bool HasPixels() const { return FPixels != nullptr; }
  bool DeviceFormat() const { return FDeviceFormat; }
  // Leaves the device format for the explicit 24-bit one; the bytes are already that layout.
  void MakeExplicit();
  int BitsPerPixel() const;  // the device format counts as 24
  std::uint64_t Stride() const { return FStride; }
  std::uint64_t ByteSize() const { return FByteSize; }
  std::int32_t Width() const { return Description.Header.biWidth; }
  std::int32_t Height() const;  // the absolute height
  bool BottomUp() const { return Description.Header.biHeight > 0; }
  // Row y of the picture, row 0 at the top, whatever the order of the block.
  std::uint8_t* Row(std::int32_t y) const;

 private:
  // Frees the block however it was made.
  void FreePixels();

  std::uint8_t* FPixels = nullptr;
  void* FMapping = nullptr;  // a large block's own mapping, else null (the block is malloc'ed)
  std::size_t FMappingLength = 0;
  std::uint64_t FStride = 0;
  std::uint64_t FByteSize = 0;
  bool FDeviceFormat = false;
};

}  // namespace penamo
