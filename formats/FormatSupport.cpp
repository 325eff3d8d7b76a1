#include "FormatSupport.h"

#include "Exceptions.h"
#include "Limits.h"
#include "Machine.h"

namespace penamo::formats {

void RaiseInvalid(const char* message, const std::string& reason) {
  throw EInvalidGraphic(message, reason);
}

void RaiseUnsupported(const char* format, const std::string& reason) {
  throw EUnsupportedGraphic(Msg::UnsupportedVariant(format), reason);
}

void RaiseTruncated(const std::string& reason) {
  throw EReadError(Msg::ReadError, reason);
}

void RaiseTooLarge(const std::string& reason) {
  throw EOutOfResources(Msg::OutOfResources, reason);
}

void RaiseOutOfMemory() {
  throw EOutOfMemory(Msg::OutOfMemory, kOutOfMemory);
}

bool SaysNoDamagePlace(const Exception& error) {
  return dynamic_cast<const EInvalidGraphic*>(&error) != nullptr &&
         dynamic_cast<const EUnsupportedGraphic*>(&error) == nullptr &&
         dynamic_cast<const EClaimBeyondData*>(&error) == nullptr && error.DamagedByte() == 0;
}

void NoteDamage(Exception& error, std::uint64_t consumed) {
  if (consumed != 0 && SaysNoDamagePlace(error)) error.SetDamagedByte(consumed, true);
}

void CheckPictureSize(std::int64_t width, std::int64_t height, const char* message,
                      const std::string& reasonPrefix) {
  if (width <= 0 || height <= 0) RaiseInvalid(message, reasonPrefix + "-empty");
  if (width > kMaxDimension || height > kMaxDimension || !StorageSize(width, height, 24)) {
    RaiseTooLarge(reasonPrefix + "-too-large");
  }
}

void CheckClaimedSize(std::int64_t width, std::int64_t height, std::uint64_t fileBytes,
                      std::uint64_t pixelsPerByte, const std::string& reasonPrefix) {
  CheckClaim(width, height, fileBytes, pixelsPerByte, reasonPrefix + "-claims-more-than-data");
}

void CheckBufferSize(std::uint64_t count, std::uint64_t size, const std::string& reason) {
  if (size != 0 && count > StorageLimit() / size) RaiseTooLarge(reason);
}

TPictureBuilder::TPictureBuilder(std::int32_t width, std::int32_t height, bool alpha)
    : FWidth(width), FHeight(height) {
  // Width first (no rows yet, so nothing is allocated), then the rows in the device format,
  // which becomes explicit 24 bits in place.
  FPicture.SetWidth(width);
  FPicture.SetHeight(height);
  FPicture.ConvertTo24Bits();
  if (alpha) {
    WithMemory("out-of-memory", [&] {
      FExtras.Alpha.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 255);
    });
  }
}

std::uint8_t* TPictureBuilder::Block() {
  FPicture.RowAddress(0);  // makes the storage this builder's own
  return FPicture.Image().Pixels();
}

void TPictureBuilder::Install(TBitmap& picture, TPictureExtras& extras) {
  picture.ShareFrom(&FPicture);
  extras = std::move(FExtras);
}

TDeepPictureBuilder::TDeepPictureBuilder(std::int32_t width, std::int32_t height, bool alpha,
                                         const std::string& reason) {
  const auto columns = static_cast<std::size_t>(width);
  const auto rows = static_cast<std::size_t>(height);
  CheckBufferSize(rows, columns * 6, reason);
  WithMemory("out-of-memory", [&] {
    FPicture.Samples.resize(3 * columns * rows);
    if (alpha) FExtras.Alpha.assign(columns * rows, 255);
  });
  FPicture.Width = width;
  FPicture.Height = height;
}

void TDeepPictureBuilder::Install(TDeepPicture& picture, TPictureExtras& extras) {
  picture = std::move(FPicture);
  extras = std::move(FExtras);
}

std::vector<std::uint8_t> ReadWholeFile(TStream& stream) {
  if (stream.Seek(0, TSeekOrigin::Beginning) != 0) throw EReadError(Msg::ReadError, "seek-failed");
  const std::int64_t size = stream.Size();
  if (size < 0) throw EReadError(Msg::ReadError, "size-unknown");
  CheckBufferSize(static_cast<std::uint64_t>(size), 1, "file-too-large");
  std::vector<std::uint8_t> bytes;
  WithMemory("out-of-memory", [&] { bytes.resize(static_cast<std::size_t>(size)); });
  stream.ReadBuffer(bytes.data(), size);
  return bytes;
}

}  // namespace penamo::formats
