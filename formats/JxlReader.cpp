#include "JxlReader.h"

#include <lcms2.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "DeepRowSource.h"
#include "Exceptions.h"
#include "FormatSupport.h"
#include "JxlLibrary.h"
#include "LibraryText.h"
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

// A new decoder, its library (and the thread pool's) silenced first: libjxl as Debian builds it
// prints a line of its own for every failure a damaged file meets, and our message is the one
// the user is to read.
std::unique_ptr<JxlDecoder, TDecoderDestroy> NewDecoder() {
  static std::once_flag silenced;
  std::call_once(silenced, [] {
    SilenceLibraryText(reinterpret_cast<const void*>(JxlDecoderCreate));
    SilenceLibraryText(reinterpret_cast<const void*>(JxlThreadParallelRunnerCreate));
  });
  return std::unique_ptr<JxlDecoder, TDecoderDestroy>(JxlDecoderCreate(nullptr));
}

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
  bool Coded = false;  // samples as coded, in the file's own profile (not XYB)
  // Coded colour samples in linear light (a lossless picture from linear data), which are
  // decoded at 16 bits and given sRGB's tone curve (EncodeLinear).
  bool Linear = false;
  JxlColorEncoding Encoding{};  // the coded colour, where Linear
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
  const std::unique_ptr<JxlDecoder, TDecoderDestroy> decoder = NewDecoder();
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
  WithMemory(kOutOfMemory, [&] { profile.resize(size); });
  Check(JxlDecoderGetColorAsICCProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                                       profile.data(), size),
        "bad-profile");
  return profile;
}

// A picture with a black (K) channel is composited from it and its colour channels through a
// CMYK profile, which the decoder here does not do: refused rather than shown without its black.
void RefuseBlackChannel(JxlDecoder* dec, const JxlBasicInfo& info) {
  for (std::uint32_t i = 0; i < info.num_extra_channels; ++i) {
    JxlExtraChannelInfo channel{};
    Check(JxlDecoderGetExtraChannelInfo(dec, i, &channel), "bad-extra-channel");
    if (channel.type == JXL_CHANNEL_BLACK) RaiseUnsupported("JPEG XL", "jxl-black-channel");
  }
}

// The colour the samples are asked for, where the decoder has the choice (a picture coded in its
// own XYB space): the picture's own encoded colour space when it names one that is not linear,
// otherwise sRGB (grey with sRGB's tone curve for a grey picture), never the linear light the
// decoder would give by default, which 8 or 16 bits cannot hold without banding in the shadows.
void PreferEncodedColour(JxlDecoder* dec, const JxlBasicInfo& info) {
  if (info.uses_original_profile) return;
  JxlColorEncoding wanted{};
  if (JxlDecoderGetColorAsEncodedProfile(dec, nullptr, JXL_COLOR_PROFILE_TARGET_ORIGINAL,
                                         &wanted) != JXL_DEC_SUCCESS ||
      wanted.transfer_function == JXL_TRANSFER_FUNCTION_LINEAR ||
      wanted.transfer_function == JXL_TRANSFER_FUNCTION_UNKNOWN ||
      wanted.color_space == JXL_COLOR_SPACE_XYB || wanted.color_space == JXL_COLOR_SPACE_UNKNOWN) {
    wanted = JxlColorEncoding{};
    wanted.color_space = info.num_color_channels == 1 ? JXL_COLOR_SPACE_GRAY : JXL_COLOR_SPACE_RGB;
    wanted.white_point = JXL_WHITE_POINT_D65;
    wanted.primaries = JXL_PRIMARIES_SRGB;
    wanted.transfer_function = JXL_TRANSFER_FUNCTION_SRGB;
    wanted.rendering_intent = JXL_RENDERING_INTENT_PERCEPTUAL;
  }
  Check(JxlDecoderSetPreferredColorProfile(dec, &wanted), "bad-colour-preference");
}

struct TProfileClose {
  void operator()(void* profile) const { cmsCloseProfile(profile); }
};
struct TTransformDelete {
  void operator()(void* transform) const { cmsDeleteTransform(transform); }
};

