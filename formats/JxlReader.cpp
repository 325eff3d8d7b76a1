#include "JxlReader.h"

#include <jxl/decode.h>
#include <jxl/thread_parallel_runner.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "Exceptions.h"
#include "FormatSupport.h"
#include "Machine.h"
#include "Upright.h"

namespace penamo {

namespace {

using namespace formats;

struct TDecoderDestroy {
  void operator()(JxlDecoder* decoder) const { JxlDecoderDestroy(decoder); }
};
struct TRunnerDestroy {
  void operator()(void* runner) const { JxlThreadParallelRunnerDestroy(runner); }
};

[[noreturn]] void RaiseBad(const char* what) {
  RaiseInvalid(Msg::InvalidJxl, std::string("jxl-") + what);
}

void Check(JxlDecoderStatus status, const char* what) {
  if (status != JXL_DEC_SUCCESS) RaiseBad(what);
}

// The first frame as the decoder hands it over: interleaved samples, 8-bit or native-endian
// 16-bit, one (grey) or three colour channels and perhaps alpha, rows top to bottom.
struct TDecoded {
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  bool Grey = false;
  bool Alpha = false;
  bool Deep = false;
  std::size_t Channels = 3;
  std::vector<std::uint8_t> Pixels;
  std::vector<std::uint8_t> Profile;
  std::vector<std::uint8_t> Exif;
  std::vector<std::uint8_t> Xmp;
};

std::uint64_t BigEndian(const std::uint8_t* p, int bytes) {
  std::uint64_t value = 0;
  for (int i = 0; i < bytes; ++i)
    value = (value << 8) | p[i];
  return value;
}

// A metadata box unpacked to more than this is left out: no EXIF block or XMP packet a camera or
// editor writes comes near it, and a few compressed bytes cannot make the reader hold more.
constexpr std::size_t kMetadataBoxLimit = 16u << 20;

// The EXIF block of an "Exif" box's content: the offset of the TIFF header within what follows,
// then the block. Its orientation is reset, as the codestream's own orientation turns the
// picture. Empty when the offset points past the content.
std::vector<std::uint8_t> ExifOfBox(const std::vector<std::uint8_t>& content) {
  if (content.size() < 4) return {};
  const std::uint64_t offset = BigEndian(content.data(), 4);
  if (offset > content.size() - 4) return {};
  std::vector<std::uint8_t> exif = ExifBlockOf(
      content.data() + 4 + offset, content.size() - 4 - static_cast<std::size_t>(offset));
  ResetExifOrientation(exif);
  return exif;
}

// The EXIF block and the XMP packet of a container's first "Exif" and "xml " boxes, read through
// the decoder's box events, so that boxes stored Brotli-compressed ("brob", as cjxl stores a
// JPEG's EXIF) are unpacked too. A bare codestream has no boxes. Metadata that cannot be had (a
// damaged box, one over the limit) is left out rather than refusing a picture that decoded.
void TakeMetadata(const std::uint8_t* data, std::size_t size, TDecoded& decoded) {
  const std::unique_ptr<JxlDecoder, TDecoderDestroy> decoder(JxlDecoderCreate(nullptr));
  if (!decoder) RaiseOutOfMemory();
  JxlDecoder* dec = decoder.get();
  if (JxlDecoderSubscribeEvents(dec, JXL_DEC_BOX) != JXL_DEC_SUCCESS ||
      JxlDecoderSetDecompressBoxes(dec, JXL_TRUE) != JXL_DEC_SUCCESS ||
      JxlDecoderSetInput(dec, data, size) != JXL_DEC_SUCCESS)
    return;
  JxlDecoderCloseInput(dec);
  std::vector<std::uint8_t> content;  // of the box being read, when it is one of the two
  bool exif = false;
  bool reading = false;
  // The box read so far ends here (at the next box or the end of the file).
  const auto finish = [&] {
    if (!reading) return;
    reading = false;
    content.resize(content.size() - JxlDecoderReleaseBoxBuffer(dec));
    if (exif) {
      decoded.Exif = ExifOfBox(content);
    } else {
      decoded.Xmp = std::move(content);
    }
    content = {};
  };
  for (;;) {
    const JxlDecoderStatus status = JxlDecoderProcessInput(dec);
    if (status == JXL_DEC_BOX) {
      finish();
      JxlBoxType type{};
      if (JxlDecoderGetBoxType(dec, type, JXL_TRUE) != JXL_DEC_SUCCESS) return;
      exif = std::memcmp(type, "Exif", 4) == 0 && decoded.Exif.empty();
      const bool xmp = std::memcmp(type, "xml ", 4) == 0 && decoded.Xmp.empty();
      if (!exif && !xmp) continue;
      WithMemory("out-of-memory", [&] { content.resize(64u << 10); });
      if (JxlDecoderSetBoxBuffer(dec, content.data(), content.size()) != JXL_DEC_SUCCESS) return;
      reading = true;
    } else if (status == JXL_DEC_BOX_NEED_MORE_OUTPUT && reading) {
      const std::size_t used = content.size() - JxlDecoderReleaseBoxBuffer(dec);
      if (content.size() >= kMetadataBoxLimit) return;
      WithMemory("out-of-memory",
                 [&] { content.resize(std::min(2 * content.size(), kMetadataBoxLimit)); });
      if (JxlDecoderSetBoxBuffer(dec, content.data() + used, content.size() - used) !=
          JXL_DEC_SUCCESS)
        return;
    } else {
      // The end of the file, or a box the decoder cannot read: what was whole is kept.
      if (status == JXL_DEC_SUCCESS) finish();
      return;
    }
  }
}

// Whether the samples are plain sRGB, which needs no profile to be understood.
bool IsSrgb(const JxlColorEncoding& encoding) {
  if (encoding.white_point != JXL_WHITE_POINT_D65 ||
      encoding.transfer_function != JXL_TRANSFER_FUNCTION_SRGB)
    return false;
  if (encoding.color_space == JXL_COLOR_SPACE_GRAY) return true;
  return encoding.color_space == JXL_COLOR_SPACE_RGB && encoding.primaries == JXL_PRIMARIES_SRGB;
}

std::vector<std::uint8_t> DataProfile(const JxlDecoder* decoder) {
  JxlColorEncoding encoding{};
  if (JxlDecoderGetColorAsEncodedProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                                         &encoding) == JXL_DEC_SUCCESS &&
      IsSrgb(encoding))
    return {};
  std::size_t size = 0;
  if (JxlDecoderGetICCProfileSize(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &size) !=
          JXL_DEC_SUCCESS ||
      size == 0)
    return {};
  CheckBufferSize(size, 1, "jxl-profile-too-large");
  std::vector<std::uint8_t> profile;
  try {
    profile.resize(size);
  } catch (const std::bad_alloc&) {
    RaiseOutOfMemory();
  }
  Check(JxlDecoderGetColorAsICCProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                                       profile.data(), size),
        "bad-profile");
  return profile;
}

