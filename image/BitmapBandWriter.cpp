#include "BitmapBandWriter.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <vector>

#include "Bitmap.h"
#include "Exceptions.h"
#include "LittleEndian.h"

namespace penamo {

namespace {

constexpr std::uint32_t kFileHeaderSize = 14;
constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::uint32_t kHeadersSize = kFileHeaderSize + kInfoHeaderSize;

std::uint64_t CheckedFileSize(std::int32_t width, std::int32_t height) {
  if (width <= 0 || height <= 0)
    throw EInvalidGraphic(Msg::InvalidPixelFormat, "band-picture-empty");
  const std::uint64_t size = TBitmapBandWriter::FileSize(width, height);
  // The file's size fields have 32 bits; a larger picture has no bitmap file.
  if (size > UINT32_MAX) throw EInvalidGraphic(Msg::BitmapTooLarge, "bitmap-over-4-gib");
  return size;
}

// Writes the pieces in order at offset, all of them or EWriteError.
void WriteAt(int handle, std::vector<iovec>& pieces, std::uint64_t offset) {
  std::size_t next = 0;
  while (next < pieces.size()) {
    const int count = static_cast<int>(std::min<std::size_t>(pieces.size() - next, IOV_MAX));
    const ssize_t n = ::pwritev(handle, pieces.data() + next, count, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw EWriteError(Msg::WriteError, "band-write-failed", n < 0 ? errno : ENOSPC);
    offset += static_cast<std::uint64_t>(n);
    // Skip what went out; a piece written in part continues where it stopped.
    auto left = static_cast<std::size_t>(n);
    while (next < pieces.size() && left >= pieces[next].iov_len)
      left -= pieces[next++].iov_len;
    if (left > 0) {
      pieces[next].iov_base = static_cast<std::uint8_t*>(pieces[next].iov_base) + left;
      pieces[next].iov_len -= left;
    }
  }
}

}  // namespace

std::uint64_t TBitmapBandWriter::FileSize(std::int32_t width, std::int32_t height) {
  return kHeadersSize + RowStride(width, 24) * static_cast<std::uint64_t>(height);
}

TBitmapBandWriter::TBitmapBandWriter(const std::string& path, std::int32_t width,
                                     std::int32_t height, std::int32_t xPelsPerMeter,
                                     std::int32_t yPelsPerMeter)
    : FWidth(width),
      FHeight(height),
      FStride(RowStride(width, 24)),
      FFileSize(CheckedFileSize(width, height)),
      FFile(path) {
  Reserve();
  WriteHeaders(xPelsPerMeter, yPelsPerMeter);
}

void TBitmapBandWriter::Reserve() {
  const int result = ::posix_fallocate(FFile.Handle(), 0, static_cast<off_t>(FFileSize));
  if (result == 0) return;
  // A file system that cannot reserve space still takes the bytes; a full one then fails at the
  // first band that does not fit.
  if (result != EOPNOTSUPP && result != EINVAL)
    throw EWriteError(Msg::WriteError, "file-space-not-reserved", result);
  if (::ftruncate(FFile.Handle(), static_cast<off_t>(FFileSize)) != 0)
    throw EWriteError(Msg::WriteError, "file-size-not-set", errno);
}

void TBitmapBandWriter::WriteHeaders(std::int32_t xPelsPerMeter, std::int32_t yPelsPerMeter) {
  using LittleEndian::Put16;
  using LittleEndian::Put32;
  std::uint8_t headers[kHeadersSize] = {};
  headers[0] = 'B';
  headers[1] = 'M';
  Put32(headers + 2, static_cast<std::uint32_t>(FFileSize));
  Put32(headers + 10, kHeadersSize);
  std::uint8_t* info = headers + kFileHeaderSize;
  Put32(info + 0, kInfoHeaderSize);
  Put32(info + 4, static_cast<std::uint32_t>(FWidth));
  Put32(info + 8, static_cast<std::uint32_t>(FHeight));  // positive: the rows stand bottom-up
  Put16(info + 12, 1);
  Put16(info + 14, 24);
  Put32(info + 16, BI_RGB);
  Put32(info + 20, static_cast<std::uint32_t>(FFileSize - kHeadersSize));
  Put32(info + 24, static_cast<std::uint32_t>(xPelsPerMeter));
  Put32(info + 28, static_cast<std::uint32_t>(yPelsPerMeter));
  std::vector<iovec> pieces{{headers, kHeadersSize}};
  WriteAt(FFile.Handle(), pieces, 0);
}

void TBitmapBandWriter::WriteBand(std::int32_t first, std::int32_t count, const std::uint8_t* rows,
                                  std::size_t stride) {
  if (first != FNextRow || count <= 0 || count > FHeight - first)
    throw EInvalidGraphicOperation(Msg::ScanLineOutOfRange, "band-out-of-order");
  // The pad bytes come from here, whatever the caller's rows hold past their pixels.
  static const std::uint8_t zeros[4] = {};
  const std::size_t pixelBytes = 3 * static_cast<std::size_t>(FWidth);
  const std::size_t pad = static_cast<std::size_t>(FStride) - pixelBytes;
  std::vector<iovec> pieces;
  pieces.reserve(static_cast<std::size_t>(count) * (pad > 0 ? 2 : 1));
  // The band's lowest row comes first in the file.
  for (std::int32_t y = first + count - 1; y >= first; --y) {
    pieces.push_back(
        {const_cast<std::uint8_t*>(rows + static_cast<std::size_t>(y - first) * stride),
         pixelBytes});
    if (pad > 0) pieces.push_back({const_cast<std::uint8_t*>(zeros), pad});
  }
  const std::uint64_t offset =
      kHeadersSize + FStride * static_cast<std::uint64_t>(FHeight - first - count);
  const std::uint64_t bytes = FStride * static_cast<std::uint64_t>(count);
  WriteAt(FFile.Handle(), pieces, offset);
  FNextRow = first + count;
  FFile.Written(offset, bytes);
}

void TBitmapBandWriter::Commit() {
  if (FNextRow != FHeight) throw EInvalidGraphicOperation(Msg::ScanLineOutOfRange, "bands-missing");
  FFile.Commit();
}

}  // namespace penamo
