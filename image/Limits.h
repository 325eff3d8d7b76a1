// The limits every picture obeys, whatever format it comes from: stated once here, checked
// before anything is allocated, so a file's claims never decide how much memory is taken.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "Exceptions.h"

namespace penamo {

// The largest width and the largest height of any picture, in pixels: the largest positive
// signed 32-bit value, so every width, height and coordinate fits an int32_t.
inline constexpr std::int64_t kMaxDimension = 0x7FFFFFFF;

// The number of rows of a signed height (negative: rows stored top-down). 64-bit, so the most
// negative 32-bit height has a magnitude too (one more than kMaxDimension).
constexpr std::int64_t HeightMagnitude(std::int32_t height) {
  return height < 0 ? -static_cast<std::int64_t>(height) : height;
}

// Whether a width and a signed height describe a picture this system makes: at least one pixel,
// neither dimension beyond kMaxDimension.
constexpr bool DimensionsFit(std::int64_t width, std::int64_t height) {
  const std::int64_t rows = height < 0 ? -height : height;
  return width > 0 && rows > 0 && width <= kMaxDimension && rows <= kMaxDimension;
}

// Row stride in bytes: the row's bits raised to a multiple of 32. 64-bit, so it cannot overflow
// for any 32-bit width and bit count.
std::uint64_t RowStride(std::int64_t width, int bitCount);

// Bytes of storage for |height| rows, or nothing when a dimension is beyond kMaxDimension, the
// size overflows, or it exceeds the storage limit (a size exactly at the limit fits). Checked
// before anything is allocated.
std::optional<std::uint64_t> StorageSize(std::int64_t width, std::int64_t height, int bitCount);

// The largest pixel block any picture may allocate. Defaults to a quarter of the physical
// memory; tests and the fuzzer lower it.
std::uint64_t StorageLimit();
void SetStorageLimit(std::uint64_t bytes);

// The claim rule: a file may make the tool hold or produce more pixels than kClaimFloorPixels
// only in proportion to the bytes it holds. A few bytes claiming a canvas of gigapixels (a
// bitmap header alone, a GIF screen around a 1 x 1 frame, a tile grid larger than its tiles)
// are refused before anything is allocated for them. The floor is above every camera picture
// people commonly keep (a 9248 x 6936 phone picture is 64.1 million pixels, 64 MP cameras make
// 9248 x 6936 at most); above it, each coding has a ratio of pixels to file bytes that no real
// file reaches. The ratios were measured on blank white pages, the most compressible pictures
// there are, written by each format's own encoder (ImageMagick 6.9 with libjpeg-turbo 2.1,
// giflib, libtiff 4.5 and libwebp 1.2 at 4096 x 4096; cjxl 0.7, avifenc 0.11 and heif-enc 1.15
// at 8192 x 8192), and set well above them; where the coding itself bounds the ratio (rows
// stored as they are, PackBits, LZW, deflate, ZSTD blocks, Huffman-coded JPEG blocks) the
// ratio is above that bound, so that no whole file of that coding is ever refused.
inline constexpr std::uint64_t kClaimFloorPixels = std::uint64_t{64} * 1000 * 1000;

// Pixels a file may claim for each byte it holds, per format and coding.
namespace PixelsPerByte {
// Pixels a byte for rowBytesPerByte bytes of rows a byte at bitCount bits a pixel, at least one.
// The bit count is unsigned and 64 bits wide: a hostile TIFF's samples times their bits reach
// 2^32.
constexpr std::uint64_t OfRowBytes(std::uint64_t rowBytesPerByte, std::uint64_t bitCount) {
  const std::uint64_t pixels = rowBytesPerByte * 8 / (bitCount == 0 ? 1 : bitCount);
  return pixels == 0 ? 1 : pixels;
}
// Rows stored as they are: a whole file holds at most one byte of rows a byte, and a file cut
// to half its rows (to a third at 24 bits, a quarter at 32) still passes.
constexpr std::uint64_t BitmapUncompressed(std::uint64_t bitCount) {
  return OfRowBytes(2, bitCount);
}
// Bitmap run lengths: a run of 255 pixels takes 2 bytes (127.5 pixels a byte); a blank page
// from ImageMagick holds 113.
inline constexpr std::uint64_t BitmapRunLength = 256;
// PNG has none here: its reader refuses every file whose compressed pixels could not inflate to
// its rows (deflate expands at most 1032-fold), a bound no ratio could beat.
// GIF: a 12-bit LZW code stands for at most 4096 pixels (2731 a byte); a blank page holds 1446.
inline constexpr std::uint64_t Gif = 4096;
// JPEG: each 8 x 8 block takes at least two Huffman bits (512 pixels a byte in grey); a blank
// page holds 255 (baseline) and 170 (progressive).
inline constexpr std::uint64_t Jpeg = 4096;
// WebP: a blank page holds 561 pixels a byte lossy, 23,763 lossless (a copy reaches 4096
// pixels, bundled 8 to a pixel for a one-colour palette: about 26,000 at most).
inline constexpr std::uint64_t WebPLossy = 16384;
inline constexpr std::uint64_t WebPLossless = 131072;
// JPEG XL: a blank page holds 8,119 pixels a byte at distance 1, 7,655 losslessly.
inline constexpr std::uint64_t Jxl = 262144;
// HEIF (HEVC): a blank page holds 1,667 pixels a byte; AVIF (AV1) 55,786, a grey gradient
// 29,386.
inline constexpr std::uint64_t Heif = 65536;
inline constexpr std::uint64_t Avif = 1048576;
// TIFF, as bytes of rows a byte for the byte compressors: PackBits 128 in 2; LZW 4096 in 12
// bits; deflate 1032 (blank page: 647); ZSTD 32768 (a 128 KiB block repeated from one byte;
// blank page: 14,340); LZMA (blank page: 3,494). Fax pixels a byte: a blank page holds 24,456
// (G4) and 677 (G3); a blank A0 page at 600 dpi would hold some 160,000.
inline constexpr std::uint64_t TiffPackBits = 128;
inline constexpr std::uint64_t TiffLzw = 4096;
inline constexpr std::uint64_t TiffDeflate = 2048;
inline constexpr std::uint64_t TiffZstd = 32768;
inline constexpr std::uint64_t TiffLzma = 65536;
inline constexpr std::uint64_t TiffFax = 262144;
inline constexpr std::uint64_t TiffJpeg = Jpeg;
inline constexpr std::uint64_t TiffOther = 65536;
}  // namespace PixelsPerByte

// What a file claims against what it holds.
struct TClaim {
  std::int64_t Width = 0;
  std::int64_t Height = 0;
  std::uint64_t FileBytes = 0;
};

// The pixels a file of fileBytes may claim at pixelsPerByte: the floor, or more in proportion.
std::uint64_t ClaimablePixels(std::uint64_t fileBytes, std::uint64_t pixelsPerByte);

// The refusal of a file that claims far more than it holds: EInvalidGraphic to every handler,
// carrying the claim so that the window can name it when it asks whether to read it anyway.
class EClaimBeyondData : public EInvalidGraphic {
 public:
  EClaimBeyondData(const TClaim& claim, const std::string& reason);
  const TClaim& Claim() const noexcept { return FClaim; }
  const char* ClassName() const noexcept override { return "EInvalidGraphic"; }

