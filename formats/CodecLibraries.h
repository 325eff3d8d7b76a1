// The HEIF and JPEG XL libraries, loaded when the first such picture is read rather than when
// the program starts. Linked directly, they and the libraries they bring (four video decoders,
// Highway, Brotli) ran their start-up code in every process: about 11 ms of CPU and 19 ms of
// waiting before a bitmap or PNG save could begin, a tenth of a whole 4096 x 4096 save.
//
// Each library's functions this room calls are listed once below; the readers include
// HeifLibrary.h or JxlLibrary.h, which name each listed function after its loaded address, so
// their calls read as calls of the library's own functions (as OpenGL loaders do). A function
// missing from the list is called directly and fails the shared library's link.
#pragma once

#include <jxl/decode.h>
#include <jxl/thread_parallel_runner.h>
#include <libheif/heif.h>

namespace penamo {

#define PENAMO_HEIF_FUNCTIONS(X)                      \
  X(heif_context_alloc)                               \
  X(heif_context_free)                                \
  X(heif_context_get_primary_image_handle)            \
  X(heif_context_read_from_memory)                    \
  X(heif_context_read_from_memory_without_copy)       \
  X(heif_context_set_maximum_image_size_limit)        \
  X(heif_decode_image)                                \
  X(heif_decoding_options_alloc)                      \
  X(heif_decoding_options_free)                       \
  X(heif_image_get_bits_per_pixel_range)              \
  X(heif_image_get_height)                            \
  X(heif_image_get_plane)                             \
  X(heif_image_get_width)                             \
  X(heif_image_handle_get_height)                     \
  X(heif_image_handle_get_ispe_height)                \
  X(heif_image_handle_get_ispe_width)                 \
  X(heif_image_handle_get_list_of_metadata_block_IDs) \
  X(heif_image_handle_get_luma_bits_per_pixel)        \
  X(heif_image_handle_get_metadata)                   \
  X(heif_image_handle_get_metadata_content_type)      \
  X(heif_image_handle_get_metadata_size)              \
  X(heif_image_handle_get_number_of_metadata_blocks)  \
  X(heif_image_handle_get_raw_color_profile)          \
  X(heif_image_handle_get_raw_color_profile_size)     \
  X(heif_image_handle_get_width)                      \
  X(heif_image_handle_has_alpha_channel)              \
  X(heif_image_handle_release)                        \
  X(heif_image_is_premultiplied_alpha)                \
  X(heif_image_release)                               \
  X(heif_init)

#define PENAMO_JXL_FUNCTIONS(X)         \
  X(JxlDecoderCloseInput)               \
  X(JxlDecoderCreate)                   \
  X(JxlDecoderDestroy)                  \
  X(JxlDecoderGetBasicInfo)             \
  X(JxlDecoderGetBoxType)               \
  X(JxlDecoderGetColorAsEncodedProfile) \
  X(JxlDecoderGetColorAsICCProfile)     \
  X(JxlDecoderGetExtraChannelInfo)      \
  X(JxlDecoderGetICCProfileSize)        \
  X(JxlDecoderImageOutBufferSize)       \
  X(JxlDecoderProcessInput)             \
  X(JxlDecoderReleaseBoxBuffer)         \
  X(JxlDecoderSetBoxBuffer)             \
  X(JxlDecoderSetDecompressBoxes)       \
  X(JxlDecoderSetImageOutBuffer)        \
  X(JxlDecoderSetInput)                 \
  X(JxlDecoderSetKeepOrientation)       \
  X(JxlDecoderSetParallelRunner)        \
  X(JxlDecoderSetPreferredColorProfile) \
  X(JxlDecoderSetUnpremultiplyAlpha)    \
  X(JxlDecoderSubscribeEvents)          \
  X(JxlSignatureCheck)                  \
  X(JxlThreadParallelRunner)            \
  X(JxlThreadParallelRunnerCreate)      \
  X(JxlThreadParallelRunnerDestroy)

#define PENAMO_LOADED_FUNCTION(name) decltype(&::name) name;

struct THeifFunctions {
  PENAMO_HEIF_FUNCTIONS(PENAMO_LOADED_FUNCTION)
};

struct TJxlFunctions {
  PENAMO_JXL_FUNCTIONS(PENAMO_LOADED_FUNCTION)
};

#undef PENAMO_LOADED_FUNCTION

// The library's functions, the library loaded on the first call (one thread loads it, others
// wait). Where it cannot be loaded, each call raises EUnsupportedGraphic naming the format and
// the library (reason "<format>-library-missing"), and the next call tries again.
const THeifFunctions& HeifFunctions();
const TJxlFunctions& JxlFunctions();

}  // namespace penamo
