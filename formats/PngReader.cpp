#include "PngReader.h"

#include <png.h>
#include <spng.h>
#include <tmmintrin.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <csetjmp>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Exceptions.h"
#include "FormatSupport.h"
#include "Limits.h"
#include "Machine.h"
#include "PngDeflater.h"
#include "PngInflatedStream.h"
#include "ReadAheadRows.h"
#include "Stream.h"
#include "Upright.h"

namespace penamo {

namespace {

using namespace formats;

// Ancillary chunks are kept in memory by the decoder; a file cannot make it hold more than this.
constexpr std::size_t kChunkSizeLimit = 64u << 20;
constexpr std::size_t kChunkCacheLimit = 96u << 20;

struct TContextFree {
  void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};
using TContext = std::unique_ptr<spng_ctx, TContextFree>;

// Maps a libspng error to our refusals; the library's own text never reaches the user.
[[noreturn]] void RaiseError(int error) {
  switch (error) {
    case SPNG_EMEM:
      RaiseOutOfMemory();
    case SPNG_EUSER_WIDTH:
    case SPNG_EUSER_HEIGHT:
    case SPNG_ECHUNK_LIMITS:
      RaiseTooLarge("png-over-limits");
    case SPNG_EOF:
    case SPNG_EIO:
    case SPNG_IO_EOF:
    case SPNG_EIDAT_TOO_SHORT:
      RaiseTruncated("png-truncated");
    case SPNG_ESIGNATURE:
      RaiseInvalid(Msg::InvalidPng, "png-bad-signature");
    case SPNG_ECHUNK_CRC:
      RaiseInvalid(Msg::InvalidPng, "png-bad-crc");
    case SPNG_EIDAT_STREAM:
    case SPNG_EZLIB:
    case SPNG_EFILTER:
      RaiseInvalid(Msg::InvalidPng, "png-bad-image-data");
    default:
      RaiseInvalid(Msg::InvalidPng, "png-invalid-" + std::to_string(error));
  }
}

void Check(int error) {
  if (error != 0) RaiseError(error);
}

// A 16-bit sample of a row decoded in the file's own layout: spng gives it in the host's order.
inline std::uint16_t Sample16(const std::uint8_t* bytes) {
  std::uint16_t sample;
  std::memcpy(&sample, bytes, sizeof sample);
  return sample;
}

// One decoded row (RGBA8, RGBA16, RGB8, or the file's own 16-bit RGB or RGBA, alphaChannel
// telling which) into the picture's BGR row and alpha row.
void StoreRow(const std::uint8_t* decoded, int format, bool alphaChannel, std::int32_t width,
              std::uint8_t* bgr, std::uint8_t* alpha) {
  if (format == SPNG_FMT_RGB8) {
    for (std::int32_t x = 0; x < width; ++x, decoded += 3, bgr += 3) {
      bgr[0] = decoded[2];
      bgr[1] = decoded[1];
      bgr[2] = decoded[0];
    }
  } else if (format == SPNG_FMT_RGBA8) {
    for (std::int32_t x = 0; x < width; ++x, decoded += 4, bgr += 3) {
      bgr[0] = decoded[2];
      bgr[1] = decoded[1];
      bgr[2] = decoded[0];
      if (alpha != nullptr) alpha[x] = decoded[3];
    }
  } else if (format == SPNG_FMT_PNG) {
    const std::size_t step = alphaChannel ? 8 : 6;
    for (std::int32_t x = 0; x < width; ++x, decoded += step, bgr += 3) {
      bgr[0] = To8Bits(Sample16(decoded + 4));
      bgr[1] = To8Bits(Sample16(decoded + 2));
      bgr[2] = To8Bits(Sample16(decoded));
      if (alpha != nullptr && alphaChannel) alpha[x] = To8Bits(Sample16(decoded + 6));
    }
  } else {
    // Host-endian 16-bit samples.
    const auto* samples = reinterpret_cast<const std::uint16_t*>(decoded);
    for (std::int32_t x = 0; x < width; ++x, samples += 4, bgr += 3) {
      bgr[0] = To8Bits(samples[2]);
      bgr[1] = To8Bits(samples[1]);
      bgr[2] = To8Bits(samples[0]);
      if (alpha != nullptr) alpha[x] = To8Bits(samples[3]);
    }
  }
}

// Pixels of a 16-bit RGB row as the file holds it (most significant byte first) into blue, green
// and red samples in a little-endian host's order, two pixels a byte shuffle: each pixel's six
// bytes reversed. Each step reads and writes 16 bytes for 12; the last 4 bytes written are the
// next pixel's, written again by the step after, and the steps stop while a whole pixel remains
// after them, so nothing past the row is read or written. Returns how many pixels it did.
[[gnu::target("ssse3")]] std::int32_t ReverseBigEndianPixels(const std::uint8_t* decoded,
                                                             std::int32_t width,
                                                             std::uint8_t* out) {
  const __m128i reverse = _mm_setr_epi8(5, 4, 3, 2, 1, 0, 11, 10, 9, 8, 7, 6, 12, 13, 14, 15);
  std::int32_t x = 0;
  for (; x + 3 <= width; x += 2) {
    const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(decoded + 6 * x));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 6 * x), _mm_shuffle_epi8(pixels, reverse));
  }
  return x;
}

