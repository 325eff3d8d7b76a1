#include "WebPReader.h"

#include <webp/decode.h>
#include <webp/demux.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Exceptions.h"
#include "FormatSupport.h"
#include "Machine.h"
#include "Upright.h"

namespace penamo {

namespace {

using namespace formats;

[[noreturn]] void RaiseStatus(VP8StatusCode status) {
  switch (status) {
    case VP8_STATUS_NOT_ENOUGH_DATA:
      RaiseTruncated("webp-truncated");
    case VP8_STATUS_OUT_OF_MEMORY:
      RaiseOutOfMemory();
    case VP8_STATUS_UNSUPPORTED_FEATURE:
      RaiseUnsupported("WebP", "webp-unsupported-feature");
    default:
      RaiseInvalid(Msg::InvalidWebP, "webp-bad-bitstream");
  }
}

struct TDemuxDelete {
  void operator()(WebPDemuxer* demux) const { WebPDemuxDelete(demux); }
};
struct TAnimDecoderDelete {
  void operator()(WebPAnimDecoder* decoder) const { WebPAnimDecoderDelete(decoder); }
};

// BGRA pixels into BGR rows and the alpha plane.
void SplitBgra(const std::uint8_t* bgra, std::size_t stride, TPictureBuilder& builder) {
  for (std::int32_t y = 0; y < builder.Height(); ++y) {
    const std::uint8_t* in = bgra + static_cast<std::size_t>(y) * stride;
    std::uint8_t* out = builder.Row(y);
    std::uint8_t* alpha = builder.AlphaRow(y);
    for (std::int32_t x = 0; x < builder.Width(); ++x, in += 4, out += 3) {
      out[0] = in[0];
      out[1] = in[1];
      out[2] = in[2];
      alpha[x] = in[3];
    }
  }
}

void DecodeStill(const std::uint8_t* data, std::size_t size, bool alpha, TPictureBuilder& builder) {
  WebPDecoderConfig config;
  if (!WebPInitDecoderConfig(&config)) RaiseInvalid(Msg::InvalidWebP, "webp-library-version");
  std::vector<std::uint8_t> bgra;
  config.output.is_external_memory = 1;
  if (alpha) {
    const auto stride = static_cast<std::size_t>(builder.Width()) * 4;
    CheckBufferSize(static_cast<std::uint64_t>(builder.Height()), stride, "webp-too-large");
    WithMemory("out-of-memory",
               [&] { bgra.resize(stride * static_cast<std::size_t>(builder.Height())); });
    config.output.colorspace = MODE_BGRA;
    config.output.u.RGBA.rgba = bgra.data();
    config.output.u.RGBA.stride = static_cast<int>(stride);
    config.output.u.RGBA.size = bgra.size();
  } else {
    // Straight into the picture's rows; a bottom-up block is filled upside down.
    config.output.colorspace = MODE_BGR;
    config.output.u.RGBA.rgba = builder.Block();
    config.output.u.RGBA.stride = static_cast<int>(builder.Stride());
    config.output.u.RGBA.size = builder.ByteSize();
    config.options.flip = builder.BottomUp() ? 1 : 0;
  }
  const VP8StatusCode status = WebPDecode(data, size, &config);
  WebPFreeDecBuffer(&config.output);
  if (status != VP8_STATUS_OK) RaiseStatus(status);
  if (alpha) SplitBgra(bgra.data(), static_cast<std::size_t>(builder.Width()) * 4, builder);
}

void DecodeFirstFrame(const WebPData& webp, TPictureBuilder& builder) {
  WebPAnimDecoderOptions options;
  if (!WebPAnimDecoderOptionsInit(&options)) RaiseInvalid(Msg::InvalidWebP, "webp-library-version");
  options.color_mode = MODE_BGRA;
  options.use_threads = 0;
  const std::unique_ptr<WebPAnimDecoder, TAnimDecoderDelete> decoder(
      WebPAnimDecoderNew(&webp, &options));
  if (!decoder) RaiseInvalid(Msg::InvalidWebP, "webp-bad-animation");
  std::uint8_t* frame = nullptr;
  int timestamp = 0;
  if (!WebPAnimDecoderGetNext(decoder.get(), &frame, &timestamp)) {
    RaiseInvalid(Msg::InvalidWebP, "webp-bad-animation-frame");
  }
  SplitBgra(frame, static_cast<std::size_t>(builder.Width()) * 4, builder);
}

// Pixels a byte of this coding may claim: an animation (format 0) may hold lossless frames.
std::uint64_t ClaimRatio(const WebPBitstreamFeatures& features) {
  return features.format == 1 ? PixelsPerByte::WebPLossy : PixelsPerByte::WebPLossless;
}

// How far libwebp reads a still picture before it refuses it as damaged: WebPDecode takes the
// whole file and does not tell, so the file is decoded again by the incremental decoder, handed
// kStep bytes more each time; the bytes handed over when it refuses are where it stopped, at
// most kStep past it. 0 when it does not refuse (an animation, which it does not decode).
std::uint64_t BytesReadAtFault(const std::uint8_t* data, std::size_t size) noexcept {
  constexpr std::size_t kStep = 4096;
  WebPIDecoder* decoder = WebPINewDecoder(nullptr);
  if (decoder == nullptr) return 0;
  std::uint64_t read = 0;
  for (std::size_t given = std::min(kStep, size);; given = std::min(given + kStep, size)) {
    const VP8StatusCode status = WebPIUpdate(decoder, data, given);
    if (status == VP8_STATUS_BITSTREAM_ERROR) {
      read = given;
      break;
    }
    if (status != VP8_STATUS_SUSPENDED || given == size) break;
  }
  WebPIDelete(decoder);
  return read;
}

void ReadWebPFrom(const std::uint8_t* data, std::size_t size, TBitmap& picture,
                  TPictureExtras& extras) {
  WebPBitstreamFeatures features;
  const VP8StatusCode status = WebPGetFeatures(data, size, &features);
  if (status != VP8_STATUS_OK) RaiseStatus(status);
  CheckPictureSize(features.width, features.height, Msg::InvalidWebP, "webp");

  const WebPData webp{data, size};
  WebPDemuxState state = WEBP_DEMUX_PARSE_ERROR;
  const std::unique_ptr<WebPDemuxer, TDemuxDelete> demux(WebPDemuxPartial(&webp, &state));
  if (!demux || state == WEBP_DEMUX_PARSE_ERROR)
    RaiseInvalid(Msg::InvalidWebP, "webp-bad-container");
  if (state != WEBP_DEMUX_DONE) RaiseTruncated("webp-truncated");
  // The canvas of an animation is the picture; checked before a frame is decoded.
  const auto width = static_cast<std::int64_t>(WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_WIDTH));
  const auto height = static_cast<std::int64_t>(WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_HEIGHT));
  CheckClaimedSize(width, height, size, ClaimRatio(features), "webp");
  CheckPictureSize(width, height, Msg::InvalidWebP, "webp");
  if (features.has_animation)
    CheckBufferSize(static_cast<std::uint64_t>(height), 4u * width, "webp-too-large");