// A grey picture whose samples are in a grey ICC profile (coded as it is, so the decoder cannot
// convert it) converted exactly, at 16 bits, to grey with sRGB's tone curve: the picture is made
// of RGB samples, which a grey profile cannot describe. True when converted; false leaves the
// samples and profile as they are (the profile is then not a grey one or cannot be read).
bool ConvertGreyProfile(std::vector<std::uint8_t>& pixels, std::size_t count, std::size_t channels,
                        const std::vector<std::uint8_t>& profile) {
  const std::unique_ptr<void, TProfileClose> source(
      cmsOpenProfileFromMem(profile.data(), static_cast<cmsUInt32Number>(profile.size())));
  if (!source || cmsGetColorSpace(source.get()) != cmsSigGrayData) return false;
  const cmsFloat64Number srgbCurve[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
  cmsToneCurve* curve = cmsBuildParametricToneCurve(nullptr, 4, srgbCurve);
  if (curve == nullptr) RaiseOutOfMemory();
  const std::unique_ptr<void, TProfileClose> target(cmsCreateGrayProfile(cmsD50_xyY(), curve));
  cmsFreeToneCurve(curve);
  if (!target) RaiseOutOfMemory();
  // In floating point, the tone curves evaluated rather than tabulated, each sample rounded
  // once back to 16 bits; alpha passes through untouched.
  const cmsUInt32Number format = channels == 2 ? TYPE_GRAYA_FLT : TYPE_GRAY_FLT;
  const std::unique_ptr<void, TTransformDelete> transform(
      cmsCreateTransform(source.get(), format, target.get(), format, INTENT_RELATIVE_COLORIMETRIC,
                         cmsFLAGS_COPY_ALPHA | cmsFLAGS_NOCACHE | cmsFLAGS_NOOPTIMIZE));
  if (!transform) return false;
  constexpr std::size_t kChunk = 4096;  // pixels converted at a time
  std::vector<float> chunk;
  WithMemory("out-of-memory", [&] { chunk.resize(kChunk * channels); });
  for (std::size_t done = 0; done < count; done += kChunk) {
    const std::size_t n = std::min(kChunk, count - done) * channels;
    std::uint8_t* at = pixels.data() + 2 * done * channels;
    for (std::size_t i = 0; i < n; ++i) {
      std::uint16_t value;
      std::memcpy(&value, at + 2 * i, 2);
      chunk[i] = static_cast<float>(value) / 65535.0f;
    }
    cmsDoTransform(transform.get(), chunk.data(), chunk.data(),
                   static_cast<cmsUInt32Number>(n / channels));
    for (std::size_t i = 0; i < n; ++i) {
      const auto value =
          static_cast<std::uint16_t>(std::lround(std::clamp(chunk[i], 0.0f, 1.0f) * 65535.0f));
      std::memcpy(at + 2 * i, &value, 2);
    }
  }
  return true;
}

// Whether coded RGB samples (which the decoder hands over as they are, unconverted) are in
// linear light, by an encoded colour space (a file that carries an ICC profile instead keeps it).
bool CodedInLinearLight(const JxlDecoder* decoder, JxlColorEncoding& encoding) {
  return JxlDecoderGetColorAsEncodedProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                                            &encoding) == JXL_DEC_SUCCESS &&
         encoding.color_space == JXL_COLOR_SPACE_RGB &&
         encoding.transfer_function == JXL_TRANSFER_FUNCTION_LINEAR;
}