// The same decoded row as deep samples: 16-bit samples whole, 8-bit ones widened (v × 257, as
// TWidenedRows widens them); alpha rounded to 8 bits exactly as StoreRow rounds it, so both reads
// of one file carry the same alpha plane.
// A 16-bit RGB or RGBA row (alphaChannel) into blue, green and red samples and 8-bit alpha; the
// samples as the file holds them (BigEndian) or in the host's order.
template <bool BigEndian>
void StoreDeepSamples(const std::uint8_t* decoded, bool alphaChannel, std::int32_t width,
                      std::uint16_t* bgr, std::uint8_t* alpha) {
  const auto sample = [](const std::uint8_t* bytes) {
    if constexpr (BigEndian) {
      return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
    } else {
      return Sample16(bytes);
    }
  };
  const std::size_t step = alphaChannel ? 8 : 6;
  std::int32_t x = 0;
  if constexpr (BigEndian && std::endian::native == std::endian::little) {
    // Red, green and blue as the file holds them (most significant byte first), six bytes
    // reversed, are blue, green and red in the host's order: a pixel is one 8-byte load, a byte
    // swap and a shift, and one 8-byte store whose last two bytes the next pixel's store
    // overwrites. The last pixel goes the plain way below, as its 8 bytes would pass the row's
    // end (in and out).
    auto* out = reinterpret_cast<std::uint8_t*>(bgr);
    if (!alphaChannel && HasByteShuffles()) {
      x = ReverseBigEndianPixels(decoded, width, out);
      decoded += 6 * static_cast<std::size_t>(x);
      out += 6 * static_cast<std::size_t>(x);
    }
    for (; x + 1 < width; ++x, decoded += step, out += 6) {
      std::uint64_t pixel;
      std::memcpy(&pixel, decoded, sizeof pixel);
      pixel = __builtin_bswap64(pixel) >> 16;
      std::memcpy(out, &pixel, sizeof pixel);
      if (alpha != nullptr && alphaChannel) alpha[x] = To8Bits(sample(decoded + 6));
    }
    bgr += 3 * static_cast<std::size_t>(x);
  }
  for (; x < width; ++x, decoded += step, bgr += 3) {
    bgr[0] = sample(decoded + 4);
    bgr[1] = sample(decoded + 2);
    bgr[2] = sample(decoded);
    if (alpha != nullptr && alphaChannel) alpha[x] = To8Bits(sample(decoded + 6));
  }
}

void StoreDeepRow(const std::uint8_t* decoded, int format, bool alphaChannel, std::int32_t width,
                  std::uint16_t* bgr, std::uint8_t* alpha) {
  if (format == SPNG_FMT_PNG) {
    StoreDeepSamples<false>(decoded, alphaChannel, width, bgr, alpha);
    return;
  }
  if (format == SPNG_FMT_RGBA16) {
    const auto* samples = reinterpret_cast<const std::uint16_t*>(decoded);
    for (std::int32_t x = 0; x < width; ++x, samples += 4, bgr += 3) {
      bgr[0] = samples[2];
      bgr[1] = samples[1];
      bgr[2] = samples[0];
      if (alpha != nullptr) alpha[x] = To8Bits(samples[3]);
    }
    return;
  }
  const std::size_t step = format == SPNG_FMT_RGBA8 ? 4 : 3;
  for (std::int32_t x = 0; x < width; ++x, decoded += step, bgr += 3) {
    bgr[0] = static_cast<std::uint16_t>(decoded[2] * 257u);
    bgr[1] = static_cast<std::uint16_t>(decoded[1] * 257u);
    bgr[2] = static_cast<std::uint16_t>(decoded[0] * 257u);
    if (alpha != nullptr && step == 4) alpha[x] = decoded[3];
  }
}

// Deflate turns a byte into at most 1032: its longest match, 258 bytes, costs at least two bits
// (a one-bit length code and a one-bit distance code).
constexpr std::uint64_t kDeflateMaxRatio = 1032;

std::uint32_t Get32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

// What the chunk list says about the compressed pixels: how many IDAT bytes the file holds, and
// whether the list reaches IEND before the file's end.
struct TImageData {
  std::uint64_t Bytes = 0;
  bool Complete = false;
};

// Walks the chunk list of a file of size bytes from the signature to IEND by the chunks' lengths,
// without checking their contents (the decoder does that); read(offset, head) fills the 8 bytes
// of a chunk's length and type at offset, which lies within the file. A chunk cut by the file's
// end counts only the bytes it has there. seen(head, at) is told of every chunk before IEND.
template <typename ReadHead, typename Seen>
TImageData WalkImageData(std::uint64_t size, ReadHead readHead, Seen seen) {
  TImageData data;
  std::uint64_t at = 8;
  while (at + 8 <= size) {
    std::uint8_t head[8];
    readHead(at, head);
    const std::uint64_t length = Get32(head);
    if (std::memcmp(head + 4, "IEND", 4) == 0) {
      data.Complete = true;
      break;
    }
    if (std::memcmp(head + 4, "IDAT", 4) == 0) data.Bytes += std::min(length, size - at - 8);
    seen(head, at);
    at += 12 + length;
  }
  return data;
}

TImageData WalkImageData(const std::uint8_t* bytes, std::size_t size) {
  return WalkImageData(
      size, [&](std::uint64_t at, std::uint8_t* head) { std::memcpy(head, bytes + at, 8); },
      [](const std::uint8_t*, std::uint64_t) {});
}

// The bytes the header's picture inflates to: each pass's rows (one pass unless interlaced),
// each row its filter byte and its packed samples.
std::uint64_t InflatedBytes(const spng_ihdr& ihdr) {
  const std::uint64_t channels = ihdr.color_type == 2   ? 3
                                 : ihdr.color_type == 4 ? 2
                                 : ihdr.color_type == 6 ? 4
                                                        : 1;
  const std::uint64_t bits = channels * ihdr.bit_depth;
  const auto passBytes = [&](std::uint64_t width, std::uint64_t height) -> std::uint64_t {
    if (width == 0 || height == 0) return 0;
    return height * (1 + (width * bits + 7) / 8);
  };
  if (ihdr.interlace_method == 0) return passBytes(ihdr.width, ihdr.height);
  // Adam7: each pass's first column and row and its steps.
  static constexpr std::uint32_t kPasses[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8},
                                                  {2, 0, 4, 4}, {0, 2, 2, 4}, {1, 0, 2, 2},
                                                  {0, 1, 1, 2}};
  std::uint64_t total = 0;
  for (const auto& pass : kPasses) {
    const std::uint64_t width =
        ihdr.width > pass[0] ? (ihdr.width - pass[0] + pass[2] - 1) / pass[2] : 0;
    const std::uint64_t height =
        ihdr.height > pass[1] ? (ihdr.height - pass[1] + pass[3] - 1) / pass[3] : 0;
    total += passBytes(width, height);
  }
  return total;
}