  const bool alpha = features.has_alpha != 0;
  TPictureBuilder builder(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height),
                          alpha || features.has_animation);
  if (features.has_animation) {
    DecodeFirstFrame(webp, builder);
  } else {
    DecodeStill(data, size, alpha, builder);
  }

  TPictureExtras& kept = builder.Extras();
  WebPChunkIterator chunk;
  const auto take = [&](const char* name) {
    std::vector<std::uint8_t> bytes;
    if (WebPDemuxGetChunk(demux.get(), name, 1, &chunk)) {
      WithMemory("out-of-memory",
                 [&] { bytes.assign(chunk.chunk.bytes, chunk.chunk.bytes + chunk.chunk.size); });
      WebPDemuxReleaseChunkIterator(&chunk);
    }
    return bytes;
  };
  kept.ColorProfile = take("ICCP");
  const std::vector<std::uint8_t> exif = take("EXIF");
  kept.Exif = ExifBlockOf(exif.data(), exif.size());
  kept.Xmp = take("XMP ");
  // Turned upright as the EXIF block says, which then says so no longer.
  const int orientation = ExifBlockOrientation(kept.Exif.data(), kept.Exif.size());
  ResetExifOrientation(kept.Exif);
  InstallUpright(builder, orientation, picture, extras);
}

}  // namespace

void ReadWebP(const std::uint8_t* data, std::size_t size, TBitmap& picture,
              TPictureExtras& extras) {
  NotingDamage([&] { return BytesReadAtFault(data, size); },
               [&] { ReadWebPFrom(data, size, picture, extras); });
}

}  // namespace penamo
