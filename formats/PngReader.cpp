#include "PngReader.h"

#include <spng.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Exceptions.h"
#include "FormatSupport.h"
#include "Limits.h"

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

// One decoded row (RGBA8, RGBA16 or RGB8 as decoded) into the picture's BGR row and alpha row.
void StoreRow(const std::uint8_t* decoded, int format, std::int32_t width, std::uint8_t* bgr,
              std::uint8_t* alpha) {
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

}  // namespace

void ReadPng(const std::uint8_t* data, std::size_t size, TBitmap& picture, TPictureExtras& extras) {
  // The chunks' CRCs already guard every compressed byte; the stream's own checksum over the
  // whole inflated picture would cost a serial pass as long as the inflation's fastest part.
  TContext ctx(spng_ctx_new(SPNG_CTX_IGNORE_ADLER32));
  if (!ctx) RaiseOutOfMemory();
  // Limits first, before the first byte is decoded.
  Check(spng_set_image_limits(ctx.get(), static_cast<std::uint32_t>(kMaxDimension),
                              static_cast<std::uint32_t>(kMaxDimension)));
  Check(spng_set_chunk_limits(ctx.get(), kChunkSizeLimit, kChunkCacheLimit));
  Check(spng_set_crc_action(ctx.get(), SPNG_CRC_ERROR, SPNG_CRC_DISCARD));
  Check(spng_set_png_buffer(ctx.get(), data, size));

  spng_ihdr ihdr{};
  Check(spng_get_ihdr(ctx.get(), &ihdr));
  CheckPictureSize(ihdr.width, ihdr.height, Msg::InvalidPng, "png");
  const auto width = static_cast<std::int32_t>(ihdr.width);
  const auto height = static_cast<std::int32_t>(ihdr.height);

  spng_trns trns{};
  const int trnsResult = spng_get_trns(ctx.get(), &trns);
  if (trnsResult != 0 && trnsResult != SPNG_ECHUNKAVAIL) RaiseError(trnsResult);
  const bool alpha = (ihdr.color_type & 4) != 0 || trnsResult == 0;
  const int format = ihdr.bit_depth == 16 ? SPNG_FMT_RGBA16
                     : alpha              ? SPNG_FMT_RGBA8
                                          : SPNG_FMT_RGB8;
  const std::size_t pixelBytes = format == SPNG_FMT_RGBA16 ? 8 : format == SPNG_FMT_RGBA8 ? 4 : 3;
  const std::size_t rowBytes = pixelBytes * static_cast<std::size_t>(width);

  // An interlaced picture's passes each touch every row, so it is decoded whole; any other
  // picture row by row through one row buffer.
  const bool interlaced = ihdr.interlace_method != 0;
  if (interlaced) CheckBufferSize(static_cast<std::uint64_t>(height), rowBytes, "png-too-large");
  TPictureBuilder builder(width, height, alpha);
  std::vector<std::uint8_t> decoded;
  try {
    if (interlaced || format != SPNG_FMT_RGB8)
      decoded.resize(interlaced ? rowBytes * static_cast<std::size_t>(height) : rowBytes);
  } catch (const std::bad_alloc&) {
    RaiseOutOfMemory();
  }

  if (interlaced) {
    Check(spng_decode_image(ctx.get(), decoded.data(), decoded.size(), format, SPNG_DECODE_TRNS));
  } else {
    Check(spng_decode_image(ctx.get(), nullptr, 0, format,
                            SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE));
  }
  for (std::int32_t y = 0; y < height; ++y) {
    std::uint8_t* target = builder.Row(y);
    // RGB rows are decoded straight into the picture's row and turned to BGR in place.
    const bool direct = !interlaced && format == SPNG_FMT_RGB8;
    const std::uint8_t* row = decoded.data();
    if (interlaced) {
      row += rowBytes * static_cast<std::size_t>(y);
    } else {
      const int result = spng_decode_row(ctx.get(), direct ? target : decoded.data(), rowBytes);
      // The last row reports the end of the image.
      if (result != 0 && !(result == SPNG_EOI && y == height - 1)) RaiseError(result);
    }
    if (direct) {
      for (std::size_t i = 0; i < rowBytes; i += 3)
        std::swap(target[i], target[i + 2]);
    } else {
      StoreRow(row, format, width, target, alpha ? builder.AlphaRow(y) : nullptr);
    }
  }

  spng_iccp iccp{};
  const int iccpResult = spng_get_iccp(ctx.get(), &iccp);
  if (iccpResult == 0 && iccp.profile_len > 0) {
    const auto* profile = reinterpret_cast<const std::uint8_t*>(iccp.profile);
    builder.Extras().ColorProfile.assign(profile, profile + iccp.profile_len);
  } else if (iccpResult != 0 && iccpResult != SPNG_ECHUNKAVAIL) {
    RaiseError(iccpResult);
  }
  builder.Install(picture, extras);
}

}  // namespace penamo
