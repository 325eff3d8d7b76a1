#include "HeifReader.h"

#include "HeifLibrary.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "DeepRowSource.h"
#include "DeepSamples.h"
#include "Exceptions.h"
#include "FormatSupport.h"
#include "HeifItems.h"
#include "Limits.h"
#include "Machine.h"
#include "PictureKind.h"
#include "Upright.h"

namespace penamo {

namespace {

using namespace formats;

// The largest coding block of the codecs inside HEIF: AV1's superblock.
constexpr std::int64_t kCodingBlock = 128;

struct TContextFree {
  void operator()(heif_context* ctx) const { heif_context_free(ctx); }
};
struct THandleRelease {
  void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct TImageRelease {
  void operator()(heif_image* image) const { heif_image_release(image); }
};
struct TOptionsFree {
  void operator()(heif_decoding_options* options) const { heif_decoding_options_free(options); }
};
using TContext = std::unique_ptr<heif_context, TContextFree>;
using THandle = std::unique_ptr<heif_image_handle, THandleRelease>;
using TImage = std::unique_ptr<heif_image, TImageRelease>;

// Which of the two names the user knows the file by: the refusals' text and reason tags.
struct TFlavour {
  const char* Message;
  std::string Prefix;
  const char* Name;  // as the format table names it
};

// Maps a libheif error to our refusals; the library's own text never reaches the user.
[[noreturn]] void RaiseError(const heif_error& error, const TFlavour& flavour) {
  if (error.subcode == heif_suberror_Security_limit_exceeded)
    RaiseTooLarge(flavour.Prefix + "-over-limits");
  if (error.code == heif_error_Memory_allocation_error) RaiseOutOfMemory();
  if (error.subcode == heif_suberror_End_of_data) RaiseTruncated(flavour.Prefix + "-truncated");
  switch (error.code) {
    case heif_error_Unsupported_filetype:
      RaiseInvalid(flavour.Message, flavour.Prefix + "-bad-file-type");
    case heif_error_Unsupported_feature:
      // A sound file coded in a way (a codec, a layout) no decoder here reads.
      RaiseUnsupported(flavour.Name, flavour.Prefix + "-unsupported-feature");
    case heif_error_Decoder_plugin_error:
      RaiseInvalid(flavour.Message, flavour.Prefix + "-bad-image-data");
    default:
      RaiseInvalid(flavour.Message, flavour.Prefix + "-invalid-" + std::to_string(error.code) +
                                        "-" + std::to_string(error.subcode));
  }
}

void Check(const heif_error& error, const TFlavour& flavour) {
  if (error.code != heif_error_Ok) RaiseError(error, flavour);
}

// The primary picture decoded to interleaved RGB(A): 8-bit bytes, or for a deeper source
// little-endian 16-bit words holding Bits-bit samples.
struct TDecoded {
  TImage Image;
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  bool Alpha = false;
  int Bits = 8;
  const std::uint8_t* Pixels = nullptr;
  std::size_t Stride = 0;
  std::vector<std::uint8_t> Profile;
  std::vector<std::uint8_t> Exif;
  std::vector<std::uint8_t> Xmp;
  // Planes the decoder handed over in limited ("video") range, which it leaves unexpanded: the
  // grey of a monochrome picture (all three channels) and the alpha plane.
  bool LimitedGrey = false;
  bool LimitedAlpha = false;
  // The colours are still multiplied by an alpha coded in limited range.
  bool StraightenExpanded = false;
  // The pixels once turned by the transforms of an identity-derived primary, when it has any.
  std::vector<std::uint8_t> Turned;
};

// The first metadata block of the picture of type ("Exif", "mime") and, for "mime", of content
// type; empty when there is none. A block the storage limit cannot hold is refused.
std::vector<std::uint8_t> MetadataOf(const heif_image_handle* handle, const char* type,
                                     const char* contentType, const TFlavour& flavour) {
  const int count = heif_image_handle_get_number_of_metadata_blocks(handle, type);
  if (count <= 0) return {};
  std::vector<heif_item_id> ids(static_cast<std::size_t>(count));
  const int listed =
      heif_image_handle_get_list_of_metadata_block_IDs(handle, type, ids.data(), count);
  for (int i = 0; i < listed; ++i) {
    const heif_item_id id = ids[static_cast<std::size_t>(i)];
    if (contentType != nullptr &&
        std::string(heif_image_handle_get_metadata_content_type(handle, id)) != contentType)
      continue;
    const std::size_t size = heif_image_handle_get_metadata_size(handle, id);
    CheckBufferSize(size, 1, flavour.Prefix + "-metadata-too-large");
    std::vector<std::uint8_t> data;
    WithMemory(kOutOfMemory, [&] { data.resize(size); });
    Check(heif_image_handle_get_metadata(handle, id, data.data()), flavour);
    return data;
  }
  return {};
}

// Whether bytes begin with a TIFF header ("II*\0" or "MM\0*"), or with "Exif\0\0" and one.
bool StartsWithTiffHeader(const std::uint8_t* bytes, std::size_t size) {
  if (size >= 6 && std::memcmp(bytes, "Exif\0\0", 6) == 0) {
    bytes += 6;
    size -= 6;
  }
  return size >= 4 && (std::memcmp(bytes, "II*\0", 4) == 0 || std::memcmp(bytes, "MM\0*", 4) == 0);
}

// The EXIF block of the picture: HEIF puts the offset of its TIFF header before it. Its
// orientation is reset: the file's own transforms have turned the pixels as they show.
// A block stored without that offset, straight from its TIFF header (as some writers store it),
// is recognised by the header.
std::vector<std::uint8_t> ExifOf(const heif_image_handle* handle, const TFlavour& flavour) {
  const std::vector<std::uint8_t> data = MetadataOf(handle, "Exif", nullptr, flavour);
  if (data.size() < 4) return {};
  if (StartsWithTiffHeader(data.data(), data.size())) {
    std::vector<std::uint8_t> block = ExifBlockOf(data.data(), data.size());
    ResetExifOrientation(block);
    return block;
  }
  const std::uint32_t offset = std::uint32_t{data[0]} << 24 | std::uint32_t{data[1]} << 16 |
                               std::uint32_t{data[2]} << 8 | std::uint32_t{data[3]};
  if (offset > data.size() - 4) return {};
  std::vector<std::uint8_t> block = ExifBlockOf(data.data() + 4 + offset, data.size() - 4 - offset);
  ResetExifOrientation(block);
  return block;
}

// Divides each colour sample of interleaved RGBA rows by its alpha (Straight).
void Unpremultiply(std::uint8_t* pixels, std::size_t stride, std::int32_t width,
                   std::int32_t height, int bits, bool deep) {
  const std::uint32_t top = (1u << bits) - 1;
  for (std::int32_t y = 0; y < height; ++y) {
    std::uint8_t* row = pixels + static_cast<std::size_t>(y) * stride;
    for (std::int32_t x = 0; x < width; ++x) {
      const std::size_t i = static_cast<std::size_t>(x) * 4;
      const auto get = [&](std::size_t c) -> std::uint32_t {
        if (!deep) return row[i + c];
        return static_cast<std::uint32_t>(row[2 * (i + c)]) |
               static_cast<std::uint32_t>(row[2 * (i + c) + 1]) << 8;
      };
      const auto put = [&](std::size_t c, std::uint32_t v) {
        if (!deep) {
          row[i + c] = static_cast<std::uint8_t>(v);
        } else {
          row[2 * (i + c)] = static_cast<std::uint8_t>(v & 0xFF);
          row[2 * (i + c) + 1] = static_cast<std::uint8_t>(v >> 8);
        }
      };
      const std::uint32_t alpha = get(3);
      if (alpha >= top) continue;
      for (std::size_t c = 0; c < 3; ++c)
        put(c, Straight(get(c), alpha, top));
    }
  }
}

// Files the decoder would show wrongly, or call damaged though they are sound, refused as
// unsupported before it reads them: a primary picture predicted from another item or carrying an
// essential property the decoder does not apply.
void RefuseUnsupportedLayout(const THeifLayout& layout, const TFlavour& flavour) {
  const std::string reason = UnsupportedPrimaryReason(layout);
  if (!reason.empty()) RaiseUnsupported(flavour.Name, flavour.Prefix + "-" + reason);
}

// A failure of the decoder to read the file's structure, refused as unsupported where the file
// is sound but of a kind it cannot read: an image sequence without a still picture. (Files
// holding identity-derived items are rewritten before it reads them.)
void CheckLayoutRead(const heif_error& error, const THeifLayout& layout, const TFlavour& flavour) {
  if (error.code == heif_error_Ok) return;
  if (error.subcode != heif_suberror_Security_limit_exceeded &&
      error.code != heif_error_Memory_allocation_error) {
    if (!layout.HasMeta && layout.HasMovie)
      RaiseUnsupported(flavour.Name, flavour.Prefix + "-sequence-without-still");
  }
  RaiseError(error, flavour);
}

// Which planes of the decoded picture are still in limited range: the grey of a monochrome
// primary picture whose coded range is limited (the decoder expands colour planes itself, never
// grey), and an alpha plane whose own item is coded in limited range.
void MarkLimitedPlanes(const THeifLayout& layout, std::uint32_t primary, TDecoded& decoded) {
  const THeifRange range = RangeOfItem(layout, primary);
  decoded.LimitedGrey = range.Known && range.Limited && range.Monochrome;
  if (!decoded.Alpha) return;
  const std::uint32_t alpha = AlphaItemOf(layout, primary);
  if (alpha == 0) return;
  const THeifRange alphaRange = RangeOfItem(layout, alpha);
  decoded.LimitedAlpha = alphaRange.Known && alphaRange.Limited;
}

// A file holding identity-derived items, which the decoder here cannot read, rewritten so that it
// can (RewriteIdentityItems); refused as unsupported where the primary is derived in a way not
// applied here. Not possible (and nothing copied) for a file without such items.
TIdentityRewrite ReadableWithoutIdentityItems(const std::uint8_t* data, std::size_t size,
                                              const THeifLayout& layout, const TFlavour& flavour) {
  if (!HoldsIdentityItem(layout)) return {};
  CheckBufferSize(size, 1, flavour.Prefix + "-too-large");
  TIdentityRewrite rewrite;
  WithMemory("out-of-memory", [&] { rewrite = RewriteIdentityItems(data, size, layout); });
  if (!rewrite.Possible) RaiseUnsupported(flavour.Name, flavour.Prefix + "-" + rewrite.Refusal);
  return rewrite;
}

// Applies an identity-derived primary's rotations, mirrorings and crops, in order, to the decoded
// picture of the item it is derived from.
void ApplyTransforms(const std::vector<THeifTransform>& transforms, std::size_t pixelBytes,
                     const TFlavour& flavour, TDecoded& decoded) {
  CheckBufferSize(static_cast<std::uint64_t>(decoded.Height) * 4,
                  static_cast<std::uint64_t>(decoded.Width) * pixelBytes,
                  flavour.Prefix + "-too-large");
  for (const THeifTransform& transform : transforms) {
    const std::int32_t width = decoded.Width;
    const std::int32_t height = decoded.Height;
    if (transform.Crop) {
      std::int64_t r[4];
      if (!CropRectangle(transform, width, height, r))
        RaiseInvalid(flavour.Message, flavour.Prefix + "-bad-crop");
      // A crop keeps the rows where they are: the picture starts further in.
      decoded.Pixels += static_cast<std::size_t>(r[1]) * decoded.Stride +
                        static_cast<std::size_t>(r[0]) * pixelBytes;
      decoded.Width = static_cast<std::int32_t>(r[2]);
      decoded.Height = static_cast<std::int32_t>(r[3]);
      continue;
    }
    const bool swap = !transform.Mirror && (transform.Quarters & 1) != 0;
    const std::int32_t outWidth = swap ? height : width;
    const std::int32_t outHeight = swap ? width : height;
    std::vector<std::uint8_t> out;
    WithMemory("out-of-memory", [&] {
      out.resize(static_cast<std::size_t>(outWidth) * static_cast<std::size_t>(outHeight) *
                 pixelBytes);
    });
    const std::size_t outStride = static_cast<std::size_t>(outWidth) * pixelBytes;
    for (std::int32_t y = 0; y < outHeight; ++y)
      for (std::int32_t x = 0; x < outWidth; ++x) {
        // The stored pixel that lands at (x, y).
        std::int32_t sx = x, sy = y;
        if (transform.Mirror) {
          if (transform.Axis == 0) sx = width - 1 - x;
          if (transform.Axis == 1) sy = height - 1 - y;
        } else if (transform.Quarters == 1) {  // a quarter turn anticlockwise
          sx = width - 1 - y;
          sy = x;
        } else if (transform.Quarters == 2) {
          sx = width - 1 - x;
          sy = height - 1 - y;
        } else if (transform.Quarters == 3) {
          sx = y;
          sy = height - 1 - x;
        }
        std::memcpy(out.data() + static_cast<std::size_t>(y) * outStride +
                        static_cast<std::size_t>(x) * pixelBytes,
                    decoded.Pixels + static_cast<std::size_t>(sy) * decoded.Stride +
                        static_cast<std::size_t>(sx) * pixelBytes,
                    pixelBytes);
      }
    decoded.Turned = std::move(out);
    decoded.Pixels = decoded.Turned.data();
    decoded.Stride = outStride;
    decoded.Width = outWidth;
    decoded.Height = outHeight;
  }
}

// The claim rule (Limits.h) for the larger of the stored size and the size shown, the canvas of a
// grid included: a few tiles cannot claim a picture far beyond the bytes they hold.
void CheckHeifClaim(const heif_image_handle* handle, std::size_t size, const TFlavour& flavour) {
  const std::int64_t storedWidth = heif_image_handle_get_ispe_width(handle);
  const std::int64_t storedHeight = heif_image_handle_get_ispe_height(handle);
  const std::int64_t width = heif_image_handle_get_width(handle);
  const std::int64_t height = heif_image_handle_get_height(handle);
  const bool stored = storedWidth * storedHeight > width * height;
  CheckClaimedSize(stored ? storedWidth : width, stored ? storedHeight : height, size,
                   flavour.Prefix == "avif" ? PixelsPerByte::Avif : PixelsPerByte::Heif,
                   flavour.Prefix);
}

// The memory libheif and its decoder take to decode the primary picture into interleaved
// samples, at most: for each plane (three, and alpha), the decoder's own picture and its working
// buffers and libheif's copy, each side padded to a whole coding block, then the interleaved
// picture made from them; a grid holds its tiles and the canvas they are copied into beside
// that. Measured peaks (libheif 1.15, dav1d 1.0, libde265 1.0, 2048 x 2048 unless said) in
// bytes a pixel, this estimate in brackets: AVIF 4:2:0 7.2 (16.5), 4096 x 3072 4:2:0 6.9 (15.9),
// 4:4:4 13.2 (16.5), alpha 13.2 (22.1), grey 7.8 (16.5), 10-bit 25.4 (33.1), 10-bit alpha 31.6
// (44.1), 2 x 2 grid of 4:4:4 tiles 16.2 (19.9), 4096 x 3072 in a 4 x 3 grid 11.1 (19.1); HEIC
// 4:2:0 8.0 (16.5), 4:4:4 6.8 (16.5), alpha 10.0 (22.1).
std::uint64_t DecoderBytes(const heif_image_handle* handle, bool alpha, bool deep, bool grid) {
  const std::uint64_t width = static_cast<std::uint64_t>(
      std::max(heif_image_handle_get_width(handle), heif_image_handle_get_ispe_width(handle)));
  const std::uint64_t height = static_cast<std::uint64_t>(
      std::max(heif_image_handle_get_height(handle), heif_image_handle_get_ispe_height(handle)));
  const std::uint64_t sample = deep ? 2 : 1;
  const std::uint64_t planes = 3 + (alpha ? 1 : 0);
  const std::uint64_t copies = grid ? 5 : 4;
  const std::uint64_t padded = (width + kCodingBlock) * (height + kCodingBlock);
  return padded * sample * planes * copies + width * height * planes * sample;
}

// The address space the decoding threads take beside the pixels: libheif decodes up to four
// tiles of a grid at once, each through a decoder running a thread a core, and every thread
// takes its stack (8 MiB) and may reserve an allocator arena (64 MiB).
std::uint64_t ThreadsBytes() {
  return std::uint64_t{4} * static_cast<std::uint64_t>(UsableCores()) * (std::uint64_t{72} << 20);
}

// Whether bytes could be allocated now: asked of the allocator, given back at once, never
// touched.
bool MemoryObtainable(std::uint64_t bytes) {
  if (bytes > SIZE_MAX) return false;
  void* block = std::malloc(static_cast<std::size_t>(bytes));
  if (block == nullptr) return false;
  std::free(block);
  return true;
}

void InitialiseOnce() {
  // Registers the decoders built into the library; kept for the life of the program.
  static const bool initialised = [] {
    heif_init(nullptr);
    return true;
  }();
  (void)initialised;
}

TDecoded DecodeUnguarded(const std::uint8_t* data, std::size_t size, const TFlavour& flavour) {
  InitialiseOnce();
  TContext ctx(heif_context_alloc());
  if (!ctx) RaiseOutOfMemory();
  // The library refuses larger sides itself, before it allocates anything for them: no picture
  // a row of which would not fit the storage limit can be held.
  const std::uint64_t side = std::clamp<std::uint64_t>(StorageLimit() / 3, 1, INT_MAX);
  heif_context_set_maximum_image_size_limit(ctx.get(), static_cast<int>(side));
  const THeifLayout layout = ReadHeifLayout(data, size);
  RefuseUnsupportedLayout(layout, flavour);
  const TIdentityRewrite rewrite = ReadableWithoutIdentityItems(data, size, layout, flavour);
  if (rewrite.Possible) {
    // The rewritten copy is the context's own, so it outlives nothing it needs.
    CheckLayoutRead(heif_context_read_from_memory(ctx.get(), rewrite.Bytes.data(),
                                                  rewrite.Bytes.size(), nullptr),
                    layout, flavour);
  } else {
    CheckLayoutRead(heif_context_read_from_memory_without_copy(ctx.get(), data, size, nullptr),
                    layout, flavour);
  }

  heif_image_handle* rawHandle = nullptr;
  CheckLayoutRead(heif_context_get_primary_image_handle(ctx.get(), &rawHandle), layout, flavour);
  const THandle handle(rawHandle);

  // Both the stored size and the size after the crop and rotation are checked before decoding:
  // the decoder works at the stored size.
  CheckPictureSize(heif_image_handle_get_ispe_width(handle.get()),
                   heif_image_handle_get_ispe_height(handle.get()), flavour.Message,
                   flavour.Prefix);
  const std::int64_t width = heif_image_handle_get_width(handle.get());
  const std::int64_t height = heif_image_handle_get_height(handle.get());
  CheckPictureSize(width, height, flavour.Message, flavour.Prefix);
  CheckHeifClaim(handle.get(), size, flavour);
  // The coded stream states its own size, which the decoder would allocate for; a stream larger
  // than the size the file declares is refused before that. Coded sides may be padded up to a
  // whole coding block (64 pixels for HEVC, 128 for AV1), so that much more is let through.
  const std::int64_t declared =
      std::max<std::int64_t>({width, height, heif_image_handle_get_ispe_width(handle.get()),
                              heif_image_handle_get_ispe_height(handle.get())});
  heif_context_set_maximum_image_size_limit(
      ctx.get(), static_cast<int>(std::min<std::int64_t>(declared + kCodingBlock, INT_MAX)));

  TDecoded decoded;
  decoded.Alpha = heif_image_handle_has_alpha_channel(handle.get()) != 0;
  const int lumaBits = heif_image_handle_get_luma_bits_per_pixel(handle.get());
  const bool deep = lumaBits > 8;
  const int channels = decoded.Alpha ? 4 : 3;
  const std::uint64_t pixelBytes = static_cast<std::uint64_t>(channels) * (deep ? 2 : 1);
  const THeifItem* primaryItem = layout.Item(rewrite.Possible ? rewrite.Primary : layout.Primary);
  const bool grid = primaryItem != nullptr && std::memcmp(primaryItem->Type.data(), "grid", 4) == 0;
  const std::uint64_t decoderBytes = DecoderBytes(handle.get(), decoded.Alpha, deep, grid);
  CheckBufferSize(decoderBytes, 1, flavour.Prefix + "-too-large");

  const std::unique_ptr<heif_decoding_options, TOptionsFree> options(heif_decoding_options_alloc());
  if (!options) RaiseOutOfMemory();
  options->ignore_transformations = 0;
  options->convert_hdr_to_8bit = 0;
  const heif_chroma chroma =
      deep ? (decoded.Alpha ? heif_chroma_interleaved_RRGGBBAA_LE
                            : heif_chroma_interleaved_RRGGBB_LE)
           : (decoded.Alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
  heif_image* rawImage = nullptr;
  const heif_error decodeError =
      heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB, chroma, options.get());
  if (decodeError.subcode == heif_suberror_Security_limit_exceeded)
    RaiseInvalid(flavour.Message, flavour.Prefix + "-coded-size-mismatch");
  // dav1d and libde265 say only that they failed when they could not have their memory or their
  // threads, and libheif passes that on as damaged data: a failure while the memory the decoding
  // takes, its threads' included, cannot be had at all (under an address-space limit, say) is the
  // want of memory.
  if (decodeError.code != heif_error_Ok && !MemoryObtainable(decoderBytes + ThreadsBytes()))
    RaiseOutOfMemory();
  Check(decodeError, flavour);
  decoded.Image.reset(rawImage);

  const int decodedWidth = heif_image_get_width(rawImage, heif_channel_interleaved);
  const int decodedHeight = heif_image_get_height(rawImage, heif_channel_interleaved);
  CheckPictureSize(decodedWidth, decodedHeight, flavour.Message, flavour.Prefix);
  decoded.Width = decodedWidth;
  decoded.Height = decodedHeight;
  decoded.Bits = deep ? heif_image_get_bits_per_pixel_range(rawImage, heif_channel_interleaved) : 8;
  if (decoded.Bits < 1 || decoded.Bits > 16)
    RaiseInvalid(flavour.Message, flavour.Prefix + "-bad-depth");
  int stride = 0;
  std::uint8_t* pixels = heif_image_get_plane(rawImage, heif_channel_interleaved, &stride);
  const std::size_t rowBytes = static_cast<std::size_t>(decodedWidth) * pixelBytes;
  if (pixels == nullptr || stride < 0 || static_cast<std::size_t>(stride) < rowBytes)
    RaiseInvalid(flavour.Message, flavour.Prefix + "-bad-decoded-image");
  decoded.Pixels = pixels;
  decoded.Stride = static_cast<std::size_t>(stride);
  MarkLimitedPlanes(layout, rewrite.Possible ? rewrite.Primary : layout.Primary, decoded);
  // The alpha plane stays with colours that are not multiplied by it, as every other reader
  // gives them: divided here, over the whole decoded picture before any transform moves its
  // pixels aside, or, by an alpha coded in limited range, once that alpha is expanded
  // (FullPixel), never by its coded values.
  const bool premultiplied = decoded.Alpha && heif_image_is_premultiplied_alpha(rawImage) != 0;
  decoded.StraightenExpanded = premultiplied && decoded.LimitedAlpha;
  if (premultiplied && !decoded.LimitedAlpha)
    Unpremultiply(pixels, decoded.Stride, decoded.Width, decoded.Height, decoded.Bits, deep);
  if (!rewrite.Transforms.empty())
    ApplyTransforms(rewrite.Transforms, pixelBytes, flavour, decoded);

  const std::size_t profileSize = heif_image_handle_get_raw_color_profile_size(handle.get());
  if (profileSize > 0) {
    CheckBufferSize(profileSize, 1, flavour.Prefix + "-profile-too-large");
    WithMemory(kOutOfMemory, [&] { decoded.Profile.resize(profileSize); });
    Check(heif_image_handle_get_raw_color_profile(handle.get(), decoded.Profile.data()), flavour);
  }
  decoded.Exif = ExifOf(handle.get(), flavour);
  decoded.Xmp = MetadataOf(handle.get(), "mime", "application/rdf+xml", flavour);
  // The image keeps what it needs of the context: the context may go.
  return decoded;
}

// The library is C++ inside: an allocation it cannot make may leave it as std::bad_alloc, and a
// thread it cannot start (a grid's tiles are decoded on threads of its own) as std::system_error.
TDecoded Decode(const std::uint8_t* data, std::size_t size, const TFlavour& flavour) {
  try {
    return WithMemory(kOutOfMemory, [&] { return DecodeUnguarded(data, size, flavour); });
  } catch (const std::system_error& error) {
    if (error.code() == std::errc::resource_unavailable_try_again ||
        error.code() == std::errc::not_enough_memory)
      RaiseOutOfMemory();
    throw;
  }
}

// AVIF is told from the other HEIF files in one place, by its signature in the format table.
TFlavour FlavourOf(const std::uint8_t* data, std::size_t size) {
  if (PictureKindOf(data, size) == TPictureKind::Avif) return {Msg::InvalidAvif, "avif", "AVIF"};
  return {Msg::InvalidHeif, "heif", "HEIF"};
}

// Little-endian 16-bit word i of a decoded row.
std::uint32_t Word(const std::uint8_t* row, std::size_t i) {
  return static_cast<std::uint32_t>(row[2 * i]) | static_cast<std::uint32_t>(row[2 * i + 1]) << 8;
}

// Sample i of a decoded row as a full-scale 16-bit value: an 8-bit sample v as v × 257, a deeper
// one scaled, and one of a plane in limited range expanded from it exactly, once.
std::uint16_t Full16(const TDecoded& decoded, const std::uint8_t* row, std::size_t i, bool alpha) {
  const std::uint32_t coded = decoded.Bits == 8 ? row[i] : Word(row, i);
  if (alpha ? decoded.LimitedAlpha : decoded.LimitedGrey)
    return LimitedTo16Bits(coded, decoded.Bits);
  if (decoded.Bits == 8) return Widened(static_cast<std::uint8_t>(coded));
  return To16Bits(coded, decoded.Bits);
}

// The pixel whose first sample is sample i of a decoded row as full-scale 16-bit blue, green, red
// (Full16) and alpha (opaque without an alpha plane); colours multiplied by an alpha coded in
// limited range are divided by it once it is expanded, at full precision (Straight).
void FullPixel(const TDecoded& decoded, const std::uint8_t* row, std::size_t i, std::uint16_t* bgr,
               std::uint16_t& alpha) {
  std::uint32_t red = Full16(decoded, row, i, false);
  std::uint32_t green = Full16(decoded, row, i + 1, false);
  std::uint32_t blue = Full16(decoded, row, i + 2, false);
  alpha = decoded.Alpha ? Full16(decoded, row, i + 3, true) : std::uint16_t{65535};
  if (decoded.StraightenExpanded) StraightenColours(red, green, blue, alpha, 65535);
  bgr[0] = static_cast<std::uint16_t>(blue);
  bgr[1] = static_cast<std::uint16_t>(green);
  bgr[2] = static_cast<std::uint16_t>(red);
}

// The decoded picture as the 8-bit picture: deeper samples rounded through their 16-bit values.
void Install8Bits(TDecoded& decoded, TBitmap& picture, TPictureExtras& extras) {
  TPictureBuilder builder(decoded.Width, decoded.Height, decoded.Alpha);
  const std::size_t channels = decoded.Alpha ? 4 : 3;
  builder.FillRows([&](std::int32_t y, std::uint8_t* bgr, std::uint8_t* alpha) {
    const std::uint8_t* in = decoded.Pixels + static_cast<std::size_t>(y) * decoded.Stride;
    if (decoded.LimitedGrey || decoded.LimitedAlpha) {
      for (std::int32_t x = 0; x < decoded.Width; ++x, bgr += 3) {
        std::uint16_t full[3], opacity;
        FullPixel(decoded, in, static_cast<std::size_t>(x) * channels, full, opacity);
        bgr[0] = To8Bits(full[0]);
        bgr[1] = To8Bits(full[1]);
        bgr[2] = To8Bits(full[2]);
        if (alpha != nullptr) alpha[x] = To8Bits(opacity);
      }
    } else if (decoded.Bits == 8) {
      for (std::int32_t x = 0; x < decoded.Width; ++x, in += channels, bgr += 3) {
        bgr[0] = in[2];
        bgr[1] = in[1];
        bgr[2] = in[0];
        if (alpha != nullptr) alpha[x] = in[3];
      }
    } else {
      for (std::int32_t x = 0; x < decoded.Width; ++x, bgr += 3) {
        const std::size_t i = static_cast<std::size_t>(x) * channels;
        bgr[0] = DeepTo8Bits(Word(in, i + 2), decoded.Bits);
        bgr[1] = DeepTo8Bits(Word(in, i + 1), decoded.Bits);
        bgr[2] = DeepTo8Bits(Word(in, i), decoded.Bits);
        if (alpha != nullptr) alpha[x] = DeepTo8Bits(Word(in, i + 3), decoded.Bits);
      }
    }
  });
  CopyMetadata(decoded, builder.Extras());
  builder.Install(picture, extras);
}

// The decoded picture at full precision, with its extras apart.
void InstallDeep(TDecoded& decoded, const TFlavour& flavour, TDeepPicture& picture,
                 TPictureExtras& extras) {
  TDeepPictureBuilder builder(decoded.Width, decoded.Height, decoded.Alpha,
                              flavour.Prefix + "-too-large");
  WithMemory("out-of-memory", [&] { CopyMetadata(decoded, builder.Extras()); });
  const auto width = static_cast<std::size_t>(decoded.Width);
  const std::size_t channels = decoded.Alpha ? 4 : 3;
  for (std::int32_t y = 0; y < decoded.Height; ++y) {
    const std::uint8_t* in = decoded.Pixels + static_cast<std::size_t>(y) * decoded.Stride;
    std::uint16_t* out = builder.Row(y);
    std::uint8_t* alpha = builder.AlphaRow(y);
    for (std::size_t x = 0; x < width; ++x, out += 3) {
      std::uint16_t opacity;
      FullPixel(decoded, in, x * channels, out, opacity);
      if (alpha != nullptr) alpha[x] = To8Bits(opacity);
    }
  }
  builder.Install(picture, extras);
}

}  // namespace

void ReadHeif(const std::uint8_t* data, std::size_t size, TBitmap& picture,
              TPictureExtras& extras) {
  TDecoded decoded = Decode(data, size, FlavourOf(data, size));
  Install8Bits(decoded, picture, extras);
}

void ReadHeifDeep(const std::uint8_t* data, std::size_t size, TDeepPicture& picture,
                  TPictureExtras& extras) {
  const TFlavour flavour = FlavourOf(data, size);
  TDecoded decoded = Decode(data, size, flavour);
  InstallDeep(decoded, flavour, picture, extras);
}

bool ReadHeifWithDeep(const std::uint8_t* data, std::size_t size, TBitmap& picture,
                      TDeepPicture& deep, TPictureExtras& extras) {
  const TFlavour flavour = FlavourOf(data, size);
  TDecoded decoded = Decode(data, size, flavour);
  const bool deeper = decoded.Bits > 8;
  TDeepPicture readDeep;
  if (deeper) {
    TPictureExtras deepExtras;
    InstallDeep(decoded, flavour, readDeep, deepExtras);
  }
  // The last step that may fail: deep is replaced only once picture has been.
  Install8Bits(decoded, picture, extras);
  deep = std::move(readDeep);
  return deeper;
}

}  // namespace penamo
