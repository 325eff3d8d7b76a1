#include "PngWriter.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

#include "Exceptions.h"
#include "FileReplacement.h"
#include "Machine.h"
#include "PngDeflater.h"
#include "RedBlue.h"
#include "Stream.h"

namespace penamo {

namespace {

// A segment's unfiltered bytes: about this much, whole rows.
constexpr std::size_t kSegmentBytes = 1u << 20;

void Put32(std::uint8_t* p, std::uint32_t value) {
  p[0] = static_cast<std::uint8_t>(value >> 24);
  p[1] = static_cast<std::uint8_t>(value >> 16);
  p[2] = static_cast<std::uint8_t>(value >> 8);
  p[3] = static_cast<std::uint8_t>(value);
}

// Whether an ICC profile may describe the pixels as stored: its colour space (header bytes 16 to
// 19) must be grey for a grey PNG and RGB for a colour one, or a decoder takes the file's colours
// as something else (libpng drops such a profile with a warning). A profile too short to say is
// kept as stored.
bool ProfileFitsPixels(const std::vector<std::uint8_t>& profile, bool grey) {
  if (profile.size() < 20) return true;
  return std::memcmp(profile.data() + 16, grey ? "GRAY" : "RGB ", 4) == 0;
}

// One row of BGR pixels (and its alpha, or null) as the PNG stores it: RGB or RGBA when
// greyDepth is 0; else grey samples, packed high bits first at a depth under 8 (the rest of the
// last byte zero), or grey and alpha at 8. Grey pixels are the depth's levels, checked as they
// arrived.
void ConvertRow(const std::uint8_t* bgr, const std::uint8_t* alpha, std::size_t width,
                int greyDepth, std::uint8_t* out) {
  if (greyDepth == 0 && alpha == nullptr) {
    ExchangeRedBlue(bgr, out, width);
    return;
  }
  if (greyDepth == 0) {
    for (std::size_t x = 0; x < width; ++x, bgr += 3) {
      *out++ = bgr[2];
      *out++ = bgr[1];
      *out++ = bgr[0];
      if (alpha != nullptr) *out++ = alpha[x];
    }
    return;
  }
  if (greyDepth == 8) {
    for (std::size_t x = 0; x < width; ++x, bgr += 3) {
      *out++ = bgr[0];
      if (alpha != nullptr) *out++ = alpha[x];
    }
    return;
  }
  const unsigned step = 255u / ((1u << greyDepth) - 1);
  const auto depth = static_cast<unsigned>(greyDepth);
  std::memset(out, 0, (width * depth + 7) / 8);
  for (std::size_t x = 0; x < width; ++x, bgr += 3) {
    const std::size_t bit = x * depth;
    const unsigned shift = 8 - depth - static_cast<unsigned>(bit % 8);
    out[bit / 8] = static_cast<std::uint8_t>(out[bit / 8] | ((bgr[0] / step) << shift));
  }
}

// Whether every pixel of a BGR row is grey and one of the levels of greyDepth (1 to 8 bits).
bool GreyLevelsOnly(const std::uint8_t* bgr, std::size_t width, int greyDepth) {
  const unsigned step = 255u / ((1u << greyDepth) - 1);
  for (std::size_t x = 0; x < width; ++x, bgr += 3) {
    if (bgr[0] != bgr[1] || bgr[1] != bgr[2] || bgr[0] % step != 0) return false;
  }
  return true;
}

// One run of rows, deflated on its own by a worker.
struct TSegment {
  std::int32_t Rows = 0;
  bool Last = false;
  bool HasAbove = false;  // Pixels starts with the row above the segment
  // BGR rows (and alpha rows), the row above first when there is one.
  std::vector<std::uint8_t> Bgr;
  std::vector<std::uint8_t> Alpha;
  std::vector<std::uint8_t> Compressed;
  std::uint32_t CompressedCrc = 0;  // the IDAT chunk's CRC over Compressed
  uLong Adler = 1;
  uLong RawLength = 0;
  bool Done = false;
  std::exception_ptr Error;  // why it could not be deflated
};

class TPngWriter final : public TBandWriter {
 public:
  TPngWriter(const std::string& path, std::int32_t width, std::int32_t height,
             const TPictureExtras& extras, const TPngWriterOptions& options);
  ~TPngWriter() override;

  void WriteBand(std::int32_t first, std::int32_t count, const std::uint8_t* rows,
                 std::size_t stride) override;
  void Commit() override;
  int BusyThreads() const override { return static_cast<int>(FWorkers.size()); }