// The chromaticities of an encoding's white point and primaries, named or given.
void Chromaticities(const JxlColorEncoding& encoding, cmsCIExyY& white,
                    cmsCIExyYTRIPLE& primaries) {
  switch (encoding.white_point) {
    case JXL_WHITE_POINT_CUSTOM:
      white = {encoding.white_point_xy[0], encoding.white_point_xy[1], 1.0};
      break;
    case JXL_WHITE_POINT_E:
      white = {1.0 / 3, 1.0 / 3, 1.0};
      break;
    case JXL_WHITE_POINT_DCI:
      white = {0.314, 0.351, 1.0};
      break;
    default:
      white = {0.3127, 0.3290, 1.0};
      break;
  }
  switch (encoding.primaries) {
    case JXL_PRIMARIES_CUSTOM:
      primaries = {{encoding.primaries_red_xy[0], encoding.primaries_red_xy[1], 1.0},
                   {encoding.primaries_green_xy[0], encoding.primaries_green_xy[1], 1.0},
                   {encoding.primaries_blue_xy[0], encoding.primaries_blue_xy[1], 1.0}};
      break;
    case JXL_PRIMARIES_2100:
      primaries = {{0.708, 0.292, 1.0}, {0.170, 0.797, 1.0}, {0.131, 0.046, 1.0}};
      break;
    case JXL_PRIMARIES_P3:
      primaries = {{0.680, 0.320, 1.0}, {0.265, 0.690, 1.0}, {0.150, 0.060, 1.0}};
      break;
    default:
      primaries = {{0.640, 0.330, 1.0}, {0.300, 0.600, 1.0}, {0.150, 0.060, 1.0}};
      break;
  }
}

