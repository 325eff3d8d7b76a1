#include "BitmapFileRows.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "Exceptions.h"
#include "Limits.h"
#include "Machine.h"

namespace penamo {

namespace {

// Reads exactly count bytes at offset, or raises EReadError: a file that ends sooner than it
// did when its headers were read has changed under the reader.
void ReadExactly(int handle, std::uint8_t* buffer, std::uint64_t count, std::uint64_t offset) {
  while (count > 0) {
    const std::size_t ask = static_cast<std::size_t>(std::min<std::uint64_t>(count, 1u << 30));
    const ssize_t n = ::pread(handle, buffer, ask, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw EReadError(Msg::ReadError, "file-shrank-while-read");
    buffer += n;
    count -= static_cast<std::uint64_t>(n);
    offset += static_cast<std::uint64_t>(n);
  }
}

}  // namespace

std::unique_ptr<TBitmapFileRows> TBitmapFileRows::Open(const std::string& path) {
  std::unique_ptr<TBitmapFileRows> rows(new TBitmapFileRows(path));
  const TBitmapFileLayout& layout = rows->FLayout;
  if (layout.Empty) return nullptr;
  const TBitmapInfoHeader& header = layout.Headers.Description.Header;
  if (header.biCompression != BI_RGB || header.biBitCount != 24) return nullptr;
  // The same storage limit as the whole read's, which would hold the picture at 24 bits.
  if (!StorageSize(header.biWidth, HeightMagnitude(header.biHeight), 24))
    throw EOutOfResources(Msg::OutOfResources, "picture-too-large");
  rows->FWidth = header.biWidth;
  rows->FHeight = header.biHeight < 0 ? -header.biHeight : header.biHeight;
  rows->FBottomUp = header.biHeight > 0;
  rows->FStride = RowStride(rows->FWidth, 24);
  rows->FAvailable = std::min<std::uint64_t>(
      layout.PixelBytes, rows->FStride * static_cast<std::uint64_t>(rows->FHeight));
  return rows;
}

TBitmapFileRows::TBitmapFileRows(const std::string& path)
    : FFile(path), FLayout(ReadBitmapFileLayout(FFile)) {}

void TBitmapFileRows::ReadBand(std::int32_t first, std::int32_t count) {
  const std::uint64_t bytes = FStride * static_cast<std::uint64_t>(count);
  if (FBuffer.size() < bytes) {
    // A band is a few rows; only a row wider than any memory could hold comes near the limit.
    if (bytes > StorageLimit()) throw EOutOfMemory(Msg::OutOfMemory, "band-rows-beyond-limit");
    WithMemory("band-rows-allocation-failed", [&] {
      FBuffer.clear();
      FBuffer.shrink_to_fit();
      FBuffer.resize(static_cast<std::size_t>(bytes));
    });
  }
  // The band's rows lie together in the file: in reverse order when the file stands bottom-up.
  const std::int32_t fileRow = FBottomUp ? FHeight - first - count : first;
  const std::uint64_t start = FStride * static_cast<std::uint64_t>(fileRow);
  const std::uint64_t held = FAvailable > start ? std::min(bytes, FAvailable - start) : 0;
  ReadExactly(FFile.Handle(), FBuffer.data(), held,
              static_cast<std::uint64_t>(FLayout.PixelOffset) + start);
  std::memset(FBuffer.data() + held, 0, static_cast<std::size_t>(bytes - held));
  FFirst = first;
  FCount = count;

  // Ask for the next band while this one is filtered, in case the file is not in memory: the
  // kernel's own read-ahead only looks forward, and bottom-up files are read backward.
  const std::int32_t next = std::min(count, FHeight - first - count);
  if (next > 0) {
    const std::int32_t nextRow = FBottomUp ? fileRow - next : fileRow + count;
    ::posix_fadvise(FFile.Handle(),
                    static_cast<off_t>(static_cast<std::uint64_t>(FLayout.PixelOffset) +
                                       FStride * static_cast<std::uint64_t>(nextRow)),
                    static_cast<off_t>(FStride * static_cast<std::uint64_t>(next)),
                    POSIX_FADV_WILLNEED);
  }
}

const std::uint8_t* TBitmapFileRows::Row(std::int32_t y) const {
  const std::int32_t index = FBottomUp ? FFirst + FCount - 1 - y : y - FFirst;
  return FBuffer.data() + FStride * static_cast<std::uint64_t>(index);
}

std::int32_t TBitmapFileRows::XPelsPerMeter() const {
  return FLayout.Headers.Description.Header.biXPelsPerMeter;
}

std::int32_t TBitmapFileRows::YPelsPerMeter() const {
  return FLayout.Headers.Description.Header.biYPelsPerMeter;
}

}  // namespace penamo
