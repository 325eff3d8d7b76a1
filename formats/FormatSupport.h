// What every picture reader and writer of this folder shares: the refusals, named once, and the
// making of the 24-bit picture a reader fills, after the size has been checked against the same
// storage limit as the bitmap reader's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Bitmap.h"
#include "DeepRowSource.h"
#include "Exceptions.h"
#include "Limits.h"
#include "PictureExtras.h"
#include "Stream.h"

namespace penamo::formats {

// Refusals. message is one of Msg's texts, reason a short English tag ("png-bad-crc").
[[noreturn]] void RaiseInvalid(const char* message, const std::string& reason);
// A sound file of a variant this tool does not read: format as the format table names it
// ("JPEG").
[[noreturn]] void RaiseUnsupported(const char* format, const std::string& reason);
// The data ended before the picture did.
[[noreturn]] void RaiseTruncated(const std::string& reason);
// The picture (or a buffer the library asks for) is larger than the storage limit.
[[noreturn]] void RaiseTooLarge(const std::string& reason);
[[noreturn]] void RaiseOutOfMemory();
// The reason of a refused allocation in a reader, for WithMemory (Machine.h).
inline constexpr const char* kOutOfMemory = "out-of-memory";

// Where a library found a picture's data damaged, for the cause line (Exception::DamagedByte):
// error, when it is a refusal of damaged data (not an unsupported variant, nor a claim beyond
// the data) that does not say where yet, is told that the library had read `consumed` bytes of
// the file then, reading ahead of what it had checked. Nothing changes for 0 bytes.
bool SaysNoDamagePlace(const Exception& error);
void NoteDamage(Exception& error, std::uint64_t consumed);
// Runs call; a refusal of damaged data leaving it is told consumed() (the bytes the library had
// read), which is asked only then.
template <typename Call, typename Consumed>
decltype(auto) NotingDamage(Consumed consumed, Call call) {
  try {
    return call();
  } catch (Exception& error) {
    if (SaysNoDamagePlace(error)) NoteDamage(error, consumed());
    throw;
  }
}

// Raises EInvalidGraphic (message) for an empty size and EOutOfResources for a picture whose
// 24-bit storage would exceed the storage limit; nothing is allocated before this passes.
void CheckPictureSize(std::int64_t width, std::int64_t height, const char* message,
                      const std::string& reasonPrefix);
// The claim rule (Limits.h) for a picture or canvas of width × height from a file of fileBytes
// bytes coded at pixelsPerByte at most: raises EClaimBeyondData (reasonPrefix +
// "-claims-more-than-data") before anything of that size is allocated.
void CheckClaimedSize(std::int64_t width, std::int64_t height, std::uint64_t fileBytes,
                      std::uint64_t pixelsPerByte, const std::string& reasonPrefix);
// Raises EOutOfResources when count × size bytes of working memory exceed the storage limit.
void CheckBufferSize(std::uint64_t count, std::uint64_t size, const std::string& reason);

// The whole of a compressed picture file, from its start, for a decoder that reads from memory:
// the file counts against the same storage limit as the pixels it holds. Raises EReadError
// when it cannot be read.
std::vector<std::uint8_t> ReadWholeFile(TStream& stream);

// A checked size's picture: 24-bit, explicit, bottom-up like every picture the bitmap reader
// makes, so every filter, preview and save takes it unchanged. Row y (0 at the top) is written
// through Row(y).
class TPictureBuilder {
 public:
  TPictureBuilder(std::int32_t width, std::int32_t height, bool alpha);

  std::int32_t Width() const { return FWidth; }
  std::int32_t Height() const { return FHeight; }
  std::uint8_t* Row(std::int32_t y) { return FPicture.RowAddress(y); }
  // The alpha row y (Width bytes), or null when made without alpha.
  std::uint8_t* AlphaRow(std::int32_t y) {
    return FExtras.Alpha.empty() ? nullptr
                                 : FExtras.Alpha.data() + static_cast<std::size_t>(y) *
                                                              static_cast<std::size_t>(FWidth);
  }
  TPictureExtras& Extras() { return FExtras; }
  // fill(y, bgr, alpha) for every row, top to bottom: bgr is Row(y), alpha AlphaRow(y).
  template <class Fill>
  void FillRows(Fill&& fill) {
    for (std::int32_t y = 0; y < FHeight; ++y)
      fill(y, Row(y), AlphaRow(y));
  }
  // The whole pixel block, for a decoder that fills it at once: the lowest address, the
  // distance between rows, and whether the bottom row comes first there.
  std::uint8_t* Block();
  std::size_t Stride() const { return static_cast<std::size_t>(FPicture.Image().Stride()); }
  std::size_t ByteSize() const { return static_cast<std::size_t>(FPicture.Image().ByteSize()); }
  bool BottomUp() const { return FPicture.Image().BottomUp(); }

  // Hands the finished picture over: the caller's picture and extras are replaced only here,
  // after everything has been read.
  void Install(TBitmap& picture, TPictureExtras& extras);

 private:
  std::int32_t FWidth;
  std::int32_t FHeight;
  TBitmap FPicture;
  TPictureExtras FExtras;
};

// A decoder's colour profile, EXIF block and XMP packet (its Profile, Exif and Xmp), as the
// extras carry them.
template <class Decoded>
void CopyMetadata(const Decoded& decoded, TPictureExtras& extras) {
  extras.ColorProfile = decoded.Profile;
  extras.Exif = decoded.Exif;
  extras.Xmp = decoded.Xmp;
}

// The same for a picture of 16-bit samples (blue, green, red), for a reader of deep files: the
// size is checked against the storage limit first (reason names the refusal), and alpha, when
// asked for, starts opaque.
class TDeepPictureBuilder {
 public:
  TDeepPictureBuilder(std::int32_t width, std::int32_t height, bool alpha,
                      const std::string& reason);

  std::uint16_t* Row(std::int32_t y) { return FPicture.Row(y); }
  // The alpha row y (width bytes), or null when made without alpha.
  std::uint8_t* AlphaRow(std::int32_t y) {
    return FExtras.Alpha.empty()
               ? nullptr
               : FExtras.Alpha.data() +
                     static_cast<std::size_t>(y) * static_cast<std::size_t>(FPicture.Width);
  }
  TPictureExtras& Extras() { return FExtras; }
  // As TPictureBuilder::Install.
  void Install(TDeepPicture& picture, TPictureExtras& extras);

 private:
  TDeepPicture FPicture;
  TPictureExtras FExtras;
};

// Rounds a 16-bit sample to 8 bits: (v · 255 + 32767) / 65535.
inline std::uint8_t To8Bits(std::uint32_t sample16) {
  return static_cast<std::uint8_t>((sample16 * 255u + 32767u) / 65535u);
}

}  // namespace penamo::formats