 private:
  void WriteChunk(const char* type, const std::uint8_t* data, std::size_t size);
  // The same with the chunk's CRC already taken (PngChunkCrc).
  void WriteChunk(const char* type, const std::uint8_t* data, std::size_t size, std::uint32_t crc);
  void WriteHeader(const TPictureExtras& extras);
  // Hands the current segment to the workers, then writes whatever is finished in order.
  void Submit(bool last);
  void WriteFinished(bool wait, std::size_t keep);
  void Work();
  // The segment's rows as PNG samples, each row filtered behind its filter type byte.
  void FilterRows(const TSegment& segment, std::vector<std::uint8_t>& raw) const;
  void Deflate(TSegment& segment, TPngDeflater& deflater, std::vector<std::uint8_t>& raw) const;

  TFileReplacement FReplacement;
  THandleStream FStream;
  std::uint64_t FWritten = 0;  // the file's bytes so far
  std::int32_t FWidth;
  std::int32_t FHeight;
  const std::uint8_t* FAlpha;  // the extras' plane, or null
  TPngWriterOptions FOptions;
  int FGreyDepth;           // 0: colour; else the grey depth written (8 with alpha)
  std::size_t FPixelBytes;  // 3 or 4 in colour, 1 or 2 in grey: the filters' pixel distance
  std::size_t FRowBytes;    // without the filter byte
  std::int32_t FSegmentRows;
  std::int32_t FNextRow = 0;
  std::unique_ptr<TSegment> FCurrent;
  std::vector<std::uint8_t> FLastBgr;  // the last row given, the next segment's row above
  std::vector<std::uint8_t> FLastAlpha;
  bool FHaveLast = false;
  bool FStarted = false;  // the zlib header has been written
  uLong FAdler = 1;