// What the decoder takes beside the picture, refused before any of it is made: its own planes
// are 32-bit floats, three of them even for a grey picture (measured: a grey 22000² frame takes
// 12.4 bytes a pixel at its peak), one more for alpha, and the interleaved output.
void CheckDecoderMemory(std::int64_t width, std::int64_t height, const TDecoded& decoded) {
  const std::uint64_t planes = 3 + (decoded.Alpha ? 1 : 0);
  const std::uint64_t output = decoded.Channels * (decoded.Deep ? 2 : 1);
  CheckBufferSize(static_cast<std::uint64_t>(height),
                  static_cast<std::uint64_t>(width) * (4 * planes + output), "jxl-too-large");
}

TDecoded Decode(const std::uint8_t* data, std::size_t size) {
  const JxlSignature signature = JxlSignatureCheck(data, size);
  if (signature == JXL_SIG_NOT_ENOUGH_BYTES) RaiseTruncated("jxl-truncated");
  if (signature != JXL_SIG_CODESTREAM && signature != JXL_SIG_CONTAINER) RaiseBad("bad-signature");

  const std::unique_ptr<JxlDecoder, TDecoderDestroy> decoder(JxlDecoderCreate(nullptr));
  if (!decoder) RaiseOutOfMemory();
  JxlDecoder* dec = decoder.get();
  const std::unique_ptr<void, TRunnerDestroy> runner(
      JxlThreadParallelRunnerCreate(nullptr, JxlThreadParallelRunnerDefaultNumWorkerThreads()));
  if (!runner) RaiseOutOfMemory();
  Check(JxlDecoderSetParallelRunner(dec, JxlThreadParallelRunner, runner.get()), "runner");
  Check(JxlDecoderSubscribeEvents(dec,
                                  JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING | JXL_DEC_FULL_IMAGE),
        "events");
  Check(JxlDecoderSetKeepOrientation(dec, JXL_FALSE), "orientation");
  Check(JxlDecoderSetUnpremultiplyAlpha(dec, JXL_TRUE), "unpremultiply");
  Check(JxlDecoderSetInput(dec, data, size), "input");
  JxlDecoderCloseInput(dec);

  TDecoded decoded;
  JxlPixelFormat format{3, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
  bool haveInfo = false;
  for (;;) {
    const JxlDecoderStatus status = JxlDecoderProcessInput(dec);
    switch (status) {
      case JXL_DEC_ERROR:
        RaiseBad("bad-codestream");
      case JXL_DEC_NEED_MORE_INPUT:
        RaiseTruncated("jxl-truncated");
      case JXL_DEC_BASIC_INFO: {
        JxlBasicInfo info{};
        Check(JxlDecoderGetBasicInfo(dec, &info), "bad-header");
        // The sizes are stored before the orientation turns them; 5..8 swap them.
        const bool swapped = info.orientation >= JXL_ORIENT_TRANSPOSE;
        const std::int64_t width = swapped ? info.ysize : info.xsize;
        const std::int64_t height = swapped ? info.xsize : info.ysize;
        CheckClaimedSize(width, height, size, PixelsPerByte::Jxl, "jxl");
        CheckPictureSize(width, height, Msg::InvalidJxl, "jxl");
        decoded.Width = static_cast<std::int32_t>(width);
        decoded.Height = static_cast<std::int32_t>(height);
        decoded.Grey = info.num_color_channels == 1;
        decoded.Alpha = info.alpha_bits > 0;
        decoded.Deep = info.bits_per_sample > 8 || info.exponent_bits_per_sample > 0;
        decoded.Channels = (decoded.Grey ? 1u : 3u) + (decoded.Alpha ? 1u : 0u);
        format.num_channels = static_cast<std::uint32_t>(decoded.Channels);
        format.data_type = decoded.Deep ? JXL_TYPE_UINT16 : JXL_TYPE_UINT8;
        CheckDecoderMemory(width, height, decoded);
        haveInfo = true;
        break;
      }
      case JXL_DEC_COLOR_ENCODING:
        decoded.Profile = DataProfile(dec);
        break;
      case JXL_DEC_NEED_IMAGE_OUT_BUFFER: {
        if (!haveInfo) RaiseBad("no-header");
        std::size_t bytes = 0;
        Check(JxlDecoderImageOutBufferSize(dec, &format, &bytes), "bad-buffer");
        const std::size_t expected = static_cast<std::size_t>(decoded.Width) *
                                     static_cast<std::size_t>(decoded.Height) * decoded.Channels *
                                     (decoded.Deep ? 2 : 1);
        if (bytes != expected) RaiseBad("bad-buffer-size");
        CheckBufferSize(bytes, 1, "jxl-too-large");
        try {
          decoded.Pixels.resize(bytes);
        } catch (const std::bad_alloc&) {
          RaiseOutOfMemory();
        }
        Check(JxlDecoderSetImageOutBuffer(dec, &format, decoded.Pixels.data(), bytes),
              "bad-buffer");
        break;
      }
      case JXL_DEC_FULL_IMAGE:
        // The first frame is the picture; an animation's later frames are not decoded.
        if (decoded.Pixels.empty()) RaiseBad("no-pixels");
        if (signature == JXL_SIG_CONTAINER) TakeMetadata(data, size, decoded);
        return decoded;
      case JXL_DEC_SUCCESS:
        RaiseBad("no-frame");
      default:
        RaiseBad("unexpected-event");
    }
  }
}

// Sample index of a decoded row as a full-scale 16-bit value.
std::uint16_t Sample16(const TDecoded& decoded, const std::uint8_t* row, std::size_t index) {
  if (!decoded.Deep) return static_cast<std::uint16_t>(row[index] * 257u);
  std::uint16_t value;
  std::memcpy(&value, row + 2 * index, 2);
  return value;
}

const std::uint8_t* DecodedRow(const TDecoded& decoded, std::int32_t y) {
  return decoded.Pixels.data() + static_cast<std::size_t>(y) *
                                     static_cast<std::size_t>(decoded.Width) * decoded.Channels *
                                     (decoded.Deep ? 2 : 1);
}

}  // namespace