// A context with every limit set, before its input is given and its first byte decoded.
TContext NewContext() {
  // The chunks' CRCs already guard every compressed byte; the stream's own checksum over the
  // whole inflated picture would cost a serial pass as long as the inflation's fastest part.
  TContext ctx(spng_ctx_new(SPNG_CTX_IGNORE_ADLER32));
  if (!ctx) RaiseOutOfMemory();
  Check(spng_set_image_limits(ctx.get(), static_cast<std::uint32_t>(kMaxDimension),
                              static_cast<std::uint32_t>(kMaxDimension)));
  Check(spng_set_chunk_limits(ctx.get(), kChunkSizeLimit, kChunkCacheLimit));
  Check(spng_set_crc_action(ctx.get(), SPNG_CRC_ERROR, SPNG_CRC_DISCARD));
  return ctx;
}

// What the header and the chunks before the pixels say, and how the rows are decoded.
struct TPngLayout {
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  bool Alpha = false;
  bool Interlaced = false;
  bool Deep = false;           // 16 bits a sample
  int Format = SPNG_FMT_RGB8;  // what spng decodes to: RGB8, RGBA8, RGBA16 or PNG (as stored)
  bool AlphaChannel = false;   // the file's rows hold alpha (for Format PNG)
  std::size_t RowBytes = 0;    // of a decoded row
  std::vector<std::uint8_t> Profile;
  std::vector<std::uint8_t> Xmp;  // the iTXt of keyword XML:com.adobe.xmp, inflated
};

// The XMP packet of the iTXt chunks the decoder has read so far, or empty.
std::vector<std::uint8_t> XmpOf(spng_ctx* ctx) {
  std::uint32_t count = 0;
  if (spng_get_text(ctx, nullptr, &count) != 0 || count == 0) return {};
  std::vector<spng_text> texts(count);
  if (spng_get_text(ctx, texts.data(), &count) != 0) return {};
  for (const spng_text& text : texts) {
    if (text.type != SPNG_ITXT || std::strcmp(text.keyword, "XML:com.adobe.xmp") != 0) continue;
    return WithMemory("out-of-memory", [&] {
      return std::vector<std::uint8_t>(text.text, text.text + text.length);
    });
  }
  return {};
}

// The XMP packet of the iTXt chunks before the pixels, which is what a band-by-band read sees
// before its first row: both reads carry the same, and one stored after the pixels is not kept.
// A packet the library will not give is left out rather than refusing a picture that reads.
void ReadXmp(spng_ctx* ctx, TPngLayout& layout) {
  layout.Xmp = XmpOf(ctx);
}

// Reads the header, checks the size against the storage limit and against the compressed
// pixels the file holds (data), and takes the colour profile. Nothing the size would need is
// allocated before both checks pass: a file of a few bytes cannot claim gigabytes.
TPngLayout ReadLayout(spng_ctx* ctx, const TImageData& data) {
  TPngLayout layout;
  spng_ihdr ihdr{};
  Check(spng_get_ihdr(ctx, &ihdr));
  CheckPictureSize(ihdr.width, ihdr.height, Msg::InvalidPng, "png");
  if (InflatedBytes(ihdr) > kDeflateMaxRatio * data.Bytes) {
    // A cut file is refused as cut, as its decoding would refuse it.
    if (!data.Complete) RaiseTruncated("png-truncated");
    RaiseInvalid(Msg::InvalidPng, "png-claims-more-than-data");
  }
  layout.Width = static_cast<std::int32_t>(ihdr.width);
  layout.Height = static_cast<std::int32_t>(ihdr.height);

  spng_trns trns{};
  const int trnsResult = spng_get_trns(ctx, &trns);
  if (trnsResult != 0 && trnsResult != SPNG_ECHUNKAVAIL) RaiseError(trnsResult);
  layout.Alpha = (ihdr.color_type & 4) != 0 || trnsResult == 0;
  layout.Deep = ihdr.bit_depth == 16;
  // 16-bit colour with no colour key is taken as the file stores it: converting it to RGBA16
  // costs the decoder more than inflating it, and the samples are the same.
  const bool native =
      layout.Deep &&
      (ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA ||
       (ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR && trnsResult == SPNG_ECHUNKAVAIL));
  layout.AlphaChannel = ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
  layout.Format = native         ? SPNG_FMT_PNG
                  : layout.Deep  ? SPNG_FMT_RGBA16
                  : layout.Alpha ? SPNG_FMT_RGBA8
                                 : SPNG_FMT_RGB8;
  const std::size_t pixelBytes = native                             ? (layout.AlphaChannel ? 8 : 6)
                                 : layout.Format == SPNG_FMT_RGBA16 ? 8
                                 : layout.Format == SPNG_FMT_RGBA8  ? 4
                                                                    : 3;
  layout.RowBytes = pixelBytes * static_cast<std::size_t>(layout.Width);
  layout.Interlaced = ihdr.interlace_method != 0;

  spng_iccp iccp{};
  const int iccpResult = spng_get_iccp(ctx, &iccp);
  if (iccpResult == 0 && iccp.profile_len > 0) {
    const auto* profile = reinterpret_cast<const std::uint8_t*>(iccp.profile);
    layout.Profile.assign(profile, profile + iccp.profile_len);
  } else if (iccpResult != 0 && iccpResult != SPNG_ECHUNKAVAIL) {
    RaiseError(iccpResult);
  }
  ReadXmp(ctx, layout);
  return layout;
}