  std::mutex FLock;
  std::condition_variable FWork;
  std::condition_variable FDone;
  std::deque<std::unique_ptr<TSegment>> FPending;  // in picture order
  std::deque<TSegment*> FQueue;                    // not yet taken by a worker
  bool FStop = false;
  // The row buffers of deflated segments, taken again by the next segments, so that a save
  // does not map fresh memory for every megabyte of rows.
  std::vector<std::vector<std::uint8_t>> FSpareRows;
  std::vector<std::thread> FWorkers;
};

TPngWriter::TPngWriter(const std::string& path, std::int32_t width, std::int32_t height,
                       const TPictureExtras& extras, const TPngWriterOptions& options)
    : FReplacement(path),
      FStream(FReplacement.Handle()),
      FWidth(width),
      FHeight(height),
      FAlpha(extras.HasAlpha() ? extras.Alpha.data() : nullptr),
      FOptions(options),
      FGreyDepth(options.GreyDepth != 0 && extras.HasAlpha() ? 8 : options.GreyDepth),
      FPixelBytes(FGreyDepth == 0 ? (extras.HasAlpha() ? 4 : 3) : (extras.HasAlpha() ? 2 : 1)),
      FRowBytes(FGreyDepth == 0 || FGreyDepth == 8
                    ? FPixelBytes * static_cast<std::size_t>(std::max(0, width))
                    : (static_cast<std::size_t>(std::max(0, width)) *
                           static_cast<std::size_t>(FGreyDepth) +
                       7) /
                          8) {
  if (width <= 0 || height <= 0 ||
      (extras.HasAlpha() &&
       extras.Alpha.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height))) {
    throw EInvalidGraphic(Msg::InvalidPixelFormat, "png-write-bad-size");
  }
  if (FGreyDepth != 0 && FGreyDepth != 1 && FGreyDepth != 2 && FGreyDepth != 4 && FGreyDepth != 8)
    throw EInvalidGraphic(Msg::InvalidPixelFormat, "png-write-bad-grey-depth");
  FOptions.Level = DeflateLevel(FOptions.Level);
  FSegmentRows = static_cast<std::int32_t>(
      std::clamp<std::size_t>(kSegmentBytes / FRowBytes, 1, static_cast<std::size_t>(height)));
  WriteHeader(extras);
  const int threads = options.Threads > 0 ? options.Threads : UsableCores();
  for (int i = 0; i < threads; ++i)
    FWorkers.emplace_back([this] { Work(); });
}

TPngWriter::~TPngWriter() {
  {
    const std::lock_guard<std::mutex> guard(FLock);
    FStop = true;
  }
  FWork.notify_all();
  for (auto& worker : FWorkers)
    worker.join();
  // FReplacement, destroyed after this, removes the temporary file unless committed.
}

void TPngWriter::WriteChunk(const char* type, const std::uint8_t* data, std::size_t size) {
  WriteChunk(type, data, size, PngChunkCrc(type, data, size));
}

void TPngWriter::WriteChunk(const char* type, const std::uint8_t* data, std::size_t size,
                            std::uint32_t crc) {
  std::uint8_t head[8];
  Put32(head, static_cast<std::uint32_t>(size));
  std::memcpy(head + 4, type, 4);
  std::uint8_t tail[4];
  Put32(tail, crc);
  FStream.WriteBuffer(head, 8);
  FStream.WriteBuffer(data, static_cast<std::int64_t>(size));
  FStream.WriteBuffer(tail, 4);
  FReplacement.Written(FWritten, 8 + size + 4);
  FWritten += 8 + size + 4;
}

void TPngWriter::WriteHeader(const TPictureExtras& extras) {
  static constexpr std::uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  FStream.WriteBuffer(kSignature, sizeof kSignature);
  FWritten = sizeof kSignature;
  std::uint8_t ihdr[13] = {};
  Put32(ihdr, static_cast<std::uint32_t>(FWidth));
  Put32(ihdr + 4, static_cast<std::uint32_t>(FHeight));
  const bool alpha = FAlpha != nullptr;
  ihdr[8] = static_cast<std::uint8_t>(FGreyDepth == 0 ? 8 : FGreyDepth);  // bits per sample
  // RGBA, RGB, grey and alpha, or grey.
  ihdr[9] = FGreyDepth == 0 ? (alpha ? 6 : 2) : (alpha ? 4 : 0);
  WriteChunk("IHDR", ihdr, sizeof ihdr);
  if (!extras.ColorProfile.empty() && ProfileFitsPixels(extras.ColorProfile, FGreyDepth != 0)) {
    static constexpr char kName[] = "ICC profile";  // the terminating zero is the separator
    std::vector<std::uint8_t> iccp(sizeof kName + 1);
    std::memcpy(iccp.data(), kName, sizeof kName);
    iccp[sizeof kName] = 0;  // compression method: deflate
    uLongf length = compressBound(static_cast<uLong>(extras.ColorProfile.size()));
    const std::size_t start = iccp.size();
    iccp.resize(start + length);
    if (compress2(iccp.data() + start, &length, extras.ColorProfile.data(),
                  static_cast<uLong>(extras.ColorProfile.size()), Z_BEST_COMPRESSION) != Z_OK) {
      throw EOutOfMemory(Msg::OutOfMemory, "png-write-profile");
    }
    iccp.resize(start + length);
    WriteChunk("iCCP", iccp.data(), iccp.size());
  }
  // The metadata before the pixels, where every reader looks for it. An eXIf chunk must start
  // with a whole TIFF header (byte order, 42 and the first directory's offset), which readers
  // check: a block without one is no EXIF and is left out rather than written where they would
  // complain of it, or where this program's own reader would pass it over.
  static constexpr std::uint8_t kLittle[] = {'I', 'I', 42, 0}, kBig[] = {'M', 'M', 0, 42};
  const std::vector<std::uint8_t>& exif = extras.Exif;
  if (exif.size() >= 8 &&
      (std::memcmp(exif.data(), kLittle, 4) == 0 || std::memcmp(exif.data(), kBig, 4) == 0))
    WriteChunk("eXIf", exif.data(), exif.size());
  // A text chunk's text cannot hold a zero byte (readers end it there, and XML has none): the
  // packet is written up to its first one.
  const auto xmpEnd = std::find(extras.Xmp.begin(), extras.Xmp.end(), std::uint8_t{0});
  if (xmpEnd != extras.Xmp.begin()) {
    // Keyword and its zero, no compression (flag and method), empty language tag and
    // translated keyword, then the packet as it came.
    static constexpr char kKeyword[] = "XML:com.adobe.xmp";
    std::vector<std::uint8_t> itxt(kKeyword, kKeyword + sizeof kKeyword);
    itxt.insert(itxt.end(), {0, 0, 0, 0});
    itxt.insert(itxt.end(), extras.Xmp.begin(), xmpEnd);
    WriteChunk("iTXt", itxt.data(), itxt.size());
  }
}

void TPngWriter::WriteBand(std::int32_t first, std::int32_t count, const std::uint8_t* rows,
                           std::size_t stride) {
  if (first != FNextRow || count < 0 || count > FHeight - first)
    throw EInvalidGraphicOperation(Msg::ScanLineOutOfRange, "png-write-band-order");
  const std::size_t bgrBytes = 3 * static_cast<std::size_t>(FWidth);
  const auto width = static_cast<std::size_t>(FWidth);
  if (FGreyDepth != 0) {
    for (std::int32_t i = 0; i < count; ++i) {
      if (!GreyLevelsOnly(rows + static_cast<std::size_t>(i) * stride, width, FGreyDepth))
        throw EInvalidGraphicOperation(Msg::InvalidPixelFormat, "png-write-not-grey-level");
    }
  }
  for (std::int32_t i = 0; i < count; ++i) {
    const std::int32_t y = first + i;
    const std::uint8_t* row = rows + static_cast<std::size_t>(i) * stride;
    const std::uint8_t* alpha =
        FAlpha != nullptr ? FAlpha + static_cast<std::size_t>(y) * width : nullptr;
    if (!FCurrent) {
      FCurrent = std::make_unique<TSegment>();
      {
        const std::lock_guard<std::mutex> guard(FLock);
        if (!FSpareRows.empty()) {
          FCurrent->Bgr = std::move(FSpareRows.back());
          FSpareRows.pop_back();
          FCurrent->Bgr.clear();
        }
      }
      FCurrent->Bgr.reserve(bgrBytes * static_cast<std::size_t>(FSegmentRows + 1));
      if (FHaveLast) {
        FCurrent->HasAbove = true;
        FCurrent->Bgr = FLastBgr;
        FCurrent->Alpha = FLastAlpha;
      }
    }
    FCurrent->Bgr.insert(FCurrent->Bgr.end(), row, row + bgrBytes);
    if (alpha != nullptr) FCurrent->Alpha.insert(FCurrent->Alpha.end(), alpha, alpha + width);
    ++FCurrent->Rows;
    if (FCurrent->Rows == FSegmentRows || y == FHeight - 1) {
      FLastBgr.assign(row, row + bgrBytes);
      if (alpha != nullptr) FLastAlpha.assign(alpha, alpha + width);
      FHaveLast = true;
      Submit(y == FHeight - 1);
    }
  }
  FNextRow = first + count;
}

void TPngWriter::Submit(bool last) {
  FCurrent->Last = last;
  {
    const std::lock_guard<std::mutex> guard(FLock);
    FQueue.push_back(FCurrent.get());
    FPending.push_back(std::move(FCurrent));
  }
  FWork.notify_one();
  // A few segments in flight per worker keep every core busy without holding the picture.
  WriteFinished(false, 2 * FWorkers.size());
}

void TPngWriter::WriteFinished(bool wait, std::size_t keep) {
  for (;;) {
    std::unique_ptr<TSegment> segment;
    {
      std::unique_lock<std::mutex> lock(FLock);
      if (FPending.empty()) return;
      if (!FPending.front()->Done) {
        if (!wait && FPending.size() <= keep) return;
        FDone.wait(lock, [this] { return FPending.front()->Done; });
      }
      segment = std::move(FPending.front());
      FPending.pop_front();
    }
    if (segment->Error) std::rethrow_exception(segment->Error);
    if (!FStarted) {
      const std::array<std::uint8_t, 2> header = ZlibHeader(FOptions.Level);
      WriteChunk("IDAT", header.data(), header.size());
      FStarted = true;
    }
    FAdler = adler32_combine(FAdler, segment->Adler, static_cast<z_off_t>(segment->RawLength));
    WriteChunk("IDAT", segment->Compressed.data(), segment->Compressed.size(),
               segment->CompressedCrc);
  }
}

void TPngWriter::Work() {
  std::optional<TPngDeflater> deflater;
  std::exception_ptr unready;  // the deflater's memory could not be had: every segment fails
  try {
    deflater.emplace(FOptions.Level);
  } catch (...) {
    unready = std::current_exception();
  }
  std::vector<std::uint8_t> raw;
  for (;;) {
    TSegment* segment = nullptr;
    {
      std::unique_lock<std::mutex> lock(FLock);
      FWork.wait(lock, [this] { return FStop || !FQueue.empty(); });
      if (FStop) break;
      segment = FQueue.front();
      FQueue.pop_front();
    }
    std::exception_ptr error = unready;
    if (!error) {
      try {
        Deflate(*segment, *deflater, raw);
      } catch (...) {
        error = std::current_exception();
      }
    }
    {
      const std::lock_guard<std::mutex> guard(FLock);
      segment->Error = error;
      segment->Done = true;
      // The segment's rows are no longer needed; their buffer serves a later segment.
      if (FSpareRows.size() < 2 * FWorkers.size() + 2)
        FSpareRows.push_back(std::move(segment->Bgr));
      std::vector<std::uint8_t>().swap(segment->Bgr);
      std::vector<std::uint8_t>().swap(segment->Alpha);
    }
    FDone.notify_all();
  }
}

void TPngWriter::FilterRows(const TSegment& segment, std::vector<std::uint8_t>& raw) const {
  const std::size_t width = static_cast<std::size_t>(FWidth);
  const std::size_t line = FRowBytes + 1;
  raw.resize(line * static_cast<std::size_t>(segment.Rows));
  std::vector<std::uint8_t> above(FRowBytes, 0), current(FRowBytes), trial(FRowBytes);
  const bool alpha = FAlpha != nullptr;
  const auto samples = [&](std::size_t index, std::uint8_t* out) {
    ConvertRow(segment.Bgr.data() + index * 3 * width,
               alpha ? segment.Alpha.data() + index * width : nullptr, width, FGreyDepth, out);
  };
  std::size_t index = 0;
  if (segment.HasAbove) samples(index++, above.data());
  for (std::int32_t r = 0; r < segment.Rows; ++r, ++index) {
    samples(index, current.data());
    FilterPngRow(FOptions.Filter, current.data(), above.data(), FRowBytes, FPixelBytes,
                 raw.data() + line * static_cast<std::size_t>(r), trial.data());
    std::swap(above, current);
  }
}

void TPngWriter::Deflate(TSegment& segment, TPngDeflater& deflater,
                         std::vector<std::uint8_t>& raw) const {
  WithMemory("png-write-deflate", [&] { FilterRows(segment, raw); });
  segment.RawLength = static_cast<uLong>(raw.size());
  segment.Adler = SegmentAdler32(raw.data(), raw.size());
  const std::span<const std::uint8_t> deflated =
      deflater.Deflate(raw.data(), raw.size(), segment.Last);
  WithMemory("png-write-deflate",
             [&] { segment.Compressed.assign(deflated.begin(), deflated.end()); });
  // Here, on the deflating threads, rather than on the one that writes the chunks in order.
  segment.CompressedCrc = PngChunkCrc("IDAT", segment.Compressed.data(), segment.Compressed.size());
}

void TPngWriter::Commit() {
  if (FNextRow != FHeight)
    throw EInvalidGraphicOperation(Msg::ScanLineOutOfRange, "png-write-rows-missing");
  WriteFinished(true, 0);
  std::uint8_t adler[4];
  Put32(adler, static_cast<std::uint32_t>(FAdler));
  WriteChunk("IDAT", adler, 4);
  WriteChunk("IEND", nullptr, 0);
  FReplacement.Commit();
}

}  // namespace