namespace {

void Install8Bits(TDecoded& decoded, TBitmap& picture, TPictureExtras& extras) {
  TPictureBuilder builder(decoded.Width, decoded.Height, decoded.Alpha);
  const std::size_t colour = decoded.Grey ? 1 : 3;
  for (std::int32_t y = 0; y < decoded.Height; ++y) {
    const std::uint8_t* in = DecodedRow(decoded, y);
    std::uint8_t* bgr = builder.Row(y);
    std::uint8_t* alpha = decoded.Alpha ? builder.AlphaRow(y) : nullptr;
    for (std::int32_t x = 0; x < decoded.Width; ++x, bgr += 3) {
      const std::size_t i = static_cast<std::size_t>(x) * decoded.Channels;
      const auto at = [&](std::size_t c) -> std::uint8_t {
        return decoded.Deep ? To8Bits(Sample16(decoded, in, i + c)) : in[i + c];
      };
      bgr[2] = at(0);
      bgr[1] = decoded.Grey ? bgr[2] : at(1);
      bgr[0] = decoded.Grey ? bgr[2] : at(2);
      if (alpha != nullptr) alpha[x] = at(colour);
    }
  }
  builder.Extras().ColorProfile = decoded.Profile;
  builder.Extras().Exif = decoded.Exif;
  builder.Extras().Xmp = decoded.Xmp;
  builder.Install(picture, extras);
}

void InstallDeep(TDecoded& decoded, TDeepPicture& picture, TPictureExtras& extras) {
  TDeepPictureBuilder builder(decoded.Width, decoded.Height, decoded.Alpha, "jxl-too-large");
  WithMemory("out-of-memory", [&] {
    builder.Extras().ColorProfile = decoded.Profile;
    builder.Extras().Exif = decoded.Exif;
    builder.Extras().Xmp = decoded.Xmp;
  });
  const auto width = static_cast<std::size_t>(decoded.Width);
  const std::size_t colour = decoded.Grey ? 1 : 3;
  for (std::int32_t y = 0; y < decoded.Height; ++y) {
    const std::uint8_t* in = DecodedRow(decoded, y);
    std::uint16_t* out = builder.Row(y);
    std::uint8_t* alpha = builder.AlphaRow(y);
    for (std::size_t x = 0; x < width; ++x, out += 3) {
      const std::size_t i = x * decoded.Channels;
      out[2] = Sample16(decoded, in, i);
      out[1] = decoded.Grey ? out[2] : Sample16(decoded, in, i + 1);
      out[0] = decoded.Grey ? out[2] : Sample16(decoded, in, i + 2);
      if (alpha != nullptr) alpha[x] = To8Bits(Sample16(decoded, in, i + colour));
    }
  }
  builder.Install(picture, extras);
}

}  // namespace

void ReadJxl(const std::uint8_t* data, std::size_t size, TBitmap& picture, TPictureExtras& extras) {
  TDecoded decoded = Decode(data, size);
  Install8Bits(decoded, picture, extras);
}

void ReadJxlDeep(const std::uint8_t* data, std::size_t size, TDeepPicture& picture,
                 TPictureExtras& extras) {
  TDecoded decoded = Decode(data, size);
  InstallDeep(decoded, picture, extras);
}

bool ReadJxlWithDeep(const std::uint8_t* data, std::size_t size, TBitmap& picture,
                     TDeepPicture& deep, TPictureExtras& extras) {
  TDecoded decoded = Decode(data, size);
  TDeepPicture readDeep;
  if (decoded.Deep) {
    TPictureExtras deepExtras;
    InstallDeep(decoded, readDeep, deepExtras);
  }
  Install8Bits(decoded, picture, extras);
  deep = std::move(readDeep);
  return decoded.Deep;
}

}  // namespace penamo
