// libheif's functions as the HEIF reader calls them: through the library loaded on first use
// (CodecLibraries.h). Include instead of <libheif/heif.h>, in .cpp files only.
#pragma once

#include "CodecLibraries.h"

// clang-format off
#define heif_context_alloc (::penamo::HeifFunctions().heif_context_alloc)
#define heif_context_free (::penamo::HeifFunctions().heif_context_free)
#define heif_context_get_primary_image_handle (::penamo::HeifFunctions().heif_context_get_primary_image_handle)
#define heif_context_read_from_memory (::penamo::HeifFunctions().heif_context_read_from_memory)
#define heif_context_read_from_memory_without_copy (::penamo::HeifFunctions().heif_context_read_from_memory_without_copy)
#define heif_context_set_maximum_image_size_limit (::penamo::HeifFunctions().heif_context_set_maximum_image_size_limit)
#define heif_decode_image (::penamo::HeifFunctions().heif_decode_image)
#define heif_decoding_options_alloc (::penamo::HeifFunctions().heif_decoding_options_alloc)
#define heif_decoding_options_free (::penamo::HeifFunctions().heif_decoding_options_free)
#define heif_image_get_bits_per_pixel_range (::penamo::HeifFunctions().heif_image_get_bits_per_pixel_range)
#define heif_image_get_height (::penamo::HeifFunctions().heif_image_get_height)
#define heif_image_get_plane (::penamo::HeifFunctions().heif_image_get_plane)
#define heif_image_get_width (::penamo::HeifFunctions().heif_image_get_width)
#define heif_image_handle_get_height (::penamo::HeifFunctions().heif_image_handle_get_height)
#define heif_image_handle_get_ispe_height (::penamo::HeifFunctions().heif_image_handle_get_ispe_height)
#define heif_image_handle_get_ispe_width (::penamo::HeifFunctions().heif_image_handle_get_ispe_width)
#define heif_image_handle_get_list_of_metadata_block_IDs (::penamo::HeifFunctions().heif_image_handle_get_list_of_metadata_block_IDs)
#define heif_image_handle_get_luma_bits_per_pixel (::penamo::HeifFunctions().heif_image_handle_get_luma_bits_per_pixel)
#define heif_image_handle_get_metadata (::penamo::HeifFunctions().heif_image_handle_get_metadata)
#define heif_image_handle_get_metadata_content_type (::penamo::HeifFunctions().heif_image_handle_get_metadata_content_type)
#define heif_image_handle_get_metadata_size (::penamo::HeifFunctions().heif_image_handle_get_metadata_size)
#define heif_image_handle_get_number_of_metadata_blocks (::penamo::HeifFunctions().heif_image_handle_get_number_of_metadata_blocks)
#define heif_image_handle_get_raw_color_profile (::penamo::HeifFunctions().heif_image_handle_get_raw_color_profile)
#define heif_image_handle_get_raw_color_profile_size (::penamo::HeifFunctions().heif_image_handle_get_raw_color_profile_size)
#define heif_image_handle_get_width (::penamo::HeifFunctions().heif_image_handle_get_width)
#define heif_image_handle_has_alpha_channel (::penamo::HeifFunctions().heif_image_handle_has_alpha_channel)
#define heif_image_handle_release (::penamo::HeifFunctions().heif_image_handle_release)
#define heif_image_is_premultiplied_alpha (::penamo::HeifFunctions().heif_image_is_premultiplied_alpha)
#define heif_image_release (::penamo::HeifFunctions().heif_image_release)
#define heif_init (::penamo::HeifFunctions().heif_init)
// clang-format on
