// libjxl's functions as the JPEG XL reader calls them: through the library loaded on first use
// (CodecLibraries.h). Include instead of <jxl/decode.h>, in .cpp files only.
#pragma once

#include "CodecLibraries.h"

// clang-format off
#define JxlDecoderCloseInput (::penamo::JxlFunctions().JxlDecoderCloseInput)
#define JxlDecoderCreate (::penamo::JxlFunctions().JxlDecoderCreate)
#define JxlDecoderDestroy (::penamo::JxlFunctions().JxlDecoderDestroy)
#define JxlDecoderGetBasicInfo (::penamo::JxlFunctions().JxlDecoderGetBasicInfo)
#define JxlDecoderGetBoxType (::penamo::JxlFunctions().JxlDecoderGetBoxType)
#define JxlDecoderGetColorAsEncodedProfile (::penamo::JxlFunctions().JxlDecoderGetColorAsEncodedProfile)
#define JxlDecoderGetColorAsICCProfile (::penamo::JxlFunctions().JxlDecoderGetColorAsICCProfile)
#define JxlDecoderGetExtraChannelInfo (::penamo::JxlFunctions().JxlDecoderGetExtraChannelInfo)
#define JxlDecoderGetICCProfileSize (::penamo::JxlFunctions().JxlDecoderGetICCProfileSize)
#define JxlDecoderImageOutBufferSize (::penamo::JxlFunctions().JxlDecoderImageOutBufferSize)
#define JxlDecoderProcessInput (::penamo::JxlFunctions().JxlDecoderProcessInput)
#define JxlDecoderReleaseBoxBuffer (::penamo::JxlFunctions().JxlDecoderReleaseBoxBuffer)
#define JxlDecoderSetBoxBuffer (::penamo::JxlFunctions().JxlDecoderSetBoxBuffer)
#define JxlDecoderSetDecompressBoxes (::penamo::JxlFunctions().JxlDecoderSetDecompressBoxes)
#define JxlDecoderSetImageOutBuffer (::penamo::JxlFunctions().JxlDecoderSetImageOutBuffer)
#define JxlDecoderSetInput (::penamo::JxlFunctions().JxlDecoderSetInput)
#define JxlDecoderSetKeepOrientation (::penamo::JxlFunctions().JxlDecoderSetKeepOrientation)
#define JxlDecoderSetParallelRunner (::penamo::JxlFunctions().JxlDecoderSetParallelRunner)
#define JxlDecoderSetPreferredColorProfile (::penamo::JxlFunctions().JxlDecoderSetPreferredColorProfile)
#define JxlDecoderSetUnpremultiplyAlpha (::penamo::JxlFunctions().JxlDecoderSetUnpremultiplyAlpha)
#define JxlDecoderSubscribeEvents (::penamo::JxlFunctions().JxlDecoderSubscribeEvents)
#define JxlSignatureCheck (::penamo::JxlFunctions().JxlSignatureCheck)
#define JxlThreadParallelRunner (::penamo::JxlFunctions().JxlThreadParallelRunner)
#define JxlThreadParallelRunnerCreate (::penamo::JxlFunctions().JxlThreadParallelRunnerCreate)
#define JxlThreadParallelRunnerDestroy (::penamo::JxlFunctions().JxlThreadParallelRunnerDestroy)
// clang-format on