// Takes the EXIF block (its orientation reset, as the picture is to be turned by it) the decoder
// has read into target; returns the orientation the block recorded.
int TakeMetadata(spng_ctx* ctx, TPictureExtras& target) {
  int orientation = 1;
  spng_exif exif{};
  if (spng_get_exif(ctx, &exif) == 0 && exif.length > 0) {
    target.Exif = ExifBlockOf(reinterpret_cast<const std::uint8_t*>(exif.data), exif.length);
    orientation = ExifBlockOrientation(target.Exif.data(), target.Exif.size());
    ResetExifOrientation(target.Exif);
  }
  return orientation;
}

std::vector<std::uint8_t> AllocateBytes(std::size_t size) {
  return WithMemory("out-of-memory", [&] { return std::vector<std::uint8_t>(size); });
}

// What one walk of a PNG file's chunk list finds: what WalkImageData says of the pixels, and the
// data of the eXIf chunk the decoder keeps, wherever it lies (the decoder takes one after the
// pixels as well): the first one; empty when there is none, or when the first one's checksum
// fails (the decoder discards it and takes no later one).
struct TChunkWalk {
  TImageData Pixels;
  std::vector<std::uint8_t> Exif;
};

// The walk over a file. A chunk's head is read alone (a seek and 8 bytes) after a chunk of 4 KiB
// or more, and in 64 KiB blocks among smaller ones, so that neither a file of many tiny chunks
// costs a read each nor the pixels' chunks are read only to be skipped. The stream is left at
// its start.
TChunkWalk WalkChunks(TStream& stream) {
  const std::int64_t size = stream.Size();
  if (size < 0) throw EReadError(Msg::ReadError, "seek-failed");
  constexpr std::uint64_t kBlock = 1u << 16;
  constexpr std::uint64_t kReadAlone = 4096;
  std::vector<std::uint8_t> block(kBlock);
  std::uint64_t blockStart = 0, blockSize = 0, last = 0;
  const auto readAt = [&](std::uint64_t at, std::uint8_t* into, std::int64_t count) {
    if (stream.Seek(static_cast<std::int64_t>(at), TSeekOrigin::Beginning) < 0)
      return std::int64_t{0};
    return std::max<std::int64_t>(0, stream.Read(into, count));
  };
  const auto readHead = [&](std::uint64_t at, std::uint8_t* head) {
    const bool far = at - last >= kReadAlone;
    last = at;
    if (at >= blockStart && at + 8 <= blockStart + blockSize) {
      std::memcpy(head, block.data() + (at - blockStart), 8);
      return;
    }
    // A file that shrinks while it is walked reads as zeros: the decoder meets its end.
    if (far) {
      const std::int64_t got = readAt(at, head, 8);
      std::memset(head + got, 0, static_cast<std::size_t>(8 - got));
      return;
    }
    blockStart = at;
    blockSize = static_cast<std::uint64_t>(readAt(at, block.data(), kBlock));
    if (blockSize < 8) {
      std::memset(block.data() + blockSize, 0, 8 - blockSize);
      blockSize = 8;
    }
    std::memcpy(head, block.data(), 8);
  };
  TChunkWalk walk;
  bool lookForExif = true;
  const auto seen = [&](const std::uint8_t* head, std::uint64_t at) {
    if (!lookForExif || std::memcmp(head + 4, "eXIf", 4) != 0) return;
    lookForExif = false;
    const std::uint32_t length = Get32(head);
    // The decoder refuses a larger chunk itself.
    if (length > kChunkSizeLimit) return;
    std::vector<std::uint8_t> data = AllocateBytes(std::size_t{length} + 4);
    if (readAt(at + 8, data.data(), static_cast<std::int64_t>(data.size())) !=
        static_cast<std::int64_t>(data.size()))
      return;
    if (PngChunkCrc("eXIf", data.data(), length) == Get32(data.data() + length)) {
      data.resize(length);
      walk.Exif = std::move(data);
    }
  };
  walk.Pixels = WalkImageData(static_cast<std::uint64_t>(size), readHead, seen);
  if (stream.Seek(0, TSeekOrigin::Beginning) != 0) throw EReadError(Msg::ReadError, "seek-failed");
  return walk;
}

// Decodes row y of a non-interlaced picture (the next one) into row, as the decoded format lays
// it out (layout.RowBytes).
void DecodeNextRow(spng_ctx* ctx, const TPngLayout& layout, std::int32_t y, std::uint8_t* row) {
  const int result = spng_decode_row(ctx, row, layout.RowBytes);
  // The last row reports the end of the image.
  if (result != 0 && !(result == SPNG_EOI && y == layout.Height - 1)) RaiseError(result);
  // After the last row the file is read to its end, so that a file cut after the pixels (in
  // the last chunk's checksum, or before IEND) is refused as any other cut file.
  if (y == layout.Height - 1) Check(spng_decode_chunks(ctx));
}

// Decodes row y of a non-interlaced picture (the next one) into target's BGR row; decoded is a
// row of the decoded format, unused for RGB8, which is decoded in place.
void DecodePngRow(spng_ctx* ctx, const TPngLayout& layout, std::int32_t y, std::uint8_t* target,
                  std::vector<std::uint8_t>& decoded, std::uint8_t* alpha) {
  const bool direct = layout.Format == SPNG_FMT_RGB8;
  DecodeNextRow(ctx, layout, y, direct ? target : decoded.data());
  if (direct) {
    for (std::size_t i = 0; i < layout.RowBytes; i += 3)
      std::swap(target[i], target[i + 2]);
  } else {
    StoreRow(decoded.data(), layout.Format, layout.AlphaChannel, layout.Width, target, alpha);
  }
}

