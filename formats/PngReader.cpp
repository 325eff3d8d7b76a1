#include "PngReader.h"

#include <spng.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Exceptions.h"
#include "FormatSupport.h"
#include "Limits.h"
#include "Machine.h"
#include "ReadAheadRows.h"
#include "Stream.h"

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
  int Format = SPNG_FMT_RGB8;  // what spng decodes to: RGB8, RGBA8 or RGBA16
  std::size_t RowBytes = 0;    // of a decoded row
  std::vector<std::uint8_t> Profile;
};

// Reads the header, checks the size against the storage limit and takes the colour profile.
TPngLayout ReadLayout(spng_ctx* ctx) {
  TPngLayout layout;
  spng_ihdr ihdr{};
  Check(spng_get_ihdr(ctx, &ihdr));
  CheckPictureSize(ihdr.width, ihdr.height, Msg::InvalidPng, "png");
  layout.Width = static_cast<std::int32_t>(ihdr.width);
  layout.Height = static_cast<std::int32_t>(ihdr.height);

  spng_trns trns{};
  const int trnsResult = spng_get_trns(ctx, &trns);
  if (trnsResult != 0 && trnsResult != SPNG_ECHUNKAVAIL) RaiseError(trnsResult);
  layout.Alpha = (ihdr.color_type & 4) != 0 || trnsResult == 0;
  layout.Format = ihdr.bit_depth == 16 ? SPNG_FMT_RGBA16
                  : layout.Alpha       ? SPNG_FMT_RGBA8
                                       : SPNG_FMT_RGB8;
  const std::size_t pixelBytes = layout.Format == SPNG_FMT_RGBA16  ? 8
                                 : layout.Format == SPNG_FMT_RGBA8 ? 4
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
  return layout;
}

std::vector<std::uint8_t> AllocateBytes(std::size_t size) {
  return WithMemory("out-of-memory", [&] { return std::vector<std::uint8_t>(size); });
}

// Decodes row y of a non-interlaced picture (the next one) into target's BGR row; decoded is a
// row of the decoded format, unused for RGB8, which is decoded in place.
void DecodePngRow(spng_ctx* ctx, const TPngLayout& layout, std::int32_t y, std::uint8_t* target,
                  std::vector<std::uint8_t>& decoded, std::uint8_t* alpha) {
  const bool direct = layout.Format == SPNG_FMT_RGB8;
  const int result = spng_decode_row(ctx, direct ? target : decoded.data(), layout.RowBytes);
  // The last row reports the end of the image.
  if (result != 0 && !(result == SPNG_EOI && y == layout.Height - 1)) RaiseError(result);
  // After the last row the file is read to its end, so that a file cut after the pixels (in
  // the last chunk's checksum, or before IEND) is refused as any other cut file.
  if (y == layout.Height - 1) Check(spng_decode_chunks(ctx));
  if (direct) {
    for (std::size_t i = 0; i < layout.RowBytes; i += 3)
      std::swap(target[i], target[i + 2]);
  } else {
    StoreRow(decoded.data(), layout.Format, layout.Width, target, alpha);
  }
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

// A non-interlaced PNG file's rows, one at a time, for TReadAheadRows.
class TPngRowDecoder final : public TRowDecoder {
 public:
  TPngRowDecoder(std::unique_ptr<TFileStream> file, TContext ctx, TPngLayout layout,
                 std::uint8_t* alpha)
      : FFile(std::move(file)),
        FContext(std::move(ctx)),
        FLayout(std::move(layout)),
        FAlpha(alpha),
        FDecoded(FLayout.Format == SPNG_FMT_RGB8 ? std::vector<std::uint8_t>()
                                                 : AllocateBytes(FLayout.RowBytes)) {}

  void DecodeRow(std::int32_t y, std::uint8_t* bgr) override {
    std::uint8_t* alpha = FAlpha != nullptr ? FAlpha + static_cast<std::size_t>(y) *
                                                           static_cast<std::size_t>(FLayout.Width)
                                            : nullptr;
    DecodePngRow(FContext.get(), FLayout, y, bgr, FDecoded, alpha);
  }

  int Handle() const override { return FFile->Handle(); }

 private:
  std::unique_ptr<TFileStream> FFile;
  TContext FContext;
  TPngLayout FLayout;
  std::uint8_t* FAlpha;
  std::vector<std::uint8_t> FDecoded;
};

}  // namespace

void ReadPng(const std::uint8_t* data, std::size_t size, TBitmap& picture, TPictureExtras& extras) {
  TContext ctx = NewContext();
  Check(spng_set_png_buffer(ctx.get(), data, size));
  TPngLayout layout = ReadLayout(ctx.get());
  const std::int32_t height = layout.Height;

  // An interlaced picture's passes each touch every row, so it is decoded whole; any other
  // picture row by row through one row buffer.
  if (layout.Interlaced)
    CheckBufferSize(static_cast<std::uint64_t>(height), layout.RowBytes, "png-too-large");
  TPictureBuilder builder(layout.Width, height, layout.Alpha);
  std::vector<std::uint8_t> decoded;
  if (layout.Interlaced || layout.Format != SPNG_FMT_RGB8)
    decoded = AllocateBytes(layout.Interlaced ? layout.RowBytes * static_cast<std::size_t>(height)
                                              : layout.RowBytes);

  if (layout.Interlaced) {
    Check(spng_decode_image(ctx.get(), decoded.data(), decoded.size(), layout.Format,
                            SPNG_DECODE_TRNS));
    Check(spng_decode_chunks(ctx.get()));  // to the file's end, as for any other picture
    for (std::int32_t y = 0; y < height; ++y)
      StoreRow(decoded.data() + layout.RowBytes * static_cast<std::size_t>(y), layout.Format,
               layout.Width, builder.Row(y), layout.Alpha ? builder.AlphaRow(y) : nullptr);
  } else {
    Check(spng_decode_image(ctx.get(), nullptr, 0, layout.Format,
                            SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE));
    for (std::int32_t y = 0; y < height; ++y)
      DecodePngRow(ctx.get(), layout, y, builder.Row(y), decoded,
                   layout.Alpha ? builder.AlphaRow(y) : nullptr);
  }
  builder.Extras().ColorProfile = std::move(layout.Profile);
  builder.Install(picture, extras);
}

std::unique_ptr<TRowSource> OpenPngRows(const std::string& path, TPictureExtras& extras,
                                        bool aside) {
  auto file = std::make_unique<TFileStream>(path);
  TContext ctx = NewContext();
  Check(spng_set_png_stream(ctx.get(), ReadFromStream, file.get()));
  TPngLayout layout = ReadLayout(ctx.get());
  if (layout.Interlaced) return nullptr;
  Check(spng_decode_image(ctx.get(), nullptr, 0, layout.Format,
                          SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE));
  TPictureExtras read;
  if (layout.Alpha) {
    CheckBufferSize(static_cast<std::uint64_t>(layout.Width),
                    static_cast<std::uint64_t>(layout.Height), "png-alpha-too-large");
    read.Alpha = AllocateBytes(static_cast<std::size_t>(layout.Width) *
                               static_cast<std::size_t>(layout.Height));
  }
  read.ColorProfile = std::move(layout.Profile);
  const std::int32_t width = layout.Width;
  const std::int32_t height = layout.Height;
  extras = std::move(read);
  auto decoder =
      std::make_unique<TPngRowDecoder>(std::move(file), std::move(ctx), std::move(layout),
                                       extras.HasAlpha() ? extras.Alpha.data() : nullptr);
  return std::make_unique<TReadAheadRows>(std::move(decoder), width, height, aside);
}

}  // namespace penamo