// An ICC profile of the encoding's primaries and white point with sRGB's tone curve: what the
// samples EncodeLinear makes are in. Empty for sRGB's own primaries and white, which need none.
std::vector<std::uint8_t> SrgbCurveProfile(const JxlColorEncoding& encoding) {
  if (encoding.primaries == JXL_PRIMARIES_SRGB && encoding.white_point == JXL_WHITE_POINT_D65)
    return {};
  cmsCIExyY white;
  cmsCIExyYTRIPLE primaries;
  Chromaticities(encoding, white, primaries);
  const cmsFloat64Number srgbCurve[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
  cmsToneCurve* curve = cmsBuildParametricToneCurve(nullptr, 4, srgbCurve);
  if (curve == nullptr) RaiseOutOfMemory();
  cmsToneCurve* curves[3] = {curve, curve, curve};
  const std::unique_ptr<void, TProfileClose> profile(
      cmsCreateRGBProfile(&white, &primaries, curves));
  cmsFreeToneCurve(curve);
  if (!profile) RaiseOutOfMemory();
  cmsUInt32Number size = 0;
  if (!cmsSaveProfileToMem(profile.get(), nullptr, &size) || size == 0) RaiseOutOfMemory();
  std::vector<std::uint8_t> bytes;
  WithMemory(kOutOfMemory, [&] { bytes.resize(size); });
  if (!cmsSaveProfileToMem(profile.get(), bytes.data(), &size)) RaiseOutOfMemory();
  return bytes;
}

// Linear-light colour samples (16-bit, decoded exactly from the coded ones) given sRGB's tone
// curve, each computed in floating point and rounded once; alpha, which is linear by nature,
// stays as it is. Linear 8 or 16-bit samples cannot hold a picture's shadows without banding,
// which this tool exists to remove; the profile then describes the new samples.
void EncodeLinear(TDecoded& decoded) {
  std::vector<std::uint16_t> curve;
  WithMemory(kOutOfMemory, [&] { curve.resize(65536); });
  for (std::size_t v = 0; v < curve.size(); ++v) {
    const double linear = static_cast<double>(v) / 65535.0;
    const double encoded =
        linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1.0 / 2.4) - 0.055;
    curve[v] = static_cast<std::uint16_t>(std::lround(std::clamp(encoded, 0.0, 1.0) * 65535.0));
  }
  const std::size_t pixels =
      static_cast<std::size_t>(decoded.Width) * static_cast<std::size_t>(decoded.Height);
  std::uint8_t* at = decoded.Pixels.data();
  for (std::size_t p = 0; p < pixels; ++p, at += 2 * decoded.Channels)
    for (std::size_t c = 0; c < 3; ++c) {
      std::uint16_t value;
      std::memcpy(&value, at + 2 * c, 2);
      value = curve[value];
      std::memcpy(at + 2 * c, &value, 2);
    }
  decoded.Profile = SrgbCurveProfile(decoded.Encoding);
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

  const std::unique_ptr<JxlDecoder, TDecoderDestroy> decoder = NewDecoder();
  if (!decoder) RaiseOutOfMemory();
  JxlDecoder* dec = decoder.get();
  const std::unique_ptr<void, TRunnerDestroy> runner(
      JxlThreadParallelRunnerCreate(nullptr, static_cast<std::size_t>(UsableCores())));
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
  JxlBasicInfo basic{};
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
        RefuseBlackChannel(dec, info);
        // A picture coded in XYB is decoded at 16 bits whatever its stated depth: the decoder
        // works in floating point, and the deep path gets its precision rounded once.
        decoded.Deep = info.bits_per_sample > 8 || info.exponent_bits_per_sample > 0 ||
                       !info.uses_original_profile;
        decoded.Coded = info.uses_original_profile != 0;
        basic = info;
        decoded.Channels = (decoded.Grey ? 1u : 3u) + (decoded.Alpha ? 1u : 0u);
        format.num_channels = static_cast<std::uint32_t>(decoded.Channels);
        format.data_type = decoded.Deep ? JXL_TYPE_UINT16 : JXL_TYPE_UINT8;
        CheckDecoderMemory(width, height, decoded);
        haveInfo = true;
        break;
      }
      case JXL_DEC_COLOR_ENCODING:
        if (!haveInfo) RaiseBad("no-header");
        PreferEncodedColour(dec, basic);
        decoded.Profile = DataProfile(dec);
        // Grey coded in a grey profile of its own is converted at 16 bits (ConvertGreyProfile);
        // colour coded in linear light is given sRGB's tone curve at 16 bits (EncodeLinear).
        if (decoded.Grey && decoded.Coded && !decoded.Profile.empty()) {
          decoded.Deep = true;
          format.data_type = JXL_TYPE_UINT16;
        } else if (!decoded.Grey && decoded.Coded && CodedInLinearLight(dec, decoded.Encoding)) {
          decoded.Linear = true;
          decoded.Deep = true;
          format.data_type = JXL_TYPE_UINT16;
        }
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
        WithMemory(kOutOfMemory, [&] { decoded.Pixels.resize(bytes); });
        Check(JxlDecoderSetImageOutBuffer(dec, &format, decoded.Pixels.data(), bytes),
              "bad-buffer");
        break;
      }
      case JXL_DEC_FULL_IMAGE:
        // The first frame is the picture; an animation's later frames are not decoded.
        if (decoded.Pixels.empty()) RaiseBad("no-pixels");
        if (decoded.Grey && decoded.Coded && !decoded.Profile.empty() &&
            ConvertGreyProfile(
                decoded.Pixels,
                static_cast<std::size_t>(decoded.Width) * static_cast<std::size_t>(decoded.Height),
                decoded.Channels, decoded.Profile))
          decoded.Profile.clear();
        if (decoded.Linear) EncodeLinear(decoded);
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
  if (!decoded.Deep) return Widened(row[index]);
  std::uint16_t value;
  std::memcpy(&value, row + 2 * index, 2);
  return value;
}

const std::uint8_t* DecodedRow(const TDecoded& decoded, std::int32_t y) {
  return decoded.Pixels.data() + static_cast<std::size_t>(y) *
                                     static_cast<std::size_t>(decoded.Width) * decoded.Channels *
                                     (decoded.Deep ? 2 : 1);
}

void Install8Bits(TDecoded& decoded, TBitmap& picture, TPictureExtras& extras) {
  TPictureBuilder builder(decoded.Width, decoded.Height, decoded.Alpha);
  const std::size_t colour = decoded.Grey ? 1 : 3;
  builder.FillRows([&](std::int32_t y, std::uint8_t* bgr, std::uint8_t* alpha) {
    const std::uint8_t* in = DecodedRow(decoded, y);
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
  });
  CopyMetadata(decoded, builder.Extras());
  builder.Install(picture, extras);
}

void InstallDeep(TDecoded& decoded, TDeepPicture& picture, TPictureExtras& extras) {
  TDeepPictureBuilder builder(decoded.Width, decoded.Height, decoded.Alpha, "jxl-too-large");
  WithMemory("out-of-memory", [&] { CopyMetadata(decoded, builder.Extras()); });
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