// The bytes of the file read through stream so far (its position), 0 when it cannot tell.
std::uint64_t BytesRead(TStream& stream) {
  const std::int64_t position = stream.Position();
  return position > 0 ? static_cast<std::uint64_t>(position) : 0;
}

// spng's input from a file, read as it goes. The stream's reads never raise.
int ReadFromStream(spng_ctx*, void* user, void* destination, std::size_t length) {
  auto* stream = static_cast<TStream*>(user);
  auto* out = static_cast<std::uint8_t*>(destination);
  while (length > 0) {
    const std::int64_t chunk = static_cast<std::int64_t>(std::min<std::size_t>(length, 1u << 30));
    const std::int64_t got = stream->Read(out, chunk);
    if (got <= 0) return SPNG_IO_EOF;
    out += got;
    length -= static_cast<std::size_t>(got);
  }
  return 0;
}

// spng's input from a file held in memory, handed over as ReadFromStream hands a file over:
// the whole read decodes through the very reads of the band-by-band one, so that libspng takes
// the compressed pixels in the same pieces whichever read it serves. Given the whole buffer at
// once, libspng would take each IDAT chunk whole and refuse one cut by the file's end as cut
// before inflating any of it, where the band read, taking pieces, first meets damage earlier in
// the chunk: two answers for one file.
struct TMemoryInput {
  const std::uint8_t* Data;
  std::size_t Left;
};

int ReadFromMemory(spng_ctx*, void* user, void* destination, std::size_t length) {
  auto* input = static_cast<TMemoryInput*>(user);
  if (length > input->Left) {
    input->Left = 0;
    return SPNG_IO_EOF;
  }
  std::memcpy(destination, input->Data, length);
  input->Data += length;
  input->Left -= length;
  return 0;
}

// What both row decoders of a non-interlaced file hold: the file, its decoder and layout, the
// alpha plane the rows' alpha goes to (or null), and a row of the decoded format where the rows
// are not decoded in place (which each decoder allocates).
template <typename Decoder>
class TPngRows : public Decoder {
 public:
  TPngRows(std::unique_ptr<TFileStream> file, TContext ctx, TPngLayout layout, std::uint8_t* alpha)
      : FFile(std::move(file)),
        FContext(std::move(ctx)),
        FLayout(std::move(layout)),
        FAlpha(alpha) {
    // A row libspng decodes to anything but 8-bit RGB is decoded aside first.
    if (FLayout.Format != SPNG_FMT_RGB8) FDecoded = AllocateBytes(FLayout.RowBytes);
  }

  int Handle() const override { return FFile->Handle(); }

 protected:
  // Runs decode; damaged data it meets say how far libspng had read the file then (its reads
  // are the stream's, from the file's start).
  template <typename Decode>
  void NotingDamageRead(Decode decode) {
    NotingDamage([this] { return BytesRead(*FFile); }, decode);
  }

  std::uint8_t* AlphaRow(std::int32_t y) const {
    return FAlpha != nullptr
               ? FAlpha + static_cast<std::size_t>(y) * static_cast<std::size_t>(FLayout.Width)
               : nullptr;
  }

  std::unique_ptr<TFileStream> FFile;
  TContext FContext;
  TPngLayout FLayout;
  std::uint8_t* FAlpha;
  std::vector<std::uint8_t> FDecoded;
};

// A non-interlaced PNG file's rows, one at a time, for TReadAheadRows.
class TPngRowDecoder final : public TPngRows<TRowDecoder> {
 public:
  using TPngRows::TPngRows;

  void DecodeRow(std::int32_t y, std::uint8_t* bgr) override {
    NotingDamageRead([&] { DecodePngRow(FContext.get(), FLayout, y, bgr, FDecoded, AlphaRow(y)); });
  }
};

// The rows of a 16-bit file as deep samples, for TDeepReadAheadRows.
class TPngDeepRowDecoder final : public TPngRows<TDeepRowDecoder> {
 public:
  using TPngRows::TPngRows;

  void DecodeRow(std::int32_t y, std::uint16_t* bgr) override {
    NotingDamageRead([&] { DecodeNextRow(FContext.get(), FLayout, y, FDecoded.data()); });
    StoreDeepRow(FDecoded.data(), FLayout.Format, FLayout.AlphaChannel, FLayout.Width, bgr,
                 AlphaRow(y));
  }
};