TPngWriterOptions DefaultPngWriterOptions() {
  return TPngWriterOptions();
}

int PngGreyDepthForLevels(int levels) {
  switch (levels) {
    case 2:
      return 1;
    case 4:
      return 2;
    case 16:
      return 4;
    default:
      return 8;
  }
}

std::unique_ptr<TBandWriter> CreatePngWriter(const std::string& path, std::int32_t width,
                                             std::int32_t height, const TPictureExtras& extras,
                                             const TPngWriterOptions& options) {
  return std::make_unique<TPngWriter>(path, width, height, extras, options);
}

void WritePngFile(const TBitmap& picture, const std::string& path, const TPictureExtras& extras) {
  const TBitmapImage& image = picture.Image();
  if (!image.HasPixels() || image.BitsPerPixel() != 24 ||
      (!image.DeviceFormat() && image.Description.Header.biCompression != BI_RGB)) {
    throw EInvalidGraphic(Msg::InvalidPixelFormat, "png-write-not-24-bits");
  }
  auto writer = CreatePngWriter(path, picture.Width(), picture.Height(), extras);
  // Rows one at a time: the storage may run bottom-up, and the writer copies each row anyway.
  for (std::int32_t y = 0; y < picture.Height(); ++y)
    writer->WriteBand(y, 1, picture.ConstRowAddress(y), 0);
  writer->Commit();
}

}  // namespace penamo