 private:
  TClaim FClaim;
};

// Raises EClaimBeyondData (reason) when width x height pixels exceed what fileBytes may claim at
// pixelsPerByte, unless the rule is lifted. Every reader calls it with the largest picture or
// canvas it would allocate for, before allocating it.
void CheckClaim(std::int64_t width, std::int64_t height, std::uint64_t fileBytes,
                std::uint64_t pixelsPerByte, const std::string& reason);

// Whether the rule is lifted for this thread: the scope's choice (TClaimRuleScope) while one is
// open on it, else the process's (input trusted, or a user who said yes).
bool ClaimRuleLifted();
void SetClaimRuleLifted(bool lifted);

// The rule for one call on the calling thread, lifted or not whatever the process's setting, so
// that callers of a library sharing one process each keep their own (the readers check claims on
// the thread that reads). Scopes nest; each restores what was there before.
class TClaimRuleScope {
 public:
  explicit TClaimRuleScope(bool lifted);
  ~TClaimRuleScope();
  TClaimRuleScope(const TClaimRuleScope&) = delete;
  TClaimRuleScope& operator=(const TClaimRuleScope&) = delete;

 private:
  int FWas;
};

// Lifts the rule for its lifetime, restoring what was there before.
class TClaimRuleLifting {
 public:
  TClaimRuleLifting() : FWas(ClaimRuleLifted()) { SetClaimRuleLifted(true); }
  ~TClaimRuleLifting() { SetClaimRuleLifted(FWas); }
  TClaimRuleLifting(const TClaimRuleLifting&) = delete;
  TClaimRuleLifting& operator=(const TClaimRuleLifting&) = delete;

 private:
  bool FWas;
};

// The 32-bit image-size field of a bitmap header for a pixel block of byteSize bytes: the size
// itself, or 0 ("not stated", which the format allows) when it does not fit 32 bits.
constexpr std::uint32_t SizeImageField(std::uint64_t byteSize) {
  return byteSize <= UINT32_MAX ? static_cast<std::uint32_t>(byteSize) : 0;
}

}  // namespace penamo