// The rows of a 16-bit RGB or RGBA file with no colour key, decoded by libpng, which undoes the
// rows' filters in about a fifth less time than libspng (the Paeth rows most encoders choose for
// smooth pictures). libspng has read the header and the chunks before the pixels, with every
// limit; libpng reads the same file again from its start, through a handle's reads at offsets
// of its own, as TInflatedPngStream gives it: with the pixels inflated by ISA-L, in a third of
// zlib's time. Where libpng or that stream meets any fault, libspng, which every whole read of
// the file uses, takes over from the first row: it skips the rows already given and decodes the
// rest, so that the rows, and a damaged or cut file's refusal, are exactly the whole read's
// whichever library met the fault first. (One kind of stream zlib refuses is read here when its
// checksum holds: one whose Huffman codes leave codes unused; see PngInflatedStream.h.)
class TLibpngDeepRowDecoder final : public TPngRows<TDeepRowDecoder> {
 public:
  TLibpngDeepRowDecoder(std::unique_ptr<TFileStream> file, TContext ctx, TPngLayout layout,
                        std::uint8_t* alpha)
      : TPngRows(std::move(file), std::move(ctx), std::move(layout), alpha) {
    const int handle = FFile->Handle();
    FStream = WithMemory("out-of-memory", [&] {
      return std::make_unique<TInflatedPngStream>(
          [handle](std::uint8_t* data, std::size_t size, std::uint64_t offset) -> std::int64_t {
            for (;;) {
              const ssize_t got = ::pread(handle, data, size, static_cast<off_t>(offset));
              if (got >= 0 || errno != EINTR) return got;
            }
          });
    });
    FPng = png_create_read_struct(PNG_LIBPNG_VER_STRING, this, &Fault, &Warning);
    if (FPng != nullptr) FInfo = png_create_info_struct(FPng);
    if (FInfo == nullptr) {
      png_destroy_read_struct(&FPng, nullptr, nullptr);
      FByLibspng = true;
      return;
    }
    png_set_read_fn(FPng, this, &Read);
    // As libspng is told: the pixels' checksum is not checked, the chunks' are. FStream
    // checks the critical chunks' checksums and that of the stream it inflates (it gives the
    // pixels as stored blocks, whose checksum libpng would take over eight times the bytes);
    // libpng checks the ancillary chunks'.
    png_set_option(FPng, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
    png_set_crc_action(FPng, PNG_CRC_QUIET_USE, PNG_CRC_NO_CHANGE);
    png_set_user_limits(FPng, static_cast<png_uint_32>(FLayout.Width),
                        static_cast<png_uint_32>(FLayout.Height));
    png_set_chunk_malloc_max(FPng, kChunkSizeLimit);
    // The samples are left as the file holds them, most significant byte first, and put in
    // the host's order as they are stored (a pass of libpng's own over each row costs more).
    // They are stored from libpng's own row, as its last step (Store), instead of being copied
    // into a row of ours first.
    png_set_read_user_transform_fn(FPng, &Store);
    const bool read = Step([this] {
      png_read_info(FPng, FInfo);
      png_read_update_info(FPng, FInfo);
    });
    // The file libspng read: the same size and layout, or libspng alone reads it.
    FByLibspng = !read ||
                 png_get_image_width(FPng, FInfo) != static_cast<png_uint_32>(FLayout.Width) ||
                 png_get_image_height(FPng, FInfo) != static_cast<png_uint_32>(FLayout.Height) ||
                 png_get_rowbytes(FPng, FInfo) != FLayout.RowBytes;
  }
  ~TLibpngDeepRowDecoder() override { png_destroy_read_struct(&FPng, &FInfo, nullptr); }

  void DecodeRow(std::int32_t y, std::uint16_t* bgr) override {
    if (!FByLibspng) {
      // After the last row the file is read to its end, so that a file cut after the pixels is
      // refused as any other cut file.
      FTarget = bgr;
      FTargetAlpha = AlphaRow(y);
      FByLibspng = !Step([&] {
        png_read_row(FPng, nullptr, nullptr);
        if (y == FLayout.Height - 1) png_read_end(FPng, nullptr);
      });
      if (FByLibspng) {
        NotingDamageRead([&] {
          for (std::int32_t given = 0; given < y; ++given)
            DecodeNextRow(FContext.get(), FLayout, given, FDecoded.data());
        });
      }
    }
    if (FByLibspng) {
      NotingDamageRead([&] { DecodeNextRow(FContext.get(), FLayout, y, FDecoded.data()); });
      StoreDeepRow(FDecoded.data(), SPNG_FMT_PNG, FLayout.AlphaChannel, FLayout.Width, bgr,
                   AlphaRow(y));
    }
  }

 private:
  // Runs a libpng call; false when libpng met a fault and left it through Fault (a long jump
  // back here). libpng is not called again after one. No object with a destructor lives in
  // this frame across the jump.
  template <typename Call>
  bool Step(Call call) {
    if (setjmp(png_jmpbuf(FPng)) == 0) {
      call();
      return true;
    }
    return false;
  }

  static void Fault(png_structp png, png_const_charp) { png_longjmp(png, 1); }

  // libpng's last step over each row, unfiltered and as the file holds it: the row is stored
  // where DecodeRow asked, from libpng's own buffer (DecodeRow asks libpng for no copy of it).
  static void Store(png_structp png, png_row_infop, png_bytep row) {
    auto* self = static_cast<TLibpngDeepRowDecoder*>(png_get_io_ptr(png));
    StoreDeepSamples<true>(row, self->FLayout.AlphaChannel, self->FLayout.Width, self->FTarget,
                           self->FTargetAlpha);
  }
  static void Warning(png_structp, png_const_charp) {}

  // The file's bytes as FStream gives them; a fault (a file cut or damaged, or a read that
  // fails) leaves libpng here.
  static void Read(png_structp png, png_bytep data, std::size_t length) {
    auto* self = static_cast<TLibpngDeepRowDecoder*>(png_get_io_ptr(png));
    if (!self->FStream->Read(data, length)) png_error(png, "Read Error");
  }

  png_structp FPng = nullptr;
  png_infop FInfo = nullptr;
  std::unique_ptr<TInflatedPngStream> FStream;
  // Whether libspng decodes the rows (from the next one on): libpng met a fault.
  bool FByLibspng = false;
  // Where Store puts the row libpng is decoding.
  std::uint16_t* FTarget = nullptr;
  std::uint8_t* FTargetAlpha = nullptr;
};

// A whole deep picture of a checked size; its storage is twice the 24-bit picture's, which the
// size check has bounded.
void AllocateDeep(TDeepPicture& deep, std::int32_t width, std::int32_t height) {
  deep.Width = width;
  deep.Height = height;
  WithMemory(kOutOfMemory, [&] {
    deep.Samples.assign(3 * static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
  });
}

// The whole PNG in data into picture (as ReadPng makes it, when not null) and into deep (when
// not null). picture, deep and extras are replaced only when everything has been read.
void ReadPngInto(const std::uint8_t* data, std::size_t size, TBitmap* picture, TDeepPicture* deep,
                 TPictureExtras& extras) {
  TContext ctx = NewContext();
  TMemoryInput input{data, size};
  Check(spng_set_png_stream(ctx.get(), ReadFromMemory, &input));
  TPngLayout layout = ReadLayout(ctx.get(), WalkImageData(data, size));
  const std::int32_t height = layout.Height;

  // An interlaced picture's passes each touch every row, so it is decoded whole; any other
  // picture row by row through one row buffer.
  if (layout.Interlaced)
    CheckBufferSize(static_cast<std::uint64_t>(height), layout.RowBytes, "png-too-large");
  std::unique_ptr<TPictureBuilder> builder;
  TPictureExtras read;
  if (picture != nullptr) {
    builder = std::make_unique<TPictureBuilder>(layout.Width, height, layout.Alpha);
  } else if (layout.Alpha) {
    WithMemory(kOutOfMemory, [&] {
      read.Alpha.assign(static_cast<std::size_t>(layout.Width) * static_cast<std::size_t>(height),
                        255);
    });
  }
  TPictureExtras& target = builder ? builder->Extras() : read;
  const auto alphaRow = [&](std::int32_t y) -> std::uint8_t* {
    if (!layout.Alpha) return nullptr;
    return target.Alpha.data() +
           static_cast<std::size_t>(y) * static_cast<std::size_t>(layout.Width);
  };
  TDeepPicture deepRead;
  if (deep != nullptr) AllocateDeep(deepRead, layout.Width, height);
  // Each row is stored once: the 8-bit picture keeps the alpha row, the deep one only when alone.
  const auto store = [&](std::int32_t y, const std::uint8_t* row) {
    if (builder)
      StoreRow(row, layout.Format, layout.AlphaChannel, layout.Width, builder->Row(y), alphaRow(y));
    if (deep != nullptr)
      StoreDeepRow(row, layout.Format, layout.AlphaChannel, layout.Width, deepRead.Row(y),
                   builder ? nullptr : alphaRow(y));
  };

  std::vector<std::uint8_t> decoded;
  const bool direct = !layout.Interlaced && layout.Format == SPNG_FMT_RGB8 && deep == nullptr;
  if (!direct)
    decoded = AllocateBytes(layout.Interlaced ? layout.RowBytes * static_cast<std::size_t>(height)
                                              : layout.RowBytes);

  if (layout.Interlaced) {
    Check(spng_decode_image(ctx.get(), decoded.data(), decoded.size(), layout.Format,
                            SPNG_DECODE_TRNS));
    Check(spng_decode_chunks(ctx.get()));  // to the file's end, as for any other picture
    for (std::int32_t y = 0; y < height; ++y)
      store(y, decoded.data() + layout.RowBytes * static_cast<std::size_t>(y));
  } else {
    Check(spng_decode_image(ctx.get(), nullptr, 0, layout.Format,
                            SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE));
    for (std::int32_t y = 0; y < height; ++y) {
      if (direct) {
        DecodePngRow(ctx.get(), layout, y, builder->Row(y), decoded, nullptr);
      } else {
        DecodeNextRow(ctx.get(), layout, y, decoded.data());
        store(y, decoded.data());
      }
    }
  }
  target.ColorProfile = std::move(layout.Profile);
  const int orientation = TakeMetadata(ctx.get(), target);
  if (deep != nullptr) {
    // The alpha plane turns with the 8-bit picture when there is one.
    std::vector<std::uint8_t> none;
    TurnUpright(deepRead, builder ? none : read.Alpha, orientation);
  }
  target.Xmp = std::move(layout.Xmp);
  if (builder)
    InstallUpright(*builder, orientation, *picture, extras);
  else
    extras = std::move(read);
  if (deep != nullptr) *deep = std::move(deepRead);
}

// A non-interlaced PNG file at path opened for progressive decoding, with extras filled (alpha
// plane allocated, profile and metadata taken); a null context for an interlaced file or one
// whose EXIF orientation turns it (its first upright row is not its first stored one), extras
// then untouched.
struct TOpenedPng {
  std::unique_ptr<TFileStream> File;
  TContext Context;
  TPngLayout Layout;
};

TOpenedPng OpenProgressive(const std::string& path, TPictureExtras& extras) {
  TOpenedPng opened;
  opened.File = std::make_unique<TFileStream>(path);
  TChunkWalk walk = WalkChunks(*opened.File);
  std::vector<std::uint8_t> exif = ExifBlockOf(walk.Exif.data(), walk.Exif.size());
  const TImageData& data = walk.Pixels;
  opened.Context = NewContext();
  Check(spng_set_png_stream(opened.Context.get(), ReadFromStream, opened.File.get()));
  NotingDamage([&] { return BytesRead(*opened.File); },
               [&] { opened.Layout = ReadLayout(opened.Context.get(), data); });
  if (opened.Layout.Interlaced || ExifBlockOrientation(exif.data(), exif.size()) != 1) {
    opened.Context.reset();
    return opened;
  }
  NotingDamage([&] { return BytesRead(*opened.File); },
               [&] {
                 Check(spng_decode_image(opened.Context.get(), nullptr, 0, opened.Layout.Format,
                                         SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE));
               });
  TPictureExtras read;
  if (opened.Layout.Alpha) {
    CheckBufferSize(static_cast<std::uint64_t>(opened.Layout.Width),
                    static_cast<std::uint64_t>(opened.Layout.Height), "png-alpha-too-large");
    read.Alpha = AllocateBytes(static_cast<std::size_t>(opened.Layout.Width) *
                               static_cast<std::size_t>(opened.Layout.Height));
  }
  read.ColorProfile = std::move(opened.Layout.Profile);
  read.Exif = std::move(exif);
  read.Xmp = std::move(opened.Layout.Xmp);
  extras = std::move(read);
  return opened;
}

// How far libspng reads the PNG in data before it refuses it, for a read from memory, which
// does not tell: the file is decoded again, row by row into one row, through an input that
// counts the bytes it hands over. 0 when that decoding meets no fault, or cannot be made.
std::uint64_t BytesReadAtFault(const std::uint8_t* data, std::size_t size) noexcept {
  struct TCountedInput {
    const std::uint8_t* Data;
    std::size_t Size;
    std::size_t Read;
  } input{data, size, 0};
  const auto countedRead = [](spng_ctx*, void* user, void* destination, std::size_t length) -> int {
    auto* in = static_cast<TCountedInput*>(user);
    if (length > in->Size - in->Read) {
      in->Read = in->Size;
      return SPNG_IO_EOF;
    }
    std::memcpy(destination, in->Data + in->Read, length);
    in->Read += length;
    return 0;
  };
  try {
    TContext ctx = NewContext();
    spng_ctx* context = ctx.get();
    if (spng_set_png_stream(context, countedRead, &input) != 0) return 0;
    spng_ihdr ihdr{};
    std::size_t imageBytes = 0;
    if (spng_get_ihdr(context, &ihdr) != 0 ||
        spng_decoded_image_size(context, SPNG_FMT_PNG, &imageBytes) != 0 || ihdr.height == 0 ||
        spng_decode_image(context, nullptr, 0, SPNG_FMT_PNG, SPNG_DECODE_PROGRESSIVE) != 0)
      return input.Read;
    std::vector<std::uint8_t> row = AllocateBytes(imageBytes / ihdr.height);
    int result = 0;
    while ((result = spng_decode_row(context, row.data(), row.size())) == 0) {
    }
    if (result != SPNG_EOI || spng_decode_chunks(context) != 0) return input.Read;
  } catch (...) {
  }
  return 0;
}

// A whole read from memory; damaged data say how far libspng had read (BytesReadAtFault).
template <typename Read>
decltype(auto) NotingDamageInMemory(const std::uint8_t* data, std::size_t size, Read read) {
  return NotingDamage([&] { return BytesReadAtFault(data, size); }, read);
}

}  // namespace

void ReadPng(const std::uint8_t* data, std::size_t size, TBitmap& picture, TPictureExtras& extras) {
  NotingDamageInMemory(data, size, [&] { ReadPngInto(data, size, &picture, nullptr, extras); });
}

void ReadPngDeep(const std::uint8_t* data, std::size_t size, TDeepPicture& deep,
                 TPictureExtras& extras) {
  NotingDamageInMemory(data, size, [&] { ReadPngInto(data, size, nullptr, &deep, extras); });
}

bool ReadPngWithDeep(const std::uint8_t* data, std::size_t size, TBitmap& picture,
                     TDeepPicture& deep, TPictureExtras& extras) {
  return NotingDamageInMemory(data, size, [&] {
    spng_ihdr ihdr{};
    {
      TContext ctx = NewContext();
      TMemoryInput input{data, size};
      Check(spng_set_png_stream(ctx.get(), ReadFromMemory, &input));
      Check(spng_get_ihdr(ctx.get(), &ihdr));
    }
    if (ihdr.bit_depth != 16) {
      ReadPngInto(data, size, &picture, nullptr, extras);
      deep = TDeepPicture();
      return false;
    }
    ReadPngInto(data, size, &picture, &deep, extras);
    return true;
  });
}

namespace {

// The 8-bit rows of an opened file, decoded ahead on a thread of their own; the alpha plane
// goes to extras' (allocated by OpenProgressive).
std::unique_ptr<TRowSource> ReadAhead(TOpenedPng& png, TPictureExtras& extras, bool aside) {
  const std::int32_t width = png.Layout.Width;
  const std::int32_t height = png.Layout.Height;
  auto decoder = std::make_unique<TPngRowDecoder>(
      std::move(png.File), std::move(png.Context), std::move(png.Layout),
      extras.HasAlpha() ? extras.Alpha.data() : nullptr);
  return std::make_unique<TReadAheadRows>(std::move(decoder), width, height, aside);
}

}  // namespace

std::unique_ptr<TRowSource> OpenPngRows(const std::string& path, TPictureExtras& extras,
                                        bool aside) {
  TOpenedPng png = OpenProgressive(path, extras);
  return png.Context ? ReadAhead(png, extras, aside) : nullptr;
}

std::unique_ptr<TDeepRowSource> OpenPngDeepRows(const std::string& path, TPictureExtras& extras,
                                                bool aside) {
  TOpenedPng png = OpenProgressive(path, extras);
  if (!png.Context) return nullptr;
  // 8 bits or fewer: the very rows of OpenPngRows, widened.
  if (!png.Layout.Deep) return std::make_unique<TWidenedRows>(ReadAhead(png, extras, aside));
  const std::int32_t width = png.Layout.Width;
  const std::int32_t height = png.Layout.Height;
  std::uint8_t* alpha = extras.HasAlpha() ? extras.Alpha.data() : nullptr;
  std::unique_ptr<TDeepRowDecoder> decoder;
  if (png.Layout.Format == SPNG_FMT_PNG)
    decoder = std::make_unique<TLibpngDeepRowDecoder>(std::move(png.File), std::move(png.Context),
                                                      std::move(png.Layout), alpha);
  else
    decoder = std::make_unique<TPngDeepRowDecoder>(std::move(png.File), std::move(png.Context),
                                                   std::move(png.Layout), alpha);
  return std::make_unique<TDeepReadAheadRows>(std::move(decoder), width, height, aside);
}

}  // namespace penamo
